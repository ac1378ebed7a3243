// System-variable accessors whose owners are not built yet: each reads 0 or
// the empty text. An owner deletes the accessor's line here and defines it in
// its own file.
#include "engine/vm/sysvars.h"

void sv_local_time(i32 fields[8]) {
  for (int i = 0; i < 8; ++i) fields[i] = 0;
}
void sv_memory_status(i64 out[3]) { out[0] = out[1] = out[2] = 0; }
u64 sv_render_frame_counter() { return 0; }
i64 sv_direct3d_configured() { return 0; }
i64 sv_mouse_x(u32 window) { return 0; }
i64 sv_mouse_y(u32 window) { return 0; }
i64 sv_key_counter(u32 set, u32 index) { return 0; }
void sv_set_key_counter(u32 set, u32 index, i64 value) {}
int sv_key_down(u32 index) { return 0; }
const char* sv_save_folder() { return ""; }
const char* sv_text_record_field(u32 n) { return ""; }
