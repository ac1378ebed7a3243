#include <gtest/gtest.h>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/input.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/window.h"
#include "engine/vm/engine_pause.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/sysvars.h"
#include "platform/clock.h"
#include "platform/cursor.h"
#include "platform/joysticks.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {

std::int64_t quiet_proc(UiWindow, u32, u64, i64) { return 0; }

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ui_reset();
    fake_cursor_reset();
    fake_joysticks_reset();
    fake_clock_set(1000);
    g_pacing.pacing_clock = 0;
    free_window_records();
    ASSERT_EQ(create_window_records(), 0);
    reset_input_state();
    init_key_counter_callbacks();
    g_input_switches = InputSwitches{};
    g_cursor = CursorState{};
    g_window0_mapping = WindowMapping{};
    g_window_input.pressed_keys = 0;
    g_window_input.wheel_delta = 0;
    g_window_input.mouse_moved_mark = 0;
    g_window_input.pressed_window = 0;
    UiWindowDesc d;
    d.class_name = "input_test";
    d.client_width = 320;
    d.client_height = 240;
    d.proc = quiet_proc;
    w_ = g_platform.ui->create_window(&d);
    g_windows[0]->handle = w_;
    g_windows[0]->logical_width = 320;
    g_windows[0]->logical_height = 240;
    g_windows[0]->focused = 1;
    fake_ui_set_cursor(w_, 10, 10);
  }
  void TearDown() override {
    g_windows[0]->handle = kNoWindow;
    free_window_records();
    fake_ui_reset();
    g_joystick_count = 0;
  }
  // One pass of the main loop and one frame.
  void frame() {
    poll_window_input();
    update_input_state();
  }
  UiWindow w_ = kNoWindow;
};

TEST_F(InputTest, CountersPhasesAndPressCounts) {
  std::vector<i64> seen;
  fake_ui_set_key('A', 1);
  for (int i = 0; i < 3; ++i) {
    frame();
    seen.push_back(g_input.counters[u32{'A'}]);
  }
  EXPECT_EQ(g_input.counters[0], 3);  // any key
  fake_ui_set_key('A', 0);
  for (int i = 0; i < 2; ++i) {
    frame();
    seen.push_back(g_input.counters[u32{'A'}]);
  }
  EXPECT_EQ(seen, (std::vector<i64>{1, 2, 3, -1, -2}));
  EXPECT_EQ(g_input.counters[0], -2);
  EXPECT_EQ(input_key_counter(1, 'A'), 1);  // one press since start
  fake_ui_set_key('A', 1);
  frame();
  EXPECT_EQ(input_key_counter(1, 'A'), 2);
  EXPECT_EQ(input_key_down('A'), 1);
  // A key outside the 117 counted ones never counts (VK 0x3A is unassigned).
  fake_ui_set_key(0x3A, 1);
  frame();
  EXPECT_EQ(g_input.counters[0x3A], 0);
  // Out-of-table indexes read 0 and write nothing.
  EXPECT_EQ(input_key_counter(0, kInputKeyCount), 0);
  input_set_key_counter(0, kInputKeyCount, 5);
}

TEST_F(InputTest, WithoutFocusEverythingIsUpAndTheMouseIsNotRead) {
  fake_ui_set_key('Z', 1);
  fake_ui_set_key(ui::kVkLButton, 1);
  frame();
  frame();
  ASSERT_EQ(g_input.counters[u32{'Z'}], 2);
  ASSERT_EQ(g_input.counters[1], 2);
  g_windows[0]->focused = 0;
  fake_ui_set_cursor(w_, 50, 60);
  frame();
  EXPECT_EQ(g_input.focused_window, -1);
  EXPECT_EQ(g_input.counters[u32{'Z'}], -1);
  // A held button is released too, not frozen at a positive count.
  EXPECT_EQ(g_input.counters[1], -1);
  EXPECT_EQ(g_windows[0]->mouse_x, 10);
  EXPECT_EQ(g_windows[0]->mouse_y, 10);
}

