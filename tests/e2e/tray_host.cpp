// A notification-area host for the end-to-end tests: owns the
// StatusNotifierWatcher name on the session bus, waits for an item to
// register, then checks it as a desktop's tray would show it and clicks a
// menu item.
//   tray_host <title> <icon colour 0xRRGGBB> <layout> <label to click> [serve]
// layout: the menu's entries in order, ';' between them: a label, "-" for a
// separator, a label with "[x]" for a checked toggle, "[ ]" for an unchecked
// one, "[grey]" for a disabled entry. The title is also the ToolTip's. Exit
// 0 when all matches and the click was sent; 1 with a message otherwise; 2
// after 20 s without an item. With "serve" the host then stays, reading
// clicks on the icon from standard input, one a line: "activate" (a left
// click), "context" (a right click), "secondary" (a middle click); it
// answers "done <click>" on standard output and ends at "quit" or the end
// of its input.
#include <gio/gio.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* kWatcherXml =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "<signal name='StatusNotifierHostRegistered'/>"
    "</interface></node>";

GMainLoop* g_loop = nullptr;
std::string g_item_name, g_item_path;

void method_call(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                 GVariant* params, GDBusMethodInvocation* inv, gpointer) {
  if (std::strcmp(method, "RegisterStatusNotifierItem") == 0) {
    const gchar* service = nullptr;
    g_variant_get(params, "(&s)", &service);
    if (service[0] == '/') {
      g_item_name = sender;
      g_item_path = service;
    } else {
      g_item_name = service;
      g_item_path = "/StatusNotifierItem";
    }
    g_main_loop_quit(g_loop);
  }
  g_dbus_method_invocation_return_value(inv, nullptr);
}

