// The game clocks' pause while a box or dialog is open (and the system
// command's pause and resume). It has a flag of its own: the engine pause of
// an inactive window is ended by the next instruction, this one only by its
// resume.
#include "engine/frame/engine_steps.h"
#include "platform/sync.h"
#include "engine/vm/scheduler.h"
#include "platform/clock.h"
#include "platform/platform.h"

namespace {
u8 g_game_paused = 0;
u32 g_game_pause_start = 0;
}  // namespace

void game_clock_pause() {
  EngineLockGuard lock;
  if (g_game_paused) return;
  g_game_paused = 1;
  g_game_pause_start = g_platform.clock->now_ms();
}

void game_clock_resume() {
  EngineLockGuard lock;
  if (!g_game_paused) return;
  g_game_paused = 0;
  u32 d = g_platform.clock->now_ms() - g_game_pause_start;
  for (int i = 0; i < 4; ++i)
    if (g_engine_clocks.running[i]) g_engine_clocks.offset[i] += d;
  g_game_pause_start = 0;
}
