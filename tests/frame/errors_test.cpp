#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/frame/debug_log.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "tests/support/edit_button_probe.h"

namespace {

struct Position {
  bool current = false;
  std::string file;
  u32 line = 1;
};
Position g_position;

int position_hook(std::string* file, u32* line) {
  if (!g_position.current) return 0;
  *file = g_position.file;
  *line = g_position.line;
  return 1;
}

std::string sj(const char* utf8) { return sjis_message(utf8); }

class ErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    fake_ui_reset();
    fake_process_reset();
    g_quit_requested = 0;
    g_position = Position{};
    set_script_position_hook(position_hook);
    set_error_text_table(ErrorTextTable{});
    set_error_editor_button(0);
    set_error_dialog_caption(nullptr);
  }
  void TearDown() override {
    set_script_position_hook(nullptr);
    set_error_text_table(ErrorTextTable{});
    set_error_editor_button(0);
    g_quit_requested = 0;
    reset_error_report_log();
  }
};

TEST_F(ErrorsTest, TextsBuiltInWinThenTableThenDefault) {
  ErrorTextTable table;
  table.entries.push_back({104010, "table text"});
  table.entries.push_back({200001, "first"});
  table.entries.push_back({200001, "second"});
  set_error_text_table(table);
  EXPECT_EQ(std::string(error_text_for_code(104010)), sj("[%s]ファイルを\n読み込めませんでした。"));
  EXPECT_EQ(std::string(error_text_for_code(200001)), "first");
  EXPECT_EQ(std::string(error_text_for_code(123456)),
            sj("[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。"));
  // The notices of "/info" are there in full.
  std::string notices = error_text_for_code(100000);
  EXPECT_EQ(notices.rfind(sj("■ライセンスについて"), 0), 0u);
  EXPECT_NE(notices.find("libpng"), std::string::npos);
  EXPECT_NE(notices.find("zlib"), std::string::npos);
  EXPECT_NE(notices.find("Xiph.org"), std::string::npos);
}

TEST_F(ErrorsTest, TableKeepsAtMost256Entries) {
  ErrorTextTable table;
  for (u32 i = 0; i < 300; ++i) table.entries.push_back({300000 + i, "t" + std::to_string(i)});
  set_error_text_table(table);
  EXPECT_EQ(std::string(error_text_for_code(300000)), "t0");
  EXPECT_EQ(std::string(error_text_for_code(300255)), "t255");
  EXPECT_EQ(std::string(error_text_for_code(300256)), std::string(error_text_for_code(999999)));
}

TEST_F(ErrorsTest, PositionPrefixOnlyWithACurrentTaskAndNeverAsFormat) {
  ErrorTextTable table;
  table.entries.push_back({200010, "bad %d value"});
  set_error_text_table(table);
  g_position = {true, "scr%s%d.txt", 42};
  report_error_at(200010, 0, 7);
  std::string expected = sj("[対象ファイル]\n") + "scr%s%d.txt" + sj("\n\n[場所]\n42 行目\n\n[内容]\n\n") +
                         "bad 7 value";
  EXPECT_EQ(g_error_report_log.last_message, expected);
  EditedScript edited = press_edit_button();
  EXPECT_TRUE(edited.opened);
  EXPECT_TRUE(edited.path.ends_with("scr%s%d.txt")) << edited.path;
  EXPECT_EQ(edited.line_arg, "/j42");

  // The plain entry points never add the prefix, and no current task means
  // no prefix either.
  reset_error_report_log();
  report_error_fmt(200010, 0, 8);
  EXPECT_EQ(g_error_report_log.last_message, "bad 8 value");
  g_position.current = false;
  report_error_code_at(200010, 0);
  EXPECT_EQ(g_error_report_log.last_message, "bad %d value");
  EXPECT_FALSE(press_edit_button().opened) << "no position: the edit button opens nothing";
}

