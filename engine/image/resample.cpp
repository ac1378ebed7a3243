// Resampling: position tables, the scalers, resize_layer and the canvas
// margins.
#include "engine/image/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/resample_positions.h"
#include "engine/image/span_kernels.h"
#include "engine/vm/object_tree.h"

i32 g_resample_row_map[kResampleTableSize];
i32 g_resample_column_map[kResampleTableSize];
u16 g_resample_column_weights[4 * kResampleTableSize];
i32 g_resample_column_map2[kResampleTableSize];
u16 g_resample_column_weights2[4 * kResampleTableSize];
u8 g_sharpen_columns[256];
u8 g_sharpen_rows[256];

namespace {

constexpr u32 kErrorImageTooLarge = 100010;
constexpr u32 kErrorNoMemory = 104030;
constexpr const char* kBadResizeText = "リサイズ後のサイズが不正です。";

void clear_rows(u32* dst, i32 dst_w, i32 first, i32 end) {
  if (end > first) std::memset(dst + static_cast<i64>(first) * dst_w, 0, static_cast<size_t>(end - first) * dst_w * 4);
}

// The valid range [*first, *end) of a monotonic run of source indices.
template <class SourceOf>
void valid_range(i32 count, i32 limit, SourceOf source_of, i32* first, i32* end) {
  *first = 0;
  *end = 0;
  i32 i = 0;
  while (i < count && (source_of(i) < 0 || source_of(i) >= limit)) ++i;
  *first = i;
  i32 j = count;
  while (j > i && (source_of(j - 1) < 0 || source_of(j - 1) >= limit)) --j;
  *end = j;
}

struct BandPost {
  PixelJob base;
  i32 first, end;
};

// Worker i of N takes rows first + (end - first) i / N to first + (end - first) (i + 1) / N.
void fill_band(PixelJob* job, int worker, int count, void* ctx) {
  const BandPost& p = *static_cast<const BandPost*>(ctx);
  *job = p.base;
  i32 a, b;
  pixel_band_rows(p.end - p.first, worker, count, &a, &b);
  job->dst_row_first = p.first + a;
  job->dst_row_end = p.first + b;
}

// Clears the rows outside [first, end) and posts the rest as bands.
void post_bands(const PixelJob& base, i32 first, i32 end, i32 dst_h) {
  clear_rows(base.dst_pixels, base.dst_width, 0, first);
  clear_rows(base.dst_pixels, base.dst_width, end > first ? end : first, dst_h);
  if (end <= first) return;
  BandPost p{base, first, end};
  post_pixel_job_sized(fill_band, &p, i64{end - first} * base.dst_width);
}

// Builds the bilinear column tables: byte offsets from column x0 / 100 and
// the (sharpened) fraction in four 16-bit lanes.
void build_bilinear_columns(i32 x0, i32 x1, i32 dst_w, const u8* sharpen, i32* map, u16* weights) {
  for (i32 x = 0; x < dst_w; ++x) {
    const i64 p = bilinear_position(x, x0, x1, dst_w, 0);
    map[x] = position_pixel(p) * 4;
    const u16 f = sharpen[position_fraction(p)];
    for (int k = 0; k < 4; ++k) weights[4 * x + k] = f;
  }
}

// The source window and the images, as every band of a filtered job has them.
void set_window_fields(PixelJob* job, u32* dst, const u32* src, i32 x0, i32 y0, i32 y1, i32 src_w, i32 src_h,
                       i32 dst_w, i32 dst_h) {
  job->src_x_origin = x0;
  job->src_y_origin = y0;
  job->src_span_end = y1;
  job->src_width = src_w;
  job->src_height = src_h;
  job->dst_width = dst_w;
  job->dst_span = dst_h * 100;
  job->dst_pixels = dst;
  job->src_pixels = src;
}

void bilinear(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w, i32 dst_h,
              bool threaded) {
  if (!dst || dst_w <= 0 || dst_h <= 0) return;
  if (dst_w > 8192 || dst_h > 8192 || !src || src_w <= 0 || src_h <= 0) {
    clear_rows(dst, dst_w, 0, dst_h);
    return;
  }
  build_sharpen_tables();
  PixelJobsLockGuard lock;
  build_bilinear_columns(x0, x1, dst_w, g_sharpen_columns, g_resample_column_map, g_resample_column_weights);
  PixelJob base{};
  base.code = kPixelJobBilinear;
  valid_range(dst_w, src_w, [&](i32 x) { return i64{x0 / 100} + g_resample_column_map[x] / 4; }, &base.dst_col_first,
              &base.dst_col_end);
  set_window_fields(&base, dst, src, x0, y0, y1, src_w, src_h, dst_w, dst_h);
  i32 first, end;
  valid_range(dst_h, src_h, [&](i32 r) { return position_pixel(bilinear_absolute(r, y0, y1, dst_h, 0)); }, &first, &end);
  if (threaded) {
    post_bands(base, first, end, dst_h);
  } else {
    clear_rows(dst, dst_w, 0, first);
    clear_rows(dst, dst_w, end > first ? end : first, dst_h);
    base.dst_row_first = first;
    base.dst_row_end = end;
    run_resample_job(base);
  }
}

// Bicubic kernel (a = -1) over distances i / 256, i = 0..512.
struct BicubicTable {
  i32 k[513];
  BicubicTable() {
    for (int i = 0; i <= 512; ++i) {
      const double t = i / 256.0;
      const double v = t <= 1 ? 1 - 2 * t * t + t * t * t : 4 - 8 * t + 5 * t * t - t * t * t;
      k[i] = static_cast<i32>(std::lround(256 * v));
    }
  }
};
const BicubicTable& bicubic_table() {
  static const BicubicTable t;
  return t;
}

// Rows (or columns) of the bicubic scaler: ((j * 65536) / n) * (a1 - a0 + 1)
// >> 8 in 1/256 pixel from a0 (whole pixels).
i64 bicubic_position(i64 j, i32 a0, i32 a1, i32 n) {
  return ((j * 65536) / n) * (static_cast<i64>(a1) - a0 + 1) >> 8;
}

inline u8 clamp_channel(i64 v) { return static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

LayerImage* layer_of(ObjectNode* node) {
  if (!node || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

}  // namespace

void build_sharpen_tables() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int f = 0; f < 256; ++f) {
      int v = static_cast<int>(std::trunc(1.25 * (f - 128) + 128));
      v = v < 0 ? 0 : (v > 255 ? 255 : v);
      g_sharpen_columns[f] = static_cast<u8>(v);
      g_sharpen_rows[f] = static_cast<u8>(v);
    }
  });
}

