#include "engine/image/saved_layer.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_release.h"
#include "engine/vm/object_tree.h"

namespace {
constexpr u32 kErrLayerMissing = 101250;

LayerImage* image_of(ObjectNode* node) {
  if (!node || !node->payload || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}
}  // namespace

int saved_layer_source(const char* name, const char* request_name, i32* width, i32* height, const u32** pixels) {
  char path[kObjectPathSize];
  if (build_object_path(path, name, g_object_base_paths[kTreeLayer], 0) < 0) return -1;
  LayerImage* img = image_of(resolve_object_path(g_object_roots[kTreeLayer], path, 0));
  if (!img || !img->owned_pixels || img->width < 1 || img->height < 1) {
    report_error_at(kErrLayerMissing, 1, request_name, path);
    return -1;
  }
  *width = img->width;
  *height = img->height;
  *pixels = img->owned_pixels;
  return 0;
}

int restore_saved_layer(const char* name, i32 width, i32 height, const u8* pixels) {
  ObjectNode* root = g_object_roots[kTreeLayer];
  if (!root) return -1;
  char path[kObjectPathSize];
  if (build_object_path(path, name, g_object_base_paths[kTreeLayer], 0) < 0) return -1;
  // The buffer comes first: a refused size or a failed allocation leaves the
  // old layer as it was.
  u32* buffer = alloc_image_buffer(nullptr, width, height, nullptr);
  if (!buffer) return -1;
  const std::size_t bytes = 4u * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::memcpy(buffer, pixels, bytes);
  std::memset(reinterpret_cast<u8*>(buffer) + bytes, 0, static_cast<std::size_t>(image_buffer_bytes(width, height)) - bytes);
  i64 key = 1;
  if (ObjectNode* old = resolve_object_path(root, path, 0)) {
    key = old->order_key;
    if (image_of(old)) mark_layer_dirty(old);
    release_object_images(old);
  }
  ObjectNode* node = resolve_object_path(root, path, 0);
  if (!node) node = get_named_object(root, path, 0, key);
  LayerImage* img = node ? get_or_create_layer_image(node) : nullptr;
  if (!img) {
    std::free(buffer);
    return -1;
  }
  replace_layer_pixels(img, buffer, width, height);
  img->dirty_whole = 1;
  img->dirty_valid = 1;
  img->dirty = {0, 0, i64{width} - 1, i64{height} - 1};
  mark_layer_dirty(node);
  return 0;
}
