// Fuzz target of command 1's decode path: the first input byte chooses the
// file's media type (BMP, PNG, JPEG, GIF, PSD), the rest is the file, held in
// a memory file group; the layer loads it by name through the media locator,
// the dispatch and the common tail.
#include <cstddef>
#include <cstdint>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    ready = true;
  }
  if (size < 1) return 0;
  static const char* const kNames[5] = {"f.bmp", "f.png", "f.jpg", "f.gif", "f.psd"};
  static const int kTypes[5] = {1, 2, 3, 4, 7};
  const int which = data[0] % 5;
  g_memory_groups = MemoryFileGroups();
  MemoryFileEntry entry;
  entry.name = kNames[which];
  entry.data.assign(data + 1, data + size);
  entry.media_type = kTypes[which];
  g_memory_groups.groups[0].entries.push_back(entry);
  LayerImage* image = new_layer_image();
  if (!image) return 0;
  if (load_image_into_layer(image, kNames[which]) == 0) {
    const std::size_t n = static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    volatile std::uint32_t last = image->pixels[n - 1];
    (void)last;
  }
  free_layer_image(image);
  g_memory_groups = MemoryFileGroups();
  g_quit_requested = 0;
  return 0;
}
