// The notification-area icon. While a StatusNotifierWatcher is on the
// session bus the icon is our own StatusNotifierItem: the interface
// org.kde.StatusNotifierItem at /StatusNotifierItem under the name
// "org.kde.StatusNotifierItem-<pid>-1", its menu as com.canonical.dbusmenu at
// /MenuBar (libdbusmenu-glib). The host's Activate (left click),
// ContextMenu (right click) and SecondaryActivate (middle click) reach the
// window as the icon's callback message. The icon is also written as a PNG
// file under $XDG_RUNTIME_DIR (a new name for each change, since hosts cache
// icons by name) and given as IconPixmap; the tip is the Title and the
// ToolTip. Without a watcher (no session bus, or none running) a
// GtkStatusIcon in the desktop's XEmbed tray stands in, with "activate" and
// "popup-menu" as its clicks; a watcher that comes or goes later moves the
// icon between the two.
#include <gtk/gtk.h>
#include <libdbusmenu-glib/menuitem.h>
#include <libdbusmenu-glib/server.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/gtk/ui_gtk_access.h"
#include "platform/tray.h"

namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";

const char* const kItemXml =
    "<node><interface name='org.kde.StatusNotifierItem'>"
    "<property name='Category' type='s' access='read'/>"
    "<property name='Id' type='s' access='read'/>"
    "<property name='Title' type='s' access='read'/>"
    "<property name='Status' type='s' access='read'/>"
    "<property name='WindowId' type='i' access='read'/>"
    "<property name='IconName' type='s' access='read'/>"
    "<property name='IconThemePath' type='s' access='read'/>"
    "<property name='IconPixmap' type='a(iiay)' access='read'/>"
    "<property name='OverlayIconName' type='s' access='read'/>"
    "<property name='AttentionIconName' type='s' access='read'/>"
    "<property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "<property name='ItemIsMenu' type='b' access='read'/>"
    "<property name='Menu' type='o' access='read'/>"
    "<method name='ContextMenu'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "<method name='Activate'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "<method name='SecondaryActivate'><arg name='x' type='i' direction='in'/>"
    "<arg name='y' type='i' direction='in'/></method>"
    "<method name='Scroll'><arg name='delta' type='i' direction='in'/>"
    "<arg name='orientation' type='s' direction='in'/></method>"
    "<signal name='NewTitle'/><signal name='NewIcon'/><signal name='NewAttentionIcon'/>"
    "<signal name='NewOverlayIcon'/><signal name='NewToolTip'/>"
    "<signal name='NewStatus'><arg name='status' type='s'/></signal>"
    "</interface></node>";

struct Tray {
  bool shown = false;
  UiWindow window = kNoWindow;
  std::uint32_t message = 0, id = 0;
  std::string tip;        // UTF-8
  std::string icon_file;  // the icon as a PNG
  std::vector<std::uint32_t> pixels;
  int width = 0, height = 0;
  unsigned serial = 0;
  UiMenu menu = 0;
  // The item on the bus.
  GDBusConnection* bus = nullptr;
  guint object_id = 0, name_id = 0, watch_id = 0;
  std::string bus_name;
  bool name_owned = false, watcher_present = false, registered = false;
  DbusmenuServer* menu_server = nullptr;
  // The XEmbed stand-in.
  GtkStatusIcon* fallback = nullptr;
};
Tray g_tray;

std::string runtime_folder() {
  const char* r = std::getenv("XDG_RUNTIME_DIR");
  if (r && *r) return r;
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

// The program's own icon: a 16 x 16 ring, drawn rather than loaded.
std::vector<std::uint32_t> program_icon() {
  std::vector<std::uint32_t> px(256, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      int dx = 2 * x - 15, dy = 2 * y - 15, d = dx * dx + dy * dy;
      if (d <= 225) px[y * 16 + x] = d >= 100 ? 0xFF2060C0u : 0xFFF0F0F0u;
    }
  return px;
}

// B, G, R, A pixels as R, G, B, A bytes (straight alpha).
std::vector<std::uint8_t> rgba_of(const std::vector<std::uint32_t>& pixels) {
  std::vector<std::uint8_t> rgba(pixels.size() * 4);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    std::uint32_t p = pixels[i];
    rgba[i * 4 + 0] = static_cast<std::uint8_t>(p >> 16);
    rgba[i * 4 + 1] = static_cast<std::uint8_t>(p >> 8);
    rgba[i * 4 + 2] = static_cast<std::uint8_t>(p);
    rgba[i * 4 + 3] = static_cast<std::uint8_t>(p >> 24);
  }
  return rgba;
}

