// Tile grids and tile textures of layers. See layer_textures.h.
#include "engine/render/layer_textures.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/emote_plugin.h"
#include "engine/image/layer_image.h"
#include "engine/render/gpu_device.h"
#include "engine/vm/object_tree.h"
#include "platform/platform.h"

TextureRequest g_texture_request;

namespace {

constexpr i32 kTileSizes[10] = {8192, 4096, 2048, 1024, 512, 256, 128, 64, 32, 16};
constexpr int kMaxTileCount = 32;

u32* g_scratch = nullptr;
size_t g_scratch_pixels = 0;

i32 tile_size_for(i32 remaining) {
  for (int i = 1; i < 10; ++i)
    if (remaining > kTileSizes[i]) return kTileSizes[i - 1];
  return 16;
}

i32 capped(i32 t, i32 device_max, i32 renderer_max, i32 layer_max) {
  if (device_max > 0 && t > device_max) t = device_max;
  if (renderer_max > 0 && t > renderer_max) t = renderer_max;
  if (layer_max > 0 && t > layer_max) t = layer_max;
  return t;
}

bool grow_scratch(size_t pixels) {
  if (pixels <= g_scratch_pixels) return true;
  void* p = std::realloc(g_scratch, pixels * 4);
  if (!p) return false;
  g_scratch = static_cast<u32*>(p);
  g_scratch_pixels = pixels;
  return true;
}

bool same_shape(const LayerImage* t, const LayerTextureSet& grid) {
  const LayerTextureSet& s = t->texture_set;
  if (s.tile_count_x != grid.tile_count_x || s.tile_count_y != grid.tile_count_y) return false;
  for (int c = 0; c < grid.tile_count_x; ++c)
    if (s.tile_widths[c] != grid.tile_widths[c]) return false;
  for (int r = 0; r < grid.tile_count_y; ++r)
    if (s.tile_heights[r] != grid.tile_heights[r]) return false;
  for (int i = 0; i < grid.tile_count_x * grid.tile_count_y; ++i)
    if (!t->textures[i]) return false;
  return true;
}

const char* const kTextureFailure =
    "テクスチャを生成できませんでした。\r\nVRAM容量不足の可能性があります。\r\n\r\n※解決方法\r\n"
    "一度ゲームを終了してから[Vornset.exe]を起動して頂き、ゲーム画面の描画方法の項目を【 CPU(バイリニア) 】に"
    "セットして\r\n起動し直していただければ動作いたします。";

// An E-mote layer's one tile: a texture of the back buffer's size that its
// player draws into, made but not filled. reuse 1 keeps a texture of that
// size.
int create_emote_texture(LayerImage* dst, int reuse, i32 limit_w, i32 limit_h) {
  const i32 w = g_renderer.back_buffer_width, h = g_renderer.back_buffer_height;
  if (w < 1 || h < 1) return -1;
  LayerTextureSet& ts = dst->texture_set;
  const bool same = reuse == 1 && ts.tile_count_x == 1 && ts.tile_count_y == 1 && ts.tile_widths[0] == w &&
                    ts.tile_heights[0] == h && dst->textures[0];
  if (!same) {
    release_layer_textures(dst);
    dst->textures[0] = g_platform.gpu->create_texture(w, h, static_cast<int>(g_renderer.texture_bits));
    if (!dst->textures[0]) {
      show_error_box("", sjis_message(kTextureFailure));
      return -1;
    }
  }
  ts.tile_count_x = ts.tile_count_y = 1;
  ts.tile_widths[0] = w;
  ts.tile_heights[0] = h;
  ts.tile_limit_w = limit_w;
  ts.tile_limit_h = limit_h;
  return 0;
}

}  // namespace

int compute_tile_grid(LayerTextureSet* grid, i32 width, i32 height, i32 limit_w, i32 limit_h) {
  grid->tile_count_x = 0;
  grid->tile_count_y = 0;
  i32 remaining = width;
  do {
    i32 t = capped(tile_size_for(remaining), g_renderer.device_max_texture_width, g_renderer.max_tile_width, limit_w);
    if (width < 512 && grid->tile_count_x == 0) t = 512;
    grid->tile_widths[grid->tile_count_x] = t;
    remaining -= t;
    if (++grid->tile_count_x >= kMaxTileCount) {
      show_error_box(nullptr, "TXNUM Overflow Error.");
      return -1;
    }
  } while (remaining > 0);
  remaining = height;
  do {
    const i32 t =
        capped(tile_size_for(remaining), g_renderer.device_max_texture_height, g_renderer.max_tile_height, limit_h);
    grid->tile_heights[grid->tile_count_y] = t;
    remaining -= t;
    // The layer holds 256 tile textures: a grid of more tiles is refused
    // like a grid of too many rows.
    if (++grid->tile_count_y >= kMaxTileCount ||
        grid->tile_count_x * grid->tile_count_y > kLayerTextureCount) {
      show_error_box("", "TYNUM Overflow Error. SX = %d, SY = %d, mRest = %d", width, height, remaining);
      return -1;
    }
  } while (remaining > 0);
  return 0;
}

int release_layer_textures(LayerImage* layer) {
  if (!layer) return 0;
  for (TextureHandle& t : layer->textures) {
    if (t && g_platform.gpu) g_platform.gpu->release_texture(t);
    t = nullptr;
  }
  return 0;
}

int create_layer_textures_for(LayerImage* layer, i32 limit_w, i32 limit_h) {
  if (!layer) return -1;
  TextureRequest& q = g_texture_request;
  q = TextureRequest{};
  q.width = layer->width;
  q.height = layer->height;
  q.half_width = static_cast<float>(layer->width) * 0.5f;
  q.half_height = static_cast<float>(layer->height) * 0.5f;
  q.limit_w = limit_w;
  q.limit_h = limit_h;
  q.source = q.target = layer;
  return create_layer_textures(0);
}

