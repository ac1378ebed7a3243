// The checker on the fake dialog: the list parsing and its bounds, the start
// folder and settings, and whole checks driven by a scripted user.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "checker/checker.h"
#include "platform/control_dialog.h"
#include "platform/files.h"
#include "platform/named_locks.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/ui.h"

namespace fs = std::filesystem;

namespace {

std::string sjis(const char* utf8) {
  std::string out;
  EXPECT_EQ(utf8_to_sjis(utf8, &out), 0);
  return out;
}

void write_file(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

std::string read_all(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string hex(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

std::uint32_t crc_of(const std::string& s) {
  return static_cast<std::uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

TEST(CheckerParse, HexValues) {
  struct Case {
    const char* text;
    std::uint64_t value;
  } cases[] = {
      {"1a2b3c4d", 0x1a2b3c4d},  {"1A2B3C4D", 0x1a2b3c4d},   {"ABCDEF", 0xabcdef},
      {"", 0},                   {"0", 0},                   {"12h34", 0x12},
      {"12H", 0x12},             {"12g4", ~0ull},            {"p", ~0ull},
      {"w", ~0ull},              {"Z0", ~0ull},              {"12z", ~0ull},
      // Letters whose low four bits are 1-6 count as 10-15 whatever their row.
      {"q", 0xa},                {"V1", 0xf1},               {"quv", 0xaef},
      // Blanks and other bytes count with their own code.
      {"1234 ", 0x12340 + 0x20}, {"1234\t", 0x12340 + 9},   {"ff ff", 0x1010ff},
      {"\x81", 0x81},
      {"123456789abcdef0", 0x123456789abcdef0ull},           {"1ffffffff", 0x1ffffffffull},
      // Long values: leading zeros change nothing; digits past 16 push the
      // first ones off the 64 bits.
      {"000000000000000000000000000000001234abcd", 0x1234abcd},
      {"10000000000000000", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_hex_h(c.text, std::strlen(c.text)), c.value) << '"' << c.text << '"';
}

TEST(CheckerParse, ListLines) {
  // CR LF, LF, runs of TABs, a line without TAB, blank lines, a Shift-JIS
  // path whose trail byte is '\', and a last line without its line end.
  std::string path_sjis = sjis("表\\データ.zpf");
  std::string list = "a.txt\t1234abcd\r\n"
                     "no tab here\r\n"
                     "\r\n\r\n"
                     "dir\\b.bin\t\t\tFFFF0000\n" +
                     path_sjis + "\t0\r\r\n"
                     "last\t12 ";
  bool too_many = true;
  std::vector<CheckListEntry> e = parse_check_list(list.data(), list.size(), &too_many);
  EXPECT_FALSE(too_many);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].path, "a.txt");
  EXPECT_EQ(e[0].expected, 0x1234abcdu);
  EXPECT_EQ(e[1].path, "dir\\b.bin");
  EXPECT_EQ(e[1].value_text, "FFFF0000");
  EXPECT_EQ(e[1].expected, 0xffff0000u);
  EXPECT_EQ(e[2].path, path_sjis);
  EXPECT_EQ(e[2].expected, 0u);
  EXPECT_EQ(e[3].path, "last");
  EXPECT_EQ(e[3].expected, 0x12u * 16 + ' ');  // the trailing blank counts
}

TEST(CheckerParse, BoundsOfEntriesPathsAndValues) {
  std::string list;
  for (int i = 0; i < kCheckMaxEntries; ++i) list += "f" + std::to_string(i) + "\t0\r\n";
  bool too_many = true;
  EXPECT_EQ(parse_check_list(list.data(), list.size(), &too_many).size(), 128u);
  EXPECT_FALSE(too_many);
  list += "one more\t0\r\n";
  std::vector<CheckListEntry> e = parse_check_list(list.data(), list.size(), &too_many);
  EXPECT_TRUE(too_many);
  ASSERT_EQ(e.size(), 128u);
  EXPECT_EQ(e.back().path, "f127");

  std::string long_line = std::string(1023, 'p') + "\t0\r\n" + std::string(1024, 'q') + "\t0\r\n" + "v\t" +
                          std::string(31, '0') + "1\r\n" + "w\t" + std::string(29, '0') + "1\r\n";
  e = parse_check_list(long_line.data(), long_line.size(), nullptr);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_FALSE(e[0].path_too_long);
  EXPECT_TRUE(e[1].path_too_long);
  EXPECT_EQ(e[1].path.size(), kCheckPathMax);
  EXPECT_EQ(e[2].expected, 1u);  // 32 digits
  EXPECT_EQ(e[2].value_text.size(), 32u);
  EXPECT_EQ(e[3].expected, 1u);
}

TEST(CheckerParse, RandomBytesStayWithinBounds) {
  for (unsigned seed = 0; seed < 200; ++seed) {
    std::mt19937 rng(seed);
    std::string data(rng() % 4096, '\0');
    const char alphabet[] = {'\t', '\r', '\n', 'a', 'F', 'g', '0', '9', ' ', '\x81', '\x5c', '\xfc'};
    for (char& c : data) c = alphabet[rng() % sizeof alphabet];
    bool too_many = false;
    std::vector<CheckListEntry> e = parse_check_list(data.data(), data.size(), &too_many);
    ASSERT_LE(e.size(), 128u) << seed;
    for (const CheckListEntry& x : e) {
      ASSERT_LE(x.path.size(), kCheckPathMax) << seed;
      ASSERT_EQ(x.expected, parse_hex_h(x.value_text.data(), x.value_text.size())) << seed;
      ASSERT_EQ(x.value_text.find_first_of("\r\n"), std::string::npos) << seed;
    }
  }
}

TEST(CheckerParse, StartFolderAndReport) {
  EXPECT_EQ(checker_start_folder("\\home\\Me\\Game\\ZTFChk"), "\\home\\me\\game\\");
  EXPECT_EQ(checker_start_folder("/home/Me/ZTFChk"), "\\home\\me\\");
  // A trail byte that is '\' or a letter is left alone.
  std::string dir = sjis("\\ゲーム表\\ZTFChk");
  EXPECT_EQ(checker_start_folder(dir), sjis("\\ゲーム表\\"));
  EXPECT_EQ(checker_start_folder(""), "");
  EXPECT_EQ(checker_start_folder("ZTFChk"), "");
  EXPECT_EQ(report_for_display("a\nb\r\nc"), "a\r\nb\r\r\nc");
  EXPECT_EQ(report_for_display(""), "");
}

// A game folder (the start folder) and a current folder of its own per test.
class CheckerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kl_checker_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "game");
    // The checker's lock in a runtime folder of this test's own, so tests
    // running in parallel never see each other's copy as already running.
    fs::create_directories(root_ / "run");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    old_runtime_ = runtime ? runtime : "";
    had_runtime_ = runtime != nullptr;
    ::setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    old_cwd_ = fs::current_path();
    fs::current_path(root_ / "game");
    std::string program = (root_ / "game" / "ZTFChk").string();
    for (char& c : program)
      if (c == '/') c = '\\';
    fake_process_set_paths(program, "", "");
    fake_ui_reset();
    fake_control_dialogs_reset();
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    if (had_runtime_) ::setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    fake_process_reset();
    fs::remove_all(root_);
  }
  fs::path game() const { return root_ / "game"; }

  // Presses start, waits for the worker's end, presses quit.
  static std::vector<FakeControlPress> check_then_quit() {
    return {
        {kCheckerStart, nullptr, false, 20000},
        {kCheckerQuit, worker_done, false, 60000},
    };
  }
  static bool worker_done(const FakeControlModel& m) {
    const FakeControlState* status = m.find(kCheckerStatus);
    return m.find(kCheckerStart)->enabled && status->texts.size() >= 2 && m.find(kCheckerAbort)->enabled == 0;
  }
  std::string status() const { return fake_control_dialogs_model().find(kCheckerStatus)->text; }
  std::string report() const { return fake_control_dialogs_model().find(kCheckerReport)->text; }
  std::vector<std::string> box_texts() const {
    std::vector<std::string> out;
    for (const FakeUiBox& b : fake_ui_boxes()) out.push_back(b.text + "|" + b.caption);
    return out;
  }

  fs::path root_, old_cwd_;
  std::string old_runtime_;
  bool had_runtime_ = false;
};

const std::string kDashes(78, '-');

TEST_F(CheckerRun, TheDialogAsItOpens) {
  std::string dat(2 * kSettingsField, '\0');
  std::memcpy(&dat[0], "first", 5);
  std::memcpy(&dat[kSettingsField], "save.log", 8);
  write_file(game() / "ZTFChk.dat", dat);
  fake_control_dialogs_script({{kCheckerQuit, nullptr, false, 20000}});
  EXPECT_EQ(checker_main(), 0);
  ControlDialogDesc desc = fake_control_dialogs_last_desc();
  EXPECT_EQ(desc.title, sjis("ZTFChkツール"));
  EXPECT_EQ(desc.font_family, sjis("ＭＳ Ｐゴシック"));
  EXPECT_EQ(desc.font_points, 9);
  std::vector<int> ids;
  for (const ControlDesc& c : desc.controls) ids.push_back(c.id);
  EXPECT_EQ(ids, (std::vector<int>{1023, 1024, 1016, 1017, 1025, 1, 3, 2}));
  EXPECT_TRUE(desc.controls[5].is_default);
  EXPECT_EQ(desc.controls[5].text, sjis("チェック開始"));
  FakeControlModel m = fake_control_dialogs_model();
  EXPECT_EQ(m.find(kCheckerTitleLine)->text, sjis("【 ケイ・ランブレーン 】"));
  EXPECT_EQ(m.find(kCheckerStatus)->text, sjis("ファイルが破損していないかチェックします。"));
  EXPECT_EQ(m.find(kCheckerAbort)->enabled, 0);
  EXPECT_EQ(m.find(kCheckerStart)->focused, 1);
  EXPECT_EQ(checker_dialog_settings().field1, "first");
  EXPECT_EQ(checker_dialog_settings().output_name, "save.log");
  EXPECT_TRUE(fake_ui_boxes().empty());
}

TEST_F(CheckerRun, SettingsFileBounds) {
  struct Case {
    std::string data;
    std::string field1, output;
  } cases[] = {
      {"", "", "output.txt"},
      {"short", "short", "output.txt"},
      {std::string(264, 'a') + "b.txt", std::string(264, 'a'), "b.txt"},
      {std::string(264, 'a') + std::string(300, 'n'), std::string(264, 'a'), std::string(264, 'n')},
      {std::string("x\0yy", 4) + std::string(260, 'z') + std::string("\0\0", 2), "x", "output.txt"},
  };
  std::string start = fs::path(game()).string() + "/";
  for (const Case& c : cases) {
    write_file(game() / "ZTFChk.dat", c.data);
    CheckerSettings s = read_checker_settings(start);
    EXPECT_EQ(s.field1, c.field1);
    EXPECT_EQ(s.output_name, c.output) << c.data.size();
  }
  fs::remove(game() / "ZTFChk.dat");
  EXPECT_EQ(read_checker_settings(start).output_name, "output.txt");
}

// A table of check lists over the same files: the report, the summary and
// the final status of each.
TEST_F(CheckerRun, ChecksListedFiles) {
  std::string good = "good data\n";
  std::string bad = "changed";
  std::string big(3 * kCheckChunk + 17, 'x');
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>(i / 4096);
  write_file(game() / "Data" / "Good.bin", good);
  write_file(game() / "bad.bin", bad);
  write_file(game() / "empty.bin", "");
  write_file(game() / "pac" / "big.zpf", big);
  std::string jp = sjis("表データ.txt");
  write_file(game() / fs::u8path(u8"表データ.txt"), good);
  const std::string ok = " --> OK\r\n";
  const std::string damaged = sjis(" --> ※※※ファイル破損※※※") + "\r\n";
  const std::string missing = sjis(" --> ※※※ファイルなし※※※") + "\r\n";
  const std::string all_good = sjis("チェック終了しました。\r\n\r\n　ファイルに問題は見つかりませんでした。");
  const std::string some_bad =
      sjis("チェック終了しました。\r\n　※何らかの原因によりファイルの一部が破損または欠如しています。"
           "お手数をおかけしますが再インストールしてください。");
  struct Case {
    const char* name;
    std::string list;
    std::string report_lines;
    std::string summary;
    std::string status;
    int damaged;
  } cases[] = {
      {"good, case-insensitive, Shift-JIS",
       "data\\good.BIN\t" + hex(crc_of(good)) + "\r\n" + jp + "\t" + hex(crc_of(good)) + "\r\nPAC\\BIG.ZPF\t" +
           hex(crc_of(big)),
       "data\\good.BIN" + ok + jp + ok + "PAC\\BIG.ZPF" + ok, sjis("破損ファイルなし"), all_good, 0},
      // Blanks behind a value are digits of their own code, so the listed
      // value no longer matches.
      {"bad CRC, and a right CRC with trailing blanks",
       "bad.bin\t" + hex(crc_of("original")) + "\r\n" + "data\\good.bin\t" + hex(crc_of(good)) + "  \t\r\n",
       "bad.bin" + damaged + "data\\good.bin" + damaged, sjis("破損ファイル数 = 2"), some_bad, 2},
      {"missing entries are named and counted",
       "gone.bin\t0\nbad.bin\t" + hex(crc_of(bad)) + "\nnowhere\\x.bin\t0\n",
       "gone.bin" + missing + "bad.bin" + ok + "nowhere\\x.bin" + missing, sjis("破損ファイル数 = 2"), some_bad, 2},
      {"an empty file has CRC 0", "empty.bin\t0\r\nempty.bin\t1\r\n", "empty.bin" + ok + "empty.bin" + damaged,
       sjis("破損ファイル数 = 1"), some_bad, 1},
      {"a value with high bits or a letter beyond F",
       "bad.bin\t1" + hex(crc_of(bad)) + "\r\nbad.bin\t" + hex(crc_of(bad)).substr(0, 7) + "g\r\n",
       "bad.bin" + damaged + "bad.bin" + damaged, sjis("破損ファイル数 = 2"), some_bad, 2},
      {"a damaged list: no TABs, stray bytes", "garbage line\r\n\x81\x40\x81\r\n\r\n\t\t\r\n",
       std::string(sjis(" --> ※※※ファイルなし※※※")) + "\r\n", sjis("破損ファイル数 = 1"), some_bad, 1},
      {"an empty list", "", "", sjis("破損ファイルなし"), all_good, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(game() / "ztfchk.ini", c.list);
    fake_ui_reset();
    fake_control_dialogs_reset();
    fake_control_dialogs_script(check_then_quit());
    EXPECT_EQ(checker_run_dialog(), kCheckerQuit);
    EXPECT_EQ(report(), c.report_lines + kDashes + "\r\r\n" + sjis("[チェック終了] ") + c.summary);
    EXPECT_EQ(status(), c.status);
    EXPECT_EQ(checker_last_outcome().damaged, c.damaged);
    FakeControlModel m = fake_control_dialogs_model();
    EXPECT_EQ(m.find(kCheckerFilesBar)->position, 0);
    EXPECT_EQ(m.find(kCheckerBytesBar)->position, 0);
    EXPECT_EQ(m.find(kCheckerQuit)->enabled, 1);
    EXPECT_TRUE(fake_ui_boxes().empty());
  }
  // The big file moved bar 1017 through its chunks, bar 1016 counted files.
  write_file(game() / "ztfchk.ini", "pac\\big.zpf\t" + hex(crc_of(big)) + "\r\nbad.bin\t0\r\n");
  fake_control_dialogs_reset();
  fake_control_dialogs_script(check_then_quit());
  checker_run_dialog();
  FakeControlModel m = fake_control_dialogs_model();
  EXPECT_EQ(m.find(kCheckerBytesBar)->positions,
            (std::vector<int>{0, 341, 682, 1023, 1024, 1024, 0, 1024, 1024, 0}));
  EXPECT_EQ(m.find(kCheckerFilesBar)->positions, (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(m.find(kCheckerFilesBar)->high, 2);
}

TEST_F(CheckerRun, AbortDuringALargeFile) {
  std::string big(6 * kCheckChunk, 'b');
  write_file(game() / "small.bin", "s");
  write_file(game() / "big.bin", big);
  write_file(game() / "after.bin", "a");
  write_file(game() / "output.txt", "the player's own file");
  write_file(game() / "ztfchk.ini",
             "small.bin\t" + hex(crc_of("s")) + "\r\nbig.bin\t" + hex(crc_of(big)) + "\r\nafter.bin\t0\r\n");
  auto mid_file = [](const FakeControlModel& m) {
    int p = m.find(kCheckerBytesBar)->position;
    return p > 0 && p < kCheckBytesRange;
  };
  fake_control_dialogs_script({
      {kCheckerStart, nullptr, false, 20000},
      {kCheckerAbort, mid_file, true, 20000},
      {kCheckerQuit, worker_done, false, 60000},
  });
  EXPECT_EQ(checker_run_dialog(), kCheckerQuit);
  EXPECT_EQ(fake_control_dialogs_delivered(), (std::vector<int>{1, 3, 2}));
  EXPECT_EQ(report(), "small.bin --> OK\r\nbig.bin\r\r\n" + kDashes + "\r\r\n" + sjis("[チェック中断] ") +
                          sjis("破損ファイルなし") + sjis("  (※中断時点で)"));
  EXPECT_EQ(status(), sjis("チェックを中断しました。"));
  FakeControlModel m = fake_control_dialogs_model();
  std::vector<std::string> statuses = m.find(kCheckerStatus)->texts;
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[statuses.size() - 2], sjis("キャンセル中..."));
  // The byte bar stopped after the chunk that saw the abort.
  std::vector<int> bytes = m.find(kCheckerBytesBar)->positions;
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 170), 1);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 341), 0);
  EXPECT_EQ(read_all(game() / "output.txt"), "the player's own file");
  // A second check after the abort runs to its end.
  fake_control_dialogs_reset();
  fake_control_dialogs_script(check_then_quit());
  checker_run_dialog();
  EXPECT_NE(report().find(sjis("[チェック終了] 破損ファイル数 = 1")), std::string::npos);
}

