// Image loading and decoder dispatch.
#include "engine/image/image_load.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/frame/data_access.h"
#include "engine/frame/data_item.h"
#include "engine/frame/errors.h"
#include "engine/frame/media_locator.h"
#include "engine/image/emote_plugin.h"
#include "engine/image/layer_image.h"
#include "engine/image/webp_plugin.h"
#include "engine/image/zcg_decode.h"

ImageDecoder g_image_decoders[kImageDecoderSlots] = {
    nullptr,   // 0 not an image
    load_bmp,  // 1
    load_png,  // 2
    load_jpeg, // 3
    load_gif,  // 4
    nullptr,   // 5 WAVE
    nullptr,   // 6 Ogg
    probe_psd, // 7
    load_zcg,  // 8
    load_emote, // 9
    load_webp, // 10
};

namespace {

const char* text_or_empty(const char* s) { return s ? s : ""; }

// Fetches the item's bytes and decodes them as media_type, or as the type
// the content shows when that is another of BMP, PNG, JPEG and GIF.
int load_by_bytes(DataItem* item, LayerImage* image, const char* name, int media_type) {
  const u32 reports = g_error_report_log.report_count;
  if (load_data_item(item, name) != 0 || !item->data) {
    free_data_item(item);
    // A failure the loader kept quiet (a short read) is still the end of
    // the load: say which file it was.
    if (g_error_report_log.report_count == reports) report_error_fmt(104010, 1, text_or_empty(name));
    return -1;
  }
  const int sniffed = sniff_image_type(item->data, item->size);
  if (sniffed >= 1 && sniffed <= 4) media_type = sniffed;
  const int r = decode_image_bytes(media_type, item->data, item->size, image, name);
  free_data_item(item);
  return r;
}

}  // namespace

int load_bmp(DataItem* item, LayerImage* image, const char* name) { return load_by_bytes(item, image, name, 1); }
int load_png(DataItem* item, LayerImage* image, const char* name) { return load_by_bytes(item, image, name, 2); }
int load_jpeg(DataItem* item, LayerImage* image, const char* name) { return load_by_bytes(item, image, name, 3); }
int load_gif(DataItem* item, LayerImage* image, const char* name) { return load_by_bytes(item, image, name, 4); }

int probe_psd(DataItem* item, LayerImage* image, const char* name) {
  if (load_data_item(item, name) == 0 && item->data) {
    // The PSD header's height and width (big-endian at bytes 14 and 18) are
    // read only for the trace; the format is not decoded.
    free_data_item(item);
  }
  report_error_fmt(100220, 1, text_or_empty(name));
  return -1;
}

int make_empty_image(LayerImage* image, const char* name) {
  u32* buf = alloc_image_buffer(image->owned_pixels, 1, 1, name);
  if (!buf) return -1;
  install_image_buffer(image, buf, 1, 1);
  image->has_alpha = 0;
  buf[0] = 0;
  finish_image_load(image, 0);
  return 0;
}

int load_image_by_type(LayerImage* image, const char* name) {
  DataItem item;
  std::string found;
  const int r = resolve_media_file(&item, &found, name, kMediaClassImage);
  if (r < 0) return -1;
  if (r == 1) return make_empty_image(image, name);
  const int type = item.entry_type;
  const ImageDecoder decoder = type < kImageDecoderSlots ? g_image_decoders[type] : nullptr;
  if (!decoder) {
    report_error_fmt(100030, 1, current_command_name(), text_or_empty(name));
    return -1;
  }
  // has_alpha is cleared for the decoder, and given back when it fails, so
  // the old pixels keep their meaning.
  const u8 old_alpha = image->has_alpha;
  image->has_alpha = 0;
  if (decoder(&item, image, found.c_str()) != 0) {
    image->has_alpha = old_alpha;
    free_data_item(&item);
    return -1;
  }
  free_data_item(&item);
  finish_image_load(image, type);
  return 0;
}

int load_image_into_layer(LayerImage* image, const char* name) {
  if (!name || !name[0]) return make_empty_image(image, name);
  return load_image_by_type(image, name);
}
