#include "tests/support/reference_compositor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/render/compositor.h"
#include "engine/vm/object_tree.h"

namespace {

struct Rect {
  i64 l, t, r, b;  // inclusive
  bool empty() const { return l > r || t > b; }
};

i64 add_sat(i64 a, i64 b) {
  i64 r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
  return r;
}

Rect cut(const Rect& a, const Rect& b) {
  return {std::max(a.l, b.l), std::max(a.t, b.t), std::min(a.r, b.r), std::min(a.b, b.b)};
}

LayerImage* image_of(ObjectNode* n) {
  return n && n->payload && n->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(n->payload) : nullptr;
}

LayerImage* find_mask_layer(const char* name) {
  char path[kObjectPathSize];
  if (build_object_path(path, name, "", 0) < 0) return nullptr;
  return image_of(resolve_object_path(g_object_roots[kTreeLayer], path, 0));
}

int draw_leaf(LayerImage* target, const LayerImage* c, i64 x, i64 y, const Rect& clip) {
  const Rect r = cut(clip, {x, y, add_sat(x, c->width - 1), add_sat(y, c->height - 1)});
  if (r.empty()) return 0;
  const LayerImage* mask = nullptr;
  if (c->mask_name && c->mask_name[0] && c->mask_fade <= 255) {
    if (const LayerImage* m = find_mask_layer(c->mask_name)) {
      if (m->width != c->width || m->height != c->height) return -1;
      if (m->pixels) mask = m;
    }
  }
  // A private copy of the record, drawn from toned pixels when toned.
  LayerImage view = *c;
  std::vector<u32> toned;
  if (c->tone_colour != 0x808080 || c->tone_level != 128) {
    const i32 w = c->width, h = c->height;
    toned.assign(static_cast<size_t>(image_buffer_bytes(w, h) / 4 + 1), 0);
    const u32* src = c->pixels;
    if (c->tone_colour != 0x808080) {
      apply_color_tone_rows(toned.data(), src, 0, 0, w - 1, h - 1, w, h, w, h, c->tone_colour);
      src = toned.data();
    }
    if (c->tone_level != 128) apply_saturation_rows(toned.data(), src, 0, 0, w - 1, h - 1, w, h, w, h, c->tone_level);
    view.pixels = toned.data();
  }
  i32 code;
  if (mask) build_mask_weights(c);
  if (c->has_alpha) code = mask ? kPixelJobBlendAlphaMasked : kPixelJobBlendAlpha;
  else code = mask ? kPixelJobBlendMasked : kPixelJobBlendPlain;
  post_blend_job(code, target, &view, mask, mask ? mask->pixels : nullptr, static_cast<i32>(r.l - x),
                 static_cast<i32>(r.t - y), static_cast<i32>(r.l), static_cast<i32>(r.t), static_cast<i32>(r.r - r.l + 1),
                 static_cast<i32>(r.b - r.t + 1));
  return 0;
}

int draw_children(LayerImage* target, ObjectNode* group, i64 ox, i64 oy, const Rect& clip) {
  for (ObjectNode* c = group->first_child; c; c = c->next) {
    LayerImage* ci = image_of(c);
    if (!ci) continue;
    const i64 x = add_sat(ox, ci->x), y = add_sat(oy, ci->y);
    if (c->is_group) {
      Rect sub = clip;
      if (ci->width > 0 && ci->height > 0) sub = cut(clip, {x, y, add_sat(x, ci->width - 1), add_sat(y, ci->height - 1)});
      if (!sub.empty() && draw_children(target, c, x, y, sub) != 0) return -1;
      continue;
    }
    if (!ci->visible || ci->alpha <= 0 || ci->content_kind != 0 || !ci->pixels || ci->width < 1 || ci->height < 1)
      continue;
    if (ci->mask_name && ci->mask_name[0] && ci->mask_fade == 0) continue;
    if (draw_leaf(target, ci, x, y, clip) != 0) return -1;
  }
  return 0;
}

}  // namespace

int reference_compose(ObjectNode* root, i32 width, i32 height, std::vector<u32>* out) {
  u32* buffer = static_cast<u32*>(std::calloc(static_cast<size_t>(image_buffer_bytes(width, height)), 1));
  LayerImage* target = new LayerImage();
  target->width = width;
  target->height = height;
  target->pixels = target->owned_pixels = buffer;
  const int rc = draw_children(target, root, 0, 0, {0, 0, i64{width} - 1, i64{height} - 1});
  out->assign(buffer, buffer + static_cast<size_t>(width) * static_cast<size_t>(height));
  std::free(buffer);
  delete target;
  return rc;
}