TEST_F(CheckerRun, MissingListCountsAsAbortAndDeletesNothing) {
  write_file(game() / "output.txt", "keep me");
  fake_control_dialogs_script(check_then_quit());
  EXPECT_EQ(checker_main(), 0);
  EXPECT_EQ(box_texts(), (std::vector<std::string>{sjis("ファイルチェック用データが見つかりませんでした。") + "|"}));
  EXPECT_EQ(status(), sjis("チェックを中断しました。"));
  EXPECT_EQ(read_all(game() / "output.txt"), "keep me");
}

TEST_F(CheckerRun, TooManyEntriesChecksTheFirst128) {
  write_file(game() / "one.bin", "1");
  std::string list;
  for (int i = 0; i < 129; ++i) list += "one.bin\t" + hex(crc_of("1")) + "\r\n";
  write_file(game() / "ztfchk.ini", list);
  fake_control_dialogs_script(check_then_quit());
  checker_run_dialog();
  EXPECT_EQ(box_texts(), (std::vector<std::string>{sjis("ファイル数が多すぎます。") + "|"}));
  EXPECT_EQ(checker_last_outcome().entries, 128);
  std::string r = report();
  std::size_t lines = 0;
  for (std::size_t p = r.find(" --> OK"); p != std::string::npos; p = r.find(" --> OK", p + 1)) ++lines;
  EXPECT_EQ(lines, 128u);
  EXPECT_EQ(status(), sjis("チェック終了しました。\r\n\r\n　ファイルに問題は見つかりませんでした。"));
}

