// Set-up, checks, loss and rebuild of the GPU device. See gpu_device.h.
#include "engine/render/gpu_device.h"

#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/system_info.h"
#include "engine/frame/window.h"
#include "engine/image/emote_plugin.h"
#include "engine/image/layer_image.h"
#include "engine/render/compositor.h"
#include "engine/render/gpu_render.h"
#include "engine/render/layer_textures.h"
#include "engine/render/present.h"
#include "engine/render/screen_modes.h"
#include "engine/vm/object_tree.h"
#include "platform/platform.h"

RendererState g_renderer;
u8 g_caps_pending = 1;

namespace {

const PlatformGpu* dev() { return g_platform.gpu; }

void release_texture(GpuTexture* t) {
  if (*t && dev()) dev()->release_texture(*t);
  *t = nullptr;
}

// A window-sized texture of one colour (the white and black textures).
GpuTexture solid_texture(u32 colour) {
  const i32 w = g_renderer.back_buffer_width, h = g_renderer.back_buffer_height;
  GpuTexture t = dev()->create_texture(w, h, static_cast<int>(g_renderer.texture_bits));
  if (!t) return nullptr;
  std::vector<u32> px(static_cast<size_t>(w) * static_cast<size_t>(h), colour);
  if (dev()->upload_texture(t, px.data(), w, h, 0) != 0) {
    dev()->release_texture(t);
    return nullptr;
  }
  return t;
}

// While a lost device is rebuilt the steps show no boxes of their own: a
// rebuild that fails shows only its one box about the move to the CPU.
u8 g_rebuilding = 0;

template <class... A>
void device_box(const char* caption, const char* text, const A&... args) {
  if (!g_rebuilding) show_error_box(caption, text, args...);
}

// Cuts the device down after a failed check, so that nothing tests "the
// device exists" and keeps drawing on a device that failed.
int give_up(int code) {
  release_d3d_device();
  return code;
}

}  // namespace

int gpu_device_ready() { return g_renderer.device && dev() && dev()->is_open() ? 1 : 0; }

void reset_renderer_state() {
  g_renderer = RendererState{};
  g_caps_pending = 1;
  g_gpu_given_up = 0;
}

int init_d3d() {
  install_gpu_hooks();
  if (!g_settings.use_direct3d) return 0;
  g_renderer.texture_format = g_settings.texture_format;
  g_renderer.texture_bits = g_settings.texture_bits;
  g_renderer.max_tile_width = g_settings.max_tile_width;
  g_renderer.max_tile_height = g_settings.max_tile_height;
  if (create_d3d_device() != 0) return give_up(1);
  // The E-mote driver is made on each new device.
  if (g_emote.loaded) {
    reset_emote_transforms();
    emote_init_driver(dev());
  }
  if (check_device_caps() != 0) return give_up(1);
  const int states = set_render_states();
  if (states != 0) return give_up(states);
  if (test_shader_technique() != 0) return give_up(1);
  dev()->release_current();
  return 0;
}

int create_d3d_device() {
  enumerate_monitors();
  // The adapter is the monitor under window 0; our devices are off-screen
  // and the same on every monitor, so it only picks the full-screen size.
  const UiWindow handle = g_windows[0] ? g_windows[0]->handle : kNoWindow;
  g_renderer.adapter = find_window_monitor(handle, nullptr);
  // The device is made for this monitor: a later move counts as a change of
  // monitor only when it leaves it.
  if (handle != kNoWindow) g_screen_modes.monitor_index = g_renderer.adapter;
  g_screen_modes.monitor_width = g_monitor_table.width[g_renderer.adapter];
  g_screen_modes.monitor_height = g_monitor_table.height[g_renderer.adapter];
  if (!dev()) {
    device_box(nullptr, sjis_message("[DX]オブジェクトを生成できませんでした。"));
    return -1;
  }
  return create_device_with_fallbacks(g_renderer.adapter);
}

