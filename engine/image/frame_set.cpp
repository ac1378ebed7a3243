// JPEG frame sets: the file's checks, the one shared decompressor, and
// showing a frame in a layer.
#include "engine/image/frame_set.h"

#include <csetjmp>
#include <cstdlib>
#include <new>

#include "engine/frame/data_access.h"
#include "engine/frame/errors.h"
#include "engine/frame/media_locator.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/frame_set_format.h"
#include "engine/image/jpeg_read.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"

namespace {

constexpr u32 kErrTooLarge = 100091;
constexpr u32 kErrNoMemory = 100010;
constexpr u32 kErrFileRead = 104010;
constexpr u32 kErrFileMissing = 104060;

// One decompressor serves every frame of every set: made on first use and
// reset (jpeg_abort_decompress) after each part that failed, so a damaged
// frame does not leave it in a state that refuses the next one.
struct FrameDecoder {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  bool created = false;
};
FrameDecoder g_decoder;

bool ensure_decoder() {
  if (g_decoder.created) return true;
  jpeg_setup_error_manager(&g_decoder.cinfo, &g_decoder.err);
  if (setjmp(g_decoder.err.jump)) {
    jpeg_destroy_decompress(&g_decoder.cinfo);
    return false;
  }
  jpeg_create_decompress(&g_decoder.cinfo);
  g_decoder.created = true;
  return true;
}

LayerImage* image_of(ObjectNode* node) {
  return node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
}

u32 table_word(const u8* table, i64 k) { return frame_set_get_u32(table + 4 * k); }

// The colour part into *buffer (grown as needed) as B, G, R, 255 pixels.
// Nothing changed after setjmp is read after the jump.
int decode_colour_part(const u8* data, std::size_t size, const char* name, u32** buffer, std::size_t* capacity,
                       i32* width, i32* height) {
  jpeg_decompress_struct* c = &g_decoder.cinfo;
  if (setjmp(g_decoder.err.jump)) {
    jpeg_abort_decompress(c);
    return -2;
  }
  jpeg_setup_memory_source(c, data, size);
  jpeg_read_header(c, TRUE);
  if ((c->num_components != 3 && c->num_components != 1) || c->jpeg_color_space == JCS_CMYK ||
      c->jpeg_color_space == JCS_YCCK) {
    jpeg_abort_decompress(c);
    return -2;
  }
  // Checked before the library sets up buffers for the whole size.
  if (c->image_width > static_cast<JDIMENSION>(kMaxImageSide) ||
      c->image_height > static_cast<JDIMENSION>(kMaxImageSide)) {
    jpeg_abort_decompress(c);
    report_error_fmt(kErrTooLarge, 1, name ? name : "");
    return -3;
  }
  c->out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(c);
  const JDIMENSION w = c->output_width;
  const JDIMENSION h = c->output_height;
  if (c->output_components != 4 || w < 1 || h < 1) {
    jpeg_abort_decompress(c);
    return -2;
  }
  const std::size_t need = static_cast<std::size_t>(image_buffer_bytes(w, h));
  if (!*buffer || *capacity < need) {
    u32* grown = alloc_frame_buffer(*buffer, static_cast<i32>(w), static_cast<i32>(h));
    if (!grown) {
      jpeg_abort_decompress(c);
      return -1;
    }
    *buffer = grown;
    *capacity = need;
  }
  u32* const out = *buffer;
  while (c->output_scanline < h) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(out + static_cast<std::size_t>(w) * c->output_scanline);
    jpeg_read_scanlines(c, &row, 1);
  }
  jpeg_finish_decompress(c);
  *width = static_cast<i32>(w);
  *height = static_cast<i32>(h);
  return 0;
}

