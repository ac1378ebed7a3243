// Steps of parts not built yet: each does nothing and reports success.
// A part that builds a step deletes it here and defines it in its own file.
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_state.h"

void init_key_counter_callbacks() {}
int init_joystick() { return 0; }
void load_optional_plugins() {}
void clear_save_data_cache() {}
int init_d3d() { return 0; }
void theora_movie_step() {}
void update_input_state() {}
void poll_window_input() {}
int frame_draw_allowed() { return 1; }
void update_fullscreen_menu_strip() {}
void show_pending_popup_menu() {}
int emote_motion_active() { return 0; }
void advance_emote_times(u32 elapsed_ms) {}
void release_emote() {}
void release_d3d() {}
void stop_movies() {}
void destroy_menu_sets() {}
void leave_full_screen() {}
void restore_cursor() {}
void free_memory_save_slots() {}
void close_flash_host() {}
void unload_optional_plugins() {}
void window_geometry_message(int window, u32 message, u64 wparam, i64 lparam) {}
int window_pixel_opaque(int window, i32 x, i32 y) { return 0; }
void destroy_main_menus() {}
int enter_full_screen() { return -1; }
