// Screen modes on the fake desktop: the monitor table and lookup, the client
// fit, the sizing rule, and full screen with and without its own display
// mode, including the refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/settings.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/render/present.h"
#include "engine/render/screen_modes.h"
#include "platform/cursor.h"
#include "platform/monitors.h"
#include "platform/platform.h"

namespace {

class ScreenModes : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ui_reset();
    fake_monitors_reset();
    reset_error_report_log();
    g_quit_requested = 0;
    g_screen_modes = ScreenModeState{};
    g_present = PresentSettings{};
    g_device_reset_pending = 0;
    g_settings = EngineSettings{};
    ASSERT_EQ(create_window_records(), 0);
    r = g_windows[0];
    r->logical_width = 800;
    r->logical_height = 600;
    UiWindowDesc d;
    d.class_name = "k";
    d.title = "k";
    d.client_width = 800;
    d.client_height = 600;
    d.proc = [](UiWindow, std::uint32_t, std::uint64_t, std::int64_t) -> std::int64_t { return 0; };
    r->handle = g_platform.ui->create_window(&d);
    ASSERT_NE(r->handle, kNoWindow);
    ASSERT_EQ(alloc_screen_buffer(800, 600), 0);
  }
  void TearDown() override {
    g_platform.ui->destroy_window(r->handle);
    free_window_records();
    g_screen_modes = ScreenModeState{};
    g_settings = EngineSettings{};
  }
  void place_window_centre(int x, int y) {
    int wx = 0, wy = 0, ww = 0, wh = 0;
    g_platform.ui->get_window_rect(r->handle, &wx, &wy, &ww, &wh);
    g_platform.ui->move_window(r->handle, x - ww / 2, y - wh / 2);
  }
  WindowRecord* r = nullptr;
};

TEST_F(ScreenModes, MonitorUnderTheWindowAndItsName) {
  fake_monitors_set({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}, {3200, 0, 1024, 768}});
  enumerate_monitors();
  ASSERT_EQ(g_monitor_table.count, 3);
  place_window_centre(3500, 300);
  std::string name;
  EXPECT_EQ(find_window_monitor(r->handle, &name), 2);
  EXPECT_EQ(name, "\\\\.\\DISPLAY3");
  // A zero-sized entry gives the first usable one.
  fake_monitors_set({{0, 0, 0, 0}, {1920, 0, 1280, 1024}});
  enumerate_monitors();
  place_window_centre(10, 10);
  EXPECT_EQ(find_window_monitor(r->handle, nullptr), 1);
  // More than 16 monitors: the table keeps 16 and an index past it is 0.
  std::vector<MonitorGeometry> many;
  for (int i = 0; i < 20; ++i) many.push_back({i * 100, 0, 100, 100});
  fake_monitors_set(many);
  enumerate_monitors();
  EXPECT_EQ(g_monitor_table.count, 16);
  place_window_centre(1850, 50);
  EXPECT_EQ(find_window_monitor(r->handle, nullptr), 0);
}

