// Changed areas of layers.
//
// A DirtyRect is a rectangle in a layer's own pixel coordinates, right and
// bottom inclusive (a whole w x h image is 0, 0, w - 1, h - 1). A changed
// area enters a layer's dirty state only through merge_dirty_rect and
// mark_layer_dirty; propagate_layer_dirty_rect carries a group's own changed
// area up the tree.
#pragma once
#include "engine/frame/types.h"

struct DirtyRect {
  i64 left;
  i64 top;
  i64 right;
  i64 bottom;
};

// The empty rectangle: every union with it gives the other operand.
constexpr i64 kDirtyEmptyLow = 999999999;
constexpr i64 kDirtyEmptyHigh = -999999999;
constexpr DirtyRect kEmptyDirtyRect = {kDirtyEmptyLow, kDirtyEmptyLow, kDirtyEmptyHigh, kDirtyEmptyHigh};
// What merge_dirty_rect leaves in a rectangle that misses the layer.
constexpr DirtyRect kMissedDirtyRect = {-999999999, -999999999, -999999999, -999999999};

inline bool dirty_rect_is_empty(const DirtyRect& r) { return r.left > r.right || r.top > r.bottom; }
// Smallest rectangle holding both (the empty rectangle is neutral).
DirtyRect dirty_rect_union(const DirtyRect& a, const DirtyRect& b);
// The rectangle moved by (dx, dy); coordinates saturate instead of wrapping.
DirtyRect dirty_rect_offset(const DirtyRect& r, i64 dx, i64 dy);

struct LayerImage;
struct ObjectNode;

// Engine switch for dirty-rectangle drawing; on by default. While on, a
// group's propagation first collects the areas of its children.
extern u8 g_dirty_rect_drawing;

// Merges rect into image's dirty state. An image of non-zero size clips rect
// to itself (rect is updated in place); a rect that misses the image becomes
// kMissedDirtyRect and -1 is returned with nothing else changed. A zero-size
// image (a pure group) takes rect unclipped. Sets is_dirty; the first merge
// since the end-of-frame reset replaces dirty, later ones widen it.
int merge_dirty_rect_into(LayerImage* image, DirtyRect* rect);
// The same for the LayerImage of a node; -1 without node or payload.
int merge_dirty_rect(ObjectNode* node, DirtyRect* rect);
// Declares the whole area of node's image changed in every ancestor up to
// (not including) the root of its tree; node's own dirty is not touched. The
// walk stops early when the area misses an ancestor that has a size, since
// nothing of it shows further up. 0, or -1 without node or payload.
int mark_layer_dirty(ObjectNode* node);
// Carries node's own dirty rectangle up to the child of the tree root,
// merging it into node and each ancestor in turn. 0, or -1 without node or
// payload.
int propagate_layer_dirty_rect(ObjectNode* node);
// Merges the area of every visible child of group into group's dirty; child
// groups are collected recursively and then count with their own area.
// 0, or -1 without node.
int collect_child_dirty_rects(ObjectNode* group);
