// Input as the scripts see it: a table of keys with frame counters. Once per
// pass of the main loop poll_window_input reads the focus, the keyboard and
// every window's mouse position; once per frame update_input_state turns
// mouse buttons, wheel, movement, the keyboard and the joysticks into key
// presses and advances every key's counter.
//
// Key numbers: 0 any key, 1 / 2 / 4 left / right / middle button, 5 wheel
// up, 6 wheel down, 7 mouse moved, the other keys below 256 the Windows
// virtual-key codes; joystick j (0..15) owns keys 384 + 36 j .. + 35: up,
// down, left, right, then buttons 1 to 32.
#pragma once
#include "engine/frame/types.h"

constexpr u32 kKeyTableSize = 1024;
constexpr u32 kJoystickMax = 16;
constexpr u32 kJoystickKeyBase = 384;
constexpr u32 kJoystickKeys = 36;
// Keys with a counter: the 384 of the keyboard and mouse, and the joysticks'.
constexpr u32 kInputKeyCount = kJoystickKeyBase + kJoystickKeys * kJoystickMax;

constexpr u8 kKeyPhaseUp = 0;
constexpr u8 kKeyPhaseDown = 2;

struct InputState {
  u8 keys[kKeyTableSize];  // bit 7: down now
  // Positive n: down for n frames; negative -n: up for n frames.
  i64 counters[kInputKeyCount];
  u8 phases[kInputKeyCount];
  u64 press_counts[kInputKeyCount];  // presses since start
  i32 focused_window;                // -1: none of the 4 windows
};
extern InputState g_input;

// The input switches of the input command: mouse buttons, wheel and
// movement; keyboard keys; joysticks. All on at start.
struct InputSwitches {
  u8 mouse = 1;
  u8 keyboard = 1;
  u8 joystick = 1;
};
extern InputSwitches g_input_switches;

// What the input command's two switch words change: the first the mouse
// switch, the second the keyboard and the joystick switches (the keys the
// scripts read through the key map). A value is on when non-zero.
void set_input_switches(const i64* mouse_word, const i64* keys_word);

// The cursor: its visibility mode (0 left alone, 1 hidden after a while
// without mouse activity, 2 always shown), the ShowCursor request the frame
// carries out, and the auto-hide state of window 0.
constexpr u8 kCursorRequestNone = 0;
constexpr u8 kCursorRequestShow = 1;
constexpr u8 kCursorRequestHide = 2;
struct CursorState {
  u8 mode = 1;
  u8 request = kCursorRequestNone;
  u8 forced_visible = 0;  // a show request of ours is in effect
  u8 auto_hide = 1;
  u32 hide_delay_ms = 2500;
  u8 hide_marked = 0;     // key activity seen: hide once the delay has passed
  u32 hide_mark_time = 0;
  u8 hidden = 0;          // hidden by the auto-hide
  u8 shown_switch = 1;    // the input command's cursor-shown switch
};
extern CursorState g_cursor;

// Asks for the cursor to be shown unless a show of ours is already in
// effect; clears the auto-hide.
void request_cursor_visible();
// Carries out the pending request (ShowCursor) and clears it.
void apply_cursor_request();
// The input command's cursor-shown switch: 1 -> 0 asks for "hide", 0 -> 1
// asks for "show"; the value is kept.
void set_cursor_shown_switch(u8 value);

// Window 0's mapping from client pixels to logical pixels, kept by
// presentation: where the image starts in the client area, and the size it
// is shown at (0: not scaled).
struct WindowMapping {
  i32 offset_x = 0, offset_y = 0;
  i32 display_width = 0, display_height = 0;
};
extern WindowMapping g_window0_mapping;

// The menu strip shown in full screen (the auto-hide shows the cursor).
extern u8 g_menu_strip_shown;

// Key counter operations through their table, by (phase, down now).
void advance_key(u32 key, bool down);
// Advances the 36 keys of joystick j from its record.
void poll_joysticks();
// Reads window index's cursor position into its record in logical pixels,
// with its outside and outside-margin flags (poll_window_input does this
// for each window).
void read_window_cursor(int index);
// Clears the whole table, counters, press counts and joystick records
// (start-up).
void reset_input_state();
// Key counters for the scripts: set 0 the frame counters, set 1 the press
// counts. index < kInputKeyCount; others read 0 and write nothing.
i64 input_key_counter(u32 set, u32 index);
void input_set_key_counter(u32 set, u32 index, i64 value);
int input_key_down(u32 index);
