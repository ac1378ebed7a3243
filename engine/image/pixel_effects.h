// The pixel effects of the layer drawing command: CPU kernels that read a
// rectangle of a source layer's pixels and write a result buffer.
//
// Pixels are B, G, R, A bytes; "colour bytes" are B, G and R, and the alpha
// byte is copied unless an effect says otherwise. The result buffer holds
// dst_w x dst_h pixels whose pixel (0, 0) belongs to source pixel
// (dst_x, dst_y): a result of the rectangle's size has its origin at
// (x0, y0), a result of the whole layer's size (effects 19 and 24, and 27
// worked in place) at (0, 0), the kernel then copying the whole layer first
// and changing only the rectangle.
//
// Effects by type (value = the command's value, value2 its second value):
//   1 brightness (128 neutral)        2 soft blur (falloff weights)
//   3 box blur across   4 box blur down   5 box blur both ways
//   6 soft shadow       7 box shadow (a layer without alpha counts as opaque)
//   8, 9 copy          10 random scatter of 2 x 2 blocks
//  11 horizontal mirror 12 colour tone (value 0xRRGGBB)
//  19 threshold        20 mosaic (every byte of a block, alpha too, is the
//                         block's mean)
//  21, 22, 23 wave: amplitude value, phase value2 (degrees)
//  24 fill, fill mode 1, 2 or 3 (fill_mode)
//  27 alpha ramp between columns value and value2 (source columns)
//  28 negative  30 grey (saturation level)  38 vertical flip  39 sepia
//  40 twirl (value: angle in tenths of a degree)
#pragma once
#include "engine/frame/types.h"

struct EffectJob {
  u32* dst = nullptr;
  i32 dst_w = 0, dst_h = 0;
  i32 dst_x = 0, dst_y = 0;  // source position of result pixel (0, 0)
  const u32* src = nullptr;
  i32 src_w = 0, src_h = 0;
  i32 x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // inclusive, inside the source
  i64 value = 0;
  i64 value2 = 0;
  int fill_mode = 0;            // effect 24
  u8 has_alpha = 0;             // the source layer's
  // The result's has-alpha flag, written by 24 (modes 2 and 3) and 27; may
  // be null.
  u8* result_has_alpha = nullptr;
};

// The effect types that exist.
bool pixel_effect_known(int type);
// Runs effect type. The caller guarantees the buffers and the rectangle
// (the rectangle inside the source, the result covering it). 0, or -1 when
// scratch memory could not be had (104030 reported; the result is then
// incomplete and must not be installed).
int run_pixel_effect(int type, const EffectJob& job);

// The falloff weights of effects 2 and 6 for a radius: 2 max(r, 1) + 1
// weights, 512 in the middle quarter, halving outward.
int falloff_weights(i64 radius, i32* out, int capacity);
// Block permutations of effect 10: row k gives, for the new top-left,
// top-right, bottom-left and bottom-right pixel, the old one it takes.
extern const u8 kScatterPermutations[24][4];
// The random source of effect 10 (std::rand by default); null restores it.
void set_effect_random(int (*source)());
// The twirl's distance map (kept between calls; rebuilt for a new size).
struct TwirlDistanceMap {
  u16* entries = nullptr;
  i32 width = 0, height = 0;
};
extern TwirlDistanceMap g_twirl_distance_map;
void free_twirl_distance_map();
