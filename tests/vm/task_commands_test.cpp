// Starting, restarting and stopping tasks, and the task-state text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/task_state.h"
#include "engine/vm/vars.h"
#include "tests/support/game_writer_run.h"

namespace {

ObjectNode* task_node(const char* path) { return resolve_object_path(g_object_roots[kTreeTask], path, 0); }
ScriptContext* task(const char* path) { return task_context(task_node(path)); }

const char* const kIdle = "loop L:-1\nwait B:1\nendloop\n";
const char* const kArgVars = "var 67 int 17 = 0\nvar 68 float 17 = 0\n";

}  // namespace

TEST(TaskCommands, OrderKeysOfAnExistingTask) {
  GameRun run;
  ASSERT_EQ(run.load_text("script 0 main.txt\nlabel SYSTEM_START\n"
                          "start t lt | key: B:10\n"
                          "wait B:1\n"
                          "start t | key add: B:5\n"
                          "wait B:1\n"
                          "start t | key sub: B:20\n"
                          "wait B:1\n"
                          "start t | key div: B:0\n" +
                          std::string(kIdle) + "label lt\n" + kIdle),
            0);
  run.frame();
  EXPECT_EQ(task_node("t")->order_key, 10);
  run.frame();
  EXPECT_EQ(task_node("t")->order_key, 15);
  run.frame();
  EXPECT_EQ(task_node("t")->order_key, 1);  // below 1 becomes 1
  run.frame();
  EXPECT_EQ(task_node("t")->order_key, 1);  // a zero divisor keeps it
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;
}

TEST(TaskCommands, ArgumentSlotsAndEnableBytes) {
  GameRun run;
  ASSERT_EQ(run.load_text(std::string(kArgVars) +
                          "var 1000 int = 0\nvar 1001 float = 0\n"
                          "script 0 main.txt\nlabel SYSTEM_START\n"
                          "start t lt | i1: B:7 | i10: B:9 | f2: B:3 | enable_b: B:1\n" +
                          kIdle +
                          "label lt\n"
                          "set V:1000 ) = V:67 B:1 ) V:67 B:10 ) +\n"
                          "setf V:1001 ) = V:68 B:2 )\n" +
                          kIdle),
            0);
  run.frames(2);
  EXPECT_EQ(var_get_int(1000, 0), 16) << g_error_report_log.last_message;
  EXPECT_DOUBLE_EQ(var_get_float(1001, 0), 3.0);
  EXPECT_EQ(task("t")->enable_b, 1);
}

TEST(TaskCommands, StoppingEndsTheTurnOnlyForItself) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nvar 1001 int = 0\n"
                          "script 0 main.txt\nlabel SYSTEM_START\n"
                          "start a/x lx | key: B:2\n"
                          "start b/x lbx | key: B:1\n" +
                          std::string(kIdle) +
                          "label lx\n" + kIdle +
                          // b/x stops a/x (same last name, another task) and goes on,
                          // then stops itself and goes no further.
                          "label lbx\n"
                          "stop ../a/x\n"
                          "set V:1000 ) = B:1\n"
                          "stop\n"
                          "set V:1001 ) = B:1\n" +
                          kIdle),
            0);
  ObjectNode* root = g_object_roots[kTreeTask];
  ObjectNode* a = get_named_object(root, "a", 1, 3);
  ObjectNode* b = get_named_object(root, "b", 1, 4);
  ASSERT_TRUE(a && b);
  ASSERT_EQ(make_script_context(a), 0);
  ASSERT_EQ(make_script_context(b), 0);
  run.frame();
  ASSERT_NE(task_node("a/x"), nullptr);
  ASSERT_NE(task_node("b/x"), nullptr);
  run.frame();
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 1);
  EXPECT_EQ(var_get_int(1001, 0), 0);
  // Both are gone from the tree (and freed once the pass ended).
  EXPECT_EQ(task_node("a/x"), nullptr);
  EXPECT_EQ(task_node("b/x"), nullptr);
  EXPECT_EQ(a->child_count, 0u);
  EXPECT_EQ(b->child_count, 0u);
}

TEST(TaskCommands, ReturnOutsideACallEndsATask) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\n"
                          "start t lt\n" +
                          std::string(kIdle) + "label lt\nset V:1000 ) = B:1\nend\nset V:1000 ) = B:2\n"),
            0);
  run.frames(3);
  EXPECT_EQ(var_get_int(1000, 0), 1);
  EXPECT_EQ(task_node("t"), nullptr);
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;
}

