// Monitors and full screen on GTK 3: GDK's monitors in GDK's order, full
// screen through gtk_window_fullscreen_on_monitor. Linux desktops keep their
// resolution, so each monitor offers only its current mode.
#include <gtk/gtk.h>

#include "platform/gtk/ui_gtk_access.h"
#include "platform/monitors.h"

namespace {

GdkDisplay* display() { return gtk_ui_available() ? gdk_display_get_default() : nullptr; }

int gm_enumerate(MonitorGeometry* out, int max) {
  int count = 0;
  gtk_ui_run_on_gui_thread([&] {
    GdkDisplay* d = display();
    if (!d) return;
    const int n = gdk_display_get_n_monitors(d);
    for (int i = 0; i < n && count < max; ++i) {
      GdkMonitor* m = gdk_display_get_monitor(d, i);
      if (!m) continue;
      GdkRectangle r;
      gdk_monitor_get_geometry(m, &r);
      out[count++] = MonitorGeometry{r.x, r.y, r.width, r.height};
    }
  });
  return count;
}

int gm_monitor_at_point(int x, int y) {
  int index = -1;
  gtk_ui_run_on_gui_thread([&] {
    GdkDisplay* d = display();
    if (!d) return;
    GdkMonitor* m = gdk_display_get_monitor_at_point(d, x, y);
    const int n = gdk_display_get_n_monitors(d);
    for (int i = 0; i < n; ++i)
      if (gdk_display_get_monitor(d, i) == m) index = i;
  });
  return index;
}

int current_mode(int index, DisplayMode* out) {
  int found = 0;
  gtk_ui_run_on_gui_thread([&] {
    GdkDisplay* d = display();
    if (!d || index < 0 || index >= gdk_display_get_n_monitors(d)) return;
    GdkMonitor* m = gdk_display_get_monitor(d, index);
    GdkRectangle r;
    gdk_monitor_get_geometry(m, &r);
    GdkScreen* screen = gdk_screen_get_default();
    GdkVisual* visual = screen ? gdk_screen_get_system_visual(screen) : nullptr;
    const int depth = visual ? gdk_visual_get_depth(visual) : 24;
    *out = DisplayMode{r.width, r.height, depth >= 24 ? 32 : depth};
    found = 1;
  });
  return found;
}

int gm_display_modes(int index, DisplayMode* out, int max) {
  if (max < 1) return 0;
  return current_mode(index, out);
}

int gm_change_display_mode(int index, int width, int height, int bits) {
  DisplayMode m;
  if (!current_mode(index, &m)) return -1;
  return m.width == width && m.height == height && m.bits == bits ? 0 : -1;
}

void gm_restore_display_mode() {}

int gm_fullscreen_on_monitor(UiWindow window, int index) {
  int result = -1;
  gtk_ui_run_on_gui_thread([&] {
    auto* top = static_cast<GtkWidget*>(gtk_ui_top_window(window));
    GdkDisplay* d = display();
    if (!top || !d || index < 0 || index >= gdk_display_get_n_monitors(d)) return;
    gtk_window_fullscreen_on_monitor(GTK_WINDOW(top), gdk_display_get_default_screen(d), index);
    result = 0;
  });
  return result;
}

int gm_unfullscreen(UiWindow window) {
  int result = -1;
  gtk_ui_run_on_gui_thread([&] {
    auto* top = static_cast<GtkWidget*>(gtk_ui_top_window(window));
    if (!top) return;
    gtk_window_unfullscreen(GTK_WINDOW(top));
    result = 0;
  });
  return result;
}

void gm_set_size_hints(UiWindow window, int min_width, int min_height, int max_width, int max_height,
                       double aspect) {
  gtk_ui_run_on_gui_thread([&] {
    auto* top = static_cast<GtkWidget*>(gtk_ui_top_window(window));
    if (!top) return;
    GdkGeometry g{};
    int mask = 0;
    if (min_width > 0 && min_height > 0) {
      g.min_width = min_width;
      g.min_height = min_height;
      mask |= GDK_HINT_MIN_SIZE;
    }
    if (max_width > 0 && max_height > 0) {
      g.max_width = max_width;
      g.max_height = max_height;
      mask |= GDK_HINT_MAX_SIZE;
    }
    if (aspect > 0) {
      g.min_aspect = aspect;
      g.max_aspect = aspect;
      mask |= GDK_HINT_ASPECT;
    }
    gtk_window_set_geometry_hints(GTK_WINDOW(top), nullptr, &g, static_cast<GdkWindowHints>(mask));
  });
}

}  // namespace

const PlatformMonitors kGtkMonitors = {gm_enumerate,           gm_monitor_at_point,     gm_display_modes,
                                       gm_change_display_mode, gm_restore_display_mode, gm_fullscreen_on_monitor,
                                       gm_unfullscreen,        gm_set_size_hints};
