// The task scheduler: order of the tasks, the priority limit, waits (across
// the clock's wrap), enable bytes, the engine pause and the script position
// of reported errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/engine_pause.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "tests/support/edit_button_probe.h"
#include "tests/support/game_writer_run.h"

namespace {

ObjectNode* task_node(const char* name) {
  return find_leaf_child(g_object_roots[kTreeTask], name, static_cast<u32>(std::strlen(name)));
}

// A task body that counts its turns in variable id and then waits a frame.
std::string counter_task(const std::string& label, u32 id) {
  return "label " + label + "\nloop L:-1\nset V:" + std::to_string(id) + " ) += B:1\nwait B:1\nendloop\n";
}

const char* const kIdle = "loop L:-1\nwait B:1\nendloop\n";

}  // namespace

TEST(Scheduler, HighestOrderKeyRunsFirst) {
  GameRun run;
  // Each task appends its digit: the order of the turns is the order of the
  // digits.
  ASSERT_EQ(run.load_text("var 1000 int = 0\n"
                          "script 0 main.txt\n"
                          "label SYSTEM_START\n"
                          "start low la | key: B:10\n"
                          "start high lb | key: B:20\n"
                          "start mid lc | key: B:15\n" +
                          std::string(kIdle) +
                          "label la\nloop L:-1\nset V:1000 ) = H:1000 B:10 * B:1 +\nwait B:1\nendloop\n"
                          "label lb\nloop L:-1\nset V:1000 ) = H:1000 B:10 * B:2 +\nwait B:1\nendloop\n"
                          "label lc\nloop L:-1\nset V:1000 ) = H:1000 B:10 * B:3 +\nwait B:1\nendloop\n"),
            0);
  run.frame();
  // Tasks started in a pass wait for the next one.
  EXPECT_EQ(var_get_int(1000, 0), 0);
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 231);
  ASSERT_NE(task_node("high"), nullptr);
  EXPECT_EQ(task_node("high")->order_key, 20);
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;
}

TEST(Scheduler, PriorityLimitOfARunAgainPass) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nvar 1001 int = 0\nvar 1002 int = 0\nvar 1003 int = 0\n"
                          "var 1004 int = 0\n"
                          "script 0 main.txt\n"
                          "label SYSTEM_START\n"
                          "start t60 l60 | key: B:60\n"
                          "start t50 l50 | key: B:50\n"
                          "start t40 l40 | key: B:40\n" +
                          std::string(kIdle) + counter_task("l60", 1000) + counter_task("l40", 1002) +
                          counter_task("ln", 1003) +
                          "label l50\n"
                          "loop L:-1\n"
                          "  set V:1001 ) += B:1\n"
                          "  if H:1004 B:0 =\n"
                          "    set V:1004 ) = B:1\n"
                          "    start newt ln | key: B:50 | again\n"
                          "  endif\n"
                          "  wait B:1\n"
                          "endloop\n"),
            0);
  EXPECT_EQ(run.frame(), 1);
  // The second pass of this frame passes over the task above the limit; the
  // task at the limit clears it, and every task after it runs.
  EXPECT_EQ(run.frame(), 2);
  EXPECT_EQ(var_get_int(1000, 0), 1);
  EXPECT_EQ(var_get_int(1001, 0), 2);
  EXPECT_EQ(var_get_int(1002, 0), 2);
  EXPECT_EQ(var_get_int(1003, 0), 1);
  EXPECT_EQ(task_node("newt")->order_key, 1);
  EXPECT_EQ(g_scheduler.priority_limit, 0);
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 2);
  EXPECT_EQ(var_get_int(1003, 0), 2);
}

TEST(Scheduler, ALimitBelowEveryKeyEndsWithItsPass) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nvar 1001 int = 0\nvar 1002 int = 0\n"
                          "script 0 main.txt\n"
                          "label SYSTEM_START\n"
                          "start t10 l10 | key: B:10\n" +
                          std::string(kIdle) + counter_task("ln", 1001) +
                          "label l10\n"
                          "loop L:-1\n"
                          "  set V:1000 ) += B:1\n"
                          "  if H:1002 B:0 =\n"
                          "    set V:1002 ) = B:1\n"
                          "    start newt ln | key: B:5 R | again\n"
                          "  endif\n"
                          "  wait B:1\n"
                          "endloop\n"),
            0);
  run.frame();
  run.frame();  // t10 sets the limit -5: its second pass runs nothing
  EXPECT_EQ(var_get_int(1000, 0), 1);
  EXPECT_EQ(var_get_int(1001, 0), 0);
  EXPECT_EQ(g_scheduler.priority_limit, 0);
  run.frame();
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 3);
  EXPECT_EQ(var_get_int(1001, 0), 2);
}

TEST(Scheduler, FrameWaitsEndOnTheirFrame) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\n"
                          "script 0 main.txt\n"
                          "label SYSTEM_START\n"
                          "wait B:3\n"
                          "set V:1000 ) = B:1\n" +
                          std::string(kIdle)),
            0);
  run.frame();  // the wait starts
  run.frame();
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 0);
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 1);
}

