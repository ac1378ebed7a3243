// Screen modes of window 0. See screen_modes.h.
#include "engine/render/screen_modes.h"

#include <cfenv>
#include <cmath>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/render/present.h"
#include "platform/cursor.h"
#include "platform/monitors.h"
#include "platform/platform.h"

MonitorTable g_monitor_table;
ScreenModeState g_screen_modes;
u8 g_device_reset_pending = 0;

namespace {

constexpr u32 kErrDisplayChangeRefused = 105210;
constexpr int kMaxModes = 10000;

const PlatformMonitors* mon() { return g_platform.monitors; }
const PlatformUi* ui_svc() { return g_platform.ui; }

i32 desktop_bits() { return g_desktop_metrics[2] > 0 ? g_desktop_metrics[2] : 32; }

void ask_device_rebuild() {
  if (g_settings.use_direct3d) g_device_reset_pending = 1;
}

void resize_screen_buffer(i32 w, i32 h) {
  if (w > 0 && h > 0 && (w != g_screen_buffer.width || h != g_screen_buffer.height)) alloc_screen_buffer(w, h);
}

double logical_ratio(const WindowRecord* r) {
  return r->logical_height > 0 ? static_cast<double>(r->logical_width) / r->logical_height : 1.0;
}

// The pointer to the centre of monitor index (a desktop that refuses, as
// Wayland does, leaves it where it is).
void centre_cursor_on(int index) {
  if (!g_platform.cursor || index < 0 || index >= kMaxMonitors) return;
  g_platform.cursor->warp(kNoWindow, g_monitor_table.left[index] + g_monitor_table.width[index] / 2,
                          g_monitor_table.top[index] + g_monitor_table.height[index] / 2);
}

void take_monitor_size(int index) {
  g_screen_modes.monitor_width = g_monitor_table.width[index];
  g_screen_modes.monitor_height = g_monitor_table.height[index];
}

// The windowed sizes saved on the way into full screen, back in place.
void restore_windowed_sizes() {
  ScreenModeState& s = g_screen_modes;
  if (s.saved_client_width <= 0 || s.saved_client_height <= 0) return;
  s.client_width = s.saved_client_width;
  s.client_height = s.saved_client_height;
  s.screen_width = s.saved_screen_width;
  s.screen_height = s.saved_screen_height;
  s.saved_client_width = s.saved_client_height = 0;
  s.saved_screen_width = s.saved_screen_height = 0;
  resize_screen_buffer(s.client_width, s.client_height);
}

}  // namespace

i32 round_half_up_even(double value) {
  const int mode = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const long r = std::lrint(value + 0.5);
  std::fesetround(mode);
  return static_cast<i32>(r);
}

void enumerate_monitors() {
  MonitorGeometry found[kMaxMonitors];
  int n = mon() ? mon()->enumerate(found, kMaxMonitors) : 0;
  if (n <= 0) {
    // Without the desktop's monitor list: one entry of the desktop size.
    int w = 0, h = 0, bits = 0, refresh = 0;
    if (ui_svc()->get_desktop_size(&w, &h, &bits, &refresh) != 0) w = h = 0;
    found[0] = MonitorGeometry{0, 0, w, h};
    n = 1;
  }
  if (n > kMaxMonitors) n = kMaxMonitors;
  g_monitor_table = MonitorTable{};
  for (int i = 0; i < n; ++i) {
    g_monitor_table.left[i] = found[i].left;
    g_monitor_table.top[i] = found[i].top;
    g_monitor_table.width[i] = found[i].width;
    g_monitor_table.height[i] = found[i].height;
  }
  g_monitor_table.count = n;
}

