// The GPU device: one off-screen device with a back buffer of a fixed size,
// textures (tiles of layers and render targets), textured quads drawn with
// blend states, texture stages or one of the effect's passes, and read-back
// into 32-bit B, G, R, A pixels, top row first.
//
// Every call is made on the thread that runs frames (start-up and shut-down
// on the GUI thread); the device is current on the calling thread while a
// call runs and `release_current` lets another thread take it. No call is
// made while another runs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using GpuTexture = void*;  // null = none

namespace gpu {
// Device creation attempts, in the order they are tried.
constexpr int kAttemptHardware = 0;  // a hardware EGL device
constexpr int kAttemptDefault = 1;   // the default display
constexpr int kAttemptSoftware = 2;  // Mesa's software device

// Why an open failed, by the step of the device's making (open_device's
// negative results, in the order the steps are taken).
constexpr int kOpenNoDisplay = -1;        // no display, or it cannot be initialised
constexpr int kOpenNoDisplayMode = -2;    // no frame-buffer configuration on the display
constexpr int kOpenNoDevice = -3;         // no rendering context of the needed version
constexpr int kOpenNoBackBuffer = -4;     // the back buffer's frame buffer cannot be made
constexpr int kOpenNoReadBack = -5;       // the read-back buffer cannot be made
constexpr int kOpenNoVertexLayout = -6;   // the quad's vertex array and buffer cannot be made

// Blend factors and operations of the blend state.
enum Blend : std::uint8_t {
  kZero,
  kOne,
  kSrcColor,
  kInvSrcColor,
  kSrcAlpha,
  kInvSrcAlpha,
  kDestColor,
  kInvDestColor,
};
enum BlendOp : std::uint8_t { kAdd, kSubtract, kRevSubtract, kMin, kMax };
// Texture-stage operations and arguments.
enum StageOp : std::uint8_t { kDisable, kSelectArg1, kModulate, kBlendCurrentAlpha };
enum StageArg : std::uint8_t { kTexture, kDiffuse, kTFactor, kCurrent };
// Passes of the effect; kNoPass draws by the texture stages.
constexpr int kNoPass = -1;
constexpr int kPassSecond = 0;  // Pass0: a layer with a second layer
constexpr int kPassMask = 1;    // Pass1: a layer with a transition mask
}  // namespace gpu

struct GpuStage {
  std::uint8_t colour_op = gpu::kDisable, colour_arg1 = gpu::kTexture, colour_arg2 = gpu::kCurrent;
  std::uint8_t alpha_op = gpu::kDisable, alpha_arg1 = gpu::kTexture, alpha_arg2 = gpu::kCurrent;
};

// One textured quad, four vertices in strip order (x0 y1, x1 y1, x0 y0,
// x1 y0), positions in target pixels with Direct3D 9's convention (a pixel's
// centre at whole coordinates), texture coordinates 0..1 across a tile.
struct GpuQuad {
  float x[4] = {}, y[4] = {}, u[4] = {}, v[4] = {};
  std::uint32_t diffuse = 0xFFFFFFFF;  // 0xAARRGGBB
  std::uint32_t texture_factor = 0xFFFFFFFF;
  GpuTexture textures[2] = {};  // stage 0 and stage 1 (the pass's second sampler)
  GpuStage stages[2];
  std::uint8_t src_blend = gpu::kSrcAlpha, dst_blend = gpu::kInvSrcAlpha, blend_op = gpu::kAdd;
  int pass = gpu::kNoPass;
  float alpha_val = 1.0f, fade_val = 0.0f, fade_val2 = 0.0f;
  std::uint8_t linear_filter = 0;      // magnification: 0 nearest, 1 linear
  std::uint8_t min_linear_filter = 0;  // minification: 0 nearest, 1 linear
  // Between mip levels: -1 none, 0 nearest, 1 linear. Tiles hold one level,
  // so each choice samples that level.
  std::int8_t mip_filter = -1;
  // The part of the tile that holds the image (texture coordinates); the
  // padding beyond it draws nothing.
  float valid_u = 1.0f, valid_v = 1.0f;
  // 0..18 (and formula_table set): instead of the blend state, the quad
  // computes the CPU compositor's blend of that mode from a copy of the
  // target under it: per channel d + ((T[s][d] - d) w >> 8), w the weight
  // of the source (opacity, and alpha + 1 when source_alpha), all four bytes
  // T[s][d] at opacity 256 without source alpha. -1: the blend state.
  int formula_mode = -1;
  int formula_opacity = 256;
  std::uint8_t formula_source_alpha = 0;
  const std::uint8_t* formula_table = nullptr;  // 65536 bytes, [s << 8 | d]
  // Pass1: the mask weight of each mask byte (256 entries, 0..256).
  const std::int32_t* mask_weights = nullptr;
  // With clip_on 1 the quad touches only the target pixels (x, y) with
  // clip_left <= x < clip_right and clip_top <= y < clip_bottom.
  std::uint8_t clip_on = 0;
  int clip_left = 0, clip_top = 0, clip_right = 0, clip_bottom = 0;
};

