// Builds the lookup tables of the blend modes and of the span kernels.
#include "engine/image/blend_tables.h"

#include "engine/frame/engine_steps.h"
#include "engine/image/blend_kernels.h"

#include <algorithm>
#include <cmath>

BlendTables g_blend_tables;
u16 g_reciprocal_table[256][256];
u8 g_sat_add_table[511];
u8 g_sat_sub_table[511];
u8 g_blend_lut[kBlendModeCount][65536];
i32 g_mask_weights[256];

namespace {

int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Floor division by a power of two of a signed value (arithmetic shift).
int floor_shift(long long v, int bits) { return static_cast<int>(v >> bits); }

int soft_light(int s, int d) {
  const double r = std::sqrt(static_cast<double>(256 - d));
  const int q = static_cast<int>(16384.0 - r);
  int v;
  if (s < 128) {
    v = d + floor_shift(static_cast<long long>(s - 128) * q, 15);
  } else if (d <= 32) {
    const int q2 = static_cast<int>(16384.0 - r * (768 - 8 * d));
    v = d + floor_shift(static_cast<long long>(s - 128) * q2, 15);
  } else {
    v = d + floor_shift(static_cast<long long>(s - 128) * q, 16);
  }
  return clamp255(v);
}

int blend_value(int mode, int s, int d) {
  switch (mode) {
    case kBlendNormal: return s;
    case kBlendAdd: return g_sat_add_table[s + d];
    case kBlendSubtract: return g_sat_sub_table[255 + s - d];
    case kBlendMultiply: return s * d / 255;
    case kBlendDivide:
      if (d == 0) return s > 0 ? 255 : 0;
      return std::min(255, 255 * s / d);
    case kBlendScreen: return s + d - q255(s, d);
    case kBlendLighten: return std::max(s, d);
    case kBlendDarken: return std::min(s, d);
    case kBlendDifference: return s > d ? s - d : d - s;
    case kBlendExclusion: return s + d - 2 * (s * d / 255);
    case kBlendOverlay:
      if (d < 128) return q255(2 * d, s);
      if (d == 128) return s;
      return (2 * d - 257) + q255(512 - 2 * d, s);
    case kBlendColourDodge: return std::min(255, 256 * d / (256 - s));
    case kBlendColourBurn: return std::max(0, 255 - 256 * (255 - d) / (s + 1));
    case kBlendLinearBurn: return clamp255(s + d - 255);
    case kBlendHardLight:
      if (s < 128) return q255(2 * s, d);
      if (s == 128) return d;
      return (2 * s - 257) + q255(512 - 2 * s, d);
    case kBlendSoftLight: return soft_light(s, d);
    case kBlendVividLight:
      if (s == 0) return 0;
      if (s < 128) return std::max(0, 255 * (2 * s + d - 255) / (2 * s));
      if (s < 255) return std::min(255, 255 * d / (510 - 2 * s));
      return 255;
    case kBlendLinearLight: return clamp255(2 * s + d - 256);
    case kBlendPinLight:
      if (s < 128) return std::min(d, 2 * s);
      return std::max(d, 2 * s - 255);
    default: return s;
  }
}

}  // namespace

void build_product_tables() {
  for (int w = 0; w <= 256; ++w) {
    for (int k = 0; k < 512; ++k) {
      // C++ division truncates toward zero, as the tables want.
      g_blend_tables.a[w][k] = static_cast<i16>(w * (k - 255) / 256);
      g_blend_tables.b[w][k] = static_cast<i16>(w * (k - 255) / 255);
    }
  }
  for (int i = 0; i < 256; ++i)
    for (int j = 0; j < 256; ++j) g_blend_tables.c[i][j] = static_cast<u8>(i * j / 255);
}

void build_blend_luts() {
  for (int c = 0; c < 256; ++c) g_reciprocal_table[0][c] = 0;
  for (int r = 1; r < 256; ++r)
    for (int c = 0; c < 256; ++c) g_reciprocal_table[r][c] = static_cast<u16>(256 * c / r);
  for (int i = 0; i < 511; ++i) {
    g_sat_add_table[i] = static_cast<u8>(std::min(i, 255));
    g_sat_sub_table[i] = static_cast<u8>(std::max(0, i - 255));
  }
  for (int mode = 0; mode < kBlendModeCount; ++mode)
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d) g_blend_lut[mode][(s << 8) + d] = static_cast<u8>(blend_value(mode, s, d));
}

// Once, from the one-time global initialisation, before any drawing: the
// three BlendTables, the blend-mode tables and the four kernel tables.
void init_blend_tables() {
  build_product_tables();
  build_blend_luts();
  fill_blend_kernel_tables();
}
