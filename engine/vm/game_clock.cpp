// The holds on the game clocks: the engine pause, the scripts' pause, a
// caption drag, the close confirmation and the error dialog. The clocks
// stand while any holder holds them; when the last lets go, the time they
// stood is added once to the offset of every running clock.
#include "engine/frame/engine_steps.h"
#include "platform/sync.h"
#include "engine/vm/scheduler.h"
#include "platform/clock.h"
#include "platform/platform.h"

void game_clock_hold(u32 holder) {
  EngineLockGuard lock;
  EngineClocks& c = g_engine_clocks;
  if (c.holders == 0) c.hold_start = g_platform.clock->now_ms();
  c.holders |= holder;
}

void game_clock_release(u32 holder) {
  EngineLockGuard lock;
  EngineClocks& c = g_engine_clocks;
  if ((c.holders & holder) == 0) return;
  c.holders &= ~holder;
  if (c.holders) return;
  u32 d = g_platform.clock->now_ms() - c.hold_start;
  for (int i = 0; i < 4; ++i)
    if (c.running[i]) c.offset[i] += d;
  c.hold_start = 0;
}