struct GpuCaps {
  int max_texture_width = 0;
  int max_texture_height = 0;
  int shader_level = 0;  // 20 and above: the effect's pixel shaders run
};

struct PlatformGpu {
  // Opens the device by creation attempt (gpu::kAttempt*) with a back buffer
  // of width x height. 0, or the gpu::kOpenNo* of the step that failed
  // (nothing stays open; a device open already or a size below 1 gives
  // kOpenNoDisplay).
  int (*open_device)(int attempt, int width, int height);
  // Releases the device and everything made on it. Nothing without one.
  void (*close_device)();
  // 1 while a device is open.
  int (*is_open)();
  // 0 usable; 1 lost and ready to be rebuilt (a context reset, or the test
  // hook destroyed the context); -1 no device.
  int (*device_status)();
  // The open device's limits. 0, or -1 without a device.
  int (*get_caps)(GpuCaps* out);
  // The effect: compiles its program (0 or -1), finds a technique by name
  // (0, or -1 when there is none) and makes it current (0 or -1).
  int (*compile_effect)();
  int (*find_technique)(const char* name);
  int (*set_technique)(const char* name);
  // A texture of width x height; bits 16 keeps 4 bits a channel. Null on
  // failure (no device, a side below 1 or above the maximum, no memory).
  GpuTexture (*create_texture)(int width, int height, int bits);
  // Fills the whole texture from width x height B, G, R, A pixels (top row
  // first, width pixels a row); 16-bit textures are dithered when dither is
  // 1. 0, or -1 for a size that is not the texture's or no device.
  int (*upload_texture)(GpuTexture texture, const std::uint32_t* pixels, int width, int height, int dither);
  void (*release_texture)(GpuTexture texture);
  // The target of later clears and draws: a texture, or null for the back
  // buffer. 0 or -1.
  int (*set_target)(GpuTexture texture);
  // Fills the whole target with 0xAARRGGBB. 0 or -1.
  int (*clear)(std::uint32_t argb);
  // Draws one quad into the target. 0 or -1.
  int (*draw_quad)(const GpuQuad* quad);
  // Copies the width x height top-left block of a target (null: the back
  // buffer) into pixels, top row first. 0, or -1 (no device, a size beyond
  // the target's).
  int (*read_back)(GpuTexture source, std::uint32_t* pixels, int width, int height);
  // Lets the device be taken by another thread.
  void (*release_current)();
  // Test hook: destroys the context under the open device, as a driver reset
  // would; device_status then answers 1.
  void (*lose_device)();
  // The open device's renderer as the driver names it (the same text while
  // the device stays open); "" without a device.
  const char* (*renderer_name)();
};

// The real backend: EGL with OpenGL 3.3 core (Mesa off-screen).
extern const PlatformGpu kEglGpu;
// The fake: records every call, fails chosen steps, reports loss on demand.
extern const PlatformGpu kFakeGpu;

// ---- the fake's controls (tests) ----
// Forgets every call, texture and failure; limits 8192 and shader level 20.
void fake_gpu_reset();
// Makes every later call of the named step fail: "open0", "open1", "open2"
// (the attempts: no rendering context), "display", "display_mode",
// "back_buffer", "read_back_buffer", "vertex_layout" (those steps of every
// open), "compile_effect", "find_technique", "set_technique",
// "create_texture", "create_texture#N" (only the N-th creation from now,
// 1-based), "upload_texture", "set_target", "clear", "draw_quad",
// "read_back". An empty name clears them.
void fake_gpu_fail(const std::string& step);
void fake_gpu_set_caps(int max_width, int max_height, int shader_level);
// Every call made since the reset, one line each ("open 2 640 480",
// "create_texture 512 256 32", "draw_quad", ...).
const std::vector<std::string>& fake_gpu_calls();
// Textures alive now.
int fake_gpu_live_textures();
// The quads drawn since the reset.
const std::vector<GpuQuad>& fake_gpu_quads();
