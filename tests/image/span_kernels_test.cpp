#include "engine/image/span_kernels.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "engine/image/blend_tables.h"

namespace {

struct Tables {
  SpanKernelTable plain{}, sse2{}, avx2{};
  bool has_avx2 = false;
  Tables() {
    init_blend_tables();
    fill_span_kernels_plain(&plain);
    fill_span_kernels_sse2(&sse2);
    avx2 = sse2;
    has_avx2 = span_avx2_available();
    if (has_avx2) fill_span_kernels_avx2(&avx2);
  }
};
const Tables& tables() {
  static const Tables t;
  return t;
}

// One call of a slot: destination, source, a second source (slot 8) or the
// mask (slot 7), an opacity or weight, a second opacity, and the byte count.
using SlotCall = std::function<void(const SpanKernelTable&, u8* d, const u8* s, const u8* b, int op, int op2, int n)>;
struct Slot {
  const char* name;
  SlotCall call;
  bool takes_op = true;  // an opacity, weight or fill value
};

const std::vector<Slot>& slots() {
  static const std::vector<Slot> v = {
      {"zero", [](const SpanKernelTable& t, u8* d, const u8*, const u8*, int, int, int n) { t.zero(d, n); }, false},
      {"fill_bytes", [](const SpanKernelTable& t, u8* d, const u8*, const u8*, int op, int, int n) { t.fill_bytes(d, n, 0x1234u * op); }},
      {"fill_words", [](const SpanKernelTable& t, u8* d, const u8*, const u8*, int op, int, int n) { t.fill_words(d, n, 0x89ABCDEFu ^ op); }},
      {"copy", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.copy(d, s, n); }, false},
      {"lerp", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int, int n) { t.lerp(d, s, op, n); }},
      {"alpha_blend", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.alpha_blend(d, s, n); }, false},
      {"alpha_blend_op", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int, int n) { t.alpha_blend_op(d, s, op, n); }},
      {"masked_lerp", [](const SpanKernelTable& t, u8* d, const u8* s, const u8* m, int, int, int n) { t.masked_lerp(d, s, m, 7, 9, n); }, false},
      {"lerp_rows", [](const SpanKernelTable& t, u8* d, const u8* s, const u8* b, int op, int, int n) { t.lerp_rows(d, s, b, op, n); }},
      {"add_sat", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.add_sat(d, s, n); }, false},
      {"add_op", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int, int n) { t.add_op(d, s, op, n); }},
      {"add_alpha", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.add_alpha(d, s, n); }, false},
      {"add_alpha_op", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int, int n) { t.add_alpha_op(d, s, op, n); }},
      {"sub_sat", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.sub_sat(d, s, n); }, false},
      {"multiply", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.multiply(d, s, n); }, false},
      {"screen", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.screen(d, s, n); }, false},
      {"screen_op", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int, int n) { t.screen_op(d, s, op, n); }},
      {"lighten", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.lighten(d, s, n); }, false},
      {"darken", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.darken(d, s, n); }, false},
      {"linear_burn", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.linear_burn(d, s, n); }, false},
      {"linear_light", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.linear_light(d, s, n); }, false},
      // count = n / 4 pixels from two rows of 2 * count pixels, 40 pixels apart.
      {"box_reduce", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { if (n >= 4) t.box_reduce(d, s, 40, n / 4); }, false},
      {"over_alpha", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int, int, int n) { t.over_alpha(d, s, n); }, false},
      {"over_alpha_op", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int, int n) { t.over_alpha_op(d, s, op, n); }},
      {"over_faded_alpha", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int, int n) { t.over_faded_alpha(d, s, op, n); }},
      {"over_two_op", [](const SpanKernelTable& t, u8* d, const u8* s, const u8*, int op, int op2, int n) { t.over_two_op(d, s, op2, op, n); }},
  };
  return v;
}

