// The demo's pictures and where its script leaves them. The demo writer
// makes the image files from these; the screenshot check rebuilds the last
// frame from them.
#pragma once
#include <cstdint>
#include <vector>

#include "tests/support/frame_set_writer.h"

namespace demo {

constexpr int kScreenW = 800, kScreenH = 600;

struct Picture {
  const char* file;  // the image file of the game folder
  const char* layer; // the layer's path
  int width, height;
  int x, y;          // position after the script's animation
};

// In drawing order (bottom first). The ball starts at x 40 and moves 100
// frames by 4 pixels.
constexpr Picture kPictures[] = {
    {"bg.bmp", "W0/bg", kScreenW, kScreenH, 0, 0},
    {"card.bmp", "W0/card", 240, 180, 120, 160},
    {"ball.bmp", "W0/ball", 96, 96, 40 + 100 * 4, 380},
    {"box.bmp", "W0/box", 640, 110, 80, 480},
};
constexpr int kPictureCount = 4;
// The script loads the background from this zlib ZCG of picture 0 (in the
// archive of a packed game); the BMP files are written too.
constexpr const char* kBackgroundZcg = "bg.zcg";
// Where the WebP plug-in is installed the card is loaded from this lossless
// WebP of picture 1.
constexpr const char* kCardWebp = "card.webp";

// The text style the script sets (command 26) before it draws its text:
// face, glyph width and height, colour and second colour.
constexpr const char* kTextFace = "IPAゴシック";  // UTF-8; Shift-JIS in the game
constexpr int kTextSize = 28;
constexpr int kTextColour = 0xFFF4D0;
constexpr int kTextSecondColour = 0x301828;

// The layer drawing steps (command 2) of the script, in order, after the
// pictures are loaded; the script waits one frame after each. op is the
// operation parameter, value parameter 9; x0 < 0 leaves the rectangle
// whole; text (UTF-8) is parameter 11.
struct DrawStep {
  const char* layer;
  int op;
  long long value;
  int x0, y0, x1, y1;
  const char* text;
};
constexpr DrawStep kDrawSteps[] = {
    {"bg", 50, 2, -1, 0, 0, 0, nullptr},         // the background softened
    {"card", 33, 0, -1, 0, 0, 0, nullptr},       // the card turns sepia...
    {"card", 46, 2, 0, 0, 239, 179, nullptr},    // ...under a growing mosaic
    {"card", 46, 3, 0, 0, 239, 179, nullptr},
    {"card", 46, 4, 0, 0, 239, 179, nullptr},
    {"card", 46, 6, 0, 0, 239, 179, nullptr},
    {"card", 29, 4, 0, 0, 239, 179, nullptr},    // ...and turns a little at a time
    {"card", 29, 4, 0, 0, 239, 179, nullptr},
    {"card", 29, 4, 0, 0, 239, 179, nullptr},
    {"box", 60, 0x98203048, -1, 0, 0, 0, nullptr},  // a translucent text box
    {"box", 64, 2, 20, 14, 639, 109, "ようこそ、k_lumbrane へ。"},   // outlined
    {"box", 64, 13, 20, 62, 639, 109, "影のついた二行目です。"},    // with a shadow
};
constexpr int kDrawStepCount = sizeof kDrawSteps / sizeof kDrawSteps[0];

// Opaque pixels (0xFFRRGGBB) of picture i, rows top first.
inline std::vector<std::uint32_t> picture_pixels(int i) {
  const Picture& p = kPictures[i];
  std::vector<std::uint32_t> px(static_cast<std::size_t>(p.width) * p.height);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      std::uint32_t r, g, b;
      if (i == 0) {  // a blue-violet gradient with a fine grid
        r = static_cast<std::uint32_t>(40 + x * 80 / p.width);
        g = static_cast<std::uint32_t>(30 + y * 60 / p.height);
        b = static_cast<std::uint32_t>(120 + (x + y) * 100 / (p.width + p.height));
        if (x % 40 == 0 || y % 40 == 0) r = g = b = 200;
      } else if (i == 1) {  // a card with a border and stripes
        const bool border = x < 6 || y < 6 || x >= p.width - 6 || y >= p.height - 6;
        r = border ? 250 : static_cast<std::uint32_t>(200 + (y / 12 % 2) * 40);
        g = border ? 230 : 180;
        b = border ? 90 : static_cast<std::uint32_t>(60 + x % 30);
      } else if (i == 3) {  // the text box: opaque until the fill makes it translucent
        r = 10;
        g = 10;
        b = 10;
      } else {  // a ball on a dark square
        const int dx = x - p.width / 2, dy = y - p.height / 2;
        const bool in = dx * dx + dy * dy <= (p.width / 2 - 2) * (p.width / 2 - 2);
        r = in ? static_cast<std::uint32_t>(230 - (dx + dy + 96) / 2) : 20;
        g = in ? static_cast<std::uint32_t>(60 + (dy + 48)) : 20;
        b = in ? 40 : 30;
      }
      px[static_cast<std::size_t>(y) * p.width + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  }
  return px;
}

// The notification-area icon: a 16 x 16 ball on a dark square, on a layer
// that is never shown in the window.
constexpr const char* kTrayIconFile = "tray.bmp";
constexpr int kTrayIconSize = 16;
inline std::vector<std::uint32_t> tray_icon_pixels() {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(kTrayIconSize) * kTrayIconSize);
  for (int y = 0; y < kTrayIconSize; ++y) {
    for (int x = 0; x < kTrayIconSize; ++x) {
      const int dx = 2 * x - 15, dy = 2 * y - 15;
      const bool in = dx * dx + dy * dy <= 14 * 14;
      px[static_cast<std::size_t>(y) * kTrayIconSize + x] = in ? 0xFFE05028u : 0xFF141414u;
    }
  }
  return px;
}