int find_window_monitor(UiWindow window, std::string* device_name) {
  int index = 0;
  int x = 0, y = 0, w = 0, h = 0;
  if (window != kNoWindow && ui_svc()->get_window_rect(window, &x, &y, &w, &h) == 0 && mon()) {
    const int at = mon()->monitor_at_point(x + w / 2, y + h / 2);
    // The index also picks the table entry: one outside the table is 0.
    if (at >= 0 && at < g_monitor_table.count && at < kMaxMonitors) index = at;
  }
  if (g_monitor_table.width[index] == 0 || g_monitor_table.height[index] == 0)
    for (int i = 0; i < kMaxMonitors; ++i)
      if (g_monitor_table.width[i] != 0 && g_monitor_table.height[i] != 0) {
        index = i;
        break;
      }
  if (device_name) *device_name = "\\\\.\\DISPLAY" + std::to_string(index + 1);
  return index;
}

void fit_client_to_screen(i32 lw, i32 lh, i32 sw, i32 sh) {
  ScreenModeState& s = g_screen_modes;
  int setting = g_present.scaling;
  if (!s.full_screen && g_present.stretch) setting = 1;
  const i64 w = lw == 0 ? 1 : lw;
  const i64 hgt = lh == 0 ? 1 : lh;
  const bool wider = sh <= static_cast<i64>(lh) * sw / w;
  i64 cw = lw, ch = lh;
  u8 placement = 0;
  const i64 by_height_w = static_cast<i64>(lw) * sh / hgt;
  const i64 by_width_h = static_cast<i64>(lh) * sw / w;
  switch (setting) {
    case 1:
      if (wider) placement = 2, cw = by_height_w, ch = sh;
      else placement = 1, cw = sw, ch = by_width_h;
      break;
    case 2:
      if (wider) placement = 1, cw = sw, ch = by_width_h;
      else placement = 2, cw = by_height_w, ch = sh;
      break;
    case 3:
      placement = 3, cw = sw, ch = sh;
      break;
    default:
      placement = 0, cw = lw, ch = lh;
      break;
  }
  // A client beyond the monitor is halved. With a display mode of its own
  // the screen is the mode, not the desktop measured before the change.
  const i64 bound_w = s.display_changed ? sw : s.monitor_width;
  const i64 bound_h = s.display_changed ? sh : s.monitor_height;
  if (setting != 2 && bound_w > 0 && bound_h > 0 && (cw > bound_w || ch > bound_h)) {
    cw = bound_w / 2;
    ch = bound_h / 2;
  }
  s.placement = placement;
  s.client_width = static_cast<i32>(cw);
  s.client_height = static_cast<i32>(ch);
  resize_screen_buffer(s.client_width, s.client_height);
}

