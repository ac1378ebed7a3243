// Setting up a window from one set of settings, showing the main window,
// and the answers about a window.
#include <cstring>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"  // the window's own picture
#include "platform/platform.h"
#include "platform/ui.h"

namespace {
constexpr u32 kErrRangeMinMax = 101000;
constexpr u32 kErrLayerMissing = 101250;
constexpr u32 kErrOwnedMainWindow = 101310;

i32 clamp_i32(i64 v, i64 lo, i64 hi) { return static_cast<i32>(v < lo ? lo : v > hi ? hi : v); }

// Moves the record's position so that a window of the given outer size stays
// on the desktop.
void keep_on_desktop(WindowRecord* r, i32 width, i32 height) {
  int wx = 0, wy = 0, ww = 0, wh = 0;
  if (g_platform.ui->get_work_area(&wx, &wy, &ww, &wh) != 0) return;
  if (r->position_x + width > wx + ww) r->position_x = wx + ww - width;
  if (r->position_y + height > wy + wh) r->position_y = wy + wh - height;
  if (r->position_x < wx) r->position_x = wx;
  if (r->position_y < wy) r->position_y = wy;
}

}  // namespace

int apply_screen_mode(int mode) {
  u8 wanted = mode == 1 ? 1 : 0;
  if (wanted == g_screen_mode) return 0;
  if (wanted) {
    if (enter_full_screen() != 0) return 0;
  } else {
    leave_full_screen();
  }
  g_screen_mode = wanted;
  // The bar goes with the mode: on the menu strip in full screen, on the
  // window otherwise, built again from its definition.
  WindowRecord* main = g_windows[0];
  if (main && !main->menu_name.empty()) load_menu_bar(main->menu_name.c_str(), 0);
  return 1;
}

