// The resample bands that the pixel workers run: nearest neighbour (job 11),
// sharpened bilinear (jobs 21 and 29) and supersampled bilinear (job 41).
// Each band covers destination rows [dst_row_first, dst_row_end); columns
// outside [dst_col_first, dst_col_end) are cleared. A row or column whose
// source lies outside the image is cleared too, and the right and lower
// neighbours of a bilinear tap stay inside the image (at the last column or
// row they are that column or row).
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/image/pixel_workers.h"
#include "engine/image/resample.h"
#include "engine/image/resample_positions.h"

namespace {

void clear_pixels(u32* p, i32 count) {
  if (count > 0) std::memset(p, 0, static_cast<size_t>(count) * 4);
}

void clear_outside_columns(u32* row, const PixelJob& job) {
  const i32 first = job.dst_col_first < 0 ? 0 : (job.dst_col_first > job.dst_width ? job.dst_width : job.dst_col_first);
  const i32 end = job.dst_col_end < first ? first : (job.dst_col_end > job.dst_width ? job.dst_width : job.dst_col_end);
  clear_pixels(row, first);
  clear_pixels(row + end, job.dst_width - end);
}

void run_nearest(const PixelJob& job) {
  for (i32 r = job.dst_row_first; r < job.dst_row_end; ++r) {
    u32* row = job.dst_pixels + static_cast<i64>(r) * job.dst_width;
    const i64 sy = i64{job.src_y_origin} + g_resample_row_map[r];
    if (sy < 0 || sy >= job.src_height) {
      clear_pixels(row, job.dst_width);
      continue;
    }
    clear_outside_columns(row, job);
    const u32* src_row = job.src_pixels + static_cast<i64>(sy) * job.src_width;
    for (i32 x = job.dst_col_first; x < job.dst_col_end; ++x) {
      const i64 sx = i64{job.src_x_origin} + g_resample_column_map[x];
      row[x] = (sx >= 0 && sx < job.src_width) ? src_row[sx] : 0;
    }
  }
}

// Rows come from the window's vertical positions with the fraction
// sharpened through the row table, as the calling-thread form does.
void run_bilinear(const PixelJob& job, const i32* column_map, const u16* column_weights) {
  const i32 dst_h = job.dst_span / 100;
  const i32 x_base = job.src_x_origin / 100;
  const size_t pitch = static_cast<size_t>(job.src_width) * 4;
  const u8* src = reinterpret_cast<const u8*>(job.src_pixels);
  for (i32 r = job.dst_row_first; r < job.dst_row_end; ++r) {
    u32* row = job.dst_pixels + static_cast<i64>(r) * job.dst_width;
    const i64 y = bilinear_absolute(r, job.src_y_origin, job.src_span_end, dst_h, 0);
    const i32 sy = position_pixel(y);
    if (sy < 0 || sy >= job.src_height) {
      clear_pixels(row, job.dst_width);
      continue;
    }
    clear_outside_columns(row, job);
    const i32 fy = g_sharpen_rows[position_fraction(y)];
    const i32 sy2 = sy + 1 < job.src_height ? sy + 1 : sy;
    const u8* r0 = src + sy * pitch;
    const u8* r1 = src + sy2 * pitch;
    u8* out = reinterpret_cast<u8*>(row);
    for (i32 x = job.dst_col_first; x < job.dst_col_end; ++x) {
      const i64 lcol = i64{x_base} + column_map[x] / 4;
      if (lcol < 0 || lcol >= job.src_width) {
        row[x] = 0;
        continue;
      }
      const size_t lo = static_cast<size_t>(lcol) * 4;
      const i32 fx = column_weights[4 * x];
#if defined(__SSE2__)
      if (lcol + 1 < job.src_width) {
        // Both pixels of a row in one 8-byte load: lanes 0-3 the left pixel
        // weighted 256 - fx, lanes 4-7 the right one weighted fx; the row
        // weights go through the high half of 16 x 16-bit products, which is
        // exactly the >> 16 of the scalar form.
        const __m128i z = _mm_setzero_si128();
        const __m128i wx = _mm_unpacklo_epi64(_mm_set1_epi16(static_cast<short>(256 - fx)), _mm_set1_epi16(static_cast<short>(fx)));
        const __m128i ta = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r0 + lo)), z), wx);
        const __m128i tb = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r1 + lo)), z), wx);
        const __m128i top = _mm_add_epi16(ta, _mm_srli_si128(ta, 8));
        const __m128i bot = _mm_add_epi16(tb, _mm_srli_si128(tb, 8));
        const __m128i v = _mm_add_epi16(_mm_mulhi_epu16(top, _mm_set1_epi16(static_cast<short>(256 - fy))),
                                        _mm_mulhi_epu16(bot, _mm_set1_epi16(static_cast<short>(fy))));
        const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(v, v));
        std::memcpy(out + 4 * x, &packed, 4);
        continue;
      }
