// The command layer's side of the VM: what a handler hands its subsystem,
// and how the VM finds the handlers.
#include <gtest/gtest.h>

#include <string>

#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/frame/errors.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/vm_errors.h"
#include "tests/support/script_asm.h"

namespace {

class CommandParamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_expr_ops(1);
    init_arg_eval_tables();
  }
  void TearDown() override {
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    init_command_table();
    fill_command_table();
  }
  AsmScript script_;
};

TEST_F(CommandParamsTest, DecodedParamsCarryWhatWasGivenWithOperatorsTextsAndNames) {
  script_ = assemble_script(
      "command 7 probe count:num:0 name:text:0 unused:num:0 step:num:0\n"
      "instr 7\n"
      "  arg 0 int : B:5\n"
      "  arg 3 int sub : B:2\n"
      "  arg 1 text : \"bg/a\"\n"
      "  arg 0 int add : B:9\n");  // a parameter given twice: the last counts
  ASSERT_EQ(asm_load_command_list(script_), 0);
  asm_select_instruction(script_, 0);
  ASSERT_EQ(decode_command_args(7), 0);
  const ParamSet& p = decoded_params(7);
  EXPECT_STREQ(p.request_name, "probe");
  EXPECT_STREQ(p.param_name(3), "step");
  EXPECT_STREQ(p.param_name(99), "");
  EXPECT_TRUE(p.given(0));
  EXPECT_EQ(p.value(0), 9);
  EXPECT_EQ(p.op(0), 1u);
  EXPECT_TRUE(p.given(3));
  EXPECT_EQ(p.value(3), 2);
  EXPECT_EQ(p.op(3), 2u);
  EXPECT_STREQ(p.text(1), "bg/a");
  EXPECT_FALSE(p.given(2));
  EXPECT_EQ(p.value(2), 0);
  EXPECT_STREQ(p.text(2), "");
  EXPECT_FALSE(p.given(255));
}

TEST_F(CommandParamsTest, WithoutBindingsNoInstructionFindsAHandler) {
  script_ = assemble_script("command 0 nop\ninstr 0\n");
  ASSERT_EQ(asm_load_command_list(script_), 0);
  const CommandHandler* bound = g_command_bindings;
  g_command_bindings = nullptr;
  fill_command_table();
  reset_error_report_log();
  EXPECT_EQ(command_handler_for(0), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, kErrCompiledDataDamaged);
  g_command_bindings = bound;
  fill_command_table();
  EXPECT_EQ(command_handler_for(0), cmd_nop);
  init_command_table();
  ASSERT_NE(g_command_bindings, nullptr);
  EXPECT_EQ(g_command_bindings[1], cmd_layer_load_image);
}

}  // namespace
