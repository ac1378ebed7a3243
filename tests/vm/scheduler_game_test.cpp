// A compiled game folder through the engine's own start-up, frames of the
// main loop and shut-down, on the fake platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/startup.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/ui.h"
#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "tests/support/game_writer.h"
#include "tests/support/game_writer_run.h"

namespace {

// SYSTEM computes 1 + 2 + ... in nested loops and a call, then starts a
// task (in a second script file) that waits 3 frames and sets 1002.
const char* const kGame =
    "config width=320 height=240 title=Scripts run\n"
    "var 53 int 17 = 0\nvar 60 int 17 = 0\n"
    "var 1000 int = 0\nvar 1001 int = 0\nvar 1002 int = 0\nvar 1003 int = 0\n"
    "script 0 main.txt\n"
    "label SYSTEM_START\n"
    "loop B:4\n"
    "  loop B:5\n"
    "    call add | i: H:1000 | i: B:3\n"
    "    set V:1000 ) = V:60 B:1 )\n"
    "  endloop\n"
    "endloop\n"
    "start waiter wait_then_set | key: B:2\n"
    "loop L:-1\n"
    "  set V:1003 ) += B:1\n"
    "  wait B:1\n"
    "endloop\n"
    "label add\n"
    "return | i: V:53 B:1 ) V:53 B:2 ) +\n"
    "script 1 waiter.txt\n"
    "label wait_then_set\n"
    "set V:1001 ) = B:1\n"
    "wait B:3\n"
    "set V:1002 ) = H:1000 B:2 *\n"
    "loop L:-1\n"
    "  wait B:1\n"
    "endloop\n";

void bind_wait_stand_in() {
  g_command_table[104] = wait_frames_stand_in;
  for (ScriptRecord* r : g_engine_data.cache) {
    if (!r) continue;
    for (u32 i = 0; i < r->instruction_count; ++i)
      if (r->command_ids[i] == 104) r->handler_tables[1][i] = wait_frames_stand_in;
  }
}

// Start-up requires the block-compression library; nothing here unpacks.
int no_call() { return -1; }
void register_block_library() {
  void* f = reinterpret_cast<void*>(no_call);
  FakeExport exports[] = {
      {"ZTZid_CompressedLength", f}, {"ZTZid_Compress", f}, {"ZTZid_UncompressedLength", f}, {"ZTZid_Uncompress", f}};
  fake_dynlib_register("ZTZid.dll", exports, 4);
}

std::string g_folder;

// Writes the game and runs the engine's start-up on it: its result.
i8 start_game(const std::string& text) {
  // Each test runs in a process of its own, several at once: a folder of
  // its own keeps their files and folder locks apart.
  g_folder = (std::filesystem::temp_directory_path() / ("kl_scheduler_game_" + std::to_string(getpid()))).string();
  std::filesystem::remove_all(g_folder);
  if (!write_game_folder(g_folder, build_game(text))) return -9;
  std::string sjis = g_folder;
  for (char& c : sjis)
    if (c == '/') c = '\\';
  setup_startup_paths_from(sjis + "\\k_lumbrane");
  g_compiled_scripts_present = 1;
  g_quit_requested = 0;
  g_run_flag = 1;
  reset_error_report_log();
  fake_clock_set(1000);
  register_block_library();
  return engine_startup();
}

void stop_game() {
  shutdown_engine();
  release_instance_mutexes();
  g_quit_requested = 0;
  g_engine_config = EngineConfig{};
  fake_dynlib_clear();
  std::filesystem::remove_all(g_folder);
}

}  // namespace

TEST(SchedulerGame, StartUpFramesAndShutDown) {
  ASSERT_EQ(start_game(kGame), 0) << g_error_report_log.last_message << " box: " << g_error_report_log.last_box_text;
  EXPECT_EQ(g_engine_config.screen_width, 320u);
  bind_wait_stand_in();
  ScriptContext* system = task_context(g_system_objects[kTreeTask]);
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(system->script_no, 0);

  // Frame 1: SYSTEM runs its loops and calls to the end and starts the
  // waiter, which runs from the next pass.
  ASSERT_EQ(run_frame(), 0) << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 60);
  EXPECT_EQ(var_get_int(1003, 0), 1);
  EXPECT_EQ(var_get_int(1001, 0), 0);
  bind_wait_stand_in();  // the waiter's script is not loaded until it starts
  // Frame 2: the waiter starts and begins its 3-frame wait.
  ASSERT_EQ(run_frame(), 0);
  EXPECT_EQ(var_get_int(1001, 0), 1);
  bind_wait_stand_in();
  ASSERT_EQ(run_frame(), 0);
  ASSERT_EQ(run_frame(), 0);
  EXPECT_EQ(var_get_int(1002, 0), 0);
  // Frame 5: the wait is over.
  ASSERT_EQ(run_frame(), 0);
  EXPECT_EQ(var_get_int(1002, 0), 120);
  EXPECT_EQ(var_get_int(1003, 0), 5);
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;

  stop_game();
}

