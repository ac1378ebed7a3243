// Fuzz target of the BMP decoder: the input is decoded into a fresh layer;
// a decoded image is read whole, so a buffer smaller than its size shows.
#include <cstddef>
#include <cstdint>

#include "engine/frame/engine_state.h"
#include "engine/image/bmp_decode.h"
#include "engine/image/layer_image.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    ready = true;
  }
  LayerImage* image = new_layer_image();
  if (!image) return 0;
  if (decode_bmp_into_layer(data, size, image, "fuzz.bmp") == 0) {
    normalize_transparent_pixels(image);
    volatile std::uint32_t sum = 0;
    const std::size_t n = static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    for (std::size_t i = 0; i < n; i += 61) sum = sum + image->pixels[i];
    sum = sum + image->pixels[n - 1];
  }
  free_layer_image(image);
  g_quit_requested = 0;
  return 0;
}
