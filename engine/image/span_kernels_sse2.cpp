// The SSE set: SSE2 versions of the per-set slots, 16 bytes a step with
// 16-bit lane arithmetic. Every slot gives exactly the plain set's bytes:
// a lerp d + floor((s - d) w / 256) is computed as (d (256 - w) + s w) >> 8,
// which is the same value and stays within 16 unsigned bits for w 0..256.
// Group rules are counted from the start of the run, as in the plain set.
#include "engine/image/span_kernels.h"

#include <cstring>

#include "engine/image/blend_tables.h"
#include "engine/image/span_kernels_shared.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

inline __m128i load16(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store16(u8* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128i load8(const u8* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline void store8(u8* p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }

inline u8 lerp_byte(int d, int s, int w) { return static_cast<u8>(d + (((s - d) * w) >> 8)); }
inline u8 clamp_byte(int v) { return static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// (a * wa + b * wb) >> 8 on 16-bit lanes (the sum must stay below 65536).
inline __m128i mix16(__m128i a, __m128i wa, __m128i b, __m128i wb) {
  return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wa), _mm_mullo_epi16(b, wb)), 8);
}

// Alpha of each pixel repeated in its four 16-bit lanes (two pixels a half).
inline __m128i alpha_lanes(__m128i px16) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(px16, 0xFF), 0xFF); }

// Half of each byte: (x >> 1) per byte without bits crossing bytes.
inline __m128i half_bytes(__m128i x) { return _mm_srli_epi16(_mm_and_si128(x, _mm_set1_epi8(static_cast<char>(0xFE))), 1); }

const __m128i& alpha_byte_mask() {
  static const __m128i m = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  return m;
}
// The result's colour bytes with the destination's alpha bytes kept.
inline __m128i keep_alpha(__m128i result, __m128i dest) {
  return _mm_or_si128(_mm_andnot_si128(alpha_byte_mask(), result), _mm_and_si128(alpha_byte_mask(), dest));
}

void fill_bytes_sse2(u8* p, i32 n, u32 value) {
  if (n > 0) std::memset(p, static_cast<u8>(value), static_cast<size_t>(n));
}

void fill_words_sse2(u8* p, i32 n, u32 value) {
  const __m128i v = _mm_set1_epi32(static_cast<int>(value));
  const i32 words = n & ~3;
  i32 i = 0;
  for (; i + 16 <= words; i += 16) store16(p + i, v);
  for (; i < words; i += 4) std::memcpy(p + i, &value, 4);
}

// Lerp of a and b by w over bytes [i, end): 16 then 8 bytes a step.
inline i32 lerp_run(u8* d, const u8* a, const u8* b, i32 w, i32 i, i32 end) {
  const __m128i z = _mm_setzero_si128();
  const __m128i vw = _mm_set1_epi16(static_cast<short>(w));
  const __m128i vi = _mm_set1_epi16(static_cast<short>(256 - w));
  for (; i + 16 <= end; i += 16) {
    const __m128i av = load16(a + i), bv = load16(b + i);
    const __m128i lo = mix16(_mm_unpacklo_epi8(av, z), vi, _mm_unpacklo_epi8(bv, z), vw);
    const __m128i hi = mix16(_mm_unpackhi_epi8(av, z), vi, _mm_unpackhi_epi8(bv, z), vw);
    store16(d + i, _mm_packus_epi16(lo, hi));
  }
  for (; i + 8 <= end; i += 8) {
    const __m128i lo = mix16(_mm_unpacklo_epi8(load8(a + i), z), vi, _mm_unpacklo_epi8(load8(b + i), z), vw);
    store8(d + i, _mm_packus_epi16(lo, lo));
  }
  return i;
}

inline i32 halves_run(u8* d, const u8* a, const u8* b, i32 i, i32 end) {
  for (; i + 16 <= end; i += 16) store16(d + i, _mm_add_epi8(half_bytes(load16(a + i)), half_bytes(load16(b + i))));
  for (; i + 8 <= end; i += 8) store8(d + i, _mm_add_epi8(half_bytes(load8(a + i)), half_bytes(load8(b + i))));
  return i;
}

