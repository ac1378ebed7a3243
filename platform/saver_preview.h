// The screen saver's preview: a picture shown in a window of another
// program (the desktop's saver settings), until that window goes away.
#pragma once
#include <cstdint>

struct PlatformSaverPreview {
  // Shows pixels (width x height 32-bit BGRA, top row first) at the top left
  // of a child window that fills the foreign window parent (an X window id),
  // repainted when uncovered, and returns once the parent is destroyed: 0.
  // -1 at once when no child can be made there (no X display, a parent that
  // does not exist). GUI thread.
  int (*run)(unsigned long parent, const std::uint32_t* pixels, int width, int height);
};

// A child window on the X display (Xlib); none without one (Wayland).
extern const PlatformSaverPreview kGtkSaverPreview;
// Records the call and returns the scripted result (0 by default).
extern const PlatformSaverPreview kFakeSaverPreview;
struct FakeSaverPreviewCall {
  unsigned long parent;
  int width, height;
  std::uint32_t first_pixel;
};
const FakeSaverPreviewCall* fake_saver_preview_last();  // null when never called
void fake_saver_preview_reset(int result);
