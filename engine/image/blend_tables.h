// Lookup tables of the CPU pixel arithmetic: the signed product tables, the
// reciprocal table, the saturating add and subtract tables, one 256 x 256
// table per blend mode and the mask weight table of masked draws.
//
// Everything here is built once by init_blend_tables at start-up, before any
// pixel worker runs, and only read afterwards (the mask weight table is the
// exception: the compositor rewrites it before each masked draw).
#pragma once
#include "engine/frame/types.h"

// The three tables of the one-time global initialisation:
//  a[w][k] = w * (k - 255) / 256, b[w][k] = w * (k - 255) / 255 (both
//  truncated toward zero; w 0..256 is a weight, k - 255 a signed difference
//  -255..256), c[i][j] = i * j / 255.
struct BlendTables {
  i16 a[257][512];
  i16 b[257][512];
  u8 c[256][256];
};
extern BlendTables g_blend_tables;

// The names the kernels use for the first two.
inline i16 (&ProductTable256())[257][512] { return g_blend_tables.a; }
inline i16 (&ProductTable255())[257][512] { return g_blend_tables.b; }

// Q255(a * b) for bytes a and b: a * b / 255 truncated.
inline int q255(int a, int b) { return g_blend_tables.b[a][255 + b]; }

// ReciprocalTable[r][c] = floor(256 * c / r) for r 1..255; row 0 is zero.
extern u16 g_reciprocal_table[256][256];
// SatAddTable[i] = min(i, 255); SatSubTable[i] = max(0, i - 255); i 0..510.
extern u8 g_sat_add_table[511];
extern u8 g_sat_sub_table[511];

// The blend modes of a layer (LayerImage::blend_mode).
enum BlendMode : u8 {
  kBlendNormal = 0,
  kBlendAdd = 1,
  kBlendSubtract = 2,
  kBlendMultiply = 3,
  kBlendDivide = 4,
  kBlendScreen = 5,
  kBlendLighten = 6,
  kBlendDarken = 7,
  kBlendDifference = 8,
  kBlendExclusion = 9,
  kBlendOverlay = 10,
  kBlendColourDodge = 11,
  kBlendColourBurn = 12,
  kBlendLinearBurn = 13,
  kBlendHardLight = 14,
  kBlendSoftLight = 15,
  kBlendVividLight = 16,
  kBlendLinearLight = 17,
  kBlendPinLight = 18,
};
constexpr int kBlendModeCount = 19;

// BlendLut of mode m: entry (s << 8) + d holds the blended value B(s, d);
// the source byte selects the row. Modes 0-2 have tables too (s, the
// saturating add, source minus destination) so that every table kernel
// reads one shape of table.
extern u8 g_blend_lut[kBlendModeCount][65536];
inline const u8* blend_lut(int mode) { return g_blend_lut[mode]; }

// Mask weight per mask byte (the blue byte of a mask pixel), 0..256, written
// by the compositor before each masked draw; masked kernels draw a pixel
// only where its weight exceeds 1.
extern i32 g_mask_weights[256];

// Builds the three BlendTables (the product tables and the 255-product).
void build_product_tables();
// Builds the reciprocal, saturation and blend-mode tables (needs the product
// tables). init_blend_tables runs both and fills the kernel tables.
void build_blend_luts();