TEST_F(CheckerRun, SecondCopyEndsAtOnceWithoutAMessage) {
  NamedLock* held = nullptr;
  ASSERT_EQ(g_platform.locks->create("ZE-TAR File Checker", &held), 0);
  fake_control_dialogs_script({{kCheckerQuit, nullptr, false, 20000}});
  EXPECT_EQ(checker_main(), 0);
  EXPECT_EQ(fake_control_dialogs_runs(), 0);
  EXPECT_TRUE(fake_ui_boxes().empty());
  g_platform.locks->release(held);
  // With the lock free, the next one runs its dialog and frees it again.
  EXPECT_EQ(checker_main(), 0);
  EXPECT_EQ(fake_control_dialogs_runs(), 1);
  EXPECT_EQ(g_platform.locks->exists("ZE-TAR File Checker"), 0);
}

TEST_F(CheckerRun, EmptyStartFolderShowsItsBoxAndGoesOn) {
  fake_process_set_paths("ZTFChk", "", "");
  fake_control_dialogs_script({{kCheckerQuit, nullptr, false, 20000}});
  EXPECT_EQ(checker_main(), 0);
  EXPECT_EQ(box_texts(), (std::vector<std::string>{sjis("起動パスが不正です。") + "|" + sjis("エラー")}));
  EXPECT_EQ(fake_control_dialogs_runs(), 1);
  EXPECT_EQ(checker_dialog_settings().output_name, "output.txt");
}

}  // namespace
