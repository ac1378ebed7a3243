// Menus on GTK 3. The menus are kept as a model (items with their
// submenus); the widgets are built from it when a bar is put on a window
// (a GtkMenuBar packed above the client area) or a popup is opened (a
// GtkMenu at a point of the window, in a nested main loop). A change to a
// menu whose tree is shown as a bar rebuilds that bar.
#include <gtk/gtk.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/gtk/ui_gtk_access.h"
#include "platform/menus.h"
#include "platform/platform.h"

namespace {

struct MenuModel {
  int popup = 0;
  UiMenu parent = 0;
  UiWindow window = kNoWindow;  // shown as this window's bar
  std::vector<FakeMenuItem> items;
};

struct BarWidgets {
  GtkWidget* box = nullptr;  // holds the bar above the client area
  GtkWidget* bar = nullptr;
  UiMenu menu = 0;
};

std::recursive_mutex g_mutex;
std::map<UiMenu, MenuModel> g_menus;
std::map<UiWindow, BarWidgets> g_bars;
UiMenu g_next = 1;

// The choice of the popup being tracked.
std::uint32_t* g_popup_choice = nullptr;

// "&File" becomes "_File", "&&" a plain '&' and '_' stays itself.
std::string gtk_label(const char* sjis) {
  std::string utf8;
  if (sjis_to_utf8(sjis ? sjis : "", &utf8) != 0 || !g_utf8_validate(utf8.c_str(), -1, nullptr)) {
    gchar* v = g_utf8_make_valid(sjis ? sjis : "", -1);
    utf8 = v;
    g_free(v);
  }
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    char c = utf8[i];
    if (c == '&') {
      if (i + 1 < utf8.size() && utf8[i + 1] == '&') {
        out += '&';
        ++i;
      } else {
        out += '_';
      }
    } else if (c == '_') {
      out += "__";
    } else {
      out += c;
    }
  }
  return out;
}

UiMenu root_of(UiMenu m) {
  for (int guard = 0; guard < 1024; ++guard) {
    auto it = g_menus.find(m);
    if (it == g_menus.end() || !it->second.parent) return m;
    m = it->second.parent;
  }
  return m;
}

struct ActivateData {
  UiWindow window;  // bar items post to it; 0 for a popup's items
  std::uint32_t id;
};

void on_item_activate(GtkMenuItem* item, gpointer p);

// A check item toggles itself when chosen; a menu item here shows only what
// the program gave it, so the mark is put back to the model's (blocking the
// handlers, since setting the mark activates the item again).
void on_check_activate(GtkMenuItem* item, gpointer checked) {
  GtkCheckMenuItem* c = GTK_CHECK_MENU_ITEM(item);
  gboolean want = GPOINTER_TO_INT(checked) ? TRUE : FALSE;
  if (gtk_check_menu_item_get_active(c) == want) return;
  g_signal_handlers_block_matched(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, reinterpret_cast<gpointer>(on_item_activate),
                                  nullptr);
  g_signal_handlers_block_matched(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                  reinterpret_cast<gpointer>(on_check_activate), nullptr);
  gtk_check_menu_item_set_active(c, want);
  g_signal_handlers_unblock_matched(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                    reinterpret_cast<gpointer>(on_check_activate), nullptr);
  g_signal_handlers_unblock_matched(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                    reinterpret_cast<gpointer>(on_item_activate), nullptr);
}

void on_item_activate(GtkMenuItem*, gpointer p) {
  auto* d = static_cast<ActivateData*>(p);
  if (d->window != kNoWindow) {
    kGtkUi.post_message(d->window, ui::kWmCommand, d->id, 0);
  } else if (g_popup_choice) {
    *g_popup_choice = d->id;
  }
}

void free_activate_data(gpointer p, GClosure*) { delete static_cast<ActivateData*>(p); }