TEST_F(ErrorsTest, ConversionsWithoutArgumentsReadNothing) {
  ErrorTextTable table;
  table.entries.push_back({200020, "%s and %d and %99999999s%n"});
  set_error_text_table(table);
  report_error_code(200020, 0);
  EXPECT_EQ(g_error_report_log.last_message, "%s and %d and %99999999s%n");
  report_error_fmt(200020, 0, "x");
  EXPECT_EQ(g_error_report_log.last_message, "x and %d and %99999999s%n");
  // A huge width from a text is cut to a sane field.
  report_error_fmt(200020, 0, "a", 1, "b");
  EXPECT_LT(g_error_report_log.last_message.size(), 2000u);
}

TEST_F(ErrorsTest, FatalSetsQuitAndANonFatalReportLeavesIt) {
  report_error_code(100010, 0);
  EXPECT_EQ(g_quit_requested.load(), 0);
  report_error_code(100010, 1);
  EXPECT_EQ(g_quit_requested.load(), 1);
  report_error_code(100010, 0);
  EXPECT_EQ(g_quit_requested.load(), 1);
  EXPECT_EQ(g_error_report_log.report_count, 3u);
  EXPECT_EQ(g_error_report_log.last_fatal, 0);
}

TEST_F(ErrorsTest, DialogOncePerRunWithCaptionAndCrLfText) {
  report_error_fmt(104060, 0, "a.png");
  report_error_fmt(104010, 1, "b.png");
  ASSERT_EQ(fake_ui_error_dialogs().size(), 1u);
  const FakeUiErrorDialog& d = fake_ui_error_dialogs()[0];
  EXPECT_EQ(d.caption, "ZE-TAR Debug Info.");
  EXPECT_EQ(d.text, sj("[a.png]ファイルが\r\n存在しません。"));
  EXPECT_EQ(g_error_report_log.dialog_count, 1u);
  // The second report still ends the run.
  EXPECT_EQ(g_quit_requested.load(), 1);
  EXPECT_EQ(g_error_report_log.last_number, 104010u);

  reset_error_report_log();
  set_error_dialog_caption("License Information");
  report_error_code(100000, 1);
  set_error_dialog_caption(nullptr);
  ASSERT_EQ(fake_ui_error_dialogs().size(), 2u);
  EXPECT_EQ(fake_ui_error_dialogs()[1].caption, "License Information");
  // The long notices are shown whole, every LF as CR LF.
  std::string notices = error_text_for_code(100000);
  EXPECT_GT(notices.size(), 2048u);
  EXPECT_EQ(fake_ui_error_dialogs()[1].text, dialog_text_crlf(notices.c_str()));
  EXPECT_EQ(fake_ui_error_dialogs()[1].text.size(),
            notices.size() + static_cast<std::size_t>(std::count(notices.begin(), notices.end(), '\n')));
}

TEST_F(ErrorsTest, EditButtonFollowsSwitchAndPosition) {
  struct Case {
    u8 editor_switch;
    bool position;
    int button;
  } cases[] = {{0, true, 0}, {0, false, 0}, {1, false, 1}, {1, true, 2}};
  for (const Case& c : cases) {
    reset_error_report_log();
    fake_ui_reset();
    set_error_editor_button(c.editor_switch);
    g_position = {c.position, "main.txt", 3};
    report_error_code_at(100010, 0);
    ASSERT_EQ(fake_ui_error_dialogs().size(), 1u);
    EXPECT_EQ(fake_ui_error_dialogs()[0].edit_button, c.button)
        << "switch " << int(c.editor_switch) << " position " << c.position;
  }
}

TEST_F(ErrorsTest, DialogOwnedByTheMainWindowWhenThereIsOne) {
  ASSERT_EQ(create_window_records(), 0);
  g_windows[0]->logical_width = 64;
  g_windows[0]->logical_height = 48;
  setup_screen_record_for(g_windows[0], "T");
  ASSERT_EQ(create_window_for(g_windows[0], "cls", ui::kSwHide), 1);
  report_error_code(100010, 0);
  ASSERT_EQ(fake_ui_error_dialogs().size(), 1u);
  EXPECT_EQ(fake_ui_error_dialogs()[0].owner, g_windows[0]->handle);
  destroy_windows();
  free_window_records();
  g_quit_requested = 0;
}

