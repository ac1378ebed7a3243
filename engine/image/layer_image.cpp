// The layer image record: creation, freeing, the pixel-buffer allocator and
// the clean-up of transparent pixels.
#include "engine/image/layer_image.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/sjis_text.h"
#include "engine/image/gif_decode.h"
#include "platform/memory.h"

u32 g_transparent_fill_colour = 0x00808080u;
LayerReleaseHooks g_layer_release_hooks = {nullptr, nullptr, nullptr};

namespace {
constexpr const char* kImageTooLargeText = "ＣＧサイズが大きすぎます。X=%d, Y=%d";

char* new_name_buffer() {
  char* b = static_cast<char*>(std::calloc(kLayerNameSize, 1));
  return b;
}
}  // namespace

LayerImage* new_layer_image() {
  LayerImage* image = new (std::nothrow) LayerImage();
  if (image) {
    image->mask_name = new_name_buffer();
    image->second_name = new_name_buffer();
    if (image->mask_name && image->second_name) return image;
    std::free(image->mask_name);
    std::free(image->second_name);
    delete image;
  }
  report_error_code(100010, 1);
  return nullptr;
}

void free_layer_image(LayerImage* image) {
  if (!image) return;
  if (image->emote_player && g_layer_release_hooks.release_emote_player)
    g_layer_release_hooks.release_emote_player(image);
  if (g_layer_release_hooks.release_textures) g_layer_release_hooks.release_textures(image);
  if (image->frame_set && g_layer_release_hooks.release_frame_set) g_layer_release_hooks.release_frame_set(image);
  free_gif_frames(image);
  std::free(image->owned_pixels);
  std::free(image->tone_pixels);
  std::free(image->mask_name);
  std::free(image->second_name);
  delete image;
}

int release_layer_image(LayerImage* image) {
  if (!image) return -1;
  if (image->ref_count > 0) image->ref_count--;
  if (image->ref_count > 0) return 0;
  // Only the last holder takes the E-mote player, the textures and the
  // buffers with it: a node that shares the record keeps them all.
  free_layer_image(image);
  return 1;
}

namespace {

// Buffers of at least a huge page start on a huge-page boundary and ask for
// huge pages. A blend of a run narrower than its layer (the dirty area of a
// moving sprite: 200 pixels of each 1280-pixel row) starts every row on a
// new 4 KB page, so with small pages each row of each layer costs a
// page-table walk, on a virtual machine a two-level one: a partial frame of
// nine such layers spent as long on those walks as on blending. One huge
// page holds 400 rows of a 1280-pixel image.
bool huge_aligned(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & (kHugePageBytes - 1)) == 0; }

// The block size for `bytes` (at least a huge page): whole huge pages when
// the last one is mostly used (at most a quarter of the bytes more), so that
// it is a huge page too; otherwise the bytes, and the tail stays on small
// pages and takes no memory it does not use.
std::size_t huge_block_size(std::size_t bytes) {
  const std::size_t whole = (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  return whole - bytes > bytes / 4 ? bytes : whole;
}

// The large buffer that replaces old (null: none): old itself when it lies
// on a huge-page boundary and holds bytes with less than a huge page to
// spare, else a new block with old's leading bytes copied (old is freed).
// Null when no block could be had (old untouched).
void* realloc_huge_backed(void* old, std::size_t bytes) {
  const std::size_t have = memory_block_size(old);
  if (old && huge_aligned(old) && have >= bytes && have - bytes < kHugePageBytes) return old;
  void* p = alloc_huge_page_block(huge_block_size(bytes));
  if (!p) return nullptr;
  if (old) {
    std::memcpy(p, old, std::min(have, bytes));
    std::free(old);
  }
  return p;
}

}  // namespace

u32* alloc_image_buffer(u32* old, i32 width, i32 height, const char* file_name) {
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
    show_error_box("", sjis_message(kImageTooLargeText), width, height);
    report_error_code(100010, 1);
    return nullptr;
  }
  const u64 bytes = image_buffer_bytes(width, height);
  const std::size_t size = static_cast<std::size_t>(bytes);
  void* p = size >= kHugePageBytes ? realloc_huge_backed(old, size) : nullptr;
  if (!p) p = old ? std::realloc(old, size) : std::malloc(size);
  if (!p) {
    report_error_code(file_name ? 100010 : 104030, 1);
    return nullptr;
  }
  return static_cast<u32*>(p);
}