void lerp_rows_sse2(u8* d, const u8* a, const u8* b, i32 w, i32 n) {
  if (n <= 0) return;
  const i32 g = n & ~7;
  i32 i = w == 128 ? halves_run(d, a, b, 0, g) : lerp_run(d, a, b, w, 0, n);
  for (; i < n; ++i) d[i] = lerp_byte(a[i], b[i], w);
}

void lerp_sse2(u8* d, const u8* s, i32 op, i32 n) { lerp_rows_sse2(d, d, s, op, n); }

// Per-pixel weights: alpha blend (w = sA + 1) and alpha blend with opacity.
void alpha_blend_sse2(u8* d, const u8* s, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1), full = _mm_set1_epi16(256);
  i32 i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i dv = load16(d + i), sv = load16(s + i);
    const __m128i sl = _mm_unpacklo_epi8(sv, z), sh = _mm_unpackhi_epi8(sv, z);
    const __m128i wl = _mm_add_epi16(alpha_lanes(sl), one), wh = _mm_add_epi16(alpha_lanes(sh), one);
    const __m128i lo = mix16(_mm_unpacklo_epi8(dv, z), _mm_sub_epi16(full, wl), sl, wl);
    const __m128i hi = mix16(_mm_unpackhi_epi8(dv, z), _mm_sub_epi16(full, wh), sh, wh);
    store16(d + i, keep_alpha(_mm_packus_epi16(lo, hi), dv));
  }
  for (; i + 4 <= n; i += 4) {
    const int w = s[i + 3] + 1;
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], s[i + c], w);
  }
}

// a = (op sA) >> 8 per pixel; grouped bytes (d (256 - a) + s (a + 1)) >> 8.
inline __m128i opacity_alpha(__m128i s16, __m128i vop) { return _mm_srli_epi16(_mm_mullo_epi16(alpha_lanes(s16), vop), 8); }

void alpha_blend_op_sse2(u8* d, const u8* s, i32 op, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1), full = _mm_set1_epi16(256);
  const __m128i vop = _mm_set1_epi16(static_cast<short>(op));
  const i32 g = n & ~7;
  i32 i = 0;
  for (; i + 16 <= g; i += 16) {
    const __m128i dv = load16(d + i), sv = load16(s + i);
    const __m128i sl = _mm_unpacklo_epi8(sv, z), sh = _mm_unpackhi_epi8(sv, z);
    const __m128i al = opacity_alpha(sl, vop), ah = opacity_alpha(sh, vop);
    const __m128i lo = mix16(_mm_unpacklo_epi8(dv, z), _mm_sub_epi16(full, al), sl, _mm_add_epi16(al, one));
    const __m128i hi = mix16(_mm_unpackhi_epi8(dv, z), _mm_sub_epi16(full, ah), sh, _mm_add_epi16(ah, one));
    store16(d + i, keep_alpha(_mm_packus_epi16(lo, hi), dv));
  }
  for (; i < g; i += 8) {
    const __m128i dv = load8(d + i);
    const __m128i sl = _mm_unpacklo_epi8(load8(s + i), z);
    const __m128i al = opacity_alpha(sl, vop);
    const __m128i lo = mix16(_mm_unpacklo_epi8(dv, z), _mm_sub_epi16(full, al), sl, _mm_add_epi16(al, one));
    store8(d + i, keep_alpha(_mm_packus_epi16(lo, lo), dv));
  }
  for (; i + 4 <= n; i += 4) {
    const int a = (op * s[i + 3]) >> 8;
    for (int c = 0; c < 3; ++c)
      d[i + c] = static_cast<u8>(((d[i + c] * (256 - a)) >> 8) + ((s[i + c] * (a + 1)) >> 8));
  }
}

