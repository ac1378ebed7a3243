#include "engine/vm/command_args.h"

#include <cstring>

#include "engine/commands/command_table.h"
#include "engine/vm/vm_errors.h"
#include "tests/vm/vm_fixture.h"

namespace {

const char* kCommands = R"(
command 0 nop
command 15 probe count:num:3 name:text:0 code:raw:0 colour:num:24 mode:num:28 n:num:1 m:num:2 x:num:26 size:num:13
keymap 1 0x41
)";

class CommandArgsTest : public VmTest {
 protected:
  void load(const std::string& instructions) {
    script = assemble_script(std::string(kCommands) + instructions);
    ASSERT_EQ(asm_load_command_list(script), 0);
    asm_select_instruction(script, 0);
    reset_error_report_log();
  }
  AsmScript script;
};

TEST_F(CommandArgsTest, CommandListIsParsed) {
  load("instr 0\n");
  EXPECT_EQ(g_command_list.count, 16u);
  EXPECT_STREQ(g_command_list.commands[15].name, "probe");
  ASSERT_EQ(g_command_list.commands[15].param_count, 9u);
  EXPECT_STREQ(g_command_list.commands[15].params[1].name, "name");
  EXPECT_EQ(g_command_list.commands[15].params[2].kind, kParamRawCode);
  EXPECT_EQ(g_command_list.commands[15].params[3].range_code, 24);
  EXPECT_EQ(g_command_list.commands[3].param_count, 0u);
  EXPECT_EQ(g_command_list.key_map[1], 0x41);
  EXPECT_STREQ(g_command_list.errno_texts[36], "errno 36");
}

TEST_F(CommandArgsTest, DamagedCommandListsAreRefused) {
  load("instr 0\n");
  std::vector<u8> good = script.command_list;
  // Every cut-off copy is refused without reading past its end.
  for (std::size_t n = 0; n < good.size(); ++n) {
    std::vector<u8> cut(good.begin(), good.begin() + static_cast<long>(n));
    reset_error_report_log();
    ASSERT_EQ(parse_command_list(cut.data(), cut.size()), -1) << n;
    ASSERT_EQ(g_error_report_log.last_number, kErrCompiledDataDamaged) << n;
    ASSERT_EQ(g_command_list.count, 0u);
  }
  std::vector<u8> many = good;
  many[8] = 0x01;
  many[9] = 0x01;  // 257 commands
  EXPECT_EQ(parse_command_list(many.data(), many.size()), -1);
  AsmScript bad_kind = assemble_script("command 0 c p:3:0\n");
  EXPECT_EQ(parse_command_list(bad_kind.command_list.data(), bad_kind.command_list.size()), -1);
  EXPECT_EQ(parse_command_list(good.data(), good.size()), 0);
}

TEST_F(CommandArgsTest, DecodesNumbersTextsAndRawCode) {
  int_var(1000, {4}, 0);
  load(R"(
instr 15
  arg 0 int : B:1
  arg 1 text : "file" B:7 s +
  arg 2 float : F:2.5
  arg 5 int add : V:1000 B:2 )
  arg 8 float : F:255.9
)");
  ASSERT_EQ(decode_command_args(15), 0);
  const DecodedArgs& d = g_args_decoded;
  EXPECT_EQ(d.count, 5);
  EXPECT_EQ(d.slot_of_param[0], 1);
  EXPECT_EQ(d.slot_of_param[1], 2);
  EXPECT_EQ(d.slot_of_param[3], 0);  // not given
  EXPECT_FALSE(arg_given(3));
  EXPECT_EQ(arg_value(0), 1);
  EXPECT_STREQ(arg_text(1), "file7");
  EXPECT_STREQ(arg_text(4), "");
  EXPECT_EQ(d.slots[3].raw_code, script.expr_pool.data() + script.records[2].code_offset);
  EXPECT_EQ(d.slots[4].assign_op, 1u);
  EXPECT_EQ(d.slots[4].ref_var, 1000u);
  EXPECT_EQ(d.slots[4].ref_element, 2);
  EXPECT_EQ(arg_value(8), 255);  // a float record of a number parameter, truncated
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(CommandArgsTest, EvaluatorFailureFailsTheDecode) {
  load(R"(
instr 15
  arg 1 text : "stale name"
instr 15
  arg 1 text : "x" B:1 +
  arg 0 int : B:1
)");
  ASSERT_EQ(decode_command_args(15), 0);
  EXPECT_STREQ(arg_text(1), "stale name");
  asm_select_instruction(script, 1);
  EXPECT_EQ(decode_command_args(15), -1);
  EXPECT_EQ(g_error_report_log.last_number, kErrTextNumberMixed);
  EXPECT_STREQ(arg_text(1), "");  // no text of an earlier instruction is left
  EXPECT_EQ(g_args_decoded.slot_of_param[0], 0);  // later records are not decoded
}

