// Row kernels of the blend modes. Each looks the blended value L up in the
// mode's 256 x 256 table (source byte as row, destination byte as column)
// and mixes it with the destination by the weight of its family. The plain
// and fully opaque cases of the cheap modes go to the span kernels.
#include "engine/image/blend_kernels.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/image/span_kernels.h"

BlendKernelTables g_blend_kernels;

namespace {

inline u8 lerp_byte(int d, int l, int w) { return static_cast<u8>(d + (((l - d) * w) >> 8)); }

// Family A, op = 256: all four bytes become L (alpha too).
template <int M>
void plain_full(u8* d, const u8* s, i32, i32 n) {
  const u8* lut = g_blend_lut[M];
  for (i32 i = 0; i < n; ++i) d[i] = lut[(s[i] << 8) + d[i]];
}

// Family A, op < 256: all four bytes move toward L by op/256. Difference
// rounds the step toward zero (through the 256-product table).
template <int M>
void plain_op(u8* d, const u8* s, i32 op, i32 n) {
  const u8* lut = g_blend_lut[M];
  for (i32 i = 0; i < n; ++i) {
    const int l = lut[(s[i] << 8) + d[i]];
    if constexpr (M == kBlendDifference) {
      d[i] = static_cast<u8>(d[i] + g_blend_tables.a[op][255 + l - d[i]]);
    } else {
      d[i] = lerp_byte(d[i], l, op);
    }
  }
}

// Family B: B, G, R toward L by w = (op (sA + 1)) >> 8 (sA + 1 at op 256).
template <int M>
void alpha_kernel(u8* d, const u8* s, i32 op, i32 n) {
  const u8* lut = g_blend_lut[M];
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int w = (op * (s[i + 3] + 1)) >> 8;
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], lut[(s[i + c] << 8) + d[i + c]], w);
  }
}

// Family C: B, G, R toward L by the mask weight; weights 0 and 1 skip.
template <int M>
void masked_kernel(u8* d, const u8* s, const u8* mask, i32, i32, i32 n) {
  const u8* lut = g_blend_lut[M];
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int w = g_mask_weights[mask[i]];
    if (w <= 1) continue;
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], lut[(s[i + c] << 8) + d[i + c]], w);
  }
}

// Family D: the mask weight times the source weight, over 65536. Mode 0
// weighs by sA rather than sA + 1, so it stops one short of the source.
template <int M>
void alpha_masked_kernel(u8* d, const u8* s, const u8* mask, i32, i32, i32 n) {
  const u8* lut = g_blend_lut[M];
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int w = g_mask_weights[mask[i]];
    if (w <= 1) continue;
    const int big = w * (M == kBlendNormal ? s[i + 3] : s[i + 3] + 1);
    for (int c = 0; c < 3; ++c) {
      const int dv = d[i + c];
      d[i + c] = static_cast<u8>(dv + (((lut[(s[i + c] << 8) + dv] - dv) * big) >> 16));
    }
  }
}

// Span-slot entries, called through the installed span table.
void span_copy(u8* d, const u8* s, i32, i32 n) { g_span_kernels.copy(d, s, n); }
void span_lerp(u8* d, const u8* s, i32 op, i32 n) { g_span_kernels.lerp(d, s, op, n); }
void span_alpha_blend(u8* d, const u8* s, i32, i32 n) { g_span_kernels.alpha_blend(d, s, n); }
void span_alpha_blend_op(u8* d, const u8* s, i32 op, i32 n) { g_span_kernels.alpha_blend_op(d, s, op, n); }
void span_masked_lerp(u8* d, const u8* s, const u8* m, i32 f1, i32 f2, i32 n) {
  g_span_kernels.masked_lerp(d, s, m, f1, f2, n);
}
void span_add_sat(u8* d, const u8* s, i32, i32 n) { g_span_kernels.add_sat(d, s, n); }
void span_add_op(u8* d, const u8* s, i32 op, i32 n) { g_span_kernels.add_op(d, s, op, n); }
void span_add_alpha(u8* d, const u8* s, i32, i32 n) { g_span_kernels.add_alpha(d, s, n); }
void span_add_alpha_op(u8* d, const u8* s, i32 op, i32 n) { g_span_kernels.add_alpha_op(d, s, op, n); }
void span_sub_sat(u8* d, const u8* s, i32, i32 n) { g_span_kernels.sub_sat(d, s, n); }
void span_multiply(u8* d, const u8* s, i32, i32 n) { g_span_kernels.multiply(d, s, n); }
void span_screen(u8* d, const u8* s, i32, i32 n) { g_span_kernels.screen(d, s, n); }
void span_screen_op(u8* d, const u8* s, i32 op, i32 n) { g_span_kernels.screen_op(d, s, op, n); }
void span_lighten(u8* d, const u8* s, i32, i32 n) { g_span_kernels.lighten(d, s, n); }
void span_darken(u8* d, const u8* s, i32, i32 n) { g_span_kernels.darken(d, s, n); }
void span_linear_burn(u8* d, const u8* s, i32, i32 n) { g_span_kernels.linear_burn(d, s, n); }
void span_linear_light(u8* d, const u8* s, i32, i32 n) { g_span_kernels.linear_light(d, s, n); }

