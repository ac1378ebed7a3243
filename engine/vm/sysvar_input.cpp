// System variables read from the input state of the engine frame: the mouse
// positions and the key counters.
#include "engine/frame/input.h"
#include "engine/frame/window.h"
#include "engine/vm/sysvars.h"

i64 sv_mouse_x(u32 window) { return window < kWindowCount && g_windows[window] ? g_windows[window]->mouse_x : 0; }
i64 sv_mouse_y(u32 window) { return window < kWindowCount && g_windows[window] ? g_windows[window]->mouse_y : 0; }
i64 sv_key_counter(u32 set, u32 index) { return input_key_counter(set, index); }
void sv_set_key_counter(u32 set, u32 index, i64 value) { input_set_key_counter(set, index, value); }
int sv_key_down(u32 index) { return input_key_down(index); }
