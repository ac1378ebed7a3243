// A compiled game folder through the engine's own start-up, frames of the
// main loop and shut-down, on the fake platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/startup.h"
#include "engine/vm/command_args.h"
#include "engine/vm/command_table.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
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

}  // namespace

TEST(SchedulerGame, StartUpFramesAndShutDown) {
  std::string folder = (std::filesystem::temp_directory_path() / "kl_scheduler_game").string();
  std::filesystem::remove_all(folder);
  ASSERT_TRUE(write_game_folder(folder, build_game(kGame)));
  std::string sjis = folder;
  for (char& c : sjis)
    if (c == '/') c = '\\';
  setup_startup_paths_from(sjis + "\\k_lumbrane");
  g_compiled_scripts_present = 1;
  g_quit_requested = 0;
  g_run_flag = 1;
  reset_error_report_log();
  fake_clock_set(1000);
  register_block_library();

  ASSERT_EQ(engine_startup(), 0) << g_error_report_log.last_message << " box: " << g_error_report_log.last_box_text;
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

  shutdown_engine();
  release_instance_mutexes();
  destroy_system_objects();
  reset_scheduler();
  free_engine_data();
  var_table_free();
  free_command_list();
  g_quit_requested = 0;
  g_engine_config = EngineConfig{};
  fake_dynlib_clear();
  std::filesystem::remove_all(folder);
}