// Masked lerp: d - floor((d - s) w / 256) = (d (256 - w) + s w + 255) >> 8;
// a weight of 1 or less leaves the pixel, which weight 0 does as well.
void masked_lerp_sse2(u8* d, const u8* s, const u8* mask, i32, i32, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const __m128i full = _mm_set1_epi16(256), round = _mm_set1_epi16(255);
  auto weight = [](int w) { return static_cast<short>(w > 1 ? w : 0); };
  i32 i = 0;
  for (; i + 16 <= n; i += 16) {
    const short w0 = weight(g_mask_weights[mask[i]]), w1 = weight(g_mask_weights[mask[i + 4]]);
    const short w2 = weight(g_mask_weights[mask[i + 8]]), w3 = weight(g_mask_weights[mask[i + 12]]);
    const __m128i wl = _mm_set_epi16(w1, w1, w1, w1, w0, w0, w0, w0);
    const __m128i wh = _mm_set_epi16(w3, w3, w3, w3, w2, w2, w2, w2);
    const __m128i dv = load16(d + i), sv = load16(s + i);
    const __m128i dl = _mm_unpacklo_epi8(dv, z), dh = _mm_unpackhi_epi8(dv, z);
    const __m128i lo = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(dl, _mm_sub_epi16(full, wl)), _mm_mullo_epi16(_mm_unpacklo_epi8(sv, z), wl)), round), 8);
    const __m128i hi = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(dh, _mm_sub_epi16(full, wh)), _mm_mullo_epi16(_mm_unpackhi_epi8(sv, z), wh)), round), 8);
    store16(d + i, keep_alpha(_mm_packus_epi16(lo, hi), dv));
  }
  for (; i + 4 <= n; i += 4) {
    const int w = g_mask_weights[mask[i]];
    if (w <= 1) continue;
    for (int c = 0; c < 3; ++c) d[i + c] = static_cast<u8>(d[i + c] - (((d[i + c] - s[i + c]) * w) >> 8));
  }
}

void add_sat_sse2(u8* d, const u8* s, i32 n) {
  i32 i = 0;
  for (; i + 16 <= n; i += 16) store16(d + i, _mm_adds_epu8(load16(d + i), load16(s + i)));
  for (; i < n; ++i) d[i] = g_sat_add_table[d[i] + s[i]];
}

void add_op_sse2(u8* d, const u8* s, i32 op, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const __m128i vop = _mm_set1_epi16(static_cast<short>(op));
  const i32 g = n & ~7;
  i32 i = 0;
  for (; i + 16 <= g; i += 16) {
    const __m128i sv = load16(s + i);
    const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(sv, z), vop), 8);
    const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(sv, z), vop), 8);
    store16(d + i, _mm_adds_epu8(load16(d + i), _mm_packus_epi16(lo, hi)));
  }
  for (; i < g; i += 8) {
    const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(load8(s + i), z), vop), 8);
    store8(d + i, _mm_adds_epu8(load8(d + i), _mm_packus_epi16(lo, lo)));
  }
  for (; i < n; ++i) d[i] = lerp_byte(d[i], g_sat_add_table[d[i] + s[i]], op);
}

// Add weighted per pixel: lerp from d toward min(255, d + s).
template <bool kWithOpacity>
void add_alpha_run(u8* d, const u8* s, i32 op, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1), full = _mm_set1_epi16(256);
  const __m128i vop = _mm_set1_epi16(static_cast<short>(op));
  const __m128i low8 = _mm_set1_epi16(255);
  // w = (op (sA + 1)) >> 8 = (t >> 8) + (((t & 255) + op) >> 8) with t = op sA,
  // which keeps every step within 16 bits (op (sA + 1) reaches 65536).
  auto weights = [&](__m128i s16) {
    const __m128i a = alpha_lanes(s16);
    if (!kWithOpacity) return _mm_add_epi16(a, one);
    const __m128i t = _mm_mullo_epi16(a, vop);
    return _mm_add_epi16(_mm_srli_epi16(t, 8), _mm_srli_epi16(_mm_add_epi16(_mm_and_si128(t, low8), vop), 8));
  };
  i32 i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i dv = load16(d + i), sv = load16(s + i);
    const __m128i tv = _mm_adds_epu8(dv, sv);
    const __m128i sl = _mm_unpacklo_epi8(sv, z), sh = _mm_unpackhi_epi8(sv, z);
    const __m128i wl = weights(sl), wh = weights(sh);
    const __m128i lo = mix16(_mm_unpacklo_epi8(dv, z), _mm_sub_epi16(full, wl), _mm_unpacklo_epi8(tv, z), wl);
    const __m128i hi = mix16(_mm_unpackhi_epi8(dv, z), _mm_sub_epi16(full, wh), _mm_unpackhi_epi8(tv, z), wh);
    store16(d + i, keep_alpha(_mm_packus_epi16(lo, hi), dv));
  }
  for (; i + 4 <= n; i += 4) {
    const int w = kWithOpacity ? (op * (s[i + 3] + 1)) >> 8 : s[i + 3] + 1;
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], g_sat_add_table[d[i + c] + s[i + c]], w);
  }
}

