// Colour tone and saturation passes over rows of pixels: the compositor's
// tone buffer and the pixel effects both use them.
#include "engine/image/tone_rows.h"

#include <algorithm>

namespace {

struct Px {
  u8 b, g, r, a;
};

inline Px load(const u32* p) {
  const u32 v = *p;
  return {static_cast<u8>(v), static_cast<u8>(v >> 8), static_cast<u8>(v >> 16), static_cast<u8>(v >> 24)};
}
inline void store(u32* p, int b, int g, int r, u8 a) {
  *p = static_cast<u32>(b) | static_cast<u32>(g) << 8 | static_cast<u32>(r) << 16 | static_cast<u32>(a) << 24;
}

// Rows y0..y1, columns x0..x1 (inclusive), kept inside both images.
template <class F>
void for_each_pixel(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                    i32 dst_h, F f) {
  if (!dst || !src) return;
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  const i32 wmax = (src_w < dst_w ? src_w : dst_w) - 1, hmax = (src_h < dst_h ? src_h : dst_h) - 1;
  if (x1 > wmax) x1 = wmax;
  if (y1 > hmax) y1 = hmax;
  for (i32 y = y0; y <= y1; ++y) {
    const u32* s = src + static_cast<i64>(y) * src_w;
    u32* d = dst + static_cast<i64>(y) * dst_w;
    for (i32 x = x0; x <= x1; ++x) f(&d[x], load(&s[x]));
  }
}

}  // namespace

void apply_color_tone_rows(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                           i32 dst_w, i32 dst_h, i32 tone_colour) {
  // One table of deltas per channel: blue from bits 0-7, green 8-15, red 16-23.
  int delta[3][256];
  for (int ch = 0; ch < 3; ++ch) {
    const int t = (tone_colour >> (8 * ch)) & 0xFF;
    const int p = t > 128 ? t - 128 : 0, n = t < 128 ? 128 - t : 0;
    for (int v = 0; v < 256; ++v) delta[ch][v] = (((255 - v) * p) >> 7) - ((v * n) >> 7);
  }
  for_each_pixel(dst, src, x0, y0, x1, y1, src_w, src_h, dst_w, dst_h, [&](u32* d, Px s) {
    store(d, s.b + delta[0][s.b], s.g + delta[1][s.g], s.r + delta[2][s.r], s.a);
  });
}

void apply_saturation_rows(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                           i32 dst_w, i32 dst_h, i32 tone_level) {
  static int grey_of[766];
  static bool grey_ready = false;
  if (!grey_ready) {
    for (int i = 0; i < 766; ++i) grey_of[i] = i / 3;
    grey_ready = true;
  }
  if (tone_level < 0) tone_level = 0;
  if (tone_level > 256) tone_level = 256;
  if (tone_level >= 128) {
    const int k0 = tone_level - 128;
    for_each_pixel(dst, src, x0, y0, x1, y1, src_w, src_h, dst_w, dst_h, [&](u32* d, Px s) {
      const int c[3] = {s.b, s.g, s.r};
      const int grey = grey_of[c[0] + c[1] + c[2]];
      // One strength for the pixel, lowered so that no channel leaves 0..255.
      int k = k0;
      for (int v : c) {
        const int diff = v - grey;
        if (diff > 0 && v + ((diff * k) >> 7) > 255) k = std::min(k, (255 - v) * 128 / diff);
        if (diff < 0 && v + ((diff * k) >> 7) < 0) k = std::min(k, -128 * v / diff);
      }
      int out[3];
      for (int i = 0; i < 3; ++i) out[i] = c[i] + (((c[i] - grey) * k) >> 7);
      store(d, out[0], out[1], out[2], s.a);
    });
  } else {
    const int k = 128 - tone_level;
    for_each_pixel(dst, src, x0, y0, x1, y1, src_w, src_h, dst_w, dst_h, [&](u32* d, Px s) {
      const int grey = grey_of[s.b + s.g + s.r];
      store(d, s.b + (((grey - s.b) * k) >> 7), s.g + (((grey - s.g) * k) >> 7), s.r + (((grey - s.r) * k) >> 7),
            s.a);
    });
  }
}