// The device is rebuilt only when the window leaves the monitor it was made
// on: the window manager's first placement and moves within a monitor keep it.
TEST_F(ScreenModes, OnlyAChangeOfMonitorAsksForADeviceRebuild) {
  const u8 saved_d3d = g_settings.use_direct3d;
  g_settings.use_direct3d = 1;
  fake_monitors_set({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
  struct Step {
    int x, y;
    u8 rebuild;
    const char* what;
  };
  const Step steps[] = {
      {500, 400, 0, "first placement by the window manager"},
      {900, 600, 0, "moved within the first monitor"},
      {2500, 500, 1, "moved onto the second monitor"},
      {2600, 300, 0, "moved within the second monitor"},
      {100, 100, 1, "back onto the first monitor"},
  };
  for (const Step& s : steps) {
    g_device_reset_pending = 0;
    place_window_centre(s.x, s.y);
    window_geometry_message(0, ui::kWmMove, 0, 0);
    EXPECT_EQ(g_device_reset_pending, s.rebuild) << s.what;
  }
  g_settings.use_direct3d = saved_d3d;
}

TEST_F(ScreenModes, FitByScalingSetting) {
  struct Case {
    int scaling, lw, lh, sw, sh, placement, cw, ch;
  } cases[] = {
      {1, 800, 600, 1920, 1080, 2, 1440, 1080},  // wider screen: pillar boxes
      {1, 800, 600, 1280, 1024, 1, 1280, 960},   // taller screen: letter boxes
      {2, 800, 600, 1920, 1080, 1, 1920, 1440},  // cover: overflow cut, never halved
      {3, 800, 600, 1920, 1080, 3, 1920, 1080},
      {0, 800, 600, 1920, 1080, 0, 800, 600},
      {0, 2560, 1440, 1920, 1080, 0, 960, 540},  // larger than the monitor: halved
  };
  g_screen_modes.monitor_width = 1920;
  g_screen_modes.monitor_height = 1080;
  g_screen_modes.full_screen = 1;
  for (const Case& c : cases) {
    g_present.scaling = static_cast<u8>(c.scaling);
    fit_client_to_screen(c.lw, c.lh, c.sw, c.sh);
    EXPECT_EQ(g_screen_modes.placement, c.placement) << c.scaling << " " << c.sw;
    EXPECT_EQ(g_screen_modes.client_width, c.cw) << c.scaling << " " << c.sw;
    EXPECT_EQ(g_screen_modes.client_height, c.ch) << c.scaling << " " << c.sw;
    EXPECT_EQ(g_screen_buffer.width, c.cw);
  }
}

// A size set from outside reaches the sizing handlers through the window's
// size message: the limits follow the monitor, the client the logical aspect
// and the frame buffer the client. Minimised and full-screen sizes change
// nothing.
TEST_F(ScreenModes, SizedFromOutsideTakesTheAspectAndTheLimits) {
  fake_monitors_set({{0, 0, 1280, 1024}});
  place_window_centre(600, 500);
  auto sized = [&](int w, int h, u64 kind = ui::kSizeRestored) {
    g_platform.ui->set_client_size(r->handle, w, h);
    window_geometry_message(0, ui::kWmSize, kind, ui::make_lparam(w, h));
    int cw = 0, ch = 0;
    g_platform.ui->get_client_size(r->handle, &cw, &ch);
    return std::pair<int, int>(cw, ch);
  };
  struct Case {
    int w, h, cw, ch;
  } cases[] = {
      {1000, 900, 1000, 750},  // too tall: height from the width, 750.5 to even
      {1000, 600, 800, 600},   // too wide: width from the height
      {1600, 1200, 1280, 960}, // capped at the monitor first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_EQ(sized(c.w, c.h), std::make_pair(c.cw, c.ch));
    EXPECT_EQ(g_screen_modes.client_width, c.cw);
    EXPECT_EQ(g_screen_modes.screen_height, c.ch);
    EXPECT_EQ(g_screen_buffer.width, c.cw);
    EXPECT_EQ(g_screen_buffer.height, c.ch);
  }
  const FakeMonitorCall* hints = nullptr;
  for (const auto& call : fake_monitor_calls())
    if (std::string(call.what) == "hints") hints = &call;
  ASSERT_NE(hints, nullptr);
  // Smallest: a quarter of the shorter logical side; largest: the monitor.
  EXPECT_EQ(hints->a, 200);
  EXPECT_EQ(hints->b, 150);
  EXPECT_EQ(hints->c, 1280);
  EXPECT_EQ(hints->d, 960);
  EXPECT_EQ(hints->aspect, 0.0) << "the aspect is restored after sizing, not bound on the window";
  EXPECT_EQ(sized(300, 700, ui::kSizeMinimized), std::make_pair(300, 700));
  EXPECT_EQ(g_screen_buffer.width, 1280);
  // In full screen the window keeps what the switch gave it.
  ASSERT_EQ(enter_full_screen(), 0);
  const i32 full_w = g_screen_modes.client_width, buffer_w = g_screen_buffer.width;
  sized(640, 480);
  EXPECT_EQ(g_screen_modes.client_width, full_w);
  EXPECT_EQ(g_screen_buffer.width, buffer_w);
  leave_full_screen();
}

TEST_F(ScreenModes, FullScreenRestylesOnlyAndComesBack) {
  fake_monitors_set({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
  place_window_centre(2500, 500);
  g_settings.use_direct3d = 1;
  ASSERT_EQ(enter_full_screen(), 0);
  EXPECT_EQ(g_screen_modes.full_screen, 1);
  EXPECT_EQ(g_screen_modes.screen_width, 1280);
  EXPECT_EQ(g_screen_modes.client_width, 1280);
  EXPECT_EQ(g_screen_modes.client_height, 960);
  EXPECT_EQ(g_device_reset_pending, 1);
  EXPECT_EQ(g_platform.ui->get_style(r->handle) & ui::kWsCaption, 0u);
  bool changed = false, full = false;
  for (const auto& c : fake_monitor_calls()) {
    if (std::string(c.what) == "change") changed = true;
    if (std::string(c.what) == "fullscreen") full = c.b == 1;
  }
  EXPECT_FALSE(changed) << "the setting is off: no display-mode change";
  EXPECT_TRUE(full);
  leave_full_screen();
  EXPECT_EQ(g_screen_modes.full_screen, 0);
  EXPECT_EQ(g_screen_modes.client_width, 800);
  EXPECT_EQ(g_screen_buffer.width, 800);
  int cw = 0, ch = 0;
  g_platform.ui->get_client_size(r->handle, &cw, &ch);
  EXPECT_EQ(cw, 800);
  EXPECT_EQ(ch, 600);
  EXPECT_NE(g_platform.ui->get_style(r->handle) & ui::kWsCaption, 0u);
}

// Each switch puts the pointer in the centre of the window's monitor, and
// leaving full screen puts the window back where it was.
TEST_F(ScreenModes, SwitchesCentreThePointerAndLeavingRestoresThePlace) {
  fake_monitors_set({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
  place_window_centre(2500, 500);
  int x0 = 0, y0 = 0, w0 = 0, h0 = 0;
  g_platform.ui->get_window_rect(r->handle, &x0, &y0, &w0, &h0);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(enter_full_screen(), 0);
    UiWindow warped = r->handle;
    int wx = 0, wy = 0;
    fake_cursor_last_warp(&warped, &wx, &wy);
    EXPECT_EQ(warped, kNoWindow);
    EXPECT_EQ(wx, 1920 + 640);
    EXPECT_EQ(wy, 512);
    fake_cursor_reset();
    leave_full_screen();
    fake_cursor_last_warp(&warped, &wx, &wy);
    EXPECT_EQ(wx, 1920 + 640) << "back in the window, the pointer is centred again";
    EXPECT_EQ(wy, 512);
    int x = 0, y = 0, w = 0, h = 0;
    g_platform.ui->get_window_rect(r->handle, &x, &y, &w, &h);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(x0, y0));
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(w0, h0));
  }
}

TEST_F(ScreenModes, OwnDisplayModeChoiceAndRefusals) {
  fake_monitors_set({{0, 0, 1600, 1200}});
  fake_monitors_set_modes(0, {{640, 480, 32}, {1024, 768, 32}, {800, 600, 16}, {1280, 960, 32}, {1600, 1200, 32}});
  g_desktop_metrics[2] = 32;
  // Without the setting the desktop keeps its mode.
  ASSERT_EQ(enter_full_screen(), 0);
  EXPECT_EQ(g_screen_modes.screen_width, 1600);
  leave_full_screen();
  for (const FakeMonitorCall& c : fake_monitor_calls()) EXPECT_STRNE(c.what, "change");
  // Settings word 6 = 0 asks for a mode of its own.
  g_settings.fullscreen_switch_a = 1;
  ASSERT_EQ(enter_full_screen(), 0);
  EXPECT_EQ(g_screen_modes.screen_width, 1024) << "smallest 4:3 mode of 32 bits holding 800 x 600";
  EXPECT_EQ(g_screen_modes.client_width, 1024) << "the mode, not the desktop, bounds the client";
  const FakeMonitorCall* change = nullptr;
  for (const FakeMonitorCall& c : fake_monitor_calls())
    if (std::string(c.what) == "change") change = &c;
  ASSERT_NE(change, nullptr);
  EXPECT_EQ(std::vector<int>({change->a, change->b, change->c, change->d}), std::vector<int>({0, 1024, 768, 32}));
  // Leaving (also the shut-down's way out of full screen) gives the desktop
  // its mode back.
  const std::size_t before_leave = fake_monitor_calls().size();
  leave_full_screen();
  bool restored = false;
  for (std::size_t i = before_leave; i < fake_monitor_calls().size(); ++i)
    restored = restored || std::string(fake_monitor_calls()[i].what) == "restore";
  EXPECT_TRUE(restored);
  EXPECT_EQ(g_screen_modes.display_changed, 0);
  // No mode of that size: the box, back in the window with its sizes.
  fake_monitors_set_modes(0, {{1600, 1200, 16}});
  reset_error_report_log();
  EXPECT_EQ(enter_full_screen(), -1);
  EXPECT_EQ(g_screen_modes.full_screen, 0);
  EXPECT_EQ(g_screen_modes.client_width, 800);
  EXPECT_EQ(g_screen_buffer.width, 800);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  // A refused change: error 105210, not fatal.
  fake_monitors_set_modes(0, {{1600, 1200, 32}});
  fake_monitors_refuse_changes(1);
  reset_error_report_log();
  EXPECT_EQ(enter_full_screen(), -1);
  EXPECT_EQ(g_error_report_log.last_number, 105210u);
  EXPECT_EQ(g_error_report_log.last_fatal, 0);
  EXPECT_EQ(g_quit_requested, 0);
  EXPECT_EQ(g_screen_modes.client_width, 800);
  EXPECT_EQ(apply_screen_mode(1), 0) << "a failed switch is no switch";
  EXPECT_EQ(g_screen_mode, 0);
}

}  // namespace
