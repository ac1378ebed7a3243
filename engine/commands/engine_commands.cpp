// Dialog and message box (10), quit (13), error switches (14), frame rate
// (28), engine settings (93), script-list query (94) and task query (97).
#include <cstring>
#include <string>

#include "engine/commands/command_results.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_switches.h"
#include "engine/frame/errors.h"
#include "engine/frame/input.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/settings.h"
#include "engine/frame/window.h"
#include "engine/render/screen_modes.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/task_state.h"
#include "engine/vm/vars.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/sync.h"
#include "platform/ui.h"

namespace {

u32 ok_or_failed(int r) { return r == 0 ? 0 : kCommandFailed; }

u32 message_box() {
  // Buttons: the last given of 13, 14, 15 wins.
  u32 type = ui::kMbOk;
  if (arg_given(13)) type = ui::kMbOkCancel;
  if (arg_given(14)) type = ui::kMbYesNo;
  if (arg_given(15)) type = ui::kMbYesNoCancel;
  i64 def = arg_value(18);
  if (def == 2) type |= ui::kMbDefButton2;
  if (def == 3) type |= ui::kMbDefButton3;
  static const u32 kIcons[5] = {0, ui::kMbIconInformation, ui::kMbIconQuestion, ui::kMbIconExclamation,
                                ui::kMbIconHand};
  i64 icon = arg_value(19);
  if (icon >= 1 && icon <= 4) type |= kIcons[icon];
  std::string title = arg_text(0), text = arg_text(1);
  // The engine is modal while the box is open and a playing movie pauses.
  // The player must see the cursor to answer.
  request_cursor_visible();
  apply_cursor_request();
  g_engine_switches.modal_box_open = 1;
  pause_active_movie();
  int answer = g_platform.ui->message_box(main_window_handle(), text.c_str(), title.c_str(), type);
  g_engine_switches.modal_box_open = 0;
  i64 value;
  u32 kind = type & 0xF;
  if (kind == ui::kMbOk || kind == ui::kMbOkCancel) value = answer == ui::kIdCancel ? 2 : 1;
  else value = answer == ui::kIdYes ? 1 : answer == ui::kIdNo ? 2 : 3;
  return ok_or_failed(store_number(arg_ref(11), value));
}

}  // namespace

u32 cmd_dialog_show() {
  if (decode_command_args(10) != 0) return kCommandFailed;
  if (arg_given(16)) {
    UiTextInputDialog d;
    std::string title = arg_text(0), prompt = arg_text(1), initial = arg_text(9);
    d.title = title.c_str();
    d.prompt = prompt.c_str();
    d.initial = initial.c_str();
    i64 limit = arg_value(17);
    d.limit_bytes = limit > 0 && limit < 4095 ? static_cast<int>(limit) : 0;
    std::string answer;
    request_cursor_visible();
    apply_cursor_request();
    int r = g_platform.dialogs->text_input(main_window_handle(), &d, &answer);
    if (r < 0) return kCommandFailed;
    if (store_number(arg_ref(11), 1) != 0) return kCommandFailed;
    return ok_or_failed(store_text(arg_ref(10), answer.c_str(), static_cast<u32>(answer.size())));
  }
  // Parameter 20 asks for nothing; it is tested before the box would open.
  if (arg_given(20)) return 0;
  return message_box();
}

u32 cmd_engine_quit() {
  if (decode_command_args(13) != 0) return kCommandFailed;
  if (arg_given(0)) g_restart_flag = static_cast<u8>(arg_value(0) & 0xFF);
  g_quit_requested = 1;
  return 0;
}

u32 cmd_error_switch_set() {
  if (decode_command_args(14) != 0) return kCommandFailed;
  // Parameter ids stop below 100, the decoder's slot table.
  for (u32 p = 3; p < 100; ++p)
    if (arg_given(p)) g_error_switches[p - 2] = static_cast<u8>(arg_value(p) & 0xFF);
  return 0;
}

u32 cmd_frame_rate_set() {
  if (decode_command_args(28) != 0) return kCommandFailed;
  if (arg_given(0)) {
    // Pacing divides by the rate: a rate below 1 keeps the current one.
    i64 rate = arg_value(0);
    if (rate >= 1 && rate <= 0x7FFFFFFF) {
      g_pacing.frame_rate = static_cast<i32>(rate);
      u32 now = g_platform.clock->now_ms();
      g_pacing.frame_fraction = 0;
      g_pacing.pacing_clock = now;
      g_pacing.frame_start = now;
    }
  }
  if (arg_given(1)) g_pacing.frame_skip_allowed = arg_value(1) ? 1 : 0;
  return 0;
}

