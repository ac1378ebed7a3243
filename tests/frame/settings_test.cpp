#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/frame/debug_log.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kl_settings_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    saved_paths_ = g_paths;
    g_paths.program_folder_true = dir_.string() + "/";
    for (char& c : g_paths.program_folder_true)
      if (c == '/') c = '\\';
    g_paths.app_data_folder = "\\home\\me\\.local\\share";
    g_paths.documents_folder = "\\home\\me\\Documents";
    g_settings = EngineSettings{};
    saved_worker_maximum_ = g_worker_maximum;
    g_worker_maximum = 4;
    reset_debug_log_state();
  }
  void TearDown() override {
    g_paths = saved_paths_;
    g_settings = EngineSettings{};
    g_worker_maximum = saved_worker_maximum_;
    reset_debug_log_state();
    std::filesystem::remove_all(dir_);
  }
  // Writes the file with the given words, cut to size bytes.
  void write_file(const char* name, const std::vector<u32>& words, std::size_t size) {
    std::vector<unsigned char> bytes;
    for (u32 w : words)
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(w >> (8 * i)));
    bytes.resize(size, 0);
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<u32> words(std::initializer_list<std::pair<int, u32>> set) {
    std::vector<u32> w(32, 0xFFFFFFFFu);  // no effect anywhere
    for (auto [i, v] : set) w[static_cast<std::size_t>(i)] = v;
    return w;
  }
  std::filesystem::path dir_;
  EnginePaths saved_paths_;
  i8 saved_worker_maximum_ = 4;
};

void expect_defaults(const EngineSettings& s) {
  EngineSettings d;
  EXPECT_EQ(s.movie_method, d.movie_method);
  EXPECT_EQ(s.sse_allowed, 1);
  EXPECT_EQ(s.sse2_allowed, 1);
  EXPECT_EQ(s.fullscreen_switch_a, d.fullscreen_switch_a);
  EXPECT_EQ(s.capture_mode, d.capture_mode);
  EXPECT_EQ(s.renderer_level, d.renderer_level);
  EXPECT_EQ(s.use_direct3d, 1);
  EXPECT_EQ(s.texture_bits, 32u);
  EXPECT_EQ(s.texture_format, 21u);
  EXPECT_EQ(s.texture_switch, 1) << "16-bit textures are dithered unless the file says otherwise";
}

TEST_F(SettingsTest, MissingFilesKeepEveryDefault) {
  EXPECT_EQ(read_engine_settings(), 0);
  EXPECT_EQ(resolve_save_folder(), 0);
  expect_defaults(g_settings);
  EXPECT_EQ(g_worker_maximum, 4);
  EXPECT_EQ(g_settings.save_folder, "save\\");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "debuglog.txt"));
}

TEST_F(SettingsTest, ValuesOutsideTheirListChangeNothing) {
  write_file("ztcfg.dat", words({}), 128);
  read_engine_settings();
  expect_defaults(g_settings);
  EXPECT_EQ(g_worker_maximum, 4);
}

TEST_F(SettingsTest, RendererChoice) {
  struct Case {
    u32 value;
    u8 level, scaling, d3d;
  } cases[] = {{0, 3, 1, 1}, {1, 2, 1, 1}, {2, 1, 1, 0}, {3, 0, 0, 0}, {7, 3, 1, 1}};
  for (const Case& c : cases) {
    g_settings = EngineSettings{};
    write_file("ztcfg.dat", words({{8, c.value}}), 128);
    read_engine_settings();
    EXPECT_EQ(g_settings.renderer_level, c.level) << c.value;
    EXPECT_EQ(g_settings.cpu_scaling_flag, c.scaling) << c.value;
    EXPECT_EQ(g_settings.use_direct3d, c.d3d) << c.value;
  }
}

