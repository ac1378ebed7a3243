// The window commands of the scripts: 105 sets up a window, 106 shows the
// main window, 107 answers questions about a window.
#include <cstring>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {
constexpr u32 kCmdShowLayerset = 105;
constexpr u32 kCmdShow = 106;
constexpr u32 kCmdGetRect = 107;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kErrLayerMissing = 101250;
constexpr u32 kErrOwnedMainWindow = 101310;
constexpr u32 kErrResultType = 101140;

const char* cmd_name(u32 command) {
  if (command < g_command_list.count && g_command_list.commands[command].name)
    return g_command_list.commands[command].name;
  return "";
}
const char* par_name(u32 command, u32 id) {
  if (command < g_command_list.count && id < g_command_list.commands[command].param_count &&
      g_command_list.commands[command].params[id].name)
    return g_command_list.commands[command].params[id].name;
  return "";
}

// The layer named by a parameter's text, resolved in the layer tree (a
// group or a leaf); null when missing.
ObjectNode* layer_of_param(u32 param, std::string* path_out) {
  char path[kObjectPathSize];
  int kind = build_object_path(path, arg_text(param), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) return nullptr;
  if (path_out) *path_out = path;
  ObjectNode* root = g_object_roots[kTreeLayer];
  if (!root) return nullptr;
  return resolve_object_path(root, path, kind == 1 ? 1 : 2);
}

LayerImage* image_of(ObjectNode* node) {
  return node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
}

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

// Stores an answer into the bare variable reference of parameter 1.
int store_number_result(u32 command, i64 value) {
  u32 slot = arg_slot(1);
  const DecodedSlot* s = slot ? &g_args_decoded.slots[slot] : nullptr;
  VarRecord* v = s && s->bare_ref ? var_record(s->ref_var) : nullptr;
  if (!v || (v->type != kVarInt && v->type != kVarFloat)) {
    report_error_at(kErrResultType, 1, cmd_name(command), par_name(command, 1));
    return -1;
  }
  if (v->type == kVarInt) g_var_ops.int_ops[0](s->ref_var, s->ref_element, value);
  else g_var_ops.float_ops[0](s->ref_var, s->ref_element, static_cast<double>(value));
  return 0;
}

int store_text_result(u32 command, const std::string& text) {
  u32 slot = arg_slot(1);
  const DecodedSlot* s = slot ? &g_args_decoded.slots[slot] : nullptr;
  VarRecord* v = s && s->bare_ref ? var_record(s->ref_var) : nullptr;
  if (!v || v->type != kVarText) {
    report_error_at(kErrResultType, 1, cmd_name(command), par_name(command, 1));
    return -1;
  }
  u32 length = static_cast<u32>(text.size() < kMaxElementText ? text.size() : kMaxElementText);
  store_string_element(s->ref_var, s->ref_element, text.c_str(), length);
  return 0;
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
  return 1;
}

