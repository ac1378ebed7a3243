// JPEG reading into layers through libjpeg, from the file's bytes in memory.
//
// The memory source and the error manager are shared with other readers of
// JPEG data (frame sets).
#pragma once
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include "engine/frame/types.h"

struct LayerImage;

// The library's error manager with error_exit replaced by a jump to jump;
// messages are not shown.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
// Sets up err for cinfo (before jpeg_create_decompress); the caller arms
// err->jump with setjmp before any library call that may fail.
void jpeg_setup_error_manager(jpeg_decompress_struct* cinfo, JpegErrorManager* err);

// Memory source: hands the library the whole buffer; at the end of the data
// it supplies an end-of-image marker (with the library's warning), so a
// truncated file gives a partial picture instead of an error. Skips past the
// end stop at the end. The record lives in the library's permanent pool.
void jpeg_setup_memory_source(jpeg_decompress_struct* cinfo, const u8* data, std::size_t size);

// Decodes the JPEG in data into image as B, G, R, 255 pixels (grey g becomes
// g, g, g, 255); has_alpha stays 0. Colour images with three components and
// grey images are read; CMYK and other layouts are refused. The size changes
// only once the new buffer exists. 0 ok; -2 library error or unsupported
// layout; -3 too large (error 100091 reported) or no buffer (reported by the
// allocator).
int decode_jpeg_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name);