bool write_png(const std::string& path, const std::vector<std::uint32_t>& pixels, int width, int height) {
  std::vector<std::uint8_t> rgba = rgba_of(pixels);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  int ok = png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr);
  png_image_free(&image);
  return ok != 0;
}

void post_click(std::uint32_t what) {
  if (g_tray.shown && g_tray.window != kNoWindow) kGtkUi.post_message(g_tray.window, g_tray.message, g_tray.id, what);
}

// ---- the XEmbed stand-in ----

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

void on_fallback_activate(GtkStatusIcon*, gpointer) { post_click(ui::kWmLButtonDown); }
void on_fallback_popup(GtkStatusIcon*, guint, guint, gpointer) { post_click(ui::kWmRButtonUp); }

void update_fallback() {
  if (!g_tray.fallback) {
    g_tray.fallback = gtk_status_icon_new();
    gtk_status_icon_set_name(g_tray.fallback, "k_lumbrane");
    gtk_status_icon_set_title(g_tray.fallback, "k_lumbrane");
    g_signal_connect(g_tray.fallback, "activate", G_CALLBACK(on_fallback_activate), nullptr);
    g_signal_connect(g_tray.fallback, "popup-menu", G_CALLBACK(on_fallback_popup), nullptr);
  }
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, g_tray.width, g_tray.height);
  if (pb) {
    std::vector<std::uint8_t> rgba = rgba_of(g_tray.pixels);
    guchar* dst = gdk_pixbuf_get_pixels(pb);
    int stride = gdk_pixbuf_get_rowstride(pb);
    for (int y = 0; y < g_tray.height; ++y)
      std::memcpy(dst + static_cast<std::size_t>(y) * stride, rgba.data() + static_cast<std::size_t>(y) * g_tray.width * 4,
                  static_cast<std::size_t>(g_tray.width) * 4);
    gtk_status_icon_set_from_pixbuf(g_tray.fallback, pb);
    g_object_unref(pb);
  }
  gtk_status_icon_set_tooltip_text(g_tray.fallback, g_tray.tip.c_str());
  gtk_status_icon_set_visible(g_tray.fallback, TRUE);
}

void hide_fallback() {
  if (g_tray.fallback) gtk_status_icon_set_visible(g_tray.fallback, FALSE);
}

void destroy_fallback() {
  if (!g_tray.fallback) return;
  gtk_status_icon_set_visible(g_tray.fallback, FALSE);
  g_object_unref(g_tray.fallback);
  g_tray.fallback = nullptr;
}

G_GNUC_END_IGNORE_DEPRECATIONS

// ---- the item on the bus ----

GVariant* pixmaps() {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a(iiay)"));
  std::vector<std::uint8_t> argb(g_tray.pixels.size() * 4);
  for (std::size_t i = 0; i < g_tray.pixels.size(); ++i) {
    std::uint32_t p = g_tray.pixels[i];  // network byte order A, R, G, B
    argb[i * 4 + 0] = static_cast<std::uint8_t>(p >> 24);
    argb[i * 4 + 1] = static_cast<std::uint8_t>(p >> 16);
    argb[i * 4 + 2] = static_cast<std::uint8_t>(p >> 8);
    argb[i * 4 + 3] = static_cast<std::uint8_t>(p);
  }
  GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb.data(), argb.size(), 1);
  g_variant_builder_add(&b, "(ii@ay)", g_tray.width, g_tray.height, bytes);
  return g_variant_builder_end(&b);
}

void item_method(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                 GDBusMethodInvocation* inv, gpointer) {
  if (std::strcmp(method, "Activate") == 0) post_click(ui::kWmLButtonDown);
  else if (std::strcmp(method, "ContextMenu") == 0) post_click(ui::kWmRButtonUp);
  else if (std::strcmp(method, "SecondaryActivate") == 0) post_click(ui::kWmMButtonUp);
  g_dbus_method_invocation_return_value(inv, nullptr);
}

