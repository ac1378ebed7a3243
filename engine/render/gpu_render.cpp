// The GPU frame and layer drawing. See gpu_render.h.
#include "engine/render/gpu_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/window.h"
#include "engine/image/blend_tables.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/emote_plugin.h"
#include "engine/image/layer_load.h"
#include "engine/image/layer_image.h"
#include "engine/render/compositor.h"
#include "engine/render/gpu_device.h"
#include "engine/render/layer_textures.h"
#include "engine/render/screen_modes.h"
#include "engine/vm/object_tree.h"
#include "platform/platform.h"

u8 g_gpu_tree_mode = 0;
u8 g_redraw_requested = 0;
u8 g_gpu_given_up = 0;

namespace {

// The area the layers being drawn may touch, in target pixels (right and
// bottom exclusive): a sized group keeps its children inside its own area,
// as the compositor does. Off outside such groups.
struct DrawClip {
  bool on = false;
  i64 left = 0, top = 0, right = 0, bottom = 0;
};
DrawClip g_clip;

ObjectNode* g_copy_node = nullptr;
LayerImage* g_copy_image = nullptr;
// Rebuilds one frame tries before it gives the frame up.
constexpr int kMaxRebuildsPerFrame = 3;

const PlatformGpu* dev() { return g_platform.gpu; }

LayerImage* image_of(ObjectNode* n) {
  return n && n->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(n->payload) : nullptr;
}

bool has_name(const char* s) { return s && s[0]; }

// The layer a mask or second-layer name resolves to, from the top of the
// layer tree as the compositor resolves it. *failed after a reported error.
LayerImage* named_layer(const char* name, int* failed) {
  char path[kObjectPathSize];
  if (build_object_path(path, name, "", 0) < 0) {
    *failed = 1;
    return nullptr;
  }
  return image_of(resolve_object_path(g_object_roots[kTreeLayer], path, 0));
}

// The signed fraction of t in 16.16 fixed point.
double frac16(double t) {
  const i64 v = static_cast<i64>(t * 65536.0);
  const i64 whole = static_cast<i64>(t) * 65536;
  return static_cast<double>(v - whole) / 65536.0;
}

// Row vector (x, y, 0) times the yaw-pitch-roll rotation (roll about z,
// then pitch about x, then yaw about y).
void rotate_point(double* x, double* y, double yaw, double pitch, double roll) {
  const double cr = std::cos(roll), sr = std::sin(roll);
  double px = *x * cr - *y * sr;
  double py = *x * sr + *y * cr;
  double pz = 0;
  const double cp = std::cos(pitch), sp = std::sin(pitch);
  const double qy = py * cp - pz * sp;
  const double qz = py * sp + pz * cp;
  py = qy;
  pz = qz;
  const double cy = std::cos(yaw), sy = std::sin(yaw);
  const double rx = px * cy + pz * sy;
  *x = rx;
  *y = py;
}

i32 column_start(const LayerTextureSet& ts, int c) {
  i32 x = 0;
  for (int i = 0; i < c; ++i) x += ts.tile_widths[i];
  return x;
}

i32 row_start(const LayerTextureSet& ts, int r) {
  i32 y = 0;
  for (int i = 0; i < r; ++i) y += ts.tile_heights[i];
  return y;
}

void release_copy_if(LayerImage* image) {
  if (image && image == g_copy_image) {
    g_copy_image = nullptr;
    g_copy_node = nullptr;
  }
}

bool is_emote_layer(const LayerImage* image) { return image->content_kind == 2 && g_emote.loaded; }

// The player of an E-mote layer draws itself into the layer's texture,
// placed by the layer's values (ox, oy: the place of its group). Without
// that texture as the target the player does not draw, since it would draw
// over whatever target is current; its animation time is handed on all the
// same.
void render_emote_layer(LayerImage* layer, double ox, double oy) {
  GpuTexture tile = layer->textures[0];
  const bool target = tile && dev()->set_target(tile) == 0;
  if (target) dev()->clear(0x00808080u);
  const float gx = static_cast<float>(layer->gpu_values[2]) / 100.0f * 0.5f;
  const float gy = static_cast<float>(layer->gpu_values[3]) / 100.0f * 0.5f;
  emote_set_offset(layer, -gx, gy);
  emote_set_scale(layer, static_cast<float>(layer->scale_x) / 10000.0f);
  emote_set_rotation(layer, -layer->gpu_angles[2] * 3.1415927f / 180.0f / 100.0f);
  const i32 bw = g_renderer.back_buffer_width, bh = g_renderer.back_buffer_height;
  const float x = static_cast<float>(static_cast<double>(layer->x_centi) / 100.0 + ox) - gx - static_cast<float>(bw) * 0.5f;
  const float y = static_cast<float>(static_cast<double>(layer->y_centi) / 100.0 + oy) - gy - static_cast<float>(bh) * 0.5f;
  set_emote_transforms(bw, bh, x, y, 0.0f);
  const int slot = emote_slot_of(layer);
  if (slot >= 0 && g_emote_players.pending_ms[slot] != 0.0f) {
    advance_emote_time(layer, g_emote_players.pending_ms[slot]);
    g_emote_players.pending_ms[slot] = 0.0f;
  }
  if (target) emote_draw(layer);
  dev()->set_target(nullptr);
}

void release_textures_of_freed(LayerImage* image) {
  release_copy_if(image);
  release_layer_textures(image);
}

int hook_d3d_drawing() { return g_settings.use_direct3d && gpu_device_ready() ? 1 : 0; }
int hook_create_textures(LayerImage* image) {
  return create_layer_textures_for(image, image->texture_set.tile_limit_w, image->texture_set.tile_limit_h);
}
void hook_render_now() { render_frame_d3d(); }

GpuStage stage(u8 c, u8 c1, u8 c2, u8 a, u8 a1, u8 a2) {
  GpuStage s;
  s.colour_op = c, s.colour_arg1 = c1, s.colour_arg2 = c2;
  s.alpha_op = a, s.alpha_arg1 = a1, s.alpha_arg2 = a2;
  return s;
}

// The texture-stage table of the blend modes, as data: stage 1's texture
// (0 keep, 1 white, 2 black), the texture factor (0 unchanged, 1 the
// layer's alpha in the top byte, 2 white), the two stages and the blend.
struct ModeStates {
  u8 stage1_texture;
  u8 texture_factor;
  GpuStage s0, s1;
  u8 src, dst, op;
};

using namespace gpu;
const ModeStates kModeStates[10] = {
    /* 0 normal */ {0, 1, stage(kSelectArg1, kTexture, kCurrent, kModulate, kTexture, kTFactor),
                    stage(kSelectArg1, kTexture, kCurrent, kDisable, kTexture, kTFactor), kSrcAlpha, kInvSrcAlpha, kAdd},
    /* 1 add */ {0, 0, stage(kSelectArg1, kTexture, kCurrent, kModulate, kTexture, kDiffuse), GpuStage{}, kSrcAlpha,
                 kOne, kAdd},
    /* 2 subtract */ {0, 0, stage(kModulate, kDiffuse, kTexture, kModulate, kDiffuse, kTexture), GpuStage{}, kSrcAlpha,
                      kOne, kRevSubtract},
    /* 3 multiply */ {1, 2, stage(kModulate, kDiffuse, kTexture, kModulate, kDiffuse, kTexture),
                      stage(kBlendCurrentAlpha, kCurrent, kTexture, kSelectArg1, kCurrent, kCurrent), kZero, kSrcColor,
                      kAdd},
    /* 4 */ {},
    /* 5 screen */ {2, 0, stage(kModulate, kTexture, kDiffuse, kModulate, kTexture, kDiffuse),
                    stage(kBlendCurrentAlpha, kCurrent, kTexture, kSelectArg1, kCurrent, kCurrent), kInvDestColor, kOne,
                    kAdd},
    /* 6 lighten */ {0, 0, stage(kModulate, kTexture, kDiffuse, kModulate, kTexture, kDiffuse), GpuStage{}, kOne, kOne,
                     kMax},
    /* 7 darken */ {0, 2, stage(kModulate, kTexture, kDiffuse, kModulate, kTexture, kDiffuse),
                    stage(kBlendCurrentAlpha, kCurrent, kTFactor, kSelectArg1, kCurrent, kCurrent), kOne, kOne, kMin},
    /* 8 */ {},
    /* 9 exclusion */ {0, 0, stage(kModulate, kTexture, kDiffuse, kModulate, kTexture, kDiffuse), GpuStage{},
                       kInvDestColor, kInvSrcColor, kAdd},
};

}  // namespace