// The alpha part's grey values into byte 3 of the w x h pixels. A part of
// another size is refused; a part with other than one component is read
// but writes nothing.
int decode_alpha_part(const u8* data, std::size_t size, u32* pixels, i32 w, i32 h) {
  jpeg_decompress_struct* c = &g_decoder.cinfo;
  if (setjmp(g_decoder.err.jump)) {
    jpeg_abort_decompress(c);
    return -2;
  }
  jpeg_setup_memory_source(c, data, size);
  jpeg_read_header(c, TRUE);
  if (c->image_width != static_cast<JDIMENSION>(w) || c->image_height != static_cast<JDIMENSION>(h)) {
    jpeg_abort_decompress(c);
    return -2;
  }
  if (c->num_components != 1) {
    jpeg_abort_decompress(c);
    return 0;
  }
  c->out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(c);
  if (c->output_components != 1 || c->output_width != static_cast<JDIMENSION>(w) ||
      c->output_height != static_cast<JDIMENSION>(h)) {
    jpeg_abort_decompress(c);
    return -2;
  }
  JSAMPARRAY rows = (*c->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(c), JPOOL_IMAGE, c->output_width, 1);
  while (c->output_scanline < c->output_height) {
    const JDIMENSION y = c->output_scanline;
    jpeg_read_scanlines(c, rows, 1);
    u32* px = pixels + static_cast<std::size_t>(w) * y;
    const JSAMPLE* grey = rows[0];
    for (i32 x = 0; x < w; ++x) px[x] = (px[x] & 0x00FFFFFFu) | static_cast<u32>(grey[x]) << 24;
  }
  jpeg_finish_decompress(c);
  return 0;
}

// Decodes frame n of image's set into the set's spare buffer and, when that
// worked, makes it the layer's pixels; the layer's old buffer becomes the
// spare. node (may be null) gets its old and new areas marked.
int show_frame_of(ObjectNode* node, LayerImage* image, i64 n) {
  FrameSet* s = image ? image->frame_set : nullptr;
  if (!s || !s->bytes || s->count < 1) return 0;
  const i64 k = n < 0 ? 0 : n >= s->count ? s->count - 1 : n;
  const u32 offset = table_word(s->offsets, k);
  const u32 size = table_word(s->sizes, k);
  const bool with_alpha = s->alpha_flag != 0;
  const u32 alpha_size = with_alpha ? table_word(s->alpha_sizes, k) : 0;
  const u8* part = s->bytes + offset;
  u32* buffer = s->spare;
  std::size_t capacity = s->spare_bytes;
  i32 w = 0, h = 0;
  const int r = decode_frame_parts(part, size, part + size, alpha_size, with_alpha, s->name.c_str(), &buffer,
                                   &capacity, &w, &h);
  s->spare = buffer;
  s->spare_bytes = capacity;
  if (r != 0) return r;
  const bool resized = w != image->width || h != image->height;
  if (resized && node) mark_layer_dirty(node);
  // The old buffer holds at least the old size (a kept larger buffer is
  // larger still); it becomes the spare instead of being freed.
  u32* old = image->owned_pixels;
  const u64 shown = image_buffer_bytes(image->width > 0 ? image->width : 0, image->height > 0 ? image->height : 0);
  const u64 loaded =
      image_buffer_bytes(image->loaded_width > 0 ? image->loaded_width : 0, image->loaded_height > 0 ? image->loaded_height : 0);
  image->owned_pixels = nullptr;
  replace_layer_pixels(image, buffer, w, h);
  s->spare = old;
  s->spare_bytes = old ? static_cast<std::size_t>(shown < loaded ? shown : loaded) : 0;
  image->has_alpha = with_alpha ? 1 : 0;
  if (node) mark_layer_dirty(node);
  return 0;
}

void release_frame_set_hook(LayerImage* image) { release_image_frame_set(image); }

}  // namespace

u32* alloc_frame_buffer(u32* old, i32 width, i32 height) { return alloc_image_buffer(old, width, height, nullptr); }

int decode_frame_parts(const u8* data, std::size_t size, const u8* alpha, std::size_t alpha_size, bool with_alpha,
                       const char* name, u32** buffer, std::size_t* capacity, i32* width, i32* height) {
  if (!ensure_decoder()) {
    report_error_code(kErrNoMemory, 1);
    return -1;
  }
  i32 w = 0, h = 0;
  const int r = decode_colour_part(data, size, name, buffer, capacity, &w, &h);
  if (r != 0) return r;
  if (with_alpha) {
    const int a = decode_alpha_part(alpha, alpha_size, *buffer, w, h);
    if (a != 0) return a;
  }
  *width = w;
  *height = h;
  return 0;
}

