// PNG reading through libpng from memory.
#include "engine/image/png_read.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"

namespace {

struct PngInput {
  const u8* data;
  std::size_t size;
  std::size_t pos;
};

// libpng read callback: a read past the end of the file is a libpng error.
void png_mem_read(png_structp png, png_bytep dest, png_size_t n) {
  PngInput* in = static_cast<PngInput*>(png_get_io_ptr(png));
  if (n > in->size - in->pos) png_error(png, "read past the end of the data");
  std::memcpy(dest, in->data + in->pos, n);
  in->pos += n;
}

// Errors jump back to the recovery point in decode_png_rows; the messages
// themselves are not shown.
[[noreturn]] void png_error_quiet(png_structp png, png_const_charp msg) { png_longjmp(png, 1); }
void png_warning_quiet(png_structp png, png_const_charp msg) {}

}  // namespace

int decode_png_rows(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_quiet, png_warning_quiet);
  if (!png) return kPngLibraryFailed;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return kPngLibraryFailed;
  }
  PngInput in{data, size, 0};
  // The rows are read into a buffer of their own (take_decode_buffer),
  // installed only when the whole image has been read: a damaged or cut-off
  // file leaves the layer's old image and size. Nothing below holds a
  // destructor, and the one local changed after setjmp and read after the
  // jump is volatile.
  u32* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    give_back_decode_buffer(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return kPngLibraryFailed;
  }
  png_set_read_fn(png, &in, png_mem_read);
  // Decoded images are bounded by the size check below; the library's own
  // limits stay as they are.
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int bit_depth = 0, colour_type = 0;
  png_get_IHDR(png, info, &w, &h, &bit_depth, &colour_type, nullptr, nullptr, nullptr);
  if (w >= 8193 || h >= 8193) {
    png_destroy_read_struct(&png, &info, nullptr);
    return kPngTooLarge;
  }
  const bool has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (colour_type == PNG_COLOR_TYPE_PALETTE || (colour_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) || has_trns)
    png_set_expand(png);
  if (bit_depth == 16) png_set_strip_16(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  const bool alpha_channel = colour_type == PNG_COLOR_TYPE_GRAY_ALPHA || colour_type == PNG_COLOR_TYPE_RGB_ALPHA;
  if (!alpha_channel) png_set_filler(png, 255, PNG_FILLER_AFTER);
  double file_gamma = 0;
  if (png_get_gAMA(png, info, &file_gamma)) png_set_gamma(png, 2.2, file_gamma);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(w) * 4) png_error(png, "unexpected row layout");

  u32* buf = take_decode_buffer(static_cast<i32>(w), static_cast<i32>(h), name);
  if (!buf) {
    // The allocator has reported; the layer keeps its old buffer and size.
    png_destroy_read_struct(&png, &info, nullptr);
    return kPngNoBuffer;
  }
  rows = buf;
  for (int p = 0; p < passes; ++p)
    for (png_uint_32 y = 0; y < h; ++y)
      png_read_row(png, reinterpret_cast<png_bytep>(buf + static_cast<std::size_t>(w) * y), nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  install_decoded_buffer(image, buf, static_cast<i32>(w), static_cast<i32>(h));
  // A tRNS chunk makes some pixels transparent, so the alpha is meaningful.
  image->has_alpha = (alpha_channel || has_trns) ? 1 : 0;
  return kPngOk;
}

int decode_png_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  const int r = decode_png_rows(data, size, image, name);
  if (r == kPngOk) return 0;
  if (r == kPngLibraryFailed) report_error_code(100200, 1);
  else if (r == kPngTooLarge) report_error_fmt(100091, 1, name ? name : "");
  return 1;
}