void blend_states_for(int mode, int alpha, int has_alpha, GpuQuad* q, u8* stage1_texture) {
  *stage1_texture = 0;
  const bool full = alpha >= 255 && !has_alpha;
  // Where the table's states give another picture than the compositor, the
  // quad computes the compositor's blend from the target under it: always
  // for subtract and the modes the table leaves open, below full opacity or
  // with per-pixel alpha for screen, lighten, darken and exclusion.
  bool formula = false;
  if (mode == 2 || mode == 4 || mode == 8 || (mode >= 10 && mode < kBlendModeCount)) formula = true;
  if ((mode == 3 || mode == 5 || mode == 6 || mode == 7 || mode == 9) && !full) formula = true;
  if (mode == 1 && has_alpha) formula = true;
  if (formula) {
    q->formula_mode = mode;
    q->formula_opacity = std::clamp(alpha, 0, 256);
    q->formula_source_alpha = has_alpha ? 1 : 0;
    q->formula_table = g_blend_lut[mode];
    return;
  }
  const ModeStates& m = kModeStates[mode < 10 ? mode : 0];
  const int a = std::clamp(alpha, 0, 255);
  q->stages[0] = m.s0;
  q->stages[1] = m.s1;
  q->src_blend = m.src;
  q->dst_blend = m.dst;
  q->blend_op = m.op;
  if (m.texture_factor == 1) q->texture_factor = static_cast<u32>(a) << 24;
  if (m.texture_factor == 2) q->texture_factor = 0xFFFFFFFFu;
  *stage1_texture = m.stage1_texture;
}

