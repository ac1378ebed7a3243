#include "engine/image/image_writers.h"

#include <png.h>
#include <jpeglib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/image/layer_image.h"
#include "engine/image/webp_plugin.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace {

bool has_pixels(const LayerImage* image) {
  return image && image->pixels && image->width > 0 && image->height > 0 && image->width <= kMaxImageSide &&
         image->height <= kMaxImageSide;
}

std::FILE* create_file(const char* path) { return path && path[0] ? g_platform.files->open(path, "wb") : nullptr; }

// Closes the file; false when the close or an earlier write failed.
bool close_file(std::FILE* f) {
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

void put_u16(u8* p, u32 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
}
void put_u32(u8* p, u32 v) {
  put_u16(p, v & 0xFFFFu);
  put_u16(p + 2, v >> 16);
}

[[noreturn]] void png_error_jump(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_warning_quiet(png_structp, png_const_charp) {}

struct JpegWriteError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
[[noreturn]] void jpeg_write_error_exit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegWriteError*>(cinfo->err)->jump, 1);
}
void jpeg_write_message_quiet(j_common_ptr) {}

// The parts of save_png and save_jpeg that run under a recovery point hold
// no object with a destructor and change no local that is read after the
// jump.
int write_png_rows(std::FILE* f, LayerImage* image, int level) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_jump, png_warning_quiet);
  if (!png) return -1;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return -1;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  png_init_io(png, f);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
  png_set_compression_level(png, level);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height), 8,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_set_gAMA(png, info, 1.0 / 2.2);
  png_write_info(png, info);
  png_set_bgr(png);
  if (!image->has_alpha) {
    const std::size_t count = static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    for (std::size_t i = 0; i < count; ++i) image->pixels[i] |= 0xFF000000u;
  }
  for (i32 y = 0; y < image->height; ++y)
    png_write_row(png, reinterpret_cast<png_const_bytep>(image->pixels + static_cast<std::size_t>(y) * image->width));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int write_jpeg_rows(std::FILE* f, const LayerImage* image, int quality, u8* row) {
  jpeg_compress_struct cinfo;
  JpegWriteError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jpeg_write_error_exit;
  err.pub.output_message = jpeg_write_message_quiet;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return -2;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(image->width);
  cinfo.image_height = static_cast<JDIMENSION>(image->height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  // The row buffer is bytes, which may alias anything: with the image's
  // fields read once into locals the conversion loop needs no reload per
  // byte written and can be vectorised.
  const i32 width = image->width, height = image->height;
  const u32* pixels = image->pixels;
  for (i32 y = 0; y < height; ++y) {
    const u8* __restrict src = reinterpret_cast<const u8*>(pixels + static_cast<std::size_t>(y) * width);
    u8* __restrict out = row;
    for (i32 x = 0; x < width; ++x) {
      out[x * 3] = src[x * 4 + 2];
      out[x * 3 + 1] = src[x * 4 + 1];
      out[x * 3 + 2] = src[x * 4];
    }
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 0;
}

}  // namespace

int save_bmp(const LayerImage* image, const char* path) {
  if (!has_pixels(image)) {
    show_error_box("", "File Create Error.");
    return -1;
  }
  const i32 w = image->width, h = image->height;
  const u32 stride = static_cast<u32>((w * 3 + 3) & ~3);
  const u32 pixel_bytes = stride * static_cast<u32>(h);
  u8* rows = static_cast<u8*>(std::calloc(pixel_bytes, 1));
  if (!rows) {
    report_error_code_at(100010, 1);
    return -1;
  }
  for (i32 y = 0; y < h; ++y) {
    const u8* src = reinterpret_cast<const u8*>(image->pixels + static_cast<std::size_t>(h - 1 - y) * w);
    u8* dst = rows + static_cast<std::size_t>(y) * stride;
    for (i32 x = 0; x < w; ++x) {
      dst[x * 3] = src[x * 4];
      dst[x * 3 + 1] = src[x * 4 + 1];
      dst[x * 3 + 2] = src[x * 4 + 2];
    }
  }
  u8 header[54] = {'B', 'M'};
  put_u32(header + 2, pixel_bytes + 54);
  put_u32(header + 6, 0);
  put_u32(header + 10, 54);
  put_u32(header + 14, 40);
  put_u32(header + 18, static_cast<u32>(w));
  put_u32(header + 22, static_cast<u32>(h));
  put_u16(header + 26, 1);
  put_u16(header + 28, 24);
  // Compression, image size, resolutions and colour counts stay 0.
  std::FILE* f = create_file(path);
  if (!f) {
    std::free(rows);
    show_error_box("", "File Create Error.");
    return -1;
  }
  std::fwrite(header, 1, sizeof header, f);
  std::fwrite(rows, 1, pixel_bytes, f);
  std::free(rows);
  if (!close_file(f)) {
    show_error_box("", "File Create Error.");
    return -1;
  }
  return 0;
}

int save_png(LayerImage* image, const char* path, int level) {
  level = level < 0 ? 0 : (level > kPngLevelMax ? kPngLevelMax : level);
  std::FILE* f = has_pixels(image) ? create_file(path) : nullptr;
  if (!f) {
    show_error_box("", "[SavePNG] File Create Error.\r\n\r\n%s", path ? path : "");
    return -1;
  }
  // A library error (a failed write included) is a failure without a box.
  const int written = write_png_rows(f, image, level);
  if (!close_file(f) || written != 0) return -1;
  return g_quit_requested.load() ? 1 : 0;
}

int save_jpeg(const LayerImage* image, const char* path, int quality) {
  quality = quality < kJpegQualityMin ? kJpegQualityMin : (quality > kJpegQualityMax ? kJpegQualityMax : quality);
  std::FILE* f = has_pixels(image) ? create_file(path) : nullptr;
  if (!f) {
    show_error_box("", "File Create Error.");
    return -1;
  }
  u8* row = static_cast<u8*>(std::malloc(static_cast<std::size_t>(image->width) * 3));
  if (!row) {
    std::fclose(f);
    report_error_code_at(100010, 1);
    return -2;
  }
  const int written = write_jpeg_rows(f, image, quality, row);
  std::free(row);
  if (!close_file(f) || written != 0) return -2;
  return 0;
}

int save_webp(const LayerImage* image, const char* path, int quality) {
  quality = quality < 0 ? 0 : (quality > kWebpQualityMax ? kWebpQualityMax : quality);
  if (!g_webp.loaded || !g_webp.encode || !has_pixels(image)) {
    show_error_box("", sjis_message("エンコードエラー."));
    return -1;
  }
  const double wanted = std::round(static_cast<double>(image->width) * image->height * 4 * 1.2);
  const u32 capacity = wanted < kWebpMinOutputBytes ? kWebpMinOutputBytes : static_cast<u32>(wanted);
  u8* out = static_cast<u8*>(std::malloc(capacity));
  if (!out) {
    show_error_box("", sjis_message("エンコードエラー."));
    return -1;
  }
  const int produced = g_webp.encode(reinterpret_cast<const u8*>(image->pixels), out, image->width, image->height, 6,
                                     quality == kWebpQualityMax ? -1 : quality, capacity);
  if (produced <= 0 || static_cast<u32>(produced) > capacity) {
    std::free(out);
    show_error_box("", sjis_message("エンコードエラー."));
    return -1;
  }
  std::FILE* f = create_file(path);
  if (!f) {
    std::free(out);
    show_error_box("", "[SaveWEBP] File Create Error.\r\n\r\n%s", path ? path : "");
    return -1;
  }
  std::fwrite(out, 1, static_cast<std::size_t>(produced), f);
  std::free(out);
  if (!close_file(f)) {
    show_error_box("", "[SaveWEBP] File Create Error.\r\n\r\n%s", path);
    return -1;
  }
  return 0;
}
