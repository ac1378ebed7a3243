#include <gtest/gtest.h>

#include <vector>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {

int always() { return 1; }
int ui_is_live(UiWindow h) { return g_platform.ui->is_window(h); }
void post(UiWindow h, u32 message, u64 wparam = 0, i64 lparam = 0) {
  g_platform.ui->post_message(h, message, wparam, lparam);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ui_reset();
    reset_error_report_log();
    g_quit_requested = 0;
    g_frame_step_suspended = 0;
    saved_paths_ = g_paths;
    g_paths.instance_name = ":home:me:game:k_lumbrane";
    g_window_config = WindowConfig{};
    g_settings = EngineSettings{};
    g_window_input.close_requested = 0;
    g_window_input.last_key = 0;
    // Records and a screen buffer left by another test's start-up are set
    // aside: window 0 opens at its logical size here.
    free_window_records();
    saved_screen_ = g_screen_buffer;
    g_screen_buffer = ScreenBuffer{};
    ASSERT_EQ(create_window_records(), 0);
    while (pump_window_messages(always)) {
    }
  }
  void TearDown() override {
    destroy_windows();
    free_window_records();
    // Drain what the teardown posted.
    while (pump_window_messages(always)) {
    }
    g_paths = saved_paths_;
    g_screen_buffer = saved_screen_;
    g_window_config = WindowConfig{};
    g_settings = EngineSettings{};
    g_quit_requested = 0;
    g_frame_step_suspended = 0;
    fake_ui_reset();
  }
  // Window 0 as start-up makes it.
  UiWindow make_main() {
    EXPECT_EQ(setup_screen_record(0), 0);
    EXPECT_EQ(create_main_window(), 0);
    return g_windows[0]->handle;
  }
  // Pumps until the queue is empty; 1 when the quit message came.
  int pump() {
    int quit = 0;
    for (int i = 0; i < 16; ++i) quit |= pump_window_messages(always);
    return quit;
  }
  EnginePaths saved_paths_;
  ScreenBuffer saved_screen_;
};

TEST_F(WindowTest, MainWindowCreatedHiddenCentredWithInstanceClass) {
  fake_ui_set_work_area(0, 40, 1600, 900);
  UiWindow h = make_main();
  ASSERT_NE(h, kNoWindow);
  WindowRecord* r = g_windows[0];
  i32 w = 0, hgt = 0;
  get_logical_screen_size(&w, &hgt);
  EXPECT_EQ(r->logical_width, w);
  EXPECT_EQ(r->close_state, kCloseAsk);
  EXPECT_EQ(r->maximise_allowed, 1);
  EXPECT_EQ(r->alpha, 256u);
  EXPECT_EQ(r->bitmap_header.size, 40u);
  EXPECT_EQ(r->bitmap_header.width, w);
  EXPECT_EQ(g_window_slots[0], 0);
  ASSERT_NE(r->own_image, nullptr);
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(h, &info), 0);
  EXPECT_EQ(info.class_name, g_paths.instance_name);
  EXPECT_EQ(info.client_width, w);
  EXPECT_EQ(info.client_height, hgt);
  EXPECT_EQ(info.x, 800 - w / 2);
  EXPECT_EQ(info.y, 40 + 450 - hgt / 2);
  EXPECT_EQ(info.visible, 0);
  EXPECT_EQ(info.accepts_files, 1);
  EXPECT_NE(info.style & ui::kWsCaption, 0u);
  EXPECT_EQ(info.style & ui::kWsThickFrame, 0u);
  EXPECT_EQ(main_window_handle(), h);

  show_main_window_first_frame();
  ASSERT_EQ(fake_ui_window_info(h, &info), 0);
  EXPECT_EQ(info.visible, 1);

  // The menu strip is a hidden popup owned by the main window.
  ASSERT_EQ(create_menu_strip_window(), 0);
  ASSERT_EQ(fake_ui_window_info(g_menu_strip_window, &info), 0);
  EXPECT_EQ(info.class_name, "ztMncl");
  EXPECT_EQ(info.owner, h);
  EXPECT_EQ(info.visible, 0);
  EXPECT_EQ(info.client_width, w);
}