void install_image_buffer(LayerImage* image, u32* buffer, i32 width, i32 height) {
  // A realloc may have moved the buffer: pixels must not keep the old address.
  image->owned_pixels = buffer;
  image->pixels = buffer;
  image->width = width;
  image->height = height;
}

namespace {
// The buffer a layer gave up last on this thread, kept for the next decode.
struct SpareDecodeBuffer {
  u32* buffer = nullptr;
  ~SpareDecodeBuffer() { std::free(buffer); }
};
thread_local SpareDecodeBuffer t_spare_decode_buffer;
}  // namespace

u32* take_decode_buffer(i32 width, i32 height, const char* file_name) {
  u32* spare = t_spare_decode_buffer.buffer;
  if (spare && width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide) {
    const u64 need = image_buffer_bytes(width, height);
    const u64 have = memory_block_size(spare);
    if (have >= need && have / 2 <= need) {
      t_spare_decode_buffer.buffer = nullptr;
      return spare;
    }
  }
  // A new buffer of a large image lies on huge pages (alloc_image_buffer);
  // it reports what is refused or fails.
  return alloc_image_buffer(nullptr, width, height, file_name);
}

void give_back_decode_buffer(u32* buffer) {
  if (!buffer) return;
  if (memory_block_size(buffer) > image_buffer_bytes(2048, 2048)) {
    std::free(buffer);
    return;
  }
  std::free(t_spare_decode_buffer.buffer);
  t_spare_decode_buffer.buffer = buffer;
}

void install_decoded_buffer(LayerImage* image, u32* buffer, i32 width, i32 height) {
  u32* old = image->owned_pixels;
  install_image_buffer(image, buffer, width, height);
  give_back_decode_buffer(old);
}

int replace_layer_pixels(LayerImage* image, u32* buffer, i32 width, i32 height) {
  if (image->owned_pixels != buffer) std::free(image->owned_pixels);
  std::free(image->tone_pixels);
  image->tone_pixels = nullptr;
  image->tone_stamp = 0;
  image->owned_pixels = buffer;
  image->pixels = buffer;
  image->width = width;
  image->height = height;
  image->loaded_width = width;
  image->loaded_height = height;
  return 0;
}

void drop_tone_pixels(LayerImage* image) {
  std::free(image->tone_pixels);
  image->tone_pixels = nullptr;
  image->tone_stamp = 0;
  image->pixels = image->owned_pixels;
}

void normalize_transparent_pixels(LayerImage* image) {
  u32* p = image->owned_pixels;
  if (!p || image->width < 1 || image->height < 1) return;
  const u64 count = static_cast<u64>(image->width) * static_cast<u64>(image->height);
  const u32 fill = g_transparent_fill_colour;
  for (u64 i = 0; i < count; ++i)
    if ((p[i] >> 24) == 0) p[i] = fill;
}

void set_layer_name_buffer(char* buffer, const char* text) {
  if (!buffer) return;
  if (!text) {
    buffer[0] = 0;
    return;
  }
  std::size_t n = 0;
  while (text[n]) {
    const std::size_t step = (is_sjis_lead(static_cast<unsigned char>(text[n])) && text[n + 1]) ? 2 : 1;
    if (n + step > static_cast<std::size_t>(kLayerNameSize - 1)) break;
    n += step;
  }
  std::memcpy(buffer, text, n);
  buffer[n] = 0;
}

int alloc_window_image(LayerImage** slot, i32 width, i32 height) {
  free_layer_image(*slot);
  *slot = nullptr;
  LayerImage* image = new_layer_image();
  if (!image) return 1;
  // A window image keeps the first tone pair and the scales at 0.
  image->tone_level = 0;
  image->tone_colour = 0;
  image->scale_x = 0;
  image->scale_y = 0;
  image->width = width;
  image->height = height;
  image->loaded_width = width;
  image->loaded_height = height;
  u32* buffer = alloc_image_buffer(nullptr, width, height, nullptr);
  if (!buffer) {
    free_layer_image(image);
    return 1;
  }
  image->owned_pixels = buffer;
  image->pixels = buffer;
  *slot = image;
  return 0;
}
