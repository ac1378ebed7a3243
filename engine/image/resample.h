// Resampling: giving a layer a new size (or filling another layer with a
// resized copy) in one of five modes, the scalers that CPU presentation uses
// to stretch the frame, and the canvas-margin operation.
//
// Modes: 10 nearest neighbour, 21 sharpened bilinear, 31 bicubic, 41
// supersampled bilinear, 51 two-pass windowed sinc (lanczos2).
//
// Source windows come in hundredths of a pixel (x0, y0, x1, y1, with x1 and
// y1 the last pixel's position: a whole image of width w is 0 .. w*100-100).
// The position tables hold source positions in 1/256 pixel (modes 21, 31,
// 41) or whole source pixel offsets (mode 10). They are shared scratch: a
// scaler holds the pixel-job lock while it builds and uses them, so a resize
// on the frame thread and a presentation on the GUI thread never overlap.
#pragma once
#include "engine/frame/types.h"

struct LayerImage;
struct ObjectNode;

constexpr int kResampleModeNearest = 10;
constexpr int kResampleModeBilinear = 21;
constexpr int kResampleModeBicubic = 31;
constexpr int kResampleModeSupersample = 41;
constexpr int kResampleModeLanczos = 51;

// One entry per destination row or column (two per column for mode 41).
constexpr int kResampleTableSize = 2 * 8192 + 2;
extern i32 g_resample_row_map[kResampleTableSize];          // ResampleRowMap
extern i32 g_resample_column_map[kResampleTableSize];       // ResampleColumnMap
extern u16 g_resample_column_weights[4 * kResampleTableSize];  // ResampleColumnWeights
extern i32 g_resample_column_map2[kResampleTableSize];      // second pair (job 29)
extern u16 g_resample_column_weights2[4 * kResampleTableSize];
// Fraction sharpening of mode 21: f -> clamp(trunc(1.25 (f - 128) + 128)).
extern u8 g_sharpen_columns[256];
extern u8 g_sharpen_rows[256];
void build_sharpen_tables();

// The scalers. dst holds dst_w x dst_h pixels, src src_w x src_h (rows
// without padding). Windows: whole pixels for nearest, bicubic and lanczos2;
// hundredths for the bilinear scalers and the supersampled one.
void scale_nearest_threaded(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                            i32 dst_w, i32 dst_h);
void scale_bilinear(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                    i32 dst_h);
void scale_bilinear_threaded(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                             i32 dst_w, i32 dst_h);
// The presentation copy (the alternate-scaler flag); same results.
void scale_bilinear_present(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h,
                            i32 dst_w, i32 dst_h);
void scale_bicubic(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                   i32 dst_h);
void resample_threaded(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                       i32 dst_h);
// 0, or -1 after reporting (no memory for its temporary buffer: 104030).
int resize_lanczos2(u32* dst, const u32* src, i32 x0, i32 y0, i32 x1, i32 y1, i32 src_w, i32 src_h, i32 dst_w,
                    i32 dst_h);

double sinc(double x);
double lanczos2(double x);

// Mode 51's weight set-up for one axis: ratio r = (n_dst - 1) / (n_src - 1)
// (n_dst / n_src when either side is a single pixel); the kernel is narrowed
// only when shrinking (scale min(r, 1)).
struct FilterAxis {
  double ratio = 1;    // r
  double scale = 1;    // min(r, 1)
  double support = 2;  // 2 / scale
  int taps = 0;        // rows of the weight table
  int positions = 0;   // destination positions 0..n_dst (n_dst + 1 columns)
  i32* lo = nullptr;   // first tap per position
  i32* hi = nullptr;   // last tap per position
  i32* weights = nullptr;  // 16.16 weights, [position][tap - lo]
};
void set_resample_factors(FilterAxis* axis, i32 src_n, i32 dst_n);
// 0, or -1 when the table could not be allocated (nothing reported).
int build_resample_weights(FilterAxis* axis, i32 dst_n);
void free_resample_weights(FilterAxis* axis);

// Resizes (use_destination clear) the source layer, or fills the destination
// layer with a resized copy of the source. Window in hundredths, destination
// size in hundredths (width x 100, height x 100). 0, or -1 after a report.
int resize_layer(ObjectNode* source, ObjectNode* destination, i32 x0, i32 y0, i32 x1, i32 y1, i32 dst_width100,
                 i32 dst_height100, int use_destination, int mode);
// Adds (or, negative, cuts) margins around the source layer's image. 0, or
// -1 after a report.
int extend_layer_canvas(ObjectNode* source, ObjectNode* destination, int use_destination, i32 left, i32 right, i32 top,
                        i32 bottom);