TEST(TaskCommands, Failures) {
  struct Case {
    const char* name;
    const char* line;
    u32 error;
  } cases[] = {
      {"stop the system task", "stop SYSTEM", kErrStopSystemTask},
      {"stop itself as the system task", "stop", kErrStopSystemTask},
      {"stop a task that is not there", "stop ghost", kErrTaskMissing},
      {"start without a label", "start ghost -", kErrTaskMissing},
      {"start a group", "start grp/ lt", kErrTaskIsGroup},
      {"start at a missing label", "start t nowhere", kErrLabelMissing},
      {"restore without a signature", "start t lt | state: \"abc\"", kErrTaskStateSignature},
  };
  for (const Case& k : cases) {
    GameRun run;
    ASSERT_EQ(run.load_text(std::string("script 0 main.txt\nlabel SYSTEM_START\n") + k.line + "\n" + kIdle +
                            "label lt\n" + kIdle),
              0)
        << k.name;
    run.frame();
    EXPECT_EQ(g_error_report_log.last_number, k.error) << k.name;
    EXPECT_EQ(g_quit_requested.load(), 1) << k.name;
  }
}

TEST(TaskCommands, RestartBeginsAfreshAtTheLabel) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\n"
                          "start t lt\n"
                          "wait B:2\n"
                          "start t again\n" +
                          std::string(kIdle) +
                          "label lt\nloop B:5\nif B:1\ncall sub\nendif\nendloop\n" + kIdle +
                          "label sub\nwait B:9\nreturn\n"
                          "label again\nset V:1000 ) = B:1\n" +
                          kIdle),
            0);
  run.frames(2);
  ScriptContext* t = task("t");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->call_depth, 1);
  EXPECT_EQ(t->block_a_depth, 1);
  EXPECT_EQ(t->block_b_depth, 1);
  EXPECT_GT(t->wait_frames, 0u);
  run.frames(2);
  EXPECT_EQ(t->call_depth, 0);
  EXPECT_EQ(t->block_a_depth, 0);
  EXPECT_EQ(var_get_int(1000, 0), 1) << g_error_report_log.last_message;
}

TEST(TaskCommands, RestartCarriesOutAPendingTextReset) {
  GameRun run;
  ASSERT_EQ(run.load_text("script 0 main.txt\nlabel SYSTEM_START\n"
                          "start t lt\n"
                          "wait B:1\n"
                          "start t lt\n" +
                          std::string(kIdle) + "label lt\n" + kIdle),
            0);
  run.frame();
  ScriptContext* t = task("t");
  ASSERT_NE(t, nullptr);
  static TextRecord record;
  TextRecord* saved = g_text_record;
  g_text_record = &record;
  // The task ended a text and has had no turn since (it is disabled).
  t->enable_a = 0;
  t->text_reset_pending = 1;
  std::strcpy(record.text_a, "left over");
  run.frames(2);
  g_text_record = saved;
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;
  EXPECT_EQ(t->text_reset_pending, 0);
  EXPECT_STREQ(record.text_a, "");
}

TEST(TaskCommands, TaskStateRoundTrip) {
  GameRun run;
  ASSERT_EQ(run.load_text("script 0 main.txt\nlabel SYSTEM_START\nnop\nscript 1 other.txt\nlabel o\nnop\n"), 0);
  ScriptContext* src = task_context(g_system_objects[kTreeTask]);
  ASSERT_EQ(ensure_block_frames(src, 3), 0);
  ASSERT_EQ(ensure_loop_frames(src, 2), 0);
  ASSERT_EQ(ensure_call_frames(src, 1), 0);
  src->block_a_depth = 3;
  for (u32 i = 0; i < 3; ++i) *src->block_a_frames[i] = BlockFrame{static_cast<u8>(i), 100 + i, 200 + i};
  src->block_b_depth = 2;
  *src->block_b_frames[0] = LoopFrame{1, 10, 20, 3, -1};
  *src->block_b_frames[1] = LoopFrame{2, 11, 21, -7, 0x7FFFFFFF};
  src->call_depth = 1;
  src->call_frames[0]->saved_block_a_depth = 2;
  src->call_frames[0]->return_pc = 0xABCDEF12u;
  src->call_frames[0]->return_script = 1;
  src->call_frames[0]->call_line = 0x12345;
  src->state_word = 0xDEADBEEFu;
  src->script_no = 1;
  std::string text = encode_task_state(src);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  ObjectNode* node = get_named_object(g_object_roots[kTreeTask], "copy", 0, 1);
  ASSERT_EQ(make_script_context(node), 0);
  ScriptContext* dst = task_context(node);
  ASSERT_EQ(restore_task_state(text.data(), static_cast<u32>(text.size()), dst), static_cast<int>(text.size()));
  EXPECT_EQ(dst->block_a_depth, 3);
  EXPECT_EQ(dst->block_a_frames[2]->head_pc, 102u);
  EXPECT_EQ(dst->block_a_frames[2]->saved_block_b_depth, 2);
  EXPECT_EQ(dst->block_b_depth, 2);
  EXPECT_EQ(dst->block_b_frames[0]->count, -1);
  EXPECT_EQ(dst->block_b_frames[1]->counter, -7);
  EXPECT_EQ(dst->block_b_frames[1]->count, 0x7FFFFFFF);
  EXPECT_EQ(dst->call_depth, 1);
  EXPECT_EQ(dst->call_frames[0]->return_pc, 0xABCDEF12u);
  EXPECT_EQ(dst->call_frames[0]->return_script, 1);
  EXPECT_EQ(dst->call_frames[0]->call_line, 0x2345u);
  EXPECT_EQ(dst->state_word, 0xDEADBEEFu);
  EXPECT_EQ(dst->script_no, 1);

  // Damaged texts fail and leave the task as it was.
  struct Case {
    const char* name;
    std::string text;
    int result;
    u32 error;
  } cases[] = {
      {"no signature", "xxxxxxxx" + text.substr(8), 0, kErrTaskStateSignature},
      {"cut short", text.substr(0, text.size() - 12), -1, kErrTaskStateDamaged},
      {"cut in the stacks", text.substr(0, 40), -1, kErrTaskStateDamaged},
      {"depth 64", text.substr(0, 8) + "\x05" "a" + text.substr(10), -1, kErrTaskStateDamaged},
      {"not a digit", text.substr(0, 8) + "\x01" "z" + text.substr(10), -1, kErrTaskStateDamaged},
      {"unknown script", text.substr(0, text.size() - 9) + "other.tx_", 0, kErrTaskStateScript},
  };
  ObjectNode* node2 = get_named_object(g_object_roots[kTreeTask], "fresh", 0, 1);
  ASSERT_EQ(make_script_context(node2), 0);
  ScriptContext* fresh = task_context(node2);
  for (const Case& k : cases) {
    reset_error_report_log();
    EXPECT_EQ(restore_task_state(k.text.data(), static_cast<u32>(k.text.size()), fresh), k.result) << k.name;
    EXPECT_EQ(g_error_report_log.last_number, k.error) << k.name;
    EXPECT_EQ(fresh->block_a_depth, 0) << k.name;
    EXPECT_EQ(fresh->call_depth, 0) << k.name;
    EXPECT_EQ(fresh->block_b_depth, 0) << k.name;
  }
  g_quit_requested = 0;
}

