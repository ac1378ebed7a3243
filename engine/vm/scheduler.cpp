// The task scheduler, the command step with the engine pause, the script
// clocks and the error position of the current task.
#include "engine/vm/scheduler.h"
#include "engine/vm/engine_pause.h"

#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/messages.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/sysvars.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/sync.h"
#include "platform/ui.h"

SchedulerState g_scheduler = {0, 0, nullptr, nullptr, 0, 0, 1, 0, 0};
EngineClocks g_engine_clocks = {0, 0, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}};

namespace {

constexpr u32 kFailed = static_cast<u32>(-1);
std::vector<ObjectNode*> g_retired;

// True while node is still a child of group (detached nodes keep their
// parent pointer but leave the list).
bool still_child(const ObjectNode* group, const ObjectNode* node) {
  return node->parent == group && (node->prev || node->next || group->first_child == node);
}

// Debug mode: the mouse parked in all four corners of window 0 asks whether
// to end the run.
void check_debug_corners() {
  SchedulerState& s = g_scheduler;
  if (++s.instruction_counter % 1024 != 0) return;
  int x = 0, y = 0;
  UiWindow main = main_window_handle();
  if (main == kNoWindow || g_platform.ui->get_cursor_pos(main, &x, &y) != 0) return;
  i32 w = 0, h = 0;
  get_logical_screen_size(&w, &h);
  if (x <= 8 && y <= 8) s.corner_mask |= 1;
  if (x <= 8 && y >= h - 9) s.corner_mask |= 2;
  if (x >= w - 9 && y <= 8) s.corner_mask |= 4;
  if (x >= w - 9 && y >= h - 9) s.corner_mask |= 8;
  if (s.corner_mask != 15) return;
  s.corner_mask = 0;
  std::string text = std::string(sjis_message("マウスによる画面四隅への移動を検出しました。")) + "\n\n" +
                     sjis_message("強制的に終了します。よろしいですか？");
  int answer = g_platform.ui->message_box(main, text.c_str(), sjis_message("[デバッグ機能]"),
                                          ui::kMbYesNo | ui::kMbIconInformation);
  if (answer == ui::kIdYes) g_quit_requested = 1;
}

// Points the decoder at instruction p of the script.
void select_instruction(const ScriptRecord* s, u32 p) {
  CurrentInstruction& in = g_current_instruction;
  in.command_id = s->command_ids[p];
  in.records = s->first_records[p];
  in.record_count = s->arg_counts[p];
  in.expr_pool = s->expr_pool;
  in.expr_pool_size = s->expr_pool_size;
}

int position_hook(std::string* file, u32* line) {
  const ScriptContext* c = g_scheduler.current_context;
  if (!c) return 0;
  if (c->script_no < g_engine_data.scripts.size()) *file = g_engine_data.scripts[c->script_no].source_name;
  else file->clear();
  const ScriptRecord* s = c->script;
  u32 pc = g_scheduler.current_pc;
  *line = s && pc < s->instruction_count ? s->source_lines[pc] : 0;
  return 1;
}

int pump_gate() { return g_frame_thread_mode ? 0 : 1; }

}  // namespace

void install_script_position_hook() { set_script_position_hook(position_hook); }

void reset_scheduler() {
  free_retired_tasks();
  g_scheduler = SchedulerState{0, 0, nullptr, nullptr, 0, 0, 1, 0, 0};
  g_engine_clocks = EngineClocks{0, 0, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}};
}

void retire_task(ObjectNode* node) {
  if (!node) return;
  object_detach(node);
  for (ObjectNode* n : g_retired)
    if (n == node) return;
  g_retired.push_back(node);
}

void free_retired_tasks() {
  for (ObjectNode* n : g_retired) object_subtree_free(n);
  g_retired.clear();
}

int apply_pending_text_reset(ScriptContext* ctx) {
  if (!ctx->text_reset_pending) return 0;
  ctx->text_reset_pending = 0;
  if (g_text_record) {
    g_text_record->pending_reset = 1;
    clear_text_record();
  }
  return 0;
}

u32 run_task_turn(ScriptContext* ctx, ObjectNode* node) {
  SchedulerState& s = g_scheduler;
  s.current_context = ctx;
  s.current_task = node;
  u32 result = 0;
  s.last_result = 0;
  const bool debug = g_engine_config.debug_mode != 0;
  while (!g_quit_requested && (result & 0xFF) == 0) {
    const ScriptRecord* script = ctx->script;
    u32 p = ctx->pc;
    s.current_pc = p;
    // A pc at or past the end (a script without its closing command, a
    // jump past the end) ends the turn with a report, never a read outside.
    if (!script || p >= script->instruction_count) {
      report_error_at(kErrScriptPcOutside, 1, p);
      result = kFailed;
      break;
    }
    ctx->pc = p + 1;
    select_instruction(script, p);
    u32 k = (s.run_while_inactive != 0 || !g_engine_clocks.paused) ? 1 : 0;
    result = script->handler_tables[k][p]();
    if (debug) check_debug_corners();
    // A handler may have freed the context (a task that stopped itself is
    // only retired, so ctx stays valid until the pass ends).
  }
  s.last_result = static_cast<u8>(result);
  return result;
}