TEST_F(CommandArgsTest, DamagedRecordsAreRefused) {
  struct Case {
    const char* what;
    std::string instr;
  } cases[] = {
      {"parameter id beyond the command's count", "instr 15\n  arg 9 int : B:1\n"},
      {"type byte 0", "instr 15\n  arg 0 0 : B:1\n"},
      {"type byte 5", "instr 15\n  arg 0 5 : B:1\n"},
      {"code beyond the pool", "instr 15\n  rawarg 00 00 01 00 03000000 00100000\n"},
      {"length beyond the pool", "instr 15\n  arg 0 int : B:1\n  rawarg 00 00 01 00 ffffffff 00000000\n"},
  };
  for (const Case& c : cases) {
    load(c.instr);
    EXPECT_EQ(decode_command_args(15), -1) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, kErrCompiledDataDamaged) << c.what;
  }
  load("instr 15\n");
  EXPECT_EQ(decode_command_args(16), -1);  // beyond the command list
  EXPECT_EQ(decode_command_args(200), -1);
  EXPECT_EQ(decode_command_args(15), 0);
}

TEST_F(CommandArgsTest, RangeCodes) {
  load("instr 15\n");
  i32 w = 0, h = 0;
  get_logical_screen_size(&w, &h);
  struct Case {
    u32 code;
    i64 value;
    u32 error;  // 0 = accepted
  } cases[] = {
      {0, INT64_MIN, 0},
      {29, -5, 0},
      {1, 0, 0},
      {1, -1, kErrRangeMin},
      {2, 1, 0},
      {2, 0, kErrRangeMin},
      {3, 0, 0},
      {3, 1, 0},
      {3, 2, kErrRangeMinMax},
      // Codes 3-28 judge the low 32 bits only.
      {3, 0x100000001ll, 0},
      {3, 0x200000000ll, 0},
      {3, -1, kErrRangeMinMax},
      {3, static_cast<i64>(0xFFFFFFFF00000002ull), kErrRangeMinMax},
      {6, 0, kErrRangeMinMax},
      {6, 3, 0},
      {6, 0x100000000ll, kErrRangeMinMax},
      {13, 256, 0},
      {13, 0, kErrRangeMinMax},
      {17, 127, kErrRangeMinMax},
      {17, 128, 0},
      {17, 0x700000080ll, 0},
      {23, 8192, 0},
      {23, 8193, kErrRangeMinMax},
      {24, -1, 0},
      {24, 0xFFFFFFFFll, 0},
      {24, 0xFFFFFF, 0},
      {24, 0x1000000, kErrRangeColourOrNone},
      {24, -2, kErrRangeColourOrNone},
      {24, 0x1000000FFll, 0},
      {25, 0xFFFFFF, 0},
      {25, 0x1000000FFll, 0},
      {25, -1, kErrRangeColour},
      {25, 0xFFFFFFFFll, kErrRangeColour},
      {26, w - 1, 0},
      {26, w, kErrRangeMinMax},
      {26, 0x100000000ll, 0},
      {27, h - 1, 0},
      {27, h, kErrRangeMinMax},
      {27, -1, kErrRangeMinMax},
      {28, 3, 0},
      {28, 4, kErrRangeTooLarge},
      {28, -1, kErrRangeNegative},
      {28, 0x80000000ll, kErrRangeNegative},
      {28, static_cast<i64>(0xFFFFFFFF00000001ull), 0},
      {28, 0x100000004ll, kErrRangeTooLarge},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    int r = check_arg_range(15, 0, c.code, c.value);
    EXPECT_EQ(r, c.error ? -1 : 0) << c.code << " " << c.value;
    EXPECT_EQ(g_error_report_log.report_count ? g_error_report_log.last_number : 0u, c.error) << c.code << " " << c.value;
  }
}

