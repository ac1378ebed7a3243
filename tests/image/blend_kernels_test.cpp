#include "engine/image/blend_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/image/blend_tables.h"
#include "engine/image/span_kernels.h"

namespace {

void init_once() {
  static bool done = false;
  if (done) return;
  init_span_ops();
  init_blend_tables();
  done = true;
}

int fdiv(long long a, long long b) { return static_cast<int>(std::floor(static_cast<double>(a) / static_cast<double>(b))); }
int clampi(int v) { return std::min(255, std::max(0, v)); }

// The blend rules as the mode table states them, written out directly.
int reference_blend(int mode, int s, int d) {
  switch (mode) {
    case 0: return s;
    case 1: return std::min(255, s + d);
    case 2: return std::max(0, s - d);
    case 3: return s * d / 255;
    case 4: return d == 0 ? (s > 0 ? 255 : 0) : std::min(255, 255 * s / d);
    case 5: return s + d - s * d / 255;
    case 6: return std::max(s, d);
    case 7: return std::min(s, d);
    case 8: return std::abs(s - d);
    case 9: return s + d - 2 * (s * d / 255);
    case 10: return d < 128 ? 2 * d * s / 255 : d == 128 ? s : (2 * d - 257) + s * (512 - 2 * d) / 255;
    case 11: return std::min(255, 256 * d / (256 - s));
    case 12: return std::max(0, 255 - 256 * (255 - d) / (s + 1));
    case 13: return clampi(s + d - 255);
    case 14: return s < 128 ? 2 * s * d / 255 : s == 128 ? d : (2 * s - 257) + d * (512 - 2 * s) / 255;
    case 15: {
      const double r = std::sqrt(256.0 - d);
      const long long q = static_cast<long long>(16384 - r);
      if (s < 128) return clampi(d + fdiv((s - 128) * q, 32768));
      if (d <= 32) return clampi(d + fdiv((s - 128) * static_cast<long long>(16384 - r * (768 - 8 * d)), 32768));
      return clampi(d + fdiv((s - 128) * q, 65536));
    }
    case 16:
      if (s == 0) return 0;
      if (s < 128) return std::max(0, static_cast<int>(std::trunc(255.0 * (2 * s + d - 255) / (2 * s))));
      if (s < 255) return std::min(255, 255 * d / (510 - 2 * s));
      return 255;
    case 17: return clampi(2 * s + d - 256);
    case 18: return s < 128 ? std::min(d, 2 * s) : std::max(d, 2 * s - 255);
  }
  return -1;
}

TEST(BlendTables, EveryModeTableFollowsItsRule) {
  init_once();
  for (int mode = 0; mode < kBlendModeCount; ++mode)
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d)
        ASSERT_EQ(blend_lut(mode)[(s << 8) + d], reference_blend(mode, s, d)) << "mode " << mode << " s " << s << " d " << d;
}

TEST(BlendTables, SampleValues) {
  init_once();
  struct Case {
    int mode, s, d, want;
  } cases[] = {
      {2, 200, 50, 150}, {2, 50, 200, 0},                         // subtract: source minus destination
      {4, 7, 0, 255},    {4, 0, 0, 0},                            // divide by 0
      {14, 255, 0, 253}, {10, 0, 255, 253},                       // hard light, overlay
      {16, 1, 0, 0},     {16, 254, 1, 127}, {17, 128, 0, 0},      // vivid light, linear light
      {15, 0, 0, 0},     {15, 0, 64, 0},    {15, 0, 200, 136},  {15, 0, 255, 191},  // soft light, s = 0
      {15, 255, 0, 15},  {15, 255, 16, 41}, {15, 255, 32, 65},  {15, 255, 33, 64},
      {15, 255, 100, 131}, {15, 255, 255, 255},
  };
  for (const Case& c : cases) EXPECT_EQ(blend_lut(c.mode)[(c.s << 8) + c.d], c.want) << c.mode << " " << c.s << " " << c.d;
}

TEST(BlendTables, ProductAndReciprocalTables) {
  init_once();
  EXPECT_EQ(ProductTable256()[256][255 + 255], 255);
  EXPECT_EQ(ProductTable256()[128][255 - 3], -1);  // -1.5 rounds toward zero
  EXPECT_EQ(ProductTable255()[255][255 + 200], 200);
  EXPECT_EQ(ProductTable255()[100][255 - 100], -39);
  EXPECT_EQ(g_blend_tables.c[255][255], 255);
  EXPECT_EQ(g_blend_tables.c[128][2], 1);
  EXPECT_EQ(g_reciprocal_table[0][200], 0);
  EXPECT_EQ(g_reciprocal_table[200][100], 128);
  EXPECT_EQ(g_reciprocal_table[255][255], 256);
  EXPECT_EQ(g_sat_add_table[510], 255);
  EXPECT_EQ(g_sat_sub_table[255 + 10 - 30], 0);
}

