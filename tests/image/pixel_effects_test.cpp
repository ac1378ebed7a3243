// Pixel effect kernels against per-pixel formulas written here from the
// effects' definitions, on random images of odd sizes and sub-rectangles.
#include "engine/image/pixel_effects.h"

#include "engine/image/tone_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

u8 B(u32 p, int i) { return static_cast<u8>(p >> (8 * i)); }
u32 P(int b, int g, int r, int a) {
  return static_cast<u32>(b) | static_cast<u32>(g) << 8 | static_cast<u32>(r) << 16 | static_cast<u32>(a) << 24;
}

struct Case {
  int w, h, x0, y0, x1, y1;
};
// Odd sizes, whole images and sub-rectangles away from the origin.
const Case kCases[] = {{17, 13, 0, 0, 16, 12}, {23, 19, 5, 3, 18, 14}, {9, 31, 2, 7, 8, 29}, {1, 1, 0, 0, 0, 0},
                       {40, 6, 11, 0, 11, 5}};

struct Fixture {
  std::vector<u32> src, dst;
  EffectJob job;
  Case c;
  Fixture(const Case& cs, unsigned seed, bool whole_result = false) : c(cs) {
    std::mt19937 rng(seed);
    src.resize(static_cast<std::size_t>(c.w * c.h) + c.w + 1);
    for (u32& p : src) p = rng();
    const int rw = whole_result ? c.w : c.x1 - c.x0 + 1, rh = whole_result ? c.h : c.y1 - c.y0 + 1;
    dst.assign(static_cast<std::size_t>(rw * rh), 0xDEADBEEF);
    job.dst = dst.data();
    job.dst_w = rw;
    job.dst_h = rh;
    job.dst_x = whole_result ? 0 : c.x0;
    job.dst_y = whole_result ? 0 : c.y0;
    job.src = src.data();
    job.src_w = c.w;
    job.src_h = c.h;
    job.x0 = c.x0;
    job.y0 = c.y0;
    job.x1 = c.x1;
    job.y1 = c.y1;
  }
  u32 s(int x, int y) const { return src[static_cast<std::size_t>(y * c.w + x)]; }
  u32 d(int x, int y) const { return dst[static_cast<std::size_t>((y - job.dst_y) * job.dst_w + (x - job.dst_x))]; }
};

using Formula = std::function<u32(const Fixture&, int x, int y)>;

void expect_formula(int type, i64 value, bool has_alpha, const Formula& f, unsigned seeds = 12, i64 value2 = 0) {
  for (const Case& c : kCases) {
    for (unsigned seed = 1; seed <= seeds; ++seed) {
      Fixture fx(c, seed);
      fx.job.value = value;
      fx.job.value2 = value2;
      fx.job.has_alpha = has_alpha ? 1 : 0;
      ASSERT_EQ(run_pixel_effect(type, fx.job), 0);
      for (int y = c.y0; y <= c.y1; ++y)
        for (int x = c.x0; x <= c.x1; ++x)
          ASSERT_EQ(fx.d(x, y), f(fx, x, y)) << "type " << type << " value " << value << " seed " << seed << " at "
                                             << x << "," << y << " in " << c.w << "x" << c.h;
    }
  }
}

