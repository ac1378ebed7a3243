// The demo's movies, encoded by the demo writer with libtheora and
// libvorbis: the 2-second intro that plays as a window movie over the whole
// window, and the short clip that plays over and over in the corner layer.
#pragma once
#include <string>

namespace demo {

constexpr const char* kIntroMovie = "intro.ogv";
constexpr int kIntroW = 400, kIntroH = 300, kIntroFrames = 60;  // 2 s at 30 a second, with sound
constexpr const char* kCornerClip = "corner.ogv";
constexpr const char* kCornerLayerPicture = "corner.bmp";
constexpr int kCornerX = 580, kCornerY = 200, kCornerW = 160, kCornerH = 120, kCornerFrames = 60;

// True for a pixel of the logical screen that the corner clip covers: its
// picture changes while the clip plays, so the screenshot check leaves it
// out (with a margin of margin pixels).
inline bool in_corner_clip(int x, int y, int margin) {
  return x >= kCornerX - margin && x < kCornerX + kCornerW + margin && y >= kCornerY - margin &&
         y < kCornerY + kCornerH + margin;
}

// Writes both movies into folder: "" or what failed.
std::string write_demo_movies(const std::string& folder);

}  // namespace demo