void set_screen_copy_layer(ObjectNode* node) {
  g_copy_node = node;
  g_copy_image = image_of(node);
  if (!g_copy_image) g_copy_node = nullptr;
}

void install_gpu_hooks() {
  g_layer_command_hooks.d3d_drawing = hook_d3d_drawing;
  g_layer_command_hooks.create_textures = hook_create_textures;
  g_layer_command_hooks.set_capture_layer = set_screen_copy_layer;
  g_layer_command_hooks.render_frame_now = hook_render_now;
  g_layer_command_hooks.gpu_paste_setup = gpu_paste_sprite_setup;
  g_layer_command_hooks.gpu_paste_render = gpu_render_and_read_back;
  g_layer_release_hooks.release_textures = release_textures_of_freed;
}

int clear_render_target() { return dev()->clear(0x00000000u); }

void read_back_screen(GpuTexture source, u32* pixels, i32 width, i32 height) {
  if (!gpu_device_ready() || !pixels) return;
  dev()->read_back(source, pixels, width, height);
}

int draw_layer_d3d(LayerImage* layer, LayerImage* mask, LayerImage* second, int enabled, int blend_mode, double ox,
                   double oy) {
  if (!layer || !layer->textures[0] || !gpu_device_ready()) return 0;
  // An E-mote layer's one texture already holds the player placed on the
  // screen: it is laid over the target as it stands.
  const bool emote = is_emote_layer(layer);
  if (emote) ox = oy = 0;
  const double X = emote ? 0.0 : static_cast<double>(layer->x_centi) / 100.0 + ox;
  const double Y = emote ? 0.0 : static_cast<double>(layer->y_centi) / 100.0 + oy;
  const double SX = emote ? 100.0 : static_cast<double>(layer->scale_x) / 100.0;
  const double SY = emote ? 100.0 : static_cast<double>(layer->scale_y) / 100.0;
  const double kRad = 0.01745329238474369;
  const double yaw = emote ? 0.0 : layer->gpu_angles[0] / 100.0 * kRad;
  const double pitch = emote ? 0.0 : layer->gpu_angles[1] / 100.0 * kRad;
  const double roll = emote ? 0.0 : layer->gpu_angles[2] / 100.0 * kRad;
  const bool rotated = yaw != 0 || pitch != 0 || roll != 0;
  // The pivot is relative to the layer's corner, in hundredths of a pixel.
  const double px = X - 0.5 + static_cast<double>(layer->gpu_values[0]) / 100.0;
  const double py = Y - 0.5 + static_cast<double>(layer->gpu_values[1]) / 100.0;
  int a = std::clamp<int>(layer->alpha, 0, 255);
  if (!enabled) a = 0;
  static const int kColourModes[] = {0, 1, 2, 3, 5, 6, 7, 9, 98, 100};
  const bool colour_mode = std::find(std::begin(kColourModes), std::end(kColourModes), blend_mode) !=
                           std::end(kColourModes);
  GpuQuad base;
  base.diffuse = colour_mode ? static_cast<u32>(a) * 0x01010101u : 0xFF000000u;
  // A layer shown 1:1 at a whole pixel is sampled by point, so that it comes
  // out as the compositor draws it; filtering serves scaled, turned and
  // sub-pixel placements.
  const bool one_to_one = emote || (SX == 100 && SY == 100 && !rotated && layer->x_centi % 100 == 0 &&
                                     layer->y_centi % 100 == 0 && ox == std::floor(ox) && oy == std::floor(oy));
  // The sampler settings: 1 linear and 2 anisotropic filter, 0 samples
  // the nearest texel; between mip levels -1 none, 0 nearest, 1 and 2
  // linear.
  base.linear_filter = g_settings.mag_filter != 0 && !one_to_one ? 1 : 0;
  base.min_linear_filter = g_settings.min_filter != 0 && !one_to_one ? 1 : 0;
  base.mip_filter = static_cast<std::int8_t>(g_settings.mip_filter < 0 ? -1 : (g_settings.mip_filter == 0 ? 0 : 1));
  u8 stage1 = 0;
  blend_states_for(blend_mode, enabled ? layer->alpha : 0, layer->has_alpha, &base, &stage1);
  enum { kPlain, kMask, kSecond } kind = kPlain;
  // A mask weighs the layer while its fade is below full, whatever its
  // softness (without softness every mask byte gets one flat weight).
  if (mask && layer->mask_fade <= 255) kind = kMask;
  else if (second) kind = kSecond;
  if (kind == kMask) {
    build_mask_weights(layer);
    base.pass = kPassMask;
    base.alpha_val = static_cast<float>(layer->alpha) / 256.0f;
    base.fade_val = layer->mask_softness > 0 ? static_cast<float>(layer->mask_fade) *
                                                   (256.0f / layer->mask_softness + 128.0f) / 256.0f / 256.0f
                                             : 0.0f;
    base.fade_val2 = static_cast<float>(layer->mask_softness);
    base.mask_weights = g_mask_weights;
  } else if (kind == kSecond) {
    base.pass = kPassSecond;
    base.alpha_val = static_cast<float>(layer->alpha) / 256.0f;
    base.fade_val = static_cast<float>(layer->gpu_level) / 256.0f;
  }
  const LayerTextureSet& ts = layer->texture_set;
  double y0 = Y - 0.5;
  for (int r = 0; r < ts.tile_count_y; ++r) {
    const double H = ts.tile_heights[r];
    const double y1 = y0 + H * SY / 100.0;
    double x0 = X - 0.5;
    for (int c = 0; c < ts.tile_count_x; ++c) {
      const int index = r * ts.tile_count_x + c;
      const double W = ts.tile_widths[c];
      const double x1 = x0 + W * SX / 100.0;
      GpuQuad q = base;
      const double u0 = frac16(x0) / W * 0.25, u1 = 1 + frac16(x1) / W * 0.25;
      const double v0 = frac16(y0) / H * 0.25, v1 = 1 + frac16(y1) / H * 0.25;
      const double xs[4] = {x0, x1, x0, x1}, ys[4] = {y1, y1, y0, y0};
      const double us[4] = {u0, u1, u0, u1}, vs[4] = {v1, v1, v0, v0};
      for (int i = 0; i < 4; ++i) {
        double vx = xs[i], vy = ys[i];
        if (rotated) {
          vx -= px;
          vy -= py;
          rotate_point(&vx, &vy, yaw, pitch, roll);
          vx += px;
          vy += py;
        }
        q.x[i] = static_cast<float>(vx);
        q.y[i] = static_cast<float>(vy);
        q.u[i] = static_cast<float>(us[i]);
        q.v[i] = static_cast<float>(vs[i]);
      }
      // The last column and row reach past the image: their padding is not
      // drawn.
      const i32 left = column_start(ts, c), top = row_start(ts, r);
      if (emote) {
        // The whole texture is the picture (the layer's own 2 x 2 pixels
        // are not in it).
      } else if (layer->width - left < ts.tile_widths[c]) q.valid_u = static_cast<float>(layer->width - left) / static_cast<float>(W);
      if (!emote && layer->height - top < ts.tile_heights[r]) q.valid_v = static_cast<float>(layer->height - top) / static_cast<float>(H);
      q.textures[0] = layer->textures[index];
      if (stage1 == 1) q.textures[1] = g_renderer.white_texture;
      else if (stage1 == 2) q.textures[1] = g_renderer.black_texture;
      if (kind == kMask) q.textures[1] = index < kLayerTextureCount ? mask->textures[index] : nullptr;
      if (kind == kSecond) q.textures[1] = index < kLayerTextureCount ? second->textures[index] : nullptr;
      if (!q.textures[0]) {
        x0 = x1;
        continue;
      }
      if (g_clip.on) {
        q.clip_on = 1;
        q.clip_left = static_cast<int>(g_clip.left);
        q.clip_top = static_cast<int>(g_clip.top);
        q.clip_right = static_cast<int>(g_clip.right);
        q.clip_bottom = static_cast<int>(g_clip.bottom);
      }
      if (dev()->draw_quad(&q) != 0) return -1;
      x0 = x1;
    }
    y0 = y1;
  }
  return 0;
}

