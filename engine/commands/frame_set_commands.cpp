// The frame-set commands: 109 loads a JPEG frame set into a layer and shows
// one of its frames, 110 drops a layer's set, 111 reports a set's header
// values.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/commands/command_params.h"
#include "engine/commands/command_results.h"
#include "engine/commands/command_table.h"
#include "engine/frame/errors.h"
#include "engine/frame/sjis_text.h"
#include "engine/image/frame_set.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_release.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"

namespace {

constexpr u32 kErrLayerMissing = 101250;

LayerImage* image_of(ObjectNode* node) {
  return node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
}

// The leaf layer named by parameter 0, with ".<parameter 1>" behind it when
// that is given. A missing layer is error 101250 (fatal) with the command's
// name and the path; a malformed path is reported by the path builder.
// need_image: a node without an image record counts as missing.
ObjectNode* named_layer(u32 command, bool need_image) {
  const std::string name = numbered_name_arg();
  char path[kObjectPathSize];
  const int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) return nullptr;
  ObjectNode* root = g_object_roots[kTreeLayer];
  ObjectNode* node = root && kind == 0 ? resolve_object_path(root, path, 0) : nullptr;
  if (!node || (need_image && !image_of(node))) {
    report_error_at(kErrLayerMissing, 1, command_name(command), path);
    return nullptr;
  }
  return node;
}

}  // namespace

u32 cmd_layer_load_frames() {
  constexpr u32 kCommand = 109;
  if (decode_command_args(kCommand) != 0) return kCommandFailed;
  ObjectNode* node = named_layer(kCommand, true);
  if (!node) return kCommandFailed;
  if (arg_given(2)) {
    const char* text = arg_text(2);
    std::vector<char> path(text, text + std::char_traits<char>::length(text) + 1);
    lowercase_sjis_path(path.data());
    replace_char_sjis(path.data(), '/', '\\');
    if (load_frame_set(node, path.data()) != 0) return kCommandFailed;
  }
  // A damaged frame keeps the layer's pixels and reports nothing; a
  // reported failure (memory, size) ends the command as failed.
  if (arg_given(3)) {
    const int r = show_frame(node, arg_value(3));
    if (r == -1 || r == -3) return kCommandFailed;
  }
  return 0;
}

u32 cmd_layer_release_frames() {
  constexpr u32 kCommand = 110;
  if (decode_command_args(kCommand) != 0) return kCommandFailed;
  ObjectNode* node = named_layer(kCommand, false);
  if (!node) return kCommandFailed;
  release_layer_frame_set(image_of(node));
  return 0;
}

u32 cmd_layer_query_frames() {
  constexpr u32 kCommand = 111;
  if (decode_command_args(kCommand) != 0) return kCommandFailed;
  ObjectNode* node = named_layer(kCommand, false);
  if (!node) return kCommandFailed;
  const VarRef result = arg_ref(2);
  const LayerImage* image = image_of(node);
  const FrameSet* set = image ? image->frame_set : nullptr;
  if (!set) return store_number(result, 0) == 0 ? 0 : kCommandFailed;
  const i64 values[] = {set->count, set->value_a, set->value_b, set->value_c};
  for (u32 sel = 3; sel <= 6; ++sel)
    if (arg_given(sel)) return store_number(result, values[sel - 3]) == 0 ? 0 : kCommandFailed;
  return 0;
}