// ---- The frame-set corner ----
// An animation of kFrameSetCount JPEG frames packed in one frame set: a dot
// going round a ring, with a row of marks that lights the frame's own. The
// script shows the frames in turn, one every 4 frames, and
// comes to rest on the last.
constexpr const char* kFrameSetFile = "frames.fs";
constexpr const char* kFrameSetLayer = "W0/frames";
constexpr int kFrameSetW = 160, kFrameSetH = 120, kFrameSetX = 580, kFrameSetY = 60;
constexpr int kFrameSetCount = 8;
constexpr int kFrameSetLast = kFrameSetCount - 1;

// R, G, B bytes of frame k, rows top first.
inline std::vector<std::uint8_t> frame_set_rgb(int k) {
  // The dot's centre on a ring of radius 36 around (80, 52), 45 degrees a frame.
  static const int kRingX[8] = {36, 25, 0, -25, -36, -25, 0, 25};
  static const int kRingY[8] = {0, 25, 36, 25, 0, -25, -36, -25};
  const int cx = 80 + kRingX[k % 8], cy = 52 + kRingY[k % 8];
  std::vector<std::uint8_t> px(static_cast<std::size_t>(kFrameSetW) * kFrameSetH * 3);
  for (int y = 0; y < kFrameSetH; ++y) {
    for (int x = 0; x < kFrameSetW; ++x) {
      int r = 20 + y / 4, g = 40 + x / 4, b = 70;
      const int rx = x - 80, ry = y - 52, ring = rx * rx + ry * ry;
      if (ring >= 33 * 33 && ring <= 39 * 39) r = g = b = 110;
      const int dx = x - cx, dy = y - cy;
      if (dx * dx + dy * dy <= 11 * 11) {
        r = 250;
        g = 200;
        b = 60;
      }
      // The marks: 8 squares of 14 pixels at the bottom, the frame's one lit.
      const int mark = (x - 8) / 18;
      if (y >= 100 && y < 114 && x >= 8 && (x - 8) % 18 < 14 && mark < 8) {
        const bool lit = mark == k;
        r = lit ? 240 : 60;
        g = lit ? 240 : 70;
        b = lit ? 240 : 90;
      }
      std::uint8_t* p = &px[(static_cast<std::size_t>(y) * kFrameSetW + x) * 3];
      p[0] = static_cast<std::uint8_t>(r);
      p[1] = static_cast<std::uint8_t>(g);
      p[2] = static_cast<std::uint8_t>(b);
    }
  }
  return px;
}

// The frame-set file: every frame encoded by libjpeg, no alpha parts.
inline std::vector<std::uint8_t> frame_set_file() {
  FrameSetSpec spec;
  for (int k = 0; k < kFrameSetCount; ++k) {
    const std::vector<std::uint8_t> rgb = frame_set_rgb(k);
    spec.frames.push_back({encode_jpeg(kFrameSetW, kFrameSetH, 3, rgb.data(), 90), {}});
  }
  return write_frame_set(spec);
}

}  // namespace demo
