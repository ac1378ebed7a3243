// Display modes of X11 outputs through RandR 1.2. See display_modes_x11.h.
#include "platform/gtk/display_modes_x11.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

// A CRTC as it was before the first change.
struct SavedCrtc {
  RRCrtc crtc = 0;
  RRMode mode = 0;
  int x = 0, y = 0;
  Rotation rotation = RR_Rotate_0;
  std::vector<RROutput> outputs;
};

struct RandrState {
  std::mutex lock;
  Display* dpy = nullptr;
  std::string name;  // the display the connection goes to
  std::vector<SavedCrtc> saved;
  // The screen size before the first change (0 = not saved).
  int screen_w = 0, screen_h = 0, screen_mm_w = 0, screen_mm_h = 0;
  bool exit_hook = false;
};

RandrState& st() {
  static RandrState* s = new RandrState;  // outlives the static destructors (used at exit)
  return *s;
}

int ignore_x_error(Display*, XErrorEvent*) { return 0; }

// Runs fn with X errors of any connection counted, not fatal (the default
// handler ends the program). Returns false when an error came.
template <class Fn>
bool without_fatal_errors(Display* dpy, Fn fn) {
  static bool failed;
  failed = false;
  XSync(dpy, False);
  auto previous = XSetErrorHandler([](Display* d, XErrorEvent* e) {
    failed = true;
    return ignore_x_error(d, e);
  });
  fn();
  XSync(dpy, False);
  XSetErrorHandler(previous);
  return !failed;
}

// The connection of our own to the display GDK uses; null without RandR 1.2.
Display* connection(const char* name) {
  RandrState& s = st();
  if (s.dpy && s.name == name) return s.dpy;
  if (s.dpy && s.saved.empty()) {
    XCloseDisplay(s.dpy);
    s.dpy = nullptr;
  }
  if (s.dpy) return nullptr;  // modes of another display are still to be given back
  Display* dpy = XOpenDisplay(name);
  if (!dpy) return nullptr;
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(dpy, &event_base, &error_base) || !XRRQueryVersion(dpy, &major, &minor) ||
      major < 1 || (major == 1 && minor < 2)) {
    XCloseDisplay(dpy);
    return nullptr;
  }
  s.dpy = dpy;
  s.name = name;
  return dpy;
}

// The RandR output of GDK's monitor index and the display's name; 0 when
// the display is not X11.
RROutput output_of(GdkDisplay* display, int index, std::string* name) {
  if (!display || !GDK_IS_X11_DISPLAY(display)) return 0;
  if (index < 0 || index >= gdk_display_get_n_monitors(display)) return 0;
  GdkMonitor* m = gdk_display_get_monitor(display, index);
  if (!m || !GDK_IS_X11_MONITOR(m)) return 0;
  *name = gdk_display_get_name(display);
  return static_cast<RROutput>(gdk_x11_monitor_get_output(m));
}

const XRRModeInfo* mode_info(const XRRScreenResources* res, RRMode id) {
  for (int i = 0; i < res->nmode; ++i)
    if (res->modes[i].id == id) return &res->modes[i];
  return nullptr;
}

bool sideways(Rotation r) { return (r & (RR_Rotate_90 | RR_Rotate_270)) != 0; }

// The size a mode covers on the screen under the CRTC's rotation.
void covered_size(const XRRModeInfo* m, Rotation r, int* w, int* h) {
  *w = static_cast<int>(sideways(r) ? m->height : m->width);
  *h = static_cast<int>(sideways(r) ? m->width : m->height);
}

bool usable(const XRRModeInfo* m) { return m && !(m->modeFlags & (RR_Interlace | RR_DoubleScan)); }

// The screen's size as the server has it now (Xlib's own copy follows only
// the events this connection never reads).
void screen_size(Display* dpy, int* w, int* h) {
  Window root_return = 0;
  int x = 0, y = 0;
  unsigned int width = 0, height = 0, border = 0, depth = 0;
  if (XGetGeometry(dpy, DefaultRootWindow(dpy), &root_return, &x, &y, &width, &height, &border, &depth)) {
    *w = static_cast<int>(width);
    *h = static_cast<int>(height);
  } else {
    *w = DisplayWidth(dpy, DefaultScreen(dpy));
    *h = DisplayHeight(dpy, DefaultScreen(dpy));
  }
}

