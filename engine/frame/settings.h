// The engine switches that the settings files "ztcfg.dat" and "ztsfs.dat"
// set (written by the settings program "Vornset"; the engine only reads
// them), with their defaults. Each file is 32 little-endian u32 words; a word
// takes effect only for its listed values, any other value keeps the
// default. A missing file keeps every default.
#pragma once
#include <string>

#include "engine/frame/types.h"

struct EngineSettings {
  // ---- "ztcfg.dat" ----
  u8 movie_method = 1;             // word 0: 1 DirectShow-style player, 0 MCI-style
  u8 sse_allowed = 1;              // word 2: SSE span kernels allowed
  u8 sse2_allowed = 1;             // word 3: SSE2 span kernels allowed
  // word 4 = 0 limits the pixel workers to one (g_worker_maximum := 1).
  // Word 6: 0 -> 1, 1 -> 0 (inverted). On, full screen puts the monitor
  // into a display mode of its own (the smallest of its aspect that holds
  // the game's screen).
  u8 fullscreen_switch_a = 0;
  u8 capture_mode = 0;             // word 7: 0 -> 1, 1 -> 2, 2 -> 3, 3 -> 0
  u8 renderer_level = 3;           // word 8 (renderer choice 0..3 -> level 3..0)
  u8 cpu_scaling_flag = 1;         // word 8: 1 bilinear, 0 nearest; capped at 1
  u8 use_direct3d = 1;             // word 8: choices 2 and 3 turn GPU drawing off
  u8 caption_dblclick_switch = 0;  // word 9: caption double-click goes to the scripts
  u8 system_variable_switch = 0;   // word 10: read through a system variable
  u8 skip_hardware_vertex_processing = 0;  // word 12
  u8 use_16bit_textures = 0;       // word 13: 1 -> 16-bit texels
  u32 texture_bits = 32;           // word 13: 32 (or 16)
  u32 texture_format = 21;         // word 13: 21 A8R8G8B8 (or 26 A4R4G4B4)
  u8 texture_switch = 1;           // word 14: 16-bit textures dithered (on by default)
  u8 desktop_composition_off = 0;  // word 22
  // Renderer defaults reset after the words are read.
  i32 max_tile_width = 512;
  i32 max_tile_height = 256;
  u8 mag_filter = 1;   // linear
  u8 min_filter = 1;   // linear
  i8 mip_filter = 0;   // point
  u8 anisotropy = 0;
  // ---- "ztsfs.dat" ----
  u8 save_folder_mode = 0;  // word 21: 0..3
  // The save folder built from the mode (Shift-JIS, ends with '\').
  std::string save_folder = "save\\";
};
extern EngineSettings g_settings;

constexpr const char* kEngineSettingsFile = "ztcfg.dat";
constexpr const char* kSaveFolderSettingsFile = "ztsfs.dat";
constexpr int kSettingsWords = 32;

// Applies the first word_count words of "ztcfg.dat" to g_settings and
// g_worker_maximum; words past word_count (a short file) keep their
// switches' defaults. Then caps the CPU-scaling flag and resets the renderer
// defaults.
void apply_engine_settings_words(const u32 words[kSettingsWords], int word_count);
// The save folder for a mode (0..3; another value is taken as 0).
std::string save_folder_for_mode(u32 mode, const std::string& app_data, const std::string& documents);
// Reads a settings file from the program folder into words (zeroed first).
// Returns the number of whole words read, or -1 when the file is missing. A
// file shorter than 128 bytes is noted in the debug log.
int read_settings_words(const char* file_name, u32 words[kSettingsWords]);
