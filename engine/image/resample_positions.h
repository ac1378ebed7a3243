// Position arithmetic shared by the resample posters and the worker jobs.
#pragma once
#include "engine/frame/types.h"

// Bilinear position of destination index j (plus half, 0 or 128, for the
// second sample of the supersampled mode) over the window a0..a1 in
// hundredths and n destination pixels, in 1/256 pixel relative to column
// a0 / 100. The first and last destination pixels land exactly on a0 and
// a1: the fraction of a0 is added after the scaling, for enlargement and
// reduction alike.
inline i64 bilinear_position(i64 j, i32 a0, i32 a1, i32 n, i32 half) {
  const i64 span = static_cast<i64>(a1) - a0;
  const i64 divisor = n <= 1 ? 100 : static_cast<i64>(n) * 100 - 100;
  const i64 f0 = static_cast<i64>(a0 % 100) * 256 / 100;
  return span * (256 * j + half) / divisor + f0;
}

// The same as an absolute source position in 1/256 pixel.
inline i64 bilinear_absolute(i64 j, i32 a0, i32 a1, i32 n, i32 half) {
  return static_cast<i64>(a0 / 100) * 256 + bilinear_position(j, a0, a1, n, half);
}

// Source pixel of a 1/256-pixel position (floor) and its fraction.
inline i32 position_pixel(i64 p) { return static_cast<i32>(p >> 8); }
inline i32 position_fraction(i64 p) { return static_cast<i32>(p & 255); }
