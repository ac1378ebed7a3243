// The window-movie service's contract and the windowing service's child
// areas: the same cases on the fakes and on GStreamer with GTK. The real
// cases need a display and GStreamer's plug-ins; they run when
// KL_MOVIE_CONTRACT_GST is set (tests/e2e/movie_contract.sh starts Xvfb and
// sets it) and are skipped otherwise. The movie is made by gst-launch-1.0.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/movie.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {

constexpr std::uint32_t kDone = ui::kWmApp + 1;

std::int64_t plain_proc(UiWindow w, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  return g_platform.ui->def_window_proc(w, msg, wp, lp);
}

class MovieContract : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/klmoviecXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    const std::string cmd = "gst-launch-1.0 -q videotestsrc num-buffers=30 ! video/x-raw,width=160,height=120,"
                            "framerate=30/1 ! vp8enc ! webmmux name=m ! filesink location=" +
                            folder_ + "/Clip.webm audiotestsrc num-buffers=40 ! vorbisenc ! m. >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::FILE* f = std::fopen((folder_ + "/notes.txt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a movie\n", f);
    std::fclose(f);
  }
  static void TearDownTestSuite() { std::system(("rm -rf " + folder_).c_str()); }
  void SetUp() override {
    saved_ = g_platform;
    if (GetParam() == "gst") {
      if (!std::getenv("KL_MOVIE_CONTRACT_GST")) GTEST_SKIP() << "GStreamer cases run under Xvfb";
      g_platform.ui = &kGtkUi;
      g_platform.clock = &kPosixClock;
      g_platform.movie = &kGstMovie;
      ASSERT_EQ(g_platform.ui->available(), 1);
    } else {
      fake_ui_reset();
      fake_movie_reset();
      // What GStreamer cannot decode, the fake is told.
      fake_movie_refuse_suffix(".txt");
      fake_movie_set_duration(1000);
      g_platform.ui = &kFakeUi;
      g_platform.clock = &kFakeClock;
      g_platform.movie = &kFakeMovie;
    }
    g_platform.files = &kPosixFiles;
    UiWindowDesc d;
    d.class_name = "moviecontract";
    d.title = "movie";
    d.client_width = 320;
    d.client_height = 240;
    d.style = ui::kWsCaption;
    d.proc = plain_proc;
    window_ = g_platform.ui->create_window(&d);
    ASSERT_NE(window_, kNoWindow);
    g_platform.ui->show_window(window_, ui::kSwShow);
  }
  void TearDown() override {
    if (g_platform.movie) g_platform.movie->close();
    if (window_) g_platform.ui->destroy_window(window_);
    UiMessage m;
    for (int i = 0; i < 1000 && g_platform.ui->peek_message(&m, 1); ++i) {
    }
    g_platform = saved_;
  }
  // Polls until the end notice comes (at most limit_ms of the clock): its
  // lparam, or 0.
  std::int64_t wait_for_end(std::uint32_t limit_ms) {
    const std::uint32_t start = g_platform.clock->now_ms();
    while (g_platform.clock->now_ms() - start < limit_ms) {
      g_platform.movie->poll();
      g_platform.ui->process_desktop_events();
      UiMessage m;
      while (g_platform.ui->peek_message(&m, 1))
        if (m.message == kDone && m.window == window_) return m.lparam;
      g_platform.clock->sleep_ms(20);
    }
    return 0;
  }
  std::string path(const char* name) { return folder_ + "/" + name; }
  static std::string folder_;
  Platform saved_;
  UiWindow window_ = kNoWindow;
};
std::string MovieContract::folder_;

std::string backend_name(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

}  // namespace

TEST_P(MovieContract, ChildAreasArePlacedAndRemoved) {
  std::uint32_t child = g_platform.ui->create_child_area(window_, "zt_fls", 10, 20, 100, 50);
  ASSERT_NE(child, 0u);
  EXPECT_EQ(g_platform.ui->place_child_area(child, 0, 0, 200, 100), 0);
  EXPECT_EQ(g_platform.ui->place_child_area(child, 0, 0, 0, 100), -1);
  EXPECT_EQ(g_platform.ui->create_child_area(window_, "x", 0, 0, 0, 5), 0u);
  EXPECT_EQ(g_platform.ui->create_child_area(kNoWindow, "x", 0, 0, 5, 5), 0u);
  g_platform.ui->destroy_child_area(child);
  EXPECT_EQ(g_platform.ui->place_child_area(child, 0, 0, 10, 10), -1);
  g_platform.ui->destroy_child_area(child);
  g_platform.ui->destroy_child_area(0);
}

TEST_P(MovieContract, OpenAnswersByWhatTheFileIs) {
  const PlatformMovie* mv = g_platform.movie;
  struct Case {
    std::string file;
    int want;
  } cases[] = {{"", -1}, {path("missing.webm"), -2}, {path("notes.txt"), -2}};
  for (const Case& c : cases) {
    EXPECT_EQ(mv->open(window_, c.file.c_str(), 0, 0, 160, 120, kDone, 0), c.want) << c.file;
    EXPECT_EQ(mv->is_open(), 0) << c.file;
  }
  EXPECT_EQ(mv->set_rect(0, 0, 10, 10), -1);
}

TEST_P(MovieContract, AMoviePlaysToItsEndAndSaysSo) {
  const PlatformMovie* mv = g_platform.movie;
  // The level set before the open holds from the movie's first sample.
  mv->set_volume_db(-1204);
  // Found without regard to case.
  ASSERT_EQ(mv->open(window_, path("CLIP.WEBM").c_str(), 10, 10, 160, 120, kDone, 0), 0);
  EXPECT_EQ(mv->is_open(), 1);
  EXPECT_EQ(mv->set_rect(20, 20, 80, 60), 0);
  EXPECT_EQ(mv->set_rect(20, 20, 0, 60), -1);
  EXPECT_EQ(wait_for_end(8000), kMovieEnded);
  // One notice a movie.
  EXPECT_EQ(wait_for_end(200), 0);
  mv->close();
  EXPECT_EQ(mv->is_open(), 0);
  mv->close();
}

TEST_P(MovieContract, CloseSilencesTheNotice) {
  const PlatformMovie* mv = g_platform.movie;
  ASSERT_EQ(mv->open(window_, path("clip.webm").c_str(), 0, 0, 160, 120, kDone, 0), 0);
  mv->stop();
  mv->close();
  EXPECT_EQ(wait_for_end(1500), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, MovieContract, ::testing::Values("fake", "gst"), backend_name);
