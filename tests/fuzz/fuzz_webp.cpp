// Fuzz target of WebP images through the plug-in: the input is the file,
// decoded into a layer by the real plug-in library on libwebp (its size
// query, then its decode into the layer's buffer). A decoded picture is read
// to its last pixel.
#include <cstddef>
#include <cstdint>

#include "engine/frame/engine_state.h"
#include "engine/image/layer_image.h"
#include "engine/image/webp_plugin.h"
#include "platform/dynlib.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_OUT_DIR);
    load_webp_plugin();
    if (!g_webp.loaded) __builtin_trap();
    ready = true;
  }
  LayerImage* image = new_layer_image();
  if (!image) return 0;
  if (decode_webp_into_layer(data, size, image, "f.webp") == 0) {
    const std::size_t n = static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    volatile std::uint32_t last = image->pixels[n - 1];
    (void)last;
  }
  free_layer_image(image);
  return 0;
}
