#include "engine/vm/expr.h"

#include <cstring>
#include <random>

#include "engine/vm/vm_errors.h"
#include "tests/vm/vm_fixture.h"

namespace {

using ExprTest = VmTest;

const std::string kMin = "L:-9223372036854775808";
const std::string kMax = "L:9223372036854775807";

TEST_F(ExprTest, IntegerArithmeticIsDefinedEverywhere) {
  struct Case {
    std::string code;
    i64 value;
  } cases[] = {
      {"B:3 B:4 *", 12},
      {"W:-300 B:5 +", -295},
      {"I:100000 B:7 -", 99993},
      {"B:7 B:2 /", 3},
      {"B:-7 B:2 /", -3},  // truncation toward zero
      {"B:7 B:2 %", 1},
      {"B:7 B:0 /", 0},
      {"B:7 B:0 %", 0},
      {kMin + " B:-1 /", INT64_MIN},
      {kMin + " B:-1 %", 0},
      {kMax + " B:1 +", INT64_MIN},
      {kMin + " B:1 -", INT64_MAX},
      {kMax + " B:2 *", -2},
      {kMin + " R", INT64_MIN},
      {"B:5 R", -5},
      {"F:2.9", 2},  // a double in integer arithmetic is truncated
      {"F:-2.9", -2},
      {"B:2 B:3 <", 1},
      {"B:2 B:3 >", 0},
      {"B:3 B:3 S", 1},
      {"B:2 B:3 Z", 0},
      {"B:3 B:3 =", 1},
      {"B:3 B:4 !", 1},
      {"B:2 B:0 &", 0},
      {"B:2 B:0 |", 1},
      {"B:12 B:10 A", 8},
      {"B:12 B:10 O", 14},
      {"B:12 B:10 ^", 6},
      {"", 0},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    EXPECT_EQ(eval_int(c.code), c.value) << c.code;
    EXPECT_EQ(g_error_report_log.report_count, 0u) << c.code;
  }
}

TEST_F(ExprTest, FloatArithmetic) {
  EXPECT_DOUBLE_EQ(eval_double("B:1 B:2 /"), 0.5);
  EXPECT_DOUBLE_EQ(eval_double("F:7.0 F:0.0 /"), 0.0);
  EXPECT_DOUBLE_EQ(eval_double("B:7 B:2 %"), 7.0);  // the left value stays
  EXPECT_DOUBLE_EQ(eval_double("F:1.5 F:1.5 ="), 1.0);
  EXPECT_DOUBLE_EQ(eval_double("F:1.5 R"), -1.5);
  EXPECT_DOUBLE_EQ(eval_double("F:6.9 B:3 A"), 2.0);
  std::vector<u8> c = asm_expr("F:2.75");
  EXPECT_EQ(expr_eval_double_as_int(c.data(), static_cast<u32>(c.size())), 2);
  c = asm_expr("F:1e300 F:1e300 *");  // infinity saturates when taken as an integer
  EXPECT_EQ(expr_eval_double_as_int(c.data(), static_cast<u32>(c.size())), INT64_MAX);
  c = asm_expr("F:0.0 F:0.0 / F:0.0 F:0.0 / +");  // 0/0 is 0 here, never NaN
  EXPECT_EQ(expr_eval_double_as_int(c.data(), static_cast<u32>(c.size())), 0);
  c = asm_expr("B:7 B:2 /");
  EXPECT_DOUBLE_EQ(expr_eval_int_as_double(c.data(), static_cast<u32>(c.size())), 3.0);
}

TEST_F(ExprTest, IndicesAreIntegerEvenInFloatMode) {
  float_var(1000, {2}, 0.0);
  var_record(1000)->floats[0] = 10.5;
  var_record(1000)->floats[1] = 20.5;
  // 1 / 2 * 2 is 0 in integers (1 in doubles).
  EXPECT_DOUBLE_EQ(eval_double("V:1000 B:1 B:2 / B:2 * ) B:1 B:2 / +"), 11.0);
}

TEST_F(ExprTest, Texts) {
  EXPECT_EQ(eval_text("\"abc\" \"def\" +"), "abcdef");
  EXPECT_EQ(eval_text("\"a\\nb\\tc\\\\d\\qe\""), "a\nb\tc\\dqe");
  EXPECT_EQ(eval_text("\"say \\\"hi\\\"\""), "say \"hi\"");
  EXPECT_EQ(eval_text("B:42 s"), "42");
  EXPECT_EQ(eval_text("F:1.5 s", true), "1.500000");
  EXPECT_EQ(eval_text("B:42"), "");  // a number left in a text mode
  EXPECT_EQ(eval_int("\"abc\" \"abc\" ="), 1);
  EXPECT_EQ(eval_int("\"abc\" \"abd\" !"), 1);
  EXPECT_EQ(eval_int("\"ab\" \"abc\" ="), 0);
  // A double-byte character whose second byte is '\' is copied whole.
  EXPECT_EQ(eval_text("\"\x95\\\""), "\x95\\");
}

TEST_F(ExprTest, ConcatenationThatWouldReachTheLimitKeepsTheLeftText) {
  std::string a(3000, 'a'), b(1095, 'b'), c(1096, 'c');
  EXPECT_EQ(eval_text("\"" + a + "\" \"" + b + "\" +").size(), 4095u);
  EXPECT_EQ(eval_text("\"" + a + "\" \"" + c + "\" +"), a);
}

TEST_F(ExprTest, TextToNumber) {
  EXPECT_EQ(eval_int("\"0x1F\" i"), 31);
  EXPECT_EQ(error_of("\"0X1F\" i"), kErrNotANumber);  // only a lower-case x is hexadecimal
  EXPECT_EQ(eval_int("\"0xFFFFFFFFFFFFFFFF\" i"), -1);
  EXPECT_EQ(eval_int("\"-3.5\" i"), -3);
  EXPECT_EQ(eval_int("\"123\" i B:1 +"), 124);
  EXPECT_EQ(eval_int("\"99999999999999999999\" i"), INT64_MAX);
  EXPECT_EQ(eval_int("\"-99999999999999999999\" i"), INT64_MIN);
  EXPECT_DOUBLE_EQ(eval_double("\"2.25\" i"), 2.25);
  EXPECT_EQ(error_of("\"12a\" i"), kErrNotANumber);
  EXPECT_EQ(error_of("\"\x82\xa0\" i"), kErrNotANumber);
}

TEST_F(ExprTest, TextAndNumberMixedIsRefused) {
  EXPECT_EQ(error_of("\"abc\" B:1 ="), kErrTextNumberMixed);
  EXPECT_EQ(error_of("B:1 \"abc\" +"), kErrTextNumberMixed);
  EXPECT_EQ(error_of("\"abc\" B:1 !"), kErrTextNumberMixed);
  int_var(1000, {3}, 0);
  EXPECT_EQ(error_of("V:1000 \"x\" )"), kErrTextNumberMixed);
}

TEST_F(ExprTest, DamagedCodeIsRefused) {
  const char* cases[] = {
      "op:B",                 // operand too short for its opcode
      "op:L:01020304",
      "op:H:0001",
      "x:42",                 // instruction header cut off
      "x:4205000102",         // operand runs past the end
      "B:1 +",                // binary operator with one value
      "+",
      "R",
      "s",
      "i",
      ")",                    // no open list
      "V:1000 B:1 + )",       // '+' would consume the placeholder
      "V:1000 B:1",           // list left open
  };
  int_var(1000, {3}, 0);
  for (const char* c : cases) EXPECT_EQ(error_of(c), kErrCompiledDataDamaged) << c;
  EXPECT_EQ(error_of("op:0x01"), kErrInvalidOpcode);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
}

TEST_F(ExprTest, StackStringSlotsAndLiteralLimits) {
  std::string code;
  for (u32 i = 0; i < kExprStackSize; ++i) code += "B:1 ";
  EXPECT_EQ(error_of(code), 0u);
  EXPECT_EQ(error_of(code + "B:1"), kErrCompiledDataDamaged);
  std::string texts = "\"a\" ";
  for (u32 i = 1; i < kExprStringSlots - 1; ++i) texts += "\"a\" + ";
  EXPECT_EQ(error_of(texts, kExprTextInt), 0u);
  EXPECT_EQ(error_of(texts + "\"a\" +", kExprTextInt), kErrCompiledDataDamaged);
  EXPECT_EQ(error_of("\"" + std::string(4095, 'z') + "\""), 0u);
  EXPECT_EQ(error_of("\"" + std::string(4096, 'z') + "\""), kErrCompiledDataDamaged);
}

TEST_F(ExprTest, LiteralCopiesDoubleByteCharactersWhole) {
  char out[kExprTextSize];
  struct Case {
    std::vector<u8> code;
    std::string text;
  } cases[] = {
      // A trail byte equal to the delimiter belongs to its character.
      {{'M', 5, 0, 0x7C, 0x83, 0x7C, 'x', 0x7C}, "\x83\x7Cx"},
      {{'M', 4, 0, '"', 0x95, '"', '"'}, "\x95\""},
      // A lead byte that ends the operand is copied alone; a literal without
      // its closing delimiter ends with its operand.
      {{'M', 2, 0, '"', 0x83}, "\x83"},
      {{'M', 3, 0, '"', 'a', 'b'}, "ab"},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    u32 n = expr_eval_string(out, c.code.data(), static_cast<u32>(c.code.size()));
    EXPECT_EQ(std::string(out, n), c.text);
    EXPECT_EQ(g_error_report_log.report_count, 0u);
  }
}

TEST_F(ExprTest, VariableValues) {
  int_var(1000, {}, 41);
  float_var(1001, {}, 2.5);
  text_var(1002, {}, "hello");
  int_var(1003, {3, 4}, 0);
  var_record(1003)->ints[1 * 4 + 2] = 99;
  EXPECT_EQ(eval_int("H:1000 B:1 +"), 42);
  EXPECT_DOUBLE_EQ(eval_double("H:1001 H:1000 +"), 43.5);
  EXPECT_EQ(eval_int("H:1001"), 2);
  EXPECT_EQ(eval_text("H:1002 \"!\" +"), "hello!");
  EXPECT_EQ(eval_int("V:1003 B:1 , B:2 )"), 99);
  EXPECT_EQ(g_expr_ref.var_id, 1003u);
  EXPECT_EQ(g_expr_ref.element, 6);
  EXPECT_EQ(g_expr_ref.bare_ref, 0);
  // An index is taken as an unsigned 32-bit number: 2^32 + 1 addresses 1.
  EXPECT_EQ(eval_int("V:1003 L:4294967297 , B:2 )"), 99);
  EXPECT_EQ(g_expr_ref.element, 6);
  EXPECT_EQ(eval_int("v:1000"), 0);
  EXPECT_EQ(g_expr_ref.var_id, 1000u);
  EXPECT_EQ(g_expr_ref.bare_ref, 1);
}

TEST_F(ExprTest, IndexChecks) {
  int_var(1003, {3, 4}, 0);
  EXPECT_EQ(error_of("V:1003 B:3 , B:0 )"), kErrIndexOutside);
  EXPECT_EQ(error_of("V:1003 B:-1 , B:0 )"), kErrIndexOutside);
  EXPECT_EQ(error_of("V:1003 B:1 )"), kErrIndexCount);
  EXPECT_EQ(error_of("V:1003 B:1 , B:1 , B:1 )"), kErrIndexCount);
  std::string ten = "V:1003";
  for (int i = 0; i < 10; ++i) ten += " B:0";
  EXPECT_EQ(error_of(ten + " )"), kErrIndexCount);
}

TEST_F(ExprTest, MissingVariables) {
  EXPECT_EQ(error_of("H:5000"), kErrVariableMissing);
  EXPECT_EQ(error_of("V:5000 B:0 )"), kErrVariableMissing);
  EXPECT_EQ(error_of("v:5000"), kErrVariableMissing);
  // A small table: system variables beyond it are missing as well.
  ASSERT_EQ(var_table_create(500), 0);
  EXPECT_EQ(error_of("H:600"), kErrVariableMissing);
  EXPECT_EQ(error_of("H:49"), 0u);
}

TEST_F(ExprTest, PrefixesGiveReferences) {
  int_var(1003, {3, 4}, 0);
  EXPECT_EQ(eval_int("H#1003"), static_cast<i64>(1003ull << 32));
  EXPECT_EQ(g_expr_ref.prefix_class, 2);
  EXPECT_EQ(eval_int("V`1003 B:2 , B:3 )"), static_cast<i64>((1003ull << 32) + 11));
  EXPECT_EQ(g_expr_ref.prefix_class, 1);
  EXPECT_EQ(eval_int("H#49"), 0);  // a system variable with a prefix
}

TEST_F(ExprTest, ReferenceSystemVariables) {
  var_record(50)->type = kVarInt;
  var_record(52)->type = kVarText;
  var_record(70)->type = kVarInt;
  int_var(1000, {5}, 0);
  var_record(1000)->ints[3] = 77;
  var_record(1000)->ints[4] = 88;
  text_var(1001, {2}, "t");
  const std::string ref3 = "L:" + std::to_string((1000ll << 32) + 3);
  EXPECT_EQ(eval_int("V:50 " + ref3 + " )"), 77);
  EXPECT_EQ(g_expr_ref.var_id, 1000u);  // the reference results name the target
  EXPECT_EQ(g_expr_ref.element, 3);
  // A further index addresses the referenced variable.
  EXPECT_EQ(eval_int("V:50 " + ref3 + " , B:4 )"), 88);
  EXPECT_EQ(error_of("V:50 " + ref3 + " , B:5 )"), kErrIndexOutside);
  EXPECT_EQ(error_of("V:50 " + ref3 + " , B:1 , B:1 )"), kErrIndexCount);
  // The reference's own element outside: the second index is taken unchecked.
  const std::string ref9 = "L:" + std::to_string((1000ll << 32) + 9);
  EXPECT_EQ(eval_int("V:50 " + ref9 + " , B:4 )"), 88);
  EXPECT_EQ(eval_text("V:52 L:" + std::to_string(1001ll << 32) + " )"), "t");
  EXPECT_EQ(eval_int("V:70 L:" + std::to_string(1001ll << 32) + " )"), kVarText);
  EXPECT_EQ(eval_int("V:70 L:" + std::to_string(900ll << 32) + " )"), 0);
  // A reference to a system variable names nothing (no loop through 50).
  EXPECT_EQ(eval_int("V:50 L:" + std::to_string(50ll << 32) + " )"), 0);
  EXPECT_EQ(error_of("V:50 L:" + std::to_string(7000ll << 32) + " , B:0 )"), kErrVariableMissing);
}

TEST_F(ExprTest, DeclarationModeYieldsIdAndSizes) {
  int_var(1002, {}, 5);
  g_expr_declaration = 1;
  eval_int("V:1000 B:3 , H:1002 B:1 + )");
  g_expr_declaration = 0;
  EXPECT_EQ(g_expr_decl.captured, 1);
  EXPECT_EQ(g_expr_decl.var_id, 1000u);
  ASSERT_EQ(g_expr_decl.index_count, 2u);
  EXPECT_EQ(g_expr_decl.indices[0], 3);
  EXPECT_EQ(g_expr_decl.indices[1], 6);
  EXPECT_EQ(var_record(1000)->dim_count, 0);  // nothing read or changed
  EXPECT_EQ(g_error_report_log.report_count, 0u);

  g_expr_declaration = 1;
  eval_int("H:1001");
  EXPECT_EQ(g_expr_decl.captured, 1);
  EXPECT_EQ(g_expr_decl.var_id, 1001u);
  EXPECT_EQ(g_expr_decl.index_count, 0u);
  std::string ten = "V:1000";
  for (int i = 0; i < 10; ++i) ten += " B:1";
  EXPECT_EQ(error_of(ten + " )"), kErrIndexCount);
  g_expr_declaration = 0;
}

TEST_F(ExprTest, VariablesSwitchedOff) {
  int_var(1000, {}, 1);
  init_expr_ops(0);
  g_expr_variable_touched = 0;
  EXPECT_EQ(error_of("\"label\""), 0u);
  EXPECT_EQ(g_expr_variable_touched, 0);
  reset_error_report_log();
  std::vector<u8> c = asm_expr("\"a\" H:1000 s +");
  EXPECT_NE(expr_run(kExprTextInt, c.data(), static_cast<u32>(c.size())), 0);
  EXPECT_EQ(g_expr_variable_touched, 1);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  init_expr_ops(1);
  EXPECT_EQ(eval_int("H:1000"), 1);
}

TEST(TextExpr, Grammar) {
  struct Case {
    const char* text;
    i64 value;
  } cases[] = {
      {"1+2*3", 7},
      {" ( 1 + 2 ) * 3", 9},
      {"-4+1", -3},
      {"+4", 4},
      {"10 % 3", 1},
      {"7 / 0", 7},  // a zero divisor skips the operation
      {"7 % 0", 7},
      {"9223372036854775807+1", INT64_MIN},
      {"(0-9223372036854775807-1)/(0-1)", INT64_MIN},
      {"(0-9223372036854775807-1)%(0-1)", 0},
      {"2)3", 2},
      {"abc", 0},
      {"1+\n5", 1},
      {"\t3\t*\t3", 9},
      {"((((2", 2},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(text_expr_eval(c.text), c.value) << c.text;
  u64 wrapped = 0;
  for (char ch : std::string("99999999999999999999")) wrapped = wrapped * 10 + static_cast<u64>(ch - '0');
  EXPECT_EQ(text_expr_eval("99999999999999999999"), static_cast<i64>(wrapped));
  std::string deep(10000, '(');
  EXPECT_EQ(text_expr_eval((deep + "1").c_str()), 0);  // bounded nesting and copy
  std::string long_sum;
  for (int i = 0; i < 3000; ++i) long_sum += "1+";
  EXPECT_EQ(text_expr_eval(long_sum.c_str()), 2048);  // the copy keeps 4095 bytes
  EXPECT_EQ(text_expr_eval(nullptr), 0);
}

}  // namespace

namespace {

// Random code, built mostly from valid opcodes so that runs get deep, must
// either succeed or fail with a report; it never reads outside (the
// sanitizer build checks that).
TEST_F(ExprTest, RandomCodeFailsOnlyWithAReport) {
  int_var(1000, {3, 4}, 1);
  text_var(1001, {2}, "t");
  float_var(1002, {}, 0.5);
  var_record(50)->type = kVarInt;
  std::mt19937 rng(12345);
  const char ops[] = "BWILFMHVv),Rsi+-*/%=!<>SZ&|AO^";
  std::vector<u8> code;
  for (int round = 0; round < 3000; ++round) {
    code.clear();
    int n = static_cast<int>(rng() % 24);
    for (int k = 0; k < n; ++k) {
      u8 op = rng() % 8 == 0 ? static_cast<u8>(rng()) : static_cast<u8>(ops[rng() % (sizeof ops - 1)]);
      u32 len = rng() % 4 == 0 ? rng() % 12 : (op == 'H' || op == 'V' || op == 'v') ? 3 : op == 'B' ? 1 : op == 'L' || op == 'F' ? 8 : op == 'M' ? 1 + rng() % 6 : 0;
      code.push_back(op);
      code.push_back(static_cast<u8>(len));
      code.push_back(0);
      for (u32 b = 0; b < len; ++b) {
        u8 byte = static_cast<u8>(rng());
        if ((op == 'H' || op == 'V' || op == 'v') && b == 1) byte = rng() % 2 ? 0xE8 : 50;   // ids 1000-1002 or 50
        if ((op == 'H' || op == 'V' || op == 'v') && b == 2) byte = byte % 2 ? 3 : 0;
        if ((op == 'H' || op == 'V' || op == 'v') && b == 1 && byte == 0xE8) byte = static_cast<u8>(0xE8 + rng() % 3);
        code.push_back(byte);
      }
    }
    u32 cut = rng() % 5 == 0 && !code.empty() ? static_cast<u32>(rng() % code.size()) : static_cast<u32>(code.size());
    u32 mode = 1 + rng() % 4;
    reset_error_report_log();
    int r = expr_run(mode, code.data(), cut);
    ASSERT_EQ(r != 0, g_error_report_log.report_count != 0) << "round " << round;
  }
}

TEST_F(ExprTest, RandomCommandListsAreParsedOrRefused) {
  AsmScript s = assemble_script("command 0 a x:num:3 y:text:0\ncommand 2 b z:raw:24\n");
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    std::vector<u8> data = s.command_list;
    for (int k = 0; k < 4; ++k) data[rng() % data.size()] = static_cast<u8>(rng());
    reset_error_report_log();
    int r = parse_command_list(data.data(), data.size());
    ASSERT_EQ(r != 0, g_error_report_log.report_count != 0);
    if (r == 0) {
      for (u32 c = 0; c < g_command_list.count; ++c)
        for (u32 p = 0; p < g_command_list.commands[c].param_count; ++p)
          ASSERT_LE(g_command_list.commands[c].params[p].kind, 2);
    }
  }
}

}  // namespace