void scale_nearest_threaded(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                            i32 dst_w, i32 dst_h) {
  if (!dst || dst_w <= 0 || dst_h <= 0) return;
  if (dst_w > 8192 || dst_h > 8192 || !src || src_w <= 0 || src_h <= 0) {
    clear_rows(dst, dst_w, 0, dst_h);
    return;
  }
  PixelJobsLockGuard lock;
  // 16.16 steps in 64 bits: (extent * 65536) overflows 32 bits past 32767.
  const i64 step_x = ((static_cast<i64>(x1) - x0 + 1) * 65536) / dst_w;
  const i64 step_y = ((static_cast<i64>(y1) - y0 + 1) * 65536) / dst_h;
  i64 sum = 0;
  for (i32 i = 0; i < dst_w; ++i, sum += step_x) g_resample_column_map[i] = static_cast<i32>(sum >> 16);
  sum = 0;
  for (i32 i = 0; i < dst_h; ++i, sum += step_y) g_resample_row_map[i] = static_cast<i32>(sum >> 16);
  PixelJob base{};
  base.code = kPixelJobNearest;
  valid_range(dst_w, src_w, [&](i32 x) { return i64{x0} + g_resample_column_map[x]; }, &base.dst_col_first, &base.dst_col_end);
  base.src_x_origin = x0;
  base.src_y_origin = y0;
  base.src_width = src_w;
  base.src_height = src_h;
  base.dst_width = dst_w;
  base.dst_pixels = dst;
  base.src_pixels = src;
  i32 first, end;
  valid_range(dst_h, src_h, [&](i32 r) { return i64{y0} + g_resample_row_map[r]; }, &first, &end);
  post_bands(base, first, end, dst_h);
}