TEST_F(WindowTest, StylesFollowTheFrameSwitches) {
  g_window_config.frame = 0;
  UiWindow h = make_main();
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(h, &info), 0);
  EXPECT_EQ(info.style, ui::kWsPopup | ui::kWsClipChildren);
  EXPECT_EQ(info.ex_style, ui::kWsExToolWindow);
  destroy_windows();
  pump();
  g_window_config.frame = 1;
  g_window_config.resizable = 1;
  h = make_main();
  ASSERT_EQ(fake_ui_window_info(h, &info), 0);
  EXPECT_NE(info.style & ui::kWsThickFrame, 0u);
  EXPECT_EQ(info.ex_style, 0u);
}

TEST_F(WindowTest, WindowWaitsForFirstFrameOnlyWhenConfigured) {
  g_window_config.show_at_first_frame = 0;
  UiWindow h = make_main();
  show_main_window_first_frame();
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(h, &info), 0);
  EXPECT_EQ(info.visible, 0);
}

TEST_F(WindowTest, NoDesktopMeansNoMainWindow) {
  fake_ui_set_available(0);
  EXPECT_EQ(setup_screen_record(0), 0);
  EXPECT_EQ(create_main_window(), -1);
  EXPECT_EQ(main_window_handle(), kNoWindow);
  EXPECT_EQ(g_window_slots[0], -1);
  // The desktop size falls back to a sane one.
  i32 m[4] = {};
  get_desktop_metrics(m);
  EXPECT_EQ(m[0], 1920);
  EXPECT_EQ(m[1], 1080);
  fake_ui_set_available(1);
  fake_ui_set_desktop(1024, 768, 24, 75);
  get_desktop_metrics(m);
  EXPECT_EQ(m[0], 1024);
  EXPECT_EQ(m[1], 768);
  EXPECT_EQ(m[2], 24);
  EXPECT_EQ(m[3], 75);
}

TEST_F(WindowTest, CloseButtonAsksAndNoKeepsTheRun) {
  UiWindow h = make_main();
  g_windows[0]->title = "My Game";
  fake_ui_push_box_answer(ui::kIdNo);
  fake_ui_click_close(h);
  EXPECT_EQ(pump(), 0);
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  const FakeUiBox& box = fake_ui_boxes()[0];
  EXPECT_EQ(box.text, sjis_message("終了します。よろしいですか？"));
  EXPECT_EQ(box.caption, "My Game");
  EXPECT_EQ(box.type, ui::kMbYesNo | ui::kMbIconInformation);
  EXPECT_EQ(box.owner, h);
  EXPECT_EQ(ui_is_live(h), 1);
  EXPECT_EQ(g_quit_requested.load(), 0);
  EXPECT_EQ(g_frame_step_suspended.load(), 0);

  fake_ui_push_box_answer(ui::kIdYes);
  fake_ui_click_close(h);
  EXPECT_EQ(pump(), 1);
  EXPECT_EQ(g_quit_requested.load(), 1);
  EXPECT_EQ(g_window_slots[0], -1);
  EXPECT_EQ(main_window_handle(), kNoWindow);
  FakeUiWindowInfo info;
  EXPECT_EQ(fake_ui_window_info(h, &info), -1);
}

