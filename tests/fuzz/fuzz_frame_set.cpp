// Fuzz target of the frame-set reader: the input is taken as a frame-set
// file, and every frame (at most 16) is shown in one layer twice, forwards
// and backwards, so the shared decompressor and the spare buffer are reused
// after damaged frames.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/image/frame_set.h"
#include "engine/image/layer_image.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    ready = true;
  }
  if (size > (1u << 20)) return 0;
  u8* bytes = static_cast<u8*>(std::malloc(size ? size : 1));
  if (!bytes) return 0;
  if (size) std::memcpy(bytes, data, size);
  FrameSet* set = nullptr;
  if (make_frame_set(bytes, static_cast<u32>(size), "fuzz.fs", &set) != 0) return 0;
  LayerImage* image = new_layer_image();
  if (!image) {
    free_frame_set(set);
    return 0;
  }
  image->frame_set = set;
  const int frames = set->count < 16 ? set->count : 16;
  for (int k = 0; k < frames; ++k) show_frame_in_image(image, k);
  for (int k = frames; k >= -1; --k) {
    if (show_frame_in_image(image, k) != 0) continue;
    volatile std::uint32_t last = image->pixels[static_cast<std::size_t>(image->width) * image->height - 1];
    (void)last;
  }
  release_image_frame_set(image);
  free_layer_image(image);
  g_quit_requested = 0;
  return 0;
}
