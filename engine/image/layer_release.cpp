#include "engine/image/layer_release.h"

#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"

namespace {
LayerImage* image_of(const ObjectNode* node) {
  return node && node->payload_kind == kPayloadLayerImage ? static_cast<LayerImage*>(node->payload) : nullptr;
}
bool is_system_object(const ObjectNode* node) {
  for (ObjectNode* s : g_system_objects)
    if (s == node) return true;
  return false;
}
}  // namespace

void release_layer_frame_set(LayerImage* image) {
  if (image && image->frame_set && g_layer_release_hooks.release_frame_set)
    g_layer_release_hooks.release_frame_set(image);
}

void release_object_images(ObjectNode* node) {
  if (!node) return;
  for (WindowRecord* w : g_windows) {
    if (!w) continue;
    if (w->root_layer == node) w->root_layer = nullptr;
    if (w->drag_layer == node) w->drag_layer = nullptr;
  }
  object_detach(node);
  LayerImage* image = image_of(node);
  if (image) {
    // The last holder frees the pixels, the frame set, the textures (the
    // release hooks) and the record.
    release_layer_image(image);
    node->payload = nullptr;
  }
  if (is_system_object(node)) return;
  node->payload_kind = kPayloadNone;
  object_subtree_free(node);
}

void release_object_tree(ObjectNode* node) {
  if (!node) return;
  ObjectNode* c = node->first_child;
  while (c) {
    ObjectNode* next = c->next;
    if (c->is_group) release_object_tree(c);
    else release_object_images(c);
    c = next;
  }
  release_object_images(node);
}

void layer_absolute_position(const ObjectNode* node, i64* x, i64* y) {
  i64 ax = 0, ay = 0;
  for (const ObjectNode* n = node; n && n->parent; n = n->parent) {
    const LayerImage* im = image_of(n);
    if (im) {
      ax += im->x;
      ay += im->y;
    }
  }
  *x = ax;
  *y = ay;
}

i64 layer_pixel_at(const ObjectNode* node, i64 x, i64 y, int mode) {
  const LayerImage* im = image_of(node);
  if (!im || !im->pixels || im->width < 1 || im->height < 1) return -1;
  i64 left = 0, top = 0;
  layer_absolute_position(node, &left, &top);
  // Script coordinates are any 64-bit numbers: compare without overflow.
  __int128 px = static_cast<__int128>(x) - left, py = static_cast<__int128>(y) - top;
  if (px < 0 || py < 0 || px >= im->width || py >= im->height) return -1;
  // Rows are width pixels apart (a kept larger buffer keeps that stride).
  u32 p = im->pixels[static_cast<u64>(py) * static_cast<u64>(im->width) + static_cast<u64>(px)];
  if (mode == 1) return static_cast<i64>(p & 0xFFFFFFu);
  if (mode == 2) return static_cast<i64>(p >> 24);
  return static_cast<i64>(static_cast<u64>(p));
}
