#include "engine/frame/ztzid.h"

#include <climits>
#include <string>

#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/platform.h"

ZtzidApi g_ztzid;

namespace {
// The library's failure has no Windows error number here; 126 is the number
// Windows gives a module that can't be found.
constexpr int kModuleNotFound = 126;

template <class F>
F look_up(const char* name) {
  return reinterpret_cast<F>(g_platform.dynlib->symbol(g_ztzid.lib, name));
}

void report_missing(const char* export_name) {
  std::string text = std::string(export_name) + sjis_message(" が見つかりません。");
  show_error_box("", "%s", text);
}
}  // namespace

int load_ztzid_library() {
  g_ztzid = ZtzidApi{};
  g_ztzid.lib = g_platform.dynlib->load("ZTZid.dll");
  if (!g_ztzid.lib) {
    std::string reason = g_platform.dynlib->last_error();
    std::string sjis_reason;
    if (utf8_to_sjis(reason.c_str(), &sjis_reason) != 0) sjis_reason = reason;
    show_error_box("", sjis_message("ZTZid.dll エラーです。\r\n\r\nエラー番号 = %d\r\n\r\n%s"), kModuleNotFound,
                   sjis_reason);
    return -1;
  }
  g_ztzid.compressed_length = look_up<ZTZid_CompressedLength_fn>("ZTZid_CompressedLength");
  g_ztzid.compress = look_up<ZTZid_Compress_fn>("ZTZid_Compress");
  g_ztzid.uncompressed_length = look_up<ZTZid_UncompressedLength_fn>("ZTZid_UncompressedLength");
  g_ztzid.uncompress = look_up<ZTZid_Uncompress_fn>("ZTZid_Uncompress");
  if (!g_ztzid.uncompress) report_missing("ZTZid_Uncompress");
  if (!g_ztzid.compress) report_missing("ZTZid_Compress");
  if (!g_ztzid.uncompressed_length) report_missing("ZTZid_UncompressedLength");
  if (!g_ztzid.compressed_length) report_missing("ZTZid_CompressedLength");
  return 0;
}

void unload_ztzid_library() {
  if (g_ztzid.lib) g_platform.dynlib->unload(g_ztzid.lib);
  g_ztzid = ZtzidApi{};
}

int ztzid_pack(const void* src, u32 length, std::vector<u8>* out) {
  if (!g_ztzid.compress || !g_ztzid.compressed_length || !out || length > static_cast<u32>(INT_MAX)) return -1;
  static const u8 kNothing = 0;
  if (length == 0 && !src) src = &kNothing;  // an empty buffer may have no address
  int bound = g_ztzid.compressed_length(static_cast<int>(length));
  if (bound <= 0 && length > 0) return -1;
  out->resize(static_cast<std::size_t>(bound > 0 ? bound : 1));
  int packed = bound;
  if (g_ztzid.compress(src, static_cast<int>(length), out->data(), &packed) != 0) return -1;
  if (packed < 0 || packed > bound) return -1;
  out->resize(static_cast<std::size_t>(packed));
  return 0;
}

int ztzid_unpack(const void* src, u32 packed_length, void* dst, u32 expected) {
  if (!g_ztzid.uncompress || packed_length > static_cast<u32>(INT_MAX) || expected > static_cast<u32>(INT_MAX))
    return -1;
  u8 none = 0;
  if (expected == 0 && !dst) dst = &none;
  int length = static_cast<int>(expected);
  if (g_ztzid.uncompress(src, static_cast<int>(packed_length), dst, &length) != 0) return -1;
  return static_cast<u32>(length) == expected ? 0 : -1;
}
