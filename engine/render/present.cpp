// Presentation of the composed root images through the windowing service.
#include "engine/render/present.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/input.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/image/resample.h"
#include "engine/image/span_kernels.h"
#include "engine/render/compositor.h"
#include "engine/render/screen_modes.h"
#include "platform/platform.h"

PresentSettings g_present;
DirtyRect g_pending_present[4] = {kEmptyDirtyRect, kEmptyDirtyRect, kEmptyDirtyRect, kEmptyDirtyRect};

namespace {
// The client size of each window at its last presentation.
int g_presented_size[4][2] = {};
// Where the black bands of full screen were last painted (client size,
// picture offset and size); all zero outside full screen. The bands are
// painted again only when this changes.
i32 g_banded[6] = {};
}  // namespace

namespace {

const PlatformUi* ui_svc() { return g_platform.ui; }

bool can_present(UiWindow h) { return h != kNoWindow && ui_svc() && ui_svc()->present_image; }

bool sse_scaling() { return g_cpu_features.sse && g_span_sse_allowed; }

// The screen frame buffer at the client size (reallocated when it differs).
u32* screen_buffer_for(i32 w, i32 h) {
  if (g_screen_buffer.pixels && g_screen_buffer.width == w && g_screen_buffer.height == h)
    return reinterpret_cast<u32*>(g_screen_buffer.pixels);
  if (alloc_screen_buffer(w, h) != 0) return nullptr;
  return reinterpret_cast<u32*>(g_screen_buffer.pixels);
}

// Scales the whole image to w x h into the screen buffer: bilinear (the
// presentation copy, or by SSE the banded one) or nearest neighbour.
const u32* scale_to(const LayerImage* image, i32 w, i32 h, bool bilinear, bool alternate) {
  u32* dst = screen_buffer_for(w, h);
  if (!dst) return nullptr;
  const i32 x1 = image->width * 100 - 100, y1 = image->height * 100 - 100;
  if (!bilinear) {
    scale_nearest_threaded(dst, image->pixels, 0, 0, image->width - 1, image->height - 1, image->width,
                           image->height, w, h);
  } else if (alternate) {
    scale_bilinear_present(dst, image->pixels, 0, 0, x1, y1, image->width, image->height, w, h);
  } else if (sse_scaling()) {
    scale_bilinear_threaded(dst, image->pixels, 0, 0, x1, y1, image->width, image->height, w, h);
  } else {
    scale_bilinear(dst, image->pixels, 0, 0, x1, y1, image->width, image->height, w, h);
  }
  return dst;
}

void blit(UiWindow h, const u32* pixels, i32 iw, i32 ih, i32 sx, i32 sy, i32 sw, i32 sh, i32 dx, i32 dy, i32 dw,
          i32 dh) {
  ui_svc()->present_image(h, pixels, iw, ih, sx, sy, sw, sh, dx, dy, dw, dh);
}

}  // namespace

int request_window_repaint(int window) {
  const int quit = g_quit_requested ? 1 : 0;
  if (window < 0 || window >= kWindowCount || !g_windows[window]) return quit;
  WindowRecord* r = g_windows[window];
  LayerImage* img = window_root_image(window);
  if (!r->show_at_first_frame || !img || !img->visible) {
    // Nothing to show: one black pixel stretched over the logical area.
    r->drawn_flag = 0;
    if (can_present(r->handle)) {
      const u32 black = 0;
      const i32 lw = r->logical_width;
      const i32 wide = lw - lw % 4 + 4;
      blit(r->handle, &black, 1, 1, 0, 0, 1, 1, 0, 0, wide, r->logical_height);
    }
    return quit;
  }
  if (img->is_dirty) {
    r->drawn_flag = 1;
    // The areas composed since the last paint wait for it: the end-of-frame
    // reset empties reset_rect before the paint comes.
    g_pending_present[window] = dirty_rect_union(g_pending_present[window], img->reset_rect);
    if (r->handle != kNoWindow && ui_svc()) ui_svc()->invalidate(r->handle);
  }
  return quit;
}

void present_frame(int window) {
  if (window < 0 || window >= kWindowCount) return;
  LayerImage* img = window_root_image(window);
  if (!img) return;
  DirtyRect rect = g_pending_present[window];
  g_pending_present[window] = kEmptyDirtyRect;
  // A client area of another size than at the last presentation holds
  // nothing of the image yet: it gets the whole of it.
  int cw = 0, ch = 0;
  WindowRecord* r = g_windows[window];
  if (r && r->handle != kNoWindow && ui_svc()) ui_svc()->get_client_size(r->handle, &cw, &ch);
  if (cw != g_presented_size[window][0] || ch != g_presented_size[window][1]) rect = kEmptyDirtyRect;
  g_presented_size[window][0] = cw;
  g_presented_size[window][1] = ch;
  if (dirty_rect_is_empty(rect)) rect = {0, 0, i64{img->width} - 1, i64{img->height} - 1};
  present_screen(window, img, rect);
}

void present_window_frame(int window) { present_frame(window); }

