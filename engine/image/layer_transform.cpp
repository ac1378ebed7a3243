// Rotation, transfers and trimming. See layer_transform.h.
#include "engine/image/layer_transform.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/image/span_kernels.h"
#include "engine/vm/object_tree.h"

u8 g_rotation_fill_byte = 0;

namespace {

LayerImage* image_of(ObjectNode* n) {
  return n && n->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(n->payload) : nullptr;
}

u32* own(LayerImage* im) { return im->owned_pixels ? im->owned_pixels : im->pixels; }

// The target of an operation and a buffer of w x h to write: the target's
// own when it has exactly that size (and is not the source being read),
// else a new one, zeroed. Null after the reported size or memory error.
struct Output {
  ObjectNode* node = nullptr;
  LayerImage* image = nullptr;
  u32* buffer = nullptr;
  bool fresh = false;
};

Output output_for(ObjectNode* source, ObjectNode* destination, int use_destination, LayerImage* src, i32 w, i32 h) {
  Output o;
  o.node = use_destination && image_of(destination) ? destination : source;
  o.image = image_of(o.node);
  if (o.image != src && o.image->width == w && o.image->height == h && own(o.image)) {
    o.buffer = own(o.image);
    return o;
  }
  o.buffer = alloc_image_buffer(nullptr, w, h, nullptr);
  if (!o.buffer) return o;
  std::memset(o.buffer, 0, static_cast<size_t>(image_buffer_bytes(w, h)));
  o.fresh = true;
  return o;
}

void finish(Output& o, i32 w, i32 h) {
  if (o.fresh) replace_layer_pixels(o.image, o.buffer, w, h);
  else drop_tone_pixels(o.image);
  mark_layer_dirty(o.node);
}

i64 normal_angle(i64 angle) {
  i64 a = angle % 360;
  return a < 0 ? a + 360 : a;
}

void rotation_factors(i64 a, i64* s, i64* c) {
  const double r = static_cast<double>(a) * 3.1415926535 / 180.0;
  *s = std::llround(65536.0 * std::sin(r));
  *c = std::llround(65536.0 * std::cos(r));
}

// Angles 0 and 180 need no resampling: a copy, or a copy mirrored both ways.
bool straight_copy(const LayerImage* src, u32* out, i64 a) {
  const i32 w = src->width, h = src->height;
  if (a == 0) {
    std::memcpy(out, src->pixels, static_cast<size_t>(w) * h * 4);
    return true;
  }
  if (a == 180) {
    for (i32 y = 0; y < h; ++y) {
      const u32* from = src->pixels + static_cast<size_t>(h - 1 - y) * w;
      u32* to = out + static_cast<size_t>(y) * w;
      for (i32 x = 0; x < w; ++x) to[x] = from[w - 1 - x];
    }
    return true;
  }
  return false;
}

u32 fill_pixel() { return 0x01010101u * g_rotation_fill_byte; }

// Floor and ceiling of a / b for b > 0.
i64 floor_div(i64 a, i64 b) {
  const i64 q = a / b;
  return a % b != 0 && a < 0 ? q - 1 : q;
}
i64 ceil_div(i64 a, i64 b) { return -floor_div(-a, b); }

// Narrows the columns [*first, *end) to those x where
// lo < base + step * x < hi. The source position along a destination row is
// linear in x, so each of the rotation's bounds keeps one run of columns.
void narrow(i64 base, i64 step, i64 lo, i64 hi, i32* first, i32* end) {
  if (step < 0) {
    const i64 l = -hi;
    hi = -lo;
    lo = l;
    base = -base;
    step = -step;
  }
  if (step == 0) {
    if (!(lo < base && base < hi)) *end = *first;
    return;
  }
  const i64 f = floor_div(lo - base, step) + 1, e = ceil_div(hi - base, step);
  if (f > *first) *first = static_cast<i32>(std::min<i64>(f, *end));
  if (e < *end) *end = static_cast<i32>(std::max<i64>(e, *first));
}

// The nearest source pixel of each column in [x0, x1). Every position there
// is within -1 .. size (exclusive) of the source in 16.16, where dividing
// toward zero gives the same pixel as clamping at 0 and shifting.
void nearest_span(u32* row, const u32* src, i32 w, i64 X, i64 Y, i64 c, i64 s, i32 x0, i32 x1) {
  for (i32 x = x0; x < x1; ++x, X += c, Y += s) {
    const i64 px = (X < 0 ? 0 : X) >> 16, py = (Y < 0 ? 0 : Y) >> 16;
    row[x] = src[py * w + px];
  }
}

// The two-by-two blend of each column in [x0, x1): the taps are the pixel
// under the position and the ones a destination step further along x (for
// the columns) and along y (for the rows), each tap and the fractions as
// whole numbers of 8 bits, per channel
//   top = p00 + ((p10 - p00) fx >> 8), bottom likewise, then
//   top + ((bottom - top) fy >> 8).
// All four taps lie inside the source here.
void bilinear_span(u32* row, const u32* src, i32 w, i64 X, i64 Y, i64 c, i64 s, i32 x0, i32 x1) {
  for (i32 x = x0; x < x1; ++x, X += c, Y += s) {
    const u32* r0 = src + (Y >> 16) * w;
    const u32* r1 = src + ((Y + s) >> 16) * w;
    const i64 c0 = X >> 16, c1 = (X + c) >> 16;
    const int fx = static_cast<int>((X >> 8) & 255), fy = static_cast<int>((Y >> 8) & 255);
#ifdef __SSE2__
    // Both rows at once in 16-bit lanes: (d << 7) times (f << 1), high
    // half, is d f >> 8 with the same rounding toward minus infinity.
    const __m128i zero = _mm_setzero_si128();
    const __m128i left = _mm_unpacklo_epi8(
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(r0[c0])), _mm_cvtsi32_si128(static_cast<int>(r1[c0]))),
        zero);
    const __m128i right = _mm_unpacklo_epi8(
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(r0[c1])), _mm_cvtsi32_si128(static_cast<int>(r1[c1]))),
        zero);
    const __m128i tb = _mm_add_epi16(
        left, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(right, left), 7), _mm_set1_epi16(static_cast<short>(fx * 2))));
    const __m128i bt = _mm_unpackhi_epi64(tb, tb);
    const __m128i v = _mm_add_epi16(
        tb, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(bt, tb), 7), _mm_set1_epi16(static_cast<short>(fy * 2))));
    row[x] = static_cast<u32>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
