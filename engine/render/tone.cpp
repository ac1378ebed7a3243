// The tone buffer the compositor draws a toned layer from.
#include <cstdlib>

#include "engine/image/layer_image.h"
#include "engine/render/compositor.h"

namespace {
constexpr i32 kNeutralColour = 0x808080;
constexpr i32 kNeutralLevel = 128;
}  // namespace

const u32* toned_pixels(LayerImage* image) {
  // The toned copy never stands in for the layer's pixels between draws.
  if (image->pixels && image->pixels == image->tone_pixels) image->pixels = image->owned_pixels;
  const bool toned = image->tone_colour != kNeutralColour || image->tone_level != kNeutralLevel;
  if (!toned) {
    // A layer whose tone went back to neutral is drawn from its own pixels
    // again; the old toned copy goes.
    if (image->tone_pixels) {
      std::free(image->tone_pixels);
      image->tone_pixels = nullptr;
      image->tone_stamp = 0;
    }
    return image->pixels;
  }
  // Built once per composition pass, always from the pixels the layer shows
  // now (its own buffer or a frame of its frame set), never from a toned copy.
  if (image->tone_pixels && image->tone_stamp != 0 && image->tone_stamp == g_compose_pass)
    return image->tone_pixels;
  u32* buffer = alloc_image_buffer(image->tone_pixels, image->width, image->height, nullptr);
  if (!buffer) return nullptr;
  image->tone_pixels = buffer;
  const i32 w = image->width, h = image->height;
  const u32* src = image->pixels;
  if (image->tone_colour != kNeutralColour) {
    apply_color_tone_rows(buffer, src, 0, 0, w - 1, h - 1, w, h, w, h, image->tone_colour);
    src = buffer;
  }
  if (image->tone_level != kNeutralLevel) apply_saturation_rows(buffer, src, 0, 0, w - 1, h - 1, w, h, w, h, image->tone_level);
  image->tone_stamp = g_compose_pass;
  return buffer;
}
