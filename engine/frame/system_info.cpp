#include "engine/frame/system_info.h"

#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"

SystemInfoSources g_system_info_sources = {nullptr, nullptr, nullptr};

namespace {

template <class... A>
std::string line(const char* fmt, A... a) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, a...);
  return buf;
}

}  // namespace

int probe_directx_version(u32* major, u32* minor, char* letter) {
  *major = 0;
  *minor = 0;
  *letter = ' ';
  const auto available = g_system_info_sources.gpu_device_available;
  if (!available || !available()) return static_cast<int>(kResultFail);
  *major = 9;
  return 0;
}

void probe_directx_version() {
  u32 major = 0, minor = 0;
  char letter = ' ';
  g_directx_major_version = probe_directx_version(&major, &minor, &letter) == 0 ? major : 0;
}

CpuInfo cpu_identify() {
  CpuInfo info;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return info;
  const unsigned top = a;
  char vendor[13] = {};
  std::memcpy(vendor, &b, 4);
  std::memcpy(vendor + 4, &d, 4);
  std::memcpy(vendor + 8, &c, 4);
  info.vendor = vendor;
  if (top >= 1 && __get_cpuid(1, &a, &b, &c, &d)) {
    info.stepping = a & 15;
    info.model = (a >> 4) & 15;
    info.family = (a >> 8) & 15;
    if (info.family == 15) info.family += (a >> 20) & 255;
    if (info.family == 6 || info.family >= 15) info.model |= ((a >> 16) & 15) << 4;
    info.features_edx = d;
    info.features_ecx = c;
    info.mmx = (d >> 23) & 1;
    info.sse = (d >> 25) & 1;
    info.sse2 = (d >> 26) & 1;
  }
  if (__get_cpuid(0x80000000u, &a, &b, &c, &d) && a >= 0x80000004u) {
    char brand[49] = {};
    for (unsigned i = 0; i < 3; ++i) {
      __get_cpuid(0x80000002u + i, &a, &b, &c, &d);
      std::memcpy(brand + 16 * i, &a, 4);
      std::memcpy(brand + 16 * i + 4, &b, 4);
      std::memcpy(brand + 16 * i + 8, &c, 4);
      std::memcpy(brand + 16 * i + 12, &d, 4);
    }
    info.brand = brand;
    while (!info.brand.empty() && info.brand.front() == ' ') info.brand.erase(info.brand.begin());
  }
#endif
  return info;
}

std::vector<std::string> format_system_info() {
  std::vector<std::string> out;
  const CpuInfo cpu = cpu_identify();
  out.push_back(line("OS_VER = %d", static_cast<int>(g_os_code)));
  out.push_back(line("CPU_NAME = %s", cpu.brand.empty() ? cpu.vendor.c_str() : cpu.brand.c_str()));
  out.push_back(line("CPU_MMX = %d", cpu.mmx ? 1 : 0));
  out.push_back(line("CPU_SSE = %d", cpu.sse ? 1 : 0));
  out.push_back(line("CPU_SSE2 = %d", cpu.sse2 ? 1 : 0));
  out.push_back(line("CPU_CORENUM = %d", static_cast<int>(g_cpu_count)));
  out.push_back(line("CPU_COREUSE = %d", static_cast<int>(g_worker_count)));
  out.push_back(line("DirectX_VER = %d", static_cast<int>(g_directx_major_version)));
  unsigned total = 0, avail = 0;
  system_memory_megabytes(&total, &avail);
  out.push_back(line("MEM_TOTAL = %u MB", total));
  out.push_back(line("MEM_AVAIL = %u MB", avail));
  const i32* m = g_desktop_metrics;
  out.push_back(line("SCREEN = %d x %d x %d bit (%dHz)", m[0], m[1], m[2], m[3]));
  out.push_back(line("ADMIN = %d", user_is_administrator()));
  out.push_back("VIDEO");
  if (g_system_info_sources.gpu_renderer_name) out.push_back(g_system_info_sources.gpu_renderer_name());
  for (int input = 0; input < 2; ++input) {
    out.push_back(input ? "SOUND[INPUT]" : "SOUND[OUTPUT]");
    if (g_system_info_sources.sound_device_names)
      for (const SoundDeviceName& d : g_system_info_sources.sound_device_names(input))
        out.push_back(d.name + (d.channels == 1 ? " Mono" : " Stereo"));
  }
  out.push_back("DISPLAYMODE");
  out.push_back(line("[%3d]%4dx%4d %2d bit (%d Hz)", 0, m[0], m[1], m[2], m[3]));
  return out;
}

void dump_system_info() {
  g_platform.files->remove_file("info.txt");
  // The description is gathered and dropped: nothing keeps it.
  (void)format_system_info();
}
