// The plain kernel set: scalar C++, the reference every other set matches
// byte for byte. Slots 0, 3 and 22-25 come from the shared file.
#include <cstring>

#include "engine/image/blend_tables.h"
#include "engine/image/span_kernels.h"
#include "engine/image/span_kernels_shared.h"

namespace {

inline u8 lerp_byte(int d, int s, int w) { return static_cast<u8>(d + (((s - d) * w) >> 8)); }

void fill_bytes_plain(u8* p, i32 n, u32 value) {
  for (i32 i = 0; i < n; ++i) p[i] = static_cast<u8>(value);
}

void fill_words_plain(u8* p, i32 n, u32 value) {
  for (i32 i = 0; i + 4 <= n; i += 4) std::memcpy(p + i, &value, 4);
}

void lerp_plain(u8* d, const u8* s, i32 op, i32 n) {
  i32 i = 0;
  if (op == 128) {
    const i32 g = n & ~7;
    for (; i < g; ++i) d[i] = static_cast<u8>((s[i] >> 1) + (d[i] >> 1));
  }
  for (; i < n; ++i) d[i] = lerp_byte(d[i], s[i], op);
}

void alpha_blend_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int w = s[i + 3] + 1;
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], s[i + c], w);
  }
}

void alpha_blend_op_plain(u8* d, const u8* s, i32 op, i32 n) {
  const i32 g = n & ~7;
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int a = (op * s[i + 3]) >> 8;
    if (i < g) {
      for (int c = 0; c < 3; ++c) d[i + c] = static_cast<u8>((d[i + c] * (256 - a) + s[i + c] * (a + 1)) >> 8);
    } else {
      for (int c = 0; c < 3; ++c)
        d[i + c] = static_cast<u8>(((d[i + c] * (256 - a)) >> 8) + ((s[i + c] * (a + 1)) >> 8));
    }
  }
}

void masked_lerp_plain(u8* d, const u8* s, const u8* mask, i32, i32, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int w = g_mask_weights[mask[i]];
    if (w <= 1) continue;
    for (int c = 0; c < 3; ++c) d[i + c] = static_cast<u8>(d[i + c] - (((d[i + c] - s[i + c]) * w) >> 8));
  }
}

void lerp_rows_plain(u8* d, const u8* a, const u8* b, i32 w, i32 n) {
  i32 i = 0;
  if (w == 128) {
    const i32 g = n & ~7;
    for (; i < g; ++i) d[i] = static_cast<u8>((a[i] >> 1) + (b[i] >> 1));
  }
  for (; i < n; ++i) d[i] = lerp_byte(a[i], b[i], w);
}

void add_sat_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i < n; ++i) d[i] = g_sat_add_table[d[i] + s[i]];
}

void add_op_plain(u8* d, const u8* s, i32 op, i32 n) {
  const i32 g = n & ~7;
  i32 i = 0;
  for (; i < g; ++i) d[i] = g_sat_add_table[d[i] + ((s[i] * op) >> 8)];
  for (; i < n; ++i) d[i] = lerp_byte(d[i], g_sat_add_table[d[i] + s[i]], op);
}

void add_alpha_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int w = s[i + 3] + 1;
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], g_sat_add_table[d[i + c] + s[i + c]], w);
  }
}

void add_alpha_op_plain(u8* d, const u8* s, i32 op, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int w = (op * (s[i + 3] + 1)) >> 8;
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], g_sat_add_table[d[i + c] + s[i + c]], w);
  }
}

void sub_sat_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i < n; ++i) d[i] = g_sat_sub_table[255 + s[i] - d[i]];
}

void multiply_plain(u8* d, const u8* s, i32 n) {
  const i32 g = n & ~3;
  i32 i = 0;
  for (; i < g; ++i) d[i] = static_cast<u8>((d[i] * (s[i] + 1)) >> 8);
  const u8* lut = blend_lut(kBlendMultiply);
  for (; i < n; ++i) d[i] = lut[(s[i] << 8) + d[i]];
}

void screen_plain(u8* d, const u8* s, i32 n) {
  const i32 g = n & ~7;
  i32 i = 0;
  for (; i < g; ++i) d[i] = static_cast<u8>(d[i] + s[i] - ((d[i] * (s[i] + 1)) >> 8));
  const u8* lut = blend_lut(kBlendScreen);
  for (; i < n; ++i) d[i] = lut[(s[i] << 8) + d[i]];
}

void screen_op_plain(u8* d, const u8* s, i32 op, i32 n) {
  const u8* lut = blend_lut(kBlendScreen);
  for (i32 i = 0; i < n; ++i) d[i] = lerp_byte(d[i], lut[(s[i] << 8) + d[i]], op);
}

void lighten_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i < n; ++i) d[i] = d[i] > s[i] ? d[i] : s[i];
}

void darken_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i < n; ++i) d[i] = d[i] < s[i] ? d[i] : s[i];
}

inline u8 clamp_byte(int v) { return static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void linear_burn_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i < n; ++i) d[i] = clamp_byte(d[i] + s[i] - 255);
}

void linear_light_plain(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i < n; ++i) d[i] = clamp_byte(d[i] + 2 * s[i] - 256);
}

void box_reduce_plain(u8* d, const u8* s, i32 stride_pixels, i32 count) {
  const u8* s2 = s + static_cast<size_t>(stride_pixels) * 4;
  for (i32 i = 0; i < count; ++i) {
    for (int c = 0; c < 4; ++c) {
      const int sum = s[8 * i + c] + s[8 * i + 4 + c] + s2[8 * i + c] + s2[8 * i + 4 + c];
      d[4 * i + c] = static_cast<u8>(sum >> 2);
    }
  }
}

}  // namespace

void fill_span_kernels_plain(SpanKernelTable* t) {
  fill_span_kernels_shared(t);
  t->fill_bytes = fill_bytes_plain;
  t->fill_words = fill_words_plain;
  t->lerp = lerp_plain;
  t->alpha_blend = alpha_blend_plain;
  t->alpha_blend_op = alpha_blend_op_plain;
  t->masked_lerp = masked_lerp_plain;
  t->lerp_rows = lerp_rows_plain;
  t->add_sat = add_sat_plain;
  t->add_op = add_op_plain;
  t->add_alpha = add_alpha_plain;
  t->add_alpha_op = add_alpha_op_plain;
  t->sub_sat = sub_sat_plain;
  t->multiply = multiply_plain;
  t->screen = screen_plain;
  t->screen_op = screen_op_plain;
  t->lighten = lighten_plain;
  t->darken = darken_plain;
  t->linear_burn = linear_burn_plain;
  t->linear_light = linear_light_plain;
  t->box_reduce = box_reduce_plain;
}
