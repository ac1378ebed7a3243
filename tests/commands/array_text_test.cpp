// Array, text and number commands (81, 102, 103, 108, 112).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/vm/script_context.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/vars.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text_convert.h"
#include "tests/commands/commands_fixture.h"

namespace {

std::string sjis(const char* utf8) {
  std::string s;
  EXPECT_EQ(utf8_to_sjis(utf8, &s), 0) << utf8;
  return s;
}
std::string utf8(const std::string& sjis_text) {
  std::string s;
  EXPECT_EQ(sjis_to_utf8(sjis_text.c_str(), &s), 0);
  return s;
}

const std::string k102 = command_line(102, 29, {}, {});
const std::string k103 = command_line(103, 22, {19});

// A text variable 1000 holding text (UTF-8 here), a text variable 1001 and
// integer 1002, float 1003; body follows.
std::string vars_with(const std::string& text_utf8) {
  return "var 1000 text = \"" + sjis(text_utf8.c_str()) + "\"\nvar 1001 text = \"\"\nvar 1002 int = 0\n"
         "var 1003 float = 0\n";
}

}  // namespace

TEST(ArrayModify, SubstringsCountCharacters) {
  struct Case {
    const char* text;
    int param;  // 3 take, 6 delete
    int start, count;
    const char* want;
    u32 error;
  } cases[] = {
      {"あいう", 3, 2, 2, "いう", 0},
      {"あいう", 3, 0, 1, "あ", 0},
      {"あいう", 3, 1, 1, "あ", 0},
      {"aあb", 3, 2, 5, "", 120020},
      {"abc", 3, 5, 1, "", 120010},
      {"abc", 3, 4, 0, "", 0},  // start just past the end, no characters
      {"あいう", 6, 2, 1, "あう", 0},
      {"abc", 6, 1, -3, "abc", 0},
      {"abc", 6, 5, 1, "", 120110},
      {"abc", 6, 3, 2, "", 120120},
  };
  for (const Case& c : cases) {
    GameRun run;
    std::string body = "instr 102\narg 0 int : v:1000\narg 1 int : v:1001\narg " + std::to_string(c.param) +
                       " int : B:1\narg 4 int : I:" + std::to_string(c.start) + "\narg 5 int : I:" +
                       std::to_string(c.count) + "\n";
    EXPECT_EQ(run_once(run, k102 + vars_with(c.text), body), c.error) << c.text << " " << c.start;
    if (!c.error) {
      EXPECT_EQ(utf8(var_get_string(1001, 0)), c.want) << c.text;
    }
  }
}

TEST(ArrayModify, NumberTextConversions) {
  struct Case {
    const char* text;
    u32 into;  // 1002 integer, 1003 float
    double want;
    u32 error;
  } cases[] = {
      {"12.5", 1003, 12.5, 0}, {"12a", 1002, 0, 108210}, {"0x1F", 1002, 31, 0},
      {"-42", 1002, -42, 0},   {"7", 1003, 7, 0},       {"１", 1002, 0, 108210},
  };
  for (const Case& c : cases) {
    GameRun run;
    std::string body = "instr 102\narg 0 int : v:1000\narg 1 int : v:" + std::to_string(c.into) +
                       "\narg 2 int : B:1\n";
    EXPECT_EQ(run_once(run, k102 + vars_with(c.text), body), c.error) << c.text;
    if (!c.error) {
      double got = c.into == 1003 ? var_get_float(1003, 0) : static_cast<double>(var_get_int(1002, 0));
      EXPECT_DOUBLE_EQ(got, c.want) << c.text;
    }
  }
  // Number to text, and two texts refused.
  GameRun run;
  EXPECT_EQ(run_once(run, k102 + vars_with("") + "var 1004 int = -15\nvar 1005 float = 2.25\n",
                     "instr 102\narg 0 int : v:1004\narg 1 int : v:1000\narg 2 int : B:1\n"
                     "instr 102\narg 0 int : v:1005\narg 1 int : v:1001\narg 2 int : B:1\n"),
            0u);
  EXPECT_STREQ(var_get_string(1000, 0), "-15");
  EXPECT_STREQ(var_get_string(1001, 0), "2.250000");
  GameRun run2;
  EXPECT_EQ(run_once(run2, k102 + vars_with("1"), "instr 102\narg 0 int : v:1000\narg 1 int : v:1001\narg 2 int : B:1\n"),
            108200u);
}

