#include "engine/frame/settings.h"

#include <cstdio>

#include "engine/frame/debug_log.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/messages.h"
#include "platform/files.h"
#include "platform/platform.h"

EngineSettings g_settings;

namespace {
constexpr int kSettingsBytes = kSettingsWords * 4;
constexpr int kSaveModeWord = 21;
}  // namespace

int read_settings_words(const char* file_name, u32 words[kSettingsWords]) {
  for (int i = 0; i < kSettingsWords; ++i) words[i] = 0;
  std::string path = g_paths.program_folder_true;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += file_name;
  std::FILE* f = g_platform.files->open(path.c_str(), "rb");
  if (!f) return -1;
  unsigned char buf[kSettingsBytes] = {};
  // Read byte-wise, so that the count of whole words is exact and a partial
  // last word is never half-read.
  std::size_t n = std::fread(buf, 1, kSettingsBytes, f);
  std::fclose(f);
  int count = static_cast<int>(n / 4);
  for (int i = 0; i < count; ++i) {
    const unsigned char* b = buf + 4 * i;
    words[i] = static_cast<u32>(b[0]) | static_cast<u32>(b[1]) << 8 | static_cast<u32>(b[2]) << 16 |
               static_cast<u32>(b[3]) << 24;
  }
  if (n < static_cast<std::size_t>(kSettingsBytes)) {
    write_debug_log(kDebugLogFileName, 0, 1,
                    sjis_message("%s が短すぎます (%d バイト / 128 バイト)。足りない設定は既定値のままです。"),
                    file_name, static_cast<int>(n));
  }
  return count;
}

void apply_engine_settings_words(const u32 words[kSettingsWords], int word_count) {
  EngineSettings& s = g_settings;
  auto has = [&](int w) { return w < word_count; };
  auto flag = [&](int w, u8* target) {
    if (has(w) && words[w] <= 1) *target = static_cast<u8>(words[w]);
  };
  flag(0, &s.movie_method);
  flag(2, &s.sse_allowed);
  flag(3, &s.sse2_allowed);
  if (has(4) && words[4] == 0) g_worker_maximum = 1;
  if (has(6) && words[6] <= 1) s.fullscreen_switch_a = words[6] == 0 ? 1 : 0;
  if (has(7) && words[7] <= 3) {
    static const u8 kCapture[4] = {1, 2, 3, 0};
    s.capture_mode = kCapture[words[7]];
  }
  if (has(8) && words[8] <= 3) {
    switch (words[8]) {
      case 0: s.renderer_level = 3; s.cpu_scaling_flag = 1; break;
      case 1: s.renderer_level = 2; s.cpu_scaling_flag = 1; break;
      case 2: s.renderer_level = 1; s.cpu_scaling_flag = 1; s.use_direct3d = 0; break;
      default: s.renderer_level = 0; s.cpu_scaling_flag = 0; s.use_direct3d = 0; break;
    }
  }
  flag(9, &s.caption_dblclick_switch);
  flag(10, &s.system_variable_switch);
  flag(12, &s.skip_hardware_vertex_processing);
  if (has(13) && words[13] <= 1) {
    s.use_16bit_textures = static_cast<u8>(words[13]);
    s.texture_bits = words[13] ? 16 : 32;
    s.texture_format = words[13] ? 26 : 21;
  }
  flag(14, &s.texture_switch);
  flag(22, &s.desktop_composition_off);
  if (s.cpu_scaling_flag > 1) s.cpu_scaling_flag = 1;
  s.max_tile_width = 512;
  s.max_tile_height = 256;
  s.mag_filter = 1;
  s.min_filter = 1;
  s.mip_filter = 0;
  s.anisotropy = 0;
}

std::string save_folder_for_mode(u32 mode, const std::string& app_data, const std::string& documents) {
  const std::string suffix = "\\Quillmere_SaveData\\k_lumbrane\\save\\";
  switch (mode) {
    case 1: return app_data + suffix;
    case 2: return documents + suffix;
    case 3: return documents + "\\My Games" + suffix;
    default: return "save\\";
  }
}

int read_engine_settings() {
  u32 words[kSettingsWords];
  int count = read_settings_words(kEngineSettingsFile, words);
  if (count < 0) return 0;
  apply_engine_settings_words(words, count);
  return 0;
}

int resolve_save_folder() {
  u32 words[kSettingsWords];
  int count = read_settings_words(kSaveFolderSettingsFile, words);
  if (count > kSaveModeWord && words[kSaveModeWord] <= 3) g_settings.save_folder_mode = static_cast<u8>(words[kSaveModeWord]);
  std::string app = g_paths.app_data_folder, docs = g_paths.documents_folder;
  while (!app.empty() && app.back() == '\\') app.pop_back();
  while (!docs.empty() && docs.back() == '\\') docs.pop_back();
  g_settings.save_folder = save_folder_for_mode(g_settings.save_folder_mode, app, docs);
  return 0;
}
