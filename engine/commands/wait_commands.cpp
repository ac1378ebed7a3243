// Command 104: waits by frames or by milliseconds. The scheduler resumes the
// task when the wait is over.
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"

u32 cmd_wait() {
  constexpr u32 kTurnEnds = static_cast<u32>(-1);
  if (decode_command_args(104) != 0) return kTurnEnds;
  ScriptContext* c = g_scheduler.current_context;
  if (!c) return 0;
  i64 frames = arg_value(0);
  if (frames != 0) {
    c->wait_frames = static_cast<u32>(frames);
    return kTurnEnds;
  }
  i64 ms = arg_value(1);
  if (ms != 0) {
    set_task_timed_wait(c, static_cast<u32>(ms));
    return kTurnEnds;
  }
  return 0;
}