#else
    const u8* p00 = reinterpret_cast<const u8*>(r0 + c0);
    const u8* p10 = reinterpret_cast<const u8*>(r0 + c1);
    const u8* p01 = reinterpret_cast<const u8*>(r1 + c0);
    const u8* p11 = reinterpret_cast<const u8*>(r1 + c1);
    u8* d = reinterpret_cast<u8*>(row + x);
    for (int k = 0; k < 4; ++k) {
      const int top = p00[k] + (((p10[k] - p00[k]) * fx) >> 8);
      const int bottom = p01[k] + (((p11[k] - p01[k]) * fx) >> 8);
      d[k] = static_cast<u8>(top + (((bottom - top) * fy) >> 8));
    }
#endif
  }
}

// Each destination pixel (x, y) reads the source at
//   X = c (x - cx) - s (y - cy) + cx,  Y = s (x - cx) + c (y - cy) + cy
// in 16.16, turning about the centre (w / 2, h / 2). A position whose
// pixel, divided toward zero, falls outside the source gets the fill byte
// (always for the blended turn, in mode 11 for the nearest one) or is left
// as it was. The blended turn also leaves a pixel as it was where one of its
// further taps falls outside.
int rotate(ObjectNode* source, ObjectNode* destination, i64 angle, int use_destination, int mode, bool bilinear) {
  LayerImage* src = image_of(source);
  if (!src || !src->pixels || src->width < 1 || src->height < 1) return 0;
  const i32 w = src->width, h = src->height;
  Output o = output_for(source, destination, use_destination, src, w, h);
  if (!o.buffer) return -1;
  const i64 a = normal_angle(angle);
  const u8 has_alpha = a % 180 == 0 ? src->has_alpha : 1;
  if (!straight_copy(src, o.buffer, a)) {
    i64 s = 0, c = 0;
    rotation_factors(a, &s, &c);
    const i64 cx = w / 2, cy = h / 2;
    const i64 W = static_cast<i64>(w) * 65536, H = static_cast<i64>(h) * 65536;
    const bool fill = bilinear || mode == kRotateFillOutside;
    const u32 outside = fill_pixel();
    for (i32 y = 0; y < h; ++y) {
      u32* row = o.buffer + static_cast<size_t>(y) * w;
      const i64 X0 = -c * cx - s * (y - cy) + cx * 65536;
      const i64 Y0 = -s * cx + c * (y - cy) + cy * 65536;
      // Columns whose pixel lies inside the source.
      i32 in0 = 0, in1 = w;
      narrow(X0, c, -65536, W, &in0, &in1);
      narrow(Y0, s, -65536, H, &in0, &in1);
      if (fill) {
        std::fill(row, row + in0, outside);
        std::fill(row + in1, row + w, outside);
      }
      if (!bilinear) {
        nearest_span(row, src->pixels, w, X0 + c * in0, Y0 + s * in0, c, s, in0, in1);
        continue;
      }
      // Of those, the columns whose four taps all lie inside.
      i32 b0 = in0, b1 = in1;
      narrow(X0, c, -1, W, &b0, &b1);
      narrow(X0 + c, c, -1, W, &b0, &b1);
      narrow(Y0, s, -1, H, &b0, &b1);
      narrow(Y0 + s, s, -1, H, &b0, &b1);
      bilinear_span(row, src->pixels, w, X0 + c * b0, Y0 + s * b0, c, s, b0, b1);
    }
  }
  o.image->has_alpha = has_alpha;
  finish(o, w, h);
  return 0;
}

