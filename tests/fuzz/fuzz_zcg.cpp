// Fuzz target of the ZCG reader: the input is the file, decoded into a layer
// by two pixel workers at once (one part each) with the real
// block-compression and WebP libraries, so every method's parts are
// unpacked. A decoded picture is read to its last pixel.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/ztzid.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/webp_plugin.h"
#include "engine/image/zcg_decode.h"
#include "platform/dynlib.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_OUT_DIR);
    if (load_ztzid_library() != 0) __builtin_trap();
    load_webp_plugin();
    if (!g_webp.loaded) __builtin_trap();
    if (start_pixel_workers_count(2) != 0) __builtin_trap();
    // The workers are joined before the program's own records go at exit.
    std::atexit([] { stop_pixel_workers(); });
    pixel_jobs_always_share(true);
    ready = true;
  }
  LayerImage* image = new_layer_image();
  if (!image) return 0;
  if (decode_zcg_into_layer(data, size, image, "f.zcg") == 0) {
    const std::size_t n = static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    volatile std::uint32_t last = image->pixels[n - 1];
    (void)last;
  }
  free_layer_image(image);
  return 0;
}
