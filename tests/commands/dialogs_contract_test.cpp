// The text field over a window on the scripted fake and on GTK (with a
// display): the same cases on both.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/ui.h"

namespace {
struct Backends {
  const PlatformUi* ui;
  const PlatformDialogs* dialogs;
  const char* name;
};
class DialogsContract : public ::testing::TestWithParam<Backends> {};

std::int64_t quiet_proc(UiWindow, std::uint32_t, std::uint64_t, std::int64_t) { return 0; }
}  // namespace

TEST_P(DialogsContract, TextFieldOverAWindow) {
  const Backends& b = GetParam();
  if (b.ui == &kGtkUi && !std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
  if (b.ui == &kFakeUi) {
    fake_ui_reset();
    fake_dialogs_reset();
  }
  ASSERT_EQ(b.ui->available(), 1);
  UiWindowDesc d;
  d.proc = quiet_proc;
  d.client_width = 320;
  d.client_height = 200;
  UiWindow w = b.ui->create_window(&d);
  ASSERT_NE(w, kNoWindow);
  b.ui->show_window(w, ui::kSwShow);
  EXPECT_EQ(b.dialogs->field_text(260), "");
  EXPECT_EQ(b.dialogs->field_create(kNoWindow, 0, 0, 10, 10, "x"), -1);
  ASSERT_EQ(b.dialogs->field_create(w, 10, 20, 200, 24, "abc"), 0);
  EXPECT_EQ(b.dialogs->field_text(260), "abc");
  std::string jp;
  ASSERT_EQ(utf8_to_sjis("日本語", &jp), 0);
  b.dialogs->field_set_text(jp.c_str());
  EXPECT_EQ(b.dialogs->field_text(260), jp);
  EXPECT_EQ(b.dialogs->field_text(3), jp.substr(0, 2));  // never half a character
  b.dialogs->field_focus(1);
  b.dialogs->field_focus(0);
  // A second field replaces the first.
  ASSERT_EQ(b.dialogs->field_create(w, 0, 0, 50, 20, "second"), 0);
  EXPECT_EQ(b.dialogs->field_text(260), "second");
  b.dialogs->field_close();
  EXPECT_EQ(b.dialogs->field_text(260), "");
  b.ui->destroy_window(w);
}

INSTANTIATE_TEST_SUITE_P(Backends, DialogsContract,
                         ::testing::Values(Backends{&kFakeUi, &kFakeDialogs, "Fake"},
                                           Backends{&kGtkUi, &kGtkDialogs, "Gtk"}),
                         [](const ::testing::TestParamInfo<Backends>& p) { return std::string(p.param.name); });