// The transfer clipped to the source, the destination and an optional third
// layer (same offsets as the source). False when nothing is left.
bool clip_transfer(const TransferRect& in, const LayerImage* src, const LayerImage* dst, const LayerImage* third,
                   TransferRect* out) {
  i64 sx = in.src_x, sy = in.src_y, w = in.width, h = in.height, dx = in.dst_x, dy = in.dst_y;
  auto cut = [](i64* s, i64* d, i64* n, i64 limit_s, i64 limit_d) {
    if (*s < 0) *d -= *s, *n += *s, *s = 0;
    if (*d < 0) *s -= *d, *n += *d, *d = 0;
    *n = std::min({*n, limit_s - *s, limit_d - *d});
  };
  i64 sw = src->width, sh = src->height;
  if (third) sw = std::min<i64>(sw, third->width), sh = std::min<i64>(sh, third->height);
  cut(&sx, &dx, &w, sw, dst->width);
  cut(&sy, &dy, &h, sh, dst->height);
  if (w <= 0 || h <= 0) return false;
  *out = TransferRect{sx, sy, w, h, dx, dy};
  return true;
}

template <class Row>
int transfer(ObjectNode* source, ObjectNode* destination, const TransferRect& rect, Row row) {
  LayerImage* src = image_of(source);
  LayerImage* dst = image_of(destination);
  if (!src || !dst || !src->pixels || !own(dst)) return 0;
  TransferRect r;
  if (!clip_transfer(rect, src, dst, nullptr, &r)) return 0;
  if (!row(src, dst, r, true)) return 0;
  u32* base = own(dst);
  for (i64 y = 0; y < r.height; ++y) {
    u8* d = reinterpret_cast<u8*>(base + (r.dst_y + y) * dst->width + r.dst_x);
    const u8* s = reinterpret_cast<const u8*>(src->pixels + (r.src_y + y) * src->width + r.src_x);
    row(src, dst, r, false, d, s, static_cast<i32>(r.width * 4));
  }
  drop_tone_pixels(dst);
  mark_layer_dirty(destination);
  return 0;
}

struct CopyRow {
  bool weighted;
  bool operator()(LayerImage* src, LayerImage* dst, const TransferRect&, bool setup, u8* d = nullptr,
                  const u8* s = nullptr, i32 n = 0) const {
    const i32 sa = src->alpha, da = dst->alpha;
    if (setup) {
      if (sa <= 0) return false;
      dst->has_alpha = 1;
      return true;
    }
    if (!weighted) {
      if (sa >= 256) g_span_kernels.over_alpha(d, s, n);
      else g_span_kernels.over_alpha_op(d, s, sa, n);
    } else {
      if (sa >= 256) g_span_kernels.over_faded_alpha(d, s, da, n);
      else g_span_kernels.over_two_op(d, s, da, sa, n);
    }
    return true;
  }
};

