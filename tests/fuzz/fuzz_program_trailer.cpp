// Fuzz target of the reader of an archive appended to the program file: the
// input is written as the program file and its trailer read at a few built
// sizes, the first taken from the input's first four bytes. A trailer that
// is accepted must place the archive behind itself and inside the file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/startup.h"
#include "platform/platform.h"

namespace {
std::string g_path;         // real path
std::string g_engine_path;  // the same with '\'

void remove_file() { unlink(g_path.c_str()); }

void set_up() {
  platform_select_fakes();
  g_errors_quiet = true;
  char pattern[] = "/tmp/kl_fuzz_trailer_XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) abort();
  close(fd);
  g_path = pattern;
  atexit(remove_file);
  g_engine_path = g_path;
  for (char& c : g_engine_path)
    if (c == '/') c = '\\';
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_path.empty()) set_up();
  std::FILE* f = std::fopen(g_path.c_str(), "wb");
  if (!f) abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  u32 first = 0;
  for (std::size_t i = 0; i < 4 && i < size; ++i) first |= static_cast<u32>(data[i]) << (8 * i);
  const u32 sizes[] = {first, first % (static_cast<u32>(size) + 1), 0, static_cast<u32>(size / 2), 0xFFFFFFFFu};
  for (u32 built : sizes) {
    u64 base = 0;
    u32 saver = 0;
    const int found = read_program_trailer(g_engine_path.c_str(), built, &base, &saver);
    if (found < 0 || found > 1) abort();
    if (found == 1 && (base < u64{built} + 12 || base >= size)) abort();
  }
  return 0;
}