GVariant* item_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                        gpointer) {
  if (std::strcmp(name, "Category") == 0) return g_variant_new_string("ApplicationStatus");
  if (std::strcmp(name, "Id") == 0) return g_variant_new_string("k_lumbrane");
  if (std::strcmp(name, "Title") == 0) return g_variant_new_string(g_tray.tip.c_str());
  if (std::strcmp(name, "Status") == 0) return g_variant_new_string("Active");
  if (std::strcmp(name, "WindowId") == 0) return g_variant_new_int32(0);
  if (std::strcmp(name, "IconName") == 0) return g_variant_new_string(g_tray.icon_file.c_str());
  if (std::strcmp(name, "IconPixmap") == 0) return pixmaps();
  if (std::strcmp(name, "ToolTip") == 0)
    return g_variant_new("(s@a(iiay)ss)", "", pixmaps(), g_tray.tip.c_str(), "");
  if (std::strcmp(name, "ItemIsMenu") == 0) return g_variant_new_boolean(FALSE);
  if (std::strcmp(name, "Menu") == 0) return g_variant_new_object_path(kMenuPath);
  return g_variant_new_string("");  // IconThemePath, OverlayIconName, AttentionIconName
}

const GDBusInterfaceVTable kItemVtable = {item_method, item_property, nullptr, {}};

void emit(const char* signal, GVariant* args = nullptr) {
  if (g_tray.bus && g_tray.object_id)
    g_dbus_connection_emit_signal(g_tray.bus, nullptr, kItemPath, kItemInterface, signal, args, nullptr);
}

void on_registered(GObject* source, GAsyncResult* result, gpointer) {
  GVariant* r = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
  if (!r) {
    // The watcher refused the item: the stand-in shows the icon.
    if (g_tray.shown) update_fallback();
    return;
  }
  g_variant_unref(r);
  if (!g_tray.shown || !g_tray.watcher_present) return;
  g_tray.registered = true;
  hide_fallback();
}

void try_register() {
  if (!g_tray.shown || !g_tray.bus || !g_tray.name_owned || !g_tray.watcher_present || g_tray.registered) return;
  g_dbus_connection_call(g_tray.bus, kWatcherName, "/StatusNotifierWatcher", kWatcherName,
                         "RegisterStatusNotifierItem", g_variant_new("(s)", g_tray.bus_name.c_str()), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, on_registered, nullptr);
}

void on_name_acquired(GDBusConnection*, const gchar*, gpointer) {
  g_tray.name_owned = true;
  try_register();
}

void on_name_lost(GDBusConnection*, const gchar*, gpointer) {
  g_tray.name_owned = false;
  g_tray.registered = false;
  if (g_tray.shown) update_fallback();
}

void on_watcher_appeared(GDBusConnection*, const gchar*, const gchar*, gpointer) {
  g_tray.watcher_present = true;
  g_tray.registered = false;
  try_register();
}

void on_watcher_vanished(GDBusConnection*, const gchar*, gpointer) {
  g_tray.watcher_present = false;
  g_tray.registered = false;
  if (g_tray.shown) update_fallback();
}

void on_menu_item(DbusmenuMenuitem*, guint, gpointer id) {
  if (g_tray.shown && g_tray.window != kNoWindow)
    kGtkUi.post_message(g_tray.window, ui::kWmCommand, GPOINTER_TO_UINT(id), 0);
}

// The entries of menu under parent, as the menu service holds them.
void fill_menu(DbusmenuMenuitem* parent, UiMenu menu, int depth) {
  std::vector<FakeMenuItem> items;
  if (depth > 64 || !gtk_menus_items(menu, &items)) return;
  for (const FakeMenuItem& m : items) {
    DbusmenuMenuitem* e = dbusmenu_menuitem_new();
    if (m.separator) {
      dbusmenu_menuitem_property_set(e, DBUSMENU_MENUITEM_PROP_TYPE, "separator");
    } else {
      dbusmenu_menuitem_property_set(e, DBUSMENU_MENUITEM_PROP_LABEL, gtk_menus_label(m.caption.c_str()).c_str());
      if (m.grayed) dbusmenu_menuitem_property_set_bool(e, DBUSMENU_MENUITEM_PROP_ENABLED, FALSE);
      if (m.checked) {
        dbusmenu_menuitem_property_set(e, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE, DBUSMENU_MENUITEM_TOGGLE_CHECK);
        dbusmenu_menuitem_property_set_int(e, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                           DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED);
      }
      if (m.submenu) {
        dbusmenu_menuitem_property_set(e, DBUSMENU_MENUITEM_PROP_CHILD_DISPLAY, DBUSMENU_MENUITEM_CHILD_DISPLAY_SUBMENU);
        fill_menu(e, m.submenu, depth + 1);
      } else {
        g_signal_connect(e, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(on_menu_item), GUINT_TO_POINTER(m.id));
      }
    }
    dbusmenu_menuitem_child_append(parent, e);
    g_object_unref(e);
  }
}