int switch_to_fullscreen(WindowRecord* r) {
  if (!r || r->handle == kNoWindow) return -1;
  ScreenModeState& s = g_screen_modes;
  enumerate_monitors();
  std::string device;
  const int index = find_window_monitor(r->handle, &device);
  take_monitor_size(index);
  // The window comes back to this place when it leaves full screen.
  {
    int wx = 0, wy = 0, ww = 0, wh = 0;
    s.saved_place = ui_svc()->get_window_rect(r->handle, &wx, &wy, &ww, &wh) == 0 ? 1 : 0;
    s.saved_x = wx;
    s.saved_y = wy;
  }
  s.saved_screen_width = s.screen_width;
  s.saved_screen_height = s.screen_height;
  s.saved_client_width = s.client_width > 0 ? s.client_width : g_screen_buffer.width;
  s.saved_client_height = s.client_height > 0 ? s.client_height : g_screen_buffer.height;
  s.screen_width = s.monitor_width;
  s.screen_height = s.monitor_height;
  if (g_settings.fullscreen_switch_a && s.monitor_height > 0) {
    // The smallest mode of the monitor's aspect that holds the logical size.
    DisplayMode modes[64];
    const int n = mon()->display_modes(index, modes, 64);
    const i64 aspect = static_cast<i64>(s.monitor_width) * 1000 / s.monitor_height;
    int best_w = 0, best_h = 0;
    for (int i = 0; i < n && i < kMaxModes; ++i) {
      const DisplayMode& m = modes[i];
      if (m.height <= 0 || static_cast<i64>(m.width) * 1000 / m.height != aspect) continue;
      if (m.width < r->logical_width || m.height < r->logical_height || m.bits != desktop_bits()) continue;
      if (best_w == 0 || (m.width < best_w && m.height < best_h)) best_w = m.width, best_h = m.height;
    }
    if (best_w > 0) s.screen_width = best_w, s.screen_height = best_h;
  }
  s.full_screen = 1;
  s.awaiting_size = 0;
  fit_client_to_screen(r->logical_width, r->logical_height, s.screen_width, s.screen_height);
  const std::uint32_t style = ui_svc()->get_style(r->handle);
  ui_svc()->set_style(r->handle,
                      (style | ui::kWsPopup) & ~(ui::kWsCaption | ui::kWsSysMenu | ui::kWsThickFrame | ui::kWsMinimizeBox),
                      0);
  // Without the display-mode setting the desktop keeps its mode: the window
  // is only restyled.
  if (g_settings.fullscreen_switch_a) {
    if (change_display_mode(r, device, index) != 0) return -1;
  } else {
    ask_device_rebuild();
  }
  mon()->set_size_hints(r->handle, 0, 0, 0, 0, 0.0);
  // Full screen on the monitor puts the window at its origin; a move there
  // first would become the place the desktop gives the window back.
  if (mon()->fullscreen_on_monitor(r->handle, index) != 0) {
    s.full_screen = 0;
    restore_desktop_mode(r);
    restore_windowed_sizes();
    return -1;
  }
  g_present.screen_width = s.screen_width;
  g_present.screen_height = s.screen_height;
  centre_cursor_on(index);
  return 0;
}

int change_display_mode(WindowRecord* r, const std::string& device_name, int monitor_index) {
  ScreenModeState& s = g_screen_modes;
  ask_device_rebuild();
  DisplayMode modes[64];
  const int n = mon()->display_modes(monitor_index, modes, 64);
  bool matched = false;
  for (int i = 0; i < n; ++i)
    if (modes[i].width == s.screen_width && modes[i].height == s.screen_height && modes[i].bits == desktop_bits())
      matched = true;
  if (matched && mon()->change_display_mode(monitor_index, s.screen_width, s.screen_height, desktop_bits()) == 0) {
    s.display_changed = 1;
    return 0;
  }
  if (g_settings.use_direct3d) g_device_reset_pending = 0;
  const i32 sw = s.screen_width, sh = s.screen_height;
  s.full_screen = 0;
  restore_desktop_mode(r);
  // The windowed sizes and frame buffer come back with the window, so the
  // windowed presentation fits the window again.
  restore_windowed_sizes();
  if (!matched) {
    show_error_box("", sjis_message("PC環境が %d x %d 解像度でのフルスクリーンに対応していません。"), sw, sh);
  } else {
    report_error_code(kErrDisplayChangeRefused, 0);
  }
  return -1;
}

void restore_desktop_mode(WindowRecord* r) {
  if (g_screen_modes.display_changed) mon()->restore_display_mode();
  g_screen_modes.display_changed = 0;
  if (!r || r->handle == kNoWindow) return;
  mon()->unfullscreen(r->handle);
  if (!g_quit_requested) {
    std::uint32_t style = (ui_svc()->get_style(r->handle) | ui::kWsCaption | ui::kWsSysMenu | ui::kWsThickFrame |
                           ui::kWsMinimizeBox) &
                          ~ui::kWsPopup;
    if (!g_window_config.resizable) style &= ~ui::kWsThickFrame;
    ui_svc()->set_style(r->handle, style, 0);
  }
  if (g_present.stretch) {
    int wx = 0, wy = 0, ww = 0, wh = 0;
    if (ui_svc()->get_work_area(&wx, &wy, &ww, &wh) != 0) wx = wy = ww = wh = 0;
    ui_svc()->move_window(r->handle, wx + (ww - g_screen_modes.client_width) / 2,
                          wy + (wh - g_screen_modes.client_height) / 2);
    // A stretched window is shown restored, not maximised.
    ui_svc()->post_message(r->handle, ui::kWmSysCommand, ui::kScRestore, 0);
    g_screen_modes.saved_place = 0;
  }
}

