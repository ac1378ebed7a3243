#include "engine/image/saved_layer.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"
#include "platform/clock.h"
#include "platform/platform.h"

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
  // An existing layer keeps its node and its record (place, alpha,
  // visibility, blend mode, tone, order): only its size and pixels change.
  ObjectNode* node = resolve_object_path(root, path, 0);
  if (!node) node = get_named_object(root, path, 0, 1);
  LayerImage* img = node ? get_or_create_layer_image(node) : nullptr;
  if (!img) {
    std::free(buffer);
    return -1;
  }
  if (img->owned_pixels) mark_layer_dirty(node);  // the area the old picture covered
  replace_layer_pixels(img, buffer, width, height);
  // The saved picture is a bitmap: a motion-image player showing here goes.
  if (img->content_kind == 2 || img->emote_player) {
    if (img->emote_player && g_layer_release_hooks.release_emote_player)
      g_layer_release_hooks.release_emote_player(img);
    img->emote_player = nullptr;
    img->content_kind = 0;
  }
  img->dirty_whole = 1;
  img->dirty_valid = 1;
  img->dirty = {0, 0, i64{width} - 1, i64{height} - 1};
  mark_layer_dirty(node);
  // The load time stamp, as after every image load: frame pacing starts its
  // frame again from here.
  g_pacing.frame_start = g_platform.clock->now_ms();
  return 0;
}