TEST_F(InputTest, MousePositionsScalingAndMargins) {
  struct Case {
    const char* what;
    int ox, oy, dw, dh, cx, cy;
    i32 x, y;
    u8 outside, margin;
  } cases[] = {
      {"not scaled", 0, 0, 0, 0, 100, 50, 100, 50, 0, 0},
      {"shown at twice the size", 0, 0, 640, 480, 200, 100, 100, 50, 0, 0},
      // A pixel left of the image is outside, not rounded into column 0.
      {"left of a scaled image", 0, 0, 640, 480, -1, 10, -1, 5, 1, 1},
      {"in the letterbox margin", 40, 0, 640, 480, 20, 10, -10, 5, 1, 0},
      {"beyond the margin", 40, 0, 640, 480, -100, 10, -70, 5, 1, 1},
      {"right of the window", 0, 0, 0, 0, 320, 10, 320, 10, 1, 1},
  };
  for (const Case& c : cases) {
    g_window0_mapping = WindowMapping{c.ox, c.oy, c.dw, c.dh};
    fake_ui_set_cursor(w_, c.cx, c.cy);
    poll_window_input();
    EXPECT_EQ(g_windows[0]->mouse_x, c.x) << c.what;
    EXPECT_EQ(g_windows[0]->mouse_y, c.y) << c.what;
    EXPECT_EQ(g_windows[0]->outside, c.outside) << c.what;
    EXPECT_EQ(g_windows[0]->outside_margin, c.margin) << c.what;
  }
  // A record without a window reads outside at 0, 0.
  g_windows[1]->mouse_x = 7;
  poll_window_input();
  EXPECT_EQ(g_windows[1]->mouse_x, 0);
  EXPECT_EQ(g_windows[1]->outside_margin, 1);
}

TEST_F(InputTest, MouseKeysWheelMovementAndClicks) {
  // A press outside the margin does not start; a held button stays held.
  fake_ui_set_cursor(w_, 1000, 10);
  fake_ui_set_key(ui::kVkLButton, 1);
  frame();
  EXPECT_EQ(g_input.counters[1], -1);
  fake_ui_set_cursor(w_, 10, 10);
  frame();
  EXPECT_EQ(g_input.counters[1], 1);
  fake_ui_set_cursor(w_, 1000, 10);
  frame();
  EXPECT_EQ(g_input.counters[1], 2);
  fake_ui_set_key(ui::kVkLButton, 0);
  fake_ui_set_cursor(w_, 10, 10);
  frame();
  EXPECT_EQ(g_input.counters[1], -1);

  // The extra mouse buttons (VK 5 and 6) are not wheel steps.
  fake_ui_set_key(5, 1);
  frame();
  EXPECT_LT(g_input.counters[5], 0);
  fake_ui_set_key(5, 0);
  // The wheel and movement count for one frame.
  g_window_input.wheel_delta = -120;
  g_window_input.mouse_moved_mark = 128;
  frame();
  EXPECT_EQ(g_input.counters[6], 1);
  EXPECT_EQ(g_input.counters[7], 1);
  EXPECT_LT(g_input.counters[5], 0);
  frame();
  EXPECT_EQ(g_input.counters[6], -1);
  EXPECT_EQ(g_input.counters[7], -1);
  // A click whose down and up both came between two polls is seen.
  g_window_input.pressed_keys = 4;
  frame();
  EXPECT_EQ(g_input.counters[4], 1);
  frame();
  EXPECT_EQ(g_input.counters[4], -1);
}

TEST_F(InputTest, SwitchesStopTheirKeys) {
  fake_ui_set_key('Q', 1);
  fake_ui_set_key(ui::kVkRButton, 1);
  i64 off = 0, on = 1;
  set_input_switches(&off, nullptr);
  frame();
  EXPECT_EQ(g_input.counters[2], 0);
  EXPECT_EQ(g_input.counters[u32{'Q'}], 1);
  set_input_switches(&on, &off);
  frame();
  EXPECT_EQ(g_input.counters[2], 1);
  EXPECT_EQ(g_input.counters[u32{'Q'}], 1);
  EXPECT_EQ(g_input_switches.joystick, 0);
}

