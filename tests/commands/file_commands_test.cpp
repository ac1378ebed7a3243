// Script command 21: file and folder questions answered into a variable.
#include <gtest/gtest.h>

#include "engine/commands/command_table.h"
#include "engine/frame/file_queries.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/vars.h"
#include "platform/ui.h"
#include "tests/frame/data_test_env.h"
#include "tests/support/script_asm.h"

namespace {

constexpr u32 kIntVar = 1000, kTextVar = 1001, kFloatVar = 1002;

class FileQueryCommandTest : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    fake_ui_reset();
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1100), 0);
    var_record(kIntVar)->dim_count = 0;
    ASSERT_EQ(var_alloc_int(kIntVar, -7), 0);
    var_record(kTextVar)->dim_count = 0;
    ASSERT_EQ(var_alloc_string(kTextVar, "stale", 5), 0);
    var_record(kFloatVar)->dim_count = 0;
    ASSERT_EQ(var_alloc_double(kFloatVar, -7), 0);
  }
  void TearDown() override {
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    fake_ui_reset();
    DataTest::TearDown();
  }
  // Runs command 21 with the given "arg" lines.
  u32 run(const std::string& args) {
    std::string list = "command 21 filequery";
    const char* names[] = {"folder", "image", "sound", "file", "exists", "name", "program", "result"};
    const char* kinds[] = {"text", "text", "text", "text", "num", "num", "num", "num"};
    for (int p = 0; p < 8; ++p) list += std::string(" ") + names[p] + ":" + kinds[p] + ":0";
    script_ = assemble_script(list + "\ninstr 21\n" + args);
    EXPECT_EQ(asm_load_command_list(script_), 0);
    asm_select_instruction(script_, 0);
    return cmd_file_query();
  }
  AsmScript script_;
};

TEST_F(FileQueryCommandTest, ExistsForFoldersImagesSoundsAndFiles) {
  make_folder("Save");
  make_folder("bg");
  write_text("bg/a.png", "p");
  write_text("se.wav", "w");
  struct Case {
    const char* subject;
    i64 expected;
  };
  const Case cases[] = {
      {"arg 0 text : \"SAVE\"", 1},           {"arg 0 text : \"bg/a.png\"", 0},
      {"arg 1 text : \"BG/A\"", 1},           {"arg 1 text : \"bg/b\"", 0},
      {"arg 2 text : \"se\"", 1},             {"arg 3 text : \"se\"", 0},
      {"arg 3 text : \"bg\\\\a.png\"", 1},
      // The highest subject given wins.
      {"arg 1 text : \"bg/a\"\narg 2 text : \"bg/a\"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(std::string(c.subject) + "\narg 4 int : B:1\narg 7 int : v:1000\n"), 0u) << c.subject;
    EXPECT_EQ(var_get_int(kIntVar, 0), c.expected) << c.subject;
  }
  EXPECT_EQ(run("arg 1 text : \"bg/a\"\narg 4 int : B:1\narg 7 int : v:1002\n"), 0u);
  EXPECT_EQ(var_get_float(kFloatVar, 0), 1.0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(FileQueryCommandTest, ResolvedNameAndProgramAreTexts) {
  make_folder("bg");
  write_text("bg/a.png", "p");
  EXPECT_EQ(run("arg 1 text : \"BG/A\"\narg 5 int : B:1\narg 7 int : v:1001\n"), 0u);
  EXPECT_STREQ(var_get_string(kTextVar, 0), "bg\\a.png");
  EXPECT_EQ(run("arg 1 text : \"bg/none\"\narg 5 int : B:1\narg 7 int : v:1001\n"), 0u);
  EXPECT_STREQ(var_get_string(kTextVar, 0), "");

  fake_ui_set_associated_program("\\usr\\bin\\viewer");
  EXPECT_EQ(run("arg 1 text : \"bg/a\"\narg 6 int : B:1\narg 7 int : v:1001\n"), 0u);
  EXPECT_STREQ(var_get_string(kTextVar, 0), "\\usr\\bin\\viewer");
  EXPECT_EQ(run("arg 0 text : \"bg\"\narg 6 int : B:1\narg 7 int : v:1001\n"), 0u);
  EXPECT_STREQ(var_get_string(kTextVar, 0), "");
  // An archive entry has no program.
  write_archive("a.zpf", {zpf_item("bg\\b.png", "x")});
  ASSERT_EQ(build_archive_index(), 0);
  EXPECT_EQ(run("arg 1 text : \"bg/b\"\narg 6 int : B:1\narg 7 int : v:1001\n"), 0u);
  EXPECT_STREQ(var_get_string(kTextVar, 0), "");
}

TEST_F(FileQueryCommandTest, WrongResultTypeIsAnError) {
  const char* cases[] = {
      "arg 1 text : \"x\"\narg 4 int : B:1\narg 7 int : v:1001\n",  // number into a text
      "arg 1 text : \"x\"\narg 5 int : B:1\narg 7 int : v:1000\n",  // text into a number
      "arg 1 text : \"x\"\narg 4 int : B:1\narg 7 int : B:5\n",     // not a variable
      "arg 1 text : \"x\"\narg 4 int : B:1\n",                      // no result
  };
  for (const char* args : cases) {
    reset_error_report_log();
    EXPECT_EQ(run(args), 0xFFFFFFFFu) << args;
    EXPECT_EQ(g_error_report_log.last_number, 101140u) << args;
    EXPECT_EQ(g_error_report_log.last_fatal, 1) << args;
  }
}

}  // namespace