// One pixel of every family, written from the family rules (with the span
// slots where a mode forwards to one). fam: 0 A, 1 B, 2 C, 3 D.
void reference_pixel(int fam, int mode, int op, const u8* s, u8* d, const u8* mask, int pos_in_run, int n) {
  const bool full = op == 256;
  const bool in_group8 = pos_in_run + 4 <= (n & ~7);
  if (fam == 0) {
    for (int c = 0; c < 4; ++c) {
      const int L = reference_blend(mode, s[c], d[c]);
      if (full) {
        int v = L;
        if (mode == 3) v = (pos_in_run + c + 1 <= (n & ~3)) ? d[c] * (s[c] + 1) / 256 : s[c] * d[c] / 255;
        if (mode == 5) v = in_group8 ? d[c] + s[c] - d[c] * (s[c] + 1) / 256 : L;
        d[c] = static_cast<u8>(v);
      } else if (mode == 0 && op == 128 && in_group8) {
        d[c] = static_cast<u8>((s[c] >> 1) + (d[c] >> 1));
      } else if (mode == 1 && in_group8) {
        d[c] = static_cast<u8>(std::min(255, d[c] + ((s[c] * op) >> 8)));
      } else if (mode == 8) {
        d[c] = static_cast<u8>(d[c] + static_cast<int>((L - d[c]) * op / 256));  // toward zero
      } else {
        d[c] = static_cast<u8>(d[c] + fdiv((L - d[c]) * op, 256));
      }
    }
    return;
  }
  const int sA = s[3];
  for (int c = 0; c < 3; ++c) {
    const int L = reference_blend(mode, s[c], d[c]);
    if (fam == 1) {
      if (mode == 0 && !full) {
        const int a = op * sA / 256;
        d[c] = static_cast<u8>(in_group8 ? (d[c] * (256 - a) + s[c] * (a + 1)) / 256
                                         : d[c] * (256 - a) / 256 + s[c] * (a + 1) / 256);
      } else {
        d[c] = static_cast<u8>(d[c] + fdiv((L - d[c]) * (op * (sA + 1) / 256), 256));
      }
    } else {
      const int w = g_mask_weights[mask[0]];
      if (w <= 1) continue;
      if (fam == 2) {
        if (mode == 0 && full)
          d[c] = static_cast<u8>(d[c] - fdiv((d[c] - s[c]) * w, 256));
        else
          d[c] = static_cast<u8>(d[c] + fdiv((L - d[c]) * w, 256));
      } else {
        const int W = w * (mode == 0 ? sA : sA + 1);
        d[c] = static_cast<u8>(d[c] + fdiv(static_cast<long long>(L - d[c]) * W, 65536));
      }
    }
  }
}

TEST(BlendKernels, EveryModeAndFamilyMatchesThePerPixelRule) {
  init_once();
  std::mt19937 rng(77);
  for (int m = 0; m < 256; ++m) g_mask_weights[m] = static_cast<int>(rng() % 258);
  g_mask_weights[0] = 0;
  g_mask_weights[1] = 1;
  const int n = 4 * 13;  // 13 pixels: whole 8-byte groups and a trailing pixel
  for (int fam = 0; fam < 4; ++fam) {
    for (int mode = 0; mode < kBlendModeCount; ++mode) {
      for (int op : {0, 1, 100, 128, 255, 256}) {
        if (fam == 3 && op != 256) continue;  // D is chosen by mode alone
        std::vector<u8> d(n), s(n), mask(n);
        for (auto& x : d) x = static_cast<u8>(rng());
        for (auto& x : s) x = static_cast<u8>(rng());
        for (auto& x : mask) x = static_cast<u8>(rng());
        s[3] = 255, s[7] = 0, mask[8] = 0, mask[12] = 1;
        std::vector<u8> want = d;
        for (int p = 0; p < n; p += 4) reference_pixel(fam, mode, op, &s[p], &want[p], &mask[p], p, n);
        const int idx = fam == 3 ? mode * 2 : blend_kernel_index(mode, op);
        if (fam == 0) g_blend_kernels.plain[idx](d.data(), s.data(), op, n);
        if (fam == 1) g_blend_kernels.alpha[idx](d.data(), s.data(), op, n);
        if (fam == 2) g_blend_kernels.masked[idx](d.data(), s.data(), mask.data(), 0, 0, n);
        if (fam == 3) g_blend_kernels.alpha_masked[idx](d.data(), s.data(), mask.data(), 0, 0, n);
        ASSERT_EQ(want, d) << "family " << fam << " mode " << mode << " op " << op;
      }
    }
  }
}

