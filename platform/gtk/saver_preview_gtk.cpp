// The saver preview on X11: a child GdkWindow of the foreign parent window,
// painted from a cairo image surface; the loop ends when the child goes
// with its parent.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <vector>

#include "platform/saver_preview.h"

namespace {

struct Preview {
  GdkWindow* child = nullptr;
  cairo_surface_t* image = nullptr;
  GMainLoop* loop = nullptr;
};

void paint(Preview* p) {
  cairo_region_t* region = cairo_region_create();
  GdkDrawingContext* ctx = gdk_window_begin_draw_frame(p->child, region);
  cairo_t* cr = gdk_drawing_context_get_cairo_context(ctx);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_set_source_surface(cr, p->image, 0, 0);
  cairo_paint(cr);
  gdk_window_end_draw_frame(p->child, ctx);
  cairo_region_destroy(region);
}

void on_event(GdkEvent* event, gpointer data) {
  auto* p = static_cast<Preview*>(data);
  if (event->any.window == p->child) {
    if (event->type == GDK_EXPOSE) paint(p);
    else if (event->type == GDK_DESTROY) g_main_loop_quit(p->loop);
  }
}

int gtk_run(unsigned long parent_id, const std::uint32_t* pixels, int width, int height) {
  if (!gtk_init_check(nullptr, nullptr) || !pixels || width <= 0 || height <= 0) return -1;
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return -1;
  gdk_x11_display_error_trap_push(display);
  GdkWindow* parent = gdk_x11_window_foreign_new_for_display(display, static_cast<Window>(parent_id));
  if (gdk_x11_display_error_trap_pop(display) != 0 || !parent) {
    if (parent) g_object_unref(parent);
    return -1;
  }
  Preview p;
  GdkWindowAttr attr{};
  attr.window_type = GDK_WINDOW_CHILD;
  attr.wclass = GDK_INPUT_OUTPUT;
  attr.x = 0;
  attr.y = 0;
  attr.width = gdk_window_get_width(parent) & 0xFFFF;
  attr.height = gdk_window_get_height(parent) & 0xFFFF;
  attr.event_mask = GDK_EXPOSURE_MASK | GDK_STRUCTURE_MASK;
  gdk_x11_display_error_trap_push(display);
  p.child = gdk_window_new(parent, &attr, GDK_WA_X | GDK_WA_Y);
  if (p.child) gdk_window_show(p.child);
  gdk_display_sync(display);
  if (gdk_x11_display_error_trap_pop(display) != 0 || !p.child) {
    if (p.child) gdk_window_destroy(p.child);
    g_object_unref(parent);
    return -1;
  }
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
  p.image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  unsigned char* dst = cairo_image_surface_get_data(p.image);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::size_t>(y) * stride);
    for (int x = 0; x < width; ++x) row[x] = pixels[static_cast<std::size_t>(y) * width + x] | 0xFF000000u;
  }
  cairo_surface_mark_dirty(p.image);
  p.loop = g_main_loop_new(nullptr, FALSE);
  gdk_event_handler_set(on_event, &p, nullptr);
  paint(&p);
  g_main_loop_run(p.loop);
  gdk_event_handler_set([](GdkEvent* e, gpointer) { gtk_main_do_event(e); }, nullptr, nullptr);
  g_main_loop_unref(p.loop);
  cairo_surface_destroy(p.image);
  g_object_unref(parent);
  return 0;
}

}  // namespace

const PlatformSaverPreview kGtkSaverPreview = {gtk_run};
