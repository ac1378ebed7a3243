// Windows bitmap decoding into layers: 1-, 4- and 8-bit palette images and
// 24- and 32-bit direct colour, uncompressed, bottom row first.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"

struct LayerImage;

// Decodes a whole BMP file held in memory into image. 0 ok; -1 after
// reporting the error (all fatal, with the file name): 100070 not "BM" or an
// information header shorter than 40 bytes, 100080 data offset below 11,
// 100091 width or height above 8192 (or below 1), 100092 top-down (negative
// height), 100090 a compressed 4- or 8-bit image; allocation errors as
// alloc_image_buffer. On failure the layer keeps its size and buffer.
int decode_bmp_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name);
