// The GPU device of the engine: created on the monitor that shows window 0,
// with its render textures, its white and black textures and the effect;
// checked once per run; rebuilt from nothing after a loss. Any failure ends
// in CPU drawing for the rest of the run.
//
// Runs on the thread that runs frames, at start-up and shut-down on the GUI
// thread; no lock.
#pragma once
#include "engine/frame/types.h"
#include "platform/gpu.h"

struct RendererState {
  u8 device = 0;  // the device (with its back buffer and read-back) exists
  GpuTexture white_texture = nullptr;
  GpuTexture black_texture = nullptr;
  GpuTexture snapshot_texture = nullptr;
  GpuTexture render_texture = nullptr;
  u32 texture_format = 21;  // 21 A8R8G8B8, 26 A4R4G4B4
  u32 texture_bits = 32;
  i32 back_buffer_width = 0, back_buffer_height = 0;
  i32 device_max_texture_width = 256, device_max_texture_height = 256;
  i32 max_tile_width = 512, max_tile_height = 256;
  u8 effect = 0;  // the effect compiled and its technique set
  i32 adapter = 0;
  i32 attempt = -1;  // the creation attempt that made the device
};
extern RendererState g_renderer;
// Cleared by the first caps check of the run.
extern u8 g_caps_pending;

// The effect's technique.
constexpr const char* kEffectTechnique = "ZT_ShaderTest1";

// init_d3d (engine_steps.h): 0 ready, 1 unusable (the caller draws with the
// CPU; nothing of the device is left), -1 stop. Returns 0 at once while GPU
// drawing is off.
int create_d3d_device();
int create_device_with_fallbacks(int adapter);
int check_device_caps();
int set_render_states();
int test_shader_technique();
// 0 rebuilt, -1 CPU drawing from now on (after its one box).
int recover_d3d_device();
int release_d3d_device();
// 1 while the device and its back buffer exist.
int gpu_device_ready();
// The device's switches back to what a fresh run starts with (tests).
void reset_renderer_state();
