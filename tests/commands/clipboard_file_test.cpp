// Clipboard (5, 6) and text-file commands (7, 8, 98), and the clipboard's
// contract on the recorder and (with a display) on GTK.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/frame/text_split.h"
#include "engine/vm/vars.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/commands/commands_fixture.h"

namespace {

std::string sjis(const char* utf8) {
  std::string s;
  EXPECT_EQ(utf8_to_sjis(utf8, &s), 0) << utf8;
  return s;
}

const std::string kHeader = command_line(5, 2, {1}) + command_line(6, 2) + command_line(7, 2, {0}) +
                            command_line(8, 2, {0}) + command_line(98, 2, {0}) +
                            "var 1000 text 8 = \"-\"\nvar 1001 int = -1\nvar 1002 text = \"-\"\nvar 1003 text 2 = \"-\"\n";

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

}  // namespace

TEST(Clipboard, SetAndGetThroughTheRecorder) {
  fake_clipboard_reset();
  GameRun run;
  std::string text = sjis("名前\tA\nB");
  EXPECT_EQ(run_once(run, kHeader,
                     "instr 5\narg 0 int : B:1\narg 1 text : \"" + sjis("名前") + "\\tA\\nB\"\n"
                     "instr 5\narg 0 int : B:1\n"       // no text: nothing happens
                     "instr 6\narg 0 int : B:1\narg 1 int : v:1002\n"),
            0u);
  ASSERT_EQ(fake_clipboard_sets().size(), 1u);
  EXPECT_EQ(fake_clipboard_sets()[0], text);
  // Bytes below 0x20 are dropped.
  EXPECT_EQ(std::string(var_get_string(1002, 0)), sjis("名前AB"));
}

TEST(Clipboard, ReadLimitsAndEmptyClipboard) {
  struct Case {
    std::string utf8;
    std::string want;  // Shift-JIS
  } cases[] = {
      {std::string(1023, 'a') + "あ", std::string(1023, 'a')},  // the split character is dropped
      {std::string(1022, 'a') + "あ", std::string(1022, 'a') + sjis("あ")},
      {std::string(2000, 'b'), std::string(1024, 'b')},
      {"€x😀", "?x?"},  // no CP932 form: '?'
  };
  for (const Case& c : cases) {
    fake_clipboard_reset();
    fake_clipboard_set_content(c.utf8);
    GameRun run;
    EXPECT_EQ(run_once(run, kHeader, "instr 6\narg 0 int : B:1\narg 1 int : v:1002\n"), 0u);
    EXPECT_EQ(std::string(var_get_string(1002, 0)), c.want);
  }
  // No text: the task stops for the frame without a message.
  fake_clipboard_reset();
  GameRun run;
  EXPECT_EQ(run_once(run, kHeader, "instr 6\narg 0 int : B:1\narg 1 int : v:1002\nsett v:1002 = \"after\"\n"), 0u);
  EXPECT_STREQ(var_get_string(1002, 0), "-");
}

TEST(TextFiles, CsvFieldsCountsAndLines) {
  GameRun run;
  // As Python's csv module writes CP932: quoted commas, CR LF.
  std::string csv = sjis("名前,\"b,c\",d\r\n  x ,'y,z'\r\n\r\nno comma here\r\n");
  write_file(run.folder + "/data.csv", csv);
  write_file(run.folder + "/lines.txt", "one\ntwo\rthree");
  EXPECT_EQ(run_once(run, kHeader,
                     "instr 7\narg 0 text : \"DATA.CSV\"\narg 1 int : v:1000\n"
                     "instr 8\narg 0 text : \"data.csv\"\narg 1 int : v:1001\n"
                     "instr 98\narg 0 text : \"lines.txt\"\narg 1 int : v:1003\n"
                     "instr 98\narg 0 text : \"lines.txt\"\narg 1 int : v:1002\n"),
            0u)
      << g_error_report_log.last_message;
  const char* want[] = {"名前", "\"b,c\"", "d", "x ", "'y,z'", "", "", "-"};
  for (int i = 0; i < 8; ++i) {
    std::string got;
    sjis_to_utf8(var_get_string(1000, i), &got);
    EXPECT_EQ(got, want[i]) << i;
  }
  EXPECT_EQ(var_get_int(1001, 0), 3);
  EXPECT_STREQ(var_get_string(1003, 0), "one\r");
  EXPECT_STREQ(var_get_string(1003, 1), "two\r");
  // A scalar text has no first dimension: nothing is stored.
  EXPECT_STREQ(var_get_string(1002, 0), "-");
  GameRun run2;
  EXPECT_EQ(run_once(run2, kHeader, "instr 7\narg 0 text : \"missing.csv\"\narg 1 int : v:1000\n"), 104060u);
}

TEST(TextSplit, EdgesOfTheSplitters) {
  struct Case {
    std::string data;
    std::vector<std::string> fields;
    u64 commas;
  } cases[] = {
      {",a\r\n", {"", "a"}, 1},
      {"a,\"b,c\",d\r\n", {"a", "\"b,c\"", "d"}, 2},
      {"\"open,\nx,y\n", {"x", "y"}, 1},  // a line end closes the quote
      {"\t  a,b\n", {"a", "b"}, 1},
      {"\n", {""}, 0},
      {"", {}, 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> f;
    csv_split(c.data.data(), c.data.size(), &f);
    EXPECT_EQ(f, c.fields) << c.data;
    EXPECT_EQ(csv_count_separators(c.data.data(), c.data.size()), c.commas) << c.data;
  }
  // A field longer than 4095 bytes is cut, never copied past its buffer.
  std::string big = "," + std::string(5000, 'q') + "\n";
  std::vector<std::string> f;
  csv_split(big.data(), big.size(), &f);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[1].size(), kMaxCsvField);
  std::vector<std::string> lines;
  std::string text = "a\r\nb\rc\nd";
  split_lines(text.data(), text.size(), 10, &lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
}

// The same cases on the recorder and on GTK (when a display is there).
class ClipboardContract : public ::testing::TestWithParam<const PlatformClipboard*> {};

TEST_P(ClipboardContract, RoundTripsAndReplaces) {
  const PlatformClipboard* c = GetParam();
  if (c == &kGtkClipboard && !std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
  fake_clipboard_reset();
  std::string text = sjis("日本語テキスト abc");
  ASSERT_EQ(c->set_text(text.c_str()), 0);
  std::string back;
  ASSERT_EQ(c->get_text(&back), 1);
  EXPECT_EQ(back, text);
  ASSERT_EQ(c->set_text(""), 0);
  ASSERT_EQ(c->get_text(&back), 1);
  EXPECT_EQ(back, "");
  c->store();
}

INSTANTIATE_TEST_SUITE_P(Backends, ClipboardContract, ::testing::Values(&kFakeClipboard, &kGtkClipboard),
                         [](const ::testing::TestParamInfo<const PlatformClipboard*>& p) { return std::string(p.param == &kFakeClipboard ? "Fake" : "Gtk"); });