TEST_F(InputTest, JoystickDirectionsButtonsAndUnplugging) {
  fake_joysticks_set_count(2);
  ASSERT_EQ(init_joystick(), 1);
  EXPECT_EQ(g_joystick_count, 2u);
  struct Case {
    u32 x, y;
    bool up, down, left, right;
  } cases[] = {
      {32767, 32767, false, false, false, false},  // the centre is no direction
      {32768, 32768, false, true, false, true},
      {0, 65535, false, true, true, false},
      {65535, 0, true, false, false, true},
      {32766, 32766, true, false, true, false},
  };
  const u32 base = kJoystickKeyBase + kJoystickKeys;  // joystick 1
  for (const Case& c : cases) {
    fake_joysticks_set(1, c.x, c.y, 0);
    frame();
    EXPECT_EQ(input_key_down(base + 0), c.up) << c.x << "," << c.y;
    EXPECT_EQ(input_key_down(base + 1), c.down) << c.x << "," << c.y;
    EXPECT_EQ(input_key_down(base + 2), c.left) << c.x << "," << c.y;
    EXPECT_EQ(input_key_down(base + 3), c.right) << c.x << "," << c.y;
  }
  fake_joysticks_set(1, 32767, 32767, (1u << 0) | (1u << 31));
  frame();
  frame();
  EXPECT_EQ(g_input.counters[base + 4], 2);   // button 1
  EXPECT_EQ(g_input.counters[base + 35], 2);  // button 32
  EXPECT_LT(g_input.counters[base + 5], 0);
  // A pad pulled out while held is released.
  fake_joysticks_unplug(1, 1);
  frame();
  EXPECT_EQ(g_input.counters[base + 4], -1);
  EXPECT_EQ(g_input.counters[base + 35], -1);
  // Joystick 0 stays centred; a pad above the count is never read.
  EXPECT_LE(g_input.counters[kJoystickKeyBase + 1], 0);
  EXPECT_EQ(g_input.counters[kJoystickKeyBase + 2 * kJoystickKeys], 0);
}

TEST_F(InputTest, CursorHidesAfterTheDelayAndActivityShowsIt) {
  fake_ui_set_key('K', 1);
  frame();  // marked at 1000
  EXPECT_EQ(g_cursor.hide_marked, 1);
  fake_clock_set(1000 + 2500);
  frame();
  EXPECT_EQ(g_cursor.hidden, 0);  // the delay has not passed yet
  fake_clock_set(1000 + 2501);
  frame();
  EXPECT_EQ(g_cursor.hidden, 1);
  EXPECT_EQ(fake_cursor_display_count(), -1);
  // Movement shows it again (its switch is on by default).
  g_window_input.mouse_moved_mark = 128;
  frame();
  EXPECT_EQ(g_cursor.hidden, 0);
  EXPECT_EQ(fake_cursor_display_count(), 0);
  // Mode 2 never hides.
  fake_ui_set_key('K', 0);
  frame();
  g_cursor.mode = 2;
  fake_ui_set_key('K', 1);
  frame();
  fake_clock_set(100000);
  frame();
  EXPECT_EQ(g_cursor.hidden, 0);
}

TEST_F(InputTest, CursorShownSwitchBalancesShowAndHide) {
  set_cursor_shown_switch(0);
  apply_cursor_request();
  EXPECT_EQ(fake_cursor_display_count(), -1);
  set_cursor_shown_switch(0);  // no change, no request
  apply_cursor_request();
  EXPECT_EQ(fake_cursor_display_count(), -1);
  set_cursor_shown_switch(1);
  apply_cursor_request();
  EXPECT_EQ(fake_cursor_display_count(), 0);
  EXPECT_EQ(g_cursor.forced_visible, 1);
  request_cursor_visible();  // already forced: nothing more
  apply_cursor_request();
  EXPECT_EQ(fake_cursor_display_count(), 0);
}

