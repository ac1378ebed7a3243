// The window commands: 105 sets up a window, 106 shows the main window,
// 107 answers a question about a window.
#include <string>

#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/frame/errors.h"
#include "engine/frame/window.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"

namespace {
constexpr u32 kCmdShowLayerset = 105;
constexpr u32 kCmdShow = 106;
constexpr u32 kCmdGetRect = 107;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kResultParam = 1;
constexpr u32 kErrLayerMissing = 101250;

// The layer named by a parameter's text, resolved in the layer tree (a
// group or a leaf); null when missing. path gets the path looked up.
ObjectNode* layer_of_param(const ParamSet& a, u32 param, std::string* path_out) {
  char path[kObjectPathSize];
  int kind = build_object_path(path, a.text(param), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) return nullptr;
  *path_out = path;
  ObjectNode* root = g_object_roots[kTreeLayer];
  if (!root) return nullptr;
  return resolve_object_path(root, path, kind == 1 ? 1 : 2);
}

LayerImage* layer_image_of(ObjectNode* node) {
  return node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
}

}  // namespace

// The window takes the layers as nodes and sizes: they are looked up here,
// and the layers' own flags follow the window's choice.
u32 cmd_window_show_layerset() {
  if (decode_command_args(kCmdShowLayerset) != 0) return kFailed;
  const ParamSet& a = decoded_params(kCmdShowLayerset);
  const i64 index = a.given(0) ? a.value(0) : 0;
  WindowRecord* r = index >= 0 && index < kWindowCount ? g_windows[index] : nullptr;
  WindowLayers layers;
  if (r && a.given(21)) {
    std::string path;
    layers.layer_set = layer_of_param(a, 21, &path);
    if (!layers.layer_set) {
      report_error_at(kErrLayerMissing, 1, a.request_name, path);
      return kFailed;
    }
  }
  if (r) {
    if (const LayerImage* img = layer_image_of(layers.layer_set ? layers.layer_set : r->root_layer)) {
      layers.shown_width = img->width;
      layers.shown_height = img->height;
    }
    if (a.given(24)) layers.drag_layer = layer_of_param(a, 24, &layers.drag_path);
  }
  ObjectNode* old_root = r ? r->root_layer : nullptr;
  const int result = window_setup(a, &layers);
  if (r && r->root_layer != old_root) {
    if (LayerImage* old = layer_image_of(old_root)) old->is_window_root = 0;
    if (LayerImage* img = layer_image_of(r->root_layer)) img->is_window_root = 1;
  }
  if (r && layers.screen_mode_changed && r->root_layer) mark_layer_dirty(r->root_layer);
  return result == 0 ? 0 : kFailed;
}

u32 cmd_window_show() {
  if (decode_command_args(kCmdShow) != 0) return kFailed;
  window_show_main();
  return 0;
}

// The first given question in the command's order, answered into the result
// variable of parameter 1.
u32 cmd_window_get_rect() {
  if (decode_command_args(kCmdGetRect) != 0) return kFailed;
  const i64 index = arg_given(0) ? arg_value(0) : 0;
  static const u32 kOrder[] = {2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 14, 17};
  for (u32 p : kOrder) {
    if (!arg_given(p)) continue;
    i64 number = 0;
    std::string text;
    if (window_query(index, p, &number, &text) == 1)
      return store_text_result(kCmdGetRect, kResultParam, text) == 0 ? 0 : kFailed;
    return store_number_result(kCmdGetRect, kResultParam, number) == 0 ? 0 : kFailed;
  }
  return 0;
}