void scale_bilinear(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                    i32 dst_h) {
  bilinear(dst, src, x0, y0, x1, y1, src_w, src_h, dst_w, dst_h, false);
}

void scale_bilinear_threaded(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                             i32 dst_w, i32 dst_h) {
  bilinear(dst, src, x0, y0, x1, y1, src_w, src_h, dst_w, dst_h, true);
}

void scale_bilinear_present(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                            i32 dst_w, i32 dst_h) {
  bilinear(dst, src, x0, y0, x1, y1, src_w, src_h, dst_w, dst_h, true);
}

void resample_threaded(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                       i32 dst_h) {
  if (!dst || dst_w <= 0 || dst_h <= 0) return;
  if (dst_w > 8192 || dst_h > 8192 || !src || src_w <= 0 || src_h <= 0) {
    clear_rows(dst, dst_w, 0, dst_h);
    return;
  }
  PixelJobsLockGuard lock;
  for (i32 x = 0; x < dst_w; ++x) {
    g_resample_column_map[2 * x] = static_cast<i32>(bilinear_absolute(x, x0, x1, dst_w, 0));
    g_resample_column_map[2 * x + 1] = static_cast<i32>(bilinear_absolute(x, x0, x1, dst_w, 128));
  }
  PixelJob base{};
  base.code = kPixelJobSupersample;
  valid_range(dst_w, src_w, [&](i32 x) { return position_pixel(g_resample_column_map[2 * x]); }, &base.dst_col_first,
              &base.dst_col_end);
  set_window_fields(&base, dst, src, x0, y0, y1, src_w, src_h, dst_w, dst_h);
  i32 first, end;
  valid_range(dst_h, src_h, [&](i32 r) { return position_pixel(bilinear_absolute(r, y0, y1, dst_h, 0)); }, &first, &end);
  post_bands(base, first, end, dst_h);
}