TEST_F(ErrorsTest, EditorArgumentsByProgram) {
  const char* path = "/home/me/my game/scr.txt";
  struct Case {
    const char* program;
    std::vector<std::string> args;
  } cases[] = {
      {"C:\\tools\\EmEditor.exe", {path, "/l", "12"}},
      {"\\usr\\bin\\sakura.exe", {path, "-Y=12"}},
      {"hidemaru.exe", {"/j12", path}},
      {"TERAPAD.EXE", {"/jl=12", path}},
      {"MIW.exe", {std::string(path) + "+12"}},
      {"JmEdit2.exe", {std::string(path) + "/12"}},
      {"whinny.exe", {std::string(path) + "/12"}},
      {"QXW32.exe", {"-J12", path}},
      {"K2Editor.exe", {path, "/j12"}},
      {"otbedit.exe", {path, "/r12"}},
      {"GinnieFE.exe", {path, "/r12"}},
      {"apsaly.exe", {"/j12", path}},
      // A program without ".exe" matches its rule; any other gets the path.
      {"\\usr\\bin\\sakura", {path, "-Y=12"}},
      {"\\usr\\bin\\gedit", {path}},
  };
  for (const Case& c : cases) EXPECT_EQ(editor_arguments(c.program, path, 12), c.args) << c.program;
}

TEST_F(ErrorsTest, EditButtonStartsTheAssociatedEditorOnTheProjectScript) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kl_errors_editor_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "my scripts");
  std::ofstream(dir / "my scripts" / "Main.txt") << "x";
  std::string saved_project = g_paths.project_folder;
  g_paths.project_folder = std::string(dir.string()) + "\\my scripts\\";
  for (char& ch : g_paths.project_folder)
    if (ch == '/') ch = '\\';
  set_error_editor_button(1);
  fake_ui_set_associated_program("\\usr\\bin\\EmEditor.exe");
  fake_ui_set_error_dialog_edits(2);
  g_position = {true, "main.txt", 9};
  report_error_code_at(100010, 0);
  ASSERT_EQ(fake_process_calls().size(), 2u);
  const FakeProcessCall& call = fake_process_calls()[0];
  EXPECT_EQ(call.program, "\\usr\\bin\\EmEditor.exe");
  std::vector<std::string> expected = {(dir / "my scripts" / "Main.txt").string(), "/l", "9"};
  EXPECT_EQ(call.args, expected);

  // No associated program: nothing is started.
  fake_process_reset();
  reset_error_report_log();
  fake_ui_set_associated_program("");
  report_error_code_at(100010, 0);
  EXPECT_TRUE(fake_process_calls().empty());
  g_paths.project_folder = saved_project;
  std::filesystem::remove_all(dir);
}

TEST_F(ErrorsTest, ShowErrorBoxIsSystemModal) {
  show_error_box("cap", "%d-%s", 5, "x");
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_EQ(fake_ui_boxes()[0].text, "5-x");
  EXPECT_EQ(fake_ui_boxes()[0].caption, "cap");
  EXPECT_EQ(fake_ui_boxes()[0].type & ui::kMbSystemModal, ui::kMbSystemModal);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
}

