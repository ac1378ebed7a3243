// Pixel effect kernels.
#include "engine/image/pixel_effects.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/frame/errors.h"
#include "engine/image/tone_rows.h"

TwirlDistanceMap g_twirl_distance_map;

const u8 kScatterPermutations[24][4] = {
    {3, 2, 1, 0}, {2, 3, 1, 0}, {3, 1, 2, 0}, {1, 3, 2, 0}, {2, 1, 3, 0}, {1, 2, 3, 0},
    {3, 2, 0, 1}, {2, 3, 0, 1}, {3, 0, 2, 1}, {0, 3, 2, 1}, {2, 0, 3, 1}, {0, 2, 3, 1},
    {3, 1, 0, 2}, {1, 3, 0, 2}, {3, 0, 1, 2}, {0, 3, 1, 2}, {1, 0, 3, 2}, {0, 1, 3, 2},
    {2, 1, 0, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {0, 2, 1, 3}, {1, 0, 2, 3}, {0, 1, 2, 3},
};

namespace {

constexpr u32 kErrNoMemory = 104030;
int (*g_random)() = std::rand;

inline u8 byte_of(u32 p, int i) { return static_cast<u8>(p >> (8 * i)); }
inline u32 pack(int b, int g, int r, int a) {
  return static_cast<u32>(b) | static_cast<u32>(g) << 8 | static_cast<u32>(r) << 16 | static_cast<u32>(a) << 24;
}
inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

struct View {
  const EffectJob& j;
  const u32& s(i32 x, i32 y) const { return j.src[static_cast<i64>(y) * j.src_w + x]; }
  u32& d(i32 x, i32 y) const { return j.dst[static_cast<i64>(y - j.dst_y) * j.dst_w + (x - j.dst_x)]; }
};

// Copies the part of the source the result covers.
void copy_covered(const EffectJob& j) {
  for (i32 r = 0; r < j.dst_h; ++r)
    std::memcpy(j.dst + static_cast<i64>(r) * j.dst_w, j.src + static_cast<i64>(j.dst_y + r) * j.src_w + j.dst_x,
                static_cast<std::size_t>(j.dst_w) * 4);
}

template <class F>
void per_pixel(const EffectJob& j, F f) {
  const View v{j};
  for (i32 y = j.y0; y <= j.y1; ++y)
    for (i32 x = j.x0; x <= j.x1; ++x) v.d(x, y) = f(v.s(x, y), x, y);
}

u32* alloc_scratch(const EffectJob& j) {
  const u64 bytes = static_cast<u64>(j.src_w) * 4u * static_cast<u64>(j.src_h) + 4;
  u32* p = static_cast<u32*>(std::malloc(static_cast<std::size_t>(bytes)));
  if (!p) report_error_code(kErrNoMemory, 1);
  return p;
}

// One pass of a weighted mean along rows (across) or columns (down), clipped
// to the rectangle, over the bytes selected by mask (bit i = byte i); the
// other bytes come from keep (0: copied from the input, 1: zero).
// The box form of weighted_pass: equal weights, kept as running sums (the
// entering pixel added, the leaving one taken away).
void box_pass(const u32* in, i32 in_w, u32* out, i32 out_w, i32 ox, i32 oy, const EffectJob& j, bool across, i32 r,
              int mask, bool zero_others) {
  const i32 lines_lo = across ? j.y0 : j.x0, lines_hi = across ? j.y1 : j.x1;
  const i32 lo = across ? j.x0 : j.y0, hi = across ? j.x1 : j.y1;
  const i64 in_step = across ? 1 : in_w;
  for (i32 line = lines_lo; line <= lines_hi; ++line) {
    const u32* src = across ? in + static_cast<i64>(line) * in_w : in + line;
    auto dst_at = [&](i32 c) -> u32& {
      return across ? out[static_cast<i64>(line - oy) * out_w + (c - ox)] : out[static_cast<i64>(c - oy) * out_w + (line - ox)];
    };
    i64 sum[4] = {0, 0, 0, 0};
    // Window of position lo: lo .. min(lo + r, hi).
    i32 first = lo, last = std::min<i64>(static_cast<i64>(lo) + r, hi);
    for (i32 t = first; t <= last; ++t)
      for (int b = 0; b < 4; ++b) sum[b] += byte_of(src[t * in_step], b);
    for (i32 c = lo; c <= hi; ++c) {
      const i32 want_first = static_cast<i32>(std::max<i64>(static_cast<i64>(c) - r, lo));
      const i32 want_last = static_cast<i32>(std::min<i64>(static_cast<i64>(c) + r, hi));
      while (last < want_last) {
        ++last;
        for (int b = 0; b < 4; ++b) sum[b] += byte_of(src[last * in_step], b);
      }
      while (first < want_first) {
        for (int b = 0; b < 4; ++b) sum[b] -= byte_of(src[first * in_step], b);
        ++first;
      }
      const i64 n = last - first + 1;
      const u32 self = src[c * in_step];
      int outb[4];
      for (int b = 0; b < 4; ++b) {
        if (mask & (1 << b)) outb[b] = static_cast<int>(sum[b] / n);
        else outb[b] = zero_others ? 0 : byte_of(self, b);
      }
      dst_at(c) = pack(outb[0], outb[1], outb[2], outb[3]);
    }
  }
}

void weighted_pass(const u32* in, i32 in_w, u32* out, i32 out_w, i32 ox, i32 oy, const EffectJob& j, bool across,
                   const std::vector<i32>& w, i32 r, int mask, bool zero_others) {
  if (std::all_of(w.begin(), w.end(), [](i32 v) { return v == 1; }))
    return box_pass(in, in_w, out, out_w, ox, oy, j, across, r, mask, zero_others);
  for (i32 y = j.y0; y <= j.y1; ++y) {
    for (i32 x = j.x0; x <= j.x1; ++x) {
      i64 sum[4] = {0, 0, 0, 0};
      i64 wsum = 0;
      const i32 c = across ? x : y, lo = across ? j.x0 : j.y0, hi = across ? j.x1 : j.y1;
      for (i32 t = std::max(c - r, lo); t <= std::min(c + r, hi); ++t) {
        const u32 p = across ? in[static_cast<i64>(y) * in_w + t] : in[static_cast<i64>(t) * in_w + x];
        const i32 wt = w[static_cast<std::size_t>(t - c + r)];
        for (int b = 0; b < 4; ++b) sum[b] += static_cast<i64>(byte_of(p, b)) * wt;
        wsum += wt;
      }
      const u32 self = in[static_cast<i64>(y) * in_w + x];
      int outb[4];
      for (int b = 0; b < 4; ++b) {
        if (mask & (1 << b)) outb[b] = wsum > 0 ? static_cast<int>(sum[b] / wsum) : byte_of(self, b);
        else outb[b] = zero_others ? 0 : byte_of(self, b);
      }
      out[static_cast<i64>(y - oy) * out_w + (x - ox)] = pack(outb[0], outb[1], outb[2], outb[3]);
    }
  }
}

std::vector<i32> box_weights(i32 r) { return std::vector<i32>(static_cast<std::size_t>(2 * r + 1), 1); }

std::vector<i32> falloff(i32 r) {
  std::vector<i32> w(static_cast<std::size_t>(2 * std::max(r, 1) + 1));
  falloff_weights(r, w.data(), static_cast<int>(w.size()));
  return w;
}

// Two passes (across into a scratch image of the source size, then down into
// the result) or one.
int separable(const EffectJob& j, const std::vector<i32>& w, i32 r, bool across, bool down, int mask,
              bool zero_others) {
  if (across && down) {
    u32* scratch = alloc_scratch(j);
    if (!scratch) return -1;
    weighted_pass(j.src, j.src_w, scratch, j.src_w, 0, 0, j, true, w, r, mask, zero_others);
    // The second pass reads the scratch image and writes the result, whose
    // rows start at (dst_x, dst_y).
    weighted_pass(scratch, j.src_w, j.dst, j.dst_w, j.dst_x, j.dst_y, j, false, w, r, mask, false);
    std::free(scratch);
    return 0;
  }
  weighted_pass(j.src, j.src_w, j.dst, j.dst_w, j.dst_x, j.dst_y, j, across, w, r, mask, zero_others);
  return 0;
}

// Shadows: alpha from the source alpha (a layer without alpha counts as
// opaque), colour bytes 0.
int shadow(const EffectJob& j, const std::vector<i32>& w, i32 r) {
  if (j.has_alpha) return separable(j, w, r, true, true, 8, true);
  per_pixel(j, [](u32, i32, i32) { return 0xFF000000u; });
  return 0;
}

void scatter(const EffectJob& j) {
  const View v{j};
  per_pixel(j, [](u32 p, i32, i32) { return p; });
  const i64 passes = j.value / 2;
  for (i64 p = 0; p < passes; ++p) {
    // Only blocks wholly inside the rectangle.
    for (i64 by = j.y0; by + 1 <= j.y1; by += 2) {
      for (i64 bx = j.x0 + p; bx + 1 <= j.x1; bx += 2) {
        const i32 x = static_cast<i32>(bx), y = static_cast<i32>(by);
        u32* cell[4] = {&v.d(x, y), &v.d(x + 1, y), &v.d(x, y + 1), &v.d(x + 1, y + 1)};
        const u32 old[4] = {*cell[0], *cell[1], *cell[2], *cell[3]};
        const u8* perm = kScatterPermutations[static_cast<unsigned>(g_random()) % 24u];
        for (int k = 0; k < 4; ++k) *cell[k] = (old[perm[k]] & 0x00FFFFFFu) | (old[k] & 0xFF000000u);
      }
    }
  }
}

void mosaic(const EffectJob& j) {
  const i64 s = j.value < 1 ? 1 : j.value;
  auto first_border = [s](i64 lo, i64 centre) {
    i64 m = (lo - centre) % s;
    if (m < 0) m += s;
    return lo - m;
  };
  const i64 bx0 = first_border(j.x0, (static_cast<i64>(j.x1) + 1) / 2);
  const i64 by0 = first_border(j.y0, (static_cast<i64>(j.y1) + 1) / 2);
  const View v{j};
  for (i64 by = by0; by <= j.y1; by += s) {
    for (i64 bx = bx0; bx <= j.x1; bx += s) {
      const i32 xa = static_cast<i32>(std::max<i64>(bx, j.x0)), xb = static_cast<i32>(std::min<i64>(bx + s - 1, j.x1));
      const i32 ya = static_cast<i32>(std::max<i64>(by, j.y0)), yb = static_cast<i32>(std::min<i64>(by + s - 1, j.y1));
      i64 sum[4] = {0, 0, 0, 0};
      for (i32 y = ya; y <= yb; ++y)
        for (i32 x = xa; x <= xb; ++x)
          for (int b = 0; b < 4; ++b) sum[b] += byte_of(v.s(x, y), b);
      const i64 n = static_cast<i64>(xb - xa + 1) * (yb - ya + 1);
      const u32 mean = pack(static_cast<int>(sum[0] / n), static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n),
                            static_cast<int>(sum[3] / n));
      for (i32 y = ya; y <= yb; ++y)
        for (i32 x = xa; x <= xb; ++x) v.d(x, y) = mean;
    }
  }
}

void wave(const EffectJob& j, int type) {
  const double amp = static_cast<double>(j.value), phase = static_cast<double>(j.value2);
  const View v{j};
  for (i32 y = j.y0; y <= j.y1; ++y) {
    const i64 dx = type == 22 ? 0 : static_cast<i64>(std::sin((y + phase) * 0.017453292) * amp);
    for (i32 x = j.x0; x <= j.x1; ++x) {
      const i64 dy = type == 21 ? 0 : static_cast<i64>(std::cos((x + phase) * 0.017453292) * amp);
      const i64 sx = std::clamp<i64>(x + dx, j.x0, j.x1), sy = std::clamp<i64>(y + dy, j.y0, j.y1);
      v.d(x, y) = v.s(static_cast<i32>(sx), static_cast<i32>(sy));
    }
  }
}

void fill(const EffectJob& j) {
  copy_covered(j);
  const u32 value = static_cast<u32>(j.value);
  if (j.fill_mode == 1) {
    per_pixel(j, [&](u32, i32, i32) { return 0xFF000000u + (value & 0xFFFFFFu); });
    return;
  }
  if (j.fill_mode == 2) per_pixel(j, [&](u32 p, i32, i32) { return (p & 0x00FFFFFFu) | (value & 0xFFu) << 24; });
  else per_pixel(j, [&](u32, i32, i32) { return value; });
  if (j.result_has_alpha) {
    const u32 written_alpha = j.fill_mode == 2 ? (value & 0xFFu) : value >> 24;
    const bool whole = j.x0 == 0 && j.y0 == 0 && j.x1 == j.src_w - 1 && j.y1 == j.src_h - 1;
    *j.result_has_alpha = written_alpha == 255 && whole ? 0 : 1;
  }
}

void ramp(const EffectJob& j) {
  copy_covered(j);
  if (j.result_has_alpha) *j.result_has_alpha = 1;
  i64 a = j.value, b = j.value2;
  if (a == b) return;
  const bool falling = a < b;
  if (!falling) std::swap(a, b);
  const View v{j};
  for (i32 y = j.y0; y <= j.y1; ++y) {
    for (i32 x = j.x0; x <= j.x1; ++x) {
      u32& p = v.d(x, y);
      i64 k;  // alpha factor 0..255
      if (x < a) k = falling ? 255 : 0;
      else if (x > b) k = falling ? 0 : 255;
      else {
        const i64 r = (static_cast<i64>(x) * 255 - a * 255) / (b - a);
        k = falling ? 255 - r : r;
      }
      const u32 alpha = static_cast<u32>(static_cast<i64>(p >> 24) * k / 255);
      p = (p & 0x00FFFFFFu) | alpha << 24;
    }
  }
}

int twirl(const EffectJob& j) {
  const i32 W = j.x1 - j.x0 + 1, H = j.y1 - j.y0 + 1;
  const i32 cx = W / 2, cy = H / 2;
  const i32 R = static_cast<i32>(1 + (std::hypot(static_cast<double>(W), static_cast<double>(H)) + 1) * 0.5);
  std::vector<i32> cos_t(static_cast<std::size_t>(R)), sin_t(static_cast<std::size_t>(R));
  const double value = static_cast<double>(j.value);
  for (i32 i = 0; i < R; ++i) {
    const double angle = (value / 10 - i * value / (10.0 * R)) * 0.017453292519444445;
    cos_t[static_cast<std::size_t>(i)] = static_cast<i32>(256 * std::cos(angle));
    sin_t[static_cast<std::size_t>(i)] = static_cast<i32>(256 * std::sin(angle));
  }
  TwirlDistanceMap& map = g_twirl_distance_map;
  if (!map.entries || map.width != W || map.height != H) {
    free_twirl_distance_map();
    map.entries = static_cast<u16*>(std::malloc(static_cast<std::size_t>(W) * static_cast<std::size_t>(H) * 2));
    if (!map.entries) {
      report_error_code(kErrNoMemory, 1);
      return -1;
    }
    map.width = W;
    map.height = H;
    for (i32 y = 0; y < H; ++y)
      for (i32 x = 0; x < W; ++x)
        map.entries[static_cast<i64>(y) * W + x] =
            static_cast<u16>(std::hypot(static_cast<double>(std::abs(x - cx)), static_cast<double>(std::abs(y - cy))));
  }
  const View v{j};
  for (i32 y = 0; y < H; ++y) {
    for (i32 x = 0; x < W; ++x) {
      const i32 dx = x - cx, dy = y - cy;
      const std::size_t d = std::min<std::size_t>(map.entries[static_cast<i64>(y) * W + x], static_cast<std::size_t>(R - 1));
      const i32 sx = std::clamp(((dx * cos_t[d] - dy * sin_t[d]) >> 8) + cx, 0, W - 1);
      const i32 sy = std::clamp(((dx * sin_t[d] + dy * cos_t[d]) >> 8) + cy, 0, H - 1);
      // The rectangle is read in the layer's own rows.
      v.d(j.x0 + x, j.y0 + y) = v.s(j.x0 + sx, j.y0 + sy);
    }
  }
  return 0;
}

}  // namespace

