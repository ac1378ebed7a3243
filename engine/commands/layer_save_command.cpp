// Script command 20: a layer saved as a BMP, PNG, JPEG or WebP file, the
// in-memory file groups, and the file chores around a saved file (folders
// made, copies, deletes, folder removal, opening with the shell).
#include <cstdio>
#include <string>

#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/frame/data_item.h"
#include "engine/frame/errors.h"
#include "engine/frame/sjis_text.h"
#include "engine/image/image_writers.h"
#include "engine/image/layer_image.h"
#include "engine/image/memory_groups.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vm_errors.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace {
constexpr u32 kCmdLayerSave = 20;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kErrLayerMissing = 101250;

enum SaveFormat { kSaveBmp = 12, kSavePng = 13, kSaveJpeg = 14, kSaveWebp = 15 };

// Lower-cased (ASCII letters outside two-byte characters) with every
// single-byte '/' turned into '\'.
std::string normalised_path(u32 param) {
  std::string s = arg_text(param);
  lowercase_sjis_path(s.data());
  replace_char_sjis(s.data(), '/', '\\');
  return s;
}

i64 clamp(i64 v, i64 lo, i64 hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Parameters 16 and 17 name a memory group 1..4; anything else is a range
// error like the decoder's.
int add_to_memory_group(u32 param, const std::string& file) {
  if (!arg_given(param)) return 0;
  const i64 n = arg_value(param);
  if (n < 1 || n > kMemoryGroupCount) {
    report_error_at(kErrRangeMinMax, 1, command_name(kCmdLayerSave), command_param_name(kCmdLayerSave, param), n,
                    1, kMemoryGroupCount);
    return -1;
  }
  return memory_group_add(static_cast<int>(n - 1), file.c_str(), param == 17 ? 1 : 0);
}

// The layer of parameters 10 and 11; a name ending in '/' names a group
// layer (the composition of its children), any other a leaf.
LayerImage* layer_to_save(std::string* shown_path) {
  std::string name = arg_text(10);
  if (arg_given(11)) name += "." + std::to_string(arg_value(11));
  char path[kObjectPathSize];
  const int kind = build_object_path(path, name.c_str(), g_object_base_paths[kTreeLayer], 0);
  if (kind < 0) return nullptr;
  *shown_path = path;
  ObjectNode* node = g_object_roots[kTreeLayer] ? resolve_object_path(g_object_roots[kTreeLayer], path, kind) : nullptr;
  LayerImage* image = node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload)
                                                                         : nullptr;
  if (!image || !image->pixels) report_error_at(kErrLayerMissing, 1, command_name(kCmdLayerSave), path);
  return image && image->pixels ? image : nullptr;
}

int save_layer(LayerImage* image, std::string* file, int format) {
  static const char* const kExtensions[4] = {".bmp", ".png", ".jpg", ".webp"};
  const char* ext = kExtensions[format - kSaveBmp];
  if (!ends_with_nocase(file->c_str(), ext)) file->append(ext);
  switch (format) {
    case kSaveBmp:
      return save_bmp(image, file->c_str());
    case kSaveJpeg:
      return save_jpeg(image, file->c_str(), static_cast<int>(arg_given(9) ? clamp(arg_value(9), 1, 100) : 90));
    case kSaveWebp:
      return save_webp(image, file->c_str(), static_cast<int>(arg_given(9) ? clamp(arg_value(9), 0, 101) : 90));
    default:
      return save_png(image, file->c_str(), static_cast<int>(arg_given(9) ? clamp(arg_value(9), 0, 9) : 5));
  }
}

// Opens the file with the shell; with wait, until the opener's process
// ends. Failures are not reported.
void shell_open(const std::string& file, bool wait) {
  if (file.empty()) return;
  if (!wait) {
    g_platform.process->open_with_shell(file.c_str());
    return;
  }
  ChildProcess* child = nullptr;
  if (g_platform.process->open_with_shell_child(file.c_str(), &child) == 0 && child)
    g_platform.process->close_child(child);
}
}  // namespace

u32 cmd_layer_save_image() {
  if (decode_command_args(kCmdLayerSave) != 0) return kFailed;
  std::string file = normalised_path(0);
  const std::string destination = normalised_path(1);
  std::string folder = normalised_path(2);
  if (!folder.empty() && sjis_last_separator_end(folder.c_str()) != folder.size()) folder += '\\';
  int format = kSavePng;
  for (u32 p = kSaveBmp; p <= kSaveWebp; ++p)
    if (arg_given(p) && arg_value(p) == 1) format = static_cast<int>(p);

  if (add_to_memory_group(16, file) != 0) return kFailed;
  if (add_to_memory_group(17, file) != 0) return kFailed;

  if (arg_given(10)) {
    std::string layer_path;
    LayerImage* image = layer_to_save(&layer_path);
    if (!image) return kFailed;
    if (save_layer(image, &file, format) != 0) return kFailed;
  }

  if (arg_given(3) && !folder.empty()) make_directories(folder.c_str());
  if (arg_given(4) && !file.empty() && !destination.empty())
    g_platform.files->copy_file(file.c_str(), destination.c_str());
  if (arg_given(5)) {
    if (!file.empty()) g_platform.files->remove_file(file.c_str());
    if (!folder.empty()) g_platform.files->remove_directory(folder.c_str());
  }
  if (arg_given(6)) shell_open(file, false);
  else if (arg_given(7)) shell_open(file, true);
  return 0;
}