void add_alpha_sse2(u8* d, const u8* s, i32 n) { add_alpha_run<false>(d, s, 256, n); }
void add_alpha_op_sse2(u8* d, const u8* s, i32 op, i32 n) { add_alpha_run<true>(d, s, op, n); }

void sub_sat_sse2(u8* d, const u8* s, i32 n) {
  i32 i = 0;
  for (; i + 16 <= n; i += 16) store16(d + i, _mm_subs_epu8(load16(s + i), load16(d + i)));
  for (; i < n; ++i) d[i] = g_sat_sub_table[255 + s[i] - d[i]];
}

// d (s + 1) >> 8 on 16-bit lanes.
inline __m128i mul_plus1(__m128i d16, __m128i s16) {
  return _mm_srli_epi16(_mm_mullo_epi16(d16, _mm_add_epi16(s16, _mm_set1_epi16(1))), 8);
}

void multiply_sse2(u8* d, const u8* s, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const i32 g = n & ~3;
  i32 i = 0;
  for (; i + 16 <= g; i += 16) {
    const __m128i dv = load16(d + i), sv = load16(s + i);
    const __m128i lo = mul_plus1(_mm_unpacklo_epi8(dv, z), _mm_unpacklo_epi8(sv, z));
    const __m128i hi = mul_plus1(_mm_unpackhi_epi8(dv, z), _mm_unpackhi_epi8(sv, z));
    store16(d + i, _mm_packus_epi16(lo, hi));
  }
  for (; i < g; ++i) d[i] = static_cast<u8>((d[i] * (s[i] + 1)) >> 8);
  const u8* lut = blend_lut(kBlendMultiply);
  for (; i < n; ++i) d[i] = lut[(s[i] << 8) + d[i]];
}

void screen_sse2(u8* d, const u8* s, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const i32 g = n & ~7;
  auto one = [&](__m128i d16, __m128i s16) { return _mm_sub_epi16(_mm_add_epi16(d16, s16), mul_plus1(d16, s16)); };
  i32 i = 0;
  for (; i + 16 <= g; i += 16) {
    const __m128i dv = load16(d + i), sv = load16(s + i);
    const __m128i lo = one(_mm_unpacklo_epi8(dv, z), _mm_unpacklo_epi8(sv, z));
    const __m128i hi = one(_mm_unpackhi_epi8(dv, z), _mm_unpackhi_epi8(sv, z));
    store16(d + i, _mm_packus_epi16(lo, hi));
  }
  for (; i < g; i += 8) {
    const __m128i lo = one(_mm_unpacklo_epi8(load8(d + i), z), _mm_unpacklo_epi8(load8(s + i), z));
    store8(d + i, _mm_packus_epi16(lo, lo));
  }
  const u8* lut = blend_lut(kBlendScreen);
  for (; i < n; ++i) d[i] = lut[(s[i] << 8) + d[i]];
}

