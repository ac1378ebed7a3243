// Dialog and box (10), quit (13), error switches (14), frame rate (28),
// engine settings (93), script-list and task queries (94, 97).
#include <gtest/gtest.h>

#include <string>

#include "engine/commands/command_results.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/vm/object_tree.h"
#include "engine/frame/engine_switches.h"
#include "engine/frame/input.h"
#include "engine/frame/settings.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/window.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/task_state.h"
#include "engine/vm/vars.h"
#include "platform/clock.h"
#include "platform/cursor.h"
#include "platform/platform.h"
#include "platform/dialogs.h"
#include "platform/ui.h"
#include "tests/commands/commands_fixture.h"

namespace {
const std::string kHeader = command_line(10, 21, {0, 1, 9}) + command_line(13, 1) + command_line(14, 100) +
                            command_line(28, 2) + command_line(93, 8) + command_line(94, 6) +
                            command_line(97, 20, {0}) +
                            "var 1000 int = -1\nvar 1001 text = \"-\"\nvar 1002 float = 0\n";
}  // namespace

TEST(DialogCommand, BoxesAnswerByTheirButtons) {
  struct Case {
    const char* args;
    int answer;
    i64 want;
    u32 type;
  } cases[] = {
      {"arg 14 int : B:1\n", ui::kIdNo, 2, ui::kMbYesNo},
      {"arg 14 int : B:1\narg 15 int : B:1\n", ui::kIdCancel, 3, ui::kMbYesNoCancel},
      {"arg 13 int : B:1\narg 18 int : B:2\narg 19 int : B:2\n", ui::kIdCancel, 2,
       ui::kMbOkCancel | ui::kMbDefButton2 | ui::kMbIconQuestion},
      {"arg 19 int : B:4\narg 18 int : B:3\n", ui::kIdOk, 1, ui::kMbOk | ui::kMbDefButton3 | ui::kMbIconHand},
      {"arg 14 int : B:1\narg 19 int : B:9\n", ui::kIdYes, 1, ui::kMbYesNo},
  };
  for (const Case& c : cases) {
    fake_ui_reset();
    fake_ui_push_box_answer(c.answer);
    GameRun run;
    EXPECT_EQ(run_once(run, kHeader,
                       std::string("instr 10\narg 0 text : \"T\"\narg 1 text : \"M\"\n") + c.args + "arg 11 int : v:1000\n"),
              0u);
    ASSERT_EQ(fake_ui_boxes().size(), 1u) << c.args;
    EXPECT_EQ(fake_ui_boxes()[0].type, c.type) << c.args;
    EXPECT_EQ(fake_ui_boxes()[0].caption, "T");
    EXPECT_EQ(var_get_int(1000, 0), c.want) << c.args;
    EXPECT_EQ(g_engine_switches.modal_box_open, 0);
  }
  // Parameter 20: no box at all.
  fake_ui_reset();
  GameRun run;
  EXPECT_EQ(run_once(run, kHeader, "instr 10\narg 20 int : B:1\narg 11 int : v:1000\n"), 0u);
  EXPECT_TRUE(fake_ui_boxes().empty());
}

// A box or the text dialog opened during the scripts' clock pause leaves the
// pause in force: the time until the scripts resume is taken out once.
TEST(DialogCommand, BoxesLeaveTheScriptsClockPauseInForce) {
  for (const char* args : {"arg 14 int : B:1\n", "arg 16 int : B:1\narg 10 int : v:1001\n"}) {
    fake_ui_reset();
    fake_dialogs_reset();
    fake_ui_push_box_answer(ui::kIdYes);
    fake_dialogs_push_answer(1, "x");
    fake_clock_set(5000);
    GameRun run;
    ASSERT_EQ(run.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\ninstr 10\narg 1 text : \"M\"\n" + args +
                            "arg 11 int : v:1000\n" + kIdleLoop),
              0);
    game_clock_hold(kClockHoldScript);
    run.frame();
    EXPECT_EQ(var_get_int(1000, 0), 1) << args;
    fake_clock_set(6000);
    game_clock_release(kClockHoldScript);
    EXPECT_EQ(g_engine_clocks.offset[0], 6000u) << args;
  }
}

TEST(DialogCommand, TextInputDialog) {
  fake_dialogs_reset();
  fake_dialogs_push_answer(1, "Taro");
  GameRun run;
  EXPECT_EQ(run_once(run, kHeader,
                     "instr 10\narg 0 text : \"Name\"\narg 1 text : \"Your name?\"\narg 9 text : \"init\"\n"
                     "arg 16 int : B:1\narg 17 int : B:8\narg 10 int : v:1001\narg 11 int : v:1002\n"),
            0u);
  ASSERT_EQ(fake_dialogs_calls().size(), 1u);
  EXPECT_EQ(fake_dialogs_calls()[0].title, "Name");
  EXPECT_EQ(fake_dialogs_calls()[0].prompt, "Your name?");
  EXPECT_EQ(fake_dialogs_calls()[0].initial, "init");
  EXPECT_EQ(fake_dialogs_calls()[0].limit_bytes, 8);
  EXPECT_STREQ(var_get_string(1001, 0), "Taro");
  EXPECT_DOUBLE_EQ(var_get_float(1002, 0), 1.0);
  // A dialog that cannot be shown ends the turn without a message.
  fake_dialogs_reset();
  fake_dialogs_push_answer(-1, "");
  GameRun run2;
  EXPECT_EQ(run_once(run2, kHeader, "instr 10\narg 16 int : B:1\narg 10 int : v:1001\nset v:1000 = B:5\n"), 0u);
  EXPECT_EQ(var_get_int(1000, 0), -1);
}