void update_menu() {
  if (!g_tray.menu_server) return;
  DbusmenuMenuitem* root = dbusmenu_menuitem_new();
  dbusmenu_menuitem_property_set(root, DBUSMENU_MENUITEM_PROP_CHILD_DISPLAY, DBUSMENU_MENUITEM_CHILD_DISPLAY_SUBMENU);
  if (g_tray.menu) fill_menu(root, g_tray.menu, 0);
  dbusmenu_server_set_root(g_tray.menu_server, root);
  g_object_unref(root);
}

// Puts the item on the bus once; false when there is no session bus.
bool export_item() {
  if (g_tray.object_id) return true;
  if (!g_tray.bus) g_tray.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!g_tray.bus) return false;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kItemXml, nullptr);
  if (!info) return false;
  g_tray.object_id = g_dbus_connection_register_object(g_tray.bus, kItemPath, info->interfaces[0], &kItemVtable,
                                                       nullptr, nullptr, nullptr);
  g_dbus_node_info_unref(info);
  if (!g_tray.object_id) return false;
  g_tray.menu_server = dbusmenu_server_new(kMenuPath);
  g_tray.bus_name = "org.kde.StatusNotifierItem-" + std::to_string(static_cast<long>(getpid())) + "-1";
  g_tray.name_id = g_bus_own_name_on_connection(g_tray.bus, g_tray.bus_name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                                on_name_acquired, on_name_lost, nullptr, nullptr);
  g_tray.watch_id = g_bus_watch_name_on_connection(g_tray.bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                   on_watcher_appeared, on_watcher_vanished, nullptr, nullptr);
  return true;
}

void unexport_item() {
  if (g_tray.watch_id) g_bus_unwatch_name(g_tray.watch_id);
  if (g_tray.name_id) g_bus_unown_name(g_tray.name_id);
  if (g_tray.object_id) g_dbus_connection_unregister_object(g_tray.bus, g_tray.object_id);
  if (g_tray.menu_server) g_object_unref(g_tray.menu_server);
  if (g_tray.bus) g_object_unref(g_tray.bus);
  g_tray.watch_id = g_tray.name_id = g_tray.object_id = 0;
  g_tray.menu_server = nullptr;
  g_tray.bus = nullptr;
  g_tray.name_owned = g_tray.watcher_present = g_tray.registered = false;
}

int gt_show(UiWindow window, const std::uint32_t* pixels, int width, int height, const char* sjis_tip,
            UiMenu menu, std::uint32_t callback_message, std::uint32_t icon_id) {
  if (!gtk_ui_toplevel(window) || !gtk_ui_on_gui_thread()) return -1;
  if (pixels && width > 0 && height > 0) {
    g_tray.pixels.assign(pixels, pixels + static_cast<std::size_t>(width) * height);
    g_tray.width = width;
    g_tray.height = height;
  } else {
    g_tray.pixels = program_icon();
    g_tray.width = g_tray.height = 16;
  }
  std::string file = runtime_folder() + "/k_lumbrane-tray-" + std::to_string(static_cast<long>(getpid())) + "-" +
                     std::to_string(++g_tray.serial) + ".png";
  if (!write_png(file, g_tray.pixels, g_tray.width, g_tray.height)) return -1;
  if (!g_tray.icon_file.empty()) std::remove(g_tray.icon_file.c_str());
  g_tray.icon_file = file;
  if (sjis_to_utf8(sjis_tip ? sjis_tip : "", &g_tray.tip) != 0) g_tray.tip.clear();
  g_tray.window = window;
  g_tray.message = callback_message;
  g_tray.id = icon_id;
  g_tray.menu = menu;
  g_tray.shown = true;
  if (export_item()) {
    update_menu();
    emit("NewIcon");
    emit("NewTitle");
    emit("NewToolTip");
    emit("NewStatus", g_variant_new("(s)", "Active"));
    try_register();
    // Until the watcher has taken the item the stand-in keeps the icon
    // where a player can see it; a watch that has answered "none" shows
    // it now.
    if (g_tray.registered) hide_fallback();
    else if (g_tray.fallback) update_fallback();
  } else {
    update_fallback();
  }
  return 0;
}

void gt_remove(UiWindow) {
  if (!g_tray.shown) return;
  g_tray.shown = false;
  unexport_item();
  destroy_fallback();
  if (!g_tray.icon_file.empty()) std::remove(g_tray.icon_file.c_str());
  g_tray.icon_file.clear();
  g_tray.window = kNoWindow;
  g_tray.menu = 0;
}

}  // namespace

const PlatformTray kGtkTray = {gt_show, gt_remove};
