// Window 0's picture area (see picture_area.h).
#include "engine/render/picture_area.h"

#include "engine/render/present.h"
#include "engine/render/screen_modes.h"

PictureArea window_picture_area() {
  PictureArea a;
  a.width = g_screen_modes.client_width;
  a.height = g_screen_modes.client_height;
  a.offset_x = g_present.offset_x;
  a.offset_y = g_present.offset_y;
  a.stretch = g_present.stretch;
  return a;
}
