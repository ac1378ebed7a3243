#include "plugins/theoralib/ycbcr_rows.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KL_YCBCR_X86 1
#endif

// The vector kernels work in 16 bits. With 298 = 256 + 42, 516 = 512 + 4,
// -208 = -256 + 48 and 409 = 256 + 153, each channel's sum splits into a
// multiple of 256 and a rest that fits 16 bits, and the shift of the sum is
// the shift of the rest plus the multiple's quotient:
//   b = Y + 2 Cb' + ((42 Y + 4 Cb' - 4640) >> 8)
//   g = Y - Cr'   + ((42 Y - 100 Cb' + 48 Cr' - 4640) >> 8)
//   r = Y + Cr'   + ((42 Y + 153 Cr' - 4640) >> 8)
// The rests stay within -24224 .. 25501 and the results within int16; the
// unsigned saturating pack is the clamp.

namespace {
inline std::uint32_t clamp8(int v) { return static_cast<std::uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

inline std::uint32_t pixel(int yv, int uv, int vv) {
  const int y = 298 * (yv - 16) + 128;
  const int u = uv - 128, v = vv - 128;
  return clamp8((y + 516 * u) >> 8) | clamp8((y - 100 * u - 208 * v) >> 8) << 8 | clamp8((y + 409 * v) >> 8) << 16 |
         0xFF000000u;
}
}  // namespace

void ycbcr_row_plain(std::uint32_t* out, const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                     int width, int xdec, int odd) {
  for (int x = 0; x < width; ++x) {
    const int c = (x + odd) >> xdec;
    out[x] = pixel(y[x], u[c], v[c]);
  }
}

void ycbcr_row_pair_plain(std::uint32_t* out0, std::uint32_t* out1, const std::uint8_t* y0, const std::uint8_t* y1,
                          const std::uint8_t* u, const std::uint8_t* v, int width, int xdec, int odd) {
  const YcbcrRowFn row = ycbcr_row_best();
  row(out0, y0, u, v, width, xdec, odd);
  row(out1, y1, u, v, width, xdec, odd);
}

#ifdef KL_YCBCR_X86
namespace {

// The three channels of 8 pixels (16-bit lanes) from luma and chroma
// already widened, Cb' and Cr' centred.
struct Channels128 {
  __m128i b, g, r;
};
inline Channels128 channels_sse2(__m128i yw, __m128i u, __m128i v) {
  const __m128i bias = _mm_set1_epi16(-4640);
  const __m128i y42 = _mm_add_epi16(_mm_mullo_epi16(yw, _mm_set1_epi16(42)), bias);
  Channels128 c;
  __m128i t = _mm_srai_epi16(_mm_add_epi16(y42, _mm_slli_epi16(u, 2)), 8);
  c.b = _mm_add_epi16(_mm_add_epi16(yw, _mm_add_epi16(u, u)), t);
  t = _mm_add_epi16(y42, _mm_add_epi16(_mm_mullo_epi16(u, _mm_set1_epi16(-100)), _mm_mullo_epi16(v, _mm_set1_epi16(48))));
  c.g = _mm_add_epi16(_mm_sub_epi16(yw, v), _mm_srai_epi16(t, 8));
  t = _mm_srai_epi16(_mm_add_epi16(y42, _mm_mullo_epi16(v, _mm_set1_epi16(153))), 8);
  c.r = _mm_add_epi16(_mm_add_epi16(yw, v), t);
  return c;
}

// 8 pixels' B, G, R (16-bit) packed and interleaved into two stores.
inline void store8_sse2(std::uint32_t* out, const Channels128& c) {
  const __m128i bg = _mm_packus_epi16(c.b, c.g);                     // b0..b7 g0..g7
  const __m128i ra = _mm_packus_epi16(c.r, _mm_set1_epi16(255));     // r0..r7 a0..a7
  const __m128i br = _mm_unpacklo_epi8(bg, ra);                       // b0 r0 .. b7 r7
  const __m128i ga = _mm_unpackhi_epi8(bg, ra);                       // g0 a0 .. g7 a7
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(br, ga));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi8(br, ga));
}

