// Blocks, loops, jumps, calls and returns run by the scheduler from games
// written with the game writer.
#include <gtest/gtest.h>

#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/commands/command_table.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"
#include "tests/support/game_writer_run.h"

namespace {

// The system variables the call values are read through, declared as the
// compiler declares them.
const char* const kCallVars =
    "var 53 int 17 = 0\n"
    "var 54 float 17 = 0\n"
    "var 55 text 17 = \"\"\n"
    "var 60 int 17 = 0\n"
    "var 61 float 17 = 0\n"
    "var 62 text 17 = \"\"\n";

ScriptContext* system_context() { return task_context(g_system_objects[kTreeTask]); }

// Runs a one-script game whose body follows "label SYSTEM_START"; the
// body should end in a "wait" or a loop so that it stops. Returns the error
// number of the run (0 when none).
struct Game {
  GameRun run;
  u32 go(const std::string& vars, const std::string& body, int frames = 1) {
    std::string text = std::string(kCallVars) + vars + "script 0 main.txt\nlabel SYSTEM_START\n" + body;
    int r = run.load_text(text);
    EXPECT_EQ(r, 0) << g_error_report_log.last_message;
    if (r != 0) return g_error_report_log.last_number;
    reset_error_report_log();
    run.frames(frames);
    return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
  }
};

// The last instruction of most games: a block that ends the turn for good
// (a loop whose body waits for a frame).
const char* const kIdle = "loop L:-1\nwait B:1\nendloop\n";

u32 test_wait() {
  if (decode_command_args(104) != 0) return static_cast<u32>(-1);
  g_scheduler.current_context->wait_frames = static_cast<u32>(arg_value(0));
  return 1;
}

struct WaitGame : Game {
  u32 go(const std::string& vars, const std::string& body, int frames = 1) {
    std::string text = std::string(kCallVars) + vars + "script 0 main.txt\nlabel SYSTEM_START\n" + body;
    int r = run.load_text(text);
    EXPECT_EQ(r, 0) << g_error_report_log.last_message;
    if (r != 0) return g_error_report_log.last_number;
    run.override_command(104, test_wait);
    reset_error_report_log();
    run.frames(frames);
    return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
  }
};

}  // namespace

TEST(ControlFlow, NestedLoopsBranchesAndCalls) {
  WaitGame g;
  u32 err = g.go("var 1000 int = 0\nvar 1001 int = 0\nvar 1002 int = 0\nvar 1003 int = 0\n",
                 "loop B:3\n"
                 "  loop B:4\n"
                 "    set V:1000 ) += B:1\n"
                 "    if H:1000 B:10 =\n"
                 "      set V:1001 ) = B:1\n"
                 "    elif H:1000 B:11 =\n"
                 "      set V:1001 ) = B:2\n"
                 "    else\n"
                 "      set V:1002 ) += B:1\n"
                 "    endif\n"
                 "  endloop\n"
                 "endloop\n"
                 "call twice | i: H:1000 | i: B:7\n"
                 "set V:1003 ) = V:60 B:1 )\n" +
                     std::string(kIdle) +
                     "label twice\n"
                     "return | i: V:53 B:1 ) V:53 B:2 ) * B:2 *\n");
  EXPECT_EQ(err, 0u) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 12);
  EXPECT_EQ(var_get_int(1001, 0), 2);
  EXPECT_EQ(var_get_int(1002, 0), 10);
  EXPECT_EQ(var_get_int(1003, 0), 12 * 7 * 2);
  ScriptContext* c = system_context();
  EXPECT_EQ(c->block_a_depth, 0);
  EXPECT_EQ(c->block_b_depth, 1);  // the idle loop
  EXPECT_EQ(c->call_depth, 0);
}

TEST(ControlFlow, LoopCounts) {
  // count 0: the body never runs; -5 runs once; -1 runs until a break.
  struct Case {
    const char* count;
    i64 passes;
  } cases[] = {{"B:0", 0}, {"B:1", 1}, {"B:6", 6}, {"B:5 R", 1}, {"B:1 R", 9}};
  for (const Case& k : cases) {
    WaitGame g;
    std::string body = std::string("loop ") + k.count +
                       "\n"
                       "  set V:1000 ) += B:1\n"
                       "  if H:1000 B:9 =\n"
                       "    break\n"
                       "  endif\n"
                       "endloop\n" +
                       kIdle;
    EXPECT_EQ(g.go("var 1000 int = 0\n", body), 0u) << k.count;
    EXPECT_EQ(var_get_int(1000, 0), k.passes) << k.count;
    EXPECT_EQ(system_context()->block_b_depth, 1) << k.count;  // only the idle loop
    EXPECT_EQ(system_context()->block_a_depth, 0) << k.count;
  }
}

