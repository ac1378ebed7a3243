// Declarations and assignments, system variables written by scripts, and
// the element writers.
#include <gtest/gtest.h>

#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"
#include "tests/support/game_writer_run.h"

namespace {

const char* const kIdle = "loop L:-1\nwait B:1\nendloop\n";

// Runs body once in the system task; the error number (0 when none).
u32 run_body(GameRun& run, const std::string& vars, const std::string& body) {
  int r = run.load_text(vars + "script 0 main.txt\nlabel SYSTEM_START\n" + body + kIdle);
  EXPECT_EQ(r, 0) << g_error_report_log.last_message;
  reset_error_report_log();
  run.frame();
  return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
}

}  // namespace

TEST(VarCommands, Declarations) {
  GameRun run;
  EXPECT_EQ(run_body(run, "var 1000 int = 0\nvar 1001 float = 0\nvar 1002 text = \"\"\n",
                     "dim V:1000 B:3 B:4 ) = B:5\n"
                     "dimf V:1001 B:2 ) = F:1.5\n"
                     "dims V:1002 B:3 ) = \"ab\"\n"),
            0u)
      << g_error_report_log.last_message;
  const VarRecord* a = var_record(1000);
  EXPECT_EQ(a->dim_count, 2);
  EXPECT_EQ(a->dims[0], 3u);
  EXPECT_EQ(a->dims[1], 4u);
  EXPECT_EQ(a->count, 12);
  EXPECT_EQ(var_get_int(1000, 11), 5);
  EXPECT_EQ(var_record(1001)->count, 2);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 1), 1.5);
  EXPECT_STREQ(var_get_string(1002, 2), "ab");
}

TEST(VarCommands, DeclarationFailuresKeepTheVariable) {
  struct Case {
    const char* sizes;
    u32 error;
  } cases[] = {
      {"B:0", kErrNoElements},
      {"W:2001 W:2000", kErrTooManyElements},
      // 2^64 elements would wrap to 0 in 64 bits.
      {"I:65536 I:65536 I:65536 I:65536", kErrTooManyElements},
      {"B:1 B:1 B:1 B:1 B:1 B:1 B:1 B:1 B:1 B:1", kErrIndexCount},
  };
  for (const Case& k : cases) {
    GameRun run;
    EXPECT_EQ(run_body(run, "var 1000 int 2 = 7\n", std::string("dim V:1000 ") + k.sizes + " ) = B:1\n"), k.error)
        << k.sizes;
    const VarRecord* v = var_record(1000);
    EXPECT_EQ(v->dim_count, 1) << k.sizes;
    EXPECT_EQ(v->dims[0], 2u) << k.sizes;
    EXPECT_EQ(v->count, 2) << k.sizes;
    EXPECT_EQ(var_get_int(1000, 1), 7) << k.sizes;
  }
}

TEST(VarCommands, ElementAndWholeAssignments) {
  GameRun run;
  EXPECT_EQ(run_body(run, "var 1000 int 3 = 7\nvar 1001 float 2 = 1.5\n",
                     "set V:1000 B:0 ) += B:5\n"
                     "set V:1000 B:1 ) /= B:0\n"
                     "set V:1000 B:2 ) %= B:4\n"
                     "setf V:1001 B:0 ) *= F:2.0\n"
                     "set v:1001 += B:4\n"),     // whole variable: every element, operator ignored
            0u)
      << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 12);
  EXPECT_EQ(var_get_int(1000, 1), 7);
  EXPECT_EQ(var_get_int(1000, 2), 3);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 0), 4.0);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 1), 4.0);
}

TEST(VarCommands, TextAppendKeepsWithinTheBuffer) {
  std::string long_text(4090, 'a');
  std::string value(4000, 'b');
  GameRun run;
  EXPECT_EQ(run_body(run,
                     "var 1000 text 3 = \"x\"\nvar 1001 text = \"" + value + "\"\nvar 1002 text = \"" + long_text +
                         "\"\n",
                     // A 3-byte reference yields 4000 bytes: the join is judged by
                     // the text's real length, not by the code's.
                     "sett V:1000 B:0 ) = \"abc\"\n"
                     "sett V:1000 B:0 ) += H:1001\n"
                     "sett V:1000 B:1 ) += \"yz\"\n"
                     "sett V:1002 ) += \"0123456\"\n"),
            0u)
      << g_error_report_log.last_message;
  std::string joined = "abc" + value;
  EXPECT_STREQ(var_get_string(1000, 0), joined.c_str());
  EXPECT_STREQ(var_get_string(1000, 1), "xyz");
  EXPECT_EQ(std::string(var_get_string(1002, 0)), long_text);
  // 100 + 4000 bytes would not fit: the element stays, nothing is reported.
  GameRun run2;
  EXPECT_EQ(run_body(run2, "var 1000 text = \"" + std::string(100, 'c') + "\"\nvar 1001 text = \"" + value + "\"\n",
                     "sett V:1000 ) += H:1001\n"),
            0u);
  EXPECT_EQ(std::string(var_get_string(1000, 0)), std::string(100, 'c'));
  // Operators other than set and append have no meaning for texts.
  GameRun run3;
  EXPECT_EQ(run_body(run3, "var 1000 text = \"a\"\n", "sett V:1000 ) -= \"a\"\n"), kErrTypeMismatch);
}

