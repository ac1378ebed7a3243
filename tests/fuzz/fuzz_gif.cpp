// Fuzz target of the GIF decoder: the input is decoded twice into the same
// layer (the second load reuses the frame records) and every stored frame
// is drawn into the layer.
#include <cstddef>
#include <cstdint>

#include "engine/frame/engine_state.h"
#include "engine/image/gif_decode.h"
#include "engine/image/layer_image.h"
#include "platform/platform.h"
#include "tests/support/image_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    ready = true;
  }
  LayerImage* image = new_layer_image();
  if (!image) return 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (decode_gif_into_layer(data, size, image, "fuzz.gif") != 0) break;
    const int frames = gif_frame_count(image);
    for (int k = 0; k < frames && k < 64; ++k) gif_render_frame(image, k);
    volatile std::uint32_t last = image->pixels[static_cast<std::size_t>(image->width) * image->height - 1];
    (void)last;
  }
  free_layer_image(image);
  g_quit_requested = 0;
  return 0;
}
