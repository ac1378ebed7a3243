// The cursor on GDK: each window keeps the cursor it was given; while the
// display count is below 0 every window of ours shows the blank cursor.
#include <gtk/gtk.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/cursor.h"
#include "platform/gtk/ui_gtk_access.h"

namespace {

struct WindowCursor {
  int shape = kCursorArrow;
  UiCursor image = 0;
};

std::recursive_mutex g_mutex;
int g_count = 0;
std::map<UiWindow, WindowCursor> g_windows;
std::map<UiCursor, GdkCursor*> g_images;
UiCursor g_next = 1;

const char* shape_name(int shape) {
  switch (shape) {
    case kCursorIBeam: return "text";
    case kCursorWait: return "wait";
    case kCursorCross: return "crosshair";
    case kCursorSizeNwse: return "nwse-resize";
    case kCursorSizeNesw: return "nesw-resize";
    case kCursorSizeWe: return "ew-resize";
    case kCursorSizeNs: return "ns-resize";
    case kCursorSizeAll: return "move";
    case kCursorNo: return "not-allowed";
    case kCursorHand: return "pointer";
    case kCursorAppStarting: return "progress";
    case kCursorHelp: return "help";
    default: return "default";
  }
}

// A new reference to the cursor the window should show now.
GdkCursor* cursor_for(GdkDisplay* d, const WindowCursor& c) {
  if (g_count < 0) return gdk_cursor_new_for_display(d, GDK_BLANK_CURSOR);
  if (c.image) {
    auto it = g_images.find(c.image);
    if (it != g_images.end()) return GDK_CURSOR(g_object_ref(it->second));
  }
  if (c.shape == kCursorUpArrow) return gdk_cursor_new_for_display(d, GDK_SB_UP_ARROW);
  GdkCursor* named = gdk_cursor_new_from_name(d, shape_name(c.shape));
  return named ? named : gdk_cursor_new_from_name(d, "default");
}

void apply(UiWindow window) {
  GtkWidget* area = gtk_ui_client_area(window);
  GdkWindow* gw = area ? gtk_widget_get_window(area) : nullptr;
  if (!gw) return;
  GdkCursor* c = cursor_for(gdk_window_get_display(gw), g_windows[window]);
  gdk_window_set_cursor(gw, c);
  if (c) g_object_unref(c);
}

void apply_all() {
  for (auto it = g_windows.begin(); it != g_windows.end();) {
    if (!gtk_ui_toplevel(it->first)) {
      it = g_windows.erase(it);
      continue;
    }
    apply(it->first);
    ++it;
  }
}

// Windows made after a hide also hide the cursor: every live window of ours
// is known once it has been given a cursor, and the show count is applied
// to each toplevel's client area here.
void remember_toplevels() {
  for (UiWindow h = 1; h < 64; ++h)
    if (gtk_ui_toplevel(h) && !g_windows.count(h)) g_windows[h] = WindowCursor{};
}

int gc_show(int show) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  g_count += show ? 1 : -1;
  if (gtk_ui_on_gui_thread()) {
    remember_toplevels();
    apply_all();
  }
  return g_count;
}

void gc_set_shape(UiWindow window, int shape) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (!gtk_ui_toplevel(window)) return;
  WindowCursor& c = g_windows[window];
  c.shape = shape >= kCursorArrow && shape <= kCursorHelp ? shape : kCursorArrow;
  c.image = 0;
  if (gtk_ui_on_gui_thread()) apply(window);
}

UiCursor gc_create(const std::uint32_t* pixels, int width, int height, int hot_x, int hot_y) {
  if (!pixels || width <= 0 || height <= 0 || width > 1024 || height > 1024) return 0;
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  GdkDisplay* d = gdk_display_get_default();
  if (!d) return 0;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return 0;
  }
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
      std::uint32_t a = p >> 24;
      auto pm = [a](std::uint32_t c) { return (c * a + 127) / 255; };
      row[x] = a << 24 | pm((p >> 16) & 0xFF) << 16 | pm((p >> 8) & 0xFF) << 8 | pm(p & 0xFF);
    }
  }
  cairo_surface_mark_dirty(s);
  if (hot_x < 0 || hot_x >= width) hot_x = 0;
  if (hot_y < 0 || hot_y >= height) hot_y = 0;
  GdkCursor* c = gdk_cursor_new_from_surface(d, s, hot_x, hot_y);
  cairo_surface_destroy(s);
  if (!c) return 0;
  UiCursor h = g_next++;
  g_images[h] = c;
  return h;
}

void gc_set_image(UiWindow window, UiCursor cursor) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (!gtk_ui_toplevel(window) || !g_images.count(cursor)) return;
  g_windows[window].image = cursor;
  if (gtk_ui_on_gui_thread()) apply(window);
}

void gc_destroy(UiCursor cursor) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  auto it = g_images.find(cursor);
  if (it == g_images.end()) return;
  for (auto& [w, c] : g_windows) {
    if (c.image != cursor) continue;
    c.image = 0;
    c.shape = kCursorArrow;
    if (gtk_ui_on_gui_thread() && gtk_ui_toplevel(w)) apply(w);
  }
  g_object_unref(it->second);
  g_images.erase(it);
}

int gc_warp(UiWindow window, int x, int y) {
  if (!gtk_ui_on_gui_thread()) return -1;
  GtkWidget* area = window == kNoWindow ? nullptr : gtk_ui_client_area(window);
  GdkWindow* gw = area ? gtk_widget_get_window(area) : nullptr;
  if (window != kNoWindow && !gw) return -1;
  GdkDisplay* d = gw ? gdk_window_get_display(gw) : gdk_display_get_default();
  if (!d) return -1;
  // Wayland lets no program move the pointer.
  if (std::strcmp(G_OBJECT_TYPE_NAME(d), "GdkWaylandDisplay") == 0) return -1;
  GdkSeat* seat = gdk_display_get_default_seat(d);
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return -1;
  int ox = 0, oy = 0;
  if (gw) gdk_window_get_origin(gw, &ox, &oy);
  gdk_device_warp(pointer, gw ? gdk_window_get_screen(gw) : gdk_display_get_default_screen(d), ox + x, oy + y);
  gdk_display_flush(d);
  return 0;
}

}  // namespace

const PlatformCursor kGtkCursor = {gc_show, gc_set_shape, gc_create, gc_set_image, gc_destroy, gc_warp};