// 4 x 4 taps from base - 1 to base + 2 weighted K[dy] K[dx] / 256. Taps
// outside the image (by column and row, so an edge never reads the
// neighbouring row) are skipped.
void scale_bicubic(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                   i32 dst_h) {
  if (!dst || dst_w <= 0 || dst_h <= 0) return;
  if (dst_w > 8192 || dst_h > 8192 || !src || src_w <= 0 || src_h <= 0) {
    clear_rows(dst, dst_w, 0, dst_h);
    return;
  }
  const i32* K = bicubic_table().k;
  PixelJobsLockGuard lock;
  for (i32 x = 0; x < dst_w; ++x) g_resample_column_map[x] = static_cast<i32>(bicubic_position(x, x0, x1, dst_w));
  for (i32 y = 0; y < dst_h; ++y) g_resample_row_map[y] = static_cast<i32>(bicubic_position(y, y0, y1, dst_h));
  // The four tap weights of every column, and of the current row.
  struct Taps {
    i64 base;
    i32 k[4];
  };
  std::vector<Taps> cols(static_cast<size_t>(dst_w));
  for (i32 x = 0; x < dst_w; ++x) {
    const i32 fx = position_fraction(g_resample_column_map[x]);
    cols[x].base = i64{x0} + position_pixel(g_resample_column_map[x]);
    for (int t = 0; t < 4; ++t) cols[x].k[t] = K[std::abs(256 * (t - 1) - fx)];
  }
  const u8* s = reinterpret_cast<const u8*>(src);
  for (i32 y = 0; y < dst_h; ++y) {
    u32* row = dst + static_cast<i64>(y) * dst_w;
    const i64 by = i64{y0} + position_pixel(g_resample_row_map[y]);
    const i32 fy = position_fraction(g_resample_row_map[y]);
    if (by < 0 || by >= src_h) {
      std::memset(row, 0, static_cast<size_t>(dst_w) * 4);
      continue;
    }
    i32 ky[4];
    for (int t = 0; t < 4; ++t) ky[t] = K[std::abs(256 * (t - 1) - fy)];
    for (i32 x = 0; x < dst_w; ++x) {
      const Taps& c = cols[x];
      const i64 bx = c.base;
      if (bx < 0 || bx >= src_w) {
        row[x] = 0;
        continue;
      }
#if defined(__SSE2__)
      if (bx >= 1 && bx + 2 < src_w && by >= 1 && by + 2 < src_h) {
        // Inside the image: the four taps of a row are one 16-byte load,
        // multiplied in pairs (madd), the four channels summed in 32-bit
        // lanes. The quotient goes through single precision: both operands
        // are exact there (|sum| < 2^21, weight sum at most 4096), and a
        // quotient that is not whole lies at least 1 / 4096 from the next
        // whole number, far more than the rounding error, so the truncation
        // gives the integer quotient.
        const __m128i z = _mm_setzero_si128();
        __m128i acc = _mm_setzero_si128();
        i32 wsum = 0;
        for (int ty = 0; ty < 4; ++ty) {
          const i32 w0 = (ky[ty] * c.k[0]) / 256, w1 = (ky[ty] * c.k[1]) / 256;
          const i32 w2 = (ky[ty] * c.k[2]) / 256, w3 = (ky[ty] * c.k[3]) / 256;
          wsum += w0 + w1 + w2 + w3;
          const __m128i v = _mm_loadu_si128(
              reinterpret_cast<const __m128i*>(s + (static_cast<size_t>(by - 1 + ty) * src_w + static_cast<size_t>(bx - 1)) * 4));
          const __m128i lo = _mm_unpacklo_epi8(v, z), hi = _mm_unpackhi_epi8(v, z);
          const __m128i p01 = _mm_unpacklo_epi16(lo, _mm_srli_si128(lo, 8));
          const __m128i p23 = _mm_unpacklo_epi16(hi, _mm_srli_si128(hi, 8));
          acc = _mm_add_epi32(acc, _mm_madd_epi16(p01, _mm_set_epi16(static_cast<short>(w1), static_cast<short>(w0),
                                                                     static_cast<short>(w1), static_cast<short>(w0),
                                                                     static_cast<short>(w1), static_cast<short>(w0),
                                                                     static_cast<short>(w1), static_cast<short>(w0))));
          acc = _mm_add_epi32(acc, _mm_madd_epi16(p23, _mm_set_epi16(static_cast<short>(w3), static_cast<short>(w2),
                                                                     static_cast<short>(w3), static_cast<short>(w2),
                                                                     static_cast<short>(w3), static_cast<short>(w2),
                                                                     static_cast<short>(w3), static_cast<short>(w2))));
        }
        if (wsum == 0) wsum = 1;
        const __m128i q = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(acc), _mm_set1_ps(static_cast<float>(wsum))));
        const __m128i q16 = _mm_packs_epi32(q, q);
        row[x] = static_cast<u32>(_mm_cvtsi128_si32(_mm_packus_epi16(q16, q16)));
        continue;
      }
#endif
      // Sums stay within 32 bits: 16 taps of 255 x 256 at most.
      i32 sum[4] = {0, 0, 0, 0};
      i32 wsum = 0;
      for (int ty = 0; ty < 4; ++ty) {
        const i64 sy = by - 1 + ty;
        if (sy < 0 || sy >= src_h) continue;
        const u8* line = s + static_cast<size_t>(sy) * src_w * 4;
        for (int tx = 0; tx < 4; ++tx) {
          const i64 sx = bx - 1 + tx;
          if (sx < 0 || sx >= src_w) continue;
          const i32 w = (ky[ty] * c.k[tx]) / 256;
          const u8* p = line + sx * 4;
          sum[0] += p[0] * w;
          sum[1] += p[1] * w;
          sum[2] += p[2] * w;
          sum[3] += p[3] * w;
          wsum += w;
        }
      }
      if (wsum == 0) wsum = 1;
      u8* out = reinterpret_cast<u8*>(row + x);
      for (int ch = 0; ch < 4; ++ch) out[ch] = clamp_channel(sum[ch] / wsum);
    }
  }
}

