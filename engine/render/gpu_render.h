// The GPU frame: window 0's layer tree drawn on the device, one textured
// quad a tile, placed, scaled and rotated by the layer's GPU values and
// blended by its blend mode; read back into the screen-copy layer. Every
// window is still presented from its CPU picture; this render only feeds
// the screen-copy layer (and the GPU paste of the layer commands).
#pragma once
#include "engine/frame/types.h"
#include "platform/gpu.h"

struct LayerImage;
struct ObjectNode;
struct GpuQuad;

// 1: the tree is drawn every frame without the effect (the system command's
// switch); nothing shows that picture.
extern u8 g_gpu_tree_mode;
// Set after a rebuild: the next frame redraws everything.
extern u8 g_redraw_requested;

// The layer that receives the drawn screen (null: none). A layer freed while
// registered is forgotten at once.
void set_screen_copy_layer(ObjectNode* node);

// One GPU frame of window 0: 0. Nothing at once without the tree mode and a
// screen-copy layer, or without a device.
int render_frame_d3d();
int clear_render_target();
// Draws the textured layers under node, groups placed by their offsets as
// the CPU places them (ox, oy: node's own placement in pixels). 0, or -1
// when a mask path cannot be built.
int draw_layer_tree_d3d(ObjectNode* node, double ox, double oy);
// Draws one layer at its placement plus (ox, oy): 0 or -1.
int draw_layer_d3d(LayerImage* layer, LayerImage* mask, LayerImage* second, int enabled, int blend_mode,
                   double ox, double oy);
// Copies a drawn target (null: the back buffer) into width x height pixels.
void read_back_screen(GpuTexture source, u32* pixels, i32 width, i32 height);
// The quad states of a blend mode for a layer of that alpha (0..256) with or
// without per-pixel alpha: the texture-stage table, or the compositor's own
// formula where the table gives another picture.
void blend_states_for(int blend_mode, int alpha, int has_alpha, GpuQuad* quad, u8* stage1_texture);

// The GPU paste of the layer commands: the source layer is cut into textures
// from its own pixels, drawn on the back buffer by its GPU values and read
// back into the destination as a window-sized image. Setup: 0 or -1. Render:
// 0 (also without a device, when nothing changes), -1 after a size or
// memory error.
int gpu_paste_sprite_setup(ObjectNode* destination, ObjectNode* source);
int gpu_render_and_read_back(ObjectNode* destination, ObjectNode* source);

// GPU drawing was given up in the middle of the run: every layer of window
// 0's tree becomes a plain layer drawn by the CPU, and from now on the
// screen-copy layer is fed from the CPU picture (feed_screen_copy_from_cpu).
void give_layers_back_to_cpu();
// 1 once give_layers_back_to_cpu ran (reset_renderer_state clears it).
extern u8 g_gpu_given_up;
// After window 0 was composed by the CPU: a screen-copy layer of the logical
// size receives the composed picture (marked changed only when it differs).
void feed_screen_copy_from_cpu(const LayerImage* picture);

// Fills the layer commands' GPU hooks and the texture release of freed
// layers.
void install_gpu_hooks();
