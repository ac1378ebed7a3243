// Steps of parts not built yet: each does nothing and reports success.
// A part that builds a step deletes it here and defines it in its own file.
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_state.h"

void clear_save_data_cache() {}
int emote_motion_active() { return 0; }
void advance_emote_times(u32 elapsed_ms) {}
void release_emote() {}
void free_memory_save_slots() {}
