// The windowing service's contract: the same cases on the fake and on the
// GTK backend, so that whatever the engine can tell apart behaves the same on
// both. The GTK cases need a display; they run when KL_UI_CONTRACT_GTK is set
// (the end-to-end script ui_contract.sh starts Xvfb and sets it) and are
// skipped otherwise.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"

namespace {

struct Seen {
  UiWindow window;
  std::uint32_t message;
  std::uint64_t wparam;
  std::int64_t lparam;
  // What the window answered while the procedure ran.
  int is_window;
  void* user_data;
};

const PlatformUi* g_ui = nullptr;
std::vector<Seen> g_seen;
// What the procedure does on WM_DESTROY besides recording it.
bool g_destroy_again_inside = false;
bool g_post_inside_destroy = false;
constexpr std::uint32_t kTestMessage = ui::kWmApp + 7;
constexpr std::uint32_t kLateMessage = ui::kWmApp + 8;

std::int64_t test_proc(UiWindow w, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  g_seen.push_back({w, msg, wp, lp, g_ui->is_window(w), g_ui->user_data(w)});
  if (msg == ui::kWmDestroy) {
    if (g_destroy_again_inside) g_ui->destroy_window(w);
    if (g_post_inside_destroy) g_ui->post_message(w, kLateMessage, 1, 2);
    return 0;
  }
  if (msg == kTestMessage) return 40 + static_cast<std::int64_t>(wp);
  return g_ui->def_window_proc(w, msg, wp, lp);
}

int count_seen(UiWindow w, std::uint32_t msg) {
  int n = 0;
  for (const Seen& s : g_seen) n += s.window == w && s.message == msg;
  return n;
}

class UiContract : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "gtk") {
      if (!std::getenv("KL_UI_CONTRACT_GTK")) GTEST_SKIP() << "GTK cases run under Xvfb (tests/e2e/ui_contract.sh)";
      g_ui = &kGtkUi;
      // The first call makes this thread the GUI thread.
      ASSERT_EQ(g_ui->available(), 1) << "no display for the GTK backend";
    } else {
      fake_ui_reset();
      g_ui = &kFakeUi;
    }
    g_seen.clear();
    g_destroy_again_inside = false;
    g_post_inside_destroy = false;
    drain();
  }
  void TearDown() override {
    if (!g_ui) return;
    for (UiWindow w : made_) g_ui->destroy_window(w);
    drain();
    g_ui = nullptr;
  }
  UiWindow make(const char* class_name, void* data = nullptr) {
    UiWindowDesc d;
    d.class_name = class_name;
    d.title = "contract";
    d.x = 10;
    d.y = 20;
    d.client_width = 160;
    d.client_height = 90;
    d.style = ui::kWsCaption | ui::kWsSysMenu;
    d.proc = test_proc;
    d.user_data = data;
    UiWindow w = g_ui->create_window(&d);
    if (w != kNoWindow) made_.push_back(w);
    return w;
  }
  // Takes every waiting message of this thread's queue, without dispatching.
  std::vector<UiMessage> drain() {
    std::vector<UiMessage> out;
    UiMessage m;
    for (int i = 0; i < 1000 && g_ui->peek_message(&m, 1); ++i) out.push_back(m);
    return out;
  }
  // Takes the messages of a window just shown until none came for 300 ms
  // (at most 5 s): a window manager places a shown window when it gets to
  // it, and that move is not the step under test.
  std::vector<UiMessage> settle() {
    std::vector<UiMessage> out;
    auto quiet_since = std::chrono::steady_clock::now();
    const auto limit = quiet_since + std::chrono::seconds(5);
    for (auto now = quiet_since; now < limit; now = std::chrono::steady_clock::now()) {
      std::vector<UiMessage> got = drain();
      if (!got.empty()) {
        out.insert(out.end(), got.begin(), got.end());
        quiet_since = now;
      } else if (now - quiet_since >= std::chrono::milliseconds(300)) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return out;
  }
  static int count(const std::vector<UiMessage>& v, UiWindow w, std::uint32_t msg) {
    int n = 0;
    for (const UiMessage& m : v) n += m.window == w && m.message == msg;
    return n;
  }
  std::vector<UiWindow> made_;
};