// Every set gives the plain set's bytes, for every length 0..67 at every
// start offset 0..7, with opacities at and around the rule changes, and
// leaves the bytes around the run alone.
TEST(SpanKernels, EverySetMatchesThePlainSetByteForByte) {
  const Tables& t = tables();
  ASSERT_EQ(slots().size(), 26u);
  std::mt19937 rng(1234);
  for (int m = 0; m < 256; ++m) g_mask_weights[m] = static_cast<int>(rng() % 260) - 2;
  g_mask_weights[10] = 1;
  g_mask_weights[11] = 0;
  g_mask_weights[12] = 256;
  const int ops[] = {0, 1, 64, 127, 128, 129, 200, 255, 256};
  std::vector<std::pair<const char*, const SpanKernelTable*>> sets = {{"sse2", &t.sse2}};
  if (t.has_avx2) sets.push_back({"avx2", &t.avx2});
  constexpr int kPad = 16;
  constexpr int kBuf = 67 + 8 + 2 * kPad + 40 * 4 + 64;
  for (const Slot& slot : slots()) {
    for (int n = 0; n <= 67; ++n) {
      for (int offset = 0; offset < 8; ++offset) {
        std::vector<u8> d0(kBuf), s(kBuf), b(kBuf);
        for (auto& x : d0) x = static_cast<u8>(rng());
        for (auto& x : s) x = static_cast<u8>(rng());
        for (auto& x : b) x = static_cast<u8>(rng());
        // Extreme bytes too: fully transparent and opaque pixels, 0 and 255.
        if (rng() % 4 == 0)
          for (auto& x : s) x = (rng() & 1) ? 255 : 0;
        for (int op : ops) {
          if (!slot.takes_op && op != 128) continue;
          const int op2 = static_cast<int>(rng() % 257);
          std::vector<u8> want = d0;
          slot.call(t.plain, want.data() + kPad + offset, s.data() + kPad + (7 - offset), b.data() + kPad + offset, op, op2, n);
          for (auto [set_name, set] : sets) {
            std::vector<u8> got = d0;
            slot.call(*set, got.data() + kPad + offset, s.data() + kPad + (7 - offset), b.data() + kPad + offset, op, op2, n);
            ASSERT_EQ(want, got) << slot.name << " " << set_name << " n=" << n << " offset=" << offset << " op=" << op;
          }
        }
      }
    }
  }
}

TEST(SpanKernels, GroupRulesCountFromTheStartOfTheRun) {
  const Tables& t = tables();
  for (const SpanKernelTable* set : {&t.plain, &t.sse2, &t.avx2}) {
    // Lerp at 128 halves both sides inside whole 8-byte groups: 1 and 1 make 0,
    // but a trailing byte gives 1 + floor(0 * 128 / 256) = 1.
    std::vector<u8> d(12, 1), s(12, 1);
    set->lerp(d.data(), s.data(), 128, 9);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[7], 0);
    EXPECT_EQ(d[8], 1);
    EXPECT_EQ(d[9], 1);  // past the run: untouched
    // Add with opacity: 200 + (100 * 128 >> 8) = 250 in a group; a trailing
    // pixel gives 200 + floor((255 - 200) * 128 / 256) = 227.
    std::vector<u8> d2(12, 200), s2(12, 100);
    set->add_op(d2.data(), s2.data(), 128, 12);
    EXPECT_EQ(d2[3], 250);
    EXPECT_EQ(d2[8], 227);
    EXPECT_EQ(d2[11], 227);
    // Fill words: n = 10 writes two words and leaves bytes 8 and 9.
    std::vector<u8> w(12, 0xEE);
    set->fill_words(w.data(), 10, 0x04030201u);
    EXPECT_EQ(w[0], 1);
    EXPECT_EQ(w[7], 4);
    EXPECT_EQ(w[8], 0xEE);
    EXPECT_EQ(w[9], 0xEE);
  }
}

TEST(SpanKernels, SlotResultsFromTheirFormulas) {
  const Tables& t = tables();
  for (const SpanKernelTable* set : {&t.plain, &t.sse2}) {
    // Subtract is source minus destination.
    u8 d[16], s[16];
    for (int i = 0; i < 16; ++i) d[i] = 50, s[i] = 200;
    set->sub_sat(d, s, 16);
    EXPECT_EQ(d[0], 150);
    for (int i = 0; i < 16; ++i) d[i] = 200, s[i] = 50;
    set->sub_sat(d, s, 16);
    EXPECT_EQ(d[15], 0);
    // Linear light subtracts 256: s = 128 over 0 gives 0, s = 255 gives 254.
    for (int i = 0; i < 16; ++i) d[i] = 0, s[i] = i < 8 ? 128 : 255;
    set->linear_light(d, s, 16);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[15], 254);
    // A transparent source still moves the colour by floor((s - d) / 256).
    for (int i = 0; i < 16; ++i) d[i] = 100, s[i] = (i % 4 == 3) ? 0 : 50;
    set->alpha_blend(d, s, 16);
    EXPECT_EQ(d[0], 99);
    EXPECT_EQ(d[3], 100);  // alpha kept
    // An opaque source at full weight gives the source exactly.
    for (int i = 0; i < 16; ++i) d[i] = 100, s[i] = (i % 4 == 3) ? 255 : 37;
    set->alpha_blend_op(d, s, 256, 16);
    EXPECT_EQ(d[4], 37);
  }
}