TEST(PixelEffects, PointFormulas) {
  for (i64 v : {0, 77, 128, 200, 256})
    expect_formula(1, v, false, [v](const Fixture& f, int x, int y) {
      const u32 p = f.s(x, y);
      auto c = [&](int i) { return std::clamp(static_cast<int>(B(p, i) + v - 128), 0, 255); };
      return P(c(0), c(1), c(2), B(p, 3));
    });
  for (i64 v : {0, 1, 100, 256})
    expect_formula(19, v, false, [v](const Fixture& f, int x, int y) {
      const u32 p = f.s(x, y);
      return (B(p, 0) + B(p, 1) + B(p, 2) >= 3 * v ? 0x00FFFFFFu : 0u) | (p & 0xFF000000u);
    });
  expect_formula(28, 1, false, [](const Fixture& f, int x, int y) {
    const u32 p = f.s(x, y);
    return P(255 - B(p, 0), 255 - B(p, 1), 255 - B(p, 2), B(p, 3));
  });
  expect_formula(39, 0x123456, false, [](const Fixture& f, int x, int y) {
    const u32 p = f.s(x, y);
    const long long Y = (306LL * B(p, 2) + 601LL * B(p, 1) + 117LL * B(p, 0)) * 1024;
    auto shr = [](long long v) { return static_cast<int>(std::floor(static_cast<double>(v) / 1048576.0)); };
    return P(std::max(shr(Y - 46347025), 0), std::max(shr(Y - 287585), 0), std::min(std::max(shr(Y + 18748416), 0), 255),
             B(p, 3));
  });
  // Mirror and flip read no value.
  for (i64 v : {0, 1})
    expect_formula(11, v, false, [](const Fixture& f, int x, int y) { return f.s(f.c.w - 1 - x, y); });
  for (i64 v : {0, 1})
    expect_formula(38, v, false, [](const Fixture& f, int x, int y) { return f.s(x, f.c.y1 - (y - f.c.y0)); });
  for (int t : {8, 9}) expect_formula(t, 0, false, [](const Fixture& f, int x, int y) { return f.s(x, y); });
  // A twirl of angle 0 and a wave of amplitude 0 copy the rectangle, at any origin.
  expect_formula(40, 0, false, [](const Fixture& f, int x, int y) { return f.s(x, y); }, 2);
  for (int t : {21, 22, 23}) expect_formula(t, 0, false, [](const Fixture& f, int x, int y) { return f.s(x, y); }, 2);
}

// Means over a window clipped to the rectangle, with integer division.
u32 window_mean(const Fixture& f, int x, int y, int rx, int ry, int mask, const std::vector<u32>* across = nullptr) {
  long long sum[4] = {0, 0, 0, 0}, n = 0;
  for (int yy = std::max(y - ry, f.c.y0); yy <= std::min(y + ry, f.c.y1); ++yy)
    for (int xx = std::max(x - rx, f.c.x0); xx <= std::min(x + rx, f.c.x1); ++xx) {
      const u32 p = across ? (*across)[static_cast<std::size_t>(yy * f.c.w + xx)] : f.s(xx, yy);
      for (int i = 0; i < 4; ++i) sum[i] += B(p, i);
      ++n;
    }
  const u32 self = across ? (*across)[static_cast<std::size_t>(y * f.c.w + x)] : f.s(x, y);
  int o[4];
  for (int i = 0; i < 4; ++i) o[i] = (mask >> i) & 1 ? static_cast<int>(sum[i] / n) : B(self, i);
  return P(o[0], o[1], o[2], o[3]);
}

TEST(PixelEffects, BoxBlurs) {
  for (int r : {0, 1, 3, 8}) {
    expect_formula(3, r, false, [r](const Fixture& f, int x, int y) { return window_mean(f, x, y, r, 0, 7); }, 4);
    expect_formula(4, r, false, [r](const Fixture& f, int x, int y) { return window_mean(f, x, y, 0, r, 7); }, 4);
    for (bool alpha : {false, true}) {
      const int mask = alpha ? 15 : 7;
      // Across first (rounded down), then down over the rounded rows.
      expect_formula(5, r, alpha, [r, mask](const Fixture& f, int x, int y) {
        std::vector<u32> across(f.src.size());
        for (int yy = f.c.y0; yy <= f.c.y1; ++yy)
          for (int xx = f.c.x0; xx <= f.c.x1; ++xx)
            across[static_cast<std::size_t>(yy * f.c.w + xx)] = window_mean(f, xx, yy, r, 0, mask);
        return window_mean(f, x, y, 0, r, mask, &across);
      }, 2);
    }
  }
  // Box shadow: the alpha's two-pass mean, no colour; opaque without alpha.
  expect_formula(7, 2, false, [](const Fixture&, int, int) { return 0xFF000000u; }, 2);
  expect_formula(7, 2, true, [](const Fixture& f, int x, int y) {
    std::vector<u32> across(f.src.size());
    for (int yy = f.c.y0; yy <= f.c.y1; ++yy)
      for (int xx = f.c.x0; xx <= f.c.x1; ++xx)
        across[static_cast<std::size_t>(yy * f.c.w + xx)] = window_mean(f, xx, yy, 2, 0, 8) & 0xFF000000u;
    return window_mean(f, x, y, 0, 2, 8, &across) & 0xFF000000u;
  }, 2);
}

