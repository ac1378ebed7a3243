// The control dialog's contract: the same cases on the fake and on GTK. The
// GTK cases need a display; they run when KL_UI_CONTRACT_GTK is set (the
// end-to-end script control_dialog_contract.sh starts Xvfb and sets it).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/control_dialog.h"
#include "platform/ui.h"

namespace {

const PlatformControlDialogs* g_cd = nullptr;

ControlDialogDesc sample() {
  ControlDialogDesc d;
  d.title = "contract";
  d.width = 200;
  d.height = 120;
  d.font_family = "\x82\x6c\x82\x72 \x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e";  // MS P Gothic, full-width
  d.controls = {
      {10, kControlStatic, "title line", 5, 5, 190, 10, false},
      {11, kControlProgress, "", 5, 20, 190, 10, false},
      {12, kControlReport, "", 5, 35, 190, 50, false},
      {1, kControlButton, "start", 5, 95, 50, 14, true},
      {3, kControlButton, "stop", 60, 95, 50, 14, false},
      {2, kControlButton, "quit", 115, 95, 50, 14, false},
  };
  return d;
}

class ControlDialogContract : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "gtk") {
      if (!std::getenv("KL_UI_CONTRACT_GTK")) GTEST_SKIP() << "GTK cases run under Xvfb";
      ASSERT_EQ(kGtkUi.available(), 1) << "no display for the GTK backend";
      g_cd = &kGtkControlDialogs;
    } else {
      fake_control_dialogs_reset();
      g_cd = &kFakeControlDialogs;
    }
  }
};

TEST_P(ControlDialogContract, InitSeesTheTableAndChangesTakeEffect) {
  ControlDialogDesc desc = sample();
  std::vector<int> events;
  std::string title, static_text, report, font;
  int range = 0, pos_low = 0, pos_high = 0, pos_mid = 0, enabled_before = 0, enabled_after = 0, missing = 0;
  int code = g_cd->run(&desc, [&](ControlDialog* d, int event, int id) {
    events.push_back(event * 100 + id);
    if (event == kControlDialogInit) {
      title = g_cd->text(d, 0);
      static_text = g_cd->text(d, 10);
      font = g_cd->font_family(d);
      g_cd->set_range(d, 11, 0, 1024);
      range = g_cd->range_high(d, 11);
      g_cd->set_position(d, 11, -5);
      pos_low = g_cd->position(d, 11);
      g_cd->set_position(d, 11, 5000);
      pos_high = g_cd->position(d, 11);
      g_cd->set_position(d, 11, 300);
      pos_mid = g_cd->position(d, 11);
      enabled_before = g_cd->enabled(d, 3);
      g_cd->set_enabled(d, 3, 0);
      enabled_after = g_cd->enabled(d, 3);
      missing = g_cd->enabled(d, 99) + g_cd->position(d, 10);  // -1 + -1
      g_cd->set_text(d, 12, "a\r\r\nb\r\n");
      report = g_cd->text(d, 12);
      g_cd->set_focus(d, 1);
      g_cd->press(d, 3);  // disabled: never delivered
      g_cd->press(d, 2);
    } else if (id == 2) {
      g_cd->end(d, 42);
      g_cd->end(d, 43);  // a second end is ignored
    }
  });
  EXPECT_EQ(code, 42);
  EXPECT_EQ(events, (std::vector<int>{0, 102}));
  EXPECT_EQ(title, "contract");
  EXPECT_EQ(static_text, "title line");
  EXPECT_FALSE(font.empty());
  EXPECT_EQ(range, 1024);
  EXPECT_EQ(pos_low, 0);
  EXPECT_EQ(pos_high, 1024);
  EXPECT_EQ(pos_mid, 300);
  EXPECT_EQ(enabled_before, 1);
  EXPECT_EQ(enabled_after, 0);
  EXPECT_EQ(missing, -2);
  EXPECT_EQ(report, "a\r\r\nb\r\n");
}

// A worker thread changes the controls while the dialog runs; its changes
// arrive in order and its queries see them; after the end, changes from the
// worker are dropped and queries answer as for a missing control.
TEST_P(ControlDialogContract, WorkerThreadChangesArriveInOrder) {
  ControlDialogDesc desc = sample();
  std::thread worker;
  std::atomic<int> worker_seen_pos{-2};
  std::string worker_seen_text;
  std::string seen_on_quit;
  int seen_pos_on_quit = -1, seen_start_enabled = -1, seen_stop_enabled = -1;
  int code = g_cd->run(&desc, [&](ControlDialog* d, int event, int id) {
    if (event == kControlDialogInit) {
      g_cd->set_enabled(d, 3, 0);
      g_cd->press(d, 1);
      return;
    }
    if (id == 1) {
      g_cd->set_enabled(d, 1, 0);
      g_cd->set_enabled(d, 2, 0);
      g_cd->set_enabled(d, 3, 1);
      worker = std::thread([d, &worker_seen_pos, &worker_seen_text] {
        g_cd->set_range(d, 11, 0, 10);
        for (int i = 0; i <= 10; ++i) g_cd->set_position(d, 11, i);
        std::string text;
        for (int i = 0; i < 50; ++i) {
          text += "line " + std::to_string(i) + "\r\r\n";
          g_cd->set_text(d, 12, text.c_str());
          g_cd->scroll_to_end(d, 12);
        }
        worker_seen_pos = g_cd->position(d, 11);
        worker_seen_text = g_cd->text(d, 12);
        g_cd->set_text(d, 10, "done");
        g_cd->set_enabled(d, 2, 1);
        g_cd->press(d, 2);
      });
    } else if (id == 2) {
      seen_on_quit = g_cd->text(d, 10);
      seen_pos_on_quit = g_cd->position(d, 11);
      seen_start_enabled = g_cd->enabled(d, 1);
      seen_stop_enabled = g_cd->enabled(d, 3);
      g_cd->end(d, 2);
    }
  });
  if (worker.joinable()) worker.join();
  EXPECT_EQ(code, 2);
  EXPECT_EQ(worker_seen_pos.load(), 10);
  EXPECT_EQ(worker_seen_text.substr(0, 9), "line 0\r\r\n");
  EXPECT_NE(worker_seen_text.find("line 49\r\r\n"), std::string::npos);
  EXPECT_EQ(seen_on_quit, "done");
  EXPECT_EQ(seen_pos_on_quit, 10);
  EXPECT_EQ(seen_start_enabled, 0);
  EXPECT_EQ(seen_stop_enabled, 1);
}

