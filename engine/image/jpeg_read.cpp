// JPEG reading through libjpeg from memory.
#include "engine/image/jpeg_read.h"

#include <cstdlib>
#include <cstring>

#include <jerror.h>

#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"

namespace {

[[noreturn]] void jpeg_error_exit_longjmp(j_common_ptr cinfo) {
  JpegErrorManager* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}
void jpeg_output_quiet(j_common_ptr cinfo) {}

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void jpeg_mem_init_source(j_decompress_ptr cinfo) {}

// Called only once the data is used up: feeds an end-of-image marker.
boolean jpeg_mem_fill_input_buffer(j_decompress_ptr cinfo) {
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kFakeEoi;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

void jpeg_mem_skip_input(j_decompress_ptr cinfo, long n) {
  if (n <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<unsigned long>(n) > src->bytes_in_buffer) {
    // A skip past the end lands on the end-of-image marker.
    jpeg_mem_fill_input_buffer(cinfo);
    return;
  }
  src->next_input_byte += n;
  src->bytes_in_buffer -= static_cast<std::size_t>(n);
}

void jpeg_mem_term_source(j_decompress_ptr cinfo) {}

}  // namespace

void jpeg_setup_error_manager(jpeg_decompress_struct* cinfo, JpegErrorManager* err) {
  cinfo->err = jpeg_std_error(&err->pub);
  err->pub.error_exit = jpeg_error_exit_longjmp;
  err->pub.output_message = jpeg_output_quiet;
}

void jpeg_setup_memory_source(jpeg_decompress_struct* cinfo, const u8* data, std::size_t size) {
  if (!cinfo->src)
    cinfo->src = static_cast<jpeg_source_mgr*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(jpeg_source_mgr)));
  jpeg_source_mgr* src = cinfo->src;
  src->init_source = jpeg_mem_init_source;
  src->fill_input_buffer = jpeg_mem_fill_input_buffer;
  src->skip_input_data = jpeg_mem_skip_input;
  src->resync_to_restart = jpeg_resync_to_restart;
  src->term_source = jpeg_mem_term_source;
  src->next_input_byte = data;
  src->bytes_in_buffer = size;
}

int decode_jpeg_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  jpeg_setup_error_manager(&cinfo, &err);
  // The pixels are decoded into a buffer of their own (take_decode_buffer:
  // the one a layer gave up last, when it fits) that the layer takes only
  // once the whole file has been read, so a refused file leaves the layer as
  // it was. Nothing below holds a destructor; the spare buffer is the one
  // local changed after setjmp and read after the jump, hence volatile.
  u32* volatile spare = nullptr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    give_back_decode_buffer(spare);
    return -2;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_setup_memory_source(&cinfo, data, size);
  jpeg_read_header(&cinfo, TRUE);
  // Colour images come out as B, G, R, 255 straight from the library; a grey
  // image too (the library replicates the grey value).
  if (cinfo.num_components != 3 && cinfo.num_components != 1) {
    jpeg_destroy_decompress(&cinfo);
    return -2;
  }
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
    jpeg_destroy_decompress(&cinfo);
    return -2;
  }
  // The size is checked before the library sets up its buffers (a
  // progressive image would get a coefficient store for its whole size).
  if (cinfo.image_width > 8192 || cinfo.image_height > 8192) {
    jpeg_destroy_decompress(&cinfo);
    report_error_fmt(100091, 1, name ? name : "");
    return -3;
  }
  cinfo.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&cinfo);
  const JDIMENSION w = cinfo.output_width;
  const JDIMENSION h = cinfo.output_height;
  if (w > 8192 || h > 8192) {
    jpeg_destroy_decompress(&cinfo);
    report_error_fmt(100091, 1, name ? name : "");
    return -3;
  }
  if (cinfo.output_components != 4) {
    jpeg_destroy_decompress(&cinfo);
    return -2;
  }
  u32* buf = take_decode_buffer(static_cast<i32>(w), static_cast<i32>(h), name);
  if (!buf) {
    jpeg_destroy_decompress(&cinfo);
    return -3;
  }
  spare = buf;
  while (cinfo.output_scanline < h) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(buf + static_cast<std::size_t>(w) * cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  install_decoded_buffer(image, buf, static_cast<i32>(w), static_cast<i32>(h));
  image->has_alpha = 0;
  return 0;
}