TEST(PixelEffects, ToneAndGreyUseTheCompositorsPassesOnTheRectangle) {
  // The passes' own results on a one-pixel image, pixel by pixel.
  auto via_pass = [](int type, i64 v, u32 p) {
    u32 in[2] = {p, 0}, out[2] = {0, 0};
    if (type == 12) apply_color_tone_rows(out, in, 0, 0, 0, 0, 1, 1, 1, 1, static_cast<i32>(v));
    else apply_saturation_rows(out, in, 0, 0, 0, 0, 1, 1, 1, 1, static_cast<i32>(v));
    return out[0];
  };
  for (i64 v : {0x000000, 0xFF8040, 0x808080})
    expect_formula(12, v, false, [&](const Fixture& f, int x, int y) { return via_pass(12, v, f.s(x, y)); }, 2);
  for (i64 v : {0, 100, 256})
    expect_formula(30, v, false, [&](const Fixture& f, int x, int y) { return via_pass(30, v, f.s(x, y)); }, 2);
}

TEST(PixelEffects, FalloffWeights) {
  // n = 2r; 512 over n/2 - n/8 .. n/2 + n/8, halving outward.
  struct W {
    int r;
    std::vector<int> w;
  };
  const W cases[] = {{1, {256, 512, 256}},
                     {0, {256, 512, 256}},
                     {4, {64, 128, 256, 512, 512, 512, 256, 128, 64}},
                     {3, {64, 128, 256, 512, 256, 128, 64}}};
  for (const W& c : cases) {
    std::vector<i32> out(c.w.size());
    EXPECT_EQ(falloff_weights(c.r, out.data(), static_cast<int>(out.size())), static_cast<int>(c.w.size()));
    EXPECT_EQ(std::vector<int>(out.begin(), out.end()), c.w) << c.r;
  }
  std::vector<i32> big(513);
  ASSERT_EQ(falloff_weights(256, big.data(), 513), 513);
  EXPECT_EQ(big[0], 0);
  EXPECT_EQ(big[256], 512);
  i32 small[3];
  EXPECT_EQ(falloff_weights(8, small, 3), -1);
  // The soft blur of an image of one colour is that colour; the soft shadow
  // of an opaque image is opaque black.
  Fixture f(kCases[1], 3);
  std::fill(f.src.begin(), f.src.end(), 0xFF336699u);
  f.job.value = 5;
  ASSERT_EQ(run_pixel_effect(2, f.job), 0);
  for (u32 p : f.dst) ASSERT_EQ(p, 0xFF336699u);
  ASSERT_EQ(run_pixel_effect(6, f.job), 0);
  for (u32 p : f.dst) ASSERT_EQ(p, 0xFF000000u);
}

TEST(PixelEffects, SoftBlurMatchesWeightedMean) {
  for (int r : {1, 4}) {
    std::vector<i32> wt(static_cast<std::size_t>(2 * r + 1));
    falloff_weights(r, wt.data(), static_cast<int>(wt.size()));
    auto pass = [&](const Fixture& f, const std::vector<u32>& in, int x, int y, bool across, int mask) {
      long long sum[4] = {0, 0, 0, 0}, ws = 0;
      const int c = across ? x : y, lo = across ? f.c.x0 : f.c.y0, hi = across ? f.c.x1 : f.c.y1;
      for (int t = std::max(c - r, lo); t <= std::min(c + r, hi); ++t) {
        const u32 p = across ? in[static_cast<std::size_t>(y * f.c.w + t)] : in[static_cast<std::size_t>(t * f.c.w + x)];
        for (int i = 0; i < 4; ++i) sum[i] += static_cast<long long>(B(p, i)) * wt[static_cast<std::size_t>(t - c + r)];
        ws += wt[static_cast<std::size_t>(t - c + r)];
      }
      const u32 self = in[static_cast<std::size_t>(y * f.c.w + x)];
      int o[4];
      for (int i = 0; i < 4; ++i) o[i] = (mask >> i) & 1 ? static_cast<int>(sum[i] / ws) : B(self, i);
      return P(o[0], o[1], o[2], o[3]);
    };
    for (bool alpha : {false, true})
      expect_formula(2, r, alpha, [&, alpha](const Fixture& f, int x, int y) {
        std::vector<u32> across(f.src.size());
        for (int yy = f.c.y0; yy <= f.c.y1; ++yy)
          for (int xx = f.c.x0; xx <= f.c.x1; ++xx)
            across[static_cast<std::size_t>(yy * f.c.w + xx)] = pass(f, f.src, xx, yy, true, alpha ? 15 : 7);
        return pass(f, across, x, y, false, alpha ? 15 : 7);
      }, 2);
  }
}