#endif
      const size_t ro = lcol + 1 < job.src_width ? lo + 4 : lo;
      for (int c = 0; c < 4; ++c) {
        const i32 top = r0[lo + c] * (256 - fx) + r0[ro + c] * fx;
        const i32 bot = r1[lo + c] * (256 - fx) + r1[ro + c] * fx;
        const i32 v = ((top * (256 - fy)) >> 16) + ((bot * fy) >> 16);
        out[4 * x + c] = static_cast<u8>(v > 255 ? 255 : v);
      }
    }
  }
}

// One bilinear sample at (xp, yp) in 1/256 pixel, taps kept inside.
inline void bilinear_sample(const u8* src, i32 w, i32 h, i64 xp, i64 yp, i32 out[4]) {
  i32 lx = position_pixel(xp), ty = position_pixel(yp);
  const i32 fx = position_fraction(xp), fy = position_fraction(yp);
  lx = lx < 0 ? 0 : (lx >= w ? w - 1 : lx);
  ty = ty < 0 ? 0 : (ty >= h ? h - 1 : ty);
  const i32 rx = lx + 1 < w ? lx + 1 : lx;
  const i32 by = ty + 1 < h ? ty + 1 : ty;
  const size_t pitch = static_cast<size_t>(w) * 4;
  const u8* a = src + ty * pitch;
  const u8* b = src + by * pitch;
  for (int c = 0; c < 4; ++c) {
    const i32 top = (a[lx * 4 + c] * (256 - fx) + a[rx * 4 + c] * fx) >> 8;
    const i32 bot = (b[lx * 4 + c] * (256 - fx) + b[rx * 4 + c] * fx) >> 8;
    const i32 v = (top * (256 - fy) + bot * fy) >> 8;
    out[c] = v > 255 ? 255 : v;
  }
}

// Four bilinear samples a destination pixel: at its position and half a
// destination pixel further right and down. Rows are taken from the
// window's origin (the source-y origin is added like the other jobs do).
void run_supersample(const PixelJob& job) {
  const i32 dst_h = job.dst_span / 100;
  const u8* src = reinterpret_cast<const u8*>(job.src_pixels);
  for (i32 r = job.dst_row_first; r < job.dst_row_end; ++r) {
    u32* row = job.dst_pixels + static_cast<i64>(r) * job.dst_width;
    const i64 ya = bilinear_absolute(r, job.src_y_origin, job.src_span_end, dst_h, 0);
    i64 yb = bilinear_absolute(r, job.src_y_origin, job.src_span_end, dst_h, 128);
    if (position_pixel(ya) < 0 || position_pixel(ya) >= job.src_height) {
      clear_pixels(row, job.dst_width);
      continue;
    }
    if (position_pixel(yb) >= job.src_height - 1) yb = ya;
    clear_outside_columns(row, job);
    u8* out = reinterpret_cast<u8*>(row);
#if defined(__SSE2__)
    // Rows of the two vertical sample positions and their weights.
    const size_t pitch = static_cast<size_t>(job.src_width) * 4;
    auto row_of = [&](i64 y, int below) {
      i32 t = position_pixel(y) + below;
      t = t < 0 ? 0 : (t >= job.src_height ? job.src_height - 1 : t);
      return src + t * pitch;
    };
    const u8* ra0 = row_of(ya, 0);
    const u8* ra1 = row_of(ya, 1);
    const u8* rb0 = row_of(yb, 0);
    const u8* rb1 = row_of(yb, 1);
    const __m128i z = _mm_setzero_si128();
    const __m128i wya0 = _mm_set1_epi16(static_cast<short>(256 - position_fraction(ya)));
    const __m128i wya1 = _mm_set1_epi16(static_cast<short>(position_fraction(ya)));
    const __m128i wyb0 = _mm_set1_epi16(static_cast<short>(256 - position_fraction(yb)));
    const __m128i wyb1 = _mm_set1_epi16(static_cast<short>(position_fraction(yb)));
    // One bilinear sample in lanes 0-3, the same arithmetic as bilinear_sample:
    // every product stays within 16 unsigned bits.
    auto sample = [&](const u8* r0, const u8* r1, size_t lo, __m128i wx, __m128i wy0, __m128i wy1) {
      __m128i a = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r0 + lo)), z), wx);
      __m128i b = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r1 + lo)), z), wx);
      a = _mm_srli_epi16(_mm_add_epi16(a, _mm_srli_si128(a, 8)), 8);
      b = _mm_srli_epi16(_mm_add_epi16(b, _mm_srli_si128(b, 8)), 8);
      return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wy0), _mm_mullo_epi16(b, wy1)), 8);
    };
