// Monitors and display modes: the same cases on the fake and on GTK. The
// GTK cases need a display (the platform_contract end-to-end script runs
// them under Xvfb); without one they are skipped. A display-mode change
// that acts is proven under a server with several modes (the
// full_screen_display_mode end-to-end script).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/monitors.h"
#include "platform/ui.h"

namespace {

struct Backends {
  const char* name;
  const PlatformUi* ui;
  const PlatformMonitors* monitors;
};

class MonitorsContract : public ::testing::TestWithParam<Backends> {
 protected:
  void SetUp() override {
    b_ = GetParam();
    if (b_.ui == &kGtkUi) {
      const char* d = std::getenv("DISPLAY");
      if (!d || !*d || !b_.ui->available()) GTEST_SKIP() << "no display";
    } else {
      fake_ui_reset();
      fake_monitors_reset();
    }
  }
  Backends b_{};
};

TEST_P(MonitorsContract, CurrentModeIsListedAndKeptOthersRefused) {
  const PlatformMonitors* m = b_.monitors;
  MonitorGeometry geo[16];
  const int count = m->enumerate(geo, 16);
  ASSERT_GE(count, 1);
  DisplayMode modes[64];
  const int n = m->display_modes(0, modes, 64);
  ASSERT_GE(n, 1);
  int bits = 0;
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    EXPECT_GT(modes[i].width, 0);
    EXPECT_GT(modes[i].height, 0);
    for (int k = 0; k < i; ++k)
      EXPECT_FALSE(modes[k].width == modes[i].width && modes[k].height == modes[i].height) << "a size listed twice";
    if (modes[i].width == geo[0].width && modes[i].height == geo[0].height) bits = modes[i].bits;
  }
  ASSERT_NE(bits, 0) << "the monitor's current size is among its modes";
  EXPECT_EQ(m->display_modes(count, modes, 64), 0) << "a monitor that does not exist has no modes";

  struct Case {
    const char* what;
    int index, width, height, bits, want;
  };
  const Case cases[] = {
      {"the current mode", 0, geo[0].width, geo[0].height, bits, 0},
      {"a size the monitor does not have", 0, 333, 77, bits, -1},
      {"another colour depth", 0, geo[0].width, geo[0].height, bits == 16 ? 32 : 16, -1},
      {"a monitor that does not exist", count, geo[0].width, geo[0].height, bits, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(m->change_display_mode(c.index, c.width, c.height, c.bits), c.want);
    MonitorGeometry after[16];
    ASSERT_EQ(m->enumerate(after, 16), count);
    EXPECT_EQ(std::to_string(after[0].width) + "x" + std::to_string(after[0].height),
              std::to_string(geo[0].width) + "x" + std::to_string(geo[0].height))
        << "the monitor keeps its mode";
  }
  // A restore without a change leaves every monitor as it is.
  m->restore_display_mode();
  MonitorGeometry after[16];
  ASSERT_EQ(m->enumerate(after, 16), count);
  EXPECT_EQ(after[0].width, geo[0].width);
  EXPECT_EQ(after[0].height, geo[0].height);
}

INSTANTIATE_TEST_SUITE_P(FakeAndGtk, MonitorsContract,
                         ::testing::Values(Backends{"Fake", &kFakeUi, &kFakeMonitors},
                                           Backends{"Gtk", &kGtkUi, &kGtkMonitors}),
                         [](const ::testing::TestParamInfo<Backends>& i) { return std::string(i.param.name); });

}  // namespace
