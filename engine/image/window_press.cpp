// Whether a left press lands on the window's drag layer: one of its pixels
// with colour (low 24 bits not 0) under the cursor. Such a press lets the
// player drag a frameless window by its picture.
#include "engine/frame/engine_steps.h"
#include "engine/frame/input.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"

namespace {

LayerImage* layer_image(ObjectNode* node) {
  if (!node || !node->payload || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

i64 floor_div(i64 a, i64 b) {
  i64 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) q -= 1;
  return q;
}

}  // namespace

int window_pixel_opaque(int window, i32 x, i32 y) {
  if (window < 0 || window >= kWindowCount || !g_windows[window]) return 0;
  WindowRecord* r = g_windows[window];
  LayerImage* img = layer_image(r->drag_layer);
  if (!img || !img->pixels) return 0;
  // Client pixels to the window's logical pixels (window 0 may be shown
  // scaled and off-centre).
  i64 lx = x, ly = y;
  if (window == 0) {
    const WindowMapping& m = g_window0_mapping;
    lx -= m.offset_x;
    ly -= m.offset_y;
    if (m.display_width > 0) lx = floor_div(lx * r->logical_width, m.display_width);
    if (m.display_height > 0) ly = floor_div(ly * r->logical_height, m.display_height);
  }
  // The layer sits at its own offset plus those of its parents.
  for (ObjectNode* n = r->drag_layer; n && n != r->root_layer; n = n->parent) {
    if (LayerImage* p = layer_image(n)) {
      lx -= p->x;
      ly -= p->y;
    }
  }
  if (lx < 0 || ly < 0 || lx >= img->width || ly >= img->height) return 0;
  return (img->pixels[ly * img->width + lx] & 0xFFFFFFu) != 0 ? 1 : 0;
}
