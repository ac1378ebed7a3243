// The notification-area icon of the main window: an icon with a tip and a
// menu; a choice from the menu posts WM_COMMAND (wparam the item's id) to
// the window, as a popup menu's choice would. A click on the icon posts the
// callback message to the window as Windows does: wparam the icon's id,
// lparam WM_LBUTTONDOWN for the left button (the host's "activate"),
// WM_RBUTTONUP for the right (the host asks for the context menu) and
// WM_MBUTTONUP for the middle one.
//
// Threads: GUI thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/menus.h"
#include "platform/ui.h"

struct PlatformTray {
  // Shows the icon, or changes it when shown: a 32-bit B, G, R, A image
  // (top row first), or the program's own icon when pixels is null; the tip
  // (Shift-JIS); the menu (0: none yet; the tray shows it but does not own
  // it); the message and icon id its clicks post. 0, or -1 when no
  // notification area can be reached.
  int (*show)(UiWindow window, const std::uint32_t* pixels, int width, int height, const char* sjis_tip,
              UiMenu menu, std::uint32_t callback_message, std::uint32_t icon_id);
  // Removes the icon; safe when not shown.
  void (*remove)(UiWindow window);
};

extern const PlatformTray kGtkTray;
extern const PlatformTray kFakeTray;

// ---- the fake's record (tests) ----
struct FakeTrayState {
  int shown = 0;
  int show_calls = 0;
  int own_icon = 0;  // the program's icon
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::string tip;
  UiMenu menu = 0;
  UiWindow window = kNoWindow;
  std::uint32_t callback_message = 0, icon_id = 0;
};
void fake_tray_reset();
const FakeTrayState& fake_tray_state();
// The player clicking the shown icon: button 1 left, 2 right, 3 middle;
// posts the callback message as the real icon does. -1 when not shown.
int fake_tray_click(int button);