TEST(VarCommands, SystemVariables) {
  GameRun run;
  const u64 packed = (u64{1001} << 32) + 2;
  EXPECT_EQ(run_body(run,
                     "var 15 int = 0\nvar 50 int 1 = 0\nvar 53 int 17 = 0\nvar 117 int = 0\nvar 132 int = 0\n"
                     "var 145 int = 0\nvar 1000 int = 0\nvar 1001 int 4 = 0\n",
                     "set V:15 ) = L:0x1234567890\n"
                     "set V:50 L:" + std::to_string(packed) + " ) = B:9\n"
                     "set V:50 L:" + std::to_string(packed) + " ) += B:1\n"
                     "set V:117 ) = W:0x1FF\n"
                     "set V:132 ) = L:-3\n"
                     "set V:145 ) = B:7\n"
                     "call sub | i: B:4\n" +
                     std::string(kIdle) +
                     "label sub\n"
                     "set V:53 B:1 ) *= B:3\n"
                     "set V:53 B:2 ) = B:99\n"  // beyond the call's one value
                     "set V:1000 ) = V:53 B:1 )\n"
                     "return\n"),
            0u)
      << g_error_report_log.last_message;
  EXPECT_EQ(g_sysvar_store.value_15, 0x34567890);
  EXPECT_EQ(var_get_int(1001, 2), 10);
  EXPECT_EQ(g_sysvar_store.switches_117[0], 0xFF);
  EXPECT_EQ(sysvar_int(117, 0), -1);
  EXPECT_EQ(g_sysvar_store.counter_132, -3);
  EXPECT_EQ(sysvar_int(145, 0), 7);  // the menu command id
  EXPECT_EQ(var_get_int(1000, 0), 12);

  struct Case {
    const char* name;
    std::string vars, line;
    u32 error;
  } cases[] = {
      {"read-only integer", "var 3 int = 0\n", "set V:3 ) = B:1\n", kErrSysvarReadOnly},
      {"read-only float does nothing", "var 10 float = 0\n", "setf V:10 ) = F:1.0\n", 0},
      {"indirect to a text variable", "var 50 int 1 = 0\nvar 1001 text 2 = \"\"\n",
       "set V:50 L:" + std::to_string((u64{1001} << 32) + 1) + " ) = B:1\n", kErrIndirectType},
      {"indirect float to an integer", "var 51 float 1 = 0\nvar 1001 int 2 = 0\n",
       "setf V:51 L:" + std::to_string((u64{1001} << 32) + 1) + " ) = F:1.0\n", kErrIndirectType},
  };
  for (const Case& k : cases) {
    GameRun r;
    EXPECT_EQ(run_body(r, k.vars, k.line), k.error) << k.name;
  }
}

TEST(VarCommands, ElementWriters) {
  ASSERT_EQ(var_table_create(1100), 0);
  var_record(1000)->dim_count = 1;
  var_record(1000)->dims[0] = 2;
  ASSERT_EQ(var_alloc_int(1000, 0), 0);
  ASSERT_EQ(var_alloc_double(1001, 0), 0);
  ASSERT_EQ(var_alloc_string(1002, "", 0), 0);
  reset_error_report_log();
  EXPECT_EQ(var_set_number(1000, 1, 42), 0);
  EXPECT_EQ(var_get_int(1000, 1), 42);
  EXPECT_EQ(var_set_number(1000, 2, 1), -1);
  EXPECT_EQ(var_set_number(1000, -1, 1), -1);
  EXPECT_EQ(var_set_float(1000, 0, -2.9), 0);
  EXPECT_EQ(var_get_int(1000, 0), -2);
  EXPECT_EQ(var_set_number(1001, 0, 3), 0);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 0), 3.0);
  EXPECT_EQ(var_set_string(1002, 0, "hello"), 0);
  EXPECT_STREQ(var_get_string(1002, 0), "hello");
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(var_set_number(1002, 0, 1), 0);
  EXPECT_EQ(g_error_report_log.last_number, kErrTypeMismatch);
  EXPECT_EQ(var_set_string(1000, 0, "x"), -1);
  EXPECT_EQ(var_set_string(5000, 0, "x"), -1);
  var_table_free();
  g_quit_requested = 0;
}