namespace {

int draw_children_d3d(ObjectNode* node, double ox, double oy);

}  // namespace

int draw_layer_tree_d3d(ObjectNode* node, double ox, double oy) {
  LayerImage* img = image_of(node);
  if (!img || !img->pixels) return 0;
  g_clip = DrawClip{};
  const int rc = draw_children_d3d(node, ox, oy);
  g_clip = DrawClip{};
  return rc;
}

namespace {

// A group's children are drawn whether or not the group has pixels of its
// own (a pure group has none), as the compositor draws them.
int draw_children_d3d(ObjectNode* node, double ox, double oy) {
  u32 n = 0;
  for (ObjectNode* c = node->first_child; c && n < node->child_count; c = c->next, ++n) {
    LayerImage* ci = image_of(c);
    if (!ci) return 0;
    // Children of a group sit at the group's place, as the compositor
    // places them.
    const double cx = ox + static_cast<double>(ci->x_centi) / 100.0;
    const double cy = oy + static_cast<double>(ci->y_centi) / 100.0;
    // A group's visibility and opacity are its own image's: its children
    // are drawn as the compositor draws them, whatever the group shows.
    if (c->is_group) {
      // A group with a size of its own shows its children only inside it.
      const DrawClip outer = g_clip;
      if (ci->width > 0 && ci->height > 0) {
        const i64 gl = std::llround(cx), gt = std::llround(cy);
        DrawClip inner{true, gl, gt, gl + ci->width, gt + ci->height};
        if (outer.on) {
          inner.left = std::max(inner.left, outer.left);
          inner.top = std::max(inner.top, outer.top);
          inner.right = std::min(inner.right, outer.right);
          inner.bottom = std::min(inner.bottom, outer.bottom);
        }
        g_clip = inner;
      }
      const bool shows = !g_clip.on || (g_clip.left < g_clip.right && g_clip.top < g_clip.bottom);
      const int rc = shows ? draw_children_d3d(c, cx, cy) : 0;
      g_clip = outer;
      if (rc != 0) return -1;
    }
    if (ci->content_kind == 0 || !ci->visible || ci->alpha == 0) continue;
    // A mask faded out hides the layer, as the compositor skips it.
    if (has_name(ci->mask_name) && ci->mask_fade == 0) continue;
    if (!ci->pixels) return 0;
    if (is_emote_layer(ci)) render_emote_layer(ci, ox, oy);
    LayerImage* mask = nullptr;
    LayerImage* second = nullptr;
    int failed = 0;
    if (has_name(ci->mask_name)) mask = named_layer(ci->mask_name, &failed);
    if (failed) return -1;
    if (has_name(ci->second_name)) second = named_layer(ci->second_name, &failed);
    if (failed) return -1;
    draw_layer_d3d(ci, mask, second, 1, ci->blend_mode, ox, oy);
  }
  return 0;
}

}  // namespace