TEST_P(UiContract, WindowsAreMadeHiddenAndAnswerUntilDestroyed) {
  int data = 0;
  UiWindow w = make("kl_contract_a", &data);
  ASSERT_NE(w, kNoWindow);
  EXPECT_EQ(g_ui->is_window(w), 1);
  EXPECT_EQ(g_ui->user_data(w), &data);
  EXPECT_EQ(g_ui->is_visible(w), 0);
  EXPECT_EQ(g_ui->find_window("kl_contract_a"), w);
  int cw = 0, ch = 0;
  EXPECT_EQ(g_ui->get_client_size(w, &cw, &ch), 0);
  EXPECT_EQ(cw, 160);
  EXPECT_EQ(ch, 90);
  // Creating sends nothing.
  EXPECT_TRUE(g_seen.empty());

  EXPECT_EQ(g_ui->show_window(w, ui::kSwShow), 0);
  EXPECT_EQ(g_ui->is_visible(w), 1);
  EXPECT_EQ(g_ui->show_window(w, ui::kSwHide), 1);
  EXPECT_EQ(g_ui->is_visible(w), 0);

  EXPECT_EQ(g_ui->send_message(w, kTestMessage, 2, 0), 42);

  g_ui->destroy_window(w);
  EXPECT_EQ(count_seen(w, ui::kWmDestroy), 1);
  EXPECT_EQ(g_ui->is_window(w), 0);
  EXPECT_EQ(g_ui->user_data(w), nullptr);
  EXPECT_EQ(g_ui->find_window("kl_contract_a"), kNoWindow);
  EXPECT_EQ(g_ui->post_message(w, kTestMessage, 0, 0), -1);
  g_seen.clear();
  EXPECT_EQ(g_ui->send_message(w, kTestMessage, 2, 0), 0);
  EXPECT_TRUE(g_seen.empty());
  // Destroying again does nothing.
  g_ui->destroy_window(w);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(g_ui->get_client_size(w, &cw, &ch), -1);
}

TEST_P(UiContract, TheProcedureStillFindsItsWindowDuringWmDestroy) {
  // The engine's procedure finds its record through the user data, also for
  // WM_DESTROY: that is where the run learns that its main window is gone.
  int data = 0;
  UiWindow w = make("kl_contract_b", &data);
  ASSERT_NE(w, kNoWindow);
  g_destroy_again_inside = true;
  g_post_inside_destroy = true;
  g_ui->destroy_window(w);
  ASSERT_EQ(count_seen(w, ui::kWmDestroy), 1);
  for (const Seen& s : g_seen) {
    if (s.message != ui::kWmDestroy) continue;
    EXPECT_EQ(s.is_window, 1);
    EXPECT_EQ(s.user_data, &data);
  }
  // What was posted to it during its destroy is dropped with it.
  std::vector<UiMessage> left = drain();
  EXPECT_EQ(count(left, w, kLateMessage), 0);
  EXPECT_EQ(g_ui->is_window(w), 0);
}

