// Putting the renderer on the real GPU backend for the render tests.
#pragma once
#include <cstdlib>

#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/render/screen_modes.h"
#include "platform/gpu.h"
#include "platform/platform.h"

// Points the renderer at the EGL backend off-screen (no display needed) from
// a clean state: GPU drawing on, point sampling, no tree mode, no reset
// pending, no screen copy. Then opens the device: init_d3d's result, 0 when
// it opened.
inline int open_gpu_renderer() {
  g_platform.gpu = &kEglGpu;
  setenv("EGL_PLATFORM", "surfaceless", 0);
  reset_renderer_state();
  g_settings.use_direct3d = 1;
  g_settings.mag_filter = 0;
  g_gpu_tree_mode = 0;
  g_device_reset_pending = 0;
  set_screen_copy_layer(nullptr);
  return init_d3d();
}