template <bool kDifference>
struct MaskRow {
  bool operator()(LayerImage*, LayerImage* dst, const TransferRect&, bool setup, u8* d = nullptr,
                  const u8* s = nullptr, i32 n = 0) const {
    if (setup) {
      dst->has_alpha = 1;
      return true;
    }
    u32* dp = reinterpret_cast<u32*>(d);
    const u32* sp = reinterpret_cast<const u32*>(s);
    for (i32 i = 0; i < n / 4; ++i) {
      u32 dv, sv;
      std::memcpy(&dv, dp + i, 4);
      std::memcpy(&sv, sp + i, 4);
      const u32 v = kDifference ? (dv == sv ? 0u : sv) : (dv == sv ? dv : 0u);
      std::memcpy(dp + i, &v, 4);
    }
    return true;
  }
};

}  // namespace

int rotate_layer(ObjectNode* source, ObjectNode* destination, i64 angle, int use_destination, int mode) {
  return rotate(source, destination, angle, use_destination, mode, false);
}

int rotate_layer_alt(ObjectNode* source, ObjectNode* destination, i64 angle, int use_destination) {
  return rotate(source, destination, angle, use_destination, kRotateFillOutside, true);
}

int copy_layer_pixels(ObjectNode* source, ObjectNode* destination, const TransferRect& rect) {
  return transfer(source, destination, rect, CopyRow{false});
}

int copy_layer_pixels_weighted(ObjectNode* source, ObjectNode* destination, const TransferRect& rect) {
  return transfer(source, destination, rect, CopyRow{true});
}

int mask_layer_difference(ObjectNode* source, ObjectNode* destination, const TransferRect& rect) {
  return transfer(source, destination, rect, MaskRow<true>{});
}

int mask_layer_equal(ObjectNode* source, ObjectNode* destination, const TransferRect& rect) {
  return transfer(source, destination, rect, MaskRow<false>{});
}

int crossfade_layers(ObjectNode* first, ObjectNode* second, ObjectNode* destination, const TransferRect& rect,
                     i64 amount) {
  LayerImage* a = image_of(first);
  LayerImage* b = image_of(second);
  LayerImage* dst = image_of(destination);
  if (!a || !b || !dst) return 0;
  dst->has_alpha = 1;
  if (!a->pixels || !b->pixels || !own(dst)) return 0;
  TransferRect r;
  if (!clip_transfer(rect, a, dst, b, &r)) return 0;
  const i32 weight = static_cast<i32>(std::clamp<i64>(amount, 0, 255)) + 1;
  u32* base = own(dst);
  for (i64 y = 0; y < r.height; ++y) {
    u8* d = reinterpret_cast<u8*>(base + (r.dst_y + y) * dst->width + r.dst_x);
    const u8* ra = reinterpret_cast<const u8*>(a->pixels + (r.src_y + y) * a->width + r.src_x);
    const u8* rb = reinterpret_cast<const u8*>(b->pixels + (r.src_y + y) * b->width + r.src_x);
    g_span_kernels.lerp_rows(d, ra, rb, weight, static_cast<i32>(r.width * 4));
  }
  drop_tone_pixels(dst);
  mark_layer_dirty(destination);
  return 0;
}

int trim_layer(ObjectNode* source, ObjectNode* destination, int use_destination, int sides, i64 threshold) {
  LayerImage* src = image_of(source);
  if (!src || !src->pixels || src->width < 1 || src->height < 1) return 0;
  const i32 w = src->width, h = src->height;
  const int limit = static_cast<i8>(static_cast<u8>(threshold & 0xFF));
  i32 left = w, top = h, right = -1, bottom = -1;
  for (i32 y = 0; y < h; ++y)
    for (i32 x = 0; x < w; ++x)
      if (static_cast<int>(src->pixels[static_cast<size_t>(y) * w + x] >> 24) > limit) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  // No pixel above the threshold: there is no box to cut to.
  if (right < 0) return 0;
  if (!(sides & 8)) top = 0;
  if (!(sides & 4)) bottom = h - 1;
  if (!(sides & 2)) left = 0;
  if (!(sides & 1)) right = w - 1;
  const i32 nw = right - left + 1, nh = bottom - top + 1;
  Output o = output_for(source, destination, use_destination, src, nw, nh);
  if (!o.buffer) return -1;
  for (i32 y = 0; y < nh; ++y)
    std::memcpy(o.buffer + static_cast<size_t>(y) * nw, src->pixels + static_cast<size_t>(top + y) * w + left,
                static_cast<size_t>(nw) * 4);
  o.image->has_alpha = src->has_alpha;
  finish(o, nw, nh);
  return 0;
}
