#include "engine/image/resample.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "tests/render/render_fixture.h"

namespace {

std::int64_t quiet_proc(UiWindow, std::uint32_t, std::uint64_t, std::int64_t) { return 0; }

class PresentTest : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    fake_ui_reset();
    open_window(kW, kH);
  }
  void TearDown() override {
    fake_ui_reset();
    RenderTest::TearDown();
  }
  void open_window(int cw, int ch) {
    UiWindowDesc d;
    d.class_name = "present-test";
    d.client_width = cw;
    d.client_height = ch;
    d.proc = quiet_proc;
    g_windows[0]->handle = g_platform.ui->create_window(&d);
    ASSERT_NE(g_windows[0]->handle, kNoWindow);
  }
  std::vector<u32> window_pixels(int* w = nullptr, int* h = nullptr) {
    std::vector<u32> px;
    int ww = 0, hh = 0;
    EXPECT_EQ(fake_ui_window_pixels(g_windows[0]->handle, &px, &ww, &hh), 0);
    if (w) *w = ww;
    if (h) *h = hh;
    return px;
  }
  int paint_requests() {
    FakeUiWindowInfo info;
    EXPECT_EQ(fake_ui_window_info(g_windows[0]->handle, &info), 0);
    return info.paint_requests;
  }
  std::vector<int> last_rect() {
    int r[4];
    EXPECT_EQ(fake_ui_last_present_rect(g_windows[0]->handle, r), 0);
    return {r[0], r[1], r[2], r[3]};
  }
};

TEST_F(PresentTest, SameSizeCopiesTheWholeImageFirstAndThenOnlyTheChange) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  LayerImage* a = leaf("W0/a", 10, 20, 16, 8, 2);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(paint_requests(), 1);
  present_window_frame(0);  // the paint the request brings
  EXPECT_EQ(window_pixels(), shown());
  EXPECT_EQ(last_rect(), (std::vector<int>{0, 0, kW, kH}));

  mark_layer_dirty(leaf_node("W0/a"));
  a->x = 30;
  mark_layer_dirty(leaf_node("W0/a"));
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(paint_requests(), 2);
  present_window_frame(0);
  EXPECT_EQ(last_rect(), (std::vector<int>{10, 20, 36, 8}));
  EXPECT_EQ(window_pixels(), shown());
  // Presenting does not mark the image changed: a frame without changes
  // asks for no paint.
  EXPECT_EQ(screen->is_dirty, 0);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(paint_requests(), 2);
}

TEST_F(PresentTest, FramesBeforeTheirPaintArePresentedTogether) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  LayerImage* a = leaf("W0/a", 5, 5, 10, 10, 2);
  LayerImage* b = leaf("W0/b", 100, 80, 10, 10, 3);
  ASSERT_EQ(frame(), 0);
  present_window_frame(0);
  a->alpha = 100;
  mark_layer_dirty(leaf_node("W0/a"));
  ASSERT_EQ(frame(), 0);
  b->alpha = 100;
  mark_layer_dirty(leaf_node("W0/b"));
  ASSERT_EQ(frame(), 0);
  present_window_frame(0);  // one paint for both frames
  EXPECT_EQ(last_rect(), (std::vector<int>{5, 5, 105, 85}));
  EXPECT_EQ(window_pixels(), shown());
}

TEST_F(PresentTest, PaintNotAskedForByAFramePresentsTheWholeImage) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  ASSERT_EQ(frame(), 0);
  present_window_frame(0);
  const int before = fake_ui_present_count(g_windows[0]->handle);
  present_window_frame(0);  // uncovered, activated
  EXPECT_EQ(fake_ui_present_count(g_windows[0]->handle), before + 1);
  EXPECT_EQ(last_rect(), (std::vector<int>{0, 0, kW, kH}));
}

TEST_F(PresentTest, EmptyRectangleOrQuitPresentsNothing) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  ASSERT_EQ(frame(), 0);
  const int before = fake_ui_present_count(g_windows[0]->handle);
  present_screen(0, screen, kEmptyDirtyRect);
  g_quit_requested = 1;
  present_screen(0, screen, {0, 0, 5, 5});
  g_quit_requested = 0;
  EXPECT_EQ(fake_ui_present_count(g_windows[0]->handle), before);
}