TEST(TaskCommands, RestoredInnerDepthsHaveTheirFrames) {
  GameRun run;
  ASSERT_EQ(run.load_text("script 0 main.txt\nlabel SYSTEM_START\nnop\n"), 0);
  // Each depth saved inside a frame, in turn 40 while the stacks hold one
  // frame each; the handlers that take that depth back then find its frame.
  for (int field = 0; field < 4; ++field) {
    ScriptContext* src = task_context(g_system_objects[kTreeTask]);
    ASSERT_EQ(ensure_block_frames(src, 1), 0);
    ASSERT_EQ(ensure_loop_frames(src, 1), 0);
    ASSERT_EQ(ensure_call_frames(src, 1), 0);
    src->block_a_depth = 1;
    *src->block_a_frames[0] = BlockFrame{static_cast<u8>(field == 0 ? 40 : 1), 0, 0};
    src->block_b_depth = 1;
    *src->block_b_frames[0] = LoopFrame{static_cast<u8>(field == 1 ? 40 : 1), 0, 0, 1, 2};
    src->call_depth = 1;
    src->call_frames[0]->saved_block_a_depth = static_cast<u8>(field == 2 ? 40 : 0);
    src->call_frames[0]->saved_block_b_depth = static_cast<u8>(field == 3 ? 40 : 0);
    src->call_frames[0]->return_script = 0;
    std::string text = encode_task_state(src);
    std::string name = "t" + std::to_string(field);
    ObjectNode* node = get_named_object(g_object_roots[kTreeTask], name.c_str(), 0, 1);
    ASSERT_EQ(make_script_context(node), 0);
    ScriptContext* dst = task_context(node);
    ASSERT_GT(restore_task_state(text.data(), static_cast<u32>(text.size()), dst), 0);
    for (u32 i = 0; i <= 40; ++i) {
      const void* frame = field == 1 || field == 2 ? static_cast<const void*>(dst->block_a_frames[i])
                                                   : static_cast<const void*>(dst->block_b_frames[i]);
      ASSERT_NE(frame, nullptr) << field << " " << i;
    }
    if (field == 1) {
      // The loop end goes back to block depth 40; the block end closes it.
      g_scheduler.current_context = dst;
      EXPECT_EQ(cmd_loop_end(), 0u);
      EXPECT_EQ(dst->block_a_depth, 40);
      EXPECT_EQ(cmd_block_end(), 0u);
      EXPECT_EQ(dst->block_a_depth, 39);
      g_scheduler.current_context = nullptr;
    }
  }
}

TEST(TaskCommands, AFailedRestoreFailsTheCommand) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nscript 0 main.txt\nlabel SYSTEM_START\n"
                          "start t lt | state: \"\\x01\\x02\"\n"
                          "set V:1000 ) = B:1\n" +
                          std::string(kIdle) + "label lt\n" + kIdle),
            0);
  run.frame();
  EXPECT_EQ(g_error_report_log.last_number, kErrTaskStateSignature);
  EXPECT_EQ(var_get_int(1000, 0), 0);
}