void present_screen(int window, const LayerImage* image, const DirtyRect& rect) {
  if (g_quit_requested || !image || !image->pixels) return;
  if (window < 0 || window >= kWindowCount || !g_windows[window]) return;
  WindowRecord* r = g_windows[window];
  if (!can_present(r->handle)) return;
  // The rectangle is kept inside the image.
  const i64 left = rect.left < 0 ? 0 : rect.left, top = rect.top < 0 ? 0 : rect.top;
  const i64 right = rect.right >= image->width ? image->width - 1 : rect.right;
  const i64 bottom = rect.bottom >= image->height ? image->height - 1 : rect.bottom;
  if (right - left + 1 <= 0 || bottom - top + 1 <= 0) return;
  int cw = 0, ch = 0;
  if (ui_svc()->get_client_size(r->handle, &cw, &ch) != 0 || cw <= 0 || ch <= 0) return;
  r->bitmap_header.width = image->width;
  r->bitmap_header.height = -image->height;
  const i32 iw = image->width, ih = image->height;
  const bool full_screen = window == 0 && g_screen_mode == 1;
  if (window == 0 && !full_screen) std::memset(g_banded, 0, sizeof g_banded);
  if (window == 0 && (full_screen || g_present.stretch)) {
    // In full screen the window covers the screen and the picture has the
    // client size that the scaling setting fitted to it, centred; the bands
    // around it are black. A stretched window's client area is smaller
    // than the screen, and the centring offset would push the scaled
    // picture out of it: it fills the client area from (0, 0) there.
    i32 pw = cw, ph = ch;
    if (full_screen && g_screen_modes.client_width > 0 && g_screen_modes.client_height > 0) {
      pw = g_screen_modes.client_width;
      ph = g_screen_modes.client_height;
    }
    g_present.offset_x = full_screen ? (g_present.screen_width - pw) / 2 : 0;
    g_present.offset_y = full_screen ? (g_present.screen_height - ph) / 2 : 0;
    if (g_present.offset_x < 0) g_present.offset_x = 0;
    if (g_present.offset_y < 0) g_present.offset_y = 0;
    const i32 ox = g_present.offset_x, oy = g_present.offset_y;
    const i32 bands[6] = {cw, ch, ox, oy, pw, ph};
    if (full_screen && std::memcmp(bands, g_banded, sizeof bands) != 0) {
      std::memcpy(g_banded, bands, sizeof bands);
      const u32 black = 0;
      if (oy > 0) blit(r->handle, &black, 1, 1, 0, 0, 1, 1, 0, 0, cw, oy);
      if (oy + ph < ch) blit(r->handle, &black, 1, 1, 0, 0, 1, 1, 0, oy + ph, cw, ch - oy - ph);
      if (ox > 0) blit(r->handle, &black, 1, 1, 0, 0, 1, 1, 0, oy, ox, ph);
      if (ox + pw < cw) blit(r->handle, &black, 1, 1, 0, 0, 1, 1, ox + pw, oy, cw - ox - pw, ph);
    }
    if ((g_present.scaling != 0) || (g_present.stretch && !full_screen)) {
      const bool bilinear = g_present.cpu_scaling == 1 || (g_present.stretch && !full_screen);
      const u32* scaled = scale_to(image, pw, ph, bilinear, false);
      if (!scaled) return;
      r->bitmap_header.width = pw;
      r->bitmap_header.height = -ph;
      blit(r->handle, scaled, pw, ph, 0, 0, pw, ph, g_present.offset_x, g_present.offset_y, pw, ph);
      g_window0_mapping = WindowMapping{g_present.offset_x, g_present.offset_y, pw, ph};
    } else {
      blit(r->handle, image->pixels, iw, ih, 0, 0, iw, ih, g_present.offset_x, g_present.offset_y, pw, ph);
      g_window0_mapping = WindowMapping{g_present.offset_x, g_present.offset_y, 0, 0};
    }
    return;
  }
  g_present.offset_x = 0;
  g_present.offset_y = 0;
  // The root's own position moves the picture in the client area; far
  // outside it nothing shows, so it is kept within a range that cannot
  // overflow below.
  auto place = [](i64 v) { return static_cast<i32>(v < -(1 << 20) ? -(1 << 20) : v > (1 << 20) ? (1 << 20) : v); };
  const i32 ix = place(image->x), iy = place(image->y);
  // The input polling maps the cursor back through the size window 0 is
  // shown at.
  if (window == 0) g_window0_mapping = WindowMapping{0, 0, iw != cw ? cw : 0, ih != ch ? ch : 0};
  if (window == 0 && (iw != cw || ih != ch)) {
    const u32* scaled = scale_to(image, cw, ch, g_present.cpu_scaling == 1, g_present.alternate_scaler != 0);
    if (!scaled) return;
    r->bitmap_header.width = cw;
    r->bitmap_header.height = -ch;
    blit(r->handle, scaled, cw, ch, 0, 0, cw, ch, ix, iy, cw, ch);
    return;
  }
  // Same size (or a sub window): only the rectangle is copied, 1:1.
  const i32 rw = static_cast<i32>(right - left + 1), rh = static_cast<i32>(bottom - top + 1);
  const i32 dx = ix + static_cast<i32>(left), dy = iy + static_cast<i32>(top);
  if (dx == 0 && dy > 0 && dy + rh >= ih) {
    blit(r->handle, image->pixels, iw, ih, static_cast<i32>(left), 0, rw, ih, dx, iy, rw, ih);
  } else {
    blit(r->handle, image->pixels, iw, ih, static_cast<i32>(left), static_cast<i32>(top), rw, rh, dx, dy, rw, rh);
  }
}
