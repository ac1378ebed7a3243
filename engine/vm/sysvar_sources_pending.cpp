// System-variable accessors whose owners are not built yet: each reads 0 or
// the empty text. An owner deletes the accessor's line here and defines it in
// its own file.
#include "engine/vm/sysvars.h"

void sv_local_time(i32 fields[8]) {
  for (int i = 0; i < 8; ++i) fields[i] = 0;
}
i64 sv_script_clock(u32 n) { return 0; }
i64 sv_sound_on() { return 0; }
void sv_memory_status(i64 out[3]) { out[0] = out[1] = out[2] = 0; }
i64 sv_debug_mode() { return 0; }
i64 sv_block_b_depth() { return 0; }
i64 sv_call_value_int(u32 set, u32 k) { return 0; }
double sv_call_value_float(u32 set, u32 k) { return 0.0; }
const char* sv_call_value_text(u32 set, u32 k) { return ""; }
i64 sv_task_slot_int(u32 k) { return 0; }
double sv_task_slot_float(u32 k) { return 0.0; }
const char* sv_task_slot_text(u32 k) { return ""; }
u64 sv_render_frame_counter() { return 0; }
u64 sv_scheduler_frame_counter() { return 0; }
i64 sv_direct3d_configured() { return 0; }
i64 sv_mouse_x(u32 window) { return 0; }
i64 sv_mouse_y(u32 window) { return 0; }
i64 sv_key_counter(u32 set, u32 index) { return 0; }
const char* sv_file_name_entry(i64 element) { return nullptr; }
const char* sv_save_folder() { return ""; }
const char* sv_text_record_field(u32 n) { return ""; }
const char* sv_current_task_name() { return ""; }
