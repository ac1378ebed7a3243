// Image loading from a file's bytes: the type by content, the decoders of
// BMP, PNG, JPEG and GIF, and the common tail of every load.
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/image/bmp_decode.h"
#include "engine/image/gif_decode.h"
#include "engine/image/image_load.h"
#include "engine/image/jpeg_read.h"
#include "engine/image/layer_image.h"
#include "engine/image/png_read.h"
#include "engine/image/webp_plugin.h"
#include "engine/image/zcg_decode.h"
#include "platform/clock.h"
#include "platform/platform.h"

namespace {
const char* text_or_empty(const char* s) { return s ? s : ""; }
}  // namespace

int sniff_image_type(const u8* data, std::size_t size) {
  if (!data) return 0;
  if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return 2;
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return 3;
  if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0)) return 4;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return 1;
  if (size >= 4 && std::memcmp(data, "8BPS", 4) == 0) return 7;
  if (size >= 4 && std::memcmp(data, "ZCG\0", 4) == 0) return 8;
  if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0) return 10;
  return 0;
}

int decode_image_bytes(int media_type, const u8* data, std::size_t size, LayerImage* image, const char* name) {
  switch (media_type) {
    case 1:
      return decode_bmp_into_layer(data, size, image, name) == 0 ? 0 : -1;
    case 2:
      return decode_png_into_layer(data, size, image, name) == 0 ? 0 : -1;
    case 3:
      if (decode_jpeg_into_layer(data, size, image, name) == 0) return 0;
      report_error_fmt(100210, 1, text_or_empty(name));
      return -1;
    case 4:
      if (decode_gif_into_layer(data, size, image, name) == 0) return 0;
      report_error_fmt(100215, 1, text_or_empty(name));
      return -1;
    case 8:
      return decode_zcg_into_layer(data, size, image, name) == 0 ? 0 : -1;
    case 10:
      return decode_webp_into_layer(data, size, image, name) == 0 ? 0 : -1;
    default:
      report_error_fmt(100030, 1, current_command_name(), text_or_empty(name));
      return -1;
  }
}

void finish_image_load(LayerImage* image, int media_type) {
  image->loaded_width = image->width;
  image->loaded_height = image->height;
  normalize_transparent_pixels(image);
  drop_tone_pixels(image);
  // A plain image replaces an E-mote player: the player goes, and the layer
  // is a bitmap again (the CPU compositor draws only bitmaps).
  if (media_type != 9 && (image->content_kind == 2 || image->emote_player)) {
    if (image->emote_player && g_layer_release_hooks.release_emote_player)
      g_layer_release_hooks.release_emote_player(image);
    image->emote_player = nullptr;
    image->content_kind = 0;
  }
  g_pacing.frame_start = g_platform.clock->now_ms();
}
