// Menu sets: the menus built from menu-tree definitions. Set 0 is the main
// window's menu bar; sets 1 and 2 are the popup menu and the
// notification-area menu, each a top popup menu with one item "MENUSET"
// whose submenu holds the definition's items. A set holds up to 128 menus:
// handle 0 the top menu, the others the submenus in the order they were made.
#pragma once
#include "engine/frame/types.h"
#include "platform/menus.h"
#include "platform/ui.h"

struct ObjectNode;

constexpr int kMenuSetCount = 3;
constexpr int kMenuSetBar = 0;
constexpr int kMenuSetPopup = 1;
constexpr int kMenuSetTray = 2;
constexpr int kMenuSetHandles = 128;

struct MenuSets {
  UiMenu handles[kMenuSetCount][kMenuSetHandles];
  i32 level_counter;  // menus made for the set being built
};
extern MenuSets g_menu_sets;

// A popup asked for by the popup command, shown at the end of the frame at
// client position x, y of the main window (set 0: none).
struct PopupRequest {
  u8 set;
  i32 x, y;
};
extern PopupRequest g_popup_request;

// Destroys every menu of the set and clears all its handles.
void destroy_menu_set(int set);
// Fills the menu at handle index "level counter" of the set from the shown
// children of node, making submenus for groups with children. 0, or -1 when
// the set would need 128 menus or more.
int build_menu(int set, ObjectNode* node);
// The bar on the window (menu 0 removes it); in full screen on the menu
// strip instead.
void attach_menu_bar(UiWindow window, UiMenu menu);
// Builds a popup set (1 or 2) from a menu group: the top popup menu, its one
// item "MENUSET" and that item's submenu filled from the group. 0 or -1.
int build_popup_set(int set, ObjectNode* group);