double sinc(double x) {
  constexpr double kPi = 3.1415927410125732;  // single-precision pi
  if (x == 0) return 1;
  return std::sin(kPi * x) / (kPi * x);
}

double lanczos2(double x) { return std::fabs(x) < 2 ? sinc(x) * sinc(x * 0.5) : 0; }

void set_resample_factors(FilterAxis* axis, i32 src_n, i32 dst_n) {
  // A single pixel on either side has no "n - 1" span: the ratio of the
  // sizes is used (a 1-pixel destination would otherwise divide by zero).
  if (src_n > 1 && dst_n > 1)
    axis->ratio = static_cast<double>(dst_n - 1) / (src_n - 1);
  else
    axis->ratio = static_cast<double>(dst_n) / (src_n > 0 ? src_n : 1);
  // Narrow the kernel when shrinking only; enlarging keeps lanczos2's own
  // width (narrowing it there puts whole-ratio positions on its zeros).
  axis->scale = axis->ratio < 1 ? axis->ratio : 1;
  axis->support = 2 / axis->scale;
  axis->taps = static_cast<int>(1 + 2 * axis->support) + 3;
}

int build_resample_weights(FilterAxis* axis, i32 dst_n) {
  free_resample_weights(axis);
  axis->positions = dst_n + 1;
  const size_t cells = static_cast<size_t>(axis->positions) * axis->taps;
  axis->lo = static_cast<i32*>(std::malloc(sizeof(i32) * axis->positions));
  axis->hi = static_cast<i32*>(std::malloc(sizeof(i32) * axis->positions));
  axis->weights = static_cast<i32*>(std::calloc(cells, sizeof(i32)));
  if (!axis->lo || !axis->hi || !axis->weights) {
    free_resample_weights(axis);
    return -1;
  }
  for (i32 i = 0; i < axis->positions; ++i) {
    const double c = i / axis->ratio;
    i32 lo = static_cast<i32>(std::floor(c - axis->support));
    i32 hi = static_cast<i32>(std::ceil(c + axis->support));
    if (hi - lo + 1 > axis->taps) hi = lo + axis->taps - 1;
    axis->lo[i] = lo;
    axis->hi[i] = hi;
    for (i32 j = lo; j <= hi; ++j)
      axis->weights[static_cast<size_t>(i) * axis->taps + (j - lo)] =
          static_cast<i32>(65536.0 * axis->scale * lanczos2(axis->scale * (c - j)));
  }
  return 0;
}

void free_resample_weights(FilterAxis* axis) {
  std::free(axis->lo);
  std::free(axis->hi);
  std::free(axis->weights);
  axis->lo = axis->hi = axis->weights = nullptr;
}

