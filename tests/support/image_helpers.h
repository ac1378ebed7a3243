// Image helpers for the tests and the fuzz targets: a whole load from bytes
// in memory, and the length of a layer's GIF frame table.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"

// Loads a file's bytes into image as the image command would once the file
// is read: the type is taken from the content, the decoder runs, then the
// common tail. A refused file leaves has_alpha as it was. 0 or -1.
inline int load_image_from_bytes(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  const u8 old_alpha = image->has_alpha;
  const int type = sniff_image_type(data, size);
  if (decode_image_bytes(type, data, size, image, name) != 0) {
    image->has_alpha = old_alpha;
    return -1;
  }
  finish_image_load(image, type);
  return 0;
}

// Number of frames the last GIF load put into the layer's table (0 when none).
inline int gif_frame_count(const LayerImage* image) {
  if (!image || !image->gif_frames) return 0;
  int n = 0;
  while (n < kGifFrameTableSize && image->gif_frames[n]) ++n;
  return n;
}