void restore_locked() {
  RandrState& s = st();
  if (!s.dpy || s.saved.empty()) return;
  Display* dpy = s.dpy;
  const Window root = DefaultRootWindow(dpy);
  without_fatal_errors(dpy, [&] {
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, root);
    if (!res) return;
    // A screen larger than before first, so every CRTC fits while it moves.
    int cur_w = 0, cur_h = 0;
    screen_size(dpy, &cur_w, &cur_h);
    if (s.screen_w > cur_w || s.screen_h > cur_h)
      XRRSetScreenSize(dpy, root, std::max(cur_w, s.screen_w), std::max(cur_h, s.screen_h), s.screen_mm_w,
                       s.screen_mm_h);
    for (SavedCrtc& c : s.saved)
      XRRSetCrtcConfig(dpy, res, c.crtc, CurrentTime, c.x, c.y, c.mode, c.rotation, c.outputs.data(),
                       static_cast<int>(c.outputs.size()));
    if (s.screen_w > 0 && s.screen_h > 0)
      XRRSetScreenSize(dpy, root, s.screen_w, s.screen_h, s.screen_mm_w, s.screen_mm_h);
    XRRFreeScreenResources(res);
  });
  s.saved.clear();
  s.screen_w = s.screen_h = 0;
}

// At exit, whatever way the program ends through exit(), the desktop gets
// its modes back.
void restore_at_exit() {
  std::lock_guard<std::mutex> g(st().lock);
  restore_locked();
}

}  // namespace

int x11_output_modes(GdkDisplay* display, int index, int bits, DisplayMode* out, int max) {
  std::string name;
  const RROutput output = output_of(display, index, &name);
  if (!output || max < 1) return 0;
  std::lock_guard<std::mutex> g(st().lock);
  Display* dpy = connection(name.c_str());
  if (!dpy) return 0;
  int n = 0;
  without_fatal_errors(dpy, [&] {
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    if (!res) return;
    XRROutputInfo* oi = XRRGetOutputInfo(dpy, res, output);
    if (oi) {
      Rotation rotation = RR_Rotate_0;
      if (oi->crtc) {
        if (XRRCrtcInfo* ci = XRRGetCrtcInfo(dpy, res, oi->crtc)) {
          rotation = ci->rotation;
          XRRFreeCrtcInfo(ci);
        }
      }
      for (int i = 0; i < oi->nmode && n < max; ++i) {
        const XRRModeInfo* m = mode_info(res, oi->modes[i]);
        if (!usable(m)) continue;
        int w = 0, h = 0;
        covered_size(m, rotation, &w, &h);
        bool seen = false;
        for (int k = 0; k < n; ++k) seen = seen || (out[k].width == w && out[k].height == h);
        if (!seen) out[n++] = DisplayMode{w, h, bits};
      }
      XRRFreeOutputInfo(oi);
    }
    XRRFreeScreenResources(res);
  });
  return n;
}

