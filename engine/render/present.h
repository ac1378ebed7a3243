// Presentation: after a drawn frame every window whose root image changed
// asks for a repaint; the window procedure answers it by copying the
// CPU-composed root image into the client area, scaled to the client size
// when the two differ.
#pragma once
#include "engine/frame/types.h"
#include "engine/image/dirty_rect.h"

struct LayerImage;

// Display state of window 0 that presentation reads (kept by the screen
// modes).
struct PresentSettings {
  u8 stretch = 0;           // window 0 is stretched to its client area
  u8 cpu_scaling = 1;       // 1: bilinear CPU scaling, 0: nearest neighbour
  u8 scaling = 1;           // full screen: 0 1:1, 1 fit, 2 cover, 3 fill
  u8 alternate_scaler = 0;  // the presentation copy of the bilinear scaler
  i32 screen_width = 0;     // full screen: the screen size
  i32 screen_height = 0;
  i32 offset_x = 0;         // the presentation offset of the last present
  i32 offset_y = 0;
};
extern PresentSettings g_present;

// The area composed since a window's last presentation that a frame's
// repaint request asked for (empty: the next paint presents the whole image).
extern DirtyRect g_pending_present[4];

// After the frame's drawing: blanks a window with nothing to show, or asks
// a window whose root image changed for a repaint. Returns the quit flag.
int request_window_repaint(int window);
// The repaint: presents what the frame asked for, or the whole root image
// for any other paint (uncovering, activation, screen-mode changes).
void present_frame(int window);
// Presents the rectangle `rect` of image (the window's root image).
void present_screen(int window, const LayerImage* image, const DirtyRect& rect);