TEST_F(CommandArgsTest, RangeCheckedInTheDecoderForNumbersOnly) {
  load(R"(
instr 15
  arg 0 int : B:2
instr 15
  arg 8 int : W:300
instr 15
  arg 8 int : W:200
)");
  EXPECT_EQ(decode_command_args(15), -1);
  EXPECT_EQ(g_error_report_log.last_number, kErrRangeMinMax);
  asm_select_instruction(script, 1);
  EXPECT_EQ(decode_command_args(15), -1);
  asm_select_instruction(script, 2);
  EXPECT_EQ(decode_command_args(15), 0);
  // A text parameter with a range code is not checked on a leftover number.
  load(R"(
command 15 probe t:text:2
instr 15
  arg 0 text : "x"
)");
  EXPECT_EQ(decode_command_args(15), 0);
}

TEST(AssignOps, Plain) {
  struct Case {
    u32 op;
    i64 cur, operand, result;
  } cases[] = {
      {0, 5, 9, 9},       {1, 5, 9, 14},      {2, 5, 9, -4},    {3, 5, 9, 45},
      {4, 45, 9, 5},      {4, 7, 0, 7},       {4, -7, 2, -3},   {9, 5, 9, 5},
      {1, INT64_MAX, 1, INT64_MIN},           {4, INT64_MIN, -1, INT64_MIN},
      {3, INT64_MIN, -1, INT64_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(apply_assign_op(c.op, c.cur, c.operand), c.result) << c.op;
}

TEST(AssignOps, BoundedFormsStayInTheirBounds) {
  struct Case {
    u32 op;
    i64 cur, operand, result;
  } clamped[] = {
      {0, 100, 999, 999},  // set is not clamped
      {1, 200, 100, 256},  {1, 10, -50, 0},  // a negative addend stops at min
      {2, 10, 50, 0},      {2, 200, -100, 256},
      {3, 100, 3, 256},    {3, 100, -3, 0},
      {4, 100, 0, 100},    {4, 100, -2, 0},
      {1, INT64_MAX, INT64_MAX, 256},  // exact, not wrapped, then clamped
      {9, 100, 5, 100},
  };
  for (const Case& c : clamped)
    EXPECT_EQ(apply_assign_op_clamped(c.op, c.cur, c.operand, 0, 256), c.result) << c.op << " " << c.operand;
  Case with_min[] = {
      {1, 10, -50, 1}, {2, 10, 50, 1}, {3, 10, -2, 1}, {4, 10, -2, 1}, {1, 10, 5, 15},
      {1, INT64_MAX, 1, INT64_MAX}, {4, 10, 0, 10}, {0, 10, -5, -5},
  };
  for (const Case& c : with_min) EXPECT_EQ(apply_assign_op_min(c.op, c.cur, c.operand, 1), c.result) << c.op;
}

TEST_F(CommandArgsTest, CommandTable) {
  fill_command_table();
  for (u32 i = 0; i < kCommandCount; ++i) ASSERT_NE(g_command_table[i], nullptr) << i;
  for (u32 id : {16u, 19u, 29u, 41u, 59u, 85u, 113u, 115u, 117u, 120u}) EXPECT_EQ(g_command_table[id], cmd_undefined) << id;
  for (u32 id : {0u, 9u, 51u, 77u, 80u, 82u, 83u, 84u}) EXPECT_EQ(g_command_table[id], cmd_nop) << id;
  EXPECT_EQ(g_command_table[15], cmd_args_only_15);
  EXPECT_EQ(g_command_table[101], cmd_args_only_101);
  EXPECT_EQ(g_command_table[116], cmd_system);
  EXPECT_EQ(g_command_table[42], cmd_label_jump);

  reset_error_report_log();
  EXPECT_EQ(cmd_undefined(), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, kErrUndefinedCommand);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);

  load("instr 15\n  arg 0 int : B:5\ninstr 15\n  arg 0 int : B:1\n");
  EXPECT_EQ(command_handler_for(15), cmd_args_only_15);
  EXPECT_EQ(cmd_args_only_15(), 0xFFFFFFFFu);  // its range check applies
  EXPECT_EQ(g_error_report_log.last_number, kErrRangeMinMax);
  asm_select_instruction(script, 1);
  EXPECT_EQ(cmd_args_only_15(), 0u);
  reset_error_report_log();
  EXPECT_EQ(command_handler_for(16), nullptr);  // beyond the command list
  EXPECT_EQ(command_handler_for(121), nullptr);
  EXPECT_EQ(command_handler_for(255), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, kErrCompiledDataDamaged);
}

}  // namespace