int x11_set_output_mode(GdkDisplay* display, int index, int width, int height) {
  std::string name;
  const RROutput output = output_of(display, index, &name);
  if (!output) return -1;
  std::lock_guard<std::mutex> g(st().lock);
  RandrState& s = st();
  Display* dpy = connection(name.c_str());
  if (!dpy) return -1;
  const Window root = DefaultRootWindow(dpy);
  int result = -1;
  const bool clean = without_fatal_errors(dpy, [&] {
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, root);
    if (!res) return;
    XRROutputInfo* oi = XRRGetOutputInfo(dpy, res, output);
    XRRCrtcInfo* ci = oi && oi->crtc ? XRRGetCrtcInfo(dpy, res, oi->crtc) : nullptr;
    RRMode chosen = 0;
    if (ci) {
      const XRRModeInfo* current = mode_info(res, ci->mode);
      for (int i = 0; i < oi->nmode; ++i) {
        const XRRModeInfo* m = mode_info(res, oi->modes[i]);
        int w = 0, h = 0;
        if (!usable(m)) continue;
        covered_size(m, ci->rotation, &w, &h);
        if (w != width || h != height) continue;
        // Of modes of one size, the first (the output's preferred order),
        // unless one has the refresh rate of the current mode.
        if (!chosen) chosen = m->id;
        if (current && m->dotClock * current->hTotal * current->vTotal ==
                           current->dotClock * static_cast<unsigned long>(m->hTotal) * m->vTotal) {
          chosen = m->id;
          break;
        }
      }
    }
    if (chosen) {
      // The screen must hold every CRTC: it grows before the change and
      // shrinks to what the CRTCs cover after it.
      int need_w = ci->x + width, need_h = ci->y + height;
      for (int i = 0; i < res->ncrtc; ++i) {
        if (res->crtcs[i] == oi->crtc) continue;
        XRRCrtcInfo* other = XRRGetCrtcInfo(dpy, res, res->crtcs[i]);
        if (!other) continue;
        if (other->mode) {
          need_w = std::max(need_w, other->x + static_cast<int>(other->width));
          need_h = std::max(need_h, other->y + static_cast<int>(other->height));
        }
        XRRFreeCrtcInfo(other);
      }
      int min_w = 0, min_h = 0, max_w = 0, max_h = 0;
      XRRGetScreenSizeRange(dpy, root, &min_w, &min_h, &max_w, &max_h);
      need_w = std::max(need_w, min_w);
      need_h = std::max(need_h, min_h);
      const int scr = DefaultScreen(dpy);
      int cur_w = 0, cur_h = 0;
      screen_size(dpy, &cur_w, &cur_h);
      // Millimetres in proportion to the first size seen (Xlib's copy is
      // that of the connection's start).
      const int base_w = s.saved.empty() ? cur_w : s.screen_w, base_h = s.saved.empty() ? cur_h : s.screen_h;
      const int base_mm_w = s.saved.empty() ? DisplayWidthMM(dpy, scr) : s.screen_mm_w;
      const int base_mm_h = s.saved.empty() ? DisplayHeightMM(dpy, scr) : s.screen_mm_h;
      const int mm_w = base_w > 0 ? static_cast<int>(static_cast<long>(base_mm_w) * cur_w / base_w) : base_mm_w;
      const int mm_h = base_h > 0 ? static_cast<int>(static_cast<long>(base_mm_h) * cur_h / base_h) : base_mm_h;
      if (need_w <= max_w && need_h <= max_h) {
        if (s.saved.empty()) {
          s.screen_w = cur_w, s.screen_h = cur_h, s.screen_mm_w = mm_w, s.screen_mm_h = mm_h;
        }
        bool known = false;
        for (const SavedCrtc& c : s.saved) known = known || c.crtc == oi->crtc;
        if (!known) {
          SavedCrtc c;
          c.crtc = oi->crtc;
          c.mode = ci->mode;
          c.x = ci->x;
          c.y = ci->y;
          c.rotation = ci->rotation;
          c.outputs.assign(ci->outputs, ci->outputs + ci->noutput);
          s.saved.push_back(c);
        }
        auto scaled_mm = [](int mm, int px, int cur) {
          return cur > 0 ? static_cast<int>(static_cast<long>(mm) * px / cur) : mm;
        };
        const int grown_w = std::max(need_w, cur_w), grown_h = std::max(need_h, cur_h);
        if (grown_w > cur_w || grown_h > cur_h)
          XRRSetScreenSize(dpy, root, grown_w, grown_h, scaled_mm(mm_w, grown_w, cur_w),
                           scaled_mm(mm_h, grown_h, cur_h));
        const Status st_change = XRRSetCrtcConfig(dpy, res, oi->crtc, CurrentTime, ci->x, ci->y, chosen, ci->rotation,
                                                  ci->outputs, ci->noutput);
        if (st_change == RRSetConfigSuccess) {
          // The screen is now the larger of both; it ends at what the CRTCs
          // cover.
          if (need_w < grown_w || need_h < grown_h)
            XRRSetScreenSize(dpy, root, need_w, need_h, scaled_mm(mm_w, need_w, cur_w),
                             scaled_mm(mm_h, need_h, cur_h));
          result = 0;
        }
      }
    }
    if (ci) XRRFreeCrtcInfo(ci);
    if (oi) XRRFreeOutputInfo(oi);
    XRRFreeScreenResources(res);
  });
  if (!clean) result = -1;
  if (!s.saved.empty() && !s.exit_hook) {
    s.exit_hook = true;
    std::atexit(restore_at_exit);
  }
  // A refused change leaves the output as it was: whatever was saved for it
  // is given back now, so nothing waits for a restore that may not come.
  if (result != 0) restore_locked();
  return result;
}

void x11_restore_output_modes() {
  std::lock_guard<std::mutex> g(st().lock);
  restore_locked();
}