TEST_F(WindowTest, CloseStates) {
  struct Case {
    u8 state;
    int quit_message;
    u8 quit_requested;
    u8 close_requested;
    int window_alive;
  } cases[] = {
      {kCloseScriptDecides, 0, 0, 1, 1},
      {kCloseClosing, 1, 1, 0, 0},
      {kCloseKeepRunning, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    g_quit_requested = 0;
    g_window_input.close_requested = 0;
    UiWindow h = make_main();
    g_windows[0]->close_state = c.state;
    fake_ui_click_close(h);
    EXPECT_EQ(pump(), c.quit_message) << int(c.state);
    EXPECT_EQ(g_quit_requested.load(), c.quit_requested) << int(c.state);
    EXPECT_EQ(g_window_input.close_requested.load(), c.close_requested) << int(c.state);
    EXPECT_EQ(ui_is_live(h), c.window_alive) << int(c.state);
    EXPECT_TRUE(fake_ui_boxes().empty());
    destroy_windows();
    pump();
  }
}

TEST_F(WindowTest, OutsideCloseMessageEndsTheRun) {
  // A close message from outside skips the confirmation; the run still
  // learns of it, so shut-down does not wait for ever.
  UiWindow h = make_main();
  post(h, ui::kWmClose);
  EXPECT_EQ(pump(), 1);
  EXPECT_EQ(g_quit_requested.load(), 1);
}

TEST_F(WindowTest, CloseRequestGoesThroughTheCloseStatePath) {
  UiWindow h = make_main();
  request_close();
  EXPECT_EQ(pump(), 1);
  EXPECT_TRUE(fake_ui_boxes().empty());
  EXPECT_EQ(ui_is_live(h), 0);

  // Without a window the request still ends the run at the next pump.
  g_quit_requested = 0;
  post_main_window_close();
  EXPECT_EQ(g_quit_requested.load(), 1);
  EXPECT_EQ(pump_window_messages(always), 1);
  EXPECT_EQ(pump_window_messages(always), 0);
}

TEST_F(WindowTest, CloseFromAnotherThreadEndsOpenBoxesFirst) {
  make_main();
  post_main_window_close();
  EXPECT_EQ(fake_ui_cancel_count(), 0);
  std::thread outside([] { post_main_window_close(); });
  outside.join();
  EXPECT_EQ(fake_ui_cancel_count(), 1);
  g_windows[0]->close_state = kCloseClosing;
  EXPECT_EQ(pump(), 1);
}

TEST_F(WindowTest, PumpStopsWhenTheGateSaysNo) {
  UiWindow h = make_main();
  post(h, ui::kWmKeyDown, 'A');
  EXPECT_EQ(pump_window_messages([] { return 0; }), 0);
  EXPECT_EQ(g_window_input.last_key.load(), 0u);
  EXPECT_EQ(pump_window_messages(always), 0);
  EXPECT_EQ(g_window_input.last_key.load(), static_cast<u32>('A'));
}

TEST_F(WindowTest, DroppedFilesGetFolderMarks) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kl_drop_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "sub");
  std::string base = dir.string();
  for (char& c : base)
    if (c == '/') c = '\\';
  UiWindow h = make_main();
  std::string long_name(600, 'x');
  u64 drop = fake_ui_make_drop({base + "\\sub", base + "\\a.png", long_name});
  post(h, ui::kWmDropFiles, drop);
  pump();
  ASSERT_EQ(g_dropped_files.size(), 3u);
  EXPECT_EQ(g_dropped_files[0], base + "\\sub\\");
  EXPECT_EQ(g_dropped_files[1], base + "\\a.png");
  EXPECT_EQ(g_dropped_files[2].size(), kDroppedPathBytes - 1);
  EXPECT_EQ(fake_ui_drop_alive(drop), 0);
  // A new drop replaces the list.
  post(h, ui::kWmDropFiles, fake_ui_make_drop({base + "\\b.png"}));
  pump();
  ASSERT_EQ(g_dropped_files.size(), 1u);
  std::filesystem::remove_all(dir);
}

TEST_F(WindowTest, KeyAndMouseAnswers) {
  UiWindow h = make_main();
  const PlatformUi* u = g_platform.ui;
  // Alt and F10 do not open the system menu.
  EXPECT_EQ(u->send_message(h, ui::kWmSysKeyDown, ui::kVkMenu, 0), 0);
  EXPECT_EQ(u->send_message(h, ui::kWmSysKeyDown, ui::kVkF10, 0), 0);
  u->send_message(h, ui::kWmMouseWheel, static_cast<u64>(static_cast<u16>(-120)) << 16, 0);
  EXPECT_EQ(g_window_input.wheel_delta.load(), -120);
  g_window_input.pressed_keys = 0;
  u->send_message(h, ui::kWmRButtonDown, 0, ui::make_lparam(3, 4));
  EXPECT_EQ(g_window_input.button_code.load(), 2);
  EXPECT_EQ(g_window_input.pressed_keys.load(), 2);
  u->send_message(h, ui::kWmActivate, 1, 0);
  EXPECT_EQ(g_windows[0]->focused, 1);
  u->send_message(h, ui::kWmActivate, 0, 0);
  EXPECT_EQ(g_windows[0]->focused, 0);
  // The menus post the item's whole 32-bit id, so ids above 16 bits reach
  // the scripts unchanged.
  u->send_message(h, ui::kWmCommand, 0x10000 | 123, 0);
  EXPECT_EQ(g_window_input.menu_command_id.load(), 0x10000u | 123u);
  // Minimise refused when not allowed; maximise only when allowed.
  g_windows[0]->minimise_allowed = 0;
  u->send_message(h, ui::kWmSysCommand, ui::kScMinimize, 0);
  EXPECT_EQ(u->is_iconic(h), 0);
  g_windows[0]->minimise_allowed = 1;
  u->send_message(h, ui::kWmSysCommand, ui::kScMinimize, 0);
  EXPECT_EQ(u->is_iconic(h), 1);
  // Another copy's start brings the window back.
  bring_main_window_forward();
  pump();
  EXPECT_EQ(u->is_iconic(h), 0);
  EXPECT_EQ(u->focus_window(), h);
}

