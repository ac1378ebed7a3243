// Changed areas carried through the layer tree.
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"

namespace {

LayerImage* image_of(ObjectNode* node) {
  if (!node || !node->payload || node->payload_kind != kPayloadLayerImage) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

// The root of a tree has no parent: a walk upwards stops below it.
bool is_tree_root(const ObjectNode* node) { return node == nullptr || node->parent == nullptr; }

// Whether a child's content shows in its group's composition.
bool shows_in_parent(const LayerImage* c) {
  if (!c->visible || c->alpha == 0) return false;
  if (c->mask_name && c->mask_name[0] && c->mask_fade == 0) return false;
  return c->content_kind == 0;
}

}  // namespace

int merge_dirty_rect(ObjectNode* node, DirtyRect* rect) {
  LayerImage* image = image_of(node);
  if (!image) return -1;
  return merge_dirty_rect_into(image, rect);
}

int mark_layer_dirty(ObjectNode* node) {
  LayerImage* image = image_of(node);
  if (!image) return -1;
  DirtyRect r = {0, 0, i64{image->width} - 1, i64{image->height} - 1};
  for (ObjectNode* cur = node; !is_tree_root(cur->parent);) {
    const LayerImage* ci = image_of(cur);
    r = dirty_rect_offset(r, ci->x, ci->y);
    ObjectNode* parent = cur->parent;
    if (!image_of(parent)) break;
    // An area that misses a sized parent shows nowhere above it.
    if (merge_dirty_rect(parent, &r) != 0) break;
    cur = parent;
  }
  return 0;
}

int propagate_layer_dirty_rect(ObjectNode* node) {
  LayerImage* image = image_of(node);
  if (!image) return -1;
  if (g_dirty_rect_drawing) collect_child_dirty_rects(node);
  if (!image->dirty_valid) return 0;  // nothing of it changed
  DirtyRect r = image->dirty;
  for (ObjectNode* cur = node;;) {
    LayerImage* ci = image_of(cur);
    if (merge_dirty_rect_into(ci, &r) != 0) break;
    r = dirty_rect_offset(r, ci->x, ci->y);
    if (is_tree_root(cur->parent) || !image_of(cur->parent)) break;
    cur = cur->parent;
  }
  return 0;
}

int collect_child_dirty_rects(ObjectNode* group) {
  if (!group) return -1;
  LayerImage* gi = image_of(group);
  if (!gi) return 0;
  u32 n = 0;
  for (ObjectNode* child = group->first_child; child && n < group->child_count; child = child->next, ++n) {
    LayerImage* ci = image_of(child);
    if (!ci) continue;
    if (child->is_group) collect_child_dirty_rects(child);
    // A window draws the leaves of a group whatever the group's own
    // visibility, opacity or mask: its area counts even when it is hidden.
    if (!child->is_group && !shows_in_parent(ci)) continue;
    DirtyRect r;
    if (ci->width > 0 && ci->height > 0) {
      r = dirty_rect_offset({0, 0, i64{ci->width} - 1, i64{ci->height} - 1}, ci->x, ci->y);
    } else if (child->is_group && ci->dirty_valid) {
      // A group without a size of its own shows what its children changed.
      r = dirty_rect_offset(ci->dirty, ci->x, ci->y);
    } else {
      continue;
    }
    merge_dirty_rect_into(gi, &r);
  }
  return 0;
}