TEST_P(UiContract, PostedMessagesWaitInTheQueueOfTheWindowsThread) {
  UiWindow w = make("kl_contract_c");
  ASSERT_NE(w, kNoWindow);
  int other_thread_saw = -1, posted = -1;
  std::thread poster([&] {
    posted = g_ui->post_message(w, kTestMessage, 5, 77);
    UiMessage m;
    other_thread_saw = g_ui->peek_message(&m, 1);
  });
  poster.join();
  EXPECT_EQ(posted, 0);
  EXPECT_EQ(other_thread_saw, 0);
  // Peek without removing leaves it first in line.
  std::vector<UiMessage> got;
  UiMessage m;
  for (int i = 0; i < 1000 && g_ui->peek_message(&m, 1); ++i) {
    got.push_back(m);
    if (m.window == w && m.message == kTestMessage) {
      EXPECT_EQ(g_ui->dispatch_message(&m), 45);
    }
  }
  ASSERT_EQ(count(got, w, kTestMessage), 1);
  for (const UiMessage& x : got) {
    if (x.message != kTestMessage) continue;
    EXPECT_EQ(x.wparam, 5u);
    EXPECT_EQ(x.lparam, 77);
  }
  EXPECT_EQ(count_seen(w, kTestMessage), 1);

  // The quit message is the calling thread's, with its code.
  g_ui->post_quit_message(3);
  UiMessage q;
  bool quit_seen = false;
  for (int i = 0; i < 1000 && !quit_seen; ++i) {
    if (g_ui->get_message(&q) == 0) quit_seen = true;
  }
  ASSERT_TRUE(quit_seen);
  EXPECT_EQ(q.message, ui::kWmQuit);
  EXPECT_EQ(q.window, kNoWindow);
  EXPECT_EQ(q.wparam, 3u);
}

TEST_P(UiContract, TheDefaultProcedureClosesThroughWmCloseAndWmDestroy) {
  UiWindow w = make("kl_contract_d");
  ASSERT_NE(w, kNoWindow);
  g_ui->def_window_proc(w, ui::kWmSysCommand, ui::kScClose, 0);
  std::vector<std::uint32_t> order;
  for (const Seen& s : g_seen)
    if (s.window == w) order.push_back(s.message);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{ui::kWmClose, ui::kWmDestroy}));
  EXPECT_EQ(g_ui->is_window(w), 0);
}

// A maximise or restore the desktop reports has been made already; the
// report can come after the desktop went the other way (a maximise and the
// restore after it, read together by a busy engine), so the default
// procedure makes only the ones asked for.
TEST_P(UiContract, TheDefaultProcedureMakesAMaximiseAskedForButNotOneTheDesktopReports) {
  UiWindow w = make("kl_contract_x");
  ASSERT_NE(w, kNoWindow);
  // With a maximise box: a window manager offers maximising only then.
  g_ui->set_style(w, g_ui->get_style(w) | ui::kWsMaximizeBox, 0);
  g_ui->show_window(w, ui::kSwShow);
  settle();
  ASSERT_EQ(g_ui->is_maximized(w), 0);
  // Waits up to 10 s for the window's maximised state to be `want`.
  auto reaches = [&](int want) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_ui->is_maximized(w) != want && std::chrono::steady_clock::now() < limit) {
      drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return g_ui->is_maximized(w) == want;
  };
  g_ui->def_window_proc(w, ui::kWmSysCommand, ui::kScMaximize, ui::kScMadeByDesktop);
  settle();
  EXPECT_EQ(g_ui->is_maximized(w), 0);
  g_ui->def_window_proc(w, ui::kWmSysCommand, ui::kScMaximize, 0);
  EXPECT_TRUE(reaches(1));
  g_ui->def_window_proc(w, ui::kWmSysCommand, ui::kScRestore, ui::kScMadeByDesktop);
  settle();
  EXPECT_EQ(g_ui->is_maximized(w), 1);
  g_ui->def_window_proc(w, ui::kWmSysCommand, ui::kScRestore, 0);
  EXPECT_TRUE(reaches(0));
}

