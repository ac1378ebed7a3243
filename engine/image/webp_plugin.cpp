// The WebP plug-in's binding and the WebP decoder.
#include "engine/image/webp_plugin.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/data_access.h"
#include "engine/frame/data_item.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/image/layer_image.h"
#include "platform/dynlib.h"
#include "platform/platform.h"

WebpPlugin g_webp;

namespace {

const char* text_or_empty(const char* s) { return s ? s : ""; }

template <typename F>
F bind_ordinal(DynLib* lib, int ordinal) {
  return reinterpret_cast<F>(g_platform.dynlib->symbol_by_ordinal(lib, ordinal));
}

int file_check_error() {
  show_error_box("", "File Check Error.");
  return -1;
}

}  // namespace

int load_webp_plugin() {
  unload_webp_plugin();
  DynLib* lib = g_platform.dynlib->load("ZADazO.dll");
  if (!lib) return 0;
  WebpPlugin p;
  p.lib = lib;
  p.version = bind_ordinal<WebpVersionFn>(lib, 1);
  p.info = bind_ordinal<WebpInfoFn>(lib, 2);
  p.decode = bind_ordinal<WebpDecodeFn>(lib, 3);
  p.encode = bind_ordinal<WebpEncodeFn>(lib, 4);
  if (!p.version || !p.info || !p.decode || !p.encode) {
    g_platform.dynlib->unload(lib);
    return 0;
  }
  p.loaded = 1;
  g_webp = p;
  return 0;
}

void unload_webp_plugin() {
  if (g_webp.lib) g_platform.dynlib->unload(g_webp.lib);
  g_webp = WebpPlugin();
}

int decode_webp_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  if (!g_webp.loaded) {
    show_error_box("", sjis_message("WebP の読込に対応していません。"));
    return -1;
  }
  if (!data || size < 12 || size > 0xFFFFFFFFu || std::memcmp(data, "RIFF", 4) != 0 ||
      std::memcmp(data + 8, "WEBP", 4) != 0)
    return file_check_error();
  i32 w = 0, h = 0;
  if (g_webp.info(data, static_cast<u32>(size), &w, &h) == 0) return file_check_error();
  // Size first, then a spare buffer, then the decode; the layer takes the
  // buffer only once the decode succeeded, so a refused file leaves the
  // layer as it was.
  if (w > kMaxImageSide || h > kMaxImageSide) {
    report_error_fmt(100091, 1, text_or_empty(name));
    return -1;
  }
  if (w < 1 || h < 1) return file_check_error();
  u32* buf = take_decode_buffer(w, h, name);
  if (!buf) return -1;
  const u64 bytes = static_cast<u64>(w) * static_cast<u64>(h) * 4u;
  if (g_webp.decode(data, reinterpret_cast<u8*>(buf), static_cast<u32>(size), w, h, static_cast<u32>(bytes)) == 0) {
    give_back_decode_buffer(buf);
    return file_check_error();
  }
  install_decoded_buffer(image, buf, w, h);
  image->has_alpha = 1;
  return 0;
}

int load_webp(DataItem* item, LayerImage* image, const char* name) {
  if (!g_webp.loaded) {
    show_error_box("", sjis_message("WebP の読込に対応していません。"));
    return -1;
  }
  const u32 reports = g_error_report_log.report_count;
  if (load_data_item(item, name) != 0 || !item->data) {
    free_data_item(item);
    if (g_error_report_log.report_count == reports) report_error_fmt(104010, 1, text_or_empty(name));
    return -1;
  }
  const int r = decode_webp_into_layer(item->data, item->size, image, name);
  free_data_item(item);
  return r;
}
