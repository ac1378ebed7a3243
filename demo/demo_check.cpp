// The end-to-end check of the demo's picture: grabs a window's client area
// from the X display and compares it with the reference compositor's
// picture of the demo's last frame (the layers of demo_scene.h at their
// resting places, with the script's drawing steps run on them).
//   demo_check <X window id> [max channel difference] [menu bar height]
//   demo_check <file.png> [max channel difference]
//   demo_check --cursor
// The PNG form compares a file (the screenshot the demo saves)
// instead of a window.
// The client area is the window less the rows of its menu bar at the top
// (by default the rows above a client area of the logical size).
// A window shown at another size is compared with the picture scaled to it
// by the engine's bilinear presentation scaler. The live places of
// demo_scene.h and the corner clip's place are left out. Exit 0 when every
// pixel outside them matches within the allowed difference, 1 with the
// first difference otherwise, 2 on other failures.
// With --cursor it prints the pointer's current cursor as the X server has
// it (XFixes): its name, size, hot spot and a checksum of its pixels.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "demo/demo_movies.h"
#include "demo/demo_scene.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/startup.h"
#include "engine/image/font_slots.h"
#include "engine/image/frame_set.h"
#include "engine/image/layer_draw.h"
#include "engine/image/layer_image.h"
#include "engine/image/png_read.h"
#include "engine/image/resample.h"
#include "engine/image/span_kernels.h"
#include "engine/vm/object_tree.h"
#include "platform/files.h"
#include "tests/support/reference_compositor.h"