TEST(PixelEffects, FillsAndTheirAlphaFlag) {
  struct F {
    int mode;
    u32 value;
    bool whole;
    u8 has_alpha;
  };
  const F cases[] = {{1, 0x12345678, false, 7}, {2, 0xFF, true, 0}, {2, 0xFF, false, 1},
                     {2, 0x80, true, 1},        {3, 0xFF102030, true, 0}, {3, 0x7F102030, true, 1}};
  for (const F& c : cases) {
    const Case cs = c.whole ? kCases[0] : kCases[1];
    Fixture f(cs, 9, /*whole_result=*/true);
    u8 flag = 7;
    f.job.value = c.value;
    f.job.fill_mode = c.mode;
    f.job.result_has_alpha = &flag;
    ASSERT_EQ(run_pixel_effect(24, f.job), 0);
    EXPECT_EQ(flag, c.has_alpha) << c.mode << " " << c.value;
    for (int y = 0; y < cs.h; ++y)
      for (int x = 0; x < cs.w; ++x) {
        const bool in = x >= cs.x0 && x <= cs.x1 && y >= cs.y0 && y <= cs.y1;
        const u32 s = f.s(x, y);
        const u32 want = !in ? s
                         : c.mode == 1 ? 0xFF000000u + (c.value & 0xFFFFFF)
                         : c.mode == 2 ? (s & 0xFFFFFF) | (c.value & 0xFF) << 24
                                       : c.value;
        ASSERT_EQ(f.d(x, y), want) << x << "," << y;
      }
  }
}

TEST(PixelEffects, AlphaRamp) {
  struct R {
    int a, b;
  };
  for (const R& r : {R{8, 15}, R{15, 8}, R{10, 10}, R{0, 22}}) {
    Fixture f(kCases[1], 4);
    u8 flag = 0;
    f.job.value = r.a;
    f.job.value2 = r.b;
    f.job.result_has_alpha = &flag;
    ASSERT_EQ(run_pixel_effect(27, f.job), 0);
    EXPECT_EQ(flag, 1);
    const int lo = std::min(r.a, r.b), hi = std::max(r.a, r.b);
    for (int y = f.c.y0; y <= f.c.y1; ++y)
      for (int x = f.c.x0; x <= f.c.x1; ++x) {
        const u32 s = f.s(x, y);
        int k = 255;
        if (r.a != r.b) {
          const int ramp = x < lo ? 0 : x > hi ? 255 : (x * 255 - lo * 255) / (hi - lo);
          k = r.a < r.b ? (x > hi ? 0 : x < lo ? 255 : 255 - ramp) : (x < lo ? 0 : x > hi ? 255 : ramp);
        }
        ASSERT_EQ(f.d(x, y), (s & 0xFFFFFF) | static_cast<u32>(B(s, 3) * k / 255) << 24) << x << " " << r.a << ">" << r.b;
      }
  }
}

TEST(PixelEffects, MosaicBlocksMeetAtTheCentre) {
  for (int size : {1, 3, 4}) {
    Fixture f(kCases[0], 5);  // 17 x 13, centre (8, 6)
    f.job.value = size;
    ASSERT_EQ(run_pixel_effect(20, f.job), 0);
    auto block_of = [&](int v, int centre) { return static_cast<int>(std::floor(static_cast<double>(v - centre) / size)); };
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 17; ++x) {
        long long sum[4] = {0, 0, 0, 0}, n = 0;
        for (int yy = 0; yy < 13; ++yy)
          for (int xx = 0; xx < 17; ++xx)
            if (block_of(xx, 8) == block_of(x, 8) && block_of(yy, 6) == block_of(y, 6)) {
              for (int i = 0; i < 4; ++i) sum[i] += B(f.s(xx, yy), i);
              ++n;
            }
        ASSERT_EQ(f.d(x, y), P(static_cast<int>(sum[0] / n), static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n),
                               static_cast<int>(sum[3] / n)))
            << size << " at " << x << "," << y;
      }
  }
}

