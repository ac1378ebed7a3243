#include "engine/frame/input.h"

#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/window.h"
#include "platform/clock.h"
#include "platform/cursor.h"
#include "platform/joysticks.h"
#include "platform/platform.h"
#include "platform/ui.h"

InputState g_input = {};
InputSwitches g_input_switches;
CursorState g_cursor;
WindowMapping g_window0_mapping;
u8 g_menu_strip_shown = 0;

namespace {

// The keyboard keys whose counters advance, in order.
constexpr u8 kCountedKeys[] = {
    8, 9, 13, 16, 17, 18, 19, 27, 32, 33, 34, 35, 36, 37, 38, 39, 40,
    44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57,
    65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90,
    96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117,
    118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135,
    144, 145, 160, 161, 162, 163, 164, 165, 186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222, 226};
static_assert(sizeof(kCountedKeys) == 117, "the keyboard has 117 counted keys");

JoystickReading g_joy_records[kJoystickMax];
u8 g_joy_connected[kJoystickMax];

using KeyOp = void (*)(u32 key);
void key_count_up(u32 k) { g_input.counters[k] -= 1; }
void key_pressed(u32 k) {
  g_input.counters[k] = 1;
  g_input.phases[k] = kKeyPhaseDown;
  g_input.press_counts[k] += 1;
}
void key_released(u32 k) {
  g_input.counters[k] = -1;
  g_input.phases[k] = kKeyPhaseUp;
}
void key_count_down(u32 k) { g_input.counters[k] += 1; }
// Indexed by phase (0 up, 1 down) * 2 + down now.
KeyOp g_key_ops[4] = {key_count_up, key_pressed, key_released, key_count_down};

const PlatformJoysticks* joysticks() {
  return g_platform.joysticks ? g_platform.joysticks : &kFakeJoysticks;
}

// Division rounding toward minus infinity, so that a cursor left of or
// above the image never reads as inside it.
i32 floor_div(i64 a, i64 b) {
  i64 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) q -= 1;
  return static_cast<i32>(q);
}

bool down(u32 key) { return (g_input.keys[key] & 0x80) != 0; }

}  // namespace

void init_key_counter_callbacks() {
  g_key_ops[0] = key_count_up;
  g_key_ops[1] = key_pressed;
  g_key_ops[2] = key_released;
  g_key_ops[3] = key_count_down;
}

void advance_key(u32 key, bool is_down) {
  if (key >= kInputKeyCount) return;
  int phase = g_input.phases[key] == kKeyPhaseDown ? 1 : 0;
  g_key_ops[phase * 2 + (is_down ? 1 : 0)](key);
}

void reset_input_state() {
  std::memset(&g_input, 0, sizeof(g_input));
  g_input.focused_window = -1;
  for (JoystickReading& r : g_joy_records) r = JoystickReading{};
  std::memset(g_joy_connected, 0, sizeof(g_joy_connected));
}

void set_input_switches(const i64* mouse_word, const i64* keys_word) {
  if (mouse_word) g_input_switches.mouse = *mouse_word != 0 ? 1 : 0;
  if (keys_word) {
    g_input_switches.keyboard = *keys_word != 0 ? 1 : 0;
    g_input_switches.joystick = g_input_switches.keyboard;
  }
}

void request_cursor_visible() {
  if (g_cursor.forced_visible) return;
  g_cursor.hidden = 0;
  g_cursor.hide_marked = 0;
  g_cursor.request = kCursorRequestShow;
  g_cursor.forced_visible = 1;
}

void apply_cursor_request() {
  u8 r = g_cursor.request;
  g_cursor.request = kCursorRequestNone;
  const PlatformCursor* c = g_platform.cursor;
  if (!c || r == kCursorRequestNone) return;
  c->show_cursor(r == kCursorRequestShow ? 1 : 0);
}

void set_cursor_shown_switch(u8 value) {
  u8 v = value ? 1 : 0;
  if (g_cursor.shown_switch && !v) {
    g_cursor.request = kCursorRequestHide;
    g_cursor.forced_visible = 0;
  } else if (!g_cursor.shown_switch && v) {
    g_cursor.request = kCursorRequestShow;
    g_cursor.forced_visible = 1;
  }
  g_cursor.shown_switch = v;
}

