// The TheoraLib stand-in on any bytes: load, every frame, the sound's
// headers. Nothing may read or write outside the data and the frame buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "plugins/theoralib/theoralib_api.h"

extern "C" {
void* theoralib_m_create();
void theoralib_m_free(void*);
int theoralib_m_load(void*, const void*, TheoraReadFn, TheoraSizeFn, void*, TheoraRowFn, TheoraResizeFn, int);
int theoralib_m_decodeframe(void*, int);
int theoralib_m_totalframe(void*);
void* theoralib_w_create();
void theoralib_w_free(void*);
int theoralib_w_load(void*, const void*, TheoraReadFn, TheoraSizeFn);
int theoralib_w_nowsample(void*);
}

namespace {
const std::uint8_t* g_data = nullptr;
size_t g_size = 0;
std::vector<unsigned char> g_frame;
int g_w = 0, g_h = 0;

int read_cb(const void*, void* dest, int offset, int length) {
  if (offset < 0 || static_cast<size_t>(offset) >= g_size || length <= 0) return 0;
  size_t n = static_cast<size_t>(length);
  if (offset + n > g_size) n = g_size - static_cast<size_t>(offset);
  std::memcpy(dest, g_data + offset, n);
  return static_cast<int>(n);
}
int size_cb() { return static_cast<int>(g_size); }
void* row_cb(void*, int y) {
  if (y < 0 || y >= g_h) __builtin_trap();
  return g_frame.data() + static_cast<size_t>(y) * static_cast<size_t>(g_w) * 4;
}
int resize_cb(void*, int w, int h) {
  if (static_cast<long long>(w) * h > 4096 * 4096) return -1;
  g_w = w;
  g_h = h;
  g_frame.assign(static_cast<size_t>(w) * 4 * static_cast<size_t>(h), 0);
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  g_data = data;
  g_size = size;
  void* movie = theoralib_m_create();
  if (theoralib_m_load(movie, data, read_cb, size_cb, nullptr, row_cb, resize_cb, 0) == 0) {
    const int n = theoralib_m_totalframe(movie);
    for (int i = 0; i < n && i < 64; ++i) theoralib_m_decodeframe(movie, i);
    theoralib_m_decodeframe(movie, 0);
  }
  void* sound = theoralib_w_create();
  theoralib_w_load(sound, data, read_cb, size_cb);
  theoralib_w_nowsample(sound);
  theoralib_w_free(sound);
  theoralib_m_free(movie);
  return 0;
}