// SCREEN[s][d] = s + d - trunc(s d / 255); for x = s d <= 65025 the quotient
// trunc(x / 255) equals (x + 1 + (x >> 8)) >> 8.
void screen_op_sse2(u8* d, const u8* s, i32 op, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  const __m128i vw = _mm_set1_epi16(static_cast<short>(op)), vi = _mm_set1_epi16(static_cast<short>(256 - op));
  auto lane = [&](__m128i d16, __m128i s16) {
    const __m128i x = _mm_mullo_epi16(d16, s16);
    const __m128i q = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
    const __m128i sc = _mm_sub_epi16(_mm_add_epi16(d16, s16), q);
    return mix16(d16, vi, sc, vw);
  };
  i32 i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i dv = load16(d + i), sv = load16(s + i);
    store16(d + i, _mm_packus_epi16(lane(_mm_unpacklo_epi8(dv, z), _mm_unpacklo_epi8(sv, z)),
                                    lane(_mm_unpackhi_epi8(dv, z), _mm_unpackhi_epi8(sv, z))));
  }
  const u8* lut = blend_lut(kBlendScreen);
  for (; i < n; ++i) d[i] = lerp_byte(d[i], lut[(s[i] << 8) + d[i]], op);
}

void lighten_sse2(u8* d, const u8* s, i32 n) {
  i32 i = 0;
  for (; i + 16 <= n; i += 16) store16(d + i, _mm_max_epu8(load16(d + i), load16(s + i)));
  for (; i < n; ++i) d[i] = d[i] > s[i] ? d[i] : s[i];
}

void darken_sse2(u8* d, const u8* s, i32 n) {
  i32 i = 0;
  for (; i + 16 <= n; i += 16) store16(d + i, _mm_min_epu8(load16(d + i), load16(s + i)));
  for (; i < n; ++i) d[i] = d[i] < s[i] ? d[i] : s[i];
}

// clamp(d + s - 255) = max(0, d - (255 - s)).
void linear_burn_sse2(u8* d, const u8* s, i32 n) {
  const __m128i ones = _mm_set1_epi8(static_cast<char>(0xFF));
  i32 i = 0;
  for (; i + 16 <= n; i += 16) store16(d + i, _mm_subs_epu8(load16(d + i), _mm_xor_si128(load16(s + i), ones)));
  for (; i < n; ++i) d[i] = clamp_byte(d[i] + s[i] - 255);
}

void linear_light_sse2(u8* d, const u8* s, i32 n) {
  const __m128i z = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(256);
  auto lane = [&](__m128i d16, __m128i s16) { return _mm_sub_epi16(_mm_add_epi16(d16, _mm_add_epi16(s16, s16)), bias); };
  i32 i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i dv = load16(d + i), sv = load16(s + i);
    store16(d + i, _mm_packus_epi16(lane(_mm_unpacklo_epi8(dv, z), _mm_unpacklo_epi8(sv, z)),
                                    lane(_mm_unpackhi_epi8(dv, z), _mm_unpackhi_epi8(sv, z))));
  }
  for (; i < n; ++i) d[i] = clamp_byte(d[i] + 2 * s[i] - 256);
}

void box_reduce_sse2(u8* d, const u8* s, i32 stride_pixels, i32 count) {
  const u8* s2 = s + static_cast<size_t>(stride_pixels) * 4;
  const __m128i z = _mm_setzero_si128();
  i32 i = 0;
  for (; i + 2 <= count; i += 2) {
    const __m128i a = load16(s + 8 * i), b = load16(s2 + 8 * i);
    const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z));
    const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z));
    const __m128i p0 = _mm_add_epi16(lo, _mm_srli_si128(lo, 8));
    const __m128i p1 = _mm_add_epi16(hi, _mm_srli_si128(hi, 8));
    const __m128i sum = _mm_srli_epi16(_mm_unpacklo_epi64(p0, p1), 2);
    store8(d + 4 * i, _mm_packus_epi16(sum, sum));
  }
  for (; i < count; ++i) {
    for (int c = 0; c < 4; ++c) {
      const int sum = s[8 * i + c] + s[8 * i + 4 + c] + s2[8 * i + c] + s2[8 * i + 4 + c];
      d[4 * i + c] = static_cast<u8>(sum >> 2);
    }
  }
}