// Fills shell from the model of menu; items of a bar post to window.
void fill_shell(GtkWidget* shell, UiMenu menu, UiWindow window, int depth) {
  auto it = g_menus.find(menu);
  if (it == g_menus.end() || depth > 256) return;
  for (const FakeMenuItem& m : it->second.items) {
    GtkWidget* item;
    if (m.separator) {
      item = gtk_separator_menu_item_new();
    } else {
      std::string label = gtk_label(m.caption.c_str());
      if (m.checked) {
        item = gtk_check_menu_item_new_with_mnemonic(label.c_str());
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
        g_signal_connect(item, "activate", G_CALLBACK(on_check_activate), GINT_TO_POINTER(1));
      } else {
        item = gtk_menu_item_new_with_mnemonic(label.c_str());
      }
      if (m.grayed) gtk_widget_set_sensitive(item, FALSE);
      g_object_set_data(G_OBJECT(item), "kl-menu-id", GUINT_TO_POINTER(m.id));
      if (m.submenu && g_menus.count(m.submenu)) {
        GtkWidget* sub = gtk_menu_new();
        fill_shell(sub, m.submenu, window, depth + 1);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
      } else {
        g_signal_connect_data(item, "activate", G_CALLBACK(on_item_activate), new ActivateData{window, m.id},
                              free_activate_data, static_cast<GConnectFlags>(0));
      }
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
  }
}

int bar_height(GtkWidget* bar) {
  int min = 0, nat = 0;
  gtk_widget_get_preferred_height(bar, &min, &nat);
  return nat;
}

// Puts the bar widgets of window's menu in place (or takes them away).
void rebuild_bar(UiWindow window) {
  GtkWidget* top = gtk_ui_toplevel(window);
  GtkWidget* area = gtk_ui_client_area(window);
  if (!top || !area) return;
  BarWidgets& b = g_bars[window];
  int old_h = b.bar ? gtk_widget_get_allocated_height(b.bar) : 0;
  int cw = gtk_widget_get_allocated_width(area), ch = gtk_widget_get_allocated_height(area);
  if (b.bar) {
    gtk_widget_destroy(b.bar);
    b.bar = nullptr;
  }
  if (!b.box && b.menu) {
    // What fills the window (the overlay around the client area) goes below
    // the bar.
    GtkWidget* content = gtk_bin_get_child(GTK_BIN(top));
    if (!content) return;
    g_object_ref(content);
    gtk_container_remove(GTK_CONTAINER(top), content);
    b.box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_end(GTK_BOX(b.box), content, TRUE, TRUE, 0);
    g_object_unref(content);
    gtk_container_add(GTK_CONTAINER(top), b.box);
    gtk_widget_show(b.box);
  }
  int new_h = 0;
  if (b.menu) {
    b.bar = gtk_menu_bar_new();
    fill_shell(b.bar, b.menu, window, 0);
    gtk_box_pack_start(GTK_BOX(b.box), b.bar, FALSE, FALSE, 0);
    gtk_widget_show_all(b.bar);
    new_h = bar_height(b.bar);
  }
  // The client area keeps its size: the window grows or shrinks by the bar
  // (a client area that asks for its size itself keeps it without help).
  int asked_w = 0, asked_h = 0;
  gtk_widget_get_size_request(area, &asked_w, &asked_h);
  const bool area_holds_size = asked_w > 1 && asked_h > 1;
  if (cw > 1 && ch > 1 && gtk_window_get_resizable(GTK_WINDOW(top)) && !area_holds_size && new_h != old_h) {
    int w = 0, h = 0;
    gtk_window_get_size(GTK_WINDOW(top), &w, &h);
    gtk_window_resize(GTK_WINDOW(top), w, h - old_h + new_h);
  }
  if (!b.menu && !b.box) g_bars.erase(window);
}

void rebuild_bar_of(UiMenu menu) {
  UiMenu root = root_of(menu);
  auto it = g_menus.find(root);
  if (it != g_menus.end() && it->second.window != kNoWindow) rebuild_bar(it->second.window);
}

UiMenu gm_create(int popup) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  UiMenu h = g_next++;
  g_menus[h].popup = popup ? 1 : 0;
  return h;
}

void destroy_model(UiMenu menu, std::vector<UiWindow>* bars) {
  auto it = g_menus.find(menu);
  if (it == g_menus.end()) return;
  std::vector<UiMenu> subs;
  for (const FakeMenuItem& i : it->second.items)
    if (i.submenu) subs.push_back(i.submenu);
  if (it->second.window != kNoWindow) bars->push_back(it->second.window);
  g_menus.erase(it);
  for (UiMenu s : subs) destroy_model(s, bars);
}

