// The order of start-up and shut-down, recorded as the steps run, for whole
// runs of a compiled game on the fake platform: frames on the GUI thread and
// on the frame thread, ended by the close button, by a fatal error of a
// script, and start-ups that stop early.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/input.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/ui.h"
#include "tests/support/game_writer.h"

namespace {

std::vector<std::pair<char, int>> g_steps;
void record_step(char phase, int step) { g_steps.emplace_back(phase, step); }

std::vector<std::pair<char, int>> steps(char phase, int first, int last) {
  std::vector<std::pair<char, int>> v;
  for (int i = first; i <= last; ++i) v.emplace_back(phase, i);
  return v;
}
int no_call() { return -1; }

class RunOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = (std::filesystem::temp_directory_path() / ("kl_run_order_" + std::to_string(getpid()))).string();
    std::filesystem::remove_all(folder_);
    fake_ui_reset();
    g_steps.clear();
    g_startup_step_trace = record_step;
    void* f = reinterpret_cast<void*>(no_call);
    FakeExport exports[] = {{"ZTZid_CompressedLength", f},
                            {"ZTZid_Compress", f},
                            {"ZTZid_UncompressedLength", f},
                            {"ZTZid_Uncompress", f}};
    fake_dynlib_register("ZTZid.dll", exports, 4);
  }
  void TearDown() override {
    g_startup_step_trace = nullptr;
    // A case that failed half-way leaves no frame thread behind.
    g_quit_requested = 1;
    join_frame_thread();
    release_instance_mutexes();
    destroy_system_objects();
    reset_scheduler();
    free_engine_data();
    var_table_free();
    free_command_list();
    free_window_records();
    g_engine_config = EngineConfig{};
    g_frame_thread_mode = 0;
    g_frame_thread_state = kThreadNotStarted;
    g_pacing = FramePacing{};
    g_quit_requested = 0;
    g_run_flag = 1;
    fake_dynlib_clear();
    fake_ui_reset();
    copy_arguments(0, nullptr);
    reset_error_report_log();
    std::filesystem::remove_all(folder_);
  }
  // Writes the game (nothing when text is empty) and runs start-up.
  i8 start(const std::string& text) {
    std::filesystem::create_directories(folder_);
    if (!text.empty() && !write_game_folder(folder_, build_game(text))) return -9;
    std::string sjis = folder_;
    for (char& c : sjis)
      if (c == '/') c = '\\';
    setup_startup_paths_from(sjis + "\\k_lumbrane");
    g_compiled_scripts_present = 1;
    g_quit_requested = 0;
    g_run_flag = 1;
    g_pacing = FramePacing{};
    reset_error_report_log();
    fake_clock_set(1000);
    copy_arguments(0, nullptr);
    return engine_startup();
  }
  // Runs the main loop on this thread (the GUI thread) while another thread
  // waits for the main window to be shown and then, when close is set,
  // clicks its close button and answers "Yes". False when the loop had to
  // be stopped after 20 s.
  bool run_loop(bool close) {
    std::atomic<bool> done{false}, stopped{false};
    UiWindow main = main_window_handle();
    std::thread user([&] {
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      bool clicked = !close;
      while (!done && std::chrono::steady_clock::now() < until) {
        FakeUiWindowInfo info{};
        if (!clicked && fake_ui_window_info(main, &info) == 0 && info.visible) {
          shown_ = true;
          fake_ui_push_box_answer(ui::kIdYes);
          fake_ui_click_close(main);
          clicked = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (!done) {
        stopped = true;
        g_quit_requested = 1;
        g_run_flag = 0;
      }
    });
    run_main_loop();
    done = true;
    user.join();
    return !stopped;
  }
  std::string folder_;
  bool shown_ = false;
};

const char* const kWaitingGame =
    "config width=320 height=240 frame_thread=%d title=Run order\n"
    "script 0 main.txt\n"
    "label SYSTEM_START\n"
    "loop L:-1\n"
    "  wait I:1\n"
    "endloop\n";

std::string waiting_game(int frame_thread) {
  char text[512];
  std::snprintf(text, sizeof text, kWaitingGame, frame_thread);
  return text;
}

}  // namespace

