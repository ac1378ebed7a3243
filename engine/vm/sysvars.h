// System variables: ids below 1000, computed when read. Values kept by the
// engine frame are read here directly; values that live in later subsystems
// are read through the named accessors below, each defined by its owner.
// Every element that selects an entry of a table is bounded here before an
// accessor sees it.
#pragma once
#include "engine/frame/types.h"

// Integer and float system variables (every id not assigned reads 0).
i64 sysvar_int(u32 id, i64 element);
double sysvar_float(u32 id, i64 element);
// Text system variables 12-131 into buffer (kExprTextSize bytes, NUL
// included); every other id gives the empty text.
void expr_read_system_value(u32 id, char* buffer, i64 element);

// Values the assignment command stores and the system variables read back.
struct SysvarStore {
  i32 value_15;          // variable 15
  u8 switches_117[4];    // variables 117-120, read sign-extended
  i32 value_145;         // unused: variable 145 is the menu command id of the windows
  i32 value_146;         // variable 146
  i64 counter_132;       // variable 132
  u32 ztt_value_124;     // variable 124, from the variable table header
};
extern SysvarStore g_sysvar_store;

// Key counters: the key table has 384 keys and 36 entries per joystick
// (16 joysticks), entries 384 + 36 * j onwards.
constexpr u32 kKeyCounterCount = 384 + 36 * 16;
// The counter entry of variables 276-280 (and 410-414, 543-547) for a
// variable offset (0-4) and element, or -1 when it lies outside the table.
i64 key_counter_entry(u32 offset, i64 element);

// ---- accessors defined by the subsystems that own the values ----
// Script clock n (0 = the game clock of variable 111, 1-3 = clocks 1-3) in
// milliseconds, paused time and stopped clocks taken into account.
i64 sv_script_clock(u32 n);
i64 sv_sound_on();                       // 1 when sound is on
i64 sv_debug_mode();                     // variable 11
i64 sv_block_b_depth();                  // current task's loop stack depth
// Call-frame values of the current subroutine level: set 0 the arguments
// passed in (53-55), set 1 the values returned into it (60-62); k is 1-16,
// the accessor gives 0 / "" past the frame's count of that kind.
i64 sv_call_value_int(u32 set, u32 k);
double sv_call_value_float(u32 set, u32 k);
const char* sv_call_value_text(u32 set, u32 k);
// The current task's argument slots, k 1-16 (67-69).
i64 sv_task_slot_int(u32 k);
double sv_task_slot_float(u32 k);
const char* sv_task_slot_text(u32 k);
u64 sv_render_frame_counter();           // 109: frames composed
u64 sv_scheduler_frame_counter();        // 110
i64 sv_mouse_x(u32 window);              // 133-137: windows 0, 0, 1, 2, 3
i64 sv_mouse_y(u32 window);              // 138-142
// Key counter of set 0 (first) or 1 (second); index < kKeyCounterCount.
i64 sv_key_counter(u32 set, u32 index);
// Writes key counter index of set 0 or 1 (index < kKeyCounterCount), and
// whether the key behind a counter is down now (the assignment command).
void sv_set_key_counter(u32 set, u32 index, i64 value);
int sv_key_down(u32 index);
// Entry of the engine's file-name list (14); null past its end.
const char* sv_file_name_entry(i64 element);
const char* sv_current_task_name();      // 125