int create_device_with_fallbacks(int adapter) {
  i32 w = 0, h = 0;
  if (g_windows[0]) w = g_windows[0]->logical_width, h = g_windows[0]->logical_height;
  if (w < 1 || h < 1) get_logical_screen_size(&w, &h);
  g_renderer.back_buffer_width = w;
  g_renderer.back_buffer_height = h;
  // The attempts stand in for the vertex-processing choices; what fails
  // before a context exists (the display, its configuration) may work on
  // the next attempt's display. The furthest step reached names the failure.
  int furthest = 0;
  for (int attempt = gpu::kAttemptHardware; attempt <= gpu::kAttemptSoftware; ++attempt) {
    if (attempt == gpu::kAttemptHardware && g_settings.skip_hardware_vertex_processing) continue;
    const int rc = dev()->open_device(attempt, w, h);
    if (rc == 0) {
      g_renderer.device = 1;
      g_renderer.attempt = attempt;
      return 0;
    }
    // A context was made and a later step failed: no other attempt is tried,
    // as no other way of making the device helps there.
    if (rc <= gpu::kOpenNoBackBuffer) {
      if (rc == gpu::kOpenNoBackBuffer) {
        device_box(sjis_message("エラー"), sjis_message("バックバッファサーフェス取得に失敗しました。"));
      } else if (rc == gpu::kOpenNoReadBack) {
        device_box(sjis_message("エラー"), sjis_message("オフスクリーンサーフェスを生成できませんでした。"));
      } else {
        device_box("", sjis_message("CreateVertexDeclaration エラー."));
      }
      return -1;
    }
    if (rc < furthest) furthest = rc;
  }
  if (furthest == gpu::kOpenNoDisplay) {
    device_box(nullptr, sjis_message("[DX]オブジェクトを生成できませんでした。"));
  } else if (furthest == gpu::kOpenNoDisplayMode) {
    device_box(nullptr, sjis_message("[DX]現在のディスプレイモードを取得できませんでした。(DispNo.%d)"), adapter);
  } else {
    device_box(nullptr, sjis_message("[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。"));
  }
  return -1;
}

int check_device_caps() {
  if (!g_caps_pending) return 0;
  g_caps_pending = 0;
  GpuCaps caps;
  if (dev()->get_caps(&caps) != 0) return 1;
  g_renderer.device_max_texture_width = caps.max_texture_width;
  g_renderer.device_max_texture_height = caps.max_texture_height;
  if (caps.shader_level < 20) {
    device_box(sjis_message("環境チェック"),
                   sjis_message("ビデオカードにピクセルシェーダ 2.0以降 が実装されていません。\r\n"
                                "ビデオカードが推奨スペック(※DirectX9.0 に対応したAGP/PCI-E接続ビデオカード、"
                                "もしくはチップセット)を\r\n満たしていない可能性があります。\r\n\r\n"
                                "[Vornset.exe]を起動して頂き、ゲーム画面の描画方法の項目を【 CPU(バイリニア) 】に"
                                "セットして\r\n起動し直していただければ動作いたします。"));
    return 1;
  }
  return 0;
}

int set_render_states() {
  const int bits = static_cast<int>(g_renderer.texture_bits);
  const i32 w = g_renderer.back_buffer_width, h = g_renderer.back_buffer_height;
  g_renderer.render_texture = dev()->create_texture(w, h, bits);
  if (!g_renderer.render_texture) {
    device_box(nullptr, sjis_message("Render テクスチャを生成できませんでした。"));
    return -1;
  }
  g_renderer.snapshot_texture = dev()->create_texture(w, h, bits);
  if (!g_renderer.snapshot_texture) {
    device_box(nullptr, sjis_message("GetSS テクスチャを生成できませんでした。"));
    return -1;
  }
  if (g_settings.use_direct3d) {
    g_renderer.white_texture = solid_texture(0xFFFFFFFFu);
    if (!g_renderer.white_texture) device_box("", sjis_message("WHITETEXBUF ERROR."));
    g_renderer.black_texture = solid_texture(0xFF000000u);
    if (!g_renderer.black_texture) device_box("", sjis_message("BLACKTEXBUF ERROR."));
  }
  return 0;
}