TEST(DialogCommand, BothDialogsShowAnAutoHiddenCursor) {
  const char* dialogs[] = {"arg 14 int : B:1\narg 11 int : v:1000\n",
                           "arg 16 int : B:1\narg 10 int : v:1001\narg 11 int : v:1000\n"};
  for (const char* args : dialogs) {
    fake_ui_reset();
    fake_dialogs_reset();
    fake_cursor_reset();
    GameRun run;
    // The auto-hide has taken the cursor away.
    g_cursor = CursorState{};
    g_cursor.hidden = 1;
    g_cursor.mode = 2;
    g_platform.cursor->show_cursor(0);
    ASSERT_LT(fake_cursor_display_count(), 0);
    EXPECT_EQ(run_once(run, kHeader, std::string("instr 10\n") + args), 0u) << args;
    EXPECT_EQ(fake_cursor_display_count(), 0) << args;
    EXPECT_EQ(g_cursor.hidden, 0) << args;
    EXPECT_EQ(g_cursor.forced_visible, 1) << args;
    EXPECT_EQ(g_cursor.request, kCursorRequestNone) << args;
  }
  g_cursor = CursorState{};
  fake_cursor_reset();
}

TEST(EngineCommands, QuitSwitchesAndFrameRate) {
  GameRun run;
  set_all_error_switches();
  g_pacing.frame_rate = 60;
  EXPECT_EQ(run_once(run, kHeader,
                     "instr 14\narg 3 int : B:0\narg 99 int : I:258\n"
                     "instr 28\narg 0 int : B:0\narg 1 int : B:0\n"
                     "instr 28\narg 0 int : B:30\n"
                     "instr 13\narg 0 int : I:257\n"),
            0u);
  EXPECT_EQ(g_error_switches[1], 0);
  EXPECT_EQ(g_error_switches[97], 2);
  EXPECT_EQ(g_error_switches[2], 1);
  EXPECT_EQ(g_pacing.frame_rate, 30);  // the rate 0 was kept out
  EXPECT_EQ(g_pacing.frame_skip_allowed, 0);
  EXPECT_EQ(g_restart_flag, 1);
  EXPECT_EQ(g_quit_requested, 1);
  g_restart_flag = 0;
  g_pacing = FramePacing{};
}

TEST(EngineCommands, ClockSwitchesActOnChangesOnly) {
  GameRun run;
  fake_clock_set(100000);
  reset_engine_clocks();
  ASSERT_EQ(run.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\n"
                                    "instr 93\narg 5 int : B:0\n"
                                    "wait B:1\n"
                                    "instr 93\narg 5 int : B:1\narg 4 int : B:1\n" +
                          kIdleLoop),
            0);
  run.frame();
  fake_clock_advance(500);
  run.frame();
  run.frame();
  EXPECT_EQ(g_engine_clocks.offset[1], 100500u);
  EXPECT_EQ(g_engine_clocks.offset[0], 100000u);  // already running: unchanged
  EXPECT_EQ(g_engine_clocks.running[1], 1);
}

TEST(EngineCommands, ScriptListAndTaskQueries) {
  struct Case {
    const char* args;
    const char* text;  // expected text, or null for the number
    i64 number;
  } cases[] = {
      {"arg 1 int : B:1\narg 5 int : v:1000\n", nullptr, 2},
      {"arg 0 int : B:1\narg 4 int : B:2\narg 5 int : v:1001\n", "other.txt", 0},
      {"arg 0 int : B:1\narg 4 int : B:0\narg 5 int : v:1001\n", "", 0},
      {"arg 0 int : B:1\narg 4 int : B:3\narg 5 int : v:1001\n", "", 0},
      {"arg 2 int : B:1\narg 4 int : B:2\narg 5 int : v:1000\n", nullptr, 7},
  };
  for (const Case& c : cases) {
    GameRun run;
    std::string game = kHeader + "script 0 main.txt\nlabel SYSTEM_START\ninstr 94\n" + c.args + kIdleLoop +
                       "script 1 other.txt value=7\nnop\n";
    ASSERT_EQ(run.load_text(game), 0) << g_error_report_log.last_message;
    run.frame();
    if (c.text) {
      EXPECT_STREQ(var_get_string(1001, 0), c.text) << c.args;
    } else {
      EXPECT_EQ(var_get_int(1000, 0), c.number) << c.args;
    }
  }
  // The task query of the current task: its script, line and state text.
  GameRun run;
  ASSERT_EQ(run.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\n"
                                    "instr 97 line=12\narg 8 int : B:1\narg 1 int : v:1000\n"
                                    "instr 97\narg 6 int : B:1\narg 1 int : v:1001\n" +
                          kIdleLoop),
            0);
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 12);
  EXPECT_STREQ(var_get_string(1001, 0), "main.txt");
  GameRun run2;
  ASSERT_EQ(run2.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\n"
                                     "instr 97\narg 19 int : B:1\narg 1 int : v:1001\n"
                                     "instr 97\narg 0 text : \"nobody\"\narg 2 int : B:1\narg 1 int : v:1000\n" +
                           kIdleLoop),
            0);
  run2.frame();
  EXPECT_EQ(var_get_int(1000, 0), 0);
  std::string state = var_get_string(1001, 0);
  ASSERT_GT(state.size(), 8u);
  // The text restores into a fresh context, which then writes the same text.
  ObjectNode holder{};
  ASSERT_EQ(make_script_context(&holder), 0);
  ScriptContext* ctx = task_context(&holder);
  ASSERT_GT(restore_task_state(state.c_str(), static_cast<u32>(state.size()), ctx), 0);
  EXPECT_EQ(task_query_text(ctx), state);
  free_script_context(ctx);
}