int run_task_group(ObjectNode* group) {
  SchedulerState& s = g_scheduler;
  // The children as the pass begins, highest order key (and among equal
  // keys the last created) first. Tasks started during the pass wait for
  // the next pass; tasks stopped during it are passed over.
  std::vector<ObjectNode*> children;
  children.reserve(group->child_count);
  for (ObjectNode* c = group->last_child; c; c = c->prev) children.push_back(c);
  for (ObjectNode* child : children) {
    if (g_quit_requested) break;
    if (!still_child(group, child)) continue;
    if (g_run_again_request == 0 && s.priority_limit != 0) {
      if (child->order_key > s.priority_limit) continue;
      s.priority_limit = 0;
    }
    ScriptContext* ctx = task_context(child);
    if (child->is_group) {
      if (ctx && (!ctx->enable_a || !ctx->enable_b)) continue;
      run_task_group(child);
      continue;
    }
    if (!ctx || !ctx->enable_a || !ctx->enable_b) continue;
    s.current_context = ctx;
    s.current_task = child;
    ctx->turn_stamp = s.frame_counter;
    apply_pending_text_reset(ctx);
    if (ctx->wait_frames) --ctx->wait_frames;
    if (ctx->wake_pending && static_cast<i32>(g_platform.clock->now_ms() - ctx->wake_time) >= 0) {
      ctx->wake_pending = 0;
      ctx->wake_time = 0;
    }
    if (ctx->wait_frames || ctx->wake_pending) continue;
    run_task_turn(ctx, child);
  }
  return 0;
}

int run_script_tasks() {
  SchedulerState& s = g_scheduler;
  ObjectNode* root = g_object_roots[kTreeTask];
  if (!root) return 0;
  s.frame_counter = g_pacing.frame_counter;
  // A limit that was in force for this pass ends with it: a limit below
  // every order key would otherwise hold every task back for good.
  bool limit_in_force = g_run_again_request == 0 && s.priority_limit != 0;
  run_task_group(root);
  if (limit_in_force && g_run_again_request == 0) s.priority_limit = 0;
  s.current_context = nullptr;
  s.current_task = nullptr;
  free_retired_tasks();
  return 0;
}

u32 run_command_step() {
  SchedulerState& s = g_scheduler;
  while (g_engine_clocks.paused) {
    update_engine_pause();
    if (!g_engine_clocks.paused) break;
    if (pump_window_messages(pump_gate)) {
      g_run_flag = 0;
      return 1;
    }
    if (!g_run_flag || g_quit_requested) return 1;
    g_platform.clock->sleep_ms(10);
  }
  const ScriptContext* ctx = s.current_context;
  const ScriptRecord* script = ctx ? ctx->script : nullptr;
  if (!script || s.current_pc >= script->instruction_count) return kFailed;
  return script->handler_tables[1][s.current_pc]();
}

void update_engine_pause() {
  if (g_scheduler.run_while_inactive == 0) {
    bool active = g_windows[0] && g_windows[0]->focused;
    if (!active && !g_engine_clocks.paused) engine_clock_pause();
    else if (active && g_engine_clocks.paused) engine_clock_resume();
  } else if (g_engine_clocks.paused) {
    // Running in the background: the pause ends; the time it stood is not
    // counted, like any other hold.
    engine_clock_resume();
  }
}

void engine_clock_pause() {
  EngineLockGuard lock;
  if (g_engine_clocks.paused) return;
  g_engine_clocks.paused = 1;
  g_engine_clocks.pause_start = g_platform.clock->now_ms();
  game_clock_hold(kClockHoldEngine);
}

void engine_clock_resume() {
  EngineLockGuard lock;
  EngineClocks& c = g_engine_clocks;
  if (!c.paused) return;
  c.paused = 0;
  c.pause_start = 0;
  game_clock_release(kClockHoldEngine);
}

u32 game_clock_time_locked() {
  const EngineClocks& c = g_engine_clocks;
  return c.holders ? c.hold_start : g_platform.clock->now_ms();
}

void reset_engine_clocks() {
  EngineLockGuard lock;
  u32 now = g_platform.clock->now_ms();
  for (int i = 0; i < 4; ++i) {
    g_engine_clocks.offset[i] = now;
    g_engine_clocks.running[i] = 1;
    g_engine_clocks.stop_time[i] = now;
  }
  g_engine_clocks.holders = 0;
  g_engine_clocks.hold_start = 0;
}

i64 sv_script_clock(u32 n) {
  if (n > 3) return 0;
  EngineLockGuard lock;
  const EngineClocks& c = g_engine_clocks;
  u32 at = c.running[n] ? game_clock_time_locked() : c.stop_time[n];
  return static_cast<i64>(static_cast<u32>(at - c.offset[n]));
}

u64 sv_scheduler_frame_counter() { return g_scheduler.frame_counter; }

int engine_pause_flag() { return g_engine_clocks.paused; }
int engine_runs_in_background() { return g_scheduler.run_while_inactive; }