int render_frame_d3d() {
  if (!g_gpu_tree_mode && !g_copy_node) return 0;
  // A script may turn GPU drawing on without a device: nothing to draw on.
  if (!gpu_device_ready()) return 0;
  for (int rebuilds = 0;; ++rebuilds) {
    const bool lost = dev()->device_status() == 1 || g_device_reset_pending;
    g_device_reset_pending = 0;
    if (!lost) break;
    if (!g_settings.use_direct3d) return 0;
    if (rebuilds >= kMaxRebuildsPerFrame) return 0;
    show_error_box("", sjis_message("Direct3D 初期化します."));
    // E-mote players live on the lost device: they go before the rebuild,
    // and their layers are plain images afterwards (the content kind the
    // layer query gives tells the scripts to load them again).
    if (g_emote.loaded) release_emote_objects();
    if (recover_d3d_device() != 0) return 0;
    if (g_emote.loaded) reset_emote_transforms();
    g_redraw_requested = 1;
    if (ObjectNode* root = window_root_node(0)) mark_layer_dirty(root);
  }
  if (dev()->set_target(nullptr) != 0) return 0;
  clear_render_target();
  draw_layer_tree_d3d(window_root_node(0), 0, 0);
  if (!g_gpu_tree_mode && g_copy_image && g_windows[0] && g_copy_image->owned_pixels &&
      g_copy_image->width == g_windows[0]->logical_width && g_copy_image->height == g_windows[0]->logical_height) {
    read_back_screen(nullptr, g_copy_image->owned_pixels, g_copy_image->width, g_copy_image->height);
    if (g_copy_node) mark_layer_dirty(g_copy_node);
    DirtyRect whole = {0, 0, i64{g_copy_image->width} - 1, i64{g_copy_image->height} - 1};
    merge_dirty_rect_into(g_copy_image, &whole);
  }
  dev()->release_current();
  return 0;
}