void switch_to_window(WindowRecord* r, int keep_display_mode) {
  ScreenModeState& s = g_screen_modes;
  s.full_screen = 0;
  restore_windowed_sizes();
  if (!keep_display_mode) restore_desktop_mode(r);
  ask_device_rebuild();
  resize_screen_buffer(s.client_width, s.client_height);
  s.awaiting_size = 0;
  if (r && r->handle != kNoWindow && s.client_width > 0 && s.client_height > 0) {
    ui_svc()->set_client_size(r->handle, s.client_width, s.client_height);
    s.awaiting_size = 1;
    s.awaited_width = s.client_width;
    s.awaited_height = s.client_height;
  }
  // Back to where the window was before full screen.
  if (r && r->handle != kNoWindow && s.saved_place) ui_svc()->move_window(r->handle, s.saved_x, s.saved_y);
  s.saved_place = 0;
  enumerate_monitors();
  const int index = find_window_monitor(r ? r->handle : kNoWindow, nullptr);
  take_monitor_size(index);
  g_present.screen_width = s.screen_width;
  g_present.screen_height = s.screen_height;
  centre_cursor_on(index);
}

bool is_screen_mode_free() { return !g_screen_modes.full_screen && !g_present.stretch; }

void prepare_screen_buffers(WindowRecord* r) {
  if (!r || r->handle == kNoWindow) return;
  ScreenModeState& s = g_screen_modes;
  if (r->index == 0 && is_screen_mode_free() && !s.pending_centre) {
    const double ratio = logical_ratio(r);
    int aw = 0, ah = 0;
    if (ui_svc()->get_client_size(r->handle, &aw, &ah) != 0 || aw <= 0 || ah <= 0) return;
    if (s.monitor_width > 0 && aw > s.monitor_width) aw = s.monitor_width;
    if (s.monitor_height > 0 && ah > s.monitor_height) ah = s.monitor_height;
    if (static_cast<double>(aw) / ah <= ratio) ah = round_half_up_even(aw / ratio);
    else aw = round_half_up_even(ah * ratio);
    int cw = 0, ch = 0;
    ui_svc()->get_client_size(r->handle, &cw, &ch);
    if (cw != aw || ch != ah) ui_svc()->set_client_size(r->handle, aw, ah);
    s.screen_width = s.client_width = aw;
    s.screen_height = s.client_height = ah;
    resize_screen_buffer(aw, ah);
    rescale_child_areas();
    return;
  }
  if (s.pending_centre) {
    s.pending_centre = 0;
    int wx = 0, wy = 0, ww = 0, wh = 0;
    if (ui_svc()->get_work_area(&wx, &wy, &ww, &wh) == 0)
      ui_svc()->move_window(r->handle, wx + (ww - s.pending_width) / 2, wy + (wh - s.pending_height) / 2);
  }
  if (!s.full_screen) {
    const i32 w = r->index == 0 ? s.screen_width : r->logical_width;
    const i32 h = r->index == 0 ? s.screen_height : r->logical_height;
    if (w > 0 && h > 0) ui_svc()->set_client_size(r->handle, w, h);
  }
  if (r->index == 0) rescale_child_areas();
}