TEST(ControlFlow, BreakAndContinueLevels) {
  WaitGame g;
  // break 2 from two blocks deep leaves both; continue re-tests the head.
  u32 err = g.go("var 1000 int = 0\nvar 1001 int = 0\nvar 1002 int = 0\n",
                 "if B:1\n"
                 "  if B:1\n"
                 "    bbreak B:2\n"
                 "    set V:1000 ) = B:99\n"
                 "  endif\n"
                 "  set V:1000 ) = B:98\n"
                 "endif\n"
                 "set V:1001 ) = B:1\n"
                 "if H:1002 B:3 <\n"
                 "  set V:1002 ) += B:1\n"
                 "  bcontinue\n"
                 "endif\n"
                 "loop B:5\n"
                 "  set V:1000 ) += B:1\n"
                 "  continue\n"
                 "  set V:1000 ) = B:77\n"
                 "endloop\n"
                 "bbreak B:0\n" +
                     std::string(kIdle));
  EXPECT_EQ(err, 0u) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 5);
  EXPECT_EQ(var_get_int(1001, 0), 1);
  EXPECT_EQ(var_get_int(1002, 0), 3);
  EXPECT_EQ(system_context()->block_a_depth, 0);
}

TEST(ControlFlow, StackErrors) {
  struct Case {
    const char* name;
    std::string body;
    u32 error;
  } cases[] = {
      // More levels than open blocks or loops: reported, nothing read below
      // the stacks.
      {"break past the blocks", "if B:1\nbbreak B:5\nendif\n", kErrBlockNotOpen},
      {"continue past the blocks", "if B:1\nbcontinue B:2\nendif\n", kErrBlockNotOpen},
      {"loop break past the loops", "loop B:2\nbreak B:3\nendloop\n", kErrBlockNotOpen},
      {"end without a block", "instr 48\n", kErrBlockNotOpen},
      {"skip without a block", "instr 45\n", kErrBlockNotOpen},
      {"else without a block", "instr 11\n", kErrBlockNotOpen},
      {"loop end without a loop", "instr 58\n", kErrLoopNotOpen},
      {"return in the system task", "end\n", kErrBlockNotOpen},
      {"missing label", "jump nowhere\n", kErrLabelMissing},
      {"missing call label", "call nowhere\n", kErrLabelMissing},
      // A script that runs off its end.
      {"past the end", "nop\n", kErrScriptPcOutside},
  };
  for (const Case& k : cases) {
    WaitGame g;
    EXPECT_EQ(g.go("", k.body), k.error) << k.name;
    EXPECT_EQ(g_quit_requested.load(), 1) << k.name;
  }
}

TEST(ControlFlow, SixtyThreeLevelsFitTheSixtyFourthFails) {
  for (const char* kind : {"if B:1", "loop B:2", "call"}) {
    for (int levels : {63, 64}) {
      WaitGame g;
      std::string body, tail;
      std::string k = kind;
      if (k == "call") {
        // A subroutine that calls itself levels times, then waits.
        body = "set V:1000 ) = B:0\ncall deeper\n" + std::string(kIdle) +
               "label deeper\nset V:1000 ) += B:1\nif H:1000 I:" + std::to_string(levels) +
               " <\ncall deeper\nendif\n" + kIdle;
      } else {
        for (int i = 0; i < levels; ++i) body += k + "\n";
        body += "wait B:1\n" + std::string(kIdle);
        for (int i = 0; i < levels; ++i) tail += k[0] == 'i' ? "endif\n" : "endloop\n";
        body += tail;
      }
      u32 err = g.go("var 1000 int = 0\n", body);
      if (levels == 63) {
        EXPECT_EQ(err, 0u) << kind << " " << g_error_report_log.last_message;
      } else {
        EXPECT_EQ(err, kErrStackFull) << kind;
      }
      ScriptContext* c = system_context();
      EXPECT_LE(c->block_a_depth, 63);
      EXPECT_LE(c->block_b_depth, 63);
      EXPECT_LE(c->call_depth, 63);
    }
  }
}

TEST(ControlFlow, JumpSetsDepthsFromTheLabelAndMakesFrames) {
  WaitGame g;
  // A jump from outside into the middle of two open loops: the depths come
  // from the label and the frames exist, so the loop ends that follow find
  // frames (with stale targets) instead of nothing.
  u32 err = g.go("var 1000 int = 0\n",
                 "jump inside\n"
                 "loop B:2\n"
                 "  loop B:2\n"
                 "    label inside\n"
                 "    set V:1000 ) += B:1\n"
                 "    wait B:1\n"
                 "  endloop\n"
                 "endloop\n" +
                     std::string(kIdle));
  EXPECT_EQ(err, 0u) << g_error_report_log.last_message;
  ScriptContext* c = system_context();
  EXPECT_EQ(c->block_b_depth, 2);
  ASSERT_NE(c->block_b_frames[1], nullptr);
  ASSERT_NE(c->block_b_frames[2], nullptr);
  EXPECT_EQ(var_get_int(1000, 0), 1);
}

