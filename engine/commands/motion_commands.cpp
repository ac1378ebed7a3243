// The E-mote command: 12 drives the player of an E-mote layer.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/commands/command_params.h"
#include "engine/commands/command_results.h"
#include "engine/commands/command_table.h"
#include "engine/image/emote_plugin.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"

namespace {

constexpr u32 kCommand = 12;
// Texts are handed on from a work buffer of this size (NUL included).
constexpr u32 kWorkBufferSize = 1024;
// The variable settings of one command.
constexpr int kMaxPairs = 256;

// The layer named by parameter 0, with ".<parameter 1>" behind it when that
// is given; null when missing. *bad_path after a reported path error.
ObjectNode* named_layer(bool* bad_path) {
  const std::string name = numbered_name_arg();
  char path[kObjectPathSize];
  const int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) {
    *bad_path = true;
    return nullptr;
  }
  ObjectNode* root = g_object_roots[kTreeLayer];
  return root ? resolve_object_path(root, path, kind == 1 ? 1 : 2) : nullptr;
}

// The length of text that fits the work buffer, not cutting a double-byte
// character.
u32 bounded_length(const char* text) {
  const std::size_t n = std::strlen(text);
  return sjis_cut(text, static_cast<u32>(std::min<std::size_t>(n, kWorkBufferSize)), kWorkBufferSize - 1);
}

// Parameter p as a float, or fallback when it is not given.
float float_arg(u32 p, float fallback, bool* failed) {
  return arg_given(p) ? static_cast<float>(arg_double(p, failed)) : fallback;
}

// The variable pairs of parameters 15 (texts), 16 (numbers) and 17 (count),
// cut to the element counts and to the table.
int collect_pairs(EmoteVariablePair* pairs) {
  const VarRef texts = arg_ref(15), numbers = arg_ref(16);
  const VarRecord* tv = texts.valid ? var_record(texts.id) : nullptr;
  const VarRecord* nv = numbers.valid ? var_record(numbers.id) : nullptr;
  if (!tv || !nv || tv->type != kVarText || !tv->texts) return 0;
  i64 n = arg_value(17);
  n = std::min<i64>({n, tv->count, nv->count, kMaxPairs});
  if (n <= 0) return 0;
  for (i64 i = 0; i < n; ++i) {
    const char* t = tv->texts[i] ? tv->texts[i] : "";
    pairs[i].sjis = t;
    pairs[i].length = bounded_length(t);
    double value = 0.0;
    if (nv->type == kVarInt && nv->ints) value = static_cast<double>(nv->ints[i]);
    if (nv->type == kVarFloat && nv->floats) value = nv->floats[i];
    pairs[i].value = static_cast<float>(value);
  }
  return static_cast<int>(n);
}

}  // namespace

u32 cmd_motion_object_set() {
  if (decode_command_args(kCommand) != 0) return kCommandFailed;
  bool bad = false;
  ObjectNode* node = named_layer(&bad);
  if (bad) return kCommandFailed;
  LayerImage* image = node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
  // Every call needs the layer's player.
  if (!image || !image->emote_player) return 0;
  if (arg_given(12) && arg_given(13)) {
    const char* name = arg_text(12);
    emote_player_timeline(image, name, bounded_length(name), arg_value(13) == 1 ? 1 : 0);
  }
  if (arg_given(11) && arg_value(11) == 1) emote_player_call(image, 253);
  const int level_ordinals[3] = {214, 218, 216};
  for (u32 i = 0; i < 3; ++i)
    if (arg_given(2 + i))
      emote_player_float(image, level_ordinals[i], static_cast<float>(arg_value(2 + i)) / 10000.0f);
  if (arg_given(5)) {
    if (arg_value(5) == 0) {
      emote_player_call(image, 236);
    } else {
      bool failed = false;
      const float v[5] = {float_arg(6, 0.0f, &failed), float_arg(7, 1.0f, &failed), float_arg(8, 1.0f, &failed),
                          float_arg(9, 1.0f, &failed), float_arg(10, 1.0f, &failed)};
      if (failed) return kCommandFailed;
      emote_player_five(image, v);
    }
  }
  if (arg_given(15) && arg_given(16) && arg_given(17)) {
    EmoteVariablePair pairs[kMaxPairs];
    const int n = collect_pairs(pairs);
    const float time = static_cast<float>(arg_given(14) ? arg_value(14) : 0) * 0.06f;
    emote_player_variables(image, pairs, n, time);
  }
  return 0;
}