TEST(Scheduler, TimedWaitsAcrossTheClockWrap) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\n"
                          "set V:1000 ) += B:1\n" +
                          std::string(kIdle)),
            0);
  ScriptContext* c = task_context(g_system_objects[kTreeTask]);
  struct Case {
    u32 start, ms;
    u32 before;  // a clock value at which the wait still runs
    u32 after;   // the first at which it has ended
  } cases[] = {
      {0xFFFFFF00u, 0x200, 0xFFFFFFF0u, 0x100},  // the wake time wraps past 2^32
      {0xFFFFFF00u, 0x100, 0xFFFFFFFFu, 0},      // a wake time of exactly 0
      {1000, 50, 1049, 1050},
  };
  for (const Case& k : cases) {
    fake_clock_set(k.start);
    set_task_timed_wait(c, k.ms);
    c->wait_frames = 0;
    i64 runs = var_get_int(1000, 0);
    fake_clock_set(k.before);
    run.frame();
    EXPECT_EQ(var_get_int(1000, 0), runs) << k.start << "+" << k.ms;
    fake_clock_set(k.after);
    run.frame();
    EXPECT_EQ(c->wake_pending, 0) << k.start << "+" << k.ms;
    // Both waits are tested on their own: frames still to wait hold the
    // task after the timed wait ended.
  }
  fake_clock_set(5000);
  set_task_timed_wait(c, 10);
  c->wait_frames = 3;
  fake_clock_set(6000);
  run.frame();
  EXPECT_EQ(c->wake_pending, 0);
  EXPECT_EQ(c->wait_frames, 2u);
  fake_clock_set(0);
}

TEST(Scheduler, DisabledTasksAndGroups) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nvar 1001 int = 0\n"
                          "script 0 main.txt\n"
                          "label SYSTEM_START\n"
                          "wait B:1\n"
                          "start grp/t lt | key: B:3\n"
                          "start off lo | enable_a: B:0\n" +
                          std::string(kIdle) + counter_task("lt", 1000) + counter_task("lo", 1001)),
            0);
  ObjectNode* group = get_named_object(g_object_roots[kTreeTask], "grp", 1, 5);
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(make_script_context(group), 0);
  run.frames(3);
  EXPECT_EQ(var_get_int(1000, 0), 1) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1001, 0), 0);
  // A disabled group holds every task below it, whatever their own bytes.
  task_context(group)->enable_b = 0;
  run.frames(3);
  EXPECT_EQ(var_get_int(1000, 0), 1);
  task_context(group)->enable_b = 1;
  task_context(task_node("off"))->enable_a = 1;
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 2);
  EXPECT_EQ(var_get_int(1001, 0), 1);
}

namespace {
u32 g_calls = 0;
u32 result_0x100() {
  ++g_calls;
  return 0x100;
}
}  // namespace

TEST(Scheduler, OnlyTheLowByteOfAResultEndsTheTurn) {
  GameRun run;
  ASSERT_EQ(run.load_text("command 77 probe\nvar 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\n"
                          "instr 77\nset V:1000 ) = B:1\n" +
                          std::string(kIdle)),
            0);
  run.override_command(77, result_0x100);
  g_calls = 0;
  run.frame();
  EXPECT_EQ(g_calls, 1u);
  EXPECT_EQ(var_get_int(1000, 0), 1);
}

TEST(Scheduler, PauseHoldsScriptsAndQuitEndsTheWait) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nvar 1001 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\n"
                          "set V:1000 ) = B:1\nset V:1001 ) = B:2\n" +
                          std::string(kIdle)),
            0);
  g_scheduler.run_while_inactive = 0;
  engine_clock_pause();
  // The quit message arrives while the script waits for the engine to
  // resume: the turn ends, and the held instruction is not run.
  g_platform.ui->post_quit_message(0);
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 0);
  EXPECT_EQ(g_run_flag.load(), 0);
  g_run_flag = 1;
  // The run-while-inactive byte lets the script run through a pause.
  g_scheduler.run_while_inactive = 1;
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 0);
  EXPECT_EQ(var_get_int(1001, 0), 2);
  g_engine_clocks.paused = 0;
}

TEST(Scheduler, PausedTimeDoesNotCountOnRunningClocks) {
  fake_clock_set(10000);
  reset_engine_clocks();
  g_engine_clocks.running[2] = 0;
  g_engine_clocks.stop_time[2] = 10000;
  fake_clock_set(10100);
  engine_clock_pause();
  fake_clock_set(10600);
  engine_clock_resume();
  fake_clock_set(10700);
  EXPECT_EQ(sv_script_clock(0), 200);
  EXPECT_EQ(sv_script_clock(1), 200);
  EXPECT_EQ(sv_script_clock(2), 0);  // stopped: it stands, and its offset grew nothing
  EXPECT_EQ(g_engine_clocks.offset[2], 10000u);
  EXPECT_EQ(g_engine_clocks.paused, 0);
  reset_scheduler();
  fake_clock_set(0);
}