void gm_destroy(UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  if (it == g_menus.end()) return;
  UiMenu parent = it->second.parent;
  std::vector<UiWindow> bars;
  destroy_model(menu, &bars);
  // A submenu destroyed on its own leaves its item without one.
  auto p = g_menus.find(parent);
  if (p != g_menus.end())
    for (FakeMenuItem& i : p->second.items)
      if (i.submenu == menu) i.submenu = 0;
  for (UiWindow w : bars) {
    auto b = g_bars.find(w);
    if (b == g_bars.end()) continue;
    b->second.menu = 0;
    if (gtk_ui_on_gui_thread()) rebuild_bar(w);
  }
  if (parent) rebuild_bar_of(parent);
}

int gm_is_menu(UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  return g_menus.count(menu) ? 1 : 0;
}

int gm_insert(UiMenu menu, int position, const UiMenuItem* item) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  if (it == g_menus.end() || !item) return -1;
  UiMenu sub = item->separator ? 0 : item->submenu;
  if (sub) {
    auto s = g_menus.find(sub);
    if (s == g_menus.end() || s->second.parent || sub == menu || root_of(menu) == sub) return -1;
    s->second.parent = menu;
  }
  FakeMenuItem m{item->separator ? std::string() : std::string(item->caption ? item->caption : ""),
                 item->separator ? 1 : 0, item->grayed ? 1 : 0, item->checked ? 1 : 0, item->id, sub};
  auto& items = it->second.items;
  std::size_t pos = position < 0 || static_cast<std::size_t>(position) > items.size()
                        ? items.size()
                        : static_cast<std::size_t>(position);
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(pos), m);
  if (gtk_ui_on_gui_thread()) rebuild_bar_of(menu);
  return 0;
}

UiMenu gm_submenu_of(UiMenu menu, int position) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  if (it == g_menus.end() || position < 0 || static_cast<std::size_t>(position) >= it->second.items.size())
    return 0;
  return it->second.items[static_cast<std::size_t>(position)].submenu;
}

int gm_set_window_menu(UiWindow window, UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (!gtk_ui_toplevel(window) || !gtk_ui_on_gui_thread()) return -1;
  if (menu && !g_menus.count(menu)) return -1;
  auto b = g_bars.find(window);
  if (b != g_bars.end()) {
    auto old = g_menus.find(b->second.menu);
    if (old != g_menus.end()) old->second.window = kNoWindow;
  }
  if (menu) {
    auto m = g_menus.find(menu);
    if (m->second.window != kNoWindow && m->second.window != window) {
      g_bars[m->second.window].menu = 0;
      rebuild_bar(m->second.window);
    }
    m->second.window = window;
  }
  if (!menu && b == g_bars.end()) return 0;
  g_bars[window].menu = menu;
  rebuild_bar(window);
  return 0;
}

std::uint32_t gm_track_popup(UiMenu menu, UiWindow window, int x, int y) {
  std::uint32_t chosen = 0;
  gtk_ui_run_on_gui_thread([&] {
    GtkWidget* area = gtk_ui_client_area(window);
    GtkWidget* popup;
    {
      std::lock_guard<std::recursive_mutex> lock(g_mutex);
      if (!g_menus.count(menu) || !area || !gtk_widget_get_window(area) || g_popup_choice) return;
      popup = gtk_menu_new();
      fill_shell(popup, menu, kNoWindow, 0);
    }
    gtk_widget_show_all(popup);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect_swapped(popup, "deactivate", G_CALLBACK(g_main_loop_quit), loop);
    g_popup_choice = &chosen;
    GdkRectangle rect{x, y, 1, 1};
    // A menu opened while the button that asked for it is still held gets
    // that press as its trigger: the button's release, soon after, then ends
    // the click instead of closing the menu (without it the menu takes the
    // release for a click outside itself).
    GdkEvent* trigger = gtk_ui_held_press(window);
    gtk_menu_popup_at_rect(GTK_MENU(popup), gtk_widget_get_window(area), &rect, GDK_GRAVITY_NORTH_WEST,
                           GDK_GRAVITY_NORTH_WEST, trigger);
    if (trigger) gdk_event_free(trigger);
    if (gtk_widget_get_visible(popup)) g_main_loop_run(loop);
    // The chosen item's activate comes right after the menu's deactivate.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_popup_choice = nullptr;
    g_main_loop_unref(loop);
    gtk_widget_destroy(popup);
  });
  return chosen;
}

}  // namespace

GtkWidget* gtk_menus_build(UiMenu menu, UiWindow window) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  GtkWidget* shell = gtk_menu_new();
  fill_shell(shell, menu, window, 0);
  gtk_widget_show_all(shell);
  return shell;
}

