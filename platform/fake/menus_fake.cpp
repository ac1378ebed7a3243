#include <deque>
#include <map>
#include <mutex>

#include "platform/menus.h"
#include "platform/platform.h"

namespace {
struct FakeMenu {
  int popup = 0;
  UiMenu parent = 0;
  UiWindow window = kNoWindow;
  std::vector<FakeMenuItem> items;
};
std::recursive_mutex g_mutex;
std::map<UiMenu, FakeMenu> g_menus;
std::map<UiWindow, UiMenu> g_bars;
std::deque<std::uint32_t> g_choices;
std::vector<FakePopupShown> g_popups;
UiMenu g_next = 1;

UiMenu fake_create(int popup) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  UiMenu h = g_next++;
  g_menus[h].popup = popup ? 1 : 0;
  return h;
}

void destroy_locked(UiMenu menu) {
  auto it = g_menus.find(menu);
  if (it == g_menus.end()) return;
  std::vector<UiMenu> subs;
  for (const FakeMenuItem& i : it->second.items)
    if (i.submenu) subs.push_back(i.submenu);
  if (it->second.window != kNoWindow) g_bars.erase(it->second.window);
  g_menus.erase(it);
  for (UiMenu s : subs) destroy_locked(s);
}

void fake_destroy(UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  destroy_locked(menu);
}

int fake_is_menu(UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  return g_menus.count(menu) ? 1 : 0;
}

int fake_insert(UiMenu menu, int position, const UiMenuItem* item) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  if (it == g_menus.end() || !item) return -1;
  if (item->submenu) {
    auto sub = g_menus.find(item->submenu);
    if (sub == g_menus.end() || sub->second.parent || item->submenu == menu) return -1;
    sub->second.parent = menu;
  }
  FakeMenuItem m{item->separator ? std::string() : std::string(item->caption ? item->caption : ""),
                 item->separator ? 1 : 0, item->grayed ? 1 : 0, item->checked ? 1 : 0, item->id,
                 item->separator ? 0u : item->submenu};
  auto& items = it->second.items;
  std::size_t pos = position < 0 || static_cast<std::size_t>(position) > items.size() ? items.size()
                                                                                       : static_cast<std::size_t>(position);
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(pos), m);
  return 0;
}

UiMenu fake_submenu_of(UiMenu menu, int position) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  if (it == g_menus.end() || position < 0 || static_cast<std::size_t>(position) >= it->second.items.size()) return 0;
  return it->second.items[static_cast<std::size_t>(position)].submenu;
}

int fake_set_window_menu(UiWindow window, UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (!g_platform.ui || !g_platform.ui->is_window(window)) return -1;
  if (menu && !g_menus.count(menu)) return -1;
  auto old = g_bars.find(window);
  if (old != g_bars.end()) {
    auto m = g_menus.find(old->second);
    if (m != g_menus.end()) m->second.window = kNoWindow;
    g_bars.erase(old);
  }
  if (menu) {
    g_bars[window] = menu;
    g_menus[menu].window = window;
  }
  return 0;
}

std::uint32_t fake_track(UiMenu menu, UiWindow window, int x, int y) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (!g_menus.count(menu)) return 0;
  g_popups.push_back(FakePopupShown{menu, window, x, y});
  if (g_choices.empty()) return 0;
  std::uint32_t id = g_choices.front();
  g_choices.pop_front();
  return id;
}
}  // namespace

const PlatformMenus kFakeMenus = {fake_create, fake_destroy, fake_is_menu, fake_insert, fake_submenu_of, fake_set_window_menu,
                                  fake_track};

void fake_menus_reset() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_menus.clear();
  g_bars.clear();
  g_choices.clear();
  g_popups.clear();
}

std::vector<FakeMenuItem> fake_menu_items(UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  return it == g_menus.end() ? std::vector<FakeMenuItem>() : it->second.items;
}

int fake_menu_is_popup(UiMenu menu) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_menus.find(menu);
  return it != g_menus.end() && it->second.popup;
}

UiMenu fake_menu_window_bar(UiWindow window) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_bars.find(window);
  return it == g_bars.end() ? 0 : it->second;
}

int fake_menu_live_count() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  return static_cast<int>(g_menus.size());
}

void fake_menu_push_popup_choice(std::uint32_t id) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_choices.push_back(id);
}

const std::vector<FakePopupShown>& fake_menu_popups() { return g_popups; }

void fake_menu_choose(UiWindow window, std::uint32_t id) {
  if (g_platform.ui) g_platform.ui->post_message(window, ui::kWmCommand, id, 0);
}

namespace {
void shown_of(UiMenu menu, int depth, std::vector<ShownMenuItem>* out) {
  auto it = g_menus.find(menu);
  if (it == g_menus.end() || depth > 256) return;
  for (const FakeMenuItem& m : it->second.items) {
    ShownMenuItem i;
    i.depth = depth;
    i.separator = m.separator;
    if (!m.separator) i.caption = m.caption;
    i.grayed = m.grayed;
    i.checked = m.checked;
    out->push_back(i);
    if (m.submenu) shown_of(m.submenu, depth + 1, out);
  }
}
}  // namespace

std::vector<ShownMenuItem> fake_menu_shown(UiWindow window) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  std::vector<ShownMenuItem> out;
  auto b = g_bars.find(window);
  if (b != g_bars.end()) shown_of(b->second, 0, &out);
  return out;
}