// Over onto alpha (slots 22 and 24): the new alpha and the reciprocal weight
// come from the tables pixel by pixel, the colour mix runs four pixels a
// step. with_fade: the destination alpha is first faded by f (slot 24).
template <bool kFaded>
void over_alpha_run(u8* d, const u8* s, i32 f, i32 n) {
  if (n <= 0) return;
  const __m128i z = _mm_setzero_si128();
  const __m128i full = _mm_set1_epi16(256);
  i32 i = 0;
  for (; i + 16 <= n; i += 16) {
    short w[4];
    u32 alpha_bytes[4];
    for (int k = 0; k < 4; ++k) {
      const int sA = s[i + 4 * k + 3];
      const int dA = kFaded ? (d[i + 4 * k + 3] * f) >> 8 : d[i + 4 * k + 3];
      const int a = dA + sA - q255(dA, sA);
      w[k] = static_cast<short>(g_reciprocal_table[a][sA]);
      alpha_bytes[k] = static_cast<u32>(a) << 24;
    }
    const __m128i wl = _mm_set_epi16(w[1], w[1], w[1], w[1], w[0], w[0], w[0], w[0]);
    const __m128i wh = _mm_set_epi16(w[3], w[3], w[3], w[3], w[2], w[2], w[2], w[2]);
    const __m128i dv = load16(d + i), sv = load16(s + i);
    const __m128i lo = mix16(_mm_unpacklo_epi8(dv, z), _mm_sub_epi16(full, wl), _mm_unpacklo_epi8(sv, z), wl);
    const __m128i hi = mix16(_mm_unpackhi_epi8(dv, z), _mm_sub_epi16(full, wh), _mm_unpackhi_epi8(sv, z), wh);
    const __m128i alpha = _mm_set_epi32(static_cast<int>(alpha_bytes[3]), static_cast<int>(alpha_bytes[2]),
                                        static_cast<int>(alpha_bytes[1]), static_cast<int>(alpha_bytes[0]));
    store16(d + i, _mm_or_si128(_mm_andnot_si128(alpha_byte_mask(), _mm_packus_epi16(lo, hi)), alpha));
  }
  for (; i + 4 <= n; i += 4) {
    const int sA = s[i + 3];
    const int dA = kFaded ? (d[i + 3] * f) >> 8 : d[i + 3];
    const int a = dA + sA - q255(dA, sA);
    const int w = g_reciprocal_table[a][sA];
    for (int c = 0; c < 3; ++c) d[i + c] = lerp_byte(d[i + c], s[i + c], w);
    d[i + 3] = static_cast<u8>(a);
  }
}

void over_alpha_sse2(u8* d, const u8* s, i32 n) { over_alpha_run<false>(d, s, 256, n); }
void over_faded_alpha_sse2(u8* d, const u8* s, i32 f, i32 n) { over_alpha_run<true>(d, s, f, n); }

}  // namespace

void fill_span_kernels_sse2(SpanKernelTable* t) {
  fill_span_kernels_shared(t);
  t->fill_bytes = fill_bytes_sse2;
  t->fill_words = fill_words_sse2;
  t->lerp = lerp_sse2;
  t->alpha_blend = alpha_blend_sse2;
  t->alpha_blend_op = alpha_blend_op_sse2;
  t->masked_lerp = masked_lerp_sse2;
  t->lerp_rows = lerp_rows_sse2;
  t->add_sat = add_sat_sse2;
  t->add_op = add_op_sse2;
  t->add_alpha = add_alpha_sse2;
  t->add_alpha_op = add_alpha_op_sse2;
  t->sub_sat = sub_sat_sse2;
  t->multiply = multiply_sse2;
  t->screen = screen_sse2;
  t->screen_op = screen_op_sse2;
  t->lighten = lighten_sse2;
  t->darken = darken_sse2;
  t->linear_burn = linear_burn_sse2;
  t->linear_light = linear_light_sse2;
  t->box_reduce = box_reduce_sse2;
  t->over_alpha = over_alpha_sse2;
  t->over_faded_alpha = over_faded_alpha_sse2;
}

#else  // no SSE2 in this build: the SSE set is the plain set

void fill_span_kernels_sse2(SpanKernelTable* t) { fill_span_kernels_plain(t); }

#endif
