// The graphics-version probe and the description of a
// debug start-up.
#include "engine/frame/system_info.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "platform/gpu.h"
#include "tests/support/zpf_writer.h"

namespace {

TEST(SystemInfo, TheProbeAnswersForTheGpuDevice) {
  const SystemInfoSources saved = g_system_info_sources;
  u32 major = 1, minor = 1;
  char letter = 'x';
  g_system_info_sources.gpu_device_available = nullptr;
  EXPECT_NE(probe_directx_version(&major, &minor, &letter), 0);
  EXPECT_EQ(major, 0u);
  probe_directx_version();
  EXPECT_EQ(g_directx_major_version, 0u);
  g_system_info_sources.gpu_device_available = [] { return 0; };
  probe_directx_version();
  EXPECT_EQ(g_directx_major_version, 0u);
  g_system_info_sources.gpu_device_available = [] { return 1; };
  EXPECT_EQ(probe_directx_version(&major, &minor, &letter), 0);
  EXPECT_EQ(major, 9u);
  EXPECT_EQ(minor, 0u);
  EXPECT_EQ(letter, ' ');
  probe_directx_version();
  EXPECT_EQ(g_directx_major_version, 9u);
  g_system_info_sources = saved;
  g_directx_major_version = 0;
}

TEST(SystemInfo, TheDescriptionIsDroppedAndAnOldFileRemoved) {
  DataScratchFolder folder;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(folder.path);
  std::ofstream(folder.path + "/info.txt") << "old";
  const SystemInfoSources saved = g_system_info_sources;
  g_system_info_sources.gpu_renderer_name = [] { return std::string("llvmpipe"); };
  g_system_info_sources.sound_device_names = [](int input) {
    return input ? std::vector<SoundDeviceName>{{"mic", 1}} : std::vector<SoundDeviceName>{{"out0", 2}};
  };
  const i32 metrics[4] = {g_desktop_metrics[0], g_desktop_metrics[1], g_desktop_metrics[2], g_desktop_metrics[3]};
  g_desktop_metrics[0] = 1280, g_desktop_metrics[1] = 1024, g_desktop_metrics[2] = 24, g_desktop_metrics[3] = 60;
  dump_system_info();
  EXPECT_FALSE(std::filesystem::exists(folder.path + "/info.txt"));
  EXPECT_TRUE(std::filesystem::is_empty(folder.path));
  const std::vector<std::string> lines = format_system_info();
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has("SCREEN = 1280 x 1024 x 24 bit (60Hz)"));
  EXPECT_TRUE(has("[  0]1280x1024 24 bit (60 Hz)"));
  EXPECT_TRUE(has("llvmpipe"));
  EXPECT_TRUE(has("out0 Stereo"));
  EXPECT_TRUE(has("mic Mono"));
  EXPECT_TRUE(has(geteuid() == 0 ? "ADMIN = 1" : "ADMIN = 0"));
  EXPECT_EQ(lines.front().rfind("OS_VER = ", 0), 0u);
#if defined(__x86_64__)
  EXPECT_FALSE(cpu_identify().vendor.empty());
  EXPECT_TRUE(cpu_identify().sse2);  // every x86-64 processor has it
#endif
  for (int i = 0; i < 4; ++i) g_desktop_metrics[i] = metrics[i];
  g_system_info_sources = saved;
  std::filesystem::current_path(cwd);
}

}  // namespace

// The GPU device and the sound thread register themselves: the description
// names the renderer and every sound device, a mono one as "Mono".
TEST(SystemInfo, VideoAndSoundLinesNameTheDevices) {
  fake_gpu_reset();
  const std::vector<std::string> lines = format_system_info();
  auto after = [&](const std::string& heading) {
    auto it = std::find(lines.begin(), lines.end(), heading);
    return it == lines.end() || it + 1 == lines.end() ? std::string() : *(it + 1);
  };
  EXPECT_EQ(after("VIDEO"), "fake renderer");
  EXPECT_EQ(after("SOUND[OUTPUT]"), "Fake speakers Stereo");
  EXPECT_EQ(after("SOUND[INPUT]"), "Fake microphone Mono");
  EXPECT_EQ(kFakeGpu.is_open(), 0) << "the device opened for the question stays closed";
}