namespace {

// The demo's last frame as the reference compositor draws it.
std::vector<u32> expected_frame() {
  init_span_ops();
  init_blend_tables();
  std::vector<u32> out;
  if (create_system_objects() != 0) return out;
  i64 order = 0;
  for (int i = 0; i < demo::kPictureCount; ++i) {
    const demo::Picture& p = demo::kPictures[i];
    ObjectNode* n = get_named_object(g_object_roots[kTreeLayer], p.layer, 0, ++order);
    LayerImage* im = get_or_create_layer_image(n);
    replace_layer_pixels(im, alloc_image_buffer(nullptr, p.width, p.height, nullptr), p.width, p.height);
    const std::vector<std::uint32_t> px = demo::picture_pixels(i);
    std::memcpy(im->owned_pixels, px.data(), px.size() * 4);
    im->x = p.x;
    im->y = p.y;
  }
  // The frame-set corner at rest on its last frame, decoded by the reader.
  {
    ObjectNode* n = get_named_object(g_object_roots[kTreeLayer], demo::kFrameSetLayer, 0, ++order);
    LayerImage* im = get_or_create_layer_image(n);
    const std::vector<std::uint8_t> file = demo::frame_set_file();
    u8* bytes = static_cast<u8*>(std::malloc(file.size()));
    if (!bytes) return out;
    std::memcpy(bytes, file.data(), file.size());
    if (make_frame_set(bytes, static_cast<u32>(file.size()), demo::kFrameSetFile, &im->frame_set) != 0) return out;
    if (show_frame_in_image(im, demo::kFrameSetLast) != 0) return out;
    release_image_frame_set(im);
    im->x = demo::kFrameSetX;
    im->y = demo::kFrameSetY;
  }
  // The script's drawing steps, run by the same layer functions.
  if (!g_text_record) g_text_record = new TextRecord();
  build_font_list();
  std::string face;
  utf8_to_sjis(demo::kTextFace, &face);
  set_slot_font_by_name(face.c_str());
  set_slot_style(kStyleWidth, demo::kTextSize);
  set_slot_style(kStyleHeight, demo::kTextSize);
  set_slot_style(kStyleColour, demo::kTextColour);
  set_slot_style(kStyleSecondColour, demo::kTextSecondColour);
  static ParamSet params;
  for (const demo::DrawStep& d : demo::kDrawSteps) {
    params.clear();
    params.set_text(0, d.layer);
    params.set(static_cast<u32>(d.op), 0);
    params.set(9, d.value);
    if (d.x0 >= 0) {
      params.set(12, d.x0);
      params.set(13, d.y0);
      params.set(14, d.x1);
      params.set(15, d.y1);
    }
    std::string text;
    if (d.text) {
      utf8_to_sjis(d.text, &text);
      params.set_text(11, text.c_str());
    }
    if (layer_draw(params) != 0) return out;
  }
  reference_compose(g_system_objects[kTreeLayer], demo::kScreenW, demo::kScreenH, &out);
  destroy_system_objects();
  return out;
}

// The picture at the window's size, as presentation scales it.
std::vector<u32> scaled(const std::vector<u32>& src, int w, int h) {
  if (w == demo::kScreenW && h == demo::kScreenH) return src;
  std::vector<u32> padded(src);
  padded.resize(static_cast<size_t>(image_buffer_bytes(demo::kScreenW, demo::kScreenH) / 4 + 1), 0);
  std::vector<u32> out(static_cast<size_t>(image_buffer_bytes(w, h) / 4 + 1), 0);
  const i32 x1 = demo::kScreenW * 100 - 100, y1 = demo::kScreenH * 100 - 100;
  if (g_cpu_features.sse && g_span_sse_allowed)
    scale_bilinear_threaded(out.data(), padded.data(), 0, 0, x1, y1, demo::kScreenW, demo::kScreenH, w, h);
  else
    scale_bilinear(out.data(), padded.data(), 0, 0, x1, y1, demo::kScreenW, demo::kScreenH, w, h);
  return out;
}

int ignore_x_error(Display*, XErrorEvent*) { return 0; }

int channel_difference(u32 a, u32 b) {
  int worst = 0;
  for (int c = 0; c < 3; ++c) {
    const int d = std::abs(static_cast<int>((a >> (8 * c)) & 255) - static_cast<int>((b >> (8 * c)) & 255));
    if (d > worst) worst = d;
  }
  return worst;
}

// Whether a logical pixel lies in one of the live places.
bool in_live_place(int x, int y) {
  for (const demo::Place& p : demo::kLivePlaces)
    if (x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height) return true;
  return false;
}

// A PNG file against the picture of the demo's last frame.
int check_file(const char* path, int allowed) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "demo_check: no file %s\n", path);
    return 2;
  }
  std::vector<u8> bytes;
  for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<u8>(c));
  std::fclose(f);
  LayerImage* file = new_layer_image();
  const std::vector<u32> want = expected_frame();
  if (decode_png_into_layer(bytes.data(), bytes.size(), file, path) != 0 || file->width != demo::kScreenW ||
      file->height != demo::kScreenH || want.size() != static_cast<size_t>(demo::kScreenW) * demo::kScreenH) {
    std::fprintf(stderr, "demo_check: %s is not a %dx%d PNG, or no reference picture\n", path, demo::kScreenW,
                 demo::kScreenH);
    free_layer_image(file);
    return 2;
  }
  int worst = 0, bad = 0;
  for (int i = 0; i < demo::kScreenW * demo::kScreenH; ++i) {
    // The corner clip's place changes while it plays, and the live places
    // change with every frame: left out.
    if (demo::in_corner_clip(i % demo::kScreenW, i / demo::kScreenW, 0) ||
        in_live_place(i % demo::kScreenW, i / demo::kScreenW))
      continue;
    const int d = channel_difference(file->pixels[i] & 0xFFFFFFu, want[static_cast<size_t>(i)] & 0xFFFFFFu);
    if (d > worst) worst = d;
    if (d > allowed && bad++ == 0)
      std::printf("first difference at (%d, %d): %06x, reference %06x\n", i % demo::kScreenW, i / demo::kScreenW,
                  file->pixels[i] & 0xFFFFFFu, want[static_cast<size_t>(i)] & 0xFFFFFFu);
  }
  std::printf("largest channel difference %d, pixels over %d: %d\n", worst, allowed, bad);
  free_layer_image(file);
  return bad == 0 ? 0 : 1;
}

}  // namespace

