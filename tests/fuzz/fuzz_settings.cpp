// Fuzz target of the settings readers: the input is written as both
// settings files, "ztcfg.dat" and "ztsfs.dat", of a scratch program folder
// and read as start-up reads them. Every switch must come out as one of its
// listed values whatever the words say.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "platform/platform.h"

namespace {
std::string g_folder;  // real path

void remove_folder() {
  for (const char* f : {"/ztcfg.dat", "/ztsfs.dat", "/debuglog.txt"}) unlink((g_folder + f).c_str());
  rmdir(g_folder.c_str());
}

void set_up() {
  platform_select_fakes();
  g_errors_quiet = true;
  char pattern[] = "/tmp/kl_fuzz_settings_XXXXXX";
  if (!mkdtemp(pattern)) abort();
  g_folder = pattern;
  atexit(remove_folder);
  std::string engine_form = g_folder + "/";
  for (char& c : engine_form)
    if (c == '/') c = '\\';
  g_paths.program_folder_true = engine_form;
  g_paths.program_folder = engine_form;
  g_paths.app_data_folder = "C:\\Users\\fuzz\\AppData\\Roaming";
  g_paths.documents_folder = "C:\\Users\\fuzz\\Documents";
}

void write_file(const char* name, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen((g_folder + name).c_str(), "wb");
  if (!f) abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void check(bool ok) {
  if (!ok) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_folder.empty()) set_up();
  write_file("/ztcfg.dat", data, size);
  write_file("/ztsfs.dat", data, size);
  unlink((g_folder + "/debuglog.txt").c_str());
  g_settings = EngineSettings();
  g_worker_maximum = 4;
  read_engine_settings();
  resolve_save_folder();
  const EngineSettings& s = g_settings;
  check(s.movie_method <= 1 && s.sse_allowed <= 1 && s.sse2_allowed <= 1 && s.fullscreen_switch_a <= 1);
  check(s.capture_mode <= 3 && s.renderer_level <= 3 && s.cpu_scaling_flag <= 1 && s.use_direct3d <= 1);
  check(s.texture_bits == 32 || s.texture_bits == 16);
  check(s.texture_format == 21 || s.texture_format == 26);
  check(s.save_folder_mode <= 3 && !s.save_folder.empty() && s.save_folder.back() == '\\');
  check(g_worker_maximum == 1 || g_worker_maximum == 4);
  return 0;
}
