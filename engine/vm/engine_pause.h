// What the engine's pause and background switches say, for the parts that
// follow them without reaching into the scheduler (the sound thread mutes
// while the engine is paused or, unless it runs in the background, while
// its window is inactive). Read without the lock: single bytes.
#pragma once

// 1 while the engine is paused.
int engine_pause_flag();
// 1 when the scripts run on while the main window is inactive.
int engine_runs_in_background();