void row_sse2(std::uint32_t* out, const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int width,
              int xdec, int odd) {
  int x = 0;
  if (xdec && odd && width > 0) {
    // The first pixel ends a chroma pair; the rest start pairs.
    ycbcr_row_plain(out, y, u, v, 1, 1, 1);
    ++out, ++y, ++u, ++v;
    --width;
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = _mm_set1_epi16(128);
  for (; x + 8 <= width; x += 8) {
    const __m128i yw = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero);
    __m128i uw, vw;
    if (xdec) {
      // 4 chroma samples, each for two pixels.
      const int c = x >> 1;
      const __m128i u4 = _mm_cvtsi32_si128(static_cast<int>(u[c] | u[c + 1] << 8 | u[c + 2] << 16 |
                                                            static_cast<std::uint32_t>(u[c + 3]) << 24));
      const __m128i v4 = _mm_cvtsi32_si128(static_cast<int>(v[c] | v[c + 1] << 8 | v[c + 2] << 16 |
                                                            static_cast<std::uint32_t>(v[c + 3]) << 24));
      uw = _mm_unpacklo_epi8(_mm_unpacklo_epi8(u4, u4), zero);
      vw = _mm_unpacklo_epi8(_mm_unpacklo_epi8(v4, v4), zero);
    } else {
      uw = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x)), zero);
      vw = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x)), zero);
    }
    store8_sse2(out + x, channels_sse2(yw, _mm_sub_epi16(uw, c128), _mm_sub_epi16(vw, c128)));
  }
  if (x < width) ycbcr_row_plain(out + x, y + x, u + (x >> xdec), v + (x >> xdec), width - x, xdec, 0);
}

__attribute__((target("avx2"))) void row_avx2(std::uint32_t* out, const std::uint8_t* y, const std::uint8_t* u,
                                              const std::uint8_t* v, int width, int xdec, int odd) {
  int x = 0;
  if (xdec && odd && width > 0) {
    ycbcr_row_plain(out, y, u, v, 1, 1, 1);
    ++out, ++y, ++u, ++v;
    --width;
  }
  const __m256i c128 = _mm256_set1_epi16(128);
  const __m256i bias = _mm256_set1_epi16(-4640);
  const __m256i k42 = _mm256_set1_epi16(42), k100 = _mm256_set1_epi16(-100), k48 = _mm256_set1_epi16(48),
                k153 = _mm256_set1_epi16(153), alpha = _mm256_set1_epi16(255);
  for (; x + 16 <= width; x += 16) {
    const __m256i yw = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
    __m256i uw, vw;
    if (xdec) {
      // 8 chroma samples, each for two pixels.
      const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + (x >> 1)));
      const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + (x >> 1)));
      uw = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, u8));
      vw = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v8, v8));
    } else {
      uw = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x)));
      vw = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x)));
    }
    uw = _mm256_sub_epi16(uw, c128);
    vw = _mm256_sub_epi16(vw, c128);
    const __m256i y42 = _mm256_add_epi16(_mm256_mullo_epi16(yw, k42), bias);
    const __m256i b = _mm256_add_epi16(_mm256_add_epi16(yw, _mm256_add_epi16(uw, uw)),
                                       _mm256_srai_epi16(_mm256_add_epi16(y42, _mm256_slli_epi16(uw, 2)), 8));
    const __m256i gt =
        _mm256_add_epi16(y42, _mm256_add_epi16(_mm256_mullo_epi16(uw, k100), _mm256_mullo_epi16(vw, k48)));
    const __m256i g = _mm256_add_epi16(_mm256_sub_epi16(yw, vw), _mm256_srai_epi16(gt, 8));
    const __m256i r = _mm256_add_epi16(_mm256_add_epi16(yw, vw),
                                       _mm256_srai_epi16(_mm256_add_epi16(y42, _mm256_mullo_epi16(vw, k153)), 8));
    // Per 128-bit lane (pixels 0-7, then 8-15): b g packed, r a packed,
    // interleaved into B, G, R, A; the lanes' halves are put in order.
    const __m256i bg = _mm256_packus_epi16(b, g);
    const __m256i ra = _mm256_packus_epi16(r, alpha);
    const __m256i br = _mm256_unpacklo_epi8(bg, ra);
    const __m256i ga = _mm256_unpackhi_epi8(bg, ra);
    const __m256i lo = _mm256_unpacklo_epi8(br, ga);  // pixels 0-3 | 8-11
    const __m256i hi = _mm256_unpackhi_epi8(br, ga);  // pixels 4-7 | 12-15
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  if (x < width) row_sse2(out + x, y + x, u + (x >> xdec), v + (x >> xdec), width - x, xdec, 0);
}

// The chroma terms of 16 pixels with the bias folded in: the rests' chroma
// parts (kb, kg, kr) and the multiples' (Cb' twice for blue; -Cr' and Cr'
// for green and red come from v itself).
struct ChromaTerms256 {
  __m256i kb, lb, kg, kr, v;
};

