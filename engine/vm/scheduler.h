// The task scheduler: one pass over the task tree, highest order key first,
// giving each ready task a turn that runs its instructions until a handler
// yields; the per-instruction step that holds scripts while the engine is
// paused; the four script clocks.
#pragma once
#include "engine/frame/types.h"

struct ObjectNode;
struct ScriptContext;

struct SchedulerState {
  u64 frame_counter;     // the frame loop's counter at the last pass
  i64 priority_limit;    // 0 = none
  ScriptContext* current_context;
  ObjectNode* current_task;
  u32 current_pc;        // index of the instruction being executed
  u8 last_result;
  u8 run_while_inactive; // 1 at start
  u64 instruction_counter;  // debug mode
  u8 corner_mask;           // debug mode: corners the mouse has visited
};
extern SchedulerState g_scheduler;

// The pause flag, its start time and the four script clocks; changed only
// under the engine lock.
struct EngineClocks {
  u8 paused;
  u32 pause_start;
  u32 offset[4];
  u8 running[4];
  u32 stop_time[4];  // clock value when a clock was stopped
  u32 holders = 0;     // kClockHold* bits of those that hold the clocks still
  u32 hold_start = 0;  // millisecond time when the first of them began
};
// The millisecond time the game clocks read: the time they began to stand
// while held, else now. Call under the engine lock.
u32 game_clock_time_locked();
extern EngineClocks g_engine_clocks;

// One pass over the tasks below group. 0.
int run_task_group(ObjectNode* group);
// Entry of handler table 0: waits while the engine is paused, then calls the
// instruction's bound handler.
u32 run_command_step();
int apply_pending_text_reset(ScriptContext* ctx);
void update_engine_pause();

// Runs one turn of ctx (the task node may be null in tests): its
// instructions until one yields or quit is requested. The handler result.
u32 run_task_turn(ScriptContext* ctx, ObjectNode* node);

// Detaches a task node from the task tree; it and its context are freed
// after the current pass (never under the walk that may still visit it).
// Every command that ends a task goes through here rather than freeing it.
void retire_task(ObjectNode* node);
// Frees the retired tasks now.
void free_retired_tasks();

// Fills the reporter's position hook (script file and line of the current
// task's instruction).
void install_script_position_hook();
// Clears the scheduler state and frees the retired tasks (shut-down).
void reset_scheduler();