namespace {

// Tap j of an axis of n pixels: below 0 mirrored to -j, at or past n to
// 2n - j - 1, then kept inside 0..n-1 (a support longer than the axis
// mirrors past the far end).
inline i32 mirror_tap(i32 j, i32 n) {
  i32 k = j < 0 ? -j : (j >= n ? 2 * n - j - 1 : j);
  return k < 0 ? 0 : (k >= n ? n - 1 : k);
}

// Truncating division by a fixed positive divisor through a multiply and a
// shift (exact for numerators below 2^31 in magnitude); anything else goes
// through the plain division.
struct Divider {
  i64 d = 1;
  u64 m = 0;
  int k = 0;
  explicit Divider(i64 divisor) : d(divisor == 0 ? 1 : divisor) {
    if (d <= 0 || d >= (i64{1} << 31)) return;
    int l = 0;
    while ((i64{1} << l) < d) ++l;
    k = 31 + l;
    m = ((u64{1} << k) + static_cast<u64>(d) - 1) / static_cast<u64>(d);
  }
  i64 operator()(i64 v) const {
    if (m == 0 || v <= -(i64{1} << 31) || v >= (i64{1} << 31)) return v / d;
    const u64 q = (static_cast<u64>(v < 0 ? -v : v) * m) >> k;
    return v < 0 ? -static_cast<i64>(q) : static_cast<i64>(q);
  }
};

// Channel sums over the weight sum (a weight sum of 0 counts as 1): colour
// clamped to 0..255, alpha below 0 to 0 and from 253 up to 255.
u32 finish_filtered_pixel(const i64 sum[4], const Divider& div) {
  u8 out[4];
  for (int c = 0; c < 3; ++c) out[c] = clamp_channel(div(sum[c]));
  const i64 a = div(sum[3]);
  out[3] = static_cast<u8>(a < 0 ? 0 : (a >= 253 ? 255 : a));
  u32 v;
  std::memcpy(&v, out, 4);
  return v;
}

// One output pixel of a lanczos2 pass: taps lo..hi of position i over n
// pixels starting at p with the given stride (in pixels); div divides by the
// position's weight sum.
u32 filter_pixel_lanczos2(const FilterAxis& axis, i32 i, const u32* p, i32 n, i64 stride, const Divider& div) {
  const i32 lo = axis.lo[i], hi = axis.hi[i];
  if (lo > hi) return 0;
  i64 sum[4] = {0, 0, 0, 0};
  for (i32 j = lo; j <= hi; ++j) {
    const i32 w = axis.weights[static_cast<size_t>(i) * axis.taps + (j - lo)];
    const u8* px = reinterpret_cast<const u8*>(p + mirror_tap(j, n) * stride);
    for (int c = 0; c < 4; ++c) sum[c] += static_cast<i64>(px[c]) * w;
  }
  return finish_filtered_pixel(sum, div);
}

}  // namespace

