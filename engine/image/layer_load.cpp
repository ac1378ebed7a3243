// Creating, loading, sharing, masking and configuring a layer by its
// settings, and group layer creation.
#include "engine/image/layer_load.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"
#include "engine/vm/assign_ops.h"
#include "engine/vm/object_tree.h"

LayerCommandHooks g_layer_command_hooks = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {

// The name that the request's error messages give (the command's name).
const char* g_request_name = "";
const char* command_name() { return g_request_name; }

i32 to_i32(i64 v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<i32>(v);
}

LayerImage* image_of(ObjectNode* node) {
  if (!node || !node->payload || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

// A name given by a text parameter and an optional number parameter that is
// appended as "." + decimal.
std::string suffixed_name(const ParamSet& a, u32 text_param, u32 number_param) {
  std::string name = a.text(text_param);
  if (a.given(number_param)) {
    char number[32];
    std::snprintf(number, sizeof number, ".%lld", static_cast<long long>(a.value(number_param)));
    name.append(number);
  }
  return name;
}

// Resolves a leaf layer named relative to the layer base path; null when it
// does not exist (or the name is bad, which is reported).
ObjectNode* resolve_leaf_layer(const char* name, int* failed) {
  char path[kObjectPathSize];
  *failed = 0;
  if (build_object_path(path, name, g_object_base_paths[kTreeLayer], 0) < 0) {
    *failed = 1;
    return nullptr;
  }
  return resolve_object_path(g_object_roots[kTreeLayer], path, 0);
}

// Marks the area of every node below first (and its siblings) that holds
// image.
void mark_sharing_nodes(ObjectNode* first, const LayerImage* image, ObjectNode* skip) {
  for (ObjectNode* n = first; n; n = n->next) {
    if (n != skip && n->payload == image && n->payload_kind == kPayloadLayerImage) mark_layer_dirty(n);
    if (n->first_child) mark_sharing_nodes(n->first_child, image, skip);
  }
}

// The area a layer shows now, marked changed in its ancestors (a group
// carries its children's areas up). A record that several nodes show is
// marked at each of them: every change of it shows in all.
void mark_area(ObjectNode* node) {
  if (node->is_group) {
    propagate_layer_dirty_rect(node);
    return;
  }
  mark_layer_dirty(node);
  const LayerImage* img = image_of(node);
  if (img && img->ref_count > 1 && g_object_roots[kTreeLayer])
    mark_sharing_nodes(g_object_roots[kTreeLayer]->first_child, img, node);
}

bool d3d_drawing() { return g_layer_command_hooks.d3d_drawing && g_layer_command_hooks.d3d_drawing(); }

// Copies the blue channel of the mask layer into this layer's alpha.
int apply_mask_layer(const ParamSet& a, LayerImage* img) {
  int failed = 0;
  ObjectNode* mask_node = resolve_leaf_layer(a.text(48), &failed);
  if (failed) return -1;
  LayerImage* mask = image_of(mask_node);
  if (!mask) return 0;  // a missing mask layer is ignored
  if (mask->width != img->width || mask->height != img->height) {
    show_error_box("", sjis_message("レイヤ画像とマスクレイヤ画像のサイズが異なります。"));
    g_quit_requested = 1;
    return -1;
  }
  // The mask's shown pixels (a frame of a frame set, say) give the alpha.
  if (!mask->pixels || !img->owned_pixels) return 0;
  const u64 n = static_cast<u64>(img->width) * static_cast<u64>(img->height);
  for (u64 i = 0; i < n; ++i)
    img->owned_pixels[i] = (img->owned_pixels[i] & 0x00FFFFFFu) | ((mask->pixels[i] & 0xFFu) << 24);
  img->has_alpha = 1;
  return 0;
}

// New size of a group layer. Both sizes positive: a new cleared buffer,
// the whole image changed, and the children composed into it. A size of 0
// makes a pure group (its buffer is not read); a negative size is ignored.
int resize_group(const ParamSet& a, ObjectNode* node, LayerImage* img, GroupFlatten flatten) {
  propagate_layer_dirty_rect(node);
  const i32 w = a.given(9) ? to_i32(a.value(9)) : img->width;
  const i32 h = a.given(10) ? to_i32(a.value(10)) : img->height;
  if (w < 0 || h < 0) return 0;
  if (w == 0 || h == 0) {
    img->width = img->loaded_width = w;
    img->height = img->loaded_height = h;
    return 0;
  }
  u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
  if (!buf) return -1;
  std::memset(buf, 0, static_cast<std::size_t>(image_buffer_bytes(w, h)));
  replace_layer_pixels(img, buf, w, h);
  img->dirty_whole = 1;
  img->dirty_valid = 1;
  img->dirty = {0, 0, i64{w} - 1, i64{h} - 1};
  propagate_layer_dirty_rect(node);
  return flatten && flatten(node) < 0 ? -1 : 0;
}

// Cuts or pads the freshly loaded image to width x height: opaque black
// where the image does not reach.
int cut_or_pad(const ParamSet& a, ObjectNode* node, LayerImage* img, const char* file_name) {
  if (!a.given(9) || !a.given(10)) {
    report_error_at(100243, 1, command_name());
    return -1;
  }
  const i32 w = to_i32(a.value(9));
  const i32 h = to_i32(a.value(10));
  mark_area(node);
  u32* buf = alloc_image_buffer(nullptr, w, h, file_name);
  if (!buf) return -1;
  const u64 n = static_cast<u64>(w) * static_cast<u64>(h);
  for (u64 i = 0; i < n; ++i) buf[i] = 0xFF000000u;
  const i32 cw = std::min(w, img->width);
  const i32 ch = std::min(h, img->height);
  if (img->owned_pixels)
    for (i32 y = 0; y < ch; ++y)
      std::memcpy(buf + static_cast<u64>(y) * w, img->owned_pixels + static_cast<u64>(y) * img->width,
                  static_cast<std::size_t>(cw) * 4u);
  replace_layer_pixels(img, buf, w, h);
  mark_area(node);
  return 0;
}

// Parameters 4, 28, 5 and 29: a position in pixels and in hundredths.
void apply_position(const ParamSet& a, ObjectNode* node, i64* pos, i64* centi, u32 pixel_param, u32 centi_param) {
  for (u32 p : {pixel_param, centi_param}) {
    if (!a.given(p)) continue;
    i64 np, nc;
    if (p == pixel_param) {
      np = apply_assign_op(a.op(p), *pos, a.value(p));
      nc = static_cast<i64>(static_cast<u64>(np) * 100u);
    } else {
      nc = apply_assign_op(a.op(p), *centi, a.value(p));
      np = nc / 100;
    }
    if (np != *pos || nc != *centi) mark_area(node);
    *pos = np;
    *centi = nc;
  }
}

template <class T>
void set_clamped(const ParamSet& a, T* field, u32 param, i64 lo, i64 hi) {
  if (a.given(param)) *field = static_cast<T>(apply_assign_op_clamped(a.op(param), *field, a.value(param), lo, hi));
}

}  // namespace

LayerImage* create_group_layer(const char* path, i32 width, i32 height, i64 order_key) {
  // A width or height of 0 makes a pure group: it only gathers its children,
  // which are drawn straight into the window, and needs no buffer.
  if ((width == 0 && height >= 0) || (height == 0 && width >= 0)) {
    ObjectNode* node = get_named_object(g_object_roots[kTreeLayer], path, 1, order_key);
    LayerImage* img = node ? get_or_create_layer_image(node) : nullptr;
    if (!img) return nullptr;
    img->width = img->loaded_width = width;
    img->height = img->loaded_height = height;
    return img;
  }
  // The buffer comes first: a refused size leaves no half-made node behind.
  u32* buf = alloc_image_buffer(nullptr, width, height, nullptr);
  if (!buf) return nullptr;
  ObjectNode* node = get_named_object(g_object_roots[kTreeLayer], path, 1, order_key);
  LayerImage* img = node ? get_or_create_layer_image(node) : nullptr;
  if (!img) {
    std::free(buf);
    return nullptr;
  }
  std::memset(buf, 0, static_cast<std::size_t>(image_buffer_bytes(width, height)));
  replace_layer_pixels(img, buf, width, height);
  img->dirty_whole = 1;
  img->dirty_valid = 1;
  img->dirty = {0, 0, i64{width} - 1, i64{height} - 1};
  propagate_layer_dirty_rect(node);
  return img;
}

int layer_load_image(const ParamSet& a, GroupFlatten flatten) {
  g_request_name = a.request_name ? a.request_name : "";
  ObjectNode* root = g_object_roots[kTreeLayer];
  if (!root) return -1;

  // Step 1: the path, and whether it names a group.
  const std::string name = suffixed_name(a, 0, 1);
  char path[kObjectPathSize];
  const int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) return -1;
  const bool is_group = kind == 1 && !a.given(1);
  ObjectNode* node = resolve_object_path(root, path, is_group ? 1 : 0);
  bool changed = false;
  bool new_group = false;

  // Step 3: the order key, re-stacking an existing layer at once.
  i64 key = 1;
  if (a.given(6)) {
    key = apply_assign_op_min(a.op(6), node ? node->order_key : 1, a.value(6), 1);
    if (layer_reorder(node, key)) changed = true;
  }

  // Step 4: a layer that does not exist yet.
  if (!node) {
    if (!is_group) {
      if (!a.given(46) && !a.given(47)) {
        report_error_at(101230, 1, command_name(), path);
        return -1;
      }
      if (!a.given(6)) {
        report_error_at(100240, 1, command_name(), path);
        return -1;
      }
      LayerImage* shared = nullptr;
      if (!a.given(46)) {
        // The layer to share is looked up before the new node is made.
        int failed = 0;
        ObjectNode* src = a.text(47)[0] ? resolve_leaf_layer(a.text(47), &failed) : nullptr;
        if (failed) return -1;
        shared = image_of(src);
        if (!shared) {
          report_error_at(101250, 1, command_name(), a.text(47));
          return -1;
        }
      }
      node = get_named_object(root, path, 0, key);
      if (!node) return -1;
      if (shared) attach_layer_image(node, shared);
      else if (create_layer_image(node) != 0) return -1;
    } else {
      if (a.given(46) || a.given(47)) {
        report_error_at(101280, 1, command_name(), path);
        return -1;
      }
      if (!a.given(9) || !a.given(10) || !a.given(6)) return 0;
      if (!create_group_layer(path, to_i32(a.value(9)), to_i32(a.value(10)), key)) return -1;
      node = resolve_object_path(root, path, 1);
      if (!node) return -1;
      new_group = true;
    }
    changed = true;
  } else if (is_group && (a.given(46) || a.given(47))) {
    report_error_at(101280, 1, command_name(), path);
    return -1;
  }

  LayerImage* img = node->is_group ? image_of(node) : get_or_create_layer_image(node);
  if (!img) return node->is_group ? 0 : -1;

  // Step 5: the image file.
  if (a.given(46)) {
    mark_area(node);
    if (load_image_into_layer(img, a.text(46)) != 0) {
      g_quit_requested = 1;
      return -1;
    }
    changed = true;
  }
  // Step 6: the mask layer.
  if (a.given(48) && a.text(48)[0]) {
    if (apply_mask_layer(a, img) != 0) return -1;
    changed = true;
  }
  // Step 7: the mask name (bounded to its buffer).
  if (a.given(51)) {
    set_layer_name_buffer(img->mask_name, suffixed_name(a, 51, 52).c_str());
    changed = true;
  }
  // Steps 8-11: visibility, opacity, position, tone.
  if (a.given(2)) {
    if (a.value(2) != img->visible) mark_area(node);
    img->visible = static_cast<u8>(a.value(2));
    changed = true;
  }
  if (a.given(3)) {
    const i64 alpha = apply_assign_op_clamped(a.op(3), img->alpha, a.value(3), 0, 256);
    if (alpha != img->alpha) mark_area(node);
    img->alpha = static_cast<i16>(alpha);
    changed = true;
  }
  if (a.given(4) || a.given(28) || a.given(5) || a.given(29)) {
    apply_position(a, node, &img->x, &img->x_centi, 4, 28);
    apply_position(a, node, &img->y, &img->y_centi, 5, 29);
    changed = true;
  }
  if (a.given(8) || a.given(7)) {
    set_clamped(a, &img->tone_colour, 8, 0, 0x1000000);
    set_clamped(a, &img->tone_level, 7, 0, 256);
    changed = true;
  }
  // Steps 12 and 13: sizes.
  if (a.given(9) || a.given(10)) {
    if (node->is_group) {
      if (!new_group && resize_group(a, node, img, flatten) != 0) return -1;
    } else if (a.given(46)) {
      if (cut_or_pad(a, node, img, a.text(46)) != 0) return -1;
    }
    changed = true;
  }
  // Step 14: mask threshold and softness, blend mode.
  set_clamped(a, &img->mask_fade, 50, 0, 256);
  if (a.given(53)) img->mask_softness = static_cast<i16>(a.value(53));
  if (a.given(54)) img->blend_mode = static_cast<u8>(a.value(54));
  if (a.given(50) || a.given(53) || a.given(54)) changed = true;
  // Steps 15 and 16: textures now, and the capture layer.
  if (a.given(25) && a.value(25) == 1 && d3d_drawing()) {
    if (!img->owned_pixels) {
      show_error_box("Error", sjis_message("CG_TEX エラー."));
      return -1;
    }
    if (img->content_kind == 0) img->content_kind = 1;
    if (g_layer_command_hooks.create_textures && g_layer_command_hooks.create_textures(img) != 0)
      return -1;
    changed = true;
  }
  if (a.given(26) && g_layer_command_hooks.set_capture_layer) {
    if (a.value(26) == 1) g_layer_command_hooks.set_capture_layer(node);
    else if (a.value(26) == 0) g_layer_command_hooks.set_capture_layer(nullptr);
  }
  // Step 17: scales and the values of GPU drawing.
  bool gpu = false;
  if (a.given(30)) img->scale_x = apply_assign_op(a.op(30), img->scale_x, a.value(30)), gpu = true;
  if (a.given(31)) img->scale_y = apply_assign_op(a.op(31), img->scale_y, a.value(31)), gpu = true;
  for (u32 i = 0; i < 3; ++i)
    if (a.given(32 + i)) {
      const float angle = img->gpu_angles[i];
      const i64 cur = std::isfinite(angle) && std::fabs(angle) < 9.2e18f ? std::llround(angle) : 0;
      img->gpu_angles[i] = static_cast<float>(apply_assign_op(a.op(32 + i), cur, a.value(32 + i)));
      gpu = true;
    }
  for (u32 i = 0; i < 5; ++i)
    if (a.given(35 + i)) {
      img->gpu_values[i] = apply_assign_op(a.op(35 + i), img->gpu_values[i], a.value(35 + i));
      gpu = true;
    }
  if (a.given(40)) set_clamped(a, &img->tone2_level, 40, 0, 256), gpu = true;
  if (a.given(41)) set_clamped(a, &img->tone2_colour, 41, 0, 0x1000000), gpu = true;
  if (a.given(42)) img->gpu_mode = static_cast<u8>(a.value(42)), gpu = true;
  if (a.given(43)) set_layer_name_buffer(img->second_name, a.text(43)), gpu = true;
  if (a.given(44)) set_clamped(a, &img->gpu_level, 44, 0, 256), gpu = true;
  if (a.given(45)) set_clamped(a, &img->gpu_flag, 45, 0, 1), gpu = true;
  changed = changed || gpu;
  // Step 18: the Direct3D frame now.
  if (a.given(27) && d3d_drawing() && g_layer_command_hooks.render_frame_now) g_layer_command_hooks.render_frame_now();
  // Step 19: the two script values (no redraw).
  if (a.given(56)) img->user_value1 = apply_assign_op(a.op(56), img->user_value1, a.value(56));
  if (a.given(57)) img->user_value2 = apply_assign_op(a.op(57), img->user_value2, a.value(57));
  // Step 20.
  if (changed) mark_area(node);
  return 0;
}