TEST_F(PresentTest, OtherClientSizeIsScaledWithTheBilinearScaler) {
  g_platform.ui->set_client_size(g_windows[0]->handle, 2 * kW, 2 * kH - 10);
  leaf("W0/bg", 0, 0, kW, kH, 1);
  leaf("W0/a", 10, 20, 16, 8, 2);
  ASSERT_EQ(frame(), 0);
  present_window_frame(0);
  int w = 0, h = 0;
  std::vector<u32> got = window_pixels(&w, &h);
  ASSERT_EQ(w, 2 * kW);
  ASSERT_EQ(h, 2 * kH - 10);
  std::vector<u32> want(static_cast<size_t>(image_buffer_bytes(w, h) / 4 + 1));
  const i32 x1 = kW * 100 - 100, y1 = kH * 100 - 100;
  if (g_cpu_features.sse && g_span_sse_allowed) scale_bilinear_threaded(want.data(), screen->pixels, 0, 0, x1, y1, kW, kH, w, h);
  else scale_bilinear(want.data(), screen->pixels, 0, 0, x1, y1, kW, kH, w, h);
  want.resize(static_cast<size_t>(w) * h);
  EXPECT_EQ(got, want);
  // Nearest neighbour without CPU scaling.
  g_present.cpu_scaling = 0;
  present_window_frame(0);
  got = window_pixels();
  g_present.cpu_scaling = 1;
  EXPECT_EQ(got[0], screen->pixels[0]);
  EXPECT_EQ(got[static_cast<size_t>(h - 1) * w + (w - 1)], screen->pixels[static_cast<size_t>(kH - 1) * kW + kW - 1]);
}

TEST_F(PresentTest, ClientSizeChangedSinceTheLastPaintGetsTheWholeImage) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  LayerImage* a = leaf("W0/a", 10, 20, 16, 8, 2);
  ASSERT_EQ(frame(), 0);
  present_window_frame(0);
  g_platform.ui->set_client_size(g_windows[0]->handle, 100, 70);
  present_window_frame(0);  // the paint after the size change: scaled
  g_platform.ui->set_client_size(g_windows[0]->handle, kW, kH);
  mark_layer_dirty(leaf_node("W0/a"));
  a->x = 12;
  mark_layer_dirty(leaf_node("W0/a"));
  ASSERT_EQ(frame(), 0);
  present_window_frame(0);
  EXPECT_EQ(last_rect(), (std::vector<int>{0, 0, kW, kH}));
  EXPECT_EQ(window_pixels(), shown());
}

TEST_F(PresentTest, WindowWithNothingToShowIsBlankedEveryFrame) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  ASSERT_EQ(frame(), 0);
  present_window_frame(0);
  screen->visible = 0;
  for (int i = 0; i < 2; ++i) {
    const int before = fake_ui_present_count(g_windows[0]->handle);
    EXPECT_EQ(request_window_repaint(0), 0);
    EXPECT_EQ(g_windows[0]->drawn_flag, 0u);
    EXPECT_EQ(fake_ui_present_count(g_windows[0]->handle), before + 1);
  }
  for (u32 v : window_pixels()) ASSERT_EQ(v, 0u);
  // The black pixel covers the logical width rounded down to 4, plus 4.
  EXPECT_EQ(last_rect(), (std::vector<int>{0, 0, kW, kH}));
}

TEST_F(PresentTest, FullScreenPlacesTheImageAtTheCentringOffset) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  ASSERT_EQ(frame(), 0);
  g_screen_mode = 1;
  g_present.screen_width = kW + 80;
  g_present.screen_height = kH + 60;
  for (u8 scaling : {u8{1}, u8{0}}) {
    g_present.scaling = scaling;
    present_window_frame(0);
    EXPECT_EQ(g_present.offset_x, 40);
    EXPECT_EQ(g_present.offset_y, 30);
    EXPECT_EQ(last_rect(), (std::vector<int>{40, 30, kW - 40, kH - 30})) << int{scaling};
    EXPECT_EQ(window_pixels()[30 * kW + 40], screen->pixels[0]) << int{scaling};
  }
  g_screen_mode = 0;
  g_present = PresentSettings{};
}

TEST_F(PresentTest, SubWindowCopiesItsChangedRectangleUnscaled) {
  LayerImage* bg = group("W0/w1", 0, 0, 64, 48);
  replace_layer_pixels(bg, alloc_image_buffer(nullptr, 64, 48, nullptr), 64, 48);
  fill(bg, 3, false);
  g_windows[1]->root_layer = group_node("W0/w1");
  g_windows[1]->show_at_first_frame = 1;
  UiWindowDesc d;
  d.class_name = "present-sub";
  d.client_width = 100;  // larger than the image: never scaled
  d.client_height = 80;
  d.proc = quiet_proc;
  g_windows[1]->handle = g_platform.ui->create_window(&d);
  present_window_frame(1);
  int r[4];
  ASSERT_EQ(fake_ui_last_present_rect(g_windows[1]->handle, r), 0);
  EXPECT_EQ((std::vector<int>{r[0], r[1], r[2], r[3]}), (std::vector<int>{0, 0, 64, 48}));
  std::vector<u32> px;
  int w = 0, h = 0;
  ASSERT_EQ(fake_ui_window_pixels(g_windows[1]->handle, &px, &w, &h), 0);
  EXPECT_EQ(px[static_cast<size_t>(47) * w + 63], bg->pixels[47 * 64 + 63]);
  EXPECT_EQ(px[static_cast<size_t>(48) * w + 64], 0u);
}

}  // namespace