// A worker still running after the end: its changes and queries return at
// once (nothing waits for a dialog that is gone).
TEST_P(ControlDialogContract, ChangesAfterTheEndAreDropped) {
  ControlDialogDesc desc = sample();
  std::thread worker;
  std::atomic<bool> go{false};
  std::string text_after = "x";
  int enabled_after = 0, position_after = 0;
  int code = g_cd->run(&desc, [&](ControlDialog* d, int event, int) {
    if (event != kControlDialogInit) return;
    worker = std::thread([d, &go, &text_after, &enabled_after, &position_after] {
      while (!go) std::this_thread::yield();
      g_cd->set_text(d, 10, "late");
      text_after = g_cd->text(d, 10);
      enabled_after = g_cd->enabled(d, 1);
      position_after = g_cd->position(d, 11);
      g_cd->press(d, 1);
    });
    g_cd->end(d, 5);
  });
  go = true;
  worker.join();
  EXPECT_EQ(code, 5);
  EXPECT_EQ(text_after, "");
  EXPECT_EQ(enabled_after, -1);
  EXPECT_EQ(position_after, -1);
}

std::string backend_name(const ::testing::TestParamInfo<std::string>& info) { return info.param; }
INSTANTIATE_TEST_SUITE_P(Backends, ControlDialogContract, ::testing::Values("fake", "gtk"), backend_name);

// On GTK the asked family, which is not installed here, falls back to a
// Japanese Gothic that fontconfig has (not to the last resort).
TEST(GtkControlDialog, FontFallsBackToAJapaneseGothic) {
  if (!std::getenv("KL_UI_CONTRACT_GTK")) GTEST_SKIP() << "GTK cases run under Xvfb";
  ASSERT_EQ(kGtkUi.available(), 1);
  ControlDialogDesc desc = sample();
  std::string family;
  kGtkControlDialogs.run(&desc, [&](ControlDialog* d, int event, int) {
    if (event != kControlDialogInit) return;
    family = kGtkControlDialogs.font_family(d);
    kGtkControlDialogs.end(d, 0);
  });
  EXPECT_FALSE(family.empty());
  EXPECT_NE(family, "sans-serif");
  EXPECT_NE(family, desc.font_family);
}

// The fake's scripted user: a press waits for its condition, a held press
// lands exactly when a worker's change makes the condition true.
TEST(FakeControlDialog, ScriptedPressLandsWhenItsConditionHolds) {
  fake_control_dialogs_reset();
  ControlDialogDesc desc = sample();
  std::thread worker;
  std::atomic<int> stop_seen_at{-1};
  fake_control_dialogs_script({
      {1, nullptr, false, 20000},
      {3, [](const FakeControlModel& m) { return m.find(11)->position >= 4; }, true, 20000},
      {2, [](const FakeControlModel& m) { return m.find(10)->text == "done"; }, false, 20000},
  });
  std::atomic<bool> stop{false};
  int code = kFakeControlDialogs.run(&desc, [&](ControlDialog* d, int event, int id) {
    if (event == kControlDialogInit) return;
    if (id == 1) {
      worker = std::thread([d, &stop, &stop_seen_at] {
        for (int i = 1; i <= 10; ++i) {
          kFakeControlDialogs.set_position(d, 11, i);
          if (stop) {
            stop_seen_at = i;
            break;
          }
        }
        kFakeControlDialogs.set_text(d, 10, "done");
      });
    } else if (id == 3) {
      stop = true;
    } else if (id == 2) {
      kFakeControlDialogs.end(d, 2);
    }
  });
  worker.join();
  EXPECT_EQ(code, 2);
  EXPECT_EQ(stop_seen_at.load(), 4);
  EXPECT_EQ(fake_control_dialogs_delivered(), (std::vector<int>{1, 3, 2}));
  FakeControlModel m = fake_control_dialogs_model();
  EXPECT_EQ(m.find(11)->positions, (std::vector<int>{1, 2, 3, 4}));
}

}  // namespace
