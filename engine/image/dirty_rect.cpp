// Rectangle arithmetic and the merge of a changed area into one layer.
#include "engine/image/dirty_rect.h"

#include <algorithm>
#include <limits>

#include "engine/image/layer_image.h"

u8 g_dirty_rect_drawing = 1;

namespace {
i64 add_saturated(i64 a, i64 b) {
  i64 r;
  if (__builtin_add_overflow(a, b, &r))
    return b > 0 ? std::numeric_limits<i64>::max() : std::numeric_limits<i64>::min();
  return r;
}
}  // namespace

DirtyRect dirty_rect_union(const DirtyRect& a, const DirtyRect& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

DirtyRect dirty_rect_offset(const DirtyRect& r, i64 dx, i64 dy) {
  return {add_saturated(r.left, dx), add_saturated(r.top, dy), add_saturated(r.right, dx), add_saturated(r.bottom, dy)};
}

int merge_dirty_rect_into(LayerImage* image, DirtyRect* rect) {
  if (!image || !rect) return -1;
  if (image->width != 0 && image->height != 0) {
    if (rect->left < image->width && rect->top < image->height && rect->right >= 0 && rect->bottom >= 0) {
      rect->left = std::max<i64>(rect->left, 0);
      rect->top = std::max<i64>(rect->top, 0);
      rect->right = std::min<i64>(rect->right, image->width - 1);
      rect->bottom = std::min<i64>(rect->bottom, image->height - 1);
    } else {
      *rect = kMissedDirtyRect;
      return -1;
    }
  }
  image->is_dirty = 1;
  if (image->merge_count != 0 && image->dirty_valid) {
    image->dirty = dirty_rect_union(image->dirty, *rect);
  } else {
    image->dirty = *rect;
    image->dirty_valid = 1;
    image->merge_count++;
  }
  return 0;
}