void give_layers_back_to_cpu() {
  g_gpu_given_up = 1;
  ObjectNode* root = window_root_node(0);
  for_each_textured_layer(root, kTextureWalkToBitmap);
  if (root) mark_layer_dirty(root);
  if (LayerImage* img = image_of(root)) {
    DirtyRect whole = {0, 0, i64{img->width} - 1, i64{img->height} - 1};
    merge_dirty_rect_into(img, &whole);
  }
}

void feed_screen_copy_from_cpu(const LayerImage* picture) {
  if (!g_gpu_given_up || !g_copy_image || !picture || !picture->pixels || picture == g_copy_image) return;
  LayerImage* copy = g_copy_image;
  if (!copy->owned_pixels || copy->width != picture->width || copy->height != picture->height) return;
  const size_t bytes = static_cast<size_t>(copy->width) * static_cast<size_t>(copy->height) * 4;
  // The copy changes the tree only when the picture did: a copy that shows
  // itself settles instead of redrawing every frame.
  if (std::memcmp(copy->owned_pixels, picture->pixels, bytes) == 0) return;
  std::memcpy(copy->owned_pixels, picture->pixels, bytes);
  if (g_copy_node) mark_layer_dirty(g_copy_node);
  DirtyRect whole = {0, 0, i64{copy->width} - 1, i64{copy->height} - 1};
  merge_dirty_rect_into(copy, &whole);
}

// ---- the GPU paste ----

int gpu_paste_sprite_setup(ObjectNode* destination, ObjectNode* source) {
  LayerImage* src = image_of(source);
  if (!src || !image_of(destination) || !gpu_device_ready()) return -1;
  // The source is cut from its own pixels; the destination only receives
  // the read-back, so no record's sizes change without its buffer.
  if (src->content_kind == 0) src->content_kind = 1;
  return create_layer_textures_for(src, src->texture_set.tile_limit_w, src->texture_set.tile_limit_h);
}

int gpu_render_and_read_back(ObjectNode* destination, ObjectNode* source) {
  LayerImage* dst = image_of(destination);
  LayerImage* src = image_of(source);
  if (!dst || !src || !gpu_device_ready() || !g_windows[0]) return 0;
  if (dev()->set_target(nullptr) != 0) return 0;
  // An E-mote source first draws its player into its texture, as a frame
  // does; that leaves the back buffer as the target again.
  if (is_emote_layer(src)) render_emote_layer(src, 0, 0);
  clear_render_target();
  draw_layer_d3d(src, nullptr, nullptr, 1, src->blend_mode, 0, 0);
  const i32 w = g_windows[0]->logical_width, h = g_windows[0]->logical_height;
  u32* buffer = alloc_image_buffer(nullptr, w, h, nullptr);
  if (!buffer) return -1;
  // The buffer is installed only once it holds the drawn picture.
  if (dev()->read_back(nullptr, buffer, w, h) != 0) {
    std::free(buffer);
    dev()->release_current();
    return 0;
  }
  replace_layer_pixels(dst, buffer, w, h);
  dst->has_alpha = 1;
  mark_layer_dirty(destination);
  DirtyRect whole = {0, 0, i64{w} - 1, i64{h} - 1};
  merge_dirty_rect_into(dst, &whole);
  dev()->release_current();
  return 0;
}