// Four holders of the game clocks (the engine pause, the scripts' pause, a
// caption drag, the close box), each begun and later ended, in every order
// of the eight events: the clock stands while any holds it, the time it
// stood is taken out once, and no reading ever goes back. A stopped clock
// stays where it stopped.
TEST(Scheduler, OverlappingClockHoldsCountOnceInEveryOrder) {
  auto act = [](int holder, bool begin) {
    switch (holder) {
      case 0: begin ? engine_clock_pause() : engine_clock_resume(); break;
      case 1: begin ? game_clock_hold(kClockHoldScript) : game_clock_release(kClockHoldScript); break;
      case 2: begin ? game_clock_hold(kClockHoldDrag) : game_clock_release(kClockHoldDrag); break;
      default: begin ? game_clock_hold(kClockHoldCloseBox) : game_clock_release(kClockHoldCloseBox); break;
    }
  };
  // Every order in which each holder begins before it ends: event e is
  // holder e / 2, begin when e is even.
  std::vector<std::vector<int>> orders;
  std::vector<int> order;
  int state[4] = {0, 0, 0, 0};  // 0 not begun, 1 holding, 2 ended
  auto walk = [&](auto&& self) -> void {
    if (order.size() == 8) {
      orders.push_back(order);
      return;
    }
    for (int h = 0; h < 4; ++h) {
      if (state[h] == 2) continue;
      order.push_back(h * 2 + (state[h] == 0 ? 0 : 1));
      ++state[h];
      self(self);
      --state[h];
      order.pop_back();
    }
  };
  walk(walk);
  ASSERT_EQ(orders.size(), 2520u);
  g_scheduler.run_while_inactive = 0;
  for (const auto& o : orders) {
    fake_clock_set(50000);
    reset_engine_clocks();
    g_engine_clocks.running[1] = 0;
    g_engine_clocks.stop_time[1] = 50000;
    u32 t = 50000, last_t = 50000;
    i64 expected = 0, last_reading = 0;
    int holding = 0;
    for (std::size_t i = 0; i < o.size(); ++i) {
      t += 100 + static_cast<u32>((i * 37) % 90);  // uneven steps
      fake_clock_set(t);
      if (holding == 0) expected += t - last_t;
      last_t = t;
      bool begin = o[i] % 2 == 0;
      act(o[i] / 2, begin);
      // A repeated begin or end changes nothing.
      act(o[i] / 2, begin);
      holding += begin ? 1 : -1;
      i64 reading = sv_script_clock(0);
      ASSERT_EQ(reading, expected) << "event " << i << " of order " << &o - &orders[0];
      ASSERT_GE(reading, last_reading);
      last_reading = reading;
      ASSERT_EQ(sv_script_clock(1), 0);
    }
    fake_clock_set(t + 250);
    ASSERT_EQ(sv_script_clock(0), expected + 250);
    ASSERT_EQ(sv_script_clock(3), expected + 250);
    ASSERT_EQ(engine_pause_flag(), 0);
  }
  reset_scheduler();
  fake_clock_set(0);
}

// A clock switched off and on by command 93 while the clocks are held stays
// where it stood: no jump at either switch or at the end of the hold.
TEST(Scheduler, ClockSwitchedDuringAHoldStaysWhereItStood) {
  GameRun run;
  fake_clock_set(20000);
  reset_engine_clocks();
  ASSERT_EQ(run.load_text("command 93 config p0:num:0 p1:num:0 p2:num:0 p3:num:0 p4:num:0 p5:num:0 p6:num:0 "
                          "p7:num:0\nscript 0 main.txt\nlabel SYSTEM_START\n"
                          "instr 93\narg 5 int : B:0\nwait B:1\ninstr 93\narg 5 int : B:1\n" +
                          std::string(kIdle)),
            0);
  fake_clock_set(20100);
  game_clock_hold(kClockHoldScript);
  fake_clock_set(20300);
  run.frame();  // clock 1 off while held: it reads 100
  EXPECT_EQ(sv_script_clock(1), 100);
  fake_clock_set(20600);
  game_clock_release(kClockHoldScript);
  EXPECT_EQ(sv_script_clock(1), 100);
  EXPECT_EQ(sv_script_clock(0), 100);
  fake_clock_set(20900);
  run.frame();  // on again
  EXPECT_EQ(sv_script_clock(1), 100);
  fake_clock_set(21000);
  EXPECT_EQ(sv_script_clock(1), 200);
  EXPECT_EQ(sv_script_clock(0), 500);
  reset_scheduler();
  fake_clock_set(0);
}

TEST(Scheduler, ErrorsNameTheScriptAndLine) {
  GameRun run;
  ASSERT_EQ(run.load_text("script 0 main.txt\nscript 1 second.txt\nlabel SYSTEM_START\nnop\ninstr 48 line=42\n"), 0);
  ScriptContext* c = task_context(g_system_objects[kTreeTask]);
  EXPECT_EQ(c->script_no, 1);
  run.frame();
  EXPECT_EQ(g_error_report_log.last_number, kErrBlockNotOpen);
  // The dialog's edit button opens that file at that line.
  EditedScript edited = press_edit_button();
  EXPECT_TRUE(edited.opened);
  EXPECT_TRUE(edited.path.ends_with("second.txt")) << edited.path;
  EXPECT_EQ(edited.line_arg, "/j42");
}
