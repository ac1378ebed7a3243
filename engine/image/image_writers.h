// Writing a layer's pixels to image files: BMP (24-bit, written here), PNG
// (libpng), JPEG (libjpeg) and WebP (the WebP plug-in's encode entry).
//
// Every writer takes the layer's B, G, R, A pixels (pixels, width x height,
// top row first) and a Shift-JIS path, creates the file through the files
// service and shows its own message box when it fails.
#pragma once
#include "engine/frame/types.h"

struct LayerImage;

// Bounds of the level and quality values the writers accept.
constexpr int kPngLevelMax = 9;
constexpr int kJpegQualityMin = 1;
constexpr int kJpegQualityMax = 100;
constexpr int kWebpQualityMax = 101;  // 101 asks for lossless
// The WebP output buffer: 1.2 times the pixel bytes, at least this much.
constexpr u32 kWebpMinOutputBytes = 1048576;

// 24-bit BMP, bottom row first, rows padded to 4 bytes; alpha is dropped.
// 0, or -1 after "File Create Error." (also for a failed write).
int save_bmp(const LayerImage* image, const char* path);
// 8-bit RGBA PNG with every filter, zlib level 0-9 (clamped) and a gAMA of
// 1/2.2. A layer without alpha gets alpha 255 in every pixel of its own
// buffer first. 0 written, 1 written while quit-requested is set, -1 after
// "[SavePNG] File Create Error.\r\n\r\n%s", or without a box after a
// library or write error.
int save_png(LayerImage* image, const char* path, int level);
// Baseline RGB JPEG at quality 1-100 (clamped). 0; -1 after "File Create
// Error." (the file could not be created); -2 on a library or write error.
int save_jpeg(const LayerImage* image, const char* path, int quality);
// WebP through the plug-in at quality 0-100, 101 meaning lossless. 0, or -1
// after "エンコードエラー." (no plug-in, no buffer, the encoder failed) or
// "[SaveWEBP] File Create Error.\r\n\r\n%s".
int save_webp(const LayerImage* image, const char* path, int quality);

// Byte count of the 24-bit BMP of a width x height image.
inline u64 bmp_file_bytes(i32 width, i32 height) {
  return 54u + static_cast<u64>((width * 3 + 3) & ~3) * static_cast<u64>(height);
}