__attribute__((target("avx2"))) inline ChromaTerms256 chroma_avx2(__m256i uw, __m256i vw) {
  const __m256i c128 = _mm256_set1_epi16(128), bias = _mm256_set1_epi16(-4640);
  uw = _mm256_sub_epi16(uw, c128);
  vw = _mm256_sub_epi16(vw, c128);
  ChromaTerms256 t;
  t.kb = _mm256_add_epi16(_mm256_slli_epi16(uw, 2), bias);
  t.lb = _mm256_add_epi16(uw, uw);
  t.kg = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(uw, _mm256_set1_epi16(-100)),
                                           _mm256_mullo_epi16(vw, _mm256_set1_epi16(48))),
                          bias);
  t.kr = _mm256_add_epi16(_mm256_mullo_epi16(vw, _mm256_set1_epi16(153)), bias);
  t.v = vw;
  return t;
}

__attribute__((target("avx2"))) inline void luma16_avx2(std::uint32_t* out, const std::uint8_t* y,
                                                        const ChromaTerms256& t) {
  const __m256i yw = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
  const __m256i y42 = _mm256_mullo_epi16(yw, _mm256_set1_epi16(42));
  const __m256i b = _mm256_add_epi16(_mm256_add_epi16(yw, t.lb), _mm256_srai_epi16(_mm256_add_epi16(y42, t.kb), 8));
  const __m256i g = _mm256_add_epi16(_mm256_sub_epi16(yw, t.v), _mm256_srai_epi16(_mm256_add_epi16(y42, t.kg), 8));
  const __m256i r = _mm256_add_epi16(_mm256_add_epi16(yw, t.v), _mm256_srai_epi16(_mm256_add_epi16(y42, t.kr), 8));
  const __m256i bg = _mm256_packus_epi16(b, g);
  const __m256i ra = _mm256_packus_epi16(r, _mm256_set1_epi16(255));
  const __m256i br = _mm256_unpacklo_epi8(bg, ra);
  const __m256i ga = _mm256_unpackhi_epi8(bg, ra);
  const __m256i lo = _mm256_unpacklo_epi8(br, ga);
  const __m256i hi = _mm256_unpackhi_epi8(br, ga);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(lo, hi, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
}

__attribute__((target("avx2"))) void row_pair_avx2(std::uint32_t* out0, std::uint32_t* out1, const std::uint8_t* y0,
                                                   const std::uint8_t* y1, const std::uint8_t* u,
                                                   const std::uint8_t* v, int width, int xdec, int odd) {
  if (xdec && odd && width > 0) {
    ycbcr_row_plain(out0, y0, u, v, 1, 1, 1);
    ycbcr_row_plain(out1, y1, u, v, 1, 1, 1);
    ++out0, ++out1, ++y0, ++y1, ++u, ++v;
    --width;
  }
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    __m256i uw, vw;
    if (xdec) {
      const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + (x >> 1)));
      const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + (x >> 1)));
      uw = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, u8));
      vw = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v8, v8));
    } else {
      uw = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x)));
      vw = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x)));
    }
    const ChromaTerms256 t = chroma_avx2(uw, vw);
    luma16_avx2(out0 + x, y0 + x, t);
    luma16_avx2(out1 + x, y1 + x, t);
  }
  if (x < width) {
    row_sse2(out0 + x, y0 + x, u + (x >> xdec), v + (x >> xdec), width - x, xdec, 0);
    row_sse2(out1 + x, y1 + x, u + (x >> xdec), v + (x >> xdec), width - x, xdec, 0);
  }
}

}  // namespace

YcbcrRowPairFn ycbcr_row_pair_avx2() { return __builtin_cpu_supports("avx2") ? row_pair_avx2 : nullptr; }
YcbcrRowFn ycbcr_row_sse2() { return row_sse2; }
YcbcrRowFn ycbcr_row_avx2() { return __builtin_cpu_supports("avx2") ? row_avx2 : nullptr; }
#else
YcbcrRowPairFn ycbcr_row_pair_avx2() { return nullptr; }
YcbcrRowFn ycbcr_row_sse2() { return nullptr; }
YcbcrRowFn ycbcr_row_avx2() { return nullptr; }
#endif

YcbcrRowFn ycbcr_row_best() {
  if (YcbcrRowFn f = ycbcr_row_avx2()) return f;
  if (YcbcrRowFn f = ycbcr_row_sse2()) return f;
  return ycbcr_row_plain;
}

YcbcrRowPairFn ycbcr_row_pair_best() {
  if (YcbcrRowPairFn f = ycbcr_row_pair_avx2()) return f;
  return ycbcr_row_pair_plain;
}
