// Creating, loading, sharing, masking and configuring a layer from one set
// of settings (the layer-load command's), and group layers.
#pragma once
#include "engine/frame/param_set.h"
#include "engine/frame/types.h"

struct LayerImage;
struct ObjectNode;

// What a layer load asks of the renderer. Each may be null: without
// d3d_drawing (or when it says 0) the Direct3D parameters do nothing.
// Filled at start-up by their owners.
struct LayerCommandHooks {
  // 1 while Direct3D drawing is configured.
  int (*d3d_drawing)();
  // Creates the layer's textures now: 0 or -1.
  int (*create_textures)(LayerImage* image);
  // The capture layer of the Direct3D frame render (null clears it).
  void (*set_capture_layer)(ObjectNode* node);
  // Renders the Direct3D frame now.
  void (*render_frame_now)();
  // The GPU paste of the layer drawing request: the source cut into
  // textures (0, -1 when the device cannot take it), then drawn and read
  // back into the destination (0, -1 after a reported size or memory error).
  int (*gpu_paste_setup)(ObjectNode* destination, ObjectNode* source);
  int (*gpu_paste_render)(ObjectNode* destination, ObjectNode* source);
};
extern LayerCommandHooks g_layer_command_hooks;

// Creates the group layer path (order key order_key) with a cleared buffer
// of width x height marked wholly changed; null after a reported error (the
// node is not made when the size is refused).
LayerImage* create_group_layer(const char* path, i32 width, i32 height, i64 order_key);

// Flattens a group: composes its children into its own pixels over its
// whole area. 0, or -1 after a reported error. The layer load is handed one
// by its caller (the drawing code owns it).
using GroupFlatten = int (*)(ObjectNode* node);

// Creates, loads or changes the layer that the settings name, by parameter
// id: 0 and 1 the name (1 a number appended as ".n"), 2 visible, 3 opacity,
// 4/5 and 28/29 the position in pixels and hundredths, 6 the order key,
// 7/8 tone level and colour, 9/10 the size, 25-27 and 30-45 the GPU
// settings, 46 the image file, 47 the layer to share, 48 the mask layer,
// 50 mask threshold, 51/52 mask name, 53 softness, 54 blend mode, 56/57 the
// two script values; each number applies its assignment operator, bounded
// fields clamp. A group given a new size is flattened with flatten (null:
// its cleared buffer stays). Messages give the settings' request name. 0,
// or -1 after a reported error.
int layer_load_image(const ParamSet& settings, GroupFlatten flatten);