int init_joystick() {
  int n = joysticks()->open();
  if (n < 0) n = 0;
  if (n > static_cast<int>(kJoystickMax)) n = kJoystickMax;
  g_joystick_count = static_cast<u32>(n);
  return n > 0 ? 1 : 0;
}

void poll_window_input() {
  const PlatformUi* u = g_platform.ui;
  i32 focused = -1;
  for (int i = 0; i < kWindowCount; ++i) {
    if (g_windows[i] && g_windows[i]->focused) {
      focused = i;
      break;
    }
  }
  g_input.focused_window = focused;
  if (focused < 0) {
    std::memset(g_input.keys, 0, sizeof(g_input.keys));
    return;
  }
  u->get_keyboard_state(g_input.keys);
  for (int i = 0; i < kWindowCount; ++i) read_window_cursor(i);
}

void read_window_cursor(int index) {
  if (index < 0 || index >= kWindowCount) return;
  const PlatformUi* u = g_platform.ui;
  WindowRecord* r = g_windows[index];
  if (!r) return;
  if (r->handle == kNoWindow) {
    r->mouse_x = r->mouse_y = 0;
    r->outside = r->outside_margin = 1;
    return;
  }
  int cx = 0, cy = 0;
  if (u->get_cursor_pos(r->handle, &cx, &cy) != 0) return;
  i64 x = cx, y = cy;
  i64 mx = 0, my = 0;
  if (index == 0) {
    const WindowMapping& m = g_window0_mapping;
    x -= m.offset_x;
    y -= m.offset_y;
    if (m.display_width > 0) {
      x = floor_div(x * r->logical_width, m.display_width);
      mx = static_cast<i64>(m.offset_x) * r->logical_width / m.display_width;
    }
    if (m.display_height > 0) {
      y = floor_div(y * r->logical_height, m.display_height);
      my = static_cast<i64>(m.offset_y) * r->logical_height / m.display_height;
    }
  }
  r->mouse_x = static_cast<i32>(x);
  r->mouse_y = static_cast<i32>(y);
  r->outside = 0;
  r->outside_margin = 0;
  if (x >= 0 && y >= 0 && x < r->logical_width && y < r->logical_height) return;
  r->outside = 1;
  if (x < -mx || y < -my || x >= mx + r->logical_width || y >= my + r->logical_height) r->outside_margin = 1;
}

void poll_joysticks() {
  std::memset(g_joy_connected, 0, sizeof(g_joy_connected));
  u32 count = g_joystick_count < kJoystickMax ? g_joystick_count : kJoystickMax;
  for (u32 j = 0; j < count; ++j) {
    u8* keys = g_input.keys + kJoystickKeyBase + kJoystickKeys * j;
    JoystickReading r;
    if (joysticks()->read(static_cast<int>(j), &r) == kJoyErrNoError) {
      g_joy_records[j] = r;
      g_joy_connected[j] = 1;
      keys[0] = r.y < 32767 ? 0x80 : 0;
      keys[1] = r.y >= 32768 ? 0x80 : 0;
      keys[2] = r.x < 32767 ? 0x80 : 0;
      keys[3] = r.x >= 32768 ? 0x80 : 0;
      for (u32 b = 0; b < 32; ++b) keys[4 + b] = (r.buttons >> b) & 1u ? 0x80 : 0;
    } else {
      // A pad that is gone reads as released, not as held for ever.
      std::memset(keys, 0, kJoystickKeys);
    }
    for (u32 k = 0; k < kJoystickKeys; ++k)
      advance_key(kJoystickKeyBase + kJoystickKeys * j + k, (keys[k] & 0x80) != 0);
  }
}