// Alt with a letter or digit opens the bar item of that mnemonic unless the
// no-key-menu switch is on (outside screen-saver mode); Alt alone and F10
// stay keys for the scripts and open nothing.
TEST_F(WindowTest, AltWithALetterOpensItsBarItem) {
  UiWindow h = make_main();
  const PlatformUi* u = g_platform.ui;
  struct Case {
    u32 vk;
    u8 no_key_menu, saver;
    std::vector<int> opened;
  } cases[] = {
      {'F', 0, 0, {'f'}},
      {'7', 0, 0, {'7'}},
      {ui::kVkMenu, 0, 0, {}},
      {ui::kVkF10, 0, 0, {}},
      {ui::kVkF1 + 3, 0, 0, {}},  // F4
      {'F', 1, 0, {}},
      {'F', 1, 1, {'f'}},
  };
  for (const Case& c : cases) {
    std::size_t before = fake_ui_bar_mnemonics(h).size();
    g_window_config.no_key_menu = c.no_key_menu;
    g_screen_saver_mode = c.saver;
    u->send_message(h, ui::kWmSysKeyDown, c.vk, 0);
    std::vector<int> seen = fake_ui_bar_mnemonics(h);
    EXPECT_EQ(std::vector<int>(seen.begin() + static_cast<std::ptrdiff_t>(before), seen.end()), c.opened)
        << c.vk << " " << int{c.no_key_menu} << " " << int{c.saver};
  }
  g_window_config.no_key_menu = 0;
  g_screen_saver_mode = 0;
}

TEST_F(WindowTest, CaptionDoubleClickGoesToTheScriptsWhenSwitchedOn) {
  UiWindow h = make_main();
  const PlatformUi* u = g_platform.ui;
  g_window_input.caption_dblclick_request = 0;
  u->send_message(h, ui::kWmNcLButtonDblClk, 2, 0);
  EXPECT_EQ(g_window_input.caption_dblclick_request.load(), 0);
  g_settings.caption_dblclick_switch = 1;
  u->send_message(h, ui::kWmNcLButtonDblClk, 2, 0);
  EXPECT_EQ(g_window_input.caption_dblclick_request.load(), 1);
}

TEST_F(WindowTest, MaximiseMakesAFixedWindowSizableUntilRestored) {
  UiWindow h = make_main();
  const PlatformUi* u = g_platform.ui;
  u->send_message(h, ui::kWmSysCommand, ui::kScMaximize, 0);
  EXPECT_NE(u->get_style(h) & ui::kWsThickFrame, 0u);
  EXPECT_EQ(u->is_maximized(h), 1);
  EXPECT_EQ(g_windows[0]->maximised, 1);
  EXPECT_EQ(g_window_input.maximise_request.load(), 1);
  u->send_message(h, ui::kWmSysCommand, ui::kScRestore, 0);
  EXPECT_EQ(u->get_style(h) & ui::kWsThickFrame, 0u);
  EXPECT_EQ(u->is_maximized(h), 0);
  EXPECT_EQ(g_windows[0]->maximised, 0);
  // Not allowed: nothing happens.
  g_windows[0]->maximise_allowed = 0;
  u->send_message(h, ui::kWmSysCommand, ui::kScMaximize, 0);
  EXPECT_EQ(u->is_maximized(h), 0);
  EXPECT_EQ(u->get_style(h) & ui::kWsThickFrame, 0u);
}