int g_fixed_row = 0;
int fixed_random() { return g_fixed_row; }

TEST(PixelEffects, ScatterPermutesColoursOfWholeBlocks) {
  for (int row : {0, 5, 23}) {
    g_fixed_row = row;
    set_effect_random(fixed_random);
    Fixture f(kCases[1], 6);  // rectangle 14 x 12 at (5, 3)
    f.job.value = 2;          // one pass
    ASSERT_EQ(run_pixel_effect(10, f.job), 0);
    const u8* perm = kScatterPermutations[row];
    for (int y = f.c.y0; y <= f.c.y1; ++y)
      for (int x = f.c.x0; x <= f.c.x1; ++x) {
        const int bx = x - (x - f.c.x0) % 2, by = y - (y - f.c.y0) % 2;
        const bool whole = bx + 1 <= f.c.x1 && by + 1 <= f.c.y1;
        const int k = (y - by) * 2 + (x - bx);
        const int from = whole ? perm[k] : k;
        const u32 old = f.s(bx + from % 2, by + from / 2);
        ASSERT_EQ(f.d(x, y), whole ? (old & 0xFFFFFF) | (f.s(x, y) & 0xFF000000u) : f.s(x, y)) << x << "," << y;
      }
  }
  set_effect_random(nullptr);
  // Fewer than two never scatters.
  Fixture f(kCases[1], 6);
  f.job.value = 1;
  ASSERT_EQ(run_pixel_effect(10, f.job), 0);
  for (int y = f.c.y0; y <= f.c.y1; ++y)
    for (int x = f.c.x0; x <= f.c.x1; ++x) ASSERT_EQ(f.d(x, y), f.s(x, y));
}

TEST(PixelEffects, WaveShiftsRowsAndColumnsInsideTheRectangle) {
  for (int t : {21, 22, 23})
    expect_formula(t, 5, false, [t](const Fixture& f, int x, int y) {
      const long long dx = t == 22 ? 0 : static_cast<long long>(std::sin((y + 30) * 0.017453292) * 5);
      const long long dy = t == 21 ? 0 : static_cast<long long>(std::cos((x + 30) * 0.017453292) * 5);
      const int sx = static_cast<int>(std::clamp<long long>(x + dx, f.c.x0, f.c.x1));
      const int sy = static_cast<int>(std::clamp<long long>(y + dy, f.c.y0, f.c.y1));
      return f.s(sx, sy);
    }, 1, 30);
}

TEST(PixelEffects, TwirlReadsTheRectangleAndKeepsItsDistanceMap) {
  for (i64 angle : {900, -450}) {
    Fixture f(kCases[1], 8);
    f.job.value = angle;
    ASSERT_EQ(run_pixel_effect(40, f.job), 0);
    const int W = f.c.x1 - f.c.x0 + 1, H = f.c.y1 - f.c.y0 + 1, cx = W / 2, cy = H / 2;
    const int R = static_cast<int>(1 + (std::hypot(W, H) + 1) * 0.5);
    EXPECT_EQ(g_twirl_distance_map.width, W);
    EXPECT_EQ(g_twirl_distance_map.height, H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const int dx = x - cx, dy = y - cy;
        const int d = static_cast<int>(std::hypot(std::abs(dx), std::abs(dy)));
        const double a = (angle / 10.0 - d * static_cast<double>(angle) / (10.0 * R)) * 0.017453292519444445;
        const int c = static_cast<int>(256 * std::cos(a)), s = static_cast<int>(256 * std::sin(a));
        const int sx = std::clamp(((dx * c - dy * s) >> 8) + cx, 0, W - 1);
        const int sy = std::clamp(((dx * s + dy * c) >> 8) + cy, 0, H - 1);
        ASSERT_EQ(f.d(f.c.x0 + x, f.c.y0 + y), f.s(f.c.x0 + sx, f.c.y0 + sy)) << x << "," << y;
      }
  }
  free_twirl_distance_map();
  EXPECT_EQ(g_twirl_distance_map.entries, nullptr);
}

}  // namespace