namespace {

// "_File" as the program wrote it: "&File" ("__" a plain '_', '&' doubled).
std::string win32_caption(const char* label) {
  std::string out;
  for (const char* c = label ? label : ""; *c; ++c) {
    if (*c == '_' && c[1] == '_') {
      out += '_';
      ++c;
    } else if (*c == '_') {
      out += '&';
    } else if (*c == '&') {
      out += "&&";
    } else {
      out += *c;
    }
  }
  std::string sjis;
  return utf8_to_sjis(out.c_str(), &sjis) == 0 ? sjis : out;
}

void shown_items(GtkWidget* shell, int depth, std::vector<ShownMenuItem>* out) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
  for (GList* l = children; l; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (!GTK_IS_MENU_ITEM(w)) continue;
    ShownMenuItem i;
    i.depth = depth;
    i.separator = GTK_IS_SEPARATOR_MENU_ITEM(w) ? 1 : 0;
    if (!i.separator) i.caption = win32_caption(gtk_menu_item_get_label(GTK_MENU_ITEM(w)));
    i.grayed = gtk_widget_get_sensitive(w) ? 0 : 1;
    i.checked = GTK_IS_CHECK_MENU_ITEM(w) && gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w)) ? 1 : 0;
    out->push_back(i);
    GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(w));
    if (sub) shown_items(sub, depth + 1, out);
  }
  g_list_free(children);
}

GtkWidget* find_item(GtkWidget* shell, std::uint32_t id) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
  GtkWidget* found = nullptr;
  for (GList* l = children; l && !found; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (!GTK_IS_MENU_ITEM(w) || GTK_IS_SEPARATOR_MENU_ITEM(w)) continue;
    GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(w));
    if (sub) found = find_item(sub, id);
    else if (GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(w), "kl-menu-id")) == id) found = w;
  }
  g_list_free(children);
  return found;
}

}  // namespace

bool gtk_menus_items(std::uint32_t menu, std::vector<FakeMenuItem>* items) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  if (it == g_menus.end()) return false;
  *items = it->second.items;
  return true;
}

std::string gtk_menus_label(const char* sjis_caption) { return gtk_label(sjis_caption); }

int gtk_menus_open_mnemonic(UiWindow window, int key) {
  GtkWidget* target = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    auto b = g_bars.find(window);
    if (b == g_bars.end() || !b->second.bar || !gtk_widget_get_mapped(b->second.bar)) return 0;
    GList* children = gtk_container_get_children(GTK_CONTAINER(b->second.bar));
    for (GList* l = children; l && !target; l = l->next) {
      GtkWidget* item = GTK_WIDGET(l->data);
      GtkWidget* label = GTK_IS_BIN(item) ? gtk_bin_get_child(GTK_BIN(item)) : nullptr;
      if (!label || !GTK_IS_LABEL(label) || !gtk_widget_is_sensitive(item)) continue;
      guint kv = gtk_label_get_mnemonic_keyval(GTK_LABEL(label));
      if (kv != GDK_KEY_VoidSymbol && gdk_keyval_to_lower(kv) == static_cast<guint>(key)) target = item;
    }
    g_list_free(children);
  }
  if (!target) return 0;
  gtk_widget_mnemonic_activate(target, FALSE);
  return 1;
}

std::vector<ShownMenuItem> gtk_menu_shown(UiWindow window) {
  std::vector<ShownMenuItem> out;
  gtk_ui_run_on_gui_thread([&] {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    auto b = g_bars.find(window);
    if (b != g_bars.end() && b->second.bar) shown_items(b->second.bar, 0, &out);
  });
  return out;
}

int gtk_menu_choose(UiWindow window, std::uint32_t id) {
  int r = -1;
  gtk_ui_run_on_gui_thread([&] {
    GtkWidget* item = nullptr;
    {
      std::lock_guard<std::recursive_mutex> lock(g_mutex);
      auto b = g_bars.find(window);
      if (b != g_bars.end() && b->second.bar) item = find_item(b->second.bar, id);
    }
    if (!item) return;
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    r = 0;
  });
  return r;
}

const PlatformMenus kGtkMenus = {gm_create,     gm_destroy,         gm_is_menu,    gm_insert,
                                 gm_submenu_of, gm_set_window_menu, gm_track_popup};