// ---- the debug log ----
class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kl_debug_log_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    saved_ = g_paths.program_folder_true;
    g_paths.program_folder_true = dir_.string() + "/";
    for (char& ch : g_paths.program_folder_true)
      if (ch == '/') ch = '\\';
    reset_debug_log_state();
    reset_error_report_log();
    fake_ui_reset();
  }
  void TearDown() override {
    g_paths.program_folder_true = saved_;
    reset_debug_log_state();
    std::filesystem::remove_all(dir_);
  }
  std::string log_text() {
    std::ifstream in(dir_ / "debuglog.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir_;
  std::string saved_;
};

TEST_F(DebugLogTest, HeaderFormat) {
  std::string dashes = "//" + std::string(76, '-') + "\n";
  EXPECT_EQ(debug_log_header(2025, 3, 7, 9, 5, 1), dashes + sj("//■25/03/07 time=09:05:01") + "\n" + dashes);
}

TEST_F(DebugLogTest, HeaderOnFirstAppendOnlyAndDeleteFirst) {
  std::ofstream(dir_ / "debuglog.txt") << "old\n";
  u32 first = write_debug_log(kDebugLogFileName, 1, 1000, "a=%d", 1);
  u32 second = write_debug_log(kDebugLogFileName, 1, 1000, "b=%s", "two");
  std::string text = log_text();
  std::vector<std::string> lines;
  for (std::size_t at = 0, lf; (lf = text.find('\n', at)) != std::string::npos; at = lf + 1)
    lines.push_back(text.substr(at, lf - at));
  ASSERT_EQ(lines.size(), 5u) << text;
  std::string dashes = "//" + std::string(76, '-');
  EXPECT_EQ(lines[0], dashes);
  EXPECT_EQ(lines[1].rfind(sj("//■"), 0), 0u);
  EXPECT_EQ(lines[2], dashes);
  EXPECT_EQ(lines[3], "a=1");
  EXPECT_EQ(lines[4], "b=two");
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(first + second, text.size());
  EXPECT_EQ(second, 6u);
}

TEST_F(DebugLogTest, SizeWarningShownOnce) {
  write_debug_log(kDebugLogFileName, 0, 10, "line");
  EXPECT_TRUE(fake_ui_boxes().empty());
  write_debug_log(kDebugLogFileName, 0, 0, "over");
  write_debug_log(kDebugLogFileName, 0, -500, "still over");
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_EQ(fake_ui_boxes()[0].caption, "");
  EXPECT_NE(fake_ui_boxes()[0].text.find("debuglog.txt " + sj("を削除していただくか")), std::string::npos);
  std::string text = log_text();
  EXPECT_NE(text.find("still over\n"), std::string::npos);
  // The warning went into the log once too.
  std::string marker = sj("log が 10MB を超えました。");
  EXPECT_EQ(text.find(marker), text.rfind(marker));
}

TEST_F(DebugLogTest, AppendLeavesTheCallersTextAlone) {
  char buffer[4] = {'a', 'b', 'c', '\0'};
  std::string path = g_paths.program_folder_true + "other.txt";
  EXPECT_EQ(append_log_text(path.c_str(), buffer), 4u);
  EXPECT_EQ(std::string(buffer, 4), std::string("abc\0", 4));
  std::ifstream in(dir_ / "other.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abc\n");
  // A folder that does not exist: silent.
  EXPECT_EQ(append_log_text((g_paths.program_folder_true + "nope\\x.txt").c_str(), "x"), 0u);
  write_debug_log(kDebugLogFileName, 0, 100, "x");
  delete_debug_log();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "debuglog.txt"));
}

}  // namespace

namespace {
// A run asked to end from outside while a box was open: the fatal error the
// box leads to shows no dialog (nobody would close it), still ends the run,
// and is no failure of the run: the signal ended it.
TEST_F(ErrorsTest, AfterAnEndFromOutsideAFatalErrorShowsNoDialogAndIsNoFailure) {
  g_run_failed = 0;
  g_ended_from_outside = 1;
  g_platform.ui->end_modal_dialogs();
  show_error_box("", sjis_message("ＣＧサイズが大きすぎます。X=%d, Y=%d"), 9000, 1);
  report_error_code(100010, 1);
  EXPECT_TRUE(fake_ui_boxes().empty());
  EXPECT_TRUE(fake_ui_error_dialogs().empty());
  EXPECT_EQ(g_quit_requested.load(), 1);
  EXPECT_EQ(g_run_failed.load(), 0);
  EXPECT_EQ(run_exit_status(), 0);
  // Without the signal the same error fails the run.
  g_ended_from_outside = 0;
  fake_ui_reset();
  reset_error_report_log();
  report_error_code(100010, 1);
  EXPECT_EQ(fake_ui_error_dialogs().size(), 1u);
  EXPECT_EQ(run_exit_status(), 1);
  g_run_failed = 0;
}
}  // namespace
