// PNG reading into layers through libpng, from the file's bytes in memory.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"

struct LayerImage;

// Result codes of decode_png_rows.
constexpr int kPngOk = 0;
constexpr int kPngLibraryFailed = 101;  // structures not made, or a libpng error (damaged file)
constexpr int kPngTooLarge = 102;       // width or height of 8193 or more
constexpr int kPngNoBuffer = 103;       // the buffer allocator refused (it has reported)

// Decodes the PNG in data into image: rows become B, G, R, A pixels; images
// without an alpha channel get alpha 255 except where a tRNS chunk makes a
// colour transparent. has_alpha is 1 for grey-alpha and RGB-alpha images and
// for any image with a tRNS chunk. The size changes only once the new buffer
// exists. Nothing is reported here.
int decode_png_rows(const u8* data, std::size_t size, LayerImage* image, const char* name);
// decode_png_rows with the reports: 101 gives error 100200, 102 error 100091
// (both fatal). 0 ok, 1 failed.
int decode_png_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name);