u32 cmd_engine_config_set() {
  if (decode_command_args(93) != 0) return kCommandFailed;
  if (arg_given(0)) g_engine_switches.switch_byte = static_cast<u8>(arg_value(0));
  if (arg_given(1) && g_windows[0] && g_windows[0]->focused)
    g_scheduler.run_while_inactive = static_cast<u8>(arg_value(1) ? 1 : 0);
  i64 w = arg_value(2), h = arg_value(3);
  if (arg_given(2) && arg_given(3) && w > 0 && h > 0 && w <= 8192 && h <= 8192 && g_windows[0]) {
    WindowRecord* r = g_windows[0];
    r->logical_width = static_cast<i32>(w);
    r->logical_height = static_cast<i32>(h);
    if (g_screen_mode == 1) {
      // Full screen: the mode again for the new size, and the client area
      // black until the next frame is presented.
      enter_full_screen();
      int cw = 0, ch = 0;
      if (r->handle && g_platform.ui->get_client_size(r->handle, &cw, &ch) == 0) {
        static const u32 kBlack = 0;
        g_platform.ui->present_image(r->handle, &kBlack, 1, 1, 0, 0, 1, 1, 0, 0, cw, ch);
      }
    } else {
      request_window_changes(0, kWindowChangeSize);
    }
    // The GPU's back buffer is made at the logical size: the device is
    // rebuilt for the new one at the next GPU frame.
    if (g_settings.use_direct3d) g_device_reset_pending = 1;
  }
  // Clock switches: only a change acts, so switching a running clock on
  // again does not add the whole uptime.
  {
    EngineLockGuard lock;
    // While the clocks are held they read the time the hold began, so a
    // clock switched off or on during a hold stays where it stood.
    u32 now = game_clock_time_locked();
    for (u32 k = 0; k < 4; ++k) {
      if (!arg_given(4 + k)) continue;
      u8 on = arg_value(4 + k) ? 1 : 0;
      EngineClocks& c = g_engine_clocks;
      if (on == c.running[k]) continue;
      if (!on) {
        c.stop_time[k] = now;
      } else {
        c.offset[k] += now - c.stop_time[k];
        c.stop_time[k] = 0;
      }
      c.running[k] = on;
    }
  }
  return 0;
}

u32 cmd_scriptlist_query() {
  if (decode_command_args(94) != 0) return kCommandFailed;
  VarRef r = arg_ref(5);
  const auto& list = g_engine_data.scripts;
  i64 n = arg_value(4);
  bool inside = n >= 1 && n <= static_cast<i64>(list.size());
  if (arg_given(1)) return ok_or_failed(store_number(r, static_cast<i64>(list.size())));
  if (arg_given(2)) return ok_or_failed(store_number(r, inside ? list[static_cast<std::size_t>(n - 1)].value : 0));
  if (arg_given(0)) {
    const std::string empty;
    const std::string& s = inside ? list[static_cast<std::size_t>(n - 1)].source_name : empty;
    return ok_or_failed(store_text(r, s.c_str(), static_cast<u32>(s.size())));
  }
  if (arg_given(3)) return ok_or_failed(store_number(r, g_engine_switches.check_byte));
  return ok_or_failed(store_number(r, 0));
}

namespace {

const std::string& script_name(u32 n) {
  static const std::string empty;
  return n < g_engine_data.scripts.size() ? g_engine_data.scripts[n].source_name : empty;
}

// The source line of the instruction the task last started; an instruction
// not yet run (pc 0) reads its own line.
i64 last_line(const ScriptContext* c) {
  const ScriptRecord* s = c->script;
  if (!s || !s->source_lines || s->instruction_count == 0) return 0;
  u32 pc = c == g_scheduler.current_context ? g_scheduler.current_pc : (c->pc > 0 ? c->pc - 1 : 0);
  if (pc >= s->instruction_count) pc = s->instruction_count - 1;
  return s->source_lines[pc];
}

}  // namespace

u32 cmd_task_query() {
  if (decode_command_args(97) != 0) return kCommandFailed;
  VarRef r = arg_ref(1);
  ScriptContext* c = nullptr;
  if (arg_given(0)) {
    char path[kObjectPathSize];
    int kind = build_object_path(path, arg_text(0), g_object_base_paths[kTreeTask], 0);
    if (kind < 0) return kCommandFailed;
    ObjectNode* root = g_object_roots[kTreeTask];
    ObjectNode* node = root && kind == 0 ? resolve_object_path(root, path, 0) : nullptr;
    c = node ? task_context(node) : nullptr;
  } else {
    c = g_scheduler.current_context;
  }
  if (!c) return ok_or_failed(store_empty(r));
  ObjectNode* node = arg_given(0) ? nullptr : g_scheduler.current_task;
  if (arg_given(0)) {
    char path[kObjectPathSize];
    build_object_path(path, arg_text(0), g_object_base_paths[kTreeTask], 0);
    node = resolve_object_path(g_object_roots[kTreeTask], path, 0);
  }
  const CallFrame* outer = c->call_depth > 0 ? c->call_frames[0] : nullptr;
  auto text = [&](const std::string& s) { return ok_or_failed(store_text(r, s.c_str(), static_cast<u32>(s.size()))); };
  auto number = [&](i64 v) { return ok_or_failed(store_number(r, v)); };
  static const u32 kOrder[] = {2, 3, 4, 5, 6, 9, 8, 11, 12, 13, 16, 17, 18, 7, 10, 19};
  for (u32 sel : kOrder) {
    if (!arg_given(sel)) continue;
    switch (sel) {
      case 2: return number(1);
      case 3: return number(c->enable_a);
      case 4: return number(c->enable_b);
      case 5: return number(node ? node->order_key : 0);
      case 6: return text(script_name(c->script_no));
      case 9: return text(script_name(outer ? outer->return_script : c->script_no));
      case 8: return number(last_line(c));
      case 11: return number(outer ? static_cast<i64>(outer->call_line) : last_line(c));
      case 12: return number(c->text_tag[0]);
      case 13: return number(c->text_tag[1]);
      case 16: return number(c->block_a_depth);
      case 17: return number(c->call_depth);
      case 18: return number(c->block_b_depth);
      case 7: return number(c->script_no);
      case 10: return number(outer ? outer->return_script : c->script_no);
      default: return text(task_query_text(c));
    }
  }
  return 0;
}

std::string task_query_text(const ScriptContext* ctx) { return encode_task_state(ctx); }
