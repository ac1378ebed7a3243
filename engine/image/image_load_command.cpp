// Script command 1 (cmd_layer_load_image) and group layer creation.
#include "engine/image/image_load_command.h"

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
#include "engine/render/compositor.h"
#include "engine/vm/command_args.h"
#include "engine/vm/command_table.h"
#include "engine/vm/object_tree.h"

LayerCommandHooks g_layer_command_hooks = {nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {

constexpr u32 kCommand = 1;

const char* command_name() {
  const char* n = kCommand < g_command_list.count ? g_command_list.commands[kCommand].name : nullptr;
  return n ? n : "";
}

i32 to_i32(i64 v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<i32>(v);
}

u32 op_of(u32 param) { return g_args_decoded.slots[arg_slot(param)].assign_op; }

LayerImage* image_of(ObjectNode* node) {
  if (!node || !node->payload || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

// A name given by a text parameter and an optional number parameter that is
// appended as "." + decimal.
std::string suffixed_name(u32 text_param, u32 number_param) {
  std::string name = arg_text(text_param);
  if (arg_given(number_param)) {
    char number[32];
    std::snprintf(number, sizeof number, ".%lld", static_cast<long long>(arg_value(number_param)));
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

// The area a layer shows now, marked changed in its ancestors (a group
// carries its children's areas up).
void mark_area(ObjectNode* node) {
  if (node->is_group) propagate_layer_dirty_rect(node);
  else mark_layer_dirty(node);
}

bool d3d_drawing() { return g_layer_command_hooks.d3d_drawing && g_layer_command_hooks.d3d_drawing(); }

// Copies the blue channel of the mask layer into this layer's alpha.
int apply_mask_layer(LayerImage* img) {
  int failed = 0;
  ObjectNode* mask_node = resolve_leaf_layer(arg_text(48), &failed);
  if (failed) return -1;
  LayerImage* mask = image_of(mask_node);
  if (!mask) return 0;  // a missing mask layer is ignored
  if (mask->width != img->width || mask->height != img->height) {
    show_error_box("", sjis_message("レイヤ画像とマスクレイヤ画像のサイズが異なります。"));
    g_quit_requested = 1;
    return -1;
  }
  if (!mask->owned_pixels || !img->owned_pixels) return 0;
  const u64 n = static_cast<u64>(img->width) * static_cast<u64>(img->height);
  for (u64 i = 0; i < n; ++i)
    img->owned_pixels[i] = (img->owned_pixels[i] & 0x00FFFFFFu) | ((mask->owned_pixels[i] & 0xFFu) << 24);
  img->has_alpha = 1;
  return 0;
}

// New size of a group layer. Both sizes positive: a new cleared buffer,
// the whole image changed, and the children composed into it. A size of 0
// makes a pure group (its buffer is not read); a negative size is ignored.
int resize_group(ObjectNode* node, LayerImage* img) {
  propagate_layer_dirty_rect(node);
  const i32 w = arg_given(9) ? to_i32(arg_value(9)) : img->width;
  const i32 h = arg_given(10) ? to_i32(arg_value(10)) : img->height;
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
  return recompose_group_layer(node) < 0 ? -1 : 0;
}

// Cuts or pads the freshly loaded image to width x height: opaque black
// where the image does not reach.
int cut_or_pad(ObjectNode* node, LayerImage* img, const char* file_name) {
  if (!arg_given(9) || !arg_given(10)) {
    report_error_at(100243, 1, command_name());
    return -1;
  }
  const i32 w = to_i32(arg_value(9));
  const i32 h = to_i32(arg_value(10));
  mark_layer_dirty(node);
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
  mark_layer_dirty(node);
  return 0;
}

// Parameters 4, 28, 5 and 29: a position in pixels and in hundredths.
void apply_position(ObjectNode* node, i64* pos, i64* centi, u32 pixel_param, u32 centi_param) {
  for (u32 p : {pixel_param, centi_param}) {
    if (!arg_given(p)) continue;
    i64 np, nc;
    if (p == pixel_param) {
      np = apply_assign_op(op_of(p), *pos, arg_value(p));
      nc = static_cast<i64>(static_cast<u64>(np) * 100u);
    } else {
      nc = apply_assign_op(op_of(p), *centi, arg_value(p));
      np = nc / 100;
    }
    if (np != *pos || nc != *centi) mark_area(node);
    *pos = np;
    *centi = nc;
  }
}

template <class T>
void set_clamped(T* field, u32 param, i64 lo, i64 hi) {
  if (arg_given(param)) *field = static_cast<T>(apply_assign_op_clamped(op_of(param), *field, arg_value(param), lo, hi));
}

}  // namespace

int recompose_group_layer(ObjectNode* node) {
  if (g_layer_command_hooks.compose_group) return g_layer_command_hooks.compose_group(node);
  const LayerImage* img = image_of(node);
  if (!img || img->width < 1 || img->height < 1) return 0;
  return compose_layer_tree(node, -1, 1, 0, 0, 0, 0, 0, i64{img->width} - 1, i64{img->height} - 1, 1);
}

LayerImage* create_group_layer(const char* path, i32 width, i32 height, i64 order_key) {
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

u32 cmd_layer_load_image() {
  if (decode_command_args(kCommand) != 0) return static_cast<u32>(-1);
  ObjectNode* root = g_object_roots[kTreeLayer];
  if (!root) return static_cast<u32>(-1);

  // Step 1: the path, and whether it names a group.
  const std::string name = suffixed_name(0, 1);
  char path[kObjectPathSize];
  const int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) return static_cast<u32>(-1);
  const bool is_group = kind == 1 && !arg_given(1);
  ObjectNode* node = resolve_object_path(root, path, is_group ? 1 : 0);
  bool changed = false;
  bool new_group = false;

  // Step 3: the order key, re-stacking an existing layer at once.
  i64 key = 1;
  if (arg_given(6)) {
    key = apply_assign_op_min(op_of(6), node ? node->order_key : 1, arg_value(6), 1);
    if (node && node->parent) {
      ObjectNode* parent = node->parent;
      layer_unlink(parent, node);
      layer_insert_child(parent, node, key);
      changed = true;
    }
  }

  // Step 4: a layer that does not exist yet.
  if (!node) {
    if (!is_group) {
      if (!arg_given(46) && !arg_given(47)) {
        report_error_at(101230, 1, command_name(), path);
        return static_cast<u32>(-1);
      }
      if (!arg_given(6)) {
        report_error_at(100240, 1, command_name(), path);
        return static_cast<u32>(-1);
      }
      LayerImage* shared = nullptr;
      if (!arg_given(46)) {
        // The layer to share is looked up before the new node is made.
        int failed = 0;
        ObjectNode* src = arg_text(47)[0] ? resolve_leaf_layer(arg_text(47), &failed) : nullptr;
        if (failed) return static_cast<u32>(-1);
        shared = image_of(src);
        if (!shared) {
          report_error_at(101250, 1, command_name(), arg_text(47));
          return static_cast<u32>(-1);
        }
      }
      node = get_named_object(root, path, 0, key);
      if (!node) return static_cast<u32>(-1);
      if (shared) attach_layer_image(node, shared);
      else if (create_layer_image(node) != 0) return static_cast<u32>(-1);
    } else {
      if (arg_given(46) || arg_given(47)) {
        report_error_at(101280, 1, command_name(), path);
        return static_cast<u32>(-1);
      }
      if (!arg_given(9) || !arg_given(10) || !arg_given(6)) return 0;
      if (!create_group_layer(path, to_i32(arg_value(9)), to_i32(arg_value(10)), key)) return static_cast<u32>(-1);
      node = resolve_object_path(root, path, 1);
      if (!node) return static_cast<u32>(-1);
      new_group = true;
    }
    changed = true;
  } else if (is_group && (arg_given(46) || arg_given(47))) {
    report_error_at(101280, 1, command_name(), path);
    return static_cast<u32>(-1);
  }

  LayerImage* img = node->is_group ? image_of(node) : get_or_create_layer_image(node);
  if (!img) return node->is_group ? 0 : static_cast<u32>(-1);

  // Step 5: the image file.
  if (arg_given(46)) {
    mark_layer_dirty(node);
    if (load_image_into_layer(img, arg_text(46)) != 0) {
      g_quit_requested = 1;
      return static_cast<u32>(-1);
    }
    changed = true;
  }
  // Step 6: the mask layer.
  if (arg_given(48) && arg_text(48)[0]) {
    if (apply_mask_layer(img) != 0) return static_cast<u32>(-1);
    changed = true;
  }
  // Step 7: the mask name (bounded to its buffer).
  if (arg_given(51)) {
    set_layer_name_buffer(img->mask_name, suffixed_name(51, 52).c_str());
    changed = true;
  }
  // Steps 8-11: visibility, opacity, position, tone.
  if (arg_given(2)) {
    if (arg_value(2) != img->visible) mark_area(node);
    img->visible = static_cast<u8>(arg_value(2));
    changed = true;
  }
  if (arg_given(3)) {
    const i64 a = apply_assign_op_clamped(op_of(3), img->alpha, arg_value(3), 0, 256);
    if (a != img->alpha) mark_area(node);
    img->alpha = static_cast<i16>(a);
    changed = true;
  }
  if (arg_given(4) || arg_given(28) || arg_given(5) || arg_given(29)) {
    apply_position(node, &img->x, &img->x_centi, 4, 28);
    apply_position(node, &img->y, &img->y_centi, 5, 29);
    changed = true;
  }
  if (arg_given(8) || arg_given(7)) {
    set_clamped(&img->tone_colour, 8, 0, 0x1000000);
    set_clamped(&img->tone_level, 7, 0, 256);
    changed = true;
  }
  // Steps 12 and 13: sizes.
  if (arg_given(9) || arg_given(10)) {
    if (node->is_group) {
      if (!new_group && resize_group(node, img) != 0) return static_cast<u32>(-1);
    } else if (arg_given(46)) {
      if (cut_or_pad(node, img, arg_text(46)) != 0) return static_cast<u32>(-1);
    }
    changed = true;
  }
  // Step 14: mask threshold and softness, blend mode.
  set_clamped(&img->mask_fade, 50, 0, 256);
  if (arg_given(53)) img->mask_softness = static_cast<i16>(arg_value(53));
  if (arg_given(54)) img->blend_mode = static_cast<u8>(arg_value(54));
  if (arg_given(50) || arg_given(53) || arg_given(54)) changed = true;
  // Steps 15 and 16: textures now, and the capture layer.
  if (arg_given(25) && arg_value(25) == 1 && d3d_drawing()) {
    if (!img->owned_pixels) {
      show_error_box("Error", sjis_message("CG_TEX エラー."));
      return static_cast<u32>(-1);
    }
    if (img->content_kind == 0) img->content_kind = 1;
    if (g_layer_command_hooks.create_textures && g_layer_command_hooks.create_textures(img) != 0)
      return static_cast<u32>(-1);
    changed = true;
  }
  if (arg_given(26) && g_layer_command_hooks.set_capture_layer) {
    if (arg_value(26) == 1) g_layer_command_hooks.set_capture_layer(node);
    else if (arg_value(26) == 0) g_layer_command_hooks.set_capture_layer(nullptr);
  }
  // Step 17: scales and the values of GPU drawing.
  bool gpu = false;
  if (arg_given(30)) img->scale_x = apply_assign_op(op_of(30), img->scale_x, arg_value(30)), gpu = true;
  if (arg_given(31)) img->scale_y = apply_assign_op(op_of(31), img->scale_y, arg_value(31)), gpu = true;
  for (u32 i = 0; i < 3; ++i)
    if (arg_given(32 + i)) {
      const float a = img->gpu_angles[i];
      const i64 cur = std::isfinite(a) && std::fabs(a) < 9.2e18f ? std::llround(a) : 0;
      img->gpu_angles[i] = static_cast<float>(apply_assign_op(op_of(32 + i), cur, arg_value(32 + i)));
      gpu = true;
    }
  for (u32 i = 0; i < 5; ++i)
    if (arg_given(35 + i)) {
      img->gpu_values[i] = apply_assign_op(op_of(35 + i), img->gpu_values[i], arg_value(35 + i));
      gpu = true;
    }
  if (arg_given(40)) set_clamped(&img->tone2_level, 40, 0, 256), gpu = true;
  if (arg_given(41)) set_clamped(&img->tone2_colour, 41, 0, 0x1000000), gpu = true;
  if (arg_given(42)) img->gpu_mode = static_cast<u8>(arg_value(42)), gpu = true;
  if (arg_given(43)) set_layer_name_buffer(img->second_name, arg_text(43)), gpu = true;
  if (arg_given(44)) set_clamped(&img->gpu_level, 44, 0, 256), gpu = true;
  if (arg_given(45)) set_clamped(&img->gpu_flag, 45, 0, 1), gpu = true;
  changed = changed || gpu;
  // Step 18: the Direct3D frame now.
  if (arg_given(27) && d3d_drawing() && g_layer_command_hooks.render_frame_now) g_layer_command_hooks.render_frame_now();
  // Step 19: the two script values (no redraw).
  if (arg_given(56)) img->user_value1 = apply_assign_op(op_of(56), img->user_value1, arg_value(56));
  if (arg_given(57)) img->user_value2 = apply_assign_op(op_of(57), img->user_value2, arg_value(57));
  // Step 20.
  if (changed) mark_area(node);
  return 0;
}
