// The saver preview on X11: a child window of the foreign parent window,
// painted from the picture on every expose; the loop ends when the child
// goes with its parent. Plain Xlib on the desktop's X display (GTK's display
// has no use for a window of another program).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/saver_preview.h"

namespace {

bool g_x_error = false;
int note_error(Display*, XErrorEvent*) {
  g_x_error = true;
  return 0;
}

int x11_run(unsigned long parent_id, const std::uint32_t* pixels, int width, int height) {
  if (!pixels || width <= 0 || height <= 0 || !std::getenv("DISPLAY")) return -1;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return -1;
  g_x_error = false;
  auto* old_handler = XSetErrorHandler(note_error);
  XWindowAttributes parent{};
  Window child = 0;
  if (XGetWindowAttributes(d, static_cast<Window>(parent_id), &parent) && !g_x_error) {
    child = XCreateSimpleWindow(d, static_cast<Window>(parent_id), 0, 0, parent.width & 0xFFFF,
                                parent.height & 0xFFFF, 0, 0, BlackPixel(d, DefaultScreen(d)));
    XSync(d, False);
  }
  if (!child || g_x_error) {
    XSetErrorHandler(old_handler);
    XCloseDisplay(d);
    return -1;
  }
  XSelectInput(d, child, ExposureMask | StructureNotifyMask);
  XMapWindow(d, child);
  // The picture in the window's own format (24 or 32 bits a pixel on any
  // true-colour display: 0x00RRGGBB words).
  const int depth = DefaultDepth(d, DefaultScreen(d));
  std::vector<std::uint32_t> copy(pixels, pixels + static_cast<std::size_t>(width) * height);
  XImage* image = XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), depth, ZPixmap, 0,
                               reinterpret_cast<char*>(copy.data()), width, height, 32, width * 4);
  GC gc = XCreateGC(d, child, 0, nullptr);
  for (;;) {
    XEvent e;
    XNextEvent(d, &e);
    if (e.type == Expose && e.xexpose.count == 0 && image) {
      XPutImage(d, child, gc, image, 0, 0, 0, 0, width, height);
      XFlush(d);
    } else if (e.type == DestroyNotify && e.xdestroywindow.window == child) {
      break;
    }
  }
  if (image) {
    image->data = nullptr;  // the pixels are the vector's
    XDestroyImage(image);
  }
  XFreeGC(d, gc);
  XSetErrorHandler(old_handler);
  XCloseDisplay(d);
  return 0;
}

}  // namespace

const PlatformSaverPreview kGtkSaverPreview = {x11_run};