int test_shader_technique() {
  if (dev()->compile_effect() != 0) {
    device_box("", sjis_message("[エラー] Shader Init Error."));
    return -1;
  }
  if (dev()->find_technique(kEffectTechnique) != 0) {
    device_box("", sjis_message("指定されたテクニック名が見つかりませんでした。"));
    return -1;
  }
  if (dev()->set_technique(kEffectTechnique) != 0) {
    device_box("", sjis_message("指定されたテクニックが設定できませんでした。"));
    return -1;
  }
  g_renderer.effect = 1;
  return 0;
}

int recover_d3d_device() {
  release_d3d_device();
  g_rebuilding = 1;
  const int rebuilt = init_d3d();
  g_rebuilding = 0;
  if (rebuilt != 0) {
    release_d3d_device();
    // The CPU draws everything from now on: every layer that had textures
    // is drawn from its pixels again, and the screen-copy layer receives the
    // CPU's picture, so the window goes on changing as the tree changes.
    give_layers_back_to_cpu();
    free_texture_scratch();
    g_settings.renderer_level = 0;
    g_settings.cpu_scaling_flag = 1;
    g_present.cpu_scaling = 1;
    g_settings.use_direct3d = 0;
    show_error_box("", sjis_message("GPU描画が出来ませんでした。CPU描画に移行します。"));
    return -1;
  }
  // Every textured layer gets its tiles back on the new device.
  ObjectNode* root = window_root_node(0);
  for_each_textured_layer(root, kTextureWalkRecreate);
  dev()->release_current();
  return 0;
}

int release_d3d_device() {
  // Every texture made on the device goes with it, whatever the drawing
  // switch says now: a device that failed a check is released whole. The
  // E-mote players and driver, made on this device, go first.
  release_emote_objects();
  release_texture(&g_renderer.white_texture);
  release_texture(&g_renderer.black_texture);
  release_texture(&g_renderer.snapshot_texture);
  release_texture(&g_renderer.render_texture);
  for_each_textured_layer(window_root_node(0), kTextureWalkRelease);
  g_renderer.effect = 0;
  if (dev()) dev()->close_device();
  g_renderer.device = 0;
  return 0;
}

void release_d3d() {
  if (g_renderer.device) release_d3d_device();
  free_texture_scratch();
}

namespace {

// The graphics-version probe's question: can a device be opened here? A
// small device is opened by any attempt and closed again; one that is open
// already answers at once.
int gpu_device_can_open() {
  const PlatformGpu* gpu = g_platform.gpu;
  if (!gpu) return 0;
  if (gpu->is_open()) return 1;
  for (int attempt : {gpu::kAttemptHardware, gpu::kAttemptDefault, gpu::kAttemptSoftware}) {
    if (gpu->open_device(attempt, 16, 16) == 0) {
      gpu->close_device();
      return 1;
    }
  }
  return 0;
}

// The renderer's name for the machine description: the open device's, or
// that of a small device opened for the question and closed again; "" when
// none opens.
std::string gpu_renderer_name() {
  const PlatformGpu* gpu = g_platform.gpu;
  if (!gpu) return "";
  if (gpu->is_open()) return gpu->renderer_name();
  for (int attempt : {gpu::kAttemptHardware, gpu::kAttemptDefault, gpu::kAttemptSoftware}) {
    if (gpu->open_device(attempt, 16, 16) == 0) {
      std::string name = gpu->renderer_name();
      gpu->close_device();
      return name;
    }
  }
  return "";
}

const bool kProbeRegistered = [] {
  g_system_info_sources.gpu_device_available = gpu_device_can_open;
  g_system_info_sources.gpu_renderer_name = gpu_renderer_name;
  return true;
}();

}  // namespace