TEST(ArrayModify, CaseAndWidthConversions) {
  struct Case {
    int param;
    const char* in;
    const char* want;
  } cases[] = {
      {7, "abcＡｂ", "ABCＡｂ"},  {8, "abｃｄ", "ABＣＤ"},  {9, "ABＣ", "abＣ"},
      {10, "ABＣＤ", "abｃｄ"},   {11, "ｶﾞA1 ", "ガＡ１　"}, {12, "ガＡ１", "ｶﾞA1"},
  };
  for (const Case& c : cases) {
    GameRun run;
    std::string body = "instr 102\narg 0 int : v:1000\narg 1 int : v:1001\narg " + std::to_string(c.param) +
                       " int : B:1\n";
    EXPECT_EQ(run_once(run, k102 + vars_with(c.in), body), 0u) << c.param;
    EXPECT_EQ(utf8(var_get_string(1001, 0)), c.want) << c.param;
    EXPECT_EQ(utf8(var_get_string(1000, 0)), c.in) << "the source stays " << c.param;
  }
  GameRun run;
  EXPECT_EQ(run_once(run, k102 + vars_with("") , "instr 102\narg 0 int : v:1002\narg 7 int : B:1\n"), 108220u);
}

TEST(ArrayModify, ResizeInsertDelete) {
  const std::string arr = "var 1000 int 3 = 0\nvar 1001 text 2 = \"\"\nvar 1002 int 2 2 = 0\n";
  const std::string fill = "set V:1000 B:0 ) = B:1\nset V:1000 B:1 ) = B:2\nset V:1000 B:2 ) = B:3\n";
  struct Case {
    const char* body;
    std::vector<i64> want;
  } cases[] = {
      {"instr 102\narg 0 int : v:1000\narg 14 int : B:0\n", {0, 1, 2}},
      {"instr 102\narg 0 int : v:1000\narg 15 int : B:0\n", {2, 3, 0}},
      {"instr 102\narg 0 int : v:1000\narg 14 int : B:7\n", {1, 2, 0}},
      {"instr 102\narg 0 int : v:1000\narg 15 int : B:1\n", {1, 3, 0}},
      // A negative index names no element: nothing moves.
      {"instr 102\narg 0 int : v:1000\narg 14 int : I:-1\n", {1, 2, 3}},
      {"instr 102\narg 0 int : v:1000\narg 15 int : I:-2\n", {1, 2, 3}},
      {"instr 102\narg 0 int : v:1000\narg 13 int : B:5\n", {1, 2, 3, 0, 0}},
      {"instr 102\narg 0 int : v:1000\narg 13 int add : B:1\n", {1, 2, 3, 0}},
      {"instr 102\narg 0 int : v:1000\narg 13 int : B:2\n", {1, 2}},
  };
  for (const Case& c : cases) {
    GameRun run;
    EXPECT_EQ(run_once(run, k102 + arr, fill + c.body), 0u) << c.body;
    const VarRecord* v = var_record(1000);
    ASSERT_EQ(v->count, static_cast<i64>(c.want.size())) << c.body;
    EXPECT_EQ(v->dims[0], c.want.size());
    for (std::size_t i = 0; i < c.want.size(); ++i) EXPECT_EQ(var_get_int(1000, static_cast<i64>(i)), c.want[i]) << c.body;
  }
  // Boxes: a size below 1, and a two-dimensional array.
  struct Box {
    const char* body;
    const char* text;
  } boxes[] = {
      {"instr 102\narg 0 int : v:1000\narg 13 int add : I:-5\n", "変更後の配列サイズが不正です。"},
      {"instr 102\narg 0 int : v:1002\narg 13 int : B:5\n",
       "配列サイズを変更しようとしましたが、この変数は１次元配列ではありません。"},
      {"instr 102\narg 0 int : v:1002\narg 14 int : B:0\n",
       "配列挿入処理をしようとしましたが、この変数は１次元配列ではありません。"},
      {"instr 102\narg 0 int : v:1002\narg 15 int : B:0\n",
       "配列削除処理をしようとしましたが、この変数は１次元配列ではありません。"},
  };
  for (const Box& b : boxes) {
    GameRun run;
    run_once(run, k102 + arr, fill + b.body);
    EXPECT_EQ(utf8(g_error_report_log.last_box_text), b.text);
    EXPECT_EQ(var_record(1000)->count, 3);
  }
  // A huge size is refused before anything is allocated; texts grow empty.
  GameRun run;
  EXPECT_EQ(run_once(run, k102 + arr, "instr 102\narg 0 int : v:1000\narg 13 int mul : I:2000000000\n"), 101100u);
  EXPECT_EQ(var_record(1000)->count, 3);
  GameRun run2;
  EXPECT_EQ(run_once(run2, k102 + arr,
                     "sett V:1001 B:1 ) = \"x\"\ninstr 102\narg 0 int : v:1001\narg 13 int : B:4\n"
                     "instr 102\narg 0 int : v:1001\narg 14 int : B:0\n"),
            0u);
  EXPECT_STREQ(var_get_string(1001, 0), "");
  EXPECT_STREQ(var_get_string(1001, 2), "x");
  EXPECT_STREQ(var_get_string(1001, 3), "");
}

