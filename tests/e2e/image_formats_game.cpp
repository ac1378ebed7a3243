// The image-formats game of the end-to-end run and the check of its picture.
//   image_formats_game game <folder> <card.webp> <frame.jpg>...
//     writes the game: its compiled engine files, a zlib ZCG background and
//     a frame set packed of the JPEG frames (made by cjpeg) in the archive
//     "game.zpf", and a PNG ("mem.png") that the script puts into memory
//     group 1 and deletes from disk before it loads it. The WebP card (made
//     by cwebp) is already in the folder. The script shows frame 3 of the set.
//   image_formats_game check <X window id> <card.webp> <frame3.ppm> <screenshot.png>
//     compares the window's client area with the reference compositor's
//     picture of the same layers (the frame as djpeg decodes it) and writes
//     the client area as a PNG.
// Exit 0 on a match, 1 with the first difference, 2 on other failures.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <webp/decode.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/image/blend_tables.h"
#include "engine/image/layer_image.h"
#include "engine/image/span_kernels.h"
#include "engine/vm/object_tree.h"
#include "tests/support/frame_set_writer.h"
#include "tests/support/game_writer.h"
#include "tests/support/reference_compositor.h"
#include "tests/support/zcg_writer.h"
#include "tests/support/zpf_writer.h"