TEST_F(SettingsTest, WordMappings) {
  write_file("ztcfg.dat",
             words({{0, 0}, {2, 0}, {3, 1}, {4, 0}, {6, 0}, {7, 3}, {9, 1}, {10, 1}, {12, 1}, {13, 1}, {14, 0},
                    {22, 1}}),
             128);
  read_engine_settings();
  const EngineSettings& s = g_settings;
  EXPECT_EQ(s.movie_method, 0);
  EXPECT_EQ(s.sse_allowed, 0);
  EXPECT_EQ(s.sse2_allowed, 1);
  EXPECT_EQ(g_worker_maximum, 1);
  EXPECT_EQ(s.fullscreen_switch_a, 1);
  EXPECT_EQ(s.capture_mode, 0);
  EXPECT_EQ(s.caption_dblclick_switch, 1);
  EXPECT_EQ(s.system_variable_switch, 1);
  EXPECT_EQ(s.skip_hardware_vertex_processing, 1);
  EXPECT_EQ(s.use_16bit_textures, 1);
  EXPECT_EQ(s.texture_bits, 16u);
  EXPECT_EQ(s.texture_format, 26u);
  EXPECT_EQ(s.texture_switch, 0);
  EXPECT_EQ(s.desktop_composition_off, 1);
  // Renderer defaults are reset after the words.
  EXPECT_EQ(s.max_tile_width, 512);
  EXPECT_EQ(s.max_tile_height, 256);

  struct Capture {
    u32 word;
    u8 mode;
  } captures[] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 0}};
  for (const Capture& c : captures) {
    g_settings = EngineSettings{};
    write_file("ztcfg.dat", words({{7, c.word}, {6, 1}}), 128);
    read_engine_settings();
    EXPECT_EQ(g_settings.capture_mode, c.mode) << c.word;
    EXPECT_EQ(g_settings.fullscreen_switch_a, 0);
  }
}

TEST_F(SettingsTest, ShortFileSetsItsWholeWordsOnlyAndIsLogged) {
  // 42 bytes: words 0-9 and half of word 10. Word 10 = 1 and word 13 = 1
  // would change their switches; past the file's end they keep the defaults.
  std::vector<u32> w = words({{2, 0}, {3, 0}, {8, 3}, {10, 1}, {13, 1}});
  write_file("ztcfg.dat", w, 42);
  read_engine_settings();
  EXPECT_EQ(g_settings.sse_allowed, 0);
  EXPECT_EQ(g_settings.sse2_allowed, 0);
  EXPECT_EQ(g_settings.renderer_level, 0);
  EXPECT_EQ(g_settings.system_variable_switch, 0);
  EXPECT_EQ(g_settings.texture_bits, 32u);
  std::ifstream in(dir_ / "debuglog.txt", std::ios::binary);
  std::string log((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(log.find("ztcfg.dat"), std::string::npos);
  EXPECT_NE(log.find("42"), std::string::npos);

  // An empty file changes nothing.
  g_settings = EngineSettings{};
  write_file("ztcfg.dat", {}, 0);
  read_engine_settings();
  expect_defaults(g_settings);
}

TEST_F(SettingsTest, SaveFolderByMode) {
  struct Case {
    u32 mode;
    const char* folder;
  } cases[] = {
      {0, "save\\"},
      {1, "\\home\\me\\.local\\share\\Quillmere_SaveData\\k_lumbrane\\save\\"},
      {2, "\\home\\me\\Documents\\Quillmere_SaveData\\k_lumbrane\\save\\"},
      {3, "\\home\\me\\Documents\\My Games\\Quillmere_SaveData\\k_lumbrane\\save\\"},
      {9, "save\\"},
  };
  for (const Case& c : cases) {
    g_settings = EngineSettings{};
    write_file("ztsfs.dat", words({{21, c.mode}}), 128);
    resolve_save_folder();
    EXPECT_EQ(g_settings.save_folder, c.folder) << c.mode;
  }
  // Word 21 lies past the end of a short file: mode 0.
  g_settings = EngineSettings{};
  write_file("ztsfs.dat", words({{21, 2}}), 84);
  resolve_save_folder();
  EXPECT_EQ(g_settings.save_folder, "save\\");
}

}  // namespace
