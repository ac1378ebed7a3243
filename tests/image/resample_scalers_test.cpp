#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/image/blend_tables.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/resample.h"
#include "engine/image/span_kernels.h"
#include "engine/vm/object_tree.h"

namespace {

u32 px(u8 b, u8 g, u8 r, u8 a) { return u32{b} | (u32{g} << 8) | (u32{r} << 16) | (u32{a} << 24); }
u8 blue(u32 p) { return static_cast<u8>(p); }
u8 alpha(u32 p) { return static_cast<u8>(p >> 24); }

// A source image with the layer buffer's spare row and pixel behind it.
std::vector<u32> image(i32 w, i32 h, u32 seed) {
  std::vector<u32> v(static_cast<size_t>(w) * h + w + 1);
  std::mt19937 rng(seed);
  for (auto& p : v) p = rng();
  return v;
}

class ResampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_span_ops();
    init_blend_tables();
    reset_error_report_log();
  }
  void TearDown() override { stop_pixel_workers(); }
};

using Scaler = void (*)(u32*, const u32*, i32, i32, i32, i32, i32, i32, i32, i32);

// The banded scalers give the same bytes on one to four workers as on the
// calling thread; the threaded bilinear form equals the calling-thread one.
TEST_F(ResampleTest, BandedScalersAreIdenticalOnOneToFourWorkers) {
  const i32 sw = 37, sh = 29;
  const std::vector<u32> src = image(sw, sh, 5);
  struct Case {
    const char* name;
    Scaler scale;
    i32 x0, y0, x1, y1, dw, dh;
  } cases[] = {
      {"nearest up", scale_nearest_threaded, 0, 0, sw - 1, sh - 1, 71, 43},
      {"nearest window", scale_nearest_threaded, -3, 2, 20, sh + 4, 30, 31},
      {"bilinear up", scale_bilinear_threaded, 0, 0, (sw - 1) * 100, (sh - 1) * 100, 80, 61},
      {"bilinear down", scale_bilinear_threaded, 150, 50, 3000, 2650, 13, 9},
      {"bilinear outside", scale_bilinear_threaded, -400, -250, (sw + 3) * 100, (sh + 2) * 100, 45, 33},
      {"super up", resample_threaded, 0, 0, (sw - 1) * 100, (sh - 1) * 100, 50, 47},
      {"super down", resample_threaded, 30, 70, 3500, 2700, 11, 10},
  };
  for (const Case& c : cases) {
    std::vector<u32> want(static_cast<size_t>(c.dw) * c.dh, 0xDEADBEEF);
    stop_pixel_workers();
    c.scale(want.data(), src.data(), c.x0, c.y0, c.x1, c.y1, sw, sh, c.dw, c.dh);
    for (int workers = 1; workers <= 4; ++workers) {
      ASSERT_EQ(start_pixel_workers_count(workers), 0);
      std::vector<u32> got(want.size(), 0x12345678);
      c.scale(got.data(), src.data(), c.x0, c.y0, c.x1, c.y1, sw, sh, c.dw, c.dh);
      ASSERT_EQ(got, want) << c.name << " workers " << workers;
      if (c.scale == scale_bilinear_threaded) {
        std::vector<u32> here(want.size(), 0);
        scale_bilinear(here.data(), src.data(), c.x0, c.y0, c.x1, c.y1, sw, sh, c.dw, c.dh);
        ASSERT_EQ(here, want) << c.name;
      }
    }
  }
}

TEST_F(ResampleTest, NearestPicksColumnsByTheSixteenSixteenStep) {
  std::vector<u32> src = {1, 2, 3, 4, 0};
  std::vector<u32> dst(8);
  scale_nearest_threaded(dst.data(), src.data(), 0, 0, 3, 0, 4, 1, 8, 1);
  EXPECT_EQ(dst, (std::vector<u32>{1, 1, 2, 2, 3, 3, 4, 4}));
  // Columns and rows whose source lies outside the image are cleared.
  scale_nearest_threaded(dst.data(), src.data(), -2, 0, 5, 0, 4, 1, 8, 1);
  EXPECT_EQ(dst, (std::vector<u32>{0, 0, 1, 2, 3, 4, 0, 0}));
  std::vector<u32> tall(4);
  scale_nearest_threaded(tall.data(), src.data(), 0, -1, 0, 2, 4, 1, 1, 4);
  EXPECT_EQ(tall, (std::vector<u32>{0, 1, 0, 0}));
}