// The current cursor: "name=<name> size=WxH hot=X,Y sum=<checksum>".
int print_cursor() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "demo_check: no display\n");
    return 2;
  }
  int event_base = 0, error_base = 0;
  if (!XFixesQueryExtension(display, &event_base, &error_base)) {
    std::fprintf(stderr, "demo_check: the X server has no XFixes\n");
    return 2;
  }
  XFixesCursorImage* c = XFixesGetCursorImage(display);
  if (!c) {
    std::fprintf(stderr, "demo_check: no cursor image\n");
    return 2;
  }
  unsigned long sum = 0;
  for (unsigned long i = 0; i < static_cast<unsigned long>(c->width) * c->height; ++i)
    sum = sum * 31 + (c->pixels[i] & 0xFFFFFFFFul);
  std::printf("name=%s size=%ux%u hot=%u,%u sum=%08lx\n", c->name ? c->name : "", c->width, c->height, c->xhot,
              c->yhot, sum & 0xFFFFFFFFul);
  XFree(c);
  XCloseDisplay(display);
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--cursor") == 0) return print_cursor();
  if (argc < 2) {
    std::fprintf(stderr, "usage: demo_check <window id | file.png> [max difference]\n");
    return 2;
  }
  const std::string first = argv[1];
  if (first.size() > 4 && first.compare(first.size() - 4, 4, ".png") == 0)
    return check_file(argv[1], argc > 2 ? std::atoi(argv[2]) : 0);
  const Window window = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
  const int allowed = argc > 2 ? std::atoi(argv[2]) : 0;
  int top = argc > 3 ? std::atoi(argv[3]) : 0;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "demo_check: no display\n");
    return 2;
  }
  XSetErrorHandler(ignore_x_error);
  // Without a window manager the top-level window is the client area.
  XWindowAttributes attr;
  if (!XGetWindowAttributes(display, window, &attr)) {
    std::fprintf(stderr, "demo_check: no window %s\n", argv[1]);
    return 2;
  }
  XImage* shot = XGetImage(display, window, 0, 0, static_cast<unsigned>(attr.width),
                           static_cast<unsigned>(attr.height), AllPlanes, ZPixmap);
  if (!shot) {
    std::fprintf(stderr, "demo_check: the window could not be read\n");
    return 2;
  }
  const std::vector<u32> frame = expected_frame();
  if (frame.size() != static_cast<size_t>(demo::kScreenW) * demo::kScreenH) {
    std::fprintf(stderr, "demo_check: no reference picture\n");
    return 2;
  }
  // Without the bar's height, a window of the logical width that is taller
  // than the logical height is the client area below a menu bar.
  if (argc <= 3 && attr.width == demo::kScreenW && attr.height > demo::kScreenH) top = attr.height - demo::kScreenH;
  const int w = attr.width, h = attr.height - top;
  if (top < 0 || h < 1) {
    std::fprintf(stderr, "demo_check: no client area below a menu bar of %d rows\n", top);
    return 2;
  }
  const std::vector<u32> want = scaled(frame, w, h);
  std::printf("window %dx%d, logical %dx%d\n", w, h, demo::kScreenW, demo::kScreenH);
  // The live places, at the window's size, widened by the two pixels that
  // the scaler's neighbours reach.
  auto live = [&](int x, int y) {
    for (const demo::Place& p : demo::kLivePlaces) {
      const long l = static_cast<long>(p.x) * w / demo::kScreenW - 2;
      const long r = static_cast<long>(p.x + p.width) * w / demo::kScreenW + 2;
      const long t = static_cast<long>(p.y) * h / demo::kScreenH - 2;
      const long b = static_cast<long>(p.y + p.height) * h / demo::kScreenH + 2;
      if (x >= l && x < r && y >= t && y < b) return true;
    }
    return false;
  };
  int worst = 0, bad = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (live(x, y)) continue;
      // The corner clip's place changes while it plays: left out.
      if (demo::in_corner_clip(x * demo::kScreenW / w, y * demo::kScreenH / h, 2)) continue;
      const u32 got = static_cast<u32>(XGetPixel(shot, x, y + top)) & 0xFFFFFFu;
      const u32 ref = want[static_cast<size_t>(y) * w + x] & 0xFFFFFFu;
      const int d = channel_difference(got, ref);
      if (d > worst) worst = d;
      if (d > allowed && bad++ == 0)
        std::printf("first difference at (%d, %d): %06x, reference %06x\n", x, y, got, ref);
    }
  }
  std::printf("largest channel difference %d, pixels over %d: %d\n", worst, allowed, bad);
  XDestroyImage(shot);
  XCloseDisplay(display);
  return bad == 0 ? 0 : 1;
}