void limit_window_tracking(WindowRecord* r, i32 frame_w, i32 frame_h, i32 out_min[2], i32 out_max[2]) {
  if (!r || r->index != 0 || !is_screen_mode_free() || frame_w < 0 || frame_h < 0) return;
  if (g_screen_modes.client_width <= 0 && g_screen_buffer.width <= 0) return;
  // Without the monitor's size there is no largest size to give.
  if (g_screen_modes.monitor_width <= 0 || g_screen_modes.monitor_height <= 0) return;
  const double ratio = logical_ratio(r);
  const i32 q = (r->logical_width < r->logical_height ? r->logical_width : r->logical_height) / 4;
  out_min[0] = static_cast<i32>(q * ratio) + frame_w;
  out_min[1] = q + frame_h;
  i32 max_h = g_screen_modes.monitor_height;
  if (ratio > 0 && g_screen_modes.monitor_width / ratio < max_h) max_h = static_cast<i32>(std::lround(g_screen_modes.monitor_width / ratio));
  out_max[0] = static_cast<i32>(max_h * ratio) + frame_w;
  out_max[1] = max_h + frame_h;
  resize_screen_buffer(out_max[0] - frame_w, out_max[1] - frame_h);
  // A window the user may size keeps the logical aspect while a corner is
  // dragged: the window manager holds it there through the aspect hint (X
  // sends no message during the drag). prepare_screen_buffers still fits
  // the client after each sizing (and is all a window sized only by
  // maximising gets).
  mon()->set_size_hints(r->handle, out_min[0] - frame_w, out_min[1] - frame_h, out_max[0] - frame_w,
                        out_max[1] - frame_h, g_window_config.resizable ? ratio : 0.0);
}

void track_window_monitor(WindowRecord* r) {
  if (!r || r->index != 0) return;
  enumerate_monitors();
  const int index = find_window_monitor(r->handle, nullptr);
  if (index != g_screen_modes.monitor_index) {
    // The first sighting is the monitor the window was made on (the window
    // manager places a new window, and that move is no change of monitor):
    // only a move from one known monitor to another rebuilds the device.
    const bool seen_before = g_screen_modes.monitor_index >= 0;
    g_screen_modes.monitor_index = index;
    if (seen_before && is_screen_mode_free()) ask_device_rebuild();
  }
  take_monitor_size(index);
}

// ---- the steps start-up, the window command and shut-down call ----
int enter_full_screen() {
  WindowRecord* r = g_windows[0];
  if (!r) return -1;
  if (g_screen_modes.client_width <= 0) {
    g_screen_modes.client_width = g_screen_modes.screen_width = g_screen_buffer.width;
    g_screen_modes.client_height = g_screen_modes.screen_height = g_screen_buffer.height;
  }
  return switch_to_fullscreen(r);
}

void leave_full_screen() {
  if (!g_screen_modes.full_screen) return;
  switch_to_window(g_windows[0], 0);
}

void window_geometry_message(int window, u32 message, u64 wparam, i64 lparam) {
  if (window != 0 || !g_windows[0]) return;
  WindowRecord* r = g_windows[0];
  if (message == ui::kWmMove || message == ui::kWmWindowPosChanged) track_window_monitor(r);
  if (message == ui::kWmSize && wparam != ui::kSizeMinimized) {
    // Sized from outside (the user or the window manager): the size limits
    // follow the window's monitor, then the client takes the logical aspect
    // again and the frame buffer the client's size.
    if (g_screen_modes.monitor_width <= 0 || g_screen_modes.monitor_height <= 0) {
      enumerate_monitors();
      take_monitor_size(find_window_monitor(r->handle, nullptr));
    }
    ScreenModeState& s = g_screen_modes;
    if (s.awaiting_size && !s.full_screen && wparam != ui::kSizeMaximized) {
      // On its way back from full screen the window may still report the
      // full-screen size: the size asked for is asked again until it comes.
      int cw = 0, ch = 0;
      if (ui_svc()->get_client_size(r->handle, &cw, &ch) != 0) return;
      // A desktop that keeps giving another size has the last word after a
      // few asks.
      if ((cw != s.awaited_width || ch != s.awaited_height) && s.awaiting_size < 8) {
        ++s.awaiting_size;
        ui_svc()->set_client_size(r->handle, s.awaited_width, s.awaited_height);
        return;
      }
      s.awaiting_size = 0;
    }
    i32 lowest[2] = {0, 0}, highest[2] = {0, 0};
    limit_window_tracking(r, 0, 0, lowest, highest);
    prepare_screen_buffers(r);
  }
}