template <size_t... M>
void fill_table_kernels(std::index_sequence<M...>) {
  ((g_blend_kernels.plain[M * 2] = plain_op<M>, g_blend_kernels.plain[M * 2 + 1] = plain_full<M>,
    g_blend_kernels.alpha[M * 2] = alpha_kernel<M>, g_blend_kernels.alpha[M * 2 + 1] = alpha_kernel<M>,
    g_blend_kernels.masked[M * 2] = masked_kernel<M>, g_blend_kernels.masked[M * 2 + 1] = masked_kernel<M>,
    g_blend_kernels.alpha_masked[M * 2] = alpha_masked_kernel<M>,
    g_blend_kernels.alpha_masked[M * 2 + 1] = alpha_masked_kernel<M>),
   ...);
}

}  // namespace

namespace {
// The row kernels whose span slots have a group rule (slots 4, 6, 10, 14 and
// 15); every other kernel works out each pixel by one formula.
bool has_group_rule(BlendRowKernel k) {
  return k == span_lerp || k == span_alpha_blend_op || k == span_add_op || k == span_multiply || k == span_screen;
}
}  // namespace

void blend_row_columns(BlendRowKernel kernel, u8* dst, const u8* src, i32 op, i32 x, i32 count, i32 row_width) {
  if (count <= 0) return;
  if (!has_group_rule(kernel)) {
    kernel(dst, src, op, count * 4);
    return;
  }
  const i64 begin = x, end = i64{x} + count;
  // Columns below paired_end have their pair partner in the row.
  const i64 paired_end = row_width & ~1;
  auto at = [&](i64 col) { return static_cast<size_t>(col - begin) * 4; };
  // A pixel whose partner lies outside the run is blended as half of a pair
  // made of itself twice: each pixel of a group depends only on itself, so
  // where a group starts does not matter, only that every paired column is
  // blended by the group rule. (Each pair is made by one 8-byte store, which
  // the kernel's load then reads straight from the store.)
  auto lone_in_pair = [&](i64 col) {
    u32 dv, sv;
    std::memcpy(&dv, dst + at(col), 4);
    std::memcpy(&sv, src + at(col), 4);
    const u64 d2 = dv * 0x100000001ull, s2 = sv * 0x100000001ull;
    u8 d[8], s[8];
    std::memcpy(d, &d2, 8);
    std::memcpy(s, &s2, 8);
    kernel(d, s, op, 8);
    std::memcpy(dst + at(col), d, 4);
  };
  i64 g0 = begin, g1 = std::min(end, paired_end);
  if (g0 < g1 && ((g1 - g0) & 1)) lone_in_pair(--g1);
  if (g0 < g1) kernel(dst + at(g0), src + at(g0), op, static_cast<i32>((g1 - g0) * 4));
  // The last pixel of an odd-width row: the trailing formula.
  const i64 t0 = std::max(begin, paired_end);
  if (t0 < end) kernel(dst + at(t0), src + at(t0), op, static_cast<i32>((end - t0) * 4));
}

void fill_blend_kernel_tables() {
  fill_table_kernels(std::make_index_sequence<kBlendModeCount>{});
  BlendKernelTables& t = g_blend_kernels;
  auto full = [](int mode) { return mode * 2 + 1; };
  auto part = [](int mode) { return mode * 2; };
  t.plain[full(kBlendNormal)] = span_copy;
  t.plain[part(kBlendNormal)] = span_lerp;
  t.alpha[full(kBlendNormal)] = span_alpha_blend;
  t.alpha[part(kBlendNormal)] = span_alpha_blend_op;
  t.masked[full(kBlendNormal)] = span_masked_lerp;
  t.plain[full(kBlendAdd)] = span_add_sat;
  t.plain[part(kBlendAdd)] = span_add_op;
  t.alpha[full(kBlendAdd)] = span_add_alpha;
  t.alpha[part(kBlendAdd)] = span_add_alpha_op;
  t.plain[full(kBlendSubtract)] = span_sub_sat;
  t.plain[full(kBlendMultiply)] = span_multiply;
  t.plain[full(kBlendScreen)] = span_screen;
  t.plain[part(kBlendScreen)] = span_screen_op;
  t.plain[full(kBlendLighten)] = span_lighten;
  t.plain[full(kBlendDarken)] = span_darken;
  t.plain[full(kBlendLinearBurn)] = span_linear_burn;
  t.plain[full(kBlendLinearLight)] = span_linear_light;
}