int create_layer_textures(int reuse) {
  TextureRequest q = g_texture_request;
  g_texture_request = TextureRequest{};
  LayerImage* src = q.source;
  LayerImage* dst = q.target;
  // Without a device nothing is made and nothing changes.
  if (!src || !dst || !src->pixels || !gpu_device_ready()) return -1;
  // The layer's 2 x 2 pixels are not what an E-mote layer shows.
  if (src == dst && dst->content_kind == 2 && g_emote.loaded) return create_emote_texture(dst, reuse, q.limit_w, q.limit_h);
  if (q.width < 1 || q.height < 1 || q.width > src->width || q.height > src->height) return -1;
  LayerTextureSet grid;
  if (compute_tile_grid(&grid, q.width, q.height, q.limit_w, q.limit_h) != 0) return -1;
  if (reuse == 1 && !same_shape(dst, grid)) reuse = 0;
  if (reuse == 0) release_layer_textures(dst);
  dst->texture_set.tile_count_x = grid.tile_count_x;
  dst->texture_set.tile_count_y = grid.tile_count_y;
  std::memcpy(dst->texture_set.tile_widths, grid.tile_widths, sizeof grid.tile_widths);
  std::memcpy(dst->texture_set.tile_heights, grid.tile_heights, sizeof grid.tile_heights);
  const PlatformGpu* g = g_platform.gpu;
  const int bits = static_cast<int>(g_renderer.texture_bits);
  const int dither = g_settings.texture_switch ? 1 : 0;
  // Without alpha the CPU ignores the alpha byte; the tile is opaque then.
  const u32 opaque = src->has_alpha ? 0u : 0xFF000000u;
  i32 top = 0;
  for (int r = 0; r < grid.tile_count_y; ++r) {
    const i32 th = grid.tile_heights[r];
    i32 left = 0;
    for (int c = 0; c < grid.tile_count_x; ++c) {
      const i32 tw = grid.tile_widths[c];
      if (!grow_scratch(static_cast<size_t>(tw) * static_cast<size_t>(th))) {
        show_error_box("", sjis_message("メモリ不足エラー."));
        return -1;
      }
      const i32 inside_w = left >= q.width ? 0 : (q.width - left < tw ? q.width - left : tw);
      for (i32 y = 0; y < th; ++y) {
        u32* row = g_scratch + static_cast<size_t>(y) * tw;
        const i32 sy = top + y;
        i32 n = 0;
        if (sy < q.height) {
          const u32* from = src->pixels + static_cast<size_t>(sy) * src->width + left;
          for (; n < inside_w; ++n) row[n] = from[n] | opaque;
        }
        for (; n < tw; ++n) row[n] = 0;
      }
      TextureHandle& slot = dst->textures[r * grid.tile_count_x + c];
      if (reuse == 0) {
        slot = g->create_texture(tw, th, bits);
        if (!slot) {
          show_error_box("", sjis_message(kTextureFailure));
          return -1;
        }
      }
      if (g->upload_texture(slot, g_scratch, tw, th, dither) != 0)
        show_error_box(sjis_message("エラー"), sjis_message("サーフェス転送失敗。"));
      left += tw;
    }
    top += th;
  }
  // The pivot of rotation (hundredths of a pixel) starts at the centre.
  if (!q.keep_pivot) {
    dst->gpu_values[0] = static_cast<i64>(q.width) * 50;
    dst->gpu_values[1] = static_cast<i64>(q.height) * 50;
  }
  // Sizes change only with the record's own pixels: a target filled from
  // another layer keeps the sizes of its buffer.
  if (src == dst) {
    dst->loaded_width = q.width;
    dst->loaded_height = q.height;
  }
  dst->texture_set.tile_limit_w = q.limit_w;
  dst->texture_set.tile_limit_h = q.limit_h;
  return 0;
}

namespace {

// The children of node in list order, each group's own children first. A
// group is walked whether or not it has pixels of its own: a pure group
// (size 0) has none, and its children are drawn all the same.
int walk_textured_children(ObjectNode* node, int mode) {
  u32 n = 0;
  for (ObjectNode* c = node->first_child; c && n < node->child_count; c = c->next, ++n) {
    if (c->is_group && walk_textured_children(c, mode) != 0) return -1;
    LayerImage* ci = c->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(c->payload) : nullptr;
    if (!ci) continue;
    if (mode == kTextureWalkRelease || mode == kTextureWalkToBitmap) {
      // Every handle goes, whatever the layer's kind or pixels now: none may
      // outlive its device.
      release_layer_textures(ci);
      if (mode == kTextureWalkToBitmap && ci->content_kind != 0) {
        ci->content_kind = 0;
        mark_layer_dirty(c);
      }
      continue;
    }
    // A layer without pixels keeps no textures; the walk goes on past it.
    if (ci->content_kind == 0 || !ci->pixels) continue;
    TextureRequest& q = g_texture_request;
    q = TextureRequest{};
    q.width = ci->width;
    q.height = ci->height;
    q.limit_w = ci->texture_set.tile_limit_w;
    q.limit_h = ci->texture_set.tile_limit_h;
    q.source = q.target = ci;
    q.keep_pivot = 1;
    if (create_layer_textures(0) != 0) return -1;
  }
  return 0;
}

}  // namespace

int for_each_textured_layer(ObjectNode* node, int mode) {
  LayerImage* img = node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
  if (!img || (mode == kTextureWalkRecreate && !img->pixels)) return 0;
  return walk_textured_children(node, mode);
}

void free_texture_scratch() {
  std::free(g_scratch);
  g_scratch = nullptr;
  g_scratch_pixels = 0;
}