u32 cmd_window_show_layerset() {
  if (decode_command_args(kCmdShowLayerset) != 0) return kFailed;
  const PlatformUi* u = g_platform.ui;
  i64 index = arg_given(0) ? arg_value(0) : 0;
  if (index < 0 || index >= kWindowCount || !g_windows[index]) return 0;
  WindowRecord* r = g_windows[index];
  u32 changes = 0;

  // The layer set this window shows (parameter 21), resolved first: a new
  // sub window takes its size from it.
  ObjectNode* layer_set = nullptr;
  if (arg_given(21)) {
    std::string path;
    layer_set = layer_of_param(21, &path);
    if (!layer_set) {
      report_error_at(kErrLayerMissing, 1, cmd_name(kCmdShowLayerset), path);
      return kFailed;
    }
  }

  // 0: a sub window is made on first use.
  if (index > 0 && r->handle == kNoWindow && !r->class_registered) {
    i32 w = arg_given(7) ? clamp_i32(arg_value(7), 0, kMaxImageSide) : 0;
    i32 h = arg_given(8) ? clamp_i32(arg_value(8), 0, kMaxImageSide) : 0;
    if (LayerImage* img = image_of(layer_set ? layer_set : r->root_layer)) {
      if (!arg_given(7)) w = img->width;
      if (!arg_given(8)) h = img->height;
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
  if ((arg_given(7) || arg_given(8)) && g_screen_mode == 0 && !r->maximised) {
    i32 w = arg_given(7) ? clamp_i32(arg_value(7), 1, kMaxImageSide) : r->logical_width;
    i32 h = arg_given(8) ? clamp_i32(arg_value(8), 1, kMaxImageSide) : r->logical_height;
    if (w != r->logical_width || h != r->logical_height) {
      if (alloc_window_image(&r->own_image, w, h) != 0) return kFailed;
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
  if ((arg_given(9) || arg_given(10)) && g_screen_mode == 0 && r->handle != kNoWindow && r->logical_width > 0 &&
      r->logical_height > 0) {
    i64 lw = r->logical_width, lh = r->logical_height;
    i64 w, h;
    if (arg_given(9)) {
      w = clamp_i32(arg_value(9), 1, g_desktop_metrics[0] > 0 ? g_desktop_metrics[0] : kMaxImageSide);
      h = w * lh / lw;
    } else {
      h = clamp_i32(arg_value(10), 1, g_desktop_metrics[1] > 0 ? g_desktop_metrics[1] : kMaxImageSide);
      w = h * lw / lh;
    }
    if (w < 1) w = 1;
    if (h < 1) h = 1;
    r->shown_client_width = static_cast<i32>(w);
    r->shown_client_height = static_cast<i32>(h);
    changes |= kWindowChangeClientSize;
  }
  // 2: alpha, kept for presentation.
  if (arg_given(2)) r->alpha = static_cast<u32>(clamp_i32(arg_value(2), 0, 255));
  // 3: shown flag.
  if (arg_given(3)) {
    u8 shown = arg_value(3) != 0 ? 1 : 0;
    if (shown != r->shown) {
      r->shown = shown;
      changes |= kWindowChangeShown;
    }
  }
  // 4, 5: position.
  if (arg_given(4) || arg_given(5)) {
    if (arg_given(4)) r->position_x = clamp_i32(arg_value(4), -1000000, 1000000);
    if (arg_given(5)) r->position_y = clamp_i32(arg_value(5), -1000000, 1000000);
    changes |= kWindowChangePosition;
  }
  // 6: z-order.
  if (arg_given(6)) {
    i64 z = arg_value(6);
    if (z == 3 && index == 0) {
      report_error_at(kErrOwnedMainWindow, 1, cmd_name(kCmdShowLayerset), par_name(kCmdShowLayerset, 6));
      return kFailed;
    }
    if (z >= 0 && z <= 3) {
      r->z_order = static_cast<u8>(z);
      changes |= kWindowChangeZOrder;
    }
  }
  // 16, 17: what the caption buttons may do.
  if (arg_given(16)) r->maximise_allowed = arg_value(16) != 0 ? 1 : 0;
  if (arg_given(17)) r->minimise_allowed = arg_value(17) != 0 ? 1 : 0;
  // 18: close state; window 0 takes 0, 1 or 2 only.
  if (arg_given(18)) {
    i64 state = arg_value(18);
    i64 max = index == 0 ? kCloseClosing : kCloseKeepRunning;
    if (state < 0 || state > max) {
      report_error_at(kErrRangeMinMax, 1, cmd_name(kCmdShowLayerset), par_name(kCmdShowLayerset, 18), state, 0,
                      max);
      return kFailed;
    }
    r->close_state = static_cast<u8>(state);
  }
  // 19, 20: flashing the caption has no counterpart here.
  // 21: the layer set shown.
  if (layer_set) {
    if (LayerImage* old = image_of(r->root_layer)) old->is_window_root = 0;
    r->root_layer = layer_set;
    if (LayerImage* img = image_of(layer_set)) img->is_window_root = 1;
  }
  // 22: the menu definition shown as the menu bar.
  if (arg_given(22)) r->menu_name = arg_text(22);
  // 23: the layer whose opaque pixels shape the main window.
  if (arg_given(23)) r->shape_layer = arg_text(23);
  // 24: the drag layer.
  if (arg_given(24)) {
    std::string path;
    ObjectNode* drag = layer_of_param(24, &path);
    if (!drag) {
      report_error_at(kErrLayerMissing, 1, cmd_name(kCmdShowLayerset), path);
      return kFailed;
    }
    r->drag_layer = drag;
  }
  // 12: maximise box (windowed only).
  if (arg_given(12) && g_screen_mode == 0) {
    r->maximise_box = arg_value(12) == 1 ? 1 : 0;
    changes |= kWindowChangeStyle;
  }
  // 11: to the foreground.
  if (arg_given(11) && arg_value(11) == 1) changes |= kWindowChangeForeground;
  // 13: screen mode of window 0.
  if (arg_given(13) && index == 0) {
    if (apply_screen_mode(static_cast<int>(arg_value(13))) == 1 && r->root_layer) mark_layer_dirty(r->root_layer);
  }
  request_window_changes(static_cast<int>(index), changes);
  changes = 0;
  // 14: minimise, minimise and hide, or restore.
  if (arg_given(14) && r->handle != kNoWindow) {
    i64 v = arg_value(14);
    if (v >= 0 && v <= 2) {
      r->minimise_command = static_cast<i8>(v);
      changes |= kWindowChangeMinimise;
    }
  }
  // 15: toggle maximised, as the caption button would.
  if (arg_given(15) && r->handle != kNoWindow) {
    bool maximised = u->is_maximized(r->handle) || r->maximised;
    u->post_message(r->handle, ui::kWmSysCommand, maximised ? ui::kScRestore : ui::kScMaximize, 0);
    // Window 0's state follows the system command; a sub window's is kept here.
    if (index > 0) r->maximised = maximised ? 0 : 1;
  }
  // 25: resizable switch of window 0.
  if (arg_given(25) && index == 0 && g_screen_mode == 0) {
    u8 resizable = arg_value(25) != 0 ? 1 : 0;
    if (resizable != g_window_config.resizable) {
      g_window_config.resizable = resizable;
      changes |= kWindowChangeStyle;
    }
  }
  request_window_changes(static_cast<int>(index), changes);
  return 0;
}

u32 cmd_window_show() {
  if (decode_command_args(kCmdShow) != 0) return kFailed;
  WindowRecord* r = g_windows[0];
  if (!r || r->handle == kNoWindow) return 0;
  r->shown = 1;
  request_window_changes(0, kWindowChangeShown);
  return 0;
}

u32 cmd_window_get_rect() {
  if (decode_command_args(kCmdGetRect) != 0) return kFailed;
  const PlatformUi* u = g_platform.ui;
  i64 index = arg_given(0) ? arg_value(0) : 0;
  WindowRecord* r = index >= 0 && index < kWindowCount ? g_windows[index] : nullptr;
  bool live = r && r->handle != kNoWindow && u->is_window(r->handle);
  static const u32 kOrder[] = {2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 14, 17};
  for (u32 p : kOrder) {
    if (!arg_given(p)) continue;
    if (p == 6) return store_text_result(kCmdGetRect, r ? r->title : std::string()) ? kFailed : 0;
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
    return store_number_result(kCmdGetRect, value) ? kFailed : 0;
  }
  return 0;
}