int window_setup(const ParamSet& a, WindowLayers* layers) {
  const PlatformUi* u = g_platform.ui;
  i64 index = a.given(0) ? a.value(0) : 0;
  if (index < 0 || index >= kWindowCount || !g_windows[index]) return 0;
  WindowRecord* r = g_windows[index];
  u32 changes = 0;
  layers->screen_mode_changed = 0;
  // The layer set this window shows (parameter 21), resolved by the caller.
  ObjectNode* layer_set = a.given(21) ? layers->layer_set : nullptr;

  // 0: a sub window is made on first use, as large as its picture unless
  // the settings say.
  if (index > 0 && r->handle == kNoWindow && !r->class_registered) {
    i32 w = a.given(7) ? clamp_i32(a.value(7), 0, kMaxWindowSide) : 0;
    i32 h = a.given(8) ? clamp_i32(a.value(8), 0, kMaxWindowSide) : 0;
    if (layers->shown_width > 0 && layers->shown_height > 0) {
      if (!a.given(7)) w = layers->shown_width;
      if (!a.given(8)) h = layers->shown_height;
    }
    if (w <= 0 || h <= 0) {
      // A window of no size cannot be shown: refused, the script goes on.
      show_error_box("", sjis_message("サイズが 0x0 のレイヤセットを表示対象に指定することは出来ません。"));
      return 0;
    }
    r->logical_width = w;
    r->logical_height = h;
    std::string title = r->title;
    setup_screen_record_for(r, title.c_str());
    r->shown = 0;
    // Made on the GUI thread, whichever thread runs the scripts: only that
    // thread gets the window's messages.
    request_window_changes(static_cast<int>(index), kWindowChangeCreate);
  }

  // 7, 8: logical size (windowed and not stretched only).
  if ((a.given(7) || a.given(8)) && g_screen_mode == 0 && !r->maximised) {
    i32 w = a.given(7) ? clamp_i32(a.value(7), 1, kMaxWindowSide) : r->logical_width;
    i32 h = a.given(8) ? clamp_i32(a.value(8), 1, kMaxWindowSide) : r->logical_height;
    if (w != r->logical_width || h != r->logical_height) {
      if (alloc_window_image(&r->own_image, w, h) != 0) return -1;
      r->logical_width = w;
      r->logical_height = h;
      r->client_rect = WindowRect{0, 0, w, h};
      r->bitmap_header.width = w;
      r->bitmap_header.height = h;
      keep_on_desktop(r, w, h);
      changes |= kWindowChangeSize | kWindowChangePosition;
    }
  }
  // 9, 10: the shown client size; capped at the desktop, the other side
  // follows the logical aspect ratio.
  if ((a.given(9) || a.given(10)) && g_screen_mode == 0 && r->handle != kNoWindow && r->logical_width > 0 &&
      r->logical_height > 0) {
    i64 lw = r->logical_width, lh = r->logical_height;
    i64 w, h;
    if (a.given(9)) {
      w = clamp_i32(a.value(9), 1, g_desktop_metrics[0] > 0 ? g_desktop_metrics[0] : kMaxWindowSide);
      h = w * lh / lw;
    } else {
      h = clamp_i32(a.value(10), 1, g_desktop_metrics[1] > 0 ? g_desktop_metrics[1] : kMaxWindowSide);
      w = h * lw / lh;
    }
    if (w < 1) w = 1;
    if (h < 1) h = 1;
    r->shown_client_width = static_cast<i32>(w);
    r->shown_client_height = static_cast<i32>(h);
    changes |= kWindowChangeClientSize;
  }
  // 2: alpha, kept for presentation.
  if (a.given(2)) r->alpha = static_cast<u32>(clamp_i32(a.value(2), 0, 255));
  // 3: shown flag.
  if (a.given(3)) {
    u8 shown = a.value(3) != 0 ? 1 : 0;
    if (shown != r->shown) {
      r->shown = shown;
      changes |= kWindowChangeShown;
    }
  }
  // 4, 5: position.
  if (a.given(4) || a.given(5)) {
    if (a.given(4)) r->position_x = clamp_i32(a.value(4), -1000000, 1000000);
    if (a.given(5)) r->position_y = clamp_i32(a.value(5), -1000000, 1000000);
    changes |= kWindowChangePosition;
  }
  // 6: z-order.
  if (a.given(6)) {
    i64 z = a.value(6);
    if (z == 3 && index == 0) {
      report_error_at(kErrOwnedMainWindow, 1, a.request_name, a.param_name(6));
      return -1;
    }
    if (z >= 0 && z <= 3) {
      r->z_order = static_cast<u8>(z);
      changes |= kWindowChangeZOrder;
    }
  }
  // 16, 17: what the caption buttons may do.
  if (a.given(16)) {
    const u8 allowed = a.value(16) != 0 ? 1 : 0;
    // The maximise box comes and goes with the permission.
    if (allowed != r->maximise_allowed) changes |= kWindowChangeStyle;
    r->maximise_allowed = allowed;
  }
  if (a.given(17)) r->minimise_allowed = a.value(17) != 0 ? 1 : 0;
  // 18: close state; window 0 takes 0, 1 or 2 only.
  if (a.given(18)) {
    i64 state = a.value(18);
    i64 max = index == 0 ? kCloseClosing : kCloseKeepRunning;
    if (state < 0 || state > max) {
      report_error_at(kErrRangeMinMax, 1, a.request_name, a.param_name(18), state, 0,
                      max);
      return -1;
    }
    r->close_state = static_cast<u8>(state);
  }
  // 19, 20: flashing the caption has no counterpart here.
  // 21: the layer set shown (the caller marks the layers' window-root flags).
  if (layer_set) r->root_layer = layer_set;
  // 22: the menu definition shown as the menu bar.
  if (a.given(22)) {
    r->menu_name = a.text(22);
    if (load_menu_bar(r->menu_name.c_str(), static_cast<int>(index)) != 0) return -1;
  }
  // 23: the layer whose opaque pixels shape the main window.
  if (a.given(23)) r->shape_layer = a.text(23);
  // 24: the drag layer.
  if (a.given(24)) {
    if (!layers->drag_layer) {
      report_error_at(kErrLayerMissing, 1, a.request_name, layers->drag_path);
      return -1;
    }
    r->drag_layer = layers->drag_layer;
    // From now on a left press is tested against the drag layer's pixels.
    g_window_config.opaque_press = 1;
  }
  // 12: maximise box (windowed only).
  if (a.given(12) && g_screen_mode == 0) {
    r->maximise_box = a.value(12) == 1 ? 1 : 0;
    changes |= kWindowChangeStyle;
  }
  // 11: to the foreground.
  if (a.given(11) && a.value(11) == 1) changes |= kWindowChangeForeground;
  // 13: screen mode of window 0.
  if (a.given(13) && index == 0) {
    if (apply_screen_mode(static_cast<int>(a.value(13))) == 1) layers->screen_mode_changed = 1;
  }
  request_window_changes(static_cast<int>(index), changes);
  changes = 0;
  // 14: minimise, minimise and hide, or restore.
  if (a.given(14) && r->handle != kNoWindow) {
    i64 v = a.value(14);
    if (v >= 0 && v <= 2) {
      r->minimise_command = static_cast<i8>(v);
      changes |= kWindowChangeMinimise;
    }
  }
  // 15: toggle maximised, as the caption button would.
  if (a.given(15) && r->handle != kNoWindow) {
    bool maximised = u->is_maximized(r->handle) || r->maximised;
    u->post_message(r->handle, ui::kWmSysCommand, maximised ? ui::kScRestore : ui::kScMaximize, 0);
    // Window 0's state follows the system command; a sub window's is kept here.
    if (index > 0) r->maximised = maximised ? 0 : 1;
  }
  // 25: resizable switch of window 0.
  if (a.given(25) && index == 0 && g_screen_mode == 0) {
    u8 resizable = a.value(25) != 0 ? 1 : 0;
    if (resizable != g_window_config.resizable) {
      g_window_config.resizable = resizable;
      changes |= kWindowChangeStyle;
    }
  }
  request_window_changes(static_cast<int>(index), changes);
  return 0;
}

