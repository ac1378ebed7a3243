// Releasing layers with their images, and reading a layer's pixels at a
// point: for the layer commands and the save-data loader.
#pragma once
#include "engine/frame/types.h"

struct ObjectNode;
struct LayerImage;

// Releases one layer node: windows showing it lose it as their root layer,
// the node leaves the tree, its image loses one holder (freed with its
// pixels, frame set and textures by the last one), and the node itself is
// freed. The first nodes made at start-up ("W0" and the like) are detached
// and keep their memory, since the engine holds them by pointer. The node's
// children must have been released first (release_object_tree does that).
void release_object_images(ObjectNode* node);
// Releases the children of node depth-first (groups with theirs), then node.
void release_object_tree(ObjectNode* node);
// Frees an image's frame set through the release hook that attaching a
// set installs (engine/image/frame_set.h).
void release_layer_frame_set(LayerImage* image);

// The position of node's image summed with every ancestor's, up to the
// first node without a parent.
void layer_absolute_position(const ObjectNode* node, i64* x, i64* y);
// The pixel of node's image at the absolute point (x, y): mode 1 the colour
// (B + G x 256 + R x 65536), mode 2 the alpha, other modes the whole 32-bit
// pixel (zero-extended, so an opaque white reads 0xFFFFFFFF, never -1). -1
// outside the image or when the layer has no pixels.
i64 layer_pixel_at(const ObjectNode* node, i64 x, i64 y, int mode);
