// The system command (116) on the fakes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/commands/command_results.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/frame/window.h"
#include "platform/platform.h"
#include "engine/frame/text_split.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tests/commands/commands_fixture.h"

namespace {

// Variables: 1000 int result, 1001 float result, 1002 text result, 1010-1011
// texts 1 and 2, 1020-1023 n2-n5, 1030 text array, 1031 int array, 1032 int.
const std::string kHeader = command_line(116, 25) +
                            "var 1000 int = -1\nvar 1001 float = -1\nvar 1002 text = \"-\"\n"
                            "var 1010 text = \"\"\nvar 1011 text = \"\"\n"
                            "var 1020 int = 0\nvar 1021 int = 0\nvar 1022 int = 0\nvar 1023 int = 0\n"
                            "var 1030 text 12 = \"\"\nvar 1031 int 12 = -1\nvar 1032 int = 0\n";

std::string sys(i64 n, const std::string& result = "v:1000") {
  return "instr 116\narg 0 int : I:" + std::to_string(n) + "\narg 1 int : " + result +
         "\narg 2 int : v:1020\narg 3 int : v:1021\narg 4 int : v:1022\narg 5 int : v:1023\n"
         "arg 22 int : v:1010\narg 23 int : v:1011\n";
}
std::string texts(const std::string& t1, const std::string& t2 = "") {
  return "sett v:1010 = \"" + t1 + "\"\nsett v:1011 = \"" + t2 + "\"\n";
}

std::string read_all(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

TEST(SystemCommand, NumbersBoxesAndUnknownNumbers) {
  struct Case {
    i64 n;
    const char* result;
    i64 want;
    u32 error;
  } cases[] = {
      {1, "v:1000", 502, 0},
      {1, "v:1002", 0, 101140},
      {3, "v:1000", -1, 0},  // no meaning: nothing happens
      {38, "v:1000", user_is_administrator(), 0},
      {20021, "v:1000", 0, 0},
  };
  for (const Case& c : cases) {
    GameRun run;
    EXPECT_EQ(run_once(run, kHeader, sys(c.n, c.result)), c.error) << c.n;
    if (!c.error) {
      EXPECT_EQ(var_get_int(1000, 0), c.want) << c.n;
    }
  }
  GameRun run;
  EXPECT_EQ(run_once(run, kHeader, sys(1, "v:1001") + texts("abc") + sys(2) + sys(30) + sys(21031, "v:1002")), 0u);
  EXPECT_DOUBLE_EQ(var_get_float(1001, 0), 502.0);
  EXPECT_EQ(g_error_report_log.last_box_text, "COM:30 Deleted.");
  EXPECT_STREQ(var_get_string(1002, 0), "");
}

TEST(SystemCommand, FilesExportAndListing) {
  GameRun run;
  std::string dir = run.folder;
  std::filesystem::create_directories(dir + "/list/sub");
  for (const char* f : {"a.PNG", "b.png", "c.txt"}) std::ofstream(dir + "/list/" + f) << "x";
  std::string source = std::string("bytes\0\r\n\xff", 9);
  std::ofstream(dir + "/item.bin", std::ios::binary) << source;
  EXPECT_EQ(run_once(run, kHeader,
                     texts("ITEM.BIN", dir + "/out/../copy.bin") + sys(12) +
                     texts(dir + "/w.txt", "line") + sys(15) +
                     texts(dir + "/list", "png") + sys(21) +
                     "set v:1020 = B:1\n" + texts(dir + "/list") + sys(21) +
                     texts("missing.bin", "x.bin") + sys(12)),
            104060u);
  EXPECT_EQ(read_all(dir + "/copy.bin"), source);
  EXPECT_EQ(read_all(dir + "/w.txt"), "line\r\n");
  // The second listing: folders too, with '/'.
  EXPECT_EQ(g_sysvar_store.value_15, 4);
  EXPECT_STREQ(sv_file_name_entry(3), "sub/");
  EXPECT_STREQ(sv_file_name_entry(0), "a.PNG");
  EXPECT_EQ(sv_file_name_entry(4), nullptr);
}

TEST(SystemCommand, ListingStopsAt8192Names) {
  GameRun run;
  std::string dir = run.folder + "/many";
  std::filesystem::create_directories(dir);
  for (int i = 0; i < 9000; ++i) std::ofstream(dir + "/f" + std::to_string(i) + ".dat");
  EXPECT_EQ(run_once(run, kHeader, texts(dir, "dat") + sys(21)), 0u);
  EXPECT_EQ(g_sysvar_store.value_15, 8192);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
}

TEST(SystemCommand, TokensAndTextLengths) {
  GameRun run;
  // n2: texts from element 1030:0, n3: kinds 1031:0, n4: comment state 1032:0.
  std::string refs = "set v:1020 = L:" + std::to_string((1030ll << 32)) + "\nset v:1021 = L:" +
                     std::to_string((1031ll << 32)) + "\nset v:1022 = L:" + std::to_string((1032ll << 32)) + "\n";
  EXPECT_EQ(run_once(run, kHeader, refs + texts("x -= a_1(\\\"q r\\\", 5) # /* c") + sys(22)), 0u)
      << g_error_report_log.last_message;
  const char* want_text[] = {"x", "-=", "a_1", "(", "\"q r\"", ",", "5", ")", "#"};
  const i64 want_kind[] = {32, 13, 32, 52, 31, 54, 32, 53, 57};
  EXPECT_EQ(var_get_int(1000, 0), 9);
  for (int i = 0; i < 9; ++i) {
    EXPECT_STREQ(var_get_string(1030, i), want_text[i]) << i;
    EXPECT_EQ(var_get_int(1031, i), want_kind[i]) << i;
  }
  EXPECT_EQ(var_get_int(1032, 0), 1);  // the block comment stays open
  // Text lengths: up to and including the first empty text; past the end of
  // the variable counts as empty.
  GameRun run2;
  std::string refs2 = "set v:1020 = L:" + std::to_string((1030ll << 32) | 10) + "\nset v:1021 = L:" +
                      std::to_string((1031ll << 32) | 0) + "\n";
  EXPECT_EQ(run_once(run2, kHeader,
                     "sett V:1030 B:10 ) = \"ab\"\nsett V:1030 B:11 ) = \"" + std::string("xyz") + "\"\n" + refs2 +
                         sys(23)),
            0u);
  EXPECT_EQ(var_get_int(1000, 0), 3);
  EXPECT_EQ(var_get_int(1031, 0), 2);
  EXPECT_EQ(var_get_int(1031, 1), 3);
  EXPECT_EQ(var_get_int(1031, 2), 0);
}

TEST(SystemCommand, TokenizerRules) {
  struct Case {
    const char* line;
    std::vector<std::pair<std::string, u32>> want;
    bool comment_after;
  } cases[] = {
      {"i++ += *= /=", {{"i", 32}, {"++", 11}, {"+=", 12}, {"*=", 14}, {"/=", 15}}, false},
      {"a // rest", {{"a", 32}, {"\r", kTokenLineComment}}, false},
      {"\\@$#=;x", {{"\\", 51}, {"@", 55}, {"$", 56}, {"#", 57}, {"x", 32}}, false},
      {"\"open\rb", {{"\"open", 31}, {"\r", 16}, {"b", 32}}, false},
      {"/* c */d", {{"/* c */", 0}, {"d", 32}}, false},
      {"-5 + .x/y", {{"-5", 32}, {"+", 16}, {".x/y", 32}}, false},
  };
  for (const Case& c : cases) {
    bool comment = false;
    std::vector<ScriptToken> t;
    tokenize_script_line(c.line, &comment, &t);
    ASSERT_EQ(t.size(), c.want.size()) << c.line;
    for (std::size_t i = 0; i < t.size(); ++i) {
      EXPECT_EQ(t[i].text, c.want[i].first) << c.line;
      EXPECT_EQ(t[i].kind, c.want[i].second) << c.line;
    }
    EXPECT_EQ(comment, c.comment_after) << c.line;
  }
  bool comment = true;
  std::vector<ScriptToken> t;
  tokenize_script_line("still\r*/z", &comment, &t);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].text, "\r");
  EXPECT_EQ(t[1].text, "still*/");
  EXPECT_EQ(t[2].text, "z");
  EXPECT_FALSE(comment);
}

