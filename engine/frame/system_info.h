// The machine's description: the graphics-library version the scripts can
// read, the processor, and the description lines of a debug start-up.
#pragma once
#include <string>
#include <vector>

#include "engine/frame/types.h"

constexpr u32 kResultFail = 0x80004005u;

// A sound device of the description: its name and channel count (1 is
// described as "Mono", more as "Stereo").
struct SoundDeviceName {
  std::string name;
  int channels = 2;
};

// What other parts of the engine tell the description: whether a GPU device
// can be opened (asked once, no device kept) and its renderer's name, and
// the sound devices (input 0: output devices, 1: input devices). Each may
// be null. Registered by the GPU device and the sound thread.
struct SystemInfoSources {
  int (*gpu_device_available)();
  std::string (*gpu_renderer_name)();
  std::vector<SoundDeviceName> (*sound_device_names)(int input);
};
extern SystemInfoSources g_system_info_sources;

// The graphics version the engine stands on: 9.0 (letter ' ') when a GPU
// device can be opened, else a failure code with major 0. 0 or the code.
int probe_directx_version(u32* major, u32* minor, char* letter);

struct CpuInfo {
  std::string vendor;  // empty where the processor has no identification
  std::string brand;
  u32 family = 0, model = 0, stepping = 0;
  u32 features_edx = 0, features_ecx = 0;
  bool mmx = false, sse = false, sse2 = false;
};
CpuInfo cpu_identify();

// The description lines of a debug start-up, in their order.
std::vector<std::string> format_system_info();