// Over with an opacity: a' can fall below sA and the weight then exceeds 256;
// the colour is clamped instead of wrapping (dA 0, sA 5, op 64, s 0, d 255
// would give -64).
TEST(SpanKernels, OverWithOpacityClampsInsteadOfWrapping) {
  init_blend_tables();
  SpanKernelTable t{};
  fill_span_kernels_plain(&t);
  u8 d[4] = {255, 255, 255, 0}, s[4] = {0, 0, 0, 5};
  t.over_alpha_op(d, s, 64, 4);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[3], 1);  // a' = 0 + floor(5 * 64 / 256)

  // Two opacities: e = 0, sA = 255, op = 1, s = 99, d = 100 would give -155.
  u8 d2[8] = {100, 100, 100, 0, 1, 1, 1, 0}, s2[8] = {99, 99, 99, 255, 0, 0, 0, 15};
  t.over_two_op(d2, s2, 256, 1, 8);
  EXPECT_EQ(d2[0], 0);
  EXPECT_EQ(d2[4], 0);  // sA 15, s 0, d 1 would give -14
  // In-range cases keep the formula: e = dA f >> 8, a = e + ... .
  u8 d3[4] = {10, 20, 30, 200}, s3[4] = {200, 100, 0, 128};
  t.over_two_op(d3, s3, 128, 256, 4);
  const int e = (200 * 128) >> 8;
  const int a = e + ((128 - (((129) * e) >> 8)) * 256 >> 8);
  EXPECT_EQ(d3[3], a);
  EXPECT_EQ(d3[0], 10 + ((200 - 10) * 256 >> 8) * 128 / (a + 1));
}

TEST(SpanKernels, OverOntoAlphaUsesTheReciprocalWeight) {
  init_blend_tables();
  SpanKernelTable t{};
  fill_span_kernels_plain(&t);
  u8 d[8] = {0, 0, 0, 128, 9, 9, 9, 0}, s[8] = {255, 255, 255, 128, 200, 200, 200, 0};
  t.over_alpha(d, s, 8);
  const int a = 128 + 128 - 128 * 128 / 255;
  EXPECT_EQ(d[3], a);
  EXPECT_EQ(d[0], (255 * (256 * 128 / a)) >> 8);
  // Both alphas 0: row 0 of the reciprocal table is zero, nothing moves.
  EXPECT_EQ(d[4], 9);
  EXPECT_EQ(d[7], 0);
}

TEST(SpanKernels, ModeChoiceFollowsFeaturesAndSettings) {
  CpuFeatures f{};
  EXPECT_EQ(choose_span_kernel_mode(f, 1, 1), 1);
  f.sse = 1;
  EXPECT_EQ(choose_span_kernel_mode(f, 1, 1), 2);
  EXPECT_EQ(choose_span_kernel_mode(f, 0, 1), 1);
  f.sse2 = 1;
  EXPECT_EQ(choose_span_kernel_mode(f, 1, 1), 3);
  EXPECT_EQ(choose_span_kernel_mode(f, 0, 1), 3);  // SSE2 wins over a cleared SSE
  EXPECT_EQ(choose_span_kernel_mode(f, 1, 0), 2);
  EXPECT_EQ(choose_span_kernel_mode(f, 0, 0), 1);

  init_span_ops();
  EXPECT_NE(g_span_kernels.zero, nullptr);
  EXPECT_NE(g_span_kernels.over_two_op, nullptr);
#if defined(__x86_64__)
  EXPECT_EQ(g_cpu_features.sse2, 1);
  EXPECT_EQ(g_span_kernel_mode, 3);
#endif
  // The settings words clear the SSE set: the plain set goes in.
  const EngineSettings saved = g_settings;
  g_settings.sse_allowed = 0;
  g_settings.sse2_allowed = 0;
  init_span_ops();
  g_settings = saved;
  EXPECT_EQ(g_span_kernel_mode, 1);
  EXPECT_FALSE(span_sse_usable());
  install_span_kernels(1, false);
  SpanKernelTable plain{};
  fill_span_kernels_plain(&plain);
  EXPECT_EQ(g_span_kernels.lerp, plain.lerp);
  init_span_ops();
}

}  // namespace