int make_frame_set(u8* bytes, u32 size, const char* name, FrameSet** out) {
  *out = nullptr;
  if (!bytes || size < kFrameSetHeaderBytes) {
    std::free(bytes);
    return -2;
  }
  const i32 count = static_cast<i32>(frame_set_get_u32(bytes + kFrameSetOffCount));
  const i32 alpha_flag = static_cast<i32>(frame_set_get_u32(bytes + kFrameSetOffAlphaFlag));
  const u64 tables = kFrameSetHeaderBytes + u64{kFrameSetTableWords} * 4u * static_cast<u64>(count > 0 ? count : 0);
  if (count < 1 || tables > size) {
    std::free(bytes);
    return -2;
  }
  const u8* offsets = bytes + kFrameSetHeaderBytes;
  const u8* sizes = offsets + 4u * static_cast<u64>(count);
  const u8* alpha_sizes = sizes + 4u * static_cast<u64>(count);
  // Every part must lie inside the file, behind the tables, before anything
  // is unscrambled: unscrambling in place must not change the tables that
  // later frames are found by. The alpha parts are read only when the set
  // says it carries them.
  for (i64 k = 0; k < count; ++k) {
    const u64 start = table_word(offsets, k);
    const u64 end = start + table_word(sizes, k) + (alpha_flag != 0 ? table_word(alpha_sizes, k) : 0);
    if (start < tables || end > size) {
      std::free(bytes);
      return -2;
    }
  }
  FrameSet* s = new (std::nothrow) FrameSet();
  if (!s) {
    std::free(bytes);
    return -3;
  }
  s->count = count;
  s->alpha_flag = alpha_flag;
  s->value_a = static_cast<i32>(frame_set_get_u32(bytes + kFrameSetOffValueA));
  s->value_b = static_cast<i32>(frame_set_get_u32(bytes + kFrameSetOffValueB));
  s->value_c = static_cast<i32>(frame_set_get_u32(bytes + kFrameSetOffValueC));
  s->bytes = bytes;
  s->size = size;
  s->offsets = offsets;
  s->sizes = sizes;
  s->alpha_sizes = alpha_sizes;
  s->name = name ? name : "";
  for (i64 k = 0; k < count; ++k) {
    u8* part = bytes + table_word(offsets, k);
    const u32 n = table_word(sizes, k);
    frame_part_scramble(part, n);
    if (alpha_flag != 0) frame_part_scramble(part + n, table_word(alpha_sizes, k));
  }
  *out = s;
  return 0;
}

void free_frame_set(FrameSet* set) {
  if (!set) return;
  std::free(set->bytes);
  std::free(set->spare);
  delete set;
}

void release_image_frame_set(LayerImage* image) {
  if (!image || !image->frame_set) return;
  free_frame_set(image->frame_set);
  image->frame_set = nullptr;
}

int load_frame_set(ObjectNode* node, const char* path) {
  LayerImage* image = image_of(node);
  if (!image) return -1;
  const char* name = path ? path : "";
  DataItem item;
  const int found = locate_data_item(&item, name, 0);
  if (found < 0) return -1;  // an archive did not open (reported)
  if (found == 0) {
    report_error_fmt(kErrFileMissing, 1, name);
    report_error_fmt(kErrFileRead, 1, name);
    return -1;
  }
  const u32 reports = g_error_report_log.report_count;
  if (load_data_item(&item, name) != 0 || !item.data) {
    free_data_item(&item);
    // The loaders report their own failures, except a short loose-file read.
    if (g_error_report_log.report_count == reports) report_error_fmt(kErrFileRead, 1, name);
    return -1;
  }
  FrameSet* set = nullptr;
  const int r = make_frame_set(item.data, item.size, name, &set);
  item.data = nullptr;
  item.size = 0;
  if (r != 0) {
    if (r == -3) report_error_code(kErrNoMemory, 1);
    else report_error_fmt(kErrFileRead, 1, name);
    return -1;
  }
  release_image_frame_set(image);
  image->frame_set = set;
  // Freeing a layer record frees its set through this hook.
  g_layer_release_hooks.release_frame_set = release_frame_set_hook;
  return 0;
}

int show_frame(ObjectNode* node, i64 n) { return show_frame_of(node, image_of(node), n); }

int show_frame_in_image(LayerImage* image, i64 n) { return show_frame_of(nullptr, image, n); }

void release_frame_decoder() {
  if (!g_decoder.created) return;
  jpeg_destroy_decompress(&g_decoder.cinfo);
  g_decoder.created = false;
}
