// The CPU compositor: window composition over the dirty area, the flattening
// of a layer tree into its own image, placement and the blend posters.
#include "engine/render/compositor.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/settings.h"
#include "engine/frame/window.h"
#include "engine/image/blend_tables.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/span_kernels.h"
#include "engine/render/gpu_render.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/sysvars.h"

u64 g_composed_frame_counter = 0;

// System variable 109: the frames composed so far.
u64 sv_render_frame_counter() { return g_composed_frame_counter; }
u64 g_compose_pass = 0;

namespace {

constexpr u32 kErrMaskSize = 100310;

LayerImage* image_of(ObjectNode* node) {
  if (!node || !node->payload || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

i32 to_i32(i64 v) {
  if (v > std::numeric_limits<i32>::max()) return std::numeric_limits<i32>::max();
  if (v < std::numeric_limits<i32>::min()) return std::numeric_limits<i32>::min();
  return static_cast<i32>(v);
}

// Positions come from scripts unbounded: sums of them saturate.
i64 add_sat(i64 a, i64 b) {
  i64 r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? std::numeric_limits<i64>::max() : std::numeric_limits<i64>::min();
  return r;
}

DirtyRect intersect(const DirtyRect& a, const DirtyRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

bool has_mask_name(const LayerImage* c) { return c->mask_name && c->mask_name[0]; }

// Whether a layer's own pixels are drawn at all.
bool drawable(const LayerImage* c) {
  if (!c->visible || c->alpha <= 0 || c->content_kind != 0) return false;
  if (has_mask_name(c) && c->mask_fade == 0) return false;
  return c->width > 0 && c->height > 0 && c->pixels != nullptr;
}

// A layer that is drawn opaque over its whole rectangle: nothing below it
// shows where it lies.
bool is_cover(const LayerImage* c, i64 x, i64 y, const DirtyRect& area) {
  if (!drawable(c) || c->visible != 1 || c->blend_mode != 0 || c->alpha != 256 || c->has_alpha) return false;
  if (has_mask_name(c) && c->mask_fade != 256) return false;
  return x <= area.left && y <= area.top && add_sat(x, c->width - 1) >= area.right &&
         add_sat(y, c->height - 1) >= area.bottom;
}

// Zeroes the rows of area (inside image) with span kernel 0.
void zero_area(LayerImage* image, const DirtyRect& area) {
  u32* base = image->owned_pixels ? image->owned_pixels : image->pixels;
  if (!base || area.left > area.right || area.top > area.bottom) return;
  const i64 l = std::max<i64>(area.left, 0), r = std::min<i64>(area.right, image->width - 1);
  const i64 t = std::max<i64>(area.top, 0), b = std::min<i64>(area.bottom, image->height - 1);
  if (l > r || t > b) return;
  const i32 n = static_cast<i32>((r - l + 1) * 4);
  for (i64 y = t; y <= b; ++y) g_span_kernels.zero(reinterpret_cast<u8*>(base + y * image->width + l), n);
}

// The mask layer named by c's mask name, looked up from the top of the layer
// tree. *failed is set when the name could not be made into a path (that
// was reported); a name that finds nothing gives null.
LayerImage* find_mask(const LayerImage* c, int* failed) {
  *failed = 0;
  char path[kObjectPathSize];
  if (build_object_path(path, c->mask_name, "", 0) < 0) {
    *failed = 1;
    return nullptr;
  }
  return image_of(resolve_object_path(g_object_roots[kTreeLayer], path, 0));
}

// The steps of a window's composed area, handed to the workers at once (one
// hand-over per area instead of one per layer). A masked blend is posted on
// its own, after the steps before it: the mask weights are one shared table.
struct AreaSteps {
  LayerImage* dst = nullptr;
  i32 top = 0, end = 0;  // destination rows of the area
  std::vector<BlendOp> ops;
  void flush() {
    if (!ops.empty()) post_blend_ops(dst, ops.data(), static_cast<int>(ops.size()), top, end);
    ops.clear();
  }
};

// Blends one layer onto dst over the placement r (already clipped, width and
// height at least 1); with steps, an unmasked blend becomes one of them.
int blend_layer(LayerImage* dst, ObjectNode* node, LayerImage* c, const ClipRecord& r, AreaSteps* steps) {
  const LayerImage* mask = nullptr;
  if (has_mask_name(c) && c->mask_fade <= 255) {
    int failed = 0;
    LayerImage* m = find_mask(c, &failed);
    if (failed) return -1;
    if (m) {
      if (m->width != c->width || m->height != c->height) {
        report_error_fmt(kErrMaskSize, 1, node && node->name ? node->name : "", c->width, c->height, c->mask_name,
                         m->width, m->height);
        return -1;
      }
      if (m->pixels) mask = m;
    }
  }
  if (!c->pixels) return 0;
  const u32* src = toned_pixels(c);
  if (!src) return -1;
  if (steps && !mask) {
    BlendOp op;
    op.code = c->has_alpha ? kPixelJobBlendAlpha : kPixelJobBlendPlain;
    op.src = c;
    op.src_pixels = src;
    op.src_x = r.offset_x;
    op.src_y = r.offset_y;
    op.dst_x = r.dst_x;
    op.dst_y = r.dst_y;
    op.width = r.width;
    op.height = r.height;
    steps->ops.push_back(op);
    return 0;
  }
  if (steps) steps->flush();
  // The blend reads the layer's pixels: the toned copy stands in for them
  // only while this blend runs, so every other reader keeps the own pixels.
  u32* own = c->pixels;
  c->pixels = const_cast<u32*>(src);
  if (mask) build_mask_weights(c);
  if (c->has_alpha) {
    if (mask) post_blend_alpha_masked(dst, c, r, mask);
    else post_blend_alpha(dst, c, r);
  } else {
    if (mask) post_blend_masked(dst, c, r, mask);
    else post_blend_plain(dst, c, r);
  }
  c->pixels = own;
  return 0;
}

// Blends layer ci (node c), placed at (x, y) in dst, over the part of area
// that it covers; nothing when it misses the area.
int blend_clipped(LayerImage* dst, ObjectNode* c, LayerImage* ci, i64 x, i64 y, const DirtyRect& area,
                  AreaSteps* steps = nullptr) {
  ClipRecord r;
  r.src_x = x;
  r.src_y = y;
  r.src_w = ci->width;
  r.src_h = ci->height;
  r.area_x = area.left;
  r.area_y = area.top;
  r.area_w = to_i32(area.right - area.left + 1);
  r.area_h = to_i32(area.bottom - area.top + 1);
  clip_blit_rects(&r);
  if (r.width < 1 || r.height < 1) return 0;
  return blend_layer(dst, c, ci, r, steps);
}


// ---- window mode ----

// Draws the children of group (placed at ox, oy in the root image) into the
// root image `target`, limited to `area` (root coordinates, never empty).
int compose_window_children(ObjectNode* group, LayerImage* target, i64 ox, i64 oy, const DirtyRect& area,
                            int depth, AreaSteps* steps) {
  // Cover scan: the top-most child drawn opaque over the whole area hides
  // every child below it.
  ObjectNode* start = group->first_child;
  bool covered = false;
  u32 n = 0;
  for (ObjectNode* c = group->last_child; c && n < group->child_count; c = c->prev, ++n) {
    LayerImage* ci = image_of(c);
    if (!ci || c->is_group) continue;
    if (is_cover(ci, add_sat(ox, ci->x), add_sat(oy, ci->y), area)) {
      start = c;
      covered = true;
      break;
    }
  }
  if (!covered && depth == 0) {
    // The area lies inside the target (compose_window clipped it).
    BlendOp zero;
    zero.dst_x = static_cast<i32>(area.left);
    zero.dst_y = static_cast<i32>(area.top);
    zero.width = static_cast<i32>(area.right - area.left + 1);
    zero.height = static_cast<i32>(area.bottom - area.top + 1);
    steps->ops.push_back(zero);
  }
  n = 0;
  for (ObjectNode* c = start; c && n < group->child_count; c = c->next, ++n) {
    LayerImage* ci = image_of(c);
    if (!ci) continue;
    const i64 cx = add_sat(ox, ci->x), cy = add_sat(oy, ci->y);
    if (c->is_group) {
      DirtyRect sub = area;
      if (ci->width > 0 && ci->height > 0)
        sub = intersect(area, {cx, cy, add_sat(cx, ci->width - 1), add_sat(cy, ci->height - 1)});
      if (sub.left > sub.right || sub.top > sub.bottom) continue;
      if (compose_window_children(c, target, cx, cy, sub, depth + 1, steps) != 0) return -1;
      continue;
    }
    if (!drawable(ci)) continue;
    if (blend_clipped(target, c, ci, cx, cy, area, steps) != 0) return -1;
  }
  return 0;
}

int compose_window(ObjectNode* root, LayerImage* target, i64 clip_left, i64 clip_top, i64 clip_right,
                   i64 clip_bottom) {
  if (!target->dirty_valid) return 0;
  if (!target->pixels && !target->owned_pixels) return 0;
  DirtyRect whole = {0, 0, i64{target->width} - 1, i64{target->height} - 1};
  target->dirty = intersect(intersect(target->dirty, {clip_left, clip_top, clip_right, clip_bottom}), whole);
  merge_into_present_rect(target);
  const DirtyRect area = target->dirty;
  if (area.left > area.right || area.top > area.bottom) return 0;
  AreaSteps steps;
  steps.dst = target;
  steps.top = static_cast<i32>(area.top);
  steps.end = static_cast<i32>(area.bottom + 1);
  const int result = compose_window_children(root, target, 0, 0, area, 0, &steps);
  // Steps before a failure are still drawn, as they were when every layer
  // was posted by itself.
  steps.flush();
  return result;
}

// ---- flattening (a tree into its own image) ----

int compose_own_image(ObjectNode* node, int nested, i64 clip_left, i64 clip_top, i64 clip_right, i64 clip_bottom) {
  LayerImage* img = image_of(node);
  if (!img || !img->pixels) return 0;
  img->has_alpha = static_cast<u8>(1 - (nested ? 1 : 0));
  if (!img->dirty_valid) return 0;
  DirtyRect whole = {0, 0, i64{img->width} - 1, i64{img->height} - 1};
  img->dirty = intersect(intersect(img->dirty, {clip_left, clip_top, clip_right, clip_bottom}), whole);
  merge_into_present_rect(img);
  const DirtyRect area = img->dirty;
  if (area.left > area.right || area.top > area.bottom) return 0;
  ObjectNode* start = node->first_child;
  bool covered = false;
  u32 n = 0;
  for (ObjectNode* c = node->last_child; c && n < node->child_count; c = c->prev, ++n) {
    LayerImage* ci = image_of(c);
    if (ci && is_cover(ci, ci->x, ci->y, area)) {
      start = c;
      covered = true;
      break;
    }
  }
  if (!covered) zero_area(img, area);
  n = 0;
  for (ObjectNode* c = start; c && n < node->child_count; c = c->next, ++n) {
    LayerImage* ci = image_of(c);
    if (!ci) continue;
    if (c->is_group) {
      // The part of the child group that shows in this image's area, in the
      // child's own coordinates.
      auto neg = [](i64 v) { return v == std::numeric_limits<i64>::min() ? std::numeric_limits<i64>::max() : -v; };
      DirtyRect sub = dirty_rect_offset(area, neg(ci->x), neg(ci->y));
      if (compose_own_image(c, 1, sub.left, sub.top, sub.right, sub.bottom) != 0) return -1;
    }
    if (!drawable(ci)) continue;
    if (blend_clipped(img, c, ci, ci->x, ci->y, area) != 0) return -1;
  }
  return 0;
}

void walk_layers(ObjectNode* first, void (*fn)(LayerImage*)) {
  // Depth-first without recursion limits of its own: the tree's depth is
  // bounded by the object paths.
  for (ObjectNode* n = first; n; n = n->next) {
    if (LayerImage* im = image_of(n)) fn(im);
    if (n->first_child) walk_layers(n->first_child, fn);
  }
}

void reset_one(LayerImage* im) {
  im->prev_merge_count = im->merge_count;
  im->merge_count = 0;
  im->is_dirty = 0;
  im->dirty_valid = 0;
  im->dirty = kEmptyDirtyRect;
  im->reset_rect = kEmptyDirtyRect;
}

void visit_none(LayerImage*) {}

}  // namespace

// ---- placement ----

void clip_blit_rects(ClipRecord* r) {
  // Worked in 128 bits: a position from a script may lie anywhere.
  auto axis = [](i64 s64, i64 sw, i64 a64, i64 aw, u8* kind, i32* offset, i32* dst, i32* width) {
    const __int128 s = s64, a = a64;
    *kind = static_cast<u8>((s < a ? 2 : 0) + (a + aw < s + sw ? 1 : 0));
    const __int128 start = std::max(s, a);
    auto clamp32 = [](__int128 v) {
      return static_cast<i32>(v > std::numeric_limits<i32>::max()   ? std::numeric_limits<i32>::max()
                              : v < std::numeric_limits<i32>::min() ? std::numeric_limits<i32>::min()
                                                                    : v);
    };
    *dst = clamp32(start);
    *offset = clamp32(start - s);
    *width = clamp32(std::min(s + sw, a + aw) - start);
  };
  axis(r->src_x, r->src_w, r->area_x, r->area_w, &r->overlap_x, &r->offset_x, &r->dst_x, &r->width);
  axis(r->src_y, r->src_h, r->area_y, r->area_h, &r->overlap_y, &r->offset_y, &r->dst_y, &r->height);
}

void merge_into_present_rect(LayerImage* image) {
  if (!image) return;
  if (image->dirty_valid) image->reset_rect = dirty_rect_union(image->reset_rect, image->dirty);
  if (image->dirty_whole) {
    image->dirty_whole = 0;
    image->reset_rect = {0, 0, i64{image->width} - 1, i64{image->height} - 1};
  }
}

void build_mask_weights(const LayerImage* image) {
  const i32 f1 = image->mask_fade, f2 = image->mask_softness, a = image->alpha;
  for (i32 m = 0; m < 256; ++m) {
    i32 w;
    if (f2 != 256) {
      i32 v = ((m * f2) >> 1) + (f2 >> 1) * f1 - 128 * f2 + f1;
      if (v > 255) v = 255;
      w = v + 1;
    } else {
      w = m >= 256 - f1 ? 256 : 0;
    }
    g_mask_weights[m] = (w * a) >> 8;
  }
}

namespace {
int post_blend(i32 code, LayerImage* dst, const LayerImage* src, const LayerImage* mask, const ClipRecord& r) {
  return post_blend_job(code, dst, src, mask, mask ? mask->pixels : nullptr, r.offset_x, r.offset_y, r.dst_x, r.dst_y,
                        r.width, r.height);
}
}  // namespace

int post_blend_plain(LayerImage* dst, const LayerImage* src, const ClipRecord& r) {
  return post_blend(kPixelJobBlendPlain, dst, src, nullptr, r);
}
int post_blend_masked(LayerImage* dst, const LayerImage* src, const ClipRecord& r, const LayerImage* mask) {
  return post_blend(kPixelJobBlendMasked, dst, src, mask, r);
}
int post_blend_alpha(LayerImage* dst, const LayerImage* src, const ClipRecord& r) {
  return post_blend(kPixelJobBlendAlpha, dst, src, nullptr, r);
}
int post_blend_alpha_masked(LayerImage* dst, const LayerImage* src, const ClipRecord& r, const LayerImage* mask) {
  return post_blend(kPixelJobBlendAlphaMasked, dst, src, mask, r);
}

// ---- composition ----

int compose_layer_tree(ObjectNode* node, int window, int nested, int depth, i64 offset_x, i64 offset_y,
                       i64 clip_left, i64 clip_top, i64 clip_right, i64 clip_bottom, u8 no_window) {
  (void)depth;
  (void)offset_x;
  (void)offset_y;
  if (!node) return 0;
  if (depth == 0) ++g_compose_pass;
  if (window >= 0 && !no_window) {
    LayerImage* target = window_root_image(window);
    if (!target || !image_of(node)) return 0;
    return compose_window(node, target, clip_left, clip_top, clip_right, clip_bottom);
  }
  return compose_own_image(node, nested, clip_left, clip_top, clip_right, clip_bottom);
}

int flatten_group_layer(ObjectNode* node) {
  const LayerImage* img = image_of(node);
  if (!img || img->width < 1 || img->height < 1) return 0;
  return compose_layer_tree(node, -1, 1, 0, 0, 0, 0, 0, i64{img->width} - 1, i64{img->height} - 1, 1) < 0 ? -1 : 0;
}


ObjectNode* window_root_node(int window) {
  if (window < 0 || window >= kWindowCount || !g_windows[window]) return nullptr;
  if (g_windows[window]->root_layer) return g_windows[window]->root_layer;
  return window == 0 ? g_system_objects[kTreeLayer] : nullptr;
}

LayerImage* window_root_image(int window) { return image_of(window_root_node(window)); }

int draw_window(int window) {
  const int quit = g_quit_requested ? 1 : 0;
  if (window < 0 || window >= kWindowCount || !g_windows[window]) return quit;
  WindowRecord* w = g_windows[window];
  ObjectNode* root = window_root_node(window);
  LayerImage* img = image_of(root);
  if (!w->show_at_first_frame || !img || !img->visible) return quit;
  w->drawn_flag = 1;
  if (!img->is_dirty) return quit;
  // The GPU frame runs first, so that the screen copy it reads back is
  // composed in this same frame; the CPU picture is drawn all the same, as
  // every window is presented from it.
  if (window == 0 && g_settings.use_direct3d) render_frame_d3d();
  g_composed_frame_counter++;
  if (compose_layer_tree(root, window, 0, 0, 0, 0, 0, 0, i64{img->width} - 1, i64{img->height} - 1, 0) < 0)
    return -1;
  if (window == 0 && g_gpu_given_up) feed_screen_copy_from_cpu(img);
  return g_quit_requested ? 1 : 0;
}

void detect_layer_changes_from(ObjectNode* first) { walk_layers(first, visit_none); }

void reset_dirty_state_from(ObjectNode* first) {
  walk_layers(first, reset_one);
  for (int i = 0; i < kWindowCount; ++i)
    if (g_windows[i] && g_windows[i]->own_image) reset_one(g_windows[i]->own_image);
}

void detect_layer_changes() {
  if (g_object_roots[kTreeLayer]) detect_layer_changes_from(g_object_roots[kTreeLayer]->first_child);
}

void reset_dirty_state() {
  reset_dirty_state_from(g_object_roots[kTreeLayer] ? g_object_roots[kTreeLayer]->first_child : nullptr);
}