TEST_F(InputTest, OpaquePressAsksTheDesktopToDragTheWindow) {
  g_window_input.pressed_window = 1;
  g_window_input.press_position = ui::make_lparam(5, 6);
  frame();
  UiMessage m;
  bool seen = false;
  while (g_platform.ui->peek_message(&m, 1))
    if (m.message == ui::kWmNcLButtonDown && m.wparam == 2 && m.lparam == ui::make_lparam(5, 6)) seen = true;
  EXPECT_TRUE(seen);
  EXPECT_EQ(g_window_input.pressed_window.load(), 0);
}

TEST_F(InputTest, OpaquePressMovesTheWindowUntilTheButtonIsLetGo) {
  // The main window's own procedure handles the posted caption press.
  UiWindowDesc d;
  d.class_name = "input_test_main";
  d.client_width = 320;
  d.client_height = 240;
  d.proc = main_wndproc;
  d.user_data = g_windows[0];
  UiWindow main = g_platform.ui->create_window(&d);
  ASSERT_NE(main, kNoWindow);
  g_windows[0]->handle = main;
  g_platform.ui->show_window(main, ui::kSwShow);
  g_window_config.clock_pause_on_drag = 1;
  auto pump = [] {
    UiMessage m;
    while (g_platform.ui->peek_message(&m, 1)) g_platform.ui->dispatch_message(&m);
  };
  pump();
  EXPECT_EQ(fake_ui_move_drags(main), 0);
  fake_ui_set_key(ui::kVkLButton, 1);
  g_window_input.pressed_window = 1;
  g_window_input.press_position = ui::make_lparam(5, 6);
  frame();
  pump();
  EXPECT_EQ(fake_ui_move_drags(main), 1);
  EXPECT_EQ(g_window_input.clocks_paused_by_drag.load(), 1);
  // No press recorded: the next frame starts no other move.
  frame();
  pump();
  EXPECT_EQ(fake_ui_move_drags(main), 1);
  fake_ui_end_move_drag(main);
  pump();
  EXPECT_EQ(g_window_input.clocks_paused_by_drag.load(), 0);
  g_window_config.clock_pause_on_drag = 0;
}

TEST_F(InputTest, FocusLossPausesTheEngineOnlyWhenTheScriptsAskForIt) {
  // The main window's own procedure takes the activation messages.
  UiWindowDesc d;
  d.class_name = "input_test_main";
  d.client_width = 320;
  d.client_height = 240;
  d.proc = main_wndproc;
  d.user_data = g_windows[0];
  UiWindow main = g_platform.ui->create_window(&d);
  ASSERT_NE(main, kNoWindow);
  g_windows[0]->handle = main;
  auto activate = [main](int on) {
    g_platform.ui->post_message(main, ui::kWmActivate, on ? 1u : 0u, 0);
    UiMessage m;
    while (g_platform.ui->peek_message(&m, 1)) g_platform.ui->dispatch_message(&m);
  };
  struct Case {
    u8 run_while_inactive;
    int paused_while_away;
    i64 clock_after;  // game clock 300 ms after start, 2000 ms of them away
  };
  for (const Case& c : {Case{0, 1, 100 + 200}, Case{1, 0, 2300}}) {
    SCOPED_TRACE(static_cast<int>(c.run_while_inactive));
    fake_clock_set(10000);
    reset_engine_clocks();
    g_scheduler.run_while_inactive = c.run_while_inactive;
    activate(1);
    fake_clock_set(10100);
    frame();
    EXPECT_EQ(engine_pause_flag(), 0);
    activate(0);
    frame();
    EXPECT_EQ(engine_pause_flag(), c.paused_while_away);
    fake_clock_set(12100);
    frame();
    EXPECT_EQ(engine_pause_flag(), c.paused_while_away);
    activate(1);
    frame();
    EXPECT_EQ(engine_pause_flag(), 0);
    fake_clock_set(12300);
    EXPECT_EQ(sv_script_clock(0), c.clock_after);
  }
  reset_scheduler();
  fake_clock_set(1000);
}

}  // namespace
