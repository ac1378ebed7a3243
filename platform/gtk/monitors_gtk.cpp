// Monitors and full screen on GTK 3: GDK's monitors in GDK's order, full
// screen through gtk_window_fullscreen_on_monitor. On X11 with RandR 1.2 a
// monitor offers the modes of its output and can be put into one of them
// (see display_modes_x11.cpp); elsewhere (Wayland, a server without RandR)
// it offers only its current mode, and any other mode is refused.
#include <gtk/gtk.h>

#include "platform/gtk/display_modes_x11.h"
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
  DisplayMode current;
  if (!current_mode(index, &current)) return 0;
  int n = 0;
  gtk_ui_run_on_gui_thread([&] { n = x11_output_modes(display(), index, current.bits, out, max); });
  if (n > 0) {
    // The current mode is always among them.
    for (int i = 0; i < n; ++i)
      if (out[i].width == current.width && out[i].height == current.height) return n;
    if (n < max) {
      out[n++] = current;
      return n;
    }
  }
  out[0] = current;
  return 1;
}

int gm_change_display_mode(int index, int width, int height, int bits) {
  DisplayMode current;
  if (!current_mode(index, &current)) return -1;
  if (current.width == width && current.height == height && current.bits == bits) return 0;
  // The colour depth of an X screen is fixed.
  if (bits != current.bits) return -1;
  int result = -1;
  gtk_ui_run_on_gui_thread([&] { result = x11_set_output_mode(display(), index, width, height); });
  return result;
}

void gm_restore_display_mode() {
  gtk_ui_run_on_gui_thread([] { x11_restore_output_modes(); });
}

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
    // The hints bind the whole window, the menu bar included: the bar's
    // height is added to the limits, and is the base size the desktop takes
    // off before it holds the window to the aspect.
    const int bar = gtk_ui_bar_height(top);
    GdkGeometry g{};
    int mask = 0;
    if (min_width > 0 && min_height > 0) {
      g.min_width = min_width;
      g.min_height = min_height + bar;
      mask |= GDK_HINT_MIN_SIZE;
    }
    if (max_width > 0 && max_height > 0) {
      g.max_width = max_width;
      g.max_height = max_height + bar;
      mask |= GDK_HINT_MAX_SIZE;
    }
    if (aspect > 0) {
      g.min_aspect = aspect;
      g.max_aspect = aspect;
      g.base_width = 0;
      g.base_height = bar;
      mask |= GDK_HINT_ASPECT | GDK_HINT_BASE_SIZE;
    }
    gtk_window_set_geometry_hints(GTK_WINDOW(top), nullptr, &g, static_cast<GdkWindowHints>(mask));
  });
}

}  // namespace

const PlatformMonitors kGtkMonitors = {gm_enumerate,           gm_monitor_at_point,     gm_display_modes,
                                       gm_change_display_mode, gm_restore_display_mode, gm_fullscreen_on_monitor,
                                       gm_unfullscreen,        gm_set_size_hints};