namespace {

void update_cursor_hide(u32 now) {
  WindowRecord* w = g_windows[0];
  if (!w) return;
  CursorState& c = g_cursor;
  if (c.auto_hide) {
    if (!c.hidden && !c.hide_marked && g_input.counters[0] > 0) {
      c.hide_marked = 1;
      c.hide_mark_time = now;
    }
    if (c.hide_marked && c.mode == 1 && static_cast<i32>(now - (c.hide_mark_time + c.hide_delay_ms)) > 0) {
      c.hide_marked = 0;
      c.hidden = 1;
      c.request = kCursorRequestHide;
      c.forced_visible = 0;
    }
  }
  bool activity = w->outside_margin || g_menu_strip_shown ||
                  (w->input_flags[0] && g_input.counters[7] > 0) ||
                  (w->input_flags[1] && (g_input.counters[1] > 0 || g_input.counters[2] > 0 ||
                                         g_input.counters[4] > 0)) ||
                  (w->input_flags[2] && (g_input.counters[5] > 0 || g_input.counters[6] > 0));
  if (activity) {
    c.hide_marked = 0;
    if (c.hidden) {
      c.hidden = 0;
      request_cursor_visible();
    }
  }
  apply_cursor_request();
}

}  // namespace

void update_input_state() {
  const PlatformUi* u = g_platform.ui;
  u8 clicks = g_window_input.pressed_keys.exchange(0);
  i16 wheel = g_window_input.wheel_delta.exchange(0);
  u8 moved = g_window_input.mouse_moved_mark.exchange(0);
  if (g_input_switches.mouse) {
    // Keys 5-7 are ours, not the extra mouse buttons the keyboard state
    // reports under the same codes.
    g_input.keys[5] = g_input.keys[6] = g_input.keys[7] = 0;
    i32 f = g_input.focused_window;
    if (f >= 0 && g_windows[f]) {
      if (g_windows[f]->outside_margin) {
        for (u32 k : {1u, 2u, 4u, 5u, 6u, 7u})
          if (g_input.counters[k] <= 0) g_input.keys[k] = 0;
      } else {
        // A click whose down and up both came between two polls.
        for (u32 k : {1u, 2u, 4u})
          if (clicks & k) g_input.keys[k] |= 0x80;
        if (wheel > 0) g_input.keys[5] = 0x80;
        if (wheel < 0) g_input.keys[6] = 0x80;
        g_input.keys[7] = moved;
      }
    }
    // Without the focus the table is clear, so held buttons are released.
    for (u32 k = 1; k <= 7; ++k) advance_key(k, down(k));
  }
  if (g_input_switches.keyboard) {
    bool any = false;
    for (u8 k : kCountedKeys) {
      bool d = down(k);
      any = any || d;
      advance_key(k, d);
    }
    advance_key(0, any);
  }
  if (g_input_switches.joystick) poll_joysticks();
  update_cursor_hide(g_pacing.pacing_clock ? g_pacing.pacing_clock : g_platform.clock->now_ms());
  for (int i = 0; i < kWindowCount; ++i) {
    WindowRecord* r = g_windows[i];
    if (r && r->handle != kNoWindow && r->focused && u->is_iconic(r->handle)) r->focused = 0;
  }
  // The engine pauses while its main window is inactive (switch 20011,
  // command 93) and resumes once it is active again; the scripts then wait in
  // the command step, and the game clocks stand still.
  update_engine_pause();
  u8 pressed = g_window_input.pressed_window.exchange(0);
  if (pressed >= 1 && pressed <= kWindowCount && g_windows[pressed - 1] &&
      g_windows[pressed - 1]->handle != kNoWindow) {
    // Hit-test code 2: the caption, so that the desktop drags the window.
    u->post_message(g_windows[pressed - 1]->handle, ui::kWmNcLButtonDown, 2, g_window_input.press_position);
  }
}

i64 input_key_counter(u32 set, u32 index) {
  if (index >= kInputKeyCount) return 0;
  return set == 0 ? g_input.counters[index] : static_cast<i64>(g_input.press_counts[index]);
}

void input_set_key_counter(u32 set, u32 index, i64 value) {
  if (index >= kInputKeyCount) return;
  if (set == 0) g_input.counters[index] = value;
  else g_input.press_counts[index] = static_cast<u64>(value);
}

int input_key_down(u32 index) { return index < kInputKeyCount && down(index) ? 1 : 0; }
