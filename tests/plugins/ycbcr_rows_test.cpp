// The colour conversion's row kernels: every vector kernel gives the plain
// loop's bytes, on random rows of many widths and chroma layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "plugins/theoralib/ycbcr_rows.h"

namespace {

TEST(YcbcrRows, PlainLoopGivesBt601VideoRange) {
  struct Case {
    std::uint8_t y, cb, cr;
    int b, g, r;
  } cases[] = {
      {235, 128, 128, 255, 255, 255}, {16, 128, 128, 0, 0, 0},     {126, 128, 128, 128, 128, 128},
      {81, 90, 240, 0, 0, 255},       {145, 54, 34, 0, 255, 0},    {41, 240, 110, 255, 0, 0},
      {0, 0, 0, 0, 135, 0},           {255, 255, 255, 255, 125, 255},
  };
  for (const Case& c : cases) {
    std::uint32_t px = 0;
    ycbcr_row_plain(&px, &c.y, &c.cb, &c.cr, 1, 0, 0);
    EXPECT_NEAR(static_cast<int>(px & 0xFF), c.b, 1) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
    EXPECT_NEAR(static_cast<int>(px >> 8 & 0xFF), c.g, 1) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
    EXPECT_NEAR(static_cast<int>(px >> 16 & 0xFF), c.r, 1) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
    EXPECT_EQ(px >> 24, 0xFFu);
  }
}

TEST(YcbcrRows, VectorKernelsEqualThePlainLoop) {
  struct Kernel {
    const char* name;
    YcbcrRowFn fn;
  } kernels[] = {{"sse2", ycbcr_row_sse2()}, {"avx2", ycbcr_row_avx2()}, {"best", ycbcr_row_best()}};
  int ran = 0;
  for (const Kernel& k : kernels) {
    if (!k.fn) continue;
    ++ran;
    for (unsigned seed = 1; seed <= 400; ++seed) {
      std::mt19937 rng(seed);
      const int width = seed % 4 == 0 ? 1 + static_cast<int>(rng() % 2000) : 1 + static_cast<int>(rng() % 70);
      const int xdec = static_cast<int>(seed & 1);
      const int odd = xdec ? static_cast<int>(seed >> 1 & 1) : 0;
      // Values near the ends of the ranges as often as in between.
      auto byte = [&] {
        const unsigned r = rng();
        return static_cast<std::uint8_t>(r % 3 == 0 ? (r >> 8) % 24 : r % 3 == 1 ? 232 + (r >> 8) % 24 : r >> 8);
      };
      const int chroma = xdec ? (width + odd + 1) / 2 : width;
      std::vector<std::uint8_t> y(static_cast<size_t>(width)), u(static_cast<size_t>(chroma)),
          v(static_cast<size_t>(chroma));
      for (auto& b : y) b = byte();
      for (auto& b : u) b = byte();
      for (auto& b : v) b = byte();
      // One pixel past the row on each side shows a write out of bounds.
      std::vector<std::uint32_t> want(static_cast<size_t>(width) + 2, 0x12345678u), got = want;
      ycbcr_row_plain(want.data() + 1, y.data(), u.data(), v.data(), width, xdec, odd);
      k.fn(got.data() + 1, y.data(), u.data(), v.data(), width, xdec, odd);
      ASSERT_EQ(got, want) << k.name << " seed " << seed << " width " << width << " xdec " << xdec << " odd " << odd;
    }
  }
  EXPECT_GT(ran, 0);
}

TEST(YcbcrRows, RowPairsEqualTheRowsOneByOne) {
  const YcbcrRowPairFn pairs[] = {ycbcr_row_pair_plain, ycbcr_row_pair_avx2(), ycbcr_row_pair_best()};
  for (YcbcrRowPairFn pair : pairs) {
    if (!pair) continue;
    for (unsigned seed = 1; seed <= 300; ++seed) {
      std::mt19937 rng(seed * 7919u);
      const int width = 1 + static_cast<int>(rng() % (seed % 3 == 0 ? 1500 : 60));
      const int xdec = seed % 5 == 0 ? 0 : 1;
      const int odd = xdec ? static_cast<int>(seed >> 1 & 1) : 0;
      const int chroma = xdec ? (width + odd + 1) / 2 : width;
      std::vector<std::uint8_t> y0(static_cast<size_t>(width)), y1(y0.size()), u(static_cast<size_t>(chroma)),
          v(u.size());
      for (auto* plane : {&y0, &y1, &u, &v})
        for (auto& b : *plane) b = static_cast<std::uint8_t>(rng());
      std::vector<std::uint32_t> want0(static_cast<size_t>(width) + 2, 0xA5A5A5A5u), want1 = want0, got0 = want0,
                                 got1 = want0;
      ycbcr_row_plain(want0.data() + 1, y0.data(), u.data(), v.data(), width, xdec, odd);
      ycbcr_row_plain(want1.data() + 1, y1.data(), u.data(), v.data(), width, xdec, odd);
      pair(got0.data() + 1, got1.data() + 1, y0.data(), y1.data(), u.data(), v.data(), width, xdec, odd);
      ASSERT_EQ(got0, want0) << "seed " << seed << " width " << width;
      ASSERT_EQ(got1, want1) << "seed " << seed << " width " << width;
    }
  }
}

}  // namespace
