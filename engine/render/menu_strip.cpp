// The menu strip in full screen: the "ztMncl" window carries the menu bar at
// the top of the screen while the cursor is there, and goes away (the
// picture under it drawn again) when the cursor leaves it.
#include "engine/frame/engine_steps.h"
#include "engine/frame/input.h"
#include "engine/frame/window.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/render/compositor.h"
#include "engine/vm/menu_sets.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {

// The whole picture of window 0's root layer counts as changed, so that the
// next frame draws again what the strip covered.
void mark_root_changed() {
  LayerImage* img = window_root_image(0);
  if (!img) return;
  DirtyRect whole = {0, 0, i64{img->width} - 1, i64{img->height} - 1};
  merge_dirty_rect_into(img, &whole);
  img->dirty = whole;
  img->dirty_whole = 1;
}

}  // namespace

void update_fullscreen_menu_strip() {
  UiWindow strip = g_menu_strip_window;
  WindowRecord* w = g_windows[0];
  const PlatformUi* u = g_platform.ui;
  if (strip == kNoWindow || !w || !u) return;
  if (g_screen_mode != 1) {
    if (g_menu_strip_shown) {
      u->show_window(strip, ui::kSwHide);
      g_menu_strip_shown = 0;
    }
    return;
  }
  if (g_menu_strip_shown) {
    // A click on the strip gives it the focus, and without the focus the
    // main loop reads no cursor: while shown, the strip reads it itself,
    // so that it goes away when the cursor leaves it.
    read_window_cursor(0);
  } else if (w->mouse_y < g_menu_strip_height && g_menu_sets.handles[kMenuSetBar][0]) {
    // Shown without taking the focus: the main window keeps its keys, its
    // clocks and the cursor position the strip's hiding depends on.
    u->show_window(strip, ui::kSwShowNoActivate);
    g_menu_strip_shown = 1;
    read_window_cursor(0);
  }
  if (w->mouse_y >= g_menu_strip_height && g_menu_strip_shown) {
    u->show_window(strip, ui::kSwHide);
    g_menu_strip_shown = 0;
    mark_root_changed();
  }
}