TEST(BlendKernels, AlphaBytesAndMaskedSkips) {
  init_once();
  for (int m = 0; m < 256; ++m) g_mask_weights[m] = 256;
  g_mask_weights[0] = 0;
  g_mask_weights[1] = 1;
  // Family A at full opacity overwrites the destination alpha with L(sA, dA).
  u8 d[4] = {10, 20, 30, 40}, s[4] = {50, 60, 70, 200};
  g_blend_kernels.plain[blend_kernel_index(kBlendAdd, 256)](d, s, 256, 4);
  EXPECT_EQ(d[3], 240);
  u8 d2[4] = {10, 20, 30, 40};
  g_blend_kernels.plain[blend_kernel_index(kBlendDifference, 256)](d2, s, 256, 4);
  EXPECT_EQ(d2[3], 160);
  // B, C and D keep it.
  for (int mode = 0; mode < kBlendModeCount; ++mode) {
    u8 a[4] = {10, 20, 30, 40}, b[4] = {10, 20, 30, 40}, c[4] = {10, 20, 30, 40};
    const u8 mask[4] = {200, 0, 0, 0};
    g_blend_kernels.alpha[blend_kernel_index(mode, 256)](a, s, 256, 4);
    g_blend_kernels.masked[blend_kernel_index(mode, 256)](b, s, mask, 0, 0, 4);
    g_blend_kernels.alpha_masked[mode * 2](c, s, mask, 0, 0, 4);
    EXPECT_EQ(a[3], 40);
    EXPECT_EQ(b[3], 40);
    EXPECT_EQ(c[3], 40);
  }
  // Mask weights 0 and 1 leave the pixel untouched.
  for (u8 m : {0, 1}) {
    u8 e[4] = {10, 20, 30, 40};
    const u8 mask[4] = {m, 0, 0, 0};
    g_blend_kernels.masked[blend_kernel_index(kBlendNormal, 256)](e, s, mask, 0, 0, 4);
    g_blend_kernels.alpha_masked[kBlendScreen * 2](e, s, mask, 0, 0, 4);
    EXPECT_EQ(e[0], 10);
    EXPECT_EQ(e[2], 30);
  }
  // Mode 0 of family D weighs by sA: opaque source, weight 256 stops one short.
  const u8 opaque[4] = {200, 200, 200, 255}, mask[4] = {255, 0, 0, 0};
  u8 f[4] = {100, 100, 100, 0};
  g_blend_kernels.alpha_masked[kBlendNormal * 2](f, opaque, mask, 0, 0, 4);
  EXPECT_EQ(f[0], 199);
  u8 g[4] = {100, 100, 100, 0};
  g_blend_kernels.alpha_masked[kBlendLighten * 2](g, opaque, mask, 0, 0, 4);
  EXPECT_EQ(g[0], 200);
}

// A run that starts or ends at any column of a row gives the bytes that the
// whole row drawn in one run gives there, in every kernel set, for the
// kernels whose span slots have group rules (and a few without).
TEST(BlendKernels, RowColumnsGiveTheWholeRowResultInAnyRun) {
  init_once();
  struct Case {
    const char* what;
    bool alpha;
    int mode, op;
  } cases[] = {
      {"lerp at 128", false, kBlendNormal, 128}, {"lerp", false, kBlendNormal, 77},
      {"alpha", true, kBlendNormal, 256}, {"alpha with opacity", true, kBlendNormal, 200}, {"add with opacity", false, kBlendAdd, 128},
      {"screen", false, kBlendScreen, 256}, {"multiply", false, kBlendMultiply, 256},
      {"overlay with alpha", true, kBlendOverlay, 90},
  };
  std::mt19937 rng(7);
  for (int set = 0; set < 3; ++set) {
    if (set == 2 && !span_avx2_available()) continue;
    install_span_kernels(set == 0 ? 1 : 3, set == 2);
    for (const Case& c : cases) {
      BlendRowKernel k = c.alpha ? g_blend_kernels.alpha[blend_kernel_index(c.mode, c.op)]
                                 : g_blend_kernels.plain[blend_kernel_index(c.mode, c.op)];
      for (int width = 1; width <= 9; ++width) {
        std::vector<u8> src(static_cast<size_t>(width) * 4), base(src.size());
        for (auto& b : src) b = static_cast<u8>(rng());
        for (auto& b : base) b = static_cast<u8>(rng());
        std::vector<u8> whole = base;
        blend_row_columns(k, whole.data(), src.data(), c.op, 0, width, width);
        for (int a = 0; a < width; ++a)
          for (int b = a + 1; b <= width; ++b) {
            std::vector<u8> part = base;
            blend_row_columns(k, part.data() + a * 4, src.data() + a * 4, c.op, a, b - a, width);
            for (int i = 0; i < width * 4; ++i)
              ASSERT_EQ(part[i], (i >= a * 4 && i < b * 4) ? whole[i] : base[i])
                  << c.what << " set " << set << " width " << width << " run " << a << ".." << b << " byte " << i;
          }
      }
    }
  }
  // The grouped and the trailing formula of add with opacity: 200 + 100 at
  // 128 gives 250 in a pair and 227 in the last pixel of an odd row, also
  // when the run starts at the pair's second pixel.
  install_span_kernels(1, false);
  BlendRowKernel add = g_blend_kernels.plain[blend_kernel_index(kBlendAdd, 128)];
  std::vector<u8> d(12, 200), s(12, 100);
  blend_row_columns(add, d.data() + 4, s.data() + 4, 128, 1, 2, 3);
  EXPECT_EQ(d[0], 200);
  EXPECT_EQ(d[4], 250);
  EXPECT_EQ(d[8], 227);
  init_span_ops();
}

}  // namespace