TEST(SystemCommand, DialogsAndTheEntryText) {
  fake_dialogs_reset();
  reset_system_command_state();
  fake_dialogs_push_answer(1, "first");
  fake_dialogs_push_answer(0, "ignored");
  fake_dialogs_push_answer(1, "C:\\\\pics\\\\a.png");
  fake_dialogs_push_answer(0, "");
  GameRun run;
  EXPECT_EQ(run_once(run, kHeader,
                     texts("init") + sys(10201) + sys(10201) + sys(10205, "v:1002") +
                         texts(std::string(600, 'n')) + sys(26, "v:1010") + sys(21000, "v:1011")),
            0u);
  const auto& calls = fake_dialogs_calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].kind, "text_entry");
  EXPECT_EQ(calls[0].initial, "init");
  // Cancelled: 0, and the text entered before stays.
  EXPECT_EQ(var_get_int(1000, 0), 0);
  EXPECT_STREQ(var_get_string(1002, 0), "first");
  EXPECT_EQ(calls[2].kind, "save_file");
  EXPECT_EQ(calls[2].file_kind, kUiFilePng);
  EXPECT_EQ(calls[2].initial.size(), 520u);  // the 521-byte file buffer
  EXPECT_STREQ(var_get_string(1010, 0), "C:\\\\pics\\\\a.png");
  EXPECT_STREQ(var_get_string(1011, 0), "");
}

