// Layer textures: a layer drawn by the GPU is cut into a grid of tiles, each
// one texture, filled from the layer's pixels when the load command asks,
// after a device rebuild and by the GPU paste.
#pragma once
#include "engine/frame/types.h"

struct LayerImage;
struct LayerTextureSet;
struct ObjectNode;

// A creation request: the size to cut, the limits, the record whose pixels
// are read and the record whose texture set is built.
struct TextureRequest {
  i32 width = 0, height = 0;
  float half_width = 0, half_height = 0;
  i32 limit_w = 0, limit_h = 0;
  LayerImage* source = nullptr;
  LayerImage* target = nullptr;
  // Leaves the target's rotation pivot as it is (a rebuild of textures the
  // layer had already).
  u8 keep_pivot = 0;
};
extern TextureRequest g_texture_request;

constexpr int kTextureWalkRelease = 1;
constexpr int kTextureWalkRecreate = 2;
constexpr int kTextureWalkToBitmap = 3;

// The tile grid for width x height with the caps in force (device maximum,
// the renderer's tile maximum, the layer's limits). 0, or -1 after the
// "TXNUM" / "TYNUM" box (too many columns, rows or tiles in all).
int compute_tile_grid(LayerTextureSet* grid, i32 width, i32 height, i32 limit_w, i32 limit_h);
// Cuts the layer into textures from its own pixels: 0 or -1.
int create_layer_textures_for(LayerImage* layer, i32 limit_w, i32 limit_h);
// Runs the stored request: reuse 0 makes new textures, reuse 1 refills the
// target's textures (made anew when their grid has another shape). 0 or -1.
int create_layer_textures(int reuse);
// Releases every texture of the layer. 0.
int release_layer_textures(LayerImage* layer);
// Walks node's children (groups first, recursively): kTextureWalkRelease
// releases every layer's textures; kTextureWalkRecreate makes the textures
// of every textured layer with pixels anew (keeping their pivots), -1 at the
// first failure; kTextureWalkToBitmap releases every layer's textures and
// makes it a plain layer again, drawn from its pixels by the CPU. Nothing
// without a payload with pixels at node (release and to-bitmap: without a
// payload).
int for_each_textured_layer(ObjectNode* node, int mode);
// Frees the scratch buffer of the uploads.
void free_texture_scratch();