TEST_F(RunOrder, CloseButtonEndsARunInEitherFrameMode) {
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode ? "frame thread" : "GUI thread");
    g_steps.clear();
    shown_ = false;
    g_input.press_counts[5] = 7;  // left over from an earlier run
    ASSERT_EQ(start(waiting_game(mode)), 0) << g_error_report_log.last_message;
    EXPECT_EQ(g_steps, steps('s', 1, 31));
    EXPECT_EQ(g_input.press_counts[5], 0u) << "a run's input starts clear";
    EXPECT_EQ(g_frame_thread_mode, mode);
    g_steps.clear();
    ASSERT_TRUE(run_loop(true)) << "the main loop did not end";
    EXPECT_TRUE(shown_) << "the main window was never shown";
    EXPECT_EQ(g_run_flag.load(), 0);
    ASSERT_EQ(fake_ui_boxes().size(), 1u);
    EXPECT_EQ(fake_ui_boxes()[0].type, ui::kMbYesNo | ui::kMbIconInformation);
    ASSERT_NE(g_object_roots[0], nullptr);
    ASSERT_FALSE(g_engine_data.labels.empty());
    g_memory_groups.groups[1].entries.push_back({"a.png", std::vector<u8>(16), 2});
    g_memory_groups.groups[1].total_bytes = 16;
    shutdown_engine();
    EXPECT_EQ(g_steps, steps('d', 1, 10));
    // The run leaves nothing it loaded or built in memory.
    for (ObjectNode* root : g_object_roots) EXPECT_EQ(root, nullptr);
    for (ObjectNode* node : g_system_objects) EXPECT_EQ(node, nullptr);
    EXPECT_TRUE(g_engine_data.cache.empty());
    EXPECT_TRUE(g_engine_data.scripts.empty());
    EXPECT_TRUE(g_engine_data.labels.empty());
    EXPECT_EQ(g_vars.records, nullptr);
    EXPECT_EQ(g_command_list.storage, nullptr);
    EXPECT_TRUE(g_memory_groups.groups[1].entries.empty());
    EXPECT_EQ(g_memory_groups.groups[1].total_bytes, 0);
    if (mode) {
      EXPECT_EQ(frame_thread_state(), kFrameThreadEnded);
    }
    EXPECT_EQ(main_window_handle(), kNoWindow);
    TearDown();
    SetUp();
  }
}

TEST_F(RunOrder, AFatalScriptErrorEndsTheRunOnEitherThread) {
  // The third frame starts a task whose compiled script is damaged: a fatal
  // error, reported on the thread that runs the frames.
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode ? "frame thread" : "GUI thread");
    char text[512];
    std::snprintf(text, sizeof text,
                  "config width=320 height=240 frame_thread=%d title=Run order\n"
                  "script 0 main.txt\nlabel SYSTEM_START\nwait I:2\nstart later later\n"
                  "loop L:-1\n  wait I:1\nendloop\n"
                  "script 1 later.txt\nlabel later\nloop L:-1\n  wait I:1\nendloop\n",
                  mode);
    GameFiles files = build_game(text);
    bool damaged = false;
    for (auto& [name, bytes] : files) {
      if (name.find("ztt00001") == std::string::npos) continue;
      for (std::size_t i = 8; i < bytes.size(); ++i) bytes[i] ^= 0x5A;
      damaged = true;
    }
    ASSERT_TRUE(damaged);
    std::filesystem::create_directories(folder_);
    ASSERT_TRUE(write_game_folder(folder_, files));
    ASSERT_EQ(start(""), 0) << g_error_report_log.last_number;
    ASSERT_TRUE(run_loop(false)) << "the main loop did not end";
    EXPECT_EQ(g_error_report_log.last_fatal, 1) << g_error_report_log.last_number << " x"
                                                << g_error_report_log.report_count;
    EXPECT_EQ(fake_ui_error_dialogs().size(), 1u);
    EXPECT_TRUE(fake_ui_boxes().empty()) << "a fatal end asks nothing";
    g_steps.clear();
    shutdown_engine();
    EXPECT_EQ(g_steps, steps('d', 1, 10));
    TearDown();
    SetUp();
  }
}

TEST_F(RunOrder, StartUpsThatStopEarly) {
  // No compiled engine files: the configuration can't be read (step 15).
  EXPECT_EQ(start(""), -1);
  EXPECT_EQ(g_steps, steps('s', 1, 15));
  EXPECT_EQ(g_error_report_log.last_number, kErrEngineFileMissing);
  g_steps.clear();
  shutdown_engine();
  EXPECT_EQ(g_steps, steps('d', 1, 10));
  TearDown();
  SetUp();

  // "/info" stops at step 7, before any window exists.
  std::string prog = "k_lumbrane", opt = "/info";
  char* argv[] = {prog.data(), opt.data()};
  std::filesystem::create_directories(folder_);
  g_quit_requested = 0;
  reset_error_report_log();
  copy_arguments(2, argv);
  EXPECT_EQ(engine_startup(), -1);
  EXPECT_EQ(g_steps, steps('s', 1, 7));
  EXPECT_EQ(g_error_report_log.last_number, 100000u);
  g_steps.clear();
  shutdown_engine();
  EXPECT_EQ(g_steps, steps('d', 1, 10));
}