void window_show_main() {
  WindowRecord* r = g_windows[0];
  if (!r || r->handle == kNoWindow) return;
  r->shown = 1;
  request_window_changes(0, kWindowChangeShown);
}

int window_query(i64 index, u32 p, i64* number, std::string* text) {
  const PlatformUi* u = g_platform.ui;
  WindowRecord* r = index >= 0 && index < kWindowCount ? g_windows[index] : nullptr;
  bool live = r && r->handle != kNoWindow && u->is_window(r->handle);
  *number = 0;
  text->clear();
  {
    if (p == 6) {
      if (r) *text = r->title;
      return 1;
    }
    i64 value = 0;
    switch (p) {
      case 2: value = live ? 1 : 0; break;
      case 3: value = r ? r->alpha : 0; break;
      case 4: value = live && u->is_visible(r->handle) ? 1 : 0; break;
      case 5: value = r ? r->focused : 0; break;
      case 7:
      case 8:
        if (live) {
          int x = 0, y = 0, w = 0, h = 0;
          if (u->get_window_rect(r->handle, &x, &y, &w, &h) == 0) {
            r->position_x = x;
            r->position_y = y;
          }
        }
        value = r ? (p == 7 ? r->position_x : r->position_y) : 0;
        break;
      case 10: value = r ? r->logical_width : 0; break;
      case 11: value = r ? r->logical_height : 0; break;
      case 12:
      case 13: {
        int w = 0, h = 0;
        if (live) u->get_client_size(r->handle, &w, &h);
        value = p == 12 ? w : h;
        break;
      }
      case 15: value = g_screen_mode; break;
      case 16: value = r ? r->maximised : 0; break;
      case 14: value = 0; break;  // the monitor table keeps one monitor
      case 17: value = live && u->is_iconic(r->handle) ? 1 : 0; break;
      default: break;
    }
    *number = value;
  }
  return 0;
}