namespace {
// Moves the fake cursor to the next corner of the 320 x 240 window at each
// call, so that the debug check (every 1024 instructions) sees all four.
u32 g_corner_calls = 0;
u32 move_cursor_round_the_corners() {
  static const int kCorners[4][2] = {{0, 0}, {0, 239}, {319, 0}, {319, 239}};
  u32 corner = (g_corner_calls++ / 400) % 4;
  fake_ui_set_cursor(main_window_handle(), kCorners[corner][0], kCorners[corner][1]);
  return 0;
}
}  // namespace

TEST(SchedulerGame, DebugModeCornersAskToQuit) {
  ASSERT_EQ(start_game("config width=320 height=240 debug=1\n"
                       "command 77 probe\n"
                       "script 0 main.txt\nlabel SYSTEM_START\n"
                       "loop L:-1\ninstr 77\nendloop\n"),
            0)
      << g_error_report_log.last_message;
  g_command_table[77] = move_cursor_round_the_corners;
  for (ScriptRecord* r : g_engine_data.cache)
    if (r) r->handler_tables[1][1] = move_cursor_round_the_corners;
  g_corner_calls = 0;
  std::size_t boxes = fake_ui_boxes().size();
  fake_ui_push_box_answer(ui::kIdYes);
  // An endless loop without a yield: only the answer Yes ends the turn.
  EXPECT_NE(run_frame(), 0);
  EXPECT_EQ(g_quit_requested.load(), 1);
  // Two instructions a pass, a look every 1024: the corners 1, 2, 3, 1, 2,
  // 3 and at last 0 are seen at calls 512, 1024, ... 3584.
  EXPECT_EQ(g_corner_calls, 3584u);
  ASSERT_EQ(fake_ui_boxes().size(), boxes + 1);
  const FakeUiBox& box = fake_ui_boxes().back();
  EXPECT_EQ(box.caption, sjis_message("[デバッグ機能]"));
  EXPECT_EQ(box.owner, main_window_handle());
  EXPECT_EQ(box.type, ui::kMbYesNo | ui::kMbIconInformation);
  EXPECT_NE(box.text.find("\n\n"), std::string::npos);
  stop_game();
}

// The wait command itself: frames, then milliseconds on the test clock.
TEST(SchedulerGame, WaitCommandByFramesAndMilliseconds) {
  GameRun run;
  ASSERT_EQ(run.load_text("var 1000 int = 0\nvar 1001 int = 0\n"
                          "script 0 main.txt\n"
                          "label SYSTEM_START\n"
                          "set V:1000 ) = B:1\n"
                          "wait B:2\n"
                          "set V:1000 ) = B:2\n"
                          "instr 104\n"
                          "arg 1 int : B:50\n"
                          "set V:1001 ) = B:1\n"
                          "loop L:-1\n"
                          "  wait B:1\n"
                          "endloop\n"),
            0)
      << g_error_report_log.last_message;
  fake_clock_set(5000);
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 1);
  run.frame();
  EXPECT_EQ(var_get_int(1000, 0), 1);
  run.frame();  // two frames waited
  EXPECT_EQ(var_get_int(1000, 0), 2);
  EXPECT_EQ(var_get_int(1001, 0), 0);
  fake_clock_advance(49);
  run.frame();
  EXPECT_EQ(var_get_int(1001, 0), 0);  // 49 of 50 ms
  fake_clock_advance(1);
  run.frame();
  EXPECT_EQ(var_get_int(1001, 0), 1);
  EXPECT_EQ(g_error_report_log.report_count, 0u) << g_error_report_log.last_message;
}
