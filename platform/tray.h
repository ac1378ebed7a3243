// The notification-area icon of the main window: an icon with a tip and a
// menu; a choice from the menu posts WM_COMMAND (wparam the item's id) to
// the window, as a popup menu's choice would.
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
  // it). 0, or -1 when no notification area can be reached.
  int (*show)(UiWindow window, const std::uint32_t* pixels, int width, int height, const char* sjis_tip,
              UiMenu menu);
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
};
void fake_tray_reset();
const FakeTrayState& fake_tray_state();
