// Where window 0's picture lies in its client area, for what is placed over
// it (the window movie, the hosted Flash control).
#pragma once
#include "engine/frame/types.h"

struct PictureArea {
  i32 width = 0, height = 0;      // the picture's size in the client (0: not known yet)
  i32 offset_x = 0, offset_y = 0; // its top-left corner in the client
  u8 stretch = 0;                 // stretched over the whole client area
};

// Window 0's picture as the last presentation placed it.
PictureArea window_picture_area();
