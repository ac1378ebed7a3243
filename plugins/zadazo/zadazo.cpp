// The WebP library on libwebp: getting a picture's size, decoding into a
// caller's buffer of known capacity and encoding, lossy or lossless.
#include <webp/decode.h>
#include <webp/encode.h>

#include <cstring>

#include "plugins/zadazo/zadazo_api.h"

#define KL_EXPORT extern "C" __attribute__((visibility("default")))

KL_EXPORT int kl_ordinal_1(void) { return WebPGetDecoderVersion(); }

KL_EXPORT int kl_ordinal_2(const uint8_t* data, uint32_t size, int32_t* width, int32_t* height) {
  if (!data || !width || !height) return 0;
  int w = 0, h = 0;
  if (!WebPGetInfo(data, size, &w, &h)) return 0;
  *width = w;
  *height = h;
  return 1;
}

KL_EXPORT int kl_ordinal_3(const uint8_t* data, uint8_t* dest, uint32_t size, int32_t width, int32_t height,
                           uint32_t capacity) {
  if (!data || !dest || width <= 0 || height <= 0) return 0;
  int w = 0, h = 0;
  if (!WebPGetInfo(data, size, &w, &h) || w != width || h != height) return 0;
  const uint64_t need = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4u;
  if (need > capacity) return 0;
  return WebPDecodeBGRAInto(data, size, dest, static_cast<size_t>(need), w * 4) ? 1 : 0;
}

namespace {

struct OutBuffer {
  uint8_t* data;
  size_t capacity;
  size_t used;
  bool overflow;
};

int write_out(const uint8_t* data, size_t size, const WebPPicture* picture) {
  OutBuffer* out = static_cast<OutBuffer*>(picture->custom_ptr);
  if (size > out->capacity - out->used) {
    out->overflow = true;
    return 0;
  }
  std::memcpy(out->data + out->used, data, size);
  out->used += size;
  return 1;
}

}  // namespace

KL_EXPORT int kl_ordinal_4(const uint8_t* pixels, uint8_t* out, int32_t width, int32_t height, int32_t method,
                           int32_t quality, uint32_t capacity) {
  if (!pixels || !out || width <= 0 || height <= 0 || width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION)
    return 0;
  WebPConfig config;
  if (!WebPConfigInit(&config)) return 0;
  if (quality < 0) {
    config.lossless = 1;
    config.quality = 100.0f;
    config.exact = 1;  // keep the colour of transparent pixels
  } else {
    config.quality = static_cast<float>(quality > 100 ? 100 : quality);
  }
  config.method = method < 0 ? 0 : (method > 6 ? 6 : method);
  if (!WebPValidateConfig(&config)) return 0;
  WebPPicture picture;
  if (!WebPPictureInit(&picture)) return 0;
  picture.use_argb = 1;
  picture.width = width;
  picture.height = height;
  if (!WebPPictureImportBGRA(&picture, pixels, width * 4)) {
    WebPPictureFree(&picture);
    return 0;
  }
  OutBuffer sink{out, capacity, 0, false};
  picture.writer = write_out;
  picture.custom_ptr = &sink;
  const int ok = WebPEncode(&config, &picture);
  WebPPictureFree(&picture);
  if (!ok || sink.overflow || sink.used > 0x7FFFFFFFu) return 0;
  return static_cast<int>(sink.used);
}
