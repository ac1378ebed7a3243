// Screen modes of the main window: windowed or full screen, the monitor
// table, the monitor under the window, the client size and the placement of
// the logical screen inside it, the aspect-keeping limits while the user
// sizes the window, and the screen frame buffer that follows the client.
//
// Full screen is borderless on the window's monitor and presentation scales
// the picture into it; when the settings ask for a display mode of its own
// (an X11 desktop with RandR can give one, Wayland cannot), the monitor is
// put into that mode and gets its own back on leaving. GUI thread only.
#pragma once
#include <string>

#include "engine/frame/types.h"
#include "platform/ui.h"

struct WindowRecord;
struct WindowRect;

constexpr int kMaxMonitors = 16;

struct MonitorTable {
  i32 left[kMaxMonitors] = {};
  i32 top[kMaxMonitors] = {};
  i32 width[kMaxMonitors] = {};
  i32 height[kMaxMonitors] = {};
  i32 count = 0;
};
extern MonitorTable g_monitor_table;

struct ScreenModeState {
  i32 screen_width = 0, screen_height = 0;  // what the logical screen is placed in
  i32 client_width = 0, client_height = 0;  // the picture's size
  i32 saved_screen_width = 0, saved_screen_height = 0;
  i32 saved_client_width = 0, saved_client_height = 0;
  i32 monitor_width = 0, monitor_height = 0;
  // The monitor last seen under the window; -1 until the window or the
  // device was first placed on one.
  i32 monitor_index = -1;
  u8 full_screen = 0;
  // Full screen picks a display mode of its own when the settings ask for it
  // (g_settings.fullscreen_switch_a); the scaling setting is
  // g_present.scaling, the resizable flag the window configuration's.
  u8 display_changed = 0;      // the display runs such a mode now
  u8 placement = 0;            // 0 centred, 1 fit to width, 2 fit to height, 3 fill
  // Where the window was (its outer rectangle's corner) before full screen.
  u8 saved_place = 0;
  i32 saved_x = 0, saved_y = 0;
  // After leaving full screen: the client size asked for, which sizes the
  // desktop reports on its way back from full screen do not replace.
  u8 awaiting_size = 0;
  i32 awaited_width = 0, awaited_height = 0;
  u8 pending_centre = 0;
  i32 pending_width = 0, pending_height = 0;
};
extern ScreenModeState g_screen_modes;

// Set by screen-mode and window-size changes while GPU drawing is on: the
// device is rebuilt at the next GPU frame.
extern u8 g_device_reset_pending;

// Refills the monitor table from the desktop (at most 16, desktop order).
void enumerate_monitors();
// The index of the monitor under the window's centre, its device name
// ("\\.\DISPLAYn", n = index + 1) in *device_name when given. Any failure,
// or an index outside the table, gives 0; an entry of width or height 0
// gives the first entry with both.
int find_window_monitor(UiWindow window, std::string* device_name);

// The client size and placement for the logical size in a screen of
// sw x sh; a changed client size re-allocates the screen frame buffer.
void fit_client_to_screen(i32 logical_width, i32 logical_height, i32 screen_width, i32 screen_height);
// Window -> full screen on the window's monitor: 0, or -1 when it stayed
// windowed (with its sizes as they were).
int switch_to_fullscreen(WindowRecord* window);
// The display mode of the screen size on monitor index: 0, or -1 after
// going back to the window (a box when no mode fits, error 105210 when the
// change was refused).
int change_display_mode(WindowRecord* window, const std::string& device_name, int monitor_index);
// Full screen -> window; keep_display_mode leaves the desktop mode alone.
void switch_to_window(WindowRecord* window, int keep_display_mode);
// The desktop mode and the windowed style back.
void restore_desktop_mode(WindowRecord* window);
// After the window was moved or sized by someone else: the client gets the
// logical aspect again and the frame buffer its size.
void prepare_screen_buffers(WindowRecord* window);
// The size limits of the window while the user sizes it (as client sizes,
// frame included when frame_w / frame_h are given).
void limit_window_tracking(WindowRecord* window, i32 frame_w, i32 frame_h, i32 out_min[2], i32 out_max[2]);
// After the window moved: a new monitor asks for a device rebuild.
void track_window_monitor(WindowRecord* window);
// True when neither full screen nor stretch is on.
bool is_screen_mode_free();
// lrint(value + 0.5) under round-to-nearest-even: the rounding of the
// sizing rules.
i32 round_half_up_even(double value);