int falloff_weights(i64 radius, i32* out, int capacity) {
  const i64 r = std::clamp<i64>(radius, 1, 4096);
  const i64 n = 2 * r;
  if (!out || capacity < n + 1) return -1;
  const i64 lo = n / 2 - n / 8, hi = n / 2 + n / 8;
  for (i64 i = lo; i <= hi; ++i) out[i] = 512;
  for (i64 i = lo - 1; i >= 0; --i) out[i] = static_cast<i32>(out[i + 1] * 0.5);
  for (i64 i = hi + 1; i <= n; ++i) out[i] = static_cast<i32>(out[i - 1] * 0.5);
  return static_cast<int>(n + 1);
}

void set_effect_random(int (*source)()) { g_random = source ? source : std::rand; }

void free_twirl_distance_map() {
  std::free(g_twirl_distance_map.entries);
  g_twirl_distance_map = TwirlDistanceMap{};
}

bool pixel_effect_known(int type) {
  switch (type) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10: case 11: case 12:
    case 19: case 20: case 21: case 22: case 23: case 24: case 27: case 28: case 30: case 38: case 39: case 40:
      return true;
    default:
      return false;
  }
}

int run_pixel_effect(int type, const EffectJob& j) {
  if (!j.dst || !j.src) return -1;
  const i32 r = static_cast<i32>(std::clamp<i64>(j.value, 0, 4096));
  const View v{j};
  switch (type) {
    case 1: {
      const int delta = static_cast<int>(std::clamp<i64>(j.value, -1024, 1024)) - 128;
      per_pixel(j, [delta](u32 p, i32, i32) {
        return pack(clamp255(byte_of(p, 0) + delta), clamp255(byte_of(p, 1) + delta), clamp255(byte_of(p, 2) + delta),
                    byte_of(p, 3));
      });
      return 0;
    }
    case 2: {
      const i32 rr = std::max(r, 1);
      return separable(j, falloff(rr), rr, true, true, j.has_alpha ? 15 : 7, false);
    }
    case 3: return separable(j, box_weights(r), r, true, false, 7, false);
    case 4: return separable(j, box_weights(r), r, false, true, 7, false);
    case 5: return separable(j, box_weights(r), r, true, true, j.has_alpha ? 15 : 7, false);
    case 6: {
      const i32 rr = std::max(r, 1);
      return separable(j, falloff(rr), rr, true, true, 8, true);
    }
    case 7: return shadow(j, box_weights(r), r);
    case 8:
    case 9:
      per_pixel(j, [](u32 p, i32, i32) { return p; });
      return 0;
    case 10: scatter(j); return 0;
    case 11:
      per_pixel(j, [&](u32, i32 x, i32 y) { return v.s(j.src_w - 1 - x, y); });
      return 0;
    case 12:
    case 30: {
      per_pixel(j, [](u32 p, i32, i32) { return p; });
      u32* d = &v.d(j.x0, j.y0);
      // In place over the result, whose rows are dst_w wide.
      const i32 w = j.x1 - j.x0, h = j.y1 - j.y0;
      const i32 rows = j.dst_h - (j.y0 - j.dst_y);
      if (type == 12)
        apply_color_tone_rows(d, d, 0, 0, w, h, j.dst_w, rows, j.dst_w, rows, static_cast<i32>(j.value));
      else
        apply_saturation_rows(d, d, 0, 0, w, h, j.dst_w, rows, j.dst_w, rows, static_cast<i32>(j.value));
      return 0;
    }
    case 19: {
      copy_covered(j);
      const i64 limit = 3 * j.value;
      per_pixel(j, [limit](u32 p, i32, i32) {
        const i64 sum = byte_of(p, 0) + byte_of(p, 1) + byte_of(p, 2);
        return (p & 0xFF000000u) | (sum >= limit ? 0x00FFFFFFu : 0u);
      });
      return 0;
    }
    case 20: mosaic(j); return 0;
    case 21:
    case 22:
    case 23: wave(j, type); return 0;
    case 24: fill(j); return 0;
    case 27: ramp(j); return 0;
    case 28:
      per_pixel(j, [](u32 p, i32, i32) { return (p & 0xFF000000u) | (~p & 0x00FFFFFFu); });
      return 0;
    case 38:
      per_pixel(j, [&](u32, i32 x, i32 y) { return v.s(x, j.y1 - (y - j.y0)); });
      return 0;
    case 39:
      per_pixel(j, [](u32 p, i32, i32) {
        const i64 Y = (306 * static_cast<i64>(byte_of(p, 2)) + 601 * static_cast<i64>(byte_of(p, 1)) +
                       117 * static_cast<i64>(byte_of(p, 0))) * 1024;
        const i64 b = std::max<i64>((Y - 46347025) >> 20, 0), g = std::max<i64>((Y - 287585) >> 20, 0);
        const i64 rr = std::min<i64>(std::max<i64>((Y + 18748416) >> 20, 0), 255);
        return pack(static_cast<int>(std::min<i64>(b, 255)), static_cast<int>(std::min<i64>(g, 255)),
                    static_cast<int>(rr), byte_of(p, 3));
      });
      return 0;
    case 40: return twirl(j);
    default: return -1;
  }
}