TEST(SystemCommand, EditFieldAndGameClockPause) {
  fake_dialogs_reset();
  fake_ui_reset();
  create_window_records();
  UiWindowDesc desc;
  desc.proc = [](UiWindow, std::uint32_t, std::uint64_t, std::int64_t) -> std::int64_t { return 0; };
  desc.client_width = 640;
  desc.client_height = 480;
  g_windows[0]->handle = g_platform.ui->create_window(&desc);
  GameRun run;
  fake_clock_set(5000);
  reset_engine_clocks();
  EXPECT_EQ(run_once(run, kHeader,
                     "set v:1020 = B:10\nset v:1021 = B:20\nset v:1022 = W:300\nset v:1023 = B:24\n" +
                         texts("hello") + sys(10102) + sys(20005) + sys(20013)),
            0u);
  const FakeField& f = fake_dialogs_field();
  EXPECT_EQ(f.alive, 1);
  EXPECT_EQ(f.x, 10);
  EXPECT_EQ(f.width, 300);
  EXPECT_EQ(f.text, "hello");
  EXPECT_EQ(f.focused, 1);
  fake_clock_advance(700);
  EXPECT_EQ(sv_script_clock(0), 0);  // held since 20013 ran at 5000
  ASSERT_EQ(run_once(run, kHeader, sys(20013)), 0u);  // held already: keeps the first start
  ASSERT_EQ(run_once(run, kHeader, sys(20014)), 0u);
  EXPECT_EQ(g_engine_clocks.offset[0], 5700u);
  ASSERT_EQ(run_once(run, kHeader, sys(20014)), 0u);  // not held: nothing
  EXPECT_EQ(g_engine_clocks.offset[0], 5700u);
  g_windows[0]->handle = kNoWindow;
}

TEST(SystemCommand, RegistryDeletes) {
  const PlatformRegistry* reg = g_platform.registry;
  ASSERT_NE(reg, nullptr);
  auto fill = [&] {
    fake_registry_reset();
    for (int root : {kRegCurrentUser, kRegLocalMachine}) {
      reg->write_value(root, "Software\\Game", "Path", kRegSz, "C:\\game");
      reg->write_value(root, "Software\\Game", "Other", kRegSz, "kept?");
      reg->write_value(root, "Software\\Game\\Sub", "", kRegSz, "below");
    }
  };
  auto has = [&](int root, const char* key, const char* name) {
    std::uint32_t type = 0;
    std::string data;
    return reg->read_value(root, key, name, &type, &data) == 0;
  };
  struct Case {
    i64 n;
    const char* key;
    const char* value;
    bool cu_path, cu_other, lm_path, lm_other, lm_sub;
  } cases[] = {
      // The current user's value goes, then its key with everything in it.
      {33, "Software/Game", "path", false, false, true, true, true},
      {36, "Software/Game", "PATH", true, true, false, true, true},
      {37, "software/game", "", true, true, false, false, false},
      // Missing keys and values change nothing and report nothing.
      {36, "Software/None", "Path", true, true, true, true, true},
      {37, "Software/None", "", true, true, true, true, true},
  };
  for (const Case& c : cases) {
    fill();
    GameRun run;
    EXPECT_EQ(run_once(run, kHeader, texts(c.key, c.value) + sys(c.n)), 0u) << c.n << " " << c.key;
    EXPECT_EQ(has(kRegCurrentUser, "Software\\Game", "Path"), c.cu_path) << c.n << " " << c.key;
    EXPECT_EQ(has(kRegCurrentUser, "Software\\Game", "Other"), c.cu_other) << c.n << " " << c.key;
    EXPECT_EQ(has(kRegLocalMachine, "Software\\Game", "Path"), c.lm_path) << c.n << " " << c.key;
    EXPECT_EQ(has(kRegLocalMachine, "Software\\Game", "Other"), c.lm_other) << c.n << " " << c.key;
    EXPECT_EQ(has(kRegLocalMachine, "Software\\Game\\Sub", ""), c.lm_sub) << c.n << " " << c.key;
  }
  fake_registry_reset();
}

TEST(SystemCommand, GpuDrawingSwitches) {
  GameRun run;
  EXPECT_EQ(run_once(run, kHeader, sys(81)), 0u);
  EXPECT_EQ(g_gpu_tree_mode, 0);
  EXPECT_EQ(g_settings.use_direct3d, 0);
  // Without an open device drawing stays off; only the tree mode is kept.
  release_d3d_device();
  ASSERT_EQ(gpu_device_ready(), 0);
  EXPECT_EQ(run_once(run, kHeader, sys(80)), 0u);
  EXPECT_EQ(g_gpu_tree_mode, 1);
  EXPECT_EQ(g_settings.use_direct3d, 0);
  // With a device open it comes back on.
  g_settings.use_direct3d = 1;
  ASSERT_EQ(init_d3d(), 0);
  EXPECT_EQ(run_once(run, kHeader, sys(81) + sys(80)), 0u);
  EXPECT_EQ(g_gpu_tree_mode, 1);
  EXPECT_EQ(g_settings.use_direct3d, 1);
  EXPECT_EQ(run_once(run, kHeader, sys(81)), 0u);
  EXPECT_EQ(g_gpu_tree_mode, 0);
  EXPECT_EQ(g_settings.use_direct3d, 0);
  release_d3d_device();
  reset_renderer_state();
  g_settings.use_direct3d = 1;
}
