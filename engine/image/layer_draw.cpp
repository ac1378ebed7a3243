// The layer drawing request: names, rectangle, the operation table, the
// effect frame, layer swaps and text stamping.
#include "engine/image/layer_draw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/font_slots.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_load.h"
#include "engine/image/layer_transform.h"
#include "engine/image/pixel_effects.h"
#include "engine/image/resample.h"
#include "engine/vm/assign_ops.h"
#include "engine/vm/object_tree.h"

namespace {

constexpr u32 kErrRange = 101000;
constexpr u32 kErrLayerMissing = 101291;
constexpr u32 kErrSwapConditions = 101281;
constexpr u32 kErrRotateRect = 101282;
constexpr u32 kErrMosaicRect = 101283;
constexpr u32 kErrScatterRect = 101284;
constexpr u32 kErrCopyLayer = 101296;
constexpr u32 kErrSwapLayer = 101297;
constexpr u32 kErrTransferLayer = 101298;

LayerImage* image_of(ObjectNode* node) {
  if (!node || !node->payload || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

// A name parameter with the digits of its number parameter appended.
std::string layer_name(const ParamSet& p, u32 name_param, u32 number_param) {
  std::string name = p.text(name_param);
  if (p.given(number_param)) name += std::to_string(p.value(number_param));
  return name;
}

// Resolves a layer by name: the node, or null when it does not exist
// (*failed set after a reported path error).
ObjectNode* resolve_layer(const std::string& name, bool* failed) {
  char path[kObjectPathSize];
  *failed = false;
  const int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) {
    *failed = true;
    return nullptr;
  }
  return resolve_object_path(g_object_roots[kTreeLayer], path, kind == 1 ? 1 : 0);
}

// A value through its assignment operator, applied to 0.
i64 through_op(const ParamSet& p, u32 id) { return p.given(id) ? apply_assign_op(p.op(id), 0, p.value(id)) : 0; }

int range_error(const ParamSet& p, u32 param, i64 value, i64 lo, i64 hi) {
  report_error_at(kErrRange, 1, p.request_name, p.param_name(param), value, lo, hi);
  return -1;
}

i32 to_i32(i64 v) { return static_cast<i32>(std::clamp<i64>(v, INT32_MIN, INT32_MAX)); }

struct Rect {
  i64 x0, y0, x1, y1;
  bool all_given;
};

// The effect operations of the table: parameter, effect type, value range
// (lo > hi: none), fill mode, and the error when the rectangle is needed.
struct EffectOp {
  u32 param;
  int type;
  i64 lo, hi;
  int fill_mode;
  u32 needs_rect_error;
};
constexpr EffectOp kEffectOps[] = {
    {31, 30, 0, 256, 0, 0},      {32, 12, 0, 0xFFFFFF, 0, 0}, {33, 39, 0, 0xFFFFFF, 0, 0},
    {42, 1, 0, 256, 0, 0},       {43, 19, 0, 256, 0, 0},      {44, 38, 0, 1, 0, 0},
    {45, 11, 0, 1, 0, 0},        {46, 20, 0, 256, 0, kErrMosaicRect},
    {47, 2, 0, 256, 0, 0},       {48, 3, 0, 256, 0, 0},       {49, 4, 0, 256, 0, 0},
    {50, 5, 0, 256, 0, 0},       {51, 6, 0, 256, 0, 0},       {52, 7, 0, 256, 0, 0},
    {53, 10, 0, 256, 0, kErrScatterRect},
    {54, 21, 1, 0, 0, 0},        {55, 22, 1, 0, 0, 0},        {56, 23, 1, 0, 0, 0},
    {62, 40, 1, 0, 0, 0},        {57, 28, 0, 1, 0, 0},
    {58, 24, 0, 0xFFFFFFFFll, 1, 0}, {59, 24, 0, 0xFFFFFFFFll, 2, 0}, {60, 24, 0, 0xFFFFFFFFll, 3, 0},
    {61, 27, 1, 0, 0, 0},
};

bool rect_crossed(const Rect& r) { return r.x0 > r.x1 || r.y0 > r.y1; }

int run_effect(const ParamSet& p, const EffectOp& op, ObjectNode* target, ObjectNode* layer2, const Rect& r) {
  const i64 value = through_op(p, 9);
  if (op.lo <= op.hi && (value < op.lo || value > op.hi)) return range_error(p, op.param, value, op.lo, op.hi);
  if (op.needs_rect_error && !r.all_given) {
    report_error_at(op.needs_rect_error, 1, p.request_name, p.param_name(op.param), value);
    return -1;
  }
  if (rect_crossed(r)) return range_error(p, 14, r.x1 < r.x0 ? r.x1 : r.y1, r.x1 < r.x0 ? r.x0 : r.y0, INT32_MAX);
  return layer_draw_to_layer(op.type, target, layer2, to_i32(r.x0), to_i32(r.y0), to_i32(r.x1), to_i32(r.y1), value,
                             through_op(p, 10), op.fill_mode);
}

int run_resize(const ParamSet& p, u32 param, ObjectNode* target, ObjectNode* layer2, const Rect& r) {
  static const int kModes[] = {10, 21, 31, 41, 51};  // parameters 24..28
  LayerImage* img = image_of(target);
  if (!img) return 0;
  const i64 w = p.given(16) ? p.value(16) : img->width, h = p.given(17) ? p.value(17) : img->height;
  if (w < 1 || w > kMaxImageSide) return range_error(p, 16, w, 1, kMaxImageSide);
  if (h < 1 || h > kMaxImageSide) return range_error(p, 17, h, 1, kMaxImageSide);
  i64 x0 = r.x0 * 100, y0 = r.y0 * 100, x1 = r.x1 * 100, y1 = r.y1 * 100;
  if (p.given(18)) x0 = std::clamp<i64>(p.value(18), 0, static_cast<i64>(img->width) * 100 - 100);
  i64 w100 = p.given(22) ? p.value(22) : w * 100, h100 = p.given(23) ? p.value(23) : h * 100;
  // The size the resize makes is checked, whichever parameter gave it.
  if (w100 / 100 < 1 || w100 / 100 > kMaxImageSide) return range_error(p, 22, w100, 100, kMaxImageSide * 100ll);
  if (h100 / 100 < 1 || h100 / 100 > kMaxImageSide) return range_error(p, 23, h100, 100, kMaxImageSide * 100ll);
  auto fits = [](i64 v) { return v >= INT32_MIN && v <= INT32_MAX; };
  if (!fits(x0) || !fits(y0) || !fits(x1) || !fits(y1)) return range_error(p, 12, r.x0, INT32_MIN / 100, INT32_MAX / 100);
  return resize_layer(target, layer2, static_cast<i32>(x0), static_cast<i32>(y0), static_cast<i32>(x1),
                      static_cast<i32>(y1), static_cast<i32>(w100), static_cast<i32>(h100), layer2 ? 1 : 0,
                      kModes[param - 24]);
}

void release_emote(LayerImage* img) {
  if (!img || img->content_kind != 2) return;
  if (g_layer_release_hooks.release_emote_player) g_layer_release_hooks.release_emote_player(img);
  img->emote_player = nullptr;
  img->content_kind = 0;
}

// Gradient weight (0..256 toward the end colour) of glyph pixel (x, y).
int gradient_weight(int direction, i32 x, i32 y, i32 w, i32 h) {
  const int u = w > 1 ? x * 256 / (w - 1) : 0, v = h > 1 ? y * 256 / (h - 1) : 0;
  switch (direction) {
    case 1: return v;
    case 2: return 256 - v;
    case 3: return u;
    case 4: return 256 - u;
    case 5: return (u + v) / 2;
    case 6: return 256 - (u + v) / 2;
    case 7: return (256 - u + v) / 2;
    case 8: return (u + 256 - v) / 2;
    default: return 0;
  }
}

u32 gradient_end(u32 colour, u32 other, int colour_set) {
  u32 out = 0;
  for (int sh = 0; sh < 24; sh += 8) {
    const u32 c = (colour >> sh) & 0xFF;
    u32 e = c;
    if (colour_set == 1) e = c / 2;
    else if (colour_set == 2) e = c + (255 - c) / 2;
    else if (colour_set == 3) e = (other >> sh) & 0xFF;
    out |= e << sh;
  }
  return out;
}

bool stamp_once(LayerImage* img, const u8* cov, i32 gw, i32 gh, i64 x, i64 y, u32 colour, u32 other,
                const GlyphStyle& st, int routine) {
  if (x < 0 || y < 0 || x + gw > img->width || y + gh > img->height) return false;
  img->has_alpha = 1;
  const bool graded = st.direction >= 1 && st.direction <= 8 && st.colour_set >= 1 && st.colour_set <= 3;
  const u32 end = graded ? gradient_end(colour, other, st.colour_set) : colour;
  for (i32 gy = 0; gy < gh; ++gy) {
    u32* row = img->owned_pixels + (y + gy) * static_cast<i64>(img->width) + x;
    for (i32 gx = 0; gx < gw; ++gx) {
      const u32 a = cov[gy * gw + gx];
      if (a == 0) continue;
      const int t = graded ? gradient_weight(st.direction, gx, gy, gw, gh) : 0;
      u32 c = 0;
      for (int sh = 0; sh < 24; sh += 8) {
        const u32 c0 = (colour >> sh) & 0xFF, c1 = (end >> sh) & 0xFF;
        c |= ((c0 * static_cast<u32>(256 - t) + c1 * static_cast<u32>(t)) >> 8) << sh;
      }
      const u32 d = row[gx], da = d >> 24;
      u32 out = 0;
      if (routine == 63) {
        // Colour over what is there, coverage as alpha.
        const u32 rest = da * (255 - a) / 255;
        const u32 oa = a + rest;
        for (int sh = 0; sh < 24; sh += 8)
          out |= ((((c >> sh) & 0xFF) * a + ((d >> sh) & 0xFF) * rest) / oa) << sh;
        out |= oa << 24;
      } else {
        for (int sh = 0; sh < 24; sh += 8)
          out |= ((((c >> sh) & 0xFF) * a + ((d >> sh) & 0xFF) * (255 - a)) / 255) << sh;
        out |= std::max(da, a) << 24;
      }
      row[gx] = out;
    }
  }
  return true;
}

}  // namespace

int stamp_text_glyph(LayerImage* image, const u8* coverage, i32 gw, i32 gh, i64 x, i64 y, i64 e,
                     const GlyphStyle& style, int routine) {
  if (!image || !image->owned_pixels || !coverage || gw < 1 || gh < 1) return 0;
  int n = 0;
  const u32 ring = style.second_colour, face = style.colour;
  if (e >= 1 && e <= 10) {
    const i64 ring_at[4][2] = {{x + e, y}, {x, y - e}, {x, y + e}, {x - e, y}};
    for (const auto& at : ring_at) n += stamp_once(image, coverage, gw, gh, at[0], at[1], ring, face, style, routine);
  } else if (e >= 11) {
    const i64 d = e - 10;
    const i64 shadow_at[3][2] = {{x + d, y}, {x, y + d}, {x + d, y + d}};
    for (const auto& at : shadow_at) n += stamp_once(image, coverage, gw, gh, at[0], at[1], ring, face, style, routine);
  }
  n += stamp_once(image, coverage, gw, gh, x, y, face, ring, style, routine);
  return n;
}

int draw_text_into_layer(ObjectNode* node, const char* text, i64 x, i64 y, i64 e, int routine) {
  LayerImage* img = image_of(node);
  if (!img || !img->owned_pixels || !text) return 0;
  static const TextRecord kDefaults;
  const TextRecord* t = g_text_record ? g_text_record : &kDefaults;
  const i32 gw = std::clamp(t->line_pitch_a, 0, 256), gh = std::clamp(t->line_pitch_b, 0, 256);
  if (gw < 1 || gh < 1) return 0;
  GlyphStyle style;
  style.colour = t->colour & 0xFFFFFF;
  style.second_colour = t->second_colour & 0xFFFFFF;
  style.direction = t->flag_a;
  style.colour_set = t->flag_b;
  std::vector<u8> coverage(static_cast<std::size_t>(gw) * gh);
  mark_layer_dirty(node);
  const i64 left = x;
  for (const char* p = text; *p;) {
    if (p[0] == '\r' && p[1] == '\n') {
      x = left;
      y += gh;
      p += 2;
      continue;
    }
    const int n = sjis_char_length(p);
    i32 adv = 0, h = 0;
    measure_text_gdi(p, gw, gh, t->flag_c, t->flag_e, &adv, &h);
    if (render_glyph_coverage(p, gw, gh, t->flag_c, t->flag_e, coverage.data()) != 0) return -1;
    stamp_text_glyph(img, coverage.data(), gw, gh, x, y, e, style, routine);
    x += adv;
    p += n;
  }
  mark_layer_dirty(node);
  return 0;
}

void copy_layer_attributes(LayerImage* dst, const LayerImage* src) {
  if (!dst || !src || dst == src) return;
  dst->visible = src->visible;
  dst->alpha = src->alpha;
  dst->user_value1 = src->user_value1;
  dst->user_value2 = src->user_value2;
  dst->x = src->x;
  dst->y = src->y;
  dst->mask_fade = src->mask_fade;
  dst->mask_softness = src->mask_softness;
  dst->blend_mode = src->blend_mode;
  dst->has_alpha = src->has_alpha;
  if (src->mask_name) set_layer_name_buffer(dst->mask_name, src->mask_name);
  if (src->second_name) set_layer_name_buffer(dst->second_name, src->second_name);
  dst->x_centi = src->x_centi;
  dst->y_centi = src->y_centi;
  dst->scale_x = src->scale_x;
  dst->scale_y = src->scale_y;
  std::memcpy(dst->gpu_values, src->gpu_values, sizeof dst->gpu_values);
  std::memcpy(dst->gpu_angles, src->gpu_angles, sizeof dst->gpu_angles);
  dst->tone2_level = src->tone2_level;
  dst->tone2_colour = src->tone2_colour;
  dst->gpu_mode = src->gpu_mode;
  dst->gpu_level = src->gpu_level;
}

int layer_draw_to_layer(int type, ObjectNode* source, ObjectNode* result, i32 x0, i32 y0, i32 x1, i32 y1, i64 value,
                        i64 value2, int fill_mode) {
  LayerImage* src = image_of(source);
  if (!src || !src->owned_pixels || !pixel_effect_known(type)) return 0;
  LayerImage* dst_img = result ? get_or_create_layer_image(result) : src;
  if (!dst_img) return -1;
  // The rectangle inside the source.
  x0 = std::clamp(x0, 0, src->width - 1);
  x1 = std::clamp(x1, 0, src->width - 1);
  y0 = std::clamp(y0, 0, src->height - 1);
  y1 = std::clamp(y1, 0, src->height - 1);
  if (x0 > x1 || y0 > y1) return 0;
  const bool whole_size = type == 19 || type == 24 || (type == 27 && !result);
  const i32 w = whole_size ? src->width : x1 - x0 + 1, h = whole_size ? src->height : y1 - y0 + 1;
  u32* buffer = alloc_image_buffer(nullptr, w, h, nullptr);
  if (!buffer) return -1;
  EffectJob job;
  job.dst = buffer;
  job.dst_w = w;
  job.dst_h = h;
  job.dst_x = whole_size ? 0 : x0;
  job.dst_y = whole_size ? 0 : y0;
  job.src = src->owned_pixels;
  job.src_w = src->width;
  job.src_h = src->height;
  job.x0 = x0;
  job.y0 = y0;
  job.x1 = x1;
  job.y1 = y1;
  job.value = value;
  job.value2 = value2;
  job.fill_mode = fill_mode;
  job.has_alpha = src->has_alpha;
  u8 has_alpha = src->has_alpha;
  job.result_has_alpha = &has_alpha;
  if (run_pixel_effect(type, job) != 0) {
    std::free(buffer);
    return -1;
  }
  ObjectNode* node = result ? result : source;
  mark_layer_dirty(node);
  if ((type == 8 || type == 9) && result) release_emote(dst_img);
  replace_layer_pixels(dst_img, buffer, w, h);
  if (result) copy_layer_attributes(dst_img, src);
  dst_img->has_alpha = has_alpha;
  mark_layer_dirty(node);
  return 0;
}

int swap_order_keys(ObjectNode* a, ObjectNode* b) {
  if (!a || !b || !a->parent || !b->parent) return 0;
  const i64 ka = a->order_key, kb = b->order_key;
  layer_reorder(a, kb);
  layer_reorder(b, ka);
  return 1;
}

int swap_layers(ObjectNode* a, ObjectNode* b, int mode) {
  if (!a || !b || a == b || !a->parent || !b->parent) return -1;
  mark_layer_dirty(a);
  mark_layer_dirty(b);
  swap_order_keys(a, b);
  // The parents' key indexes find a child by its name's key: each node
  // leaves its index before the names move and comes back under its new key.
  object_index_remove(a->parent, a);
  object_index_remove(b->parent, b);
  std::swap(a->name, b->name);
  std::swap(a->name_length, b->name_length);
  // The hash moves with the name; the group bit stays with the node.
  const u32 ha = a->key & ~kObjectGroupBit, hb = b->key & ~kObjectGroupBit;
  a->key = (a->key & kObjectGroupBit) | hb;
  b->key = (b->key & kObjectGroupBit) | ha;
  object_index_insert(a->parent, a);
  object_index_insert(b->parent, b);
  LayerImage* ia = image_of(a);
  LayerImage* ib = image_of(b);
  if (ia && ib && mode >= 1) {
    std::swap(ia->x, ib->x);
    std::swap(ia->y, ib->y);
    std::swap(ia->x_centi, ib->x_centi);
    std::swap(ia->y_centi, ib->y_centi);
    if (mode == 2) {
      std::swap(ia->visible, ib->visible);
      std::swap(ia->alpha, ib->alpha);
      std::swap(ia->mask_fade, ib->mask_fade);
      std::swap(ia->mask_softness, ib->mask_softness);
      std::swap(ia->blend_mode, ib->blend_mode);
    }
  }
  mark_layer_dirty(a);
  mark_layer_dirty(b);
  return 0;
}

int layer_draw(const ParamSet& p) {
  bool failed = false;
  ObjectNode* target = resolve_layer(layer_name(p, 0, 4), &failed);
  if (failed) return -1;
  if (!target) return 0;
  ObjectNode* layers[4] = {target, nullptr, nullptr, nullptr};
  for (u32 i = 1; i <= 3; ++i) {
    if (!p.given(i)) continue;
    const std::string name = layer_name(p, i, 4 + i);
    layers[i] = resolve_layer(name, &failed);
    if (failed) return -1;
    if (!layers[i]) {
      report_error_at(kErrLayerMissing, 1, p.request_name, p.param_name(i), name.c_str());
      return -1;
    }
  }
  ObjectNode* layer2 = layers[1];
  LayerImage* img = image_of(target);
  const i64 tw = img ? img->width : 1, th = img ? img->height : 1;

  // The rectangle.
  static const u32 kUnclamped[] = {24, 25, 26, 27, 28, 34, 35, 36, 37, 38, 39, 41};
  bool clamp = true;
  for (u32 id : kUnclamped)
    if (p.given(id)) clamp = false;
  Rect r{p.given(12) ? p.value(12) : 0, p.given(13) ? p.value(13) : 0, p.given(14) ? p.value(14) : tw - 1,
         p.given(15) ? p.value(15) : th - 1, p.given(12) && p.given(13) && p.given(14) && p.given(15)};
  if (clamp) {
    r.x0 = std::clamp<i64>(r.x0, 0, tw - 1);
    r.x1 = std::clamp<i64>(r.x1, 0, tw - 1);
    r.y0 = std::clamp<i64>(r.y0, 0, th - 1);
    r.y1 = std::clamp<i64>(r.y1, 0, th - 1);
  }
  through_op(p, 10);  // the second value has no effect of its own

  for (u32 id = 24; id <= 28; ++id)
    if (p.given(id)) return run_resize(p, id, target, layer2, r);
  for (u32 id : {29u, 30u}) {
    if (!p.given(id)) continue;
    if (!r.all_given) {
      report_error_at(kErrRotateRect, 1, p.request_name, p.param_name(id));
      return -1;
    }
    // Into layer 2 when given; there the turned image lands over what the
    // layer holds (mode 12), in place the uncovered corners take the fill byte.
    const i64 angle = through_op(p, 9);
    if (id == 30) return rotate_layer_alt(target, layer2, angle, layer2 ? 1 : 0);
    return rotate_layer(target, layer2, angle, layer2 ? 1 : 0, layer2 ? kRotateNearest : kRotateFillOutside);
  }
  for (const EffectOp& op : kEffectOps)
    if (p.given(op.param)) return run_effect(p, op, target, layer2, r);
  for (u32 id : {63u, 64u})
    if (p.given(id)) return draw_text_into_layer(target, p.text(11), r.x0, r.y0, through_op(p, 9), static_cast<int>(id));
  for (u32 id = 34; id <= 39; ++id) {
    if (!p.given(id)) continue;
    const bool missing = !layer2 || (id == 36 && !layers[2]);
    if (missing) {
      report_error_at(kErrTransferLayer, 1, p.request_name, p.param_name(id));
      return -1;
    }
    if (id == 37) return 0;
    // Layer 2 (and 3 for the cross-fade) placed at the rectangle's corner in
    // the target, at most the rectangle's size; clipped to every layer.
    TransferRect tr;
    tr.dst_x = r.x0;
    tr.dst_y = r.y0;
    tr.width = r.x1 - r.x0 + 1;
    tr.height = r.y1 - r.y0 + 1;
    switch (id) {
      case 34: return copy_layer_pixels(layer2, target, tr);
      case 35: return copy_layer_pixels_weighted(layer2, target, tr);
      case 36: return crossfade_layers(layer2, layers[2], target, tr, through_op(p, 9));
      case 38: return mask_layer_difference(layer2, target, tr);
      default: return mask_layer_equal(layer2, target, tr);
    }
  }
  if (p.given(40)) {
    const i64 v = through_op(p, 9);
    if (v < 0 || v > 15) return range_error(p, 40, v, 0, 15);
    // The box of the pixels that are not wholly transparent.
    return trim_layer(target, layer2, layer2 ? 1 : 0, static_cast<int>(v), 0);
  }
  if (p.given(41)) {
    return extend_layer_canvas(target, layer2, layer2 ? 1 : 0, to_i32(r.x0), to_i32(r.x1), to_i32(r.y0),
                               to_i32(r.y1));
  }
  for (u32 id : {65u, 66u}) {
    if (!p.given(id)) continue;
    if (!layer2) {
      report_error_at(kErrCopyLayer, 1, p.request_name, p.param_name(id));
      return -1;
    }
    if (rect_crossed(r)) return range_error(p, 14, r.x1, r.x0, INT32_MAX);
    return layer_draw_to_layer(id == 65 ? 8 : 9, target, layer2, to_i32(r.x0), to_i32(r.y0), to_i32(r.x1),
                               to_i32(r.y1), 0, 0, 0);
  }
  for (u32 id : {67u, 68u}) {
    if (!p.given(id)) continue;
    if (!layer2) {
      report_error_at(kErrSwapLayer, 1, p.request_name, p.param_name(id));
      return -1;
    }
    if (swap_layers(target, layer2, id == 67 ? 1 : 2) != 0) {
      report_error_at(kErrSwapConditions, 1, p.request_name, p.param_name(id));
      return -1;
    }
    return 0;
  }
  // The GPU paste: 69 cuts layer 2 (or the target itself) into textures,
  // 70 draws it and reads the picture back into the target. Without a
  // device nothing changes; device failures report nothing.
  const LayerCommandHooks& gpu = g_layer_command_hooks;
  ObjectNode* paste_source = layer2 ? layer2 : target;
  if (p.given(69)) {
    if (gpu.d3d_drawing && gpu.d3d_drawing() && gpu.gpu_paste_setup) gpu.gpu_paste_setup(target, paste_source);
    return 0;
  }
  if (p.given(70)) {
    if (gpu.d3d_drawing && gpu.d3d_drawing() && gpu.gpu_paste_render) return gpu.gpu_paste_render(target, paste_source);
    return 0;
  }
  return 0;
}