// The first and last destination pixels land on the window's first and last
// positions, also when a reduction starts at a fractional position (the
// fraction is not scaled by the ratio).
TEST_F(ResampleTest, BilinearEndsLandOnTheWindowEnds) {
  const i32 sw = 200;
  std::vector<u32> src(sw + sw + 1);
  for (i32 x = 0; x < sw; ++x) src[x] = px(static_cast<u8>(x), 0, 0, 255);
  for (auto scale : {scale_bilinear, scale_bilinear_threaded}) {
    std::vector<u32> dst(10);
    scale(dst.data(), src.data(), 50, 0, (sw - 1) * 100, 0, sw, 1, 10, 1);
    EXPECT_LE(blue(dst[0]), 1);  // between columns 0 and 1
    EXPECT_EQ(blue(dst[9]), sw - 1);
    std::vector<u32> up(300);
    scale(up.data(), src.data(), 0, 0, (sw - 1) * 100, 0, sw, 1, 300, 1);
    EXPECT_EQ(blue(up[0]), 0);
    EXPECT_EQ(blue(up[299]), sw - 1);
    // A one-pixel destination uses the divisor 100 and samples the start.
    std::vector<u32> one(1);
    scale(one.data(), src.data(), 700, 0, 19900, 0, sw, 1, 1, 1);
    EXPECT_EQ(blue(one[0]), 7);
  }
}