TEST(ControlFlow, ReturnFromInsideALoopRestoresTheCallersDepths) {
  WaitGame g;
  u32 err = g.go("var 1000 int = 0\nvar 1001 int = 0\n",
                 "loop B:3\n"
                 "  call sub\n"
                 "  set V:1001 ) += B:1\n"
                 "endloop\n" +
                     std::string(kIdle) +
                     "label sub\n"
                     "loop B:5\n"
                     "  set V:1000 ) += B:1\n"
                     "  if B:1\n"
                     "    return\n"
                     "  endif\n"
                     "endloop\n"
                     "return\n");
  EXPECT_EQ(err, 0u) << g_error_report_log.last_message;
  // Each call leaves after one pass of its loop; the caller's loop runs its
  // three passes (with the callee's loop left on top it would run forever
  // inside the callee's body).
  EXPECT_EQ(var_get_int(1000, 0), 3);
  EXPECT_EQ(var_get_int(1001, 0), 3);
  EXPECT_EQ(system_context()->block_a_depth, 0);
}

TEST(ControlFlow, CallValuesAndCounts) {
  WaitGame g;
  u32 err = g.go("var 1000 int = 0\nvar 1001 float = 0\nvar 1002 text = \"\"\nvar 1003 int = 0\n",
                 "call sub | i: B:4 | f: F:2.5 | t: \"ab\"\n"
                 "set V:1000 ) = V:60 B:1 )\n"
                 "setf V:1001 ) = V:61 B:1 )\n"
                 "sett V:1002 ) = V:62 B:1 )\n"
                 // A call with the label alone keeps the values held at that level.
                 "call again\n" +
                     std::string(kIdle) +
                     "label sub\n"
                     "return | i: V:53 B:1 ) B:1 + | f: V:54 B:1 ) F:2.0 * | t: V:55 B:1 ) \"cd\" +\n"
                     "label again\n"
                     "set V:1003 ) = V:53 B:1 )\n"
                     "return\n");
  EXPECT_EQ(err, 0u) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 5);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 0), 5.0);
  EXPECT_STREQ(var_get_string(1002, 0), "abcd");
  EXPECT_EQ(var_get_int(1003, 0), 0);  // the label-only call declares no integer
}

TEST(ControlFlow, FloatValuesAreDoublesWhateverTheParameterKind) {
  // A command list that marks the float values of call and return as
  // numbers: the values still come from their code evaluated as doubles.
  const std::string numbers = [] {
    std::string call = "command 43 call label:text:0", ret = "command 79 return";
    for (int i = 1; i <= 16; ++i) call += " i" + std::to_string(i) + ":num:0";
    for (int i = 1; i <= 16; ++i) call += " f" + std::to_string(i) + ":num:0";
    for (int i = 1; i <= 16; ++i) call += " t" + std::to_string(i) + ":text:0";
    for (int i = 1; i <= 16; ++i) ret += " i" + std::to_string(i) + ":num:0";
    for (int i = 1; i <= 16; ++i) ret += " f" + std::to_string(i) + ":num:0";
    for (int i = 1; i <= 16; ++i) ret += " t" + std::to_string(i) + ":text:0";
    return call + "\n" + ret + "\n";
  }();
  WaitGame g;
  u32 err = g.go(numbers + "var 1000 float = 0\nvar 1001 float = 0\n",
                 "call sub | f: F:2.75\n"
                 "setf V:1001 ) = V:61 B:1 )\n" +
                     std::string(kIdle) +
                     "label sub\n"
                     "setf V:1000 ) = V:54 B:1 )\n"
                     "return | f: F:0.5\n");
  EXPECT_EQ(err, 0u) << g_error_report_log.last_message;
  EXPECT_DOUBLE_EQ(var_get_float(1000, 0), 2.75);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 0), 0.5);
}

TEST(ControlFlow, LoopCountTakesItsRangeCode) {
  WaitGame g;
  u32 err = g.go("command 55 loop count:num:12 end:raw:0\nvar 1000 int = 0\n",
                 "loop W:300\n  set V:1000 ) += B:1\nendloop\n" + std::string(kIdle));
  EXPECT_EQ(err, kErrRangeMinMax);
  EXPECT_EQ(var_get_int(1000, 0), 0);
}

TEST(ControlFlow, PackedCallWordCountsAreCappedAtSixteen) {
  CallCounts n = call_word_counts(static_cast<u16>((31u << 3) | 7u | (3u << 14) | (31u << 9)));
  EXPECT_EQ(n.ints, 16u);
  EXPECT_EQ(n.floats, 16u);
  EXPECT_EQ(n.texts, 16u);
  n = call_word_counts(static_cast<u16>((2u << 3) | 1u | (1u << 14) | (3u << 9)));
  EXPECT_EQ(n.ints, 2u);
  EXPECT_EQ(n.floats, 5u);
  EXPECT_EQ(n.texts, 3u);
}

TEST(ControlFlow, LabelExists) {
  WaitGame g;
  u32 err = g.go("var 1000 int 2 = 7\nvar 1001 float = 0\n",
                 "instr 52\narg 0 text : \"there\"\narg 1 int : V:1000 B:0 )\n"
                 "instr 52\narg 0 text : \"absent\"\narg 1 int : V:1000 B:1 )\n"
                 "instr 52\narg 0 text : \"there\"\narg 1 int : v:1001\n"
                 "label there\n" +
                     std::string(kIdle));
  EXPECT_EQ(err, 0u) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 1);
  EXPECT_EQ(var_get_int(1000, 1), 0);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 0), 1.0);
}