int g_hook_calls = 0;
int answer_hook(WindowRecord* r, u32 message, u64 wparam, i64 lparam, std::int64_t* result) {
  ++g_hook_calls;
  if (wparam != 1) return 0;
  *result = 77 + r->index;
  return 1;
}

TEST_F(WindowTest, OtherPartsAnswerTheirOwnMessages) {
  UiWindow h = make_main();
  const u32 kMovieDone = ui::kWmUser + 200;
  g_hook_calls = 0;
  EXPECT_EQ(g_platform.ui->send_message(h, kMovieDone, 1, 0), 0);
  ASSERT_EQ(set_window_message_hook(kMovieDone, answer_hook), 0);
  EXPECT_EQ(g_platform.ui->send_message(h, kMovieDone, 1, 0), 77);
  // Not handled: the default answers.
  EXPECT_EQ(g_platform.ui->send_message(h, kMovieDone, 0, 0), 0);
  EXPECT_EQ(g_hook_calls, 2);
  // The procedure's own messages are not handed out.
  ASSERT_EQ(set_window_message_hook(ui::kWmKeyDown, answer_hook), 0);
  g_platform.ui->send_message(h, ui::kWmKeyDown, 1, 0);
  EXPECT_EQ(g_hook_calls, 2);
  EXPECT_EQ(g_window_input.last_key.load(), 1u);
  // Taken back: the default answers again.
  ASSERT_EQ(set_window_message_hook(kMovieDone, nullptr), 0);
  ASSERT_EQ(set_window_message_hook(ui::kWmKeyDown, nullptr), 0);
  EXPECT_EQ(g_platform.ui->send_message(h, kMovieDone, 1, 0), 0);
  EXPECT_EQ(g_hook_calls, 2);
}

}  // namespace

TEST_F(WindowTest, ChangesAskedForOffTheGuiThreadArePostedToIt) {
  // The frame thread's first frame and its window settings: nothing happens
  // on that thread (the desktop would ignore it), all of it on the GUI
  // thread's next pump.
  UiWindow h = make_main();
  WindowRecord* r = g_windows[0];
  const i32 lw = r->logical_width, lh = r->logical_height;
  ASSERT_GT(lw, 0);
  ParamSet a;
  a.set(9, lw / 2);  // the shown client width; the height follows
  a.set(14, 1);      // minimise
  int result = -1;
  std::thread frames([&] {
    show_main_window_first_frame();
    WindowLayers layers;
    result = window_setup(a, &layers);
  });
  frames.join();
  EXPECT_EQ(result, 0);
  FakeUiWindowInfo info;
  ASSERT_EQ(fake_ui_window_info(h, &info), 0);
  EXPECT_EQ(info.visible, 0);
  EXPECT_EQ(info.iconic, 0);
  EXPECT_EQ(info.client_width, lw);

  pump();
  ASSERT_EQ(fake_ui_window_info(h, &info), 0);
  EXPECT_EQ(info.visible, 1);
  EXPECT_EQ(r->shown, 1);
  EXPECT_EQ(info.iconic, 1);
  EXPECT_EQ(info.client_width, lw / 2);
  EXPECT_EQ(info.client_height, static_cast<i32>(static_cast<i64>(lw / 2) * lh / lw));
}

TEST_F(WindowTest, TheProcedureHearsWmDestroyHoweverTheWindowCloses) {
  // A quit that starts inside the engine closes the main window through its
  // procedure; the quit message follows from WM_DESTROY, and the record
  // forgets the handle.
  UiWindow h = make_main();
  g_windows[0]->close_state = kCloseClosing;
  post(h, ui::kWmSysCommand, ui::kScClose);
  EXPECT_EQ(pump(), 1);
  EXPECT_EQ(main_window_handle(), kNoWindow);
  EXPECT_FALSE(main_window_alive());
  int destroys = 0;
  for (const FakeUiDelivered& d : fake_ui_delivered()) destroys += d.window == h && d.message == ui::kWmDestroy;
  EXPECT_EQ(destroys, 1);
}