int resize_lanczos2(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                    i32 dst_h) {
  if (!dst || dst_w <= 0 || dst_h <= 0) return 0;
  // The window is kept inside the image: the filter reads nothing else.
  x0 = x0 < 0 ? 0 : x0;
  y0 = y0 < 0 ? 0 : y0;
  x1 = x1 >= src_w ? src_w - 1 : x1;
  y1 = y1 >= src_h ? src_h - 1 : y1;
  if (!src || src_w <= 0 || src_h <= 0 || x1 < x0 || y1 < y0 || dst_w > 8192) {
    if (dst_w > 8192) {
      report_error_code(kErrorImageTooLarge, 1);
      return -1;
    }
    clear_rows(dst, dst_w, 0, dst_h);
    return 0;
  }
  const i32 w = x1 - x0 + 1, h = y1 - y0 + 1;
  u32* temp = static_cast<u32*>(std::malloc(image_buffer_bytes(dst_w, h)));
  if (!temp) {
    report_error_code(kErrorNoMemory, 1);
    return -1;
  }
  FilterAxis axis;
  set_resample_factors(&axis, w, dst_w);
  if (build_resample_weights(&axis, dst_w) != 0) {
    std::free(temp);
    report_error_code(kErrorNoMemory, 1);
    return -1;
  }
  // The weight sum of a position is the same on every row.
  std::vector<Divider> dividers;
  dividers.reserve(static_cast<size_t>(dst_w));
  for (i32 x = 0; x < dst_w; ++x) {
    i64 ws = 0;
    for (i32 j = axis.lo[x]; j <= axis.hi[x]; ++j) ws += axis.weights[static_cast<size_t>(x) * axis.taps + (j - axis.lo[x])];
    dividers.emplace_back(ws);
  }
  for (i32 y = 0; y < h; ++y) {
    const u32* row = src + static_cast<i64>(y0 + y) * src_w + x0;
    for (i32 x = 0; x < dst_w; ++x)
      temp[static_cast<i64>(y) * dst_w + x] = filter_pixel_lanczos2(axis, x, row, w, 1, dividers[x]);
  }
  set_resample_factors(&axis, h, dst_h);
  if (build_resample_weights(&axis, dst_h) != 0) {
    std::free(temp);
    report_error_code(kErrorNoMemory, 1);
    return -1;
  }
  // Pass 2 walks whole rows of the temporary buffer (the same sums as a
  // column walk, in cache order).
  std::vector<i64> acc(static_cast<size_t>(dst_w) * 4);
  for (i32 y = 0; y < dst_h; ++y) {
    u32* out = dst + static_cast<i64>(y) * dst_w;
    const i32 lo = axis.lo[y], hi = axis.hi[y];
    if (lo > hi) {
      std::memset(out, 0, static_cast<size_t>(dst_w) * 4);
      continue;
    }
    std::fill(acc.begin(), acc.end(), 0);
    i64 wsum = 0;
    for (i32 j = lo; j <= hi; ++j) {
      const i32 wt = axis.weights[static_cast<size_t>(y) * axis.taps + (j - lo)];
      wsum += wt;
      const u8* line = reinterpret_cast<const u8*>(temp + static_cast<i64>(mirror_tap(j, h)) * dst_w);
      for (i32 k = 0; k < dst_w * 4; ++k) acc[k] += static_cast<i64>(line[k]) * wt;
    }
    const Divider div(wsum);
    for (i32 x = 0; x < dst_w; ++x) out[x] = finish_filtered_pixel(&acc[static_cast<size_t>(x) * 4], div);
  }
  free_resample_weights(&axis);
  std::free(temp);
  return 0;
}