TEST(ArrayModify, ResetGlobalsByClassAndType) {
  GameRun run;
  // Classes come from the variable prefixes; class 0 here, so a class mask
  // does not touch them, and the masks pick by type.
  std::string vars = "var 1000 int 2 = 5\nvar 1001 text = \"a\"\n";
  EXPECT_EQ(run_once(run, k102 + vars,
                     "set V:1000 B:1 ) = B:9\nsett v:1001 = \"zz\"\n"
                     "instr 102\narg 0 int : v:1000\narg 16 int : B:1\narg 17 int : B:1\n"),
            0u);
  // Without a class bit of theirs the variables keep their values.
  EXPECT_EQ(var_get_int(1000, 1), 9);
  EXPECT_STREQ(var_get_string(1001, 0), "zz");
}

TEST(VarQuery, ShapesClassesSearches) {
  const std::string vars =
      "var 1000 int 4 = 0\nvar 1001 text 3 = \"\"\nvar 1002 int = 0\nvar 1003 float 2 = 1.5\n"
      "var 1004 text = \"\"\nvar 1005 float = 0\n";
  const std::string fill = "set V:1000 B:0 ) = B:7\nset V:1000 B:1 ) = B:8\nset V:1000 B:2 ) = B:7\n"
                           "sett V:1001 B:0 ) = \"" + sjis("いa") + "\"\nsett V:1001 B:1 ) = \"b\"\n"
                           "sett V:1001 B:2 ) = \"a\"\n";
  struct Case {
    const char* args;
    i64 want;
    u32 error;
  } cases[] = {
      {"arg 0 int : v:1000\narg 2 int : B:1\n", 1, 0},
      {"arg 0 int : v:1001\narg 2 int : B:1\n", 3, 0},
      {"arg 0 int : v:1000\narg 4 int : B:1\n", 1, 0},
      {"arg 0 int : v:1000\narg 5 int : B:1\n", 4, 0},
      {"arg 0 int : V:1001 B:0 )\narg 3 int : B:1\n", 2, 0},
      {"arg 0 int : V:1001 B:1 )\narg 3 int : B:1\n", 1, 0},
      {"arg 0 int : v:1004\narg 3 int : B:1\n", 0, 101450},
      {"arg 0 int : V:1001 B:0 )\narg 13 int : B:1\n", 2, 0},
      {"arg 0 int : v:1000\narg 13 int : B:1\n", 0, 108220},
      {"arg 0 int : v:1000\narg 14 int : B:1\narg 17 int : B:8\n", 1, 0},
      {"arg 0 int : v:1000\narg 14 int : B:1\narg 17 int : B:7\narg 20 int : B:1\n", 2, 0},
      {"arg 0 int : v:1000\narg 14 int : B:1\narg 17 int : B:99\n", 4, 0},  // none: the size
      {"arg 0 int : v:1000\narg 14 int : B:1\narg 17 int : B:7\narg 20 int : I:-9\n", 0, 0},
      {"arg 0 int : v:1000\narg 14 int : B:1\narg 17 int : B:7\narg 20 int : I:99\n", 4, 0},
      {"arg 0 int : v:1003\narg 14 int : B:1\narg 18 float : F:1.5\n", 0, 0},
      {"arg 0 int : v:1001\narg 14 int : B:1\narg 19 text : \"b\"\n", 1, 0},
      {"arg 0 int : v:1001\narg 15 int : B:1\n", 2, 0},
      {"arg 0 int : v:1001\narg 15 int : B:1\narg 21 int : B:1\n", 1, 0},
      {"arg 0 int : v:1001\narg 15 int : B:1\narg 20 int : I:-4\narg 21 int : B:99\n", 2, 0},
      {"arg 0 int : V:1001 B:0 )\narg 16 int : B:1\n", 0x82A2, 0},
      {"arg 0 int : V:1001 B:2 )\narg 16 int : B:1\n", 'a', 0},
      {"arg 0 int : v:1004\narg 16 int : B:1\n", 0, 0},
  };
  for (const Case& c : cases) {
    GameRun run;
    std::string body = fill + "set v:1002 = I:-77\ninstr 103\n" + c.args + "arg 1 int : v:1002\n";
    EXPECT_EQ(run_once(run, k103 + vars, body), c.error) << c.args;
    if (!c.error) {
      EXPECT_EQ(var_get_int(1002, 0), c.want) << c.args;
    }
  }
  GameRun run;
  EXPECT_EQ(run_once(run, k103 + vars, fill + "instr 103\narg 0 int : V:1001 B:1 )\narg 3 int : B:1\narg 1 int : v:1004\n"),
            101140u);
  GameRun run2;
  EXPECT_EQ(run_once(run2, k103 + vars, fill + "instr 103\narg 0 int : V:1001 B:1 )\narg 3 int : B:1\narg 1 int : v:1005\n"),
            0u);
  EXPECT_DOUBLE_EQ(var_get_float(1005, 0), 1.0);
}

