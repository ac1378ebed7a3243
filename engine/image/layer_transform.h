// Rotation of a layer's image about its centre, pixel transfers between
// layers (plain and weighted copies, a cross-fade of two layers into a
// third, equality and difference masks) and trimming of transparent
// borders. Each writes into the source itself or, with use_destination,
// into the destination layer, installs new buffers whole and marks the
// changed layer dirty.
#pragma once
#include "engine/frame/types.h"

struct ObjectNode;
struct LayerImage;

constexpr int kRotateFillOutside = 11;
constexpr int kRotateNearest = 12;

// The byte with which rotation mode 11 fills what lies outside the turned
// image.
extern u8 g_rotation_fill_byte;

// A transfer: the source rectangle and where it lands in the destination;
// it is clipped to the source and to every layer it touches.
struct TransferRect {
  i64 src_x = 0, src_y = 0;
  i64 width = 0, height = 0;
  i64 dst_x = 0, dst_y = 0;
};

// Whole degrees, any sign. Mode 11 fills outside with the fill byte, 12
// leaves it (a new buffer starts zeroed). 0, or -1 after a size or memory
// error (the target unchanged).
int rotate_layer(ObjectNode* source, ObjectNode* destination, i64 angle, int use_destination, int mode);
// Bilinear rotation, filled outside as mode 11.
int rotate_layer_alt(ObjectNode* source, ObjectNode* destination, i64 angle, int use_destination);

// Copies by the source layer's alpha (0 nothing, 256 over onto alpha, else
// with that opacity). 0.
int copy_layer_pixels(ObjectNode* source, ObjectNode* destination, const TransferRect& rect);
// The same weighted by the destination layer's alpha too. 0.
int copy_layer_pixels_weighted(ObjectNode* source, ObjectNode* destination, const TransferRect& rect);
// destination = first + (second - first) x (amount + 1) / 256 per byte,
// amount clamped to 0..255. 0.
int crossfade_layers(ObjectNode* first, ObjectNode* second, ObjectNode* destination, const TransferRect& rect,
                     i64 amount);
// Pixels equal in both become 0, others take the source's. 0.
int mask_layer_difference(ObjectNode* source, ObjectNode* destination, const TransferRect& rect);
// Pixels equal in both stay, others become 0. 0.
int mask_layer_equal(ObjectNode* source, ObjectNode* destination, const TransferRect& rect);

// Cuts the layer to the box of the pixels whose alpha exceeds the threshold
// (a signed byte); sides: 8 top, 4 bottom, 2 left, 1 right (a clear bit
// keeps that edge). Nothing changes when no pixel exceeds it. 0 or -1.
int trim_layer(ObjectNode* source, ObjectNode* destination, int use_destination, int sides, i64 threshold);