int resize_layer(ObjectNode* source, ObjectNode* destination, i32 x0, i32 y0, i32 x1, i32 y1, i32 dst_width100,
                 i32 dst_height100, int use_destination, int mode) {
  LayerImage* src = layer_of(source);
  ObjectNode* target_node = use_destination ? destination : source;
  LayerImage* target = layer_of(target_node);
  if (!src || !target) return -1;
  mark_layer_dirty(target_node);
  const i32 W = dst_width100 / 100, H = dst_height100 / 100;
  // The layer's own pixels, never the toned copy (the tone is applied again
  // at the next composition); a layer drawn from storage it does not own
  // (a frame set) is read through pixels.
  const u32* src_pixels =
      src->owned_pixels ? src->owned_pixels : (src->pixels != src->tone_pixels ? src->pixels : nullptr);
  // A buffer is reused only when it exists and is not the one being read.
  const bool reusable = use_destination && target->owned_pixels && target->owned_pixels != src_pixels;
  const bool same_size = reusable && W == target->loaded_width && H == target->loaded_height;
  const bool shrunk = reusable && !same_size && target->gpu_flag == 1 && W < target->loaded_width &&
                      H < target->loaded_height && W >= 1 && H >= 1;
  u32* buffer = (same_size || shrunk) ? target->owned_pixels : alloc_image_buffer(nullptr, W, H, nullptr);
  if (!buffer) return -1;
  target->has_alpha = src->has_alpha;
  const i32 sw = src->loaded_width, sh = src->loaded_height;
  int result = 0;
  if (!src_pixels) {
    // Nothing to read: the result is transparent.
    std::memset(buffer, 0, static_cast<size_t>(W) * H * 4);
  } else {
    switch (mode) {
      case kResampleModeNearest:
        scale_nearest_threaded(buffer, src_pixels, x0 / 100, y0 / 100, x1 / 100, y1 / 100, sw, sh, W, H);
        break;
      case kResampleModeBilinear:
        if (span_sse_usable())
          scale_bilinear_threaded(buffer, src_pixels, x0, y0, x1, y1, sw, sh, W, H);
        else
          scale_bilinear(buffer, src_pixels, x0, y0, x1, y1, sw, sh, W, H);
        break;
      case kResampleModeBicubic:
        scale_bicubic(buffer, src_pixels, x0 / 100, y0 / 100, x1 / 100, y1 / 100, sw, sh, W, H);
        break;
      case kResampleModeSupersample: resample_threaded(buffer, src_pixels, x0, y0, x1, y1, sw, sh, W, H); break;
      case kResampleModeLanczos:
        result = resize_lanczos2(buffer, src_pixels, x0 / 100, y0 / 100, x1 / 100, y1 / 100, sw, sh, W, H);
        break;
      default: break;
    }
  }
  if (result != 0) {
    if (buffer != target->owned_pixels) std::free(buffer);
    return -1;
  }
  if (same_size) return 0;
  if (shrunk) {
    target->width = target->loaded_width = W;
    target->height = target->loaded_height = H;
  } else {
    replace_layer_pixels(target, buffer, W, H);
  }
  mark_layer_dirty(target_node);
  return 0;
}

int extend_layer_canvas(ObjectNode* source, ObjectNode* destination, int use_destination, i32 left, i32 right, i32 top,
                        i32 bottom) {
  LayerImage* src = layer_of(source);
  ObjectNode* target_node = use_destination ? destination : source;
  LayerImage* target = layer_of(target_node);
  if (!src || !target) return -1;
  mark_layer_dirty(target_node);
  const i32 w = src->width, h = src->height;
  // Sizes in 64 bits: margins from a script can push either side far past
  // 32 bits; the buffer allocator refuses anything above 8192 a side.
  const i64 nw = static_cast<i64>(w) + left + right;
  const i64 nh = static_cast<i64>(h) + top + bottom;
  if (nw < 1 || nh < 1) {
    show_error_box("", sjis_message(kBadResizeText));
    return -1;
  }
  const i32 W = nw > 8193 ? 8193 : static_cast<i32>(nw);
  const i32 H = nh > 8193 ? 8193 : static_cast<i32>(nh);
  u32* buffer = alloc_image_buffer(nullptr, W, H, nullptr);
  if (!buffer) return -1;
  g_span_kernels.fill_words(reinterpret_cast<u8*>(buffer), W * H * 4, g_transparent_fill_colour);
  const u32* sp = src->owned_pixels;
  if (sp) {
    // Source rectangle clipped to both buffers.
    const i64 sx0 = left < 0 ? -i64{left} : 0, sy0 = top < 0 ? -i64{top} : 0;
    const i64 sx1 = std::min<i64>(w, static_cast<i64>(W) - left), sy1 = std::min<i64>(h, static_cast<i64>(H) - top);
    if (sx1 > sx0) {
      for (i64 y = sy0; y < sy1; ++y)
        g_span_kernels.copy(reinterpret_cast<u8*>(buffer + (y + top) * W + sx0 + left),
                            reinterpret_cast<const u8*>(sp + y * w + sx0), static_cast<i32>((sx1 - sx0) * 4));
    }
  }
  if (left > 0 || right > 0 || top > 0 || bottom > 0) target->has_alpha = 1;
  else target->has_alpha = src->has_alpha;
  replace_layer_pixels(target, buffer, W, H);
  mark_layer_dirty(target_node);
  return 0;
}