#endif
    for (i32 x = job.dst_col_first; x < job.dst_col_end; ++x) {
      const i64 xa = g_resample_column_map[2 * x];
      const i64 xb = g_resample_column_map[2 * x + 1];
      if (position_pixel(xa) < 0 || position_pixel(xa) >= job.src_width) {
        row[x] = 0;
        continue;
      }
#if defined(__SSE2__)
      const i32 la = position_pixel(xa);
      const i32 lb = position_pixel(xb) < 0 ? 0 : position_pixel(xb);
      if (la + 1 < job.src_width && lb + 1 < job.src_width) {
        const i32 fa = position_fraction(xa), fb = position_fraction(xb);
        const __m128i wxa = _mm_unpacklo_epi64(_mm_set1_epi16(static_cast<short>(256 - fa)), _mm_set1_epi16(static_cast<short>(fa)));
        const __m128i wxb = _mm_unpacklo_epi64(_mm_set1_epi16(static_cast<short>(256 - fb)), _mm_set1_epi16(static_cast<short>(fb)));
        const size_t oa = static_cast<size_t>(la) * 4, ob = static_cast<size_t>(lb) * 4;
        // (a + b + 1) >> 1 is the rounding average of 16-bit lanes.
        const __m128i left = _mm_avg_epu16(sample(ra0, ra1, oa, wxa, wya0, wya1), sample(rb0, rb1, oa, wxa, wyb0, wyb1));
        const __m128i right = _mm_avg_epu16(sample(ra0, ra1, ob, wxb, wya0, wya1), sample(rb0, rb1, ob, wxb, wyb0, wyb1));
        const __m128i v = _mm_avg_epu16(left, right);
        const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(v, v));
        std::memcpy(out + 4 * x, &packed, 4);
        continue;
      }
#endif
      i32 s00[4], s01[4], s10[4], s11[4];
      bilinear_sample(src, job.src_width, job.src_height, xa, ya, s00);
      bilinear_sample(src, job.src_width, job.src_height, xa, yb, s01);
      bilinear_sample(src, job.src_width, job.src_height, xb, ya, s10);
      bilinear_sample(src, job.src_width, job.src_height, xb, yb, s11);
      for (int c = 0; c < 4; ++c) {
        const i32 left = (s00[c] + s01[c] + 1) >> 1;
        const i32 right = (s10[c] + s11[c] + 1) >> 1;
        out[4 * x + c] = static_cast<u8>((left + right + 1) >> 1);
      }
    }
  }
}

}  // namespace

void run_resample_job(const PixelJob& job) {
  if (!job.dst_pixels || !job.src_pixels || job.dst_width <= 0 || job.src_width <= 0 || job.src_height <= 0) return;
  switch (job.code) {
    case kPixelJobNearest: run_nearest(job); break;
    case kPixelJobBilinear: run_bilinear(job, g_resample_column_map, g_resample_column_weights); break;
    case kPixelJobBilinear2: run_bilinear(job, g_resample_column_map2, g_resample_column_weights2); break;
    case kPixelJobSupersample: run_supersample(job); break;
    default: break;
  }
}
