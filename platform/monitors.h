// Monitors, display modes and full screen of a window.
//
// Monitors are numbered in the desktop's own order (GDK's monitor index);
// the engine names monitor n "\\.\DISPLAYn+1", so its device walk, its
// monitor table and its device choice share that one order. A change to the
// mode a monitor already has succeeds without acting. On X11 with RandR a
// monitor lists its output's modes and can be put into any of them (at one
// colour depth, the screen's); elsewhere (Wayland) it lists only its current
// mode and refuses every other. GUI thread only.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/ui.h"

struct MonitorGeometry {
  int left = 0, top = 0, width = 0, height = 0;
};

struct DisplayMode {
  int width = 0, height = 0, bits = 0;
};

struct PlatformMonitors {
  // Fills up to max monitors in the desktop's order; returns the count (0
  // without a desktop).
  int (*enumerate)(MonitorGeometry* out, int max);
  // Index of the monitor that holds the point, else the nearest one; -1
  // without a desktop.
  int (*monitor_at_point)(int x, int y);
  // The display modes of monitor index (at most max); returns the count.
  int (*display_modes)(int index, DisplayMode* out, int max);
  // Puts monitor index into the mode: 0, or -1 when refused.
  int (*change_display_mode)(int index, int width, int height, int bits);
  // Gives every monitor back its desktop mode (also done at exit when a
  // change is still in effect).
  void (*restore_display_mode)();
  // Full screen of the window on monitor index (borderless, above panels):
  // 0, or -1 for a dead handle or a monitor that does not exist.
  int (*fullscreen_on_monitor)(UiWindow window, int index);
  // Back from full screen: 0 or -1.
  int (*unfullscreen)(UiWindow window);
  // Size limits of the client area and its aspect (width / height; 0 = any)
  // while the user sizes the window. Values below 1 leave that limit open.
  void (*set_size_hints)(UiWindow window, int min_width, int min_height, int max_width, int max_height,
                         double aspect);
};

extern const PlatformMonitors kGtkMonitors;
extern const PlatformMonitors kFakeMonitors;

// ---- the fake's controls (tests) ----
// One 1920 x 1080 monitor of 32 bits with that one mode; no refusals.
void fake_monitors_reset();
void fake_monitors_set(const std::vector<MonitorGeometry>& monitors);
void fake_monitors_set_modes(int index, const std::vector<DisplayMode>& modes);
// The next mode changes are refused.
void fake_monitors_refuse_changes(int refuse);
struct FakeMonitorCall {
  const char* what;  // "change", "restore", "fullscreen", "unfullscreen", "hints"
  int a, b, c, d;
  double aspect;
};
const std::vector<FakeMonitorCall>& fake_monitor_calls();