GVariant* get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                       gpointer) {
  if (std::strcmp(name, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
  if (std::strcmp(name, "ProtocolVersion") == 0) return g_variant_new_int32(0);
  const gchar* none[] = {nullptr};
  return g_variant_new_strv(none, 0);
}

const GDBusInterfaceVTable kVtable = {method_call, get_property, nullptr, {}};

void on_bus(GDBusConnection* c, const gchar*, gpointer) {
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
  g_dbus_connection_register_object(c, "/StatusNotifierWatcher", info->interfaces[0], &kVtable, nullptr, nullptr,
                                    nullptr);
  g_dbus_node_info_unref(info);
}

gboolean on_timeout(gpointer) {
  g_main_loop_quit(g_loop);
  return G_SOURCE_REMOVE;
}

GVariant* item_property(GDBusConnection* c, const char* name) {
  GVariant* r = g_dbus_connection_call_sync(c, g_item_name.c_str(), g_item_path.c_str(),
                                            "org.freedesktop.DBus.Properties", "Get",
                                            g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), nullptr,
                                            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!r) return nullptr;
  GVariant* v = nullptr;
  g_variant_get(r, "(v)", &v);
  g_variant_unref(r);
  return v;
}

std::string strip_mnemonic(const char* label) {
  std::string out;
  for (const char* p = label; *p; ++p) {
    if (*p == '_' && p[1] == '_') {
      out += '_';
      ++p;
    } else if (*p != '_') {
      out += *p;
    }
  }
  return out;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "tray_host: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && !(argc == 6 && std::strcmp(argv[5], "serve") == 0))
    return fail("usage: tray_host <title> <colour> <layout> <label> [serve]");
  const std::string want_title = argv[1];
  const unsigned long want_colour = std::strtoul(argv[2], nullptr, 16);
  const std::string want_layout = argv[3], click = argv[4];
  g_loop = g_main_loop_new(nullptr, FALSE);
  g_bus_own_name(G_BUS_TYPE_SESSION, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE, on_bus, nullptr,
                 nullptr, nullptr, nullptr);
  g_timeout_add_seconds(20, on_timeout, nullptr);
  g_main_loop_run(g_loop);
  if (g_item_name.empty()) return 2;
  GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  // The host reads the item as the engine left it last: give it a moment to
  // finish its changes.
  g_usleep(500 * 1000);

  GVariant* title = item_property(c, "Title");
  if (!title) return fail("no Title");
  if (want_title != g_variant_get_string(title, nullptr))
    return fail(std::string("Title is '") + g_variant_get_string(title, nullptr) + "'");
  GVariant* tooltip = item_property(c, "ToolTip");
  if (!tooltip) return fail("no ToolTip");
  const gchar* tip_title = nullptr;
  g_variant_get(tooltip, "(&s@a(iiay)&s&s)", nullptr, nullptr, &tip_title, nullptr);
  if (want_title != tip_title) return fail(std::string("ToolTip title is '") + tip_title + "'");
  GVariant* icon = item_property(c, "IconName");
  GVariant* theme = item_property(c, "IconThemePath");
  if (!icon) return fail("no IconName");
  std::string file = g_variant_get_string(icon, nullptr);
  if (file.empty() || file[0] != '/') {
    file = std::string(theme ? g_variant_get_string(theme, nullptr) : "") + "/" + file + ".png";
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return fail("icon file unreadable: " + file);
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> px(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr)) return fail("icon file undecodable");
  if (image.width != 16 || image.height != 16) return fail("icon is not 16 x 16");
  for (std::size_t i = 0; i < 256; ++i) {
    unsigned long rgb = static_cast<unsigned long>(px[i * 4]) << 16 | px[i * 4 + 1] << 8 | px[i * 4 + 2];
    if (rgb != want_colour) {
      char m[96];
      std::snprintf(m, sizeof m, "icon pixel %zu is %06lx, not %06lx", i, rgb, want_colour);
      return fail(m);
    }
  }

  GVariant* menu_path = item_property(c, "Menu");
  if (!menu_path) return fail("no Menu");
  const std::string path = g_variant_get_string(menu_path, nullptr);
  GVariant* layout = g_dbus_connection_call_sync(c, g_item_name.c_str(), path.c_str(), "com.canonical.dbusmenu",
                                                 "GetLayout", g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)),
                                                 nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!layout) return fail("GetLayout failed");
  guint revision = 0;
  GVariant* root = nullptr;
  g_variant_get(layout, "(u@(ia{sv}av))", &revision, &root);
  gint32 root_id = 0;
  GVariant* props = nullptr;
  GVariant* children = nullptr;
  g_variant_get(root, "(i@a{sv}@av)", &root_id, &props, &children);
  std::string seen;
  gint32 click_id = -1;
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    gint32 id = 0;
    GVariant* cp = nullptr;
    GVariant* cc = nullptr;
    g_variant_get(child, "(i@a{sv}@av)", &id, &cp, &cc);
    GVariantDict d;
    g_variant_dict_init(&d, cp);
    const gchar* type = nullptr;
    const gchar* label = nullptr;
    const gchar* toggle = nullptr;
    gint32 state = 0;
    gboolean enabled = TRUE, visible = TRUE;
    g_variant_dict_lookup(&d, "type", "&s", &type);
    g_variant_dict_lookup(&d, "label", "&s", &label);
    g_variant_dict_lookup(&d, "toggle-type", "&s", &toggle);
    g_variant_dict_lookup(&d, "toggle-state", "i", &state);
    g_variant_dict_lookup(&d, "enabled", "b", &enabled);
    g_variant_dict_lookup(&d, "visible", "b", &visible);
    if (!visible) continue;
    std::string entry;
    if (type && std::strcmp(type, "separator") == 0) {
      entry = "-";
    } else {
      entry = strip_mnemonic(label ? label : "");
      if (entry == click) click_id = id;
      if (toggle && std::strcmp(toggle, "checkmark") == 0) entry += state ? "[x]" : "[ ]";
      if (!enabled) entry += "[grey]";
    }
    seen += (seen.empty() ? "" : ";") + entry;
  }
  if (seen != want_layout) return fail("menu layout is '" + seen + "', not '" + want_layout + "'");
  if (click_id < 0) return fail("no entry '" + click + "'");
  GVariant* r = g_dbus_connection_call_sync(
      c, g_item_name.c_str(), path.c_str(), "com.canonical.dbusmenu", "Event",
      g_variant_new("(isvu)", click_id, "clicked", g_variant_new_int32(0), 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
      nullptr, nullptr);
  if (!r) return fail("Event failed");
  std::printf("tray_host: item %s%s checked, '%s' clicked\n", g_item_name.c_str(), g_item_path.c_str(), click.c_str());
  std::fflush(stdout);
  if (argc == 5) return 0;
  char line[64];
  while (std::fgets(line, sizeof line, stdin)) {
    line[std::strcspn(line, "\r\n")] = 0;
    const char* method = std::strcmp(line, "activate") == 0    ? "Activate"
                         : std::strcmp(line, "context") == 0   ? "ContextMenu"
                         : std::strcmp(line, "secondary") == 0 ? "SecondaryActivate"
                                                               : nullptr;
    if (std::strcmp(line, "quit") == 0) break;
    if (!method) return fail(std::string("unknown click '") + line + "'");
    GVariant* a = g_dbus_connection_call_sync(c, g_item_name.c_str(), g_item_path.c_str(), "org.kde.StatusNotifierItem",
                                              method, g_variant_new("(ii)", 0, 0), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                              5000, nullptr, nullptr);
    if (!a) return fail(std::string(method) + " failed");
    g_variant_unref(a);
    std::printf("done %s\n", line);
    std::fflush(stdout);
  }
  return 0;
}