TEST_P(UiContract, AMoveNeedsAShownWindowAndAHeldButton) {
  UiWindow w = make("kl_contract_m");
  ASSERT_NE(w, kNoWindow);
  EXPECT_EQ(g_ui->begin_move_drag(w), -1);  // hidden
  g_ui->show_window(w, ui::kSwShow);
  settle();
  int x0, y0, w0, h0;
  ASSERT_EQ(g_ui->get_window_rect(w, &x0, &y0, &w0, &h0), 0);
  int from_other = 0;
  std::thread([&] { from_other = g_ui->begin_move_drag(w); }).join();
  EXPECT_EQ(from_other, -1);
  // No button is down: nothing moves and no move ends later.
  EXPECT_EQ(g_ui->begin_move_drag(w), 0);
  std::vector<UiMessage> after = drain();
  EXPECT_EQ(count(after, w, ui::kWmExitSizeMove), 0);
  EXPECT_EQ(count(after, w, ui::kWmMove), 0);
  int x1, y1, w1, h1;
  ASSERT_EQ(g_ui->get_window_rect(w, &x1, &y1, &w1, &h1), 0);
  EXPECT_EQ(x1, x0);
  EXPECT_EQ(y1, y0);
  // The default procedure starts the move for a press on the caption.
  EXPECT_EQ(g_ui->def_window_proc(w, ui::kWmNcLButtonDown, ui::kHtCaption, 0), 0);
  g_ui->destroy_window(w);
  EXPECT_EQ(g_ui->begin_move_drag(w), -1);
}

TEST_P(UiContract, OnlyTheGuiThreadMakesAndChangesWindows) {
  UiWindow w = make("kl_contract_e");
  ASSERT_NE(w, kNoWindow);
  UiWindow made_elsewhere = kNoWindow;
  int was_visible = -1;
  std::thread other([&] {
    UiWindowDesc d;
    d.class_name = "kl_contract_f";
    d.client_width = 10;
    d.client_height = 10;
    d.proc = test_proc;
    made_elsewhere = g_ui->create_window(&d);
    was_visible = g_ui->show_window(w, ui::kSwShow);
    g_ui->set_client_size(w, 300, 200);
    g_ui->destroy_window(w);
  });
  other.join();
  if (made_elsewhere != kNoWindow) made_.push_back(made_elsewhere);
  EXPECT_EQ(made_elsewhere, kNoWindow);
  EXPECT_EQ(was_visible, 0);
  EXPECT_EQ(g_ui->is_visible(w), 0);
  int cw = 0, ch = 0;
  g_ui->get_client_size(w, &cw, &ch);
  EXPECT_EQ(cw, 160);
  EXPECT_EQ(ch, 90);
  EXPECT_EQ(g_ui->is_window(w), 1);
  EXPECT_EQ(count_seen(w, ui::kWmDestroy), 0);
  // A message posted from there still arrives here.
  std::thread poster([&] { g_ui->post_message(w, kTestMessage, 1, 0); });
  poster.join();
  EXPECT_EQ(count(drain(), w, kTestMessage), 1);
}

std::string backend_name(const ::testing::TestParamInfo<std::string>& p) { return p.param; }
TEST_P(UiContract, PaintsAskedForComeAsOneWmPaint) {
  UiWindow w = make("kl_contract_g");
  ASSERT_NE(w, kNoWindow);
  drain();
  // Takes and hands to the procedure every waiting message.
  auto dispatch_all = [] {
    std::vector<UiMessage> got;
    UiMessage m;
    for (int i = 0; i < 1000 && g_ui->peek_message(&m, 1); ++i) {
      got.push_back(m);
      g_ui->dispatch_message(&m);
    }
    return got;
  };
  // On the window's own thread.
  g_ui->invalidate(w);
  g_ui->invalidate(w);
  EXPECT_EQ(count(dispatch_all(), w, ui::kWmPaint), 1);
  // From another thread.
  std::thread frames([&] {
    g_ui->invalidate(w);
    g_ui->invalidate(w);
  });
  frames.join();
  EXPECT_EQ(count(dispatch_all(), w, ui::kWmPaint), 1);
  // Once the procedure had it, the next request brings another.
  std::thread again([&] { g_ui->invalidate(w); });
  again.join();
  EXPECT_EQ(count(drain(), w, ui::kWmPaint), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, UiContract, ::testing::Values("fake", "gtk"), backend_name);

}  // namespace
