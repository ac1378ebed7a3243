// Colour tone and saturation over a rectangle of rows.
#pragma once
#include "engine/frame/types.h"

// Colour tone: every channel moves toward 255 (tone value above 128) or 0
// (below), by its own value of the 0xRRGGBB tone; alpha is copied. x1 and y1
// inclusive; source and destination rows have their own widths.
void apply_color_tone_rows(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                           i32 dst_w, i32 dst_h, i32 tone_colour);
// Saturation: level 128 keeps, above it moves channels away from their grey
// (never leaving 0..255), below it toward grey (0 gives grey).
void apply_saturation_rows(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                           i32 dst_w, i32 dst_h, i32 tone_level);
