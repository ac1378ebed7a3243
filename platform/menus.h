// Menus: menu bars and popup menus built item by item, as Win32 builds them.
//
// A menu owns the submenus attached to its items: destroying it destroys
// them too. Handles are small numbers, 0 meaning "no menu"; a handle once
// destroyed stays dead (it is never given out again), so destroying it again
// does nothing. Captions are Shift-JIS.
//
// A choice from a window's menu bar posts WM_COMMAND (wparam the item's id)
// to that window. Threads: GUI thread, except track_popup (below).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui.h"

using UiMenu = std::uint32_t;

struct UiMenuItem {
  const char* caption = "";  // Shift-JIS; ignored for a separator
  int separator = 0;
  int grayed = 0;            // shown but can't be chosen
  int checked = 0;
  std::uint32_t id = 0;      // what a choice reports
  UiMenu submenu = 0;        // opened by the item (owned by the menu after insert)
};

struct PlatformMenus {
  // A new empty menu: a bar (popup 0) or a popup menu. 0 when it can't be made.
  UiMenu (*create_menu)(int popup);
  // Destroys the menu and its submenus; detaches it from a window first.
  void (*destroy_menu)(UiMenu menu);
  // 1 while the handle names a live menu.
  int (*is_menu)(UiMenu menu);
  // Inserts the item before position (count or more: at the end). 0, or -1
  // for a dead menu or submenu, or a submenu that already has a parent.
  int (*insert_item)(UiMenu menu, int position, const UiMenuItem* item);
  // The submenu opened by the item at position, or 0.
  UiMenu (*submenu_of)(UiMenu menu, int position);
  // Shows the bar above the window's client area (0 removes it); the client
  // area keeps its size. 0, or -1 for a dead window or menu.
  int (*set_window_menu)(UiWindow window, UiMenu menu);
  // Opens the menu at client position x, y of the window and waits for the
  // choice: the chosen item's id, or 0 when the menu was closed without one.
  // Any thread: from another thread the GUI thread shows it (as the boxes).
  std::uint32_t (*track_popup)(UiMenu menu, UiWindow window, int x, int y);
};

extern const PlatformMenus kGtkMenus;
extern const PlatformMenus kFakeMenus;

// ---- the fake's model (tests) ----
struct FakeMenuItem {
  std::string caption;
  int separator, grayed, checked;
  std::uint32_t id;
  UiMenu submenu;
};
void fake_menus_reset();
// The items of a live menu (empty for a dead one), and whether it is a popup.
std::vector<FakeMenuItem> fake_menu_items(UiMenu menu);
int fake_menu_is_popup(UiMenu menu);
// The bar shown on the window (0 none).
UiMenu fake_menu_window_bar(UiWindow window);
int fake_menu_live_count();
// The next popup answers this id (0: closed without a choice); the popup's
// menu and position are recorded.
void fake_menu_push_popup_choice(std::uint32_t id);
struct FakePopupShown {
  UiMenu menu;
  UiWindow window;
  int x, y;
};
const std::vector<FakePopupShown>& fake_menu_popups();
// The user choosing an item of the window's bar: posts WM_COMMAND.
void fake_menu_choose(UiWindow window, std::uint32_t id);

// ---- what a window's bar shows, on either backend (tests) ----
// The items depth first: a submenu's items follow its item, one deeper.
// Captions in the program's form ("&File"), Shift-JIS.
struct ShownMenuItem {
  std::string caption;
  int depth = 0, separator = 0, grayed = 0, checked = 0;
  bool operator==(const ShownMenuItem&) const = default;
};
std::vector<ShownMenuItem> fake_menu_shown(UiWindow window);
std::vector<ShownMenuItem> gtk_menu_shown(UiWindow window);
// The player choosing the bar's item of id on GTK, as a click does; -1 when
// the bar has no such item.
int gtk_menu_choose(UiWindow window, std::uint32_t id);