namespace {

constexpr int kW = 640, kH = 480;
constexpr int kCardX = 100, kCardY = 90;
constexpr int kMemW = 120, kMemH = 80, kMemX = 420, kMemY = 300;
constexpr int kFramesX = 300, kFramesY = 40;
constexpr int kShownFrame = 3;

// The background: opaque, a gradient with a grid.
std::vector<u32> background() {
  std::vector<u32> px(static_cast<std::size_t>(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      u32 r = static_cast<u32>(30 + x * 150 / kW), g = static_cast<u32>(60 + y * 120 / kH), b = 140;
      if (x % 32 == 0 || y % 32 == 0) r = g = b = 220;
      px[static_cast<std::size_t>(y) * kW + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  return px;
}

// The memory-group picture: opaque stripes.
std::vector<u32> memory_picture() {
  std::vector<u32> px(static_cast<std::size_t>(kMemW) * kMemH);
  for (int y = 0; y < kMemH; ++y)
    for (int x = 0; x < kMemW; ++x)
      px[static_cast<std::size_t>(y) * kMemW + x] = (y / 10 % 2) ? 0xFFE0C020u : 0xFF2040A0u + static_cast<u32>(x);
  return px;
}

bool write_png(const std::string& path, const std::vector<u32>& px, int w, int h) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  png_set_bgr(png);
  png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < h; ++y) png_write_row(png, reinterpret_cast<png_const_bytep>(px.data() + static_cast<std::size_t>(y) * w));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

std::string command_line(int id, const char* name, int count, const std::vector<int>& texts) {
  std::string line = "command " + std::to_string(id) + " " + name;
  for (int i = 0; i < count; ++i) {
    bool text = false;
    for (int t : texts) text |= t == i;
    line += " p" + std::to_string(i) + (text ? ":text:0" : ":num:0");
  }
  return line + "\n";
}

std::string layer(const char* name, int order, const char* file, int x, int y) {
  return "instr 1\narg 0 text : \"" + std::string(name) + "\"\narg 6 int : I:" + std::to_string(order) +
         "\narg 46 text : \"" + file + "\"\narg 4 int : I:" + std::to_string(x) + "\narg 5 int : I:" +
         std::to_string(y) + "\n";
}

// The script: mem.png into memory group 1 and off the disk; the three
// picture layers and a fourth that shows a frame of "frames.fs"; two frames
// later the screen layer saved as PNG and as JPEG.
std::string game_text() {
  std::string s = "config width=" + std::to_string(kW) + " height=" + std::to_string(kH) + " title=k_lumbrane\n";
  s += command_line(1, "layer", 58, {0, 43, 46, 47, 48, 51});
  s += command_line(20, "save", 18, {0, 1, 2, 8, 10});
  s += command_line(109, "frames", 4, {0, 2});
  s += "script 0 formats.txt\nlabel SYSTEM_START\n";
  s += "instr 20\narg 0 text : \"mem.png\"\narg 16 int : I:1\narg 5 int : I:1\n";
  s += layer("bg", 1, "bg.zcg", 0, 0);
  s += layer("card", 2, "card.webp", kCardX, kCardY);
  s += layer("mem", 3, "mem.png", kMemX, kMemY);
  s += layer("frames", 4, "", kFramesX, kFramesY);
  s += "instr 109\narg 0 text : \"frames\"\narg 2 text : \"frames.fs\"\narg 3 int : I:" +
       std::to_string(kShownFrame) + "\n";
  s += "wait I:2\n";
  s += "instr 20\narg 0 text : \"saved\"\narg 10 text : \":W0/\"\n";
  s += "instr 20\narg 0 text : \"saved\"\narg 10 text : \":W0/\"\narg 14 int : I:1\n";
  s += "loop L:-1\nwait B:1\nendloop\n";
  return s;
}

std::vector<u8> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int write_game(const std::string& folder, const std::vector<std::string>& frame_jpegs) {
  FrameSetSpec frames;
  for (const std::string& path : frame_jpegs) {
    frames.frames.push_back({read_bytes(path), {}});
    if (frames.frames.back().colour.empty()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 2;
    }
  }
  if (frames.frames.size() <= static_cast<std::size_t>(kShownFrame)) {
    std::fprintf(stderr, "the frame set needs more than %d frames\n", kShownFrame);
    return 2;
  }
  const GameFiles files = build_game(game_text());
  if (!write_game_folder(folder, files)) return 2;
  std::vector<ZpfItem> items;
  for (const auto& [name, bytes] : files) items.push_back(zpf_item(name, std::string(bytes.begin(), bytes.end())));
  const std::vector<u8> zcg = fixtures::write_zcg(background(), kW, kH, kZcgZlib);
  items.push_back(zpf_item("bg.zcg", std::string(zcg.begin(), zcg.end()), 1, 8));
  const std::vector<u8> set = write_frame_set(frames);
  items.push_back(zpf_item("frames.fs", std::string(set.begin(), set.end())));
  if (!write_zpf_file(folder + "/game.zpf", items)) return 2;
  return write_png(folder + "/mem.png", memory_picture(), kMemW, kMemH) ? 0 : 2;
}

void add_layer(const char* path, const std::vector<u32>& px, int w, int h, int x, int y, i64 order, bool alpha) {
  ObjectNode* n = get_named_object(g_object_roots[kTreeLayer], path, 0, order);
  LayerImage* im = get_or_create_layer_image(n);
  replace_layer_pixels(im, alloc_image_buffer(nullptr, w, h, nullptr), w, h);
  std::memcpy(im->owned_pixels, px.data(), px.size() * 4);
  im->has_alpha = alpha ? 1 : 0;
  normalize_transparent_pixels(im);
  im->x = x;
  im->y = y;
}

// A binary PPM's pixels as opaque B, G, R, A words; false when it is not one.
bool read_ppm(const std::string& path, std::vector<u32>* px, int* w, int* h) {
  const std::vector<u8> b = read_bytes(path);
  std::istringstream in(std::string(b.begin(), b.begin() + static_cast<long>(std::min<std::size_t>(b.size(), 64))));
  std::string magic;
  int maxval = 0;
  in >> magic >> *w >> *h >> maxval;
  if (magic != "P6" || maxval != 255 || !in || *w <= 0 || *h <= 0) return false;
  const std::size_t at = static_cast<std::size_t>(in.tellg()) + 1;  // one whitespace byte
  const std::size_t n = static_cast<std::size_t>(*w) * static_cast<std::size_t>(*h);
  if (b.size() < at + n * 3) return false;
  px->resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const u8* c = &b[at + i * 3];
    (*px)[i] = 0xFF000000u | static_cast<u32>(c[0]) << 16 | static_cast<u32>(c[1]) << 8 | c[2];
  }
  return true;
}

std::vector<u32> expected_frame(const std::string& webp_path, const std::string& frame_ppm) {
  std::vector<u32> out;
  std::vector<u32> frame_px;
  int fw = 0, fh = 0;
  if (!read_ppm(frame_ppm, &frame_px, &fw, &fh)) return out;
  std::ifstream in(webp_path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int cw = 0, ch = 0;
  u8* card = WebPDecodeBGRA(reinterpret_cast<const u8*>(bytes.data()), bytes.size(), &cw, &ch);
  if (!card) return out;
  std::vector<u32> card_px(reinterpret_cast<u32*>(card), reinterpret_cast<u32*>(card) + static_cast<std::size_t>(cw) * ch);
  WebPFree(card);
  init_span_ops();
  init_blend_tables();
  if (create_system_objects() != 0) return out;
  add_layer("W0/bg", background(), kW, kH, 0, 0, 1, true);
  add_layer("W0/card", card_px, cw, ch, kCardX, kCardY, 2, true);
  add_layer("W0/mem", memory_picture(), kMemW, kMemH, kMemX, kMemY, 3, false);
  add_layer("W0/frames", frame_px, fw, fh, kFramesX, kFramesY, 4, false);
  reference_compose(g_system_objects[kTreeLayer], kW, kH, &out);
  destroy_system_objects();
  return out;
}

int ignore_x_error(Display*, XErrorEvent*) { return 0; }

int check(const char* window_id, const std::string& webp_path, const std::string& frame_ppm,
          const std::string& shot_path) {
  const Window window = static_cast<Window>(std::strtoul(window_id, nullptr, 0));
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 2;
  XSetErrorHandler(ignore_x_error);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(display, window, &attr) || attr.width != kW || attr.height < kH) {
    std::fprintf(stderr, "no window of %dx%d\n", kW, kH);
    return 2;
  }
  const int top = attr.height - kH;  // rows of a menu bar, if any
  XImage* shot = XGetImage(display, window, 0, 0, static_cast<unsigned>(attr.width),
                           static_cast<unsigned>(attr.height), AllPlanes, ZPixmap);
  if (!shot) return 2;
  const std::vector<u32> want = expected_frame(webp_path, frame_ppm);
  if (want.size() != static_cast<std::size_t>(kW) * kH) {
    std::fprintf(stderr, "no reference picture\n");
    return 2;
  }
  std::vector<u32> got(want.size());
  int bad = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const u32 g = static_cast<u32>(XGetPixel(shot, x, y + top)) & 0xFFFFFFu;
      const u32 r = want[static_cast<std::size_t>(y) * kW + x] & 0xFFFFFFu;
      got[static_cast<std::size_t>(y) * kW + x] = g;
      if (g != r && bad++ == 0) std::printf("first difference at (%d, %d): %06x, reference %06x\n", x, y, g, r);
    }
  std::printf("pixels that differ: %d\n", bad);
  XDestroyImage(shot);
  XCloseDisplay(display);
  if (!write_png(shot_path, got, kW, kH)) return 2;
  return bad == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "game")
    return write_game(argv[2], std::vector<std::string>(argv + 4, argv + argc));
  if (argc == 6 && std::string(argv[1]) == "check") return check(argv[2], argv[3], argv[4], argv[5]);
  std::fprintf(stderr,
               "usage: image_formats_game game <folder> <card.webp> <frame.jpg>... |"
               " check <window> <card.webp> <frame.ppm> <shot.png>\n");
  return 2;
}
