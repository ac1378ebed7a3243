// Layer release (3) and layer property query (4).
#include <cinttypes>
#include <cstdio>
#include <string>

#include "engine/commands/command_params.h"
#include "engine/commands/command_results.h"
#include "engine/frame/errors.h"
#include "engine/frame/window.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_release.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"

constexpr u32 kErrNeedsBothCoordinates = 101295;

namespace {

// The layer named by parameter 0, with ".<parameter 1>" behind it when that
// is given; null when missing (nothing reported unless the path is bad).
ObjectNode* named_layer(bool* bad_path) {
  const std::string name = numbered_name_arg();
  char path[kObjectPathSize];
  int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) {
    *bad_path = true;
    return nullptr;
  }
  ObjectNode* root = g_object_roots[kTreeLayer];
  return root ? resolve_object_path(root, path, kind == 1 ? 1 : 2) : nullptr;
}

LayerImage* image_of(ObjectNode* node) {
  return node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
}

// The bounding rectangle of the pixels whose alpha exceeds threshold:
// bound 1 left, 2 top, 3 right, 4 bottom (right and bottom are the last
// column and row that qualify); -1 when none does.
i64 visible_bound(const LayerImage* im, i64 threshold, i64 which) {
  if (which < 1 || which > 4) return 0;
  if (!im->pixels) return -1;
  i64 left = -1, top = -1, right = -1, bottom = -1;
  for (i64 y = 0; y < im->height; ++y) {
    const u32* row = im->pixels + static_cast<u64>(y) * static_cast<u64>(im->width);
    for (i64 x = 0; x < im->width; ++x) {
      if (static_cast<i64>(row[x] >> 24) <= threshold) continue;
      if (left < 0 || x < left) left = x;
      if (right < x) right = x;
      if (top < 0) top = y;
      bottom = y;
    }
  }
  return which == 1 ? left : which == 2 ? top : which == 3 ? right : bottom;
}

}  // namespace

u32 cmd_object_release() {
  if (decode_command_args(3) != 0) return kCommandFailed;
  bool bad = false;
  ObjectNode* node = named_layer(&bad);
  if (bad) return kCommandFailed;
  if (!node || !node->payload) return 0;
  mark_layer_dirty(node);
  if (node->is_group) release_object_tree(node);
  else release_object_images(node);
  return 0;
}

u32 cmd_object_get_property() {
  if (decode_command_args(4) != 0) return kCommandFailed;
  VarRef result = arg_ref(33);
  bool bad = false;
  ObjectNode* node = named_layer(&bad);
  if (bad) return kCommandFailed;
  LayerImage* im = image_of(node);
  if (!im) return store_empty(result) == 0 ? 0 : kCommandFailed;
  auto number = [&](i64 v) { return store_number(result, v) == 0 ? 0u : kCommandFailed; };
  static const u32 kOrder[] = {2,  3,  4,  9,  10, 11, 5,  6,  7,  12, 13, 14, 15, 16, 17,
                               18, 19, 20, 28, 26, 27, 29, 30, 31, 21, 22, 23, 24, 25};
  for (u32 sel : kOrder) {
    if (!arg_given(sel)) continue;
    bool group = node->is_group != 0;
    i64 n = arg_value(32);
    switch (sel) {
      case 2: return number(1);
      case 3: return number(im->visible);
      case 4: return number(im->alpha);
      case 9: return number(im->mask_fade);
      case 10: {
        const char* t = im->mask_name ? im->mask_name : "";
        return store_text(result, t, static_cast<u32>(std::char_traits<char>::length(t))) == 0 ? 0 : kCommandFailed;
      }
      case 11: return number(im->mask_softness);
      case 5: return number(im->x);
      case 6: return number(im->y);
      case 7: return number(node->order_key);
      case 12: return number(im->blend_mode);
      case 13: return number(im->width);
      case 14: return number(im->height);
      case 15: return number(im->scale_x);
      case 16: return number(im->scale_y);
      case 17: case 18: case 19: return number(im->gpu_values[sel - 15]);
      case 20: return number(im->content_kind);
      case 26: return number(im->user_value1);
      case 27: return number(im->user_value2);
      case 28: {
        if (!group) break;
        i64 from = n < 1 ? 1 : n;
        for (i64 k = from; k <= static_cast<i64>(node->child_count); ++k) {
          LayerImage* c = image_of(object_list_nth(node, k));
          if (!c || c->user_value1 != arg_value(26)) continue;
          if (arg_given(27) && c->user_value2 != arg_value(27)) continue;
          return number(k);
        }
        return number(-1);
      }
      case 29:
        if (!group) break;
        return number(node->child_count);
      case 30: case 31: {
        if (!group) break;
        if (n < 1 || n > static_cast<i64>(node->child_count)) return 0;
        ObjectNode* c = object_list_nth(node, n);
        if (!c) return 0;
        if (sel == 31) return number(c->is_group ? 1 : 0);
        const char* t = c->name ? c->name : "";
        return store_text(result, t, c->name_length) == 0 ? 0 : kCommandFailed;
      }
      case 21: case 22: case 23: {
        i64 w = arg_value(sel);
        w = w < 0 ? 0 : w > 3 ? 3 : w;
        const WindowRecord* win = g_windows[w];
        i64 x = arg_given(34) ? arg_value(34) : win ? win->mouse_x : 0;
        i64 y = arg_given(35) ? arg_value(35) : win ? win->mouse_y : 0;
        if (!win || x < 0 || y < 0 || x >= win->logical_width || y >= win->logical_height) return number(-1);
        return number(layer_pixel_at(node, x, y, sel - 20));
      }
      case 24: {
        if (!arg_given(34) || !arg_given(35)) {
          report_error_at(kErrNeedsBothCoordinates, 1, command_name(4),
                          command_param_name(4, arg_given(34) ? 35 : 34));
          return kCommandFailed;
        }
        // The layer's own point.
        i64 x = arg_value(34), y = arg_value(35);
        if (!im->pixels || x < 0 || y < 0 || x >= im->width || y >= im->height) return number(-1);
        return number(im->pixels[static_cast<u64>(y) * static_cast<u64>(im->width) + static_cast<u64>(x)] & 0xFFFFFF);
      }
      case 25: return number(visible_bound(im, arg_value(35), arg_value(25)));
      default: break;
    }
  }
  return 0;
}
