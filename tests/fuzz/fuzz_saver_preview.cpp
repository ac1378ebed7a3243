// Fuzz target of the screen saver's preview picture: the input is a program
// file with its trailer, whose first four bytes give the built size (the
// trailer's start, taken modulo the file's length). The preview bitmap is
// read from the file at that place and decoded to pixels, every one read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/screen_saver.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::string path;
  if (path.empty()) {
    platform_select_fakes();
    g_errors_quiet = true;
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kl_fuzz_preview_" + std::to_string(getpid());
  }
  if (size < 4) return 0;
  const std::uint32_t built = (data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24) %
                              static_cast<std::uint32_t>(size);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) __builtin_trap();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::vector<u8> bmp;
  if (read_preview_bitmap(path.c_str(), built, &bmp) == 0) {
    i32 w = 0, h = 0;
    std::vector<u32> pixels;
    if (decode_preview_bitmap(bmp, &w, &h, &pixels) == 0) {
      if (pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) __builtin_trap();
      volatile std::uint32_t sum = 0;
      for (std::uint32_t p : pixels) sum = sum + p;
    }
  }
  std::remove(path.c_str());
  return 0;
}