// Rows are sharpened like columns: a 2 x 2 source enlarged to 5 x 5 is
// symmetric under transposition.
TEST_F(ResampleTest, BilinearSharpensRowsAndColumnsAlike) {
  std::vector<u32> src = {px(0, 0, 0, 0), px(200, 0, 0, 0), px(200, 0, 0, 0), px(0, 0, 0, 0), 0, 0, 0};
  std::vector<u32> src_t = {px(0, 0, 0, 0), px(200, 0, 0, 0), px(200, 0, 0, 0), px(0, 0, 0, 0), 0, 0, 0};
  ASSERT_EQ(start_pixel_workers_count(2), 0);
  std::vector<u32> a(25), b(25);
  scale_bilinear_threaded(a.data(), src.data(), 0, 0, 100, 100, 2, 2, 5, 5);
  scale_bilinear_threaded(b.data(), src_t.data(), 0, 0, 100, 100, 2, 2, 5, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(a[y * 5 + x], b[x * 5 + y]) << x << "," << y;
  // Sharpening moves a quarter step toward the nearer pixel: 1.25 (64 - 128) + 128 = 48.
  std::vector<u32> row = {px(0, 0, 0, 0), px(255, 0, 0, 0), 0, 0};
  std::vector<u32> out(5);
  scale_bilinear(out.data(), row.data(), 0, 0, 100, 0, 2, 1, 5, 1);
  EXPECT_EQ(blue(out[1]), (255 * 48) >> 8);
}

// Every pixel of the bilinear scaler from the mode's text: positions
// span * 256 j / (n * 100 - 100) + f0, fractions sharpened, the 2 x 2 mix
// ((L (256 - fx) + R fx) (256 - fy) >> 16) + ((L' (256 - fx) + R' fx) fy >> 16).
TEST_F(ResampleTest, BilinearPixelsFollowTheMixFormula) {
  const i32 sw = 9, sh = 7, dw = 13, dh = 11, x0 = 120, y0 = 30, x1 = 780, y1 = 560;
  const std::vector<u32> src = image(sw, sh, 21);
  std::vector<u32> dst(dw * dh);
  ASSERT_EQ(start_pixel_workers_count(3), 0);
  scale_bilinear_threaded(dst.data(), src.data(), x0, y0, x1, y1, sw, sh, dw, dh);
  auto sharpen = [](int f) { return std::min(255, std::max(0, static_cast<int>(1.25 * (f - 128) + 128))); };
  auto pos = [](int j, int a0, int a1, int n) {
    return (static_cast<long long>(a1 - a0) * 256 * j) / (n * 100 - 100) + (a0 % 100) * 256 / 100 + (a0 / 100) * 256;
  };
  const u8* s = reinterpret_cast<const u8*>(src.data());
  for (int y = 0; y < dh; ++y) {
    const long long py = pos(y, y0, y1, dh);
    const int sy = static_cast<int>(py >> 8), fy = sharpen(static_cast<int>(py & 255));
    const int sy2 = std::min(sy + 1, sh - 1);
    for (int x = 0; x < dw; ++x) {
      const long long pxp = pos(x, x0, x1, dw);
      const int sx = static_cast<int>(pxp >> 8), fx = sharpen(static_cast<int>(pxp & 255));
      const int sx2 = std::min(sx + 1, sw - 1);
      for (int c = 0; c < 4; ++c) {
        auto at = [&](int xx, int yy) { return s[(yy * sw + xx) * 4 + c]; };
        const int top = at(sx, sy) * (256 - fx) + at(sx2, sy) * fx;
        const int bot = at(sx, sy2) * (256 - fx) + at(sx2, sy2) * fx;
        const int want = std::min(255, ((top * (256 - fy)) >> 16) + ((bot * fy) >> 16));
        ASSERT_EQ(reinterpret_cast<const u8*>(&dst[y * dw + x])[c], want) << x << "," << y << " c" << c;
      }
    }
  }
}

// Every pixel of the supersampled scaler from the mode's text: four bilinear
// samples at (j, j + 1/2 destination pixel) on both axes, averaged rounding
// up, first down each column pair and then across.
TEST_F(ResampleTest, SupersamplePixelsFollowTheSampleFormula) {
  const i32 sw = 23, sh = 17, dw = 9, dh = 7, x0 = 40, y0 = 130, x1 = 2200, y1 = 1600;
  const std::vector<u32> src = image(sw, sh, 33);
  std::vector<u32> dst(dw * dh);
  resample_threaded(dst.data(), src.data(), x0, y0, x1, y1, sw, sh, dw, dh);
  auto pos = [](int j, int half, int a0, int a1, int n) {
    return (static_cast<long long>(a1 - a0) * (256 * j + half)) / (n * 100 - 100) + (a0 % 100) * 256 / 100 + (a0 / 100) * 256;
  };
  const u8* s = reinterpret_cast<const u8*>(src.data());
  auto sample = [&](long long xp, long long yp, int c) {
    const int lx = std::min(std::max(static_cast<int>(xp >> 8), 0), sw - 1), fx = static_cast<int>(xp & 255);
    const int ty = std::min(std::max(static_cast<int>(yp >> 8), 0), sh - 1), fy = static_cast<int>(yp & 255);
    const int rx = std::min(lx + 1, sw - 1), by = std::min(ty + 1, sh - 1);
    auto at = [&](int xx, int yy) { return s[(yy * sw + xx) * 4 + c]; };
    const int top = (at(lx, ty) * (256 - fx) + at(rx, ty) * fx) >> 8;
    const int bot = (at(lx, by) * (256 - fx) + at(rx, by) * fx) >> 8;
    return std::min(255, (top * (256 - fy) + bot * fy) >> 8);
  };
  for (int y = 0; y < dh; ++y) {
    const long long ya = pos(y, 0, y0, y1, dh);
    long long yb = pos(y, 128, y0, y1, dh);
    if ((yb >> 8) >= sh - 1) yb = ya;
    for (int x = 0; x < dw; ++x) {
      const long long xa = pos(x, 0, x0, x1, dw), xb = pos(x, 128, x0, x1, dw);
      for (int c = 0; c < 4; ++c) {
        const int left = (sample(xa, ya, c) + sample(xa, yb, c) + 1) >> 1;
        const int right = (sample(xb, ya, c) + sample(xb, yb, c) + 1) >> 1;
        ASSERT_EQ(reinterpret_cast<const u8*>(&dst[y * dw + x])[c], (left + right + 1) >> 1) << x << "," << y << " c" << c;
      }
    }
  }
}

TEST_F(ResampleTest, SupersampleAveragesFourSamplesRoundingUp) {
  // A flat image stays flat; a 2 x 1 pair reduced to one pixel averages.
  std::vector<u32> flat(6 * 4 + 7, px(90, 91, 92, 93));
  std::vector<u32> out(3 * 2);
  resample_threaded(out.data(), flat.data(), 0, 0, 500, 300, 6, 4, 3, 2);
  for (u32 p : out) EXPECT_EQ(p, px(90, 91, 92, 93));
  std::vector<u32> big(8 * 8 + 9);
  for (i32 y = 0; y < 8; ++y)
    for (i32 x = 0; x < 8; ++x) big[y * 8 + x] = px(static_cast<u8>(x * 30), static_cast<u8>(y * 30), 0, 255);
  std::vector<u32> half(4 * 4);
  resample_threaded(half.data(), big.data(), 0, 0, 700, 700, 8, 8, 4, 4);
  // Row 1 of the result starts at source row 7/3 * 1 and reaches half a
  // destination pixel further down: its green lies between those rows.
  EXPECT_GT((half[4] >> 8) & 0xFF, 2 * 30);
  EXPECT_LT((half[4] >> 8) & 0xFF, 4 * 30);
}

// Edge taps are skipped by column and row: a bright right-hand column must
// not bleed into the left edge through the previous row's end.
TEST_F(ResampleTest, BicubicEdgesDoNotWrapIntoTheNeighbouringRow) {
  // Flat 100 with a bright right-hand column: the left edge's tap at column
  // -1 must be skipped, not read from the previous row's last pixel.
  const i32 w = 4, h = 4;
  std::vector<u32> src(w * h + w + 1, px(100, 100, 100, 255));
  for (i32 y = 0; y < h; ++y) src[y * w + 3] = px(255, 255, 255, 255);
  std::vector<u32> dst(8 * 8);
  scale_bicubic(dst.data(), src.data(), 0, 0, 3, 3, w, h, 8, 8);
  for (i32 y = 0; y < 8; ++y) {
    EXPECT_EQ(blue(dst[y * 8 + 0]), 100) << y;
    EXPECT_EQ(blue(dst[y * 8 + 1]), 100) << y;
    EXPECT_EQ(alpha(dst[y * 8 + 1]), 255);
  }
  // Whole-pixel positions reproduce the source exactly (K(0) = 256, K(1) = 0).
  std::vector<u32> same(w * h);
  scale_bicubic(same.data(), src.data(), 0, 0, 3, 3, w, h, w, h);
  EXPECT_EQ(0, std::memcmp(same.data(), src.data(), w * h * 4));
}

// Every pixel of the bicubic scaler from the mode's text: positions
// ((j * 65536) / n) * (a1 - a0 + 1) >> 8, the a = -1 kernel K, tap weights
// K[dy] K[dx] / 256 toward zero, taps outside the image skipped.
TEST_F(ResampleTest, BicubicPixelsFollowTheKernelFormula) {
  struct Case {
    i32 sw, sh, dw, dh, x0, y0, x1, y1;
  } cases[] = {{11, 9, 17, 6, 1, 0, 9, 8}, {40, 30, 13, 11, 0, 0, 39, 29}, {7, 7, 31, 29, -1, 2, 8, 6}};
  for (const Case& k : cases) {
  const i32 sw = k.sw, sh = k.sh, dw = k.dw, dh = k.dh, x0 = k.x0, y0 = k.y0, x1 = k.x1, y1 = k.y1;
  const std::vector<u32> src = image(sw, sh, 44 + sw);
  std::vector<u32> dst(dw * dh);
  scale_bicubic(dst.data(), src.data(), x0, y0, x1, y1, sw, sh, dw, dh);
  auto K = [](int i) {
    const double t = i / 256.0;
    return static_cast<int>(std::lround(256 * (t <= 1 ? 1 - 2 * t * t + t * t * t : 4 - 8 * t + 5 * t * t - t * t * t)));
  };
  auto pos = [](long long j, int a0, int a1, int n) { return ((j * 65536) / n) * (a1 - a0 + 1) >> 8; };
  const u8* s = reinterpret_cast<const u8*>(src.data());
  for (int y = 0; y < dh; ++y) {
    const long long py = pos(y, y0, y1, dh);
    const int by = y0 + static_cast<int>(py >> 8), fy = static_cast<int>(py & 255);
    for (int x = 0; x < dw; ++x) {
      const long long pxp = pos(x, x0, x1, dw);
      const int bx = x0 + static_cast<int>(pxp >> 8), fx = static_cast<int>(pxp & 255);
      if (bx < 0 || bx >= sw || by < 0 || by >= sh) {  // outside the source: cleared
        ASSERT_EQ(dst[y * dw + x], 0u) << x << "," << y;
        continue;
      }
      long long sum[4] = {0, 0, 0, 0}, ws = 0;
      for (int ty = -1; ty <= 2; ++ty)
        for (int tx = -1; tx <= 2; ++tx) {
          const int sx = bx + tx, sy = by + ty;
          if (sx < 0 || sx >= sw || sy < 0 || sy >= sh) continue;
          const int w = (K(std::abs(256 * ty - fy)) * K(std::abs(256 * tx - fx))) / 256;
          for (int c = 0; c < 4; ++c) sum[c] += s[(sy * sw + sx) * 4 + c] * w;
          ws += w;
        }
      if (ws == 0) ws = 1;
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(reinterpret_cast<const u8*>(&dst[y * dw + x])[c], std::min<long long>(255, std::max<long long>(0, sum[c] / ws)))
            << x << "," << y << " case " << sw << "x" << sh;
    }
  }
  }
}

TEST_F(ResampleTest, LanczosKeepsFlatColourAndWholeRatioPositions) {
  std::vector<u32> flat(5 + 6, px(200, 255, 10, 254));
  for (i32 dw : {1, 4, 5, 9, 13}) {
    std::vector<u32> dst(dw);
    ASSERT_EQ(resize_lanczos2(dst.data(), flat.data(), 0, 0, 4, 0, 5, 1, dw, 1), 0);
    for (u32 p : dst) EXPECT_EQ(p, px(200, 255, 10, 255)) << dw;  // alpha 254 -> 255
  }
  // 1 pixel to 4: the mirrored taps stay on the one pixel.
  std::vector<u32> one = {px(7, 8, 9, 100), 0, 0};
  std::vector<u32> four(4);
  ASSERT_EQ(resize_lanczos2(four.data(), one.data(), 0, 0, 0, 0, 1, 1, 4, 1), 0);
  for (u32 p : four) EXPECT_EQ(p, px(7, 8, 9, 100));
  // 5 -> 9 is a whole ratio (2): every position, including the in-between
  // ones, carries the signal (no all-zero weight sets); away from the
  // mirrored edges a ramp stays a ramp.
  std::vector<u32> ramp(5 + 6);
  for (i32 x = 0; x < 5; ++x) ramp[x] = px(static_cast<u8>(40 + 40 * x), 0, 0, 255);
  std::vector<u32> up(9);
  ASSERT_EQ(resize_lanczos2(up.data(), ramp.data(), 0, 0, 4, 0, 5, 1, 9, 1), 0);
  for (i32 x = 0; x < 9; ++x) EXPECT_GT(blue(up[x]), 30) << x;
  for (i32 x = 2; x <= 6; ++x) EXPECT_NEAR(blue(up[x]), 40 + 20 * x, 1) << x;
  EXPECT_EQ(blue(up[0]), 40);
  EXPECT_EQ(blue(up[8]), 200);
}

TEST_F(ResampleTest, LanczosFilterFunctions) {
  EXPECT_DOUBLE_EQ(sinc(0), 1);
  EXPECT_NEAR(sinc(1), 0, 1e-6);
  EXPECT_EQ(lanczos2(2), 0);
  EXPECT_EQ(lanczos2(-2.5), 0);
  EXPECT_NEAR(lanczos2(0.5), sinc(0.5) * sinc(0.25), 1e-12);
  FilterAxis axis;
  set_resample_factors(&axis, 5, 1);  // one destination pixel: W / w
  EXPECT_DOUBLE_EQ(axis.ratio, 0.2);
  EXPECT_EQ(axis.taps, static_cast<int>(1 + 2 * 10.0) + 3);
  set_resample_factors(&axis, 1, 8);
  EXPECT_DOUBLE_EQ(axis.ratio, 8);
  EXPECT_DOUBLE_EQ(axis.support, 2);
}

// ---- resize_layer and the canvas margins on layer nodes ----

struct LayerNode {
  ObjectNode node{};
  LayerImage image;
  explicit LayerNode(i32 w = 1, i32 h = 1, bool with_pixels = true) {
    node.payload_kind = kPayloadLayerImage;
    node.payload = &image;
    if (with_pixels) {
      u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
      for (i32 i = 0; i < w * h; ++i) buf[i] = px(static_cast<u8>(i), static_cast<u8>(i >> 8), 7, 255);
      replace_layer_pixels(&image, buf, w, h);
    }
  }
  ~LayerNode() {
    std::free(image.owned_pixels);
    std::free(image.tone_pixels);
  }
};

TEST_F(ResampleTest, ResizeReusesOnlyRealBuffersThatAreNotTheSource) {
  LayerNode src(6, 4), dst(3, 2);
  u32* const dst_buffer = dst.image.owned_pixels;
  // Same size with use_destination: the destination buffer is reused.
  ASSERT_EQ(resize_layer(&src.node, &dst.node, 0, 0, 500, 300, 300, 200, 1, 10), 0);
  EXPECT_EQ(dst.image.owned_pixels, dst_buffer);
  EXPECT_EQ(dst.image.owned_pixels[1], src.image.owned_pixels[2]);
  // A fresh 1 x 1 destination without a buffer gets one.
  LayerNode fresh(1, 1, false);
  ASSERT_EQ(resize_layer(&src.node, &fresh.node, 0, 0, 500, 300, 100, 100, 1, 21), 0);
  ASSERT_NE(fresh.image.owned_pixels, nullptr);
  EXPECT_EQ(fresh.image.owned_pixels[0], src.image.owned_pixels[0]);
  // The source as its own destination at the same size: read and written
  // through different buffers (done in place, the shifted copy would read
  // pixels it has already overwritten).
  std::vector<u32> before(src.image.owned_pixels, src.image.owned_pixels + 24);
  ASSERT_EQ(resize_layer(&src.node, &src.node, 0, 0, 400, 300, 600, 400, 1, 10), 0);
  const int cols[6] = {0, 0, 1, 2, 3, 4};
  for (i32 y = 0; y < 4; ++y)
    for (i32 x = 0; x < 6; ++x) EXPECT_EQ(src.image.owned_pixels[y * 6 + x], before[y * 6 + cols[x]]) << x << "," << y;
  // A source without pixels gives a transparent result of the new size.
  LayerNode empty(1, 1, false);
  empty.image.has_alpha = 1;
  LayerNode out(2, 2);
  ASSERT_EQ(resize_layer(&empty.node, &out.node, 0, 0, 0, 0, 400, 300, 1, 41), 0);
  EXPECT_EQ(out.image.width, 4);
  EXPECT_EQ(out.image.height, 3);
  EXPECT_EQ(out.image.owned_pixels[5], 0u);
  EXPECT_EQ(out.image.has_alpha, 1);
}

TEST_F(ResampleTest, ResizeReadsTheLayersOwnPixelsNotTheTonedCopy) {
  LayerNode src(2, 2), dst(2, 2);
  src.image.tone_pixels = static_cast<u32*>(std::calloc(2 * 2 + 3, 4));
  src.image.pixels = src.image.tone_pixels;
  for (int mode : {10, 21, 31, 41, 51}) {
    ASSERT_EQ(resize_layer(&src.node, &dst.node, 0, 0, 100, 100, 200, 200, 1, mode), 0) << mode;
    EXPECT_EQ(dst.image.owned_pixels[3], src.image.owned_pixels[3]) << mode;
  }
}

TEST_F(ResampleTest, ResizeShrinkKeepsTheLargerBufferWithTheGpuFlag) {
  LayerNode src(8, 8), dst(6, 6);
  dst.image.gpu_flag = 1;
  u32* const buffer = dst.image.owned_pixels;
  ASSERT_EQ(resize_layer(&src.node, &dst.node, 0, 0, 700, 700, 300, 200, 1, 10), 0);
  EXPECT_EQ(dst.image.owned_pixels, buffer);
  EXPECT_EQ(dst.image.width, 3);
  EXPECT_EQ(dst.image.loaded_height, 2);
}

TEST_F(ResampleTest, ResizeTooWideFailsAndKeepsTheLayer) {
  LayerNode src(4, 4);
  u32* const buffer = src.image.owned_pixels;
  EXPECT_EQ(resize_layer(&src.node, nullptr, 0, 0, 300, 300, 819300, 100, 0, 10), -1);
  EXPECT_EQ(g_error_report_log.last_number, 100010u);
  EXPECT_EQ(src.image.owned_pixels, buffer);
  EXPECT_EQ(src.image.width, 4);
}

TEST_F(ResampleTest, CanvasMarginsAddCropAndRefuseBadSizes) {
  LayerNode src(3, 2);
  src.image.has_alpha = 0;
  LayerNode dst(1, 1);
  ASSERT_EQ(extend_layer_canvas(&src.node, &dst.node, 1, 2, 1, 1, 0), 0);
  EXPECT_EQ(dst.image.width, 6);
  EXPECT_EQ(dst.image.height, 3);
  EXPECT_EQ(dst.image.has_alpha, 1);
  EXPECT_EQ(dst.image.owned_pixels[0], g_transparent_fill_colour);
  EXPECT_EQ(dst.image.owned_pixels[1 * 6 + 2], src.image.owned_pixels[0]);
  EXPECT_EQ(dst.image.owned_pixels[2 * 6 + 4], src.image.owned_pixels[5]);
  EXPECT_EQ(dst.image.owned_pixels[2 * 6 + 5], g_transparent_fill_colour);
  // Zero margins keep has_alpha; negative ones crop.
  ASSERT_EQ(extend_layer_canvas(&src.node, &dst.node, 1, -1, 0, 0, -1), 0);
  EXPECT_EQ(dst.image.width, 2);
  EXPECT_EQ(dst.image.height, 1);
  EXPECT_EQ(dst.image.has_alpha, 0);
  EXPECT_EQ(dst.image.owned_pixels[0], src.image.owned_pixels[1]);
  // A width of 0 shows the size box and changes nothing.
  reset_error_report_log();
  u32* const kept = dst.image.owned_pixels;
  EXPECT_EQ(extend_layer_canvas(&src.node, &dst.node, 1, -3, 0, 0, 0), -1);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_EQ(dst.image.owned_pixels, kept);
  // Heights far past the limit are refused (sizes are 64-bit, never wrapped).
  reset_error_report_log();
  EXPECT_EQ(extend_layer_canvas(&src.node, &dst.node, 1, 8189, 0, 65534, 0), -1);
  EXPECT_EQ(g_error_report_log.last_number, 100010u);
  EXPECT_EQ(extend_layer_canvas(&src.node, &dst.node, 1, 0, 0, 0x7FFFFFF0, 0x7FFFFFF0), -1);
  EXPECT_EQ(dst.image.owned_pixels, kept);
  // Margins at the ends of the 32-bit range that still leave a small canvas:
  // the source lies wholly outside it and nothing is copied.
  ASSERT_EQ(extend_layer_canvas(&src.node, &dst.node, 1, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX), 0);
  EXPECT_EQ(dst.image.width, 2);
  EXPECT_EQ(dst.image.height, 1);
  EXPECT_EQ(dst.image.owned_pixels[0], g_transparent_fill_colour);
  EXPECT_EQ(dst.image.owned_pixels[1], g_transparent_fill_colour);
}

}  // namespace
