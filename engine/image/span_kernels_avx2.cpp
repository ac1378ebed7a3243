// AVX2 versions of the hottest slots of the SSE set (the lerps and the two
// per-pixel alpha blends that layer composition runs for every pixel): 32
// bytes a step, then the SSE2 kernel finishes the run. The step is a multiple
// of 8 bytes, so the group rules (counted from the start of the run) fall on
// the same bytes as in the plain set.
#include "engine/image/span_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define KL_AVX2 __attribute__((target("avx2")))

namespace {

SpanCopyFn g_sse2_alpha_blend;
SpanOpFn g_sse2_alpha_blend_op;
SpanRowsFn g_sse2_lerp_rows;

KL_AVX2 inline __m256i load32(const u8* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
KL_AVX2 inline void store32(u8* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

KL_AVX2 inline __m256i mix16(__m256i a, __m256i wa, __m256i b, __m256i wb) {
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, wa), _mm256_mullo_epi16(b, wb)), 8);
}
KL_AVX2 inline __m256i alpha_lanes(__m256i px16) {
  return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(px16, 0xFF), 0xFF);
}
KL_AVX2 inline __m256i keep_alpha(__m256i result, __m256i dest) {
  const __m256i m = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  return _mm256_blendv_epi8(result, dest, m);
}
KL_AVX2 inline __m256i half_bytes(__m256i x) {
  return _mm256_srli_epi16(_mm256_and_si256(x, _mm256_set1_epi8(static_cast<char>(0xFE))), 1);
}

KL_AVX2 void lerp_rows_avx2(u8* d, const u8* a, const u8* b, i32 w, i32 n) {
  if (n <= 0) return;
  i32 i = 0;
  if (w == 128) {
    const i32 g = n & ~7;
    for (; i + 32 <= g; i += 32) store32(d + i, _mm256_add_epi8(half_bytes(load32(a + i)), half_bytes(load32(b + i))));
  } else {
    const __m256i z = _mm256_setzero_si256();
    const __m256i vw = _mm256_set1_epi16(static_cast<short>(w));
    const __m256i vi = _mm256_set1_epi16(static_cast<short>(256 - w));
    for (; i + 32 <= n; i += 32) {
      const __m256i av = load32(a + i), bv = load32(b + i);
      const __m256i lo = mix16(_mm256_unpacklo_epi8(av, z), vi, _mm256_unpacklo_epi8(bv, z), vw);
      const __m256i hi = mix16(_mm256_unpackhi_epi8(av, z), vi, _mm256_unpackhi_epi8(bv, z), vw);
      store32(d + i, _mm256_packus_epi16(lo, hi));
    }
  }
  g_sse2_lerp_rows(d + i, a + i, b + i, w, n - i);
}

KL_AVX2 void lerp_avx2(u8* d, const u8* s, i32 op, i32 n) { lerp_rows_avx2(d, d, s, op, n); }

KL_AVX2 inline __m256i alpha_blend8(__m256i dv, __m256i sv) {
  const __m256i z = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi16(1), full = _mm256_set1_epi16(256);
  const __m256i sl = _mm256_unpacklo_epi8(sv, z), sh = _mm256_unpackhi_epi8(sv, z);
  const __m256i wl = _mm256_add_epi16(alpha_lanes(sl), one), wh = _mm256_add_epi16(alpha_lanes(sh), one);
  const __m256i lo = mix16(_mm256_unpacklo_epi8(dv, z), _mm256_sub_epi16(full, wl), sl, wl);
  const __m256i hi = mix16(_mm256_unpackhi_epi8(dv, z), _mm256_sub_epi16(full, wh), sh, wh);
  return keep_alpha(_mm256_packus_epi16(lo, hi), dv);
}

// Every pixel depends only on itself, so a run of 8 pixels or more ends with
// a step over its last 8, worked out from the pixels as they were before the
// steps that overlap it wrote them.
KL_AVX2 void alpha_blend_avx2(u8* d, const u8* s, i32 n) {
  if (n <= 0) return;
  i32 i = 0;
  if (n >= 32 && (n & 31) != 0 && (n & 3) == 0) {
    const __m256i last = alpha_blend8(load32(d + n - 32), load32(s + n - 32));
    for (; i + 32 <= n; i += 32) store32(d + i, alpha_blend8(load32(d + i), load32(s + i)));
    store32(d + n - 32, last);
    return;
  }
  for (; i + 32 <= n; i += 32) store32(d + i, alpha_blend8(load32(d + i), load32(s + i)));
  g_sse2_alpha_blend(d + i, s + i, n - i);
}

KL_AVX2 void alpha_blend_op_avx2(u8* d, const u8* s, i32 op, i32 n) {
  if (n <= 0) return;
  const __m256i z = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi16(1), full = _mm256_set1_epi16(256);
  const __m256i vop = _mm256_set1_epi16(static_cast<short>(op));
  const i32 g = n & ~7;
  i32 i = 0;
  for (; i + 32 <= g; i += 32) {
    const __m256i dv = load32(d + i), sv = load32(s + i);
    const __m256i sl = _mm256_unpacklo_epi8(sv, z), sh = _mm256_unpackhi_epi8(sv, z);
    const __m256i al = _mm256_srli_epi16(_mm256_mullo_epi16(alpha_lanes(sl), vop), 8);
    const __m256i ah = _mm256_srli_epi16(_mm256_mullo_epi16(alpha_lanes(sh), vop), 8);
    const __m256i lo = mix16(_mm256_unpacklo_epi8(dv, z), _mm256_sub_epi16(full, al), sl, _mm256_add_epi16(al, one));
    const __m256i hi = mix16(_mm256_unpackhi_epi8(dv, z), _mm256_sub_epi16(full, ah), sh, _mm256_add_epi16(ah, one));
    store32(d + i, keep_alpha(_mm256_packus_epi16(lo, hi), dv));
  }
  g_sse2_alpha_blend_op(d + i, s + i, op, n - i);
}

}  // namespace

bool span_avx2_available() { return __builtin_cpu_supports("avx2"); }

void fill_span_kernels_avx2(SpanKernelTable* t) {
  // The SSE2 kernels finish each run.
  SpanKernelTable sse2{};
  fill_span_kernels_sse2(&sse2);
  g_sse2_alpha_blend = sse2.alpha_blend;
  g_sse2_alpha_blend_op = sse2.alpha_blend_op;
  g_sse2_lerp_rows = sse2.lerp_rows;
  t->lerp = lerp_avx2;
  t->alpha_blend = alpha_blend_avx2;
  t->alpha_blend_op = alpha_blend_op_avx2;
  t->lerp_rows = lerp_rows_avx2;
}

#else

bool span_avx2_available() { return false; }
void fill_span_kernels_avx2(SpanKernelTable*) {}

#endif