TEST(TextRecord, AppendsClassesAndClose) {
  GameRun run;
  std::string header = command_line(108, 1, {}, {0}) + command_line(112, 1) + command_line(81, 1) +
                       "var 1000 int = 42\n";
  std::string lit = sjis("あb");
  // 108's literal is the record's code bytes: written raw.
  char hex[64] = {};
  std::string raw;
  for (unsigned char c : lit) {
    std::snprintf(hex, sizeof hex, "%02x", c);
    raw += hex;
  }
  std::string body = "instr 108\narg 0 int : x:" + raw + "00\n"
                     "instr 112\narg 0 int : H:1000\n"
                     "instr 112\narg 0 text : \"c\\td\"\n"
                     "instr 112\narg 0 float : F:1.5\n"
                     "instr 81\narg 0 int : B:3\n"
                     "set v:1000 = B:1\n";
  EXPECT_EQ(run_once(run, header, body), 0u) << g_error_report_log.last_message;
  EXPECT_EQ(std::string(g_text_record->text_a), lit + "42c d1.500000");
  EXPECT_EQ(std::string(g_text_record->text_b), "211111111111111E");
  EXPECT_EQ(g_text_record->complete, 1);
  // The close yields: the next instruction has not run.
  EXPECT_EQ(var_get_int(1000, 0), 42);
}

TEST(TextRecord, LimitsReportTheirNumbers) {
  GameRun run;
  std::string header = command_line(112, 1) + "var 1000 text = \"\"\n";
  // 1025 bytes appended at once.
  std::string body = "sett v:1000 = \"" + std::string(1025, 'x') + "\"\ninstr 112\narg 0 text : H:1000\n";
  EXPECT_EQ(run_once(run, header, body), 102030u);
  // A full record: 8 appends of 1024 bytes leave no room for the ninth.
  GameRun run2;
  std::string body2 = "sett v:1000 = \"" + std::string(1024, 'x') + "\"\n";
  for (int i = 0; i < 8; ++i) body2 += "instr 112\narg 0 text : H:1000\n";
  EXPECT_EQ(run_once(run2, header, body2), 102000u);
  EXPECT_LE(std::strlen(g_text_record->text_a), 8189u);
}

// The conversions on a fixed CP932 sample: what each maps, and that
// characters without a CP932 result stay as they were.
TEST(TextConvertContract, Cp932Sample) {
  const PlatformTextConvert* t = &kIcuTextConvert;
  struct Case {
    int (*fn)(const char*, std::size_t, std::string*);
    const char* in;
    const char* want;
  } cases[] = {
      {t->to_fullwidth, "ｱｲｳｶﾞﾊﾟﾝ", "アイウガパン"},
      {t->to_fullwidth, "AZaz09!~", "ＡＺａｚ０９！～"},
      {t->to_fullwidth, "あ漢", "あ漢"},
      {t->to_halfwidth, "アガパ", "ｱｶﾞﾊﾟ"},
      {t->to_halfwidth, "ＡＢ１２", "AB12"},
      {t->to_halfwidth, "漢字ぁ", "漢字ぁ"},  // no half-width form
      {t->to_upper, "abcａｂｃαβ", "ABCＡＢＣΑΒ"},
      {t->to_lower, "ABCＡＢＣΑΒ", "abcａｂｃαβ"},
      {t->to_upper, "ａ漢ｘ", "Ａ漢Ｘ"},
  };
  for (const Case& c : cases) {
    std::string in = sjis(c.in), out;
    EXPECT_EQ(c.fn(in.data(), in.size(), &out), 0);
    EXPECT_EQ(utf8(out), c.want) << c.in;
  }
}
