#include "engine/frame/screen_saver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/frame/debug_log.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/startup.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/saver_preview.h"

namespace {

constexpr i32 kMaxPreviewSide = 8192;

u32 get_u32(const u8* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24; }
i32 get_i32(const u8* p) { return static_cast<i32>(get_u32(p)); }
u16 get_u16(const u8* p) { return static_cast<u16>(p[0] | p[1] << 8); }

void show_version_box() {
  show_error_box(sjis_message("情報"), sjis_message("スクリーンセーバー\n\nVersion 1.00"));
}

int run_preview(const std::string& parent_text) {
  std::vector<u8> bmp;
  i32 w = 0, h = 0;
  std::vector<u32> pixels;
  const unsigned long parent = std::strtoul(parent_text.c_str(), nullptr, 0);
  if (parent == 0 || read_preview_bitmap(g_paths.program_path_true.c_str(), program_built_size(), &bmp) != 0 ||
      decode_preview_bitmap(bmp, &w, &h, &pixels) != 0) {
    write_debug_log(kDebugLogFileName, 0, kDebugLogWarnBytes, "screen saver: no preview bitmap or window");
    return -1;
  }
  // Without a window to show it in (no X display, a window that is gone)
  // the preview ends at once instead of waiting for a message that never
  // comes.
  if (g_platform.saver_preview->run(parent, pixels.data(), w, h) != 0)
    write_debug_log(kDebugLogFileName, 0, kDebugLogWarnBytes, "screen saver: the preview window could not be made");
  return -1;
}

bool is_configure(const std::string& a) {
  return a.size() >= 2 && (a[0] == '/' || a[0] == '-') && (a[1] == 'c' || a[1] == 'C') &&
         (a.size() == 2 || a[2] == ':');
}

}  // namespace

int read_preview_bitmap(const char* sjis_path, u32 built_size, std::vector<u8>* out) {
  out->clear();
  std::FILE* f = g_platform.files->open(sjis_path, "rb");
  if (!f) return -1;
  u8 word[4];
  int result = -1;
  if (std::fseek(f, static_cast<long>(built_size) + 8, SEEK_SET) == 0 && std::fread(word, 1, 4, f) == 4) {
    const u32 n = get_u32(word);
    if (n >= 54 && n <= (64u << 20) && std::fseek(f, static_cast<long>(built_size) + 16, SEEK_SET) == 0) {
      out->resize(n);
      if (std::fread(out->data(), 1, n, f) == n) result = 0;
      else out->clear();
    }
  }
  std::fclose(f);
  return result;
}

int decode_preview_bitmap(const std::vector<u8>& bmp, i32* width, i32* height, std::vector<u32>* pixels) {
  pixels->clear();
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return -1;
  const u32 offset = get_u32(&bmp[10]);
  const i32 w = get_i32(&bmp[18]);
  const i32 h = get_i32(&bmp[22]);
  if (get_u32(&bmp[14]) < 40 || get_u16(&bmp[28]) != 24 || get_u32(&bmp[30]) != 0) return -1;
  if (w <= 0 || w > kMaxPreviewSide || h == 0 || h < -kMaxPreviewSide || h > kMaxPreviewSide) return -1;
  const bool bottom_up = h > 0;
  const u32 rows = static_cast<u32>(bottom_up ? h : -h);
  const u64 stride = (u64{static_cast<u32>(w)} * 3 + 3) & ~u64{3};
  // The last row needs only its pixels, not its padding.
  if (offset < 54 || offset > bmp.size() || stride * (rows - 1) + u64{static_cast<u32>(w)} * 3 > bmp.size() - offset)
    return -1;
  pixels->resize(static_cast<std::size_t>(w) * rows);
  for (u32 y = 0; y < rows; ++y) {
    const u8* src = &bmp[offset + stride * (bottom_up ? rows - 1 - y : y)];
    u32* dst = &(*pixels)[static_cast<std::size_t>(y) * w];
    for (i32 x = 0; x < w; ++x, src += 3) dst[x] = 0xFF000000u | src[2] << 16 | src[1] << 8 | src[0];
  }
  *width = w;
  *height = static_cast<i32>(rows);
  return 0;
}

int screensaver_info_loop() {
  const u32 argc = g_args.count + 1;
  const std::string a1 = g_args.count >= 1 ? g_args.args[1] : std::string();
  const std::string a2 = g_args.count >= 2 ? g_args.args[2] : std::string();
  if (argc == 3 && a1.size() >= 2 && (a1[0] == '/' || a1[0] == '-')) {
    if (a1[1] == 'p' || a1[1] == 'P') return run_preview(a2);
    if (a1[1] == 'a' || a1[1] == 'A') return -1;
  }
  // A configure request, also in the forms "/c:<window>" and "/c <window>".
  if (argc == 1 || ((argc == 2 || argc == 3) && is_configure(a1))) {
    show_version_box();
    return -1;
  }
  return 0;
}

int handle_screen_saver_arguments() { return screensaver_info_loop() != 0 ? -1 : 0; }
