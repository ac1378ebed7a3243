// GPU device set-up, checks, loss and rebuild, and the layer tiles, on the
// recording fake device.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/render/layer_textures.h"
#include "engine/render/screen_modes.h"
#include "platform/gpu.h"
#include "platform/monitors.h"
#include "platform/platform.h"
#include "tests/render/render_fixture.h"

namespace {

class GpuDevice : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    fake_gpu_reset();
    fake_monitors_reset();
    reset_renderer_state();
    saved = g_settings;
    g_settings.use_direct3d = 1;
    g_settings.renderer_level = 3;
    g_gpu_tree_mode = 0;
    set_screen_copy_layer(nullptr);
    g_device_reset_pending = 0;
  }
  void TearDown() override {
    release_d3d_device();
    set_screen_copy_layer(nullptr);
    g_settings = saved;
    RenderTest::TearDown();
  }
  static int count_calls(const std::string& prefix) {
    return static_cast<int>(std::count_if(fake_gpu_calls().begin(), fake_gpu_calls().end(), [&](const std::string& c) {
      return c.compare(0, prefix.size(), prefix) == 0;
    }));
  }
  LayerImage* textured(const std::string& path, i32 w, i32 h, u32 seed) {
    LayerImage* im = leaf(path, 0, 0, w, h, seed);
    im->content_kind = 1;
    EXPECT_EQ(create_layer_textures_for(im, 0, 0), 0);
    return im;
  }
  EngineSettings saved;
};

TEST_F(GpuDevice, InitInOrderAndTheSkippedFirstAttempt) {
  ASSERT_EQ(init_d3d(), 0);
  EXPECT_EQ(gpu_device_ready(), 1);
  EXPECT_EQ(fake_gpu_calls().front(), "open 0 160 120") << "the hardware device first, back buffer = logical size";
  EXPECT_EQ(count_calls("compile_effect"), 1);
  EXPECT_EQ(count_calls("set_technique ZT_ShaderTest1"), 1);
  EXPECT_NE(g_renderer.white_texture, nullptr);
  EXPECT_NE(g_renderer.render_texture, nullptr);
  release_d3d_device();
  EXPECT_EQ(fake_gpu_live_textures(), 0) << "render, snapshot, white and black textures all released";
  fake_gpu_reset();
  reset_renderer_state();
  g_settings.skip_hardware_vertex_processing = 1;
  ASSERT_EQ(init_d3d(), 0);
  EXPECT_EQ(fake_gpu_calls().front(), "open 1 160 120");
  g_settings.skip_hardware_vertex_processing = 0;
  release_d3d_device();
  fake_gpu_reset();
  fake_gpu_fail("open0");
  fake_gpu_fail("open1");
  ASSERT_EQ(init_d3d(), 0);
  EXPECT_EQ(g_renderer.attempt, gpu::kAttemptSoftware);
}

TEST_F(GpuDevice, EveryFailureFallsBackWithNothingLeftOpen) {
  struct Case {
    const char* step;
    int result;
    const char* box_start;
  } cases[] = {
      {"open", 1, "[Direct3D"},
      {"display", 1, "[DX]オブジェクト"},
      {"display_mode", 1, "[DX]現在のディスプレイモード"},
      {"back_buffer", 1, "バックバッファサーフェス"},
      {"read_back_buffer", 1, "オフスクリーンサーフェス"},
      {"vertex_layout", 1, "CreateVertexDeclaration"},
      {"compile_effect", 1, "[エラー] Shader"},
      {"find_technique", 1, "指定されたテクニック名"},
      {"set_technique", 1, "指定されたテクニックが"},
      {"create_texture#1", -1, "Render テクスチャ"},
      {"create_texture#2", -1, "GetSS テクスチャ"},
  };
  for (const Case& c : cases) {
    fake_gpu_reset();
    reset_renderer_state();
    reset_error_report_log();
    if (std::string(c.step) == "open") {
      fake_gpu_fail("open0");
      fake_gpu_fail("open1");
      fake_gpu_fail("open2");
    } else {
      fake_gpu_fail(c.step);
    }
    EXPECT_EQ(init_d3d(), c.result) << c.step;
    EXPECT_EQ(gpu_device_ready(), 0) << c.step << ": a failed device is released";
    EXPECT_EQ(g_platform.gpu->is_open(), 0) << c.step;
    EXPECT_EQ(fake_gpu_live_textures(), 0) << c.step;
    EXPECT_EQ(g_error_report_log.box_count, 1u) << c.step;
    EXPECT_EQ(g_error_report_log.last_box_text.rfind(sjis_message(c.box_start), 0), 0u) << c.step;
  }
}

// However the new device fails, the rebuild shows one box: the move to the
// CPU. The failed step's own box belongs to start-up only.
TEST_F(GpuDevice, AFailedRebuildShowsOneBox) {
  for (const char* step : {"display", "display_mode", "open", "back_buffer", "read_back_buffer", "vertex_layout",
                           "compile_effect", "create_texture#1"}) {
    fake_gpu_reset();
    reset_renderer_state();
    g_settings.use_direct3d = 1;
    ASSERT_EQ(init_d3d(), 0) << step;
    if (std::string(step) == "open") {
      fake_gpu_fail("open0");
      fake_gpu_fail("open1");
      fake_gpu_fail("open2");
    } else {
      fake_gpu_fail(step);
    }
    reset_error_report_log();
    EXPECT_EQ(recover_d3d_device(), -1) << step;
    EXPECT_EQ(g_error_report_log.box_count, 1u) << step;
    EXPECT_EQ(g_error_report_log.last_box_text, sjis_message("GPU描画が出来ませんでした。CPU描画に移行します。")) << step;
    EXPECT_EQ(g_settings.use_direct3d, 0) << step;
    EXPECT_EQ(g_platform.gpu->is_open(), 0) << step;
  }
}

TEST_F(GpuDevice, LowShaderLevelBoxesOnceARun) {
  fake_gpu_set_caps(4096, 4096, 11);
  EXPECT_EQ(init_d3d(), 1);
  EXPECT_EQ(g_error_report_log.last_box_caption, sjis_message("環境チェック"));
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_EQ(g_platform.gpu->is_open(), 0);
  // A second attempt in the same run checks nothing again.
  reset_error_report_log();
  fake_gpu_set_caps(4096, 4096, 11);
  EXPECT_EQ(init_d3d(), 0);
  EXPECT_EQ(g_error_report_log.box_count, 0u);
}

TEST_F(GpuDevice, LossRebuildsAndRecreatesEveryTexturedLayer) {
  ASSERT_EQ(init_d3d(), 0);
  LayerImage* a = textured("W0/a", 300, 300, 1);
  LayerImage* b = textured("W0/b", 40, 30, 2);
  LayerImage* gone = textured("W0/c", 20, 20, 3);
  std::free(gone->owned_pixels);
  gone->owned_pixels = gone->pixels = nullptr;  // a layer without pixels
  LayerImage* d = textured("W0/d", 50, 50, 4);
  a->gpu_values[0] = 1234;  // a pivot the script set
  leaf("W0/copy", 0, 0, kW, kH, 5);
  set_screen_copy_layer(leaf_node("W0/copy"));
  g_platform.gpu->lose_device();
  reset_error_report_log();
  ASSERT_EQ(render_frame_d3d(), 0);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_EQ(g_error_report_log.last_box_text, sjis_message("Direct3D 初期化します."));
  EXPECT_EQ(gpu_device_ready(), 1);
  ASSERT_NE(a->textures[0], nullptr);
  EXPECT_NE(b->textures[0], nullptr);
  EXPECT_NE(d->textures[0], nullptr) << "a layer without pixels does not stop the walk";
  EXPECT_EQ(gone->textures[0], nullptr);
  EXPECT_EQ(a->gpu_values[0], 1234) << "the rebuild keeps the pivot";
  EXPECT_EQ(count_calls("read_back 160 120"), 1) << "the frame went on after the rebuild";
  // A rebuild that fails: one box, CPU drawing for good.
  g_platform.gpu->lose_device();
  fake_gpu_fail("open0");
  fake_gpu_fail("open1");
  fake_gpu_fail("open2");
  reset_error_report_log();
  ASSERT_EQ(render_frame_d3d(), 0);
  EXPECT_EQ(g_settings.use_direct3d, 0);
  EXPECT_EQ(g_settings.renderer_level, 0);
  EXPECT_EQ(g_settings.cpu_scaling_flag, 1);
  EXPECT_EQ(g_error_report_log.last_box_text, sjis_message("GPU描画が出来ませんでした。CPU描画に移行します。"));
  EXPECT_EQ(g_error_report_log.box_count, 2u) << "the loss notice and the rebuild's one box, the fall-back";
  EXPECT_EQ(fake_gpu_live_textures(), 0);
  EXPECT_EQ(a->textures[0], nullptr) << "no handle outlives its device";
  reset_error_report_log();
  EXPECT_EQ(render_frame_d3d(), 0);
  EXPECT_EQ(g_error_report_log.box_count, 0u);
}

TEST_F(GpuDevice, NothingWithoutCopyLayerOrDeviceAndAFreedCopyLayerIsForgotten) {
  ASSERT_EQ(init_d3d(), 0);
  const size_t before = fake_gpu_calls().size();
  EXPECT_EQ(render_frame_d3d(), 0);
  EXPECT_EQ(fake_gpu_calls().size(), before) << "no tree mode, no screen copy: no device call";
  leaf("W0/copy", 0, 0, kW, kH, 5);
  set_screen_copy_layer(leaf_node("W0/copy"));
  const size_t with_copy = fake_gpu_calls().size();
  EXPECT_EQ(render_frame_d3d(), 0);
  EXPECT_GT(fake_gpu_calls().size(), with_copy) << "a copy layer draws the screen";
  free_layer_image(static_cast<LayerImage*>(leaf_node("W0/copy")->payload));
  leaf_node("W0/copy")->payload = nullptr;
  const size_t freed = fake_gpu_calls().size();
  EXPECT_EQ(render_frame_d3d(), 0);
  EXPECT_EQ(fake_gpu_calls().size(), freed) << "the freed copy layer is forgotten";
  // The switch turned on by a script without a device.
  release_d3d_device();
  set_screen_copy_layer(leaf_node("W0/a"));
  g_gpu_tree_mode = 1;
  EXPECT_EQ(render_frame_d3d(), 0);
  g_gpu_tree_mode = 0;
}

TEST_F(GpuDevice, TileGrids) {
  struct Case {
    i32 w, h, device_max, limit_w, limit_h;
    int result;
    std::vector<i32> cols, rows;
    const char* box;
  } cases[] = {
      {300, 300, 8192, 0, 0, 0, {512}, {256, 64}, nullptr},
      {700, 10, 8192, 0, 0, 0, {512, 256}, {16}, nullptr},
      {100, 7936, 8192, 0, 0, 0, {512}, std::vector<i32>(31, 256), nullptr},
      {100, 8192, 8192, 0, 0, -1, {}, {}, "TYNUM Overflow Error. SX = 100, SY = 8192, mRest = 0"},
      {8192, 10, 256, 0, 0, -1, {}, {}, "TXNUM Overflow Error."},
      {100, 10, 64, 0, 0, 0, {512}, {16}, nullptr},  // narrower than 512: one 512 column whatever the caps
      {8192, 4352, 8192, 0, 0, -1, {}, {}, "TYNUM Overflow Error. SX = 8192, SY = 4352, mRest = 0"},
      {2100, 2048, 8192, 128, 128, -1, {}, {}, "TYNUM Overflow Error. SX = 2100, SY = 2048, mRest = 0"},
      {1000, 1000, 8192, 100, 0, 0, std::vector<i32>(10, 100), {256, 256, 256, 256}, nullptr},
  };
  for (const Case& c : cases) {
    g_renderer.device_max_texture_width = g_renderer.device_max_texture_height = c.device_max;
    reset_error_report_log();
    LayerTextureSet grid;
    EXPECT_EQ(compute_tile_grid(&grid, c.w, c.h, c.limit_w, c.limit_h), c.result) << c.w << "x" << c.h;
    if (c.result == 0) {
      EXPECT_EQ(std::vector<i32>(grid.tile_widths, grid.tile_widths + grid.tile_count_x), c.cols) << c.w;
      EXPECT_EQ(std::vector<i32>(grid.tile_heights, grid.tile_heights + grid.tile_count_y), c.rows) << c.h;
    } else {
      EXPECT_EQ(g_error_report_log.last_box_text, c.box);
    }
  }
}

TEST_F(GpuDevice, TilesAreFilledPaddedAndReleased) {
  ASSERT_EQ(init_d3d(), 0);
  const int base = fake_gpu_live_textures();
  LayerImage* im = textured("W0/a", 700, 300, 9);
  EXPECT_EQ(im->texture_set.tile_count_x, 2);
  EXPECT_EQ(im->texture_set.tile_count_y, 2);
  EXPECT_EQ(fake_gpu_live_textures(), base + 4);
  EXPECT_EQ(im->gpu_values[0], 700 * 50) << "pivot at the centre, in hundredths";
  // Tile (1, 1): 188 pixels of the image, then zeros; rows below 300 zero.
  std::vector<u32> px(256 * 64);
  ASSERT_EQ(g_platform.gpu->read_back(im->textures[3], px.data(), 256, 64), 0);
  EXPECT_EQ(px[0], im->pixels[256 * 700 + 512]);
  EXPECT_EQ(px[187], im->pixels[256 * 700 + 699]);
  EXPECT_EQ(px[188], 0u);
  EXPECT_EQ(px[44 * 256], 0u) << "row 300 is below the image";
  // Reuse 1 with the same shape refills the same handles; another shape
  // makes new ones.
  const void* handle = im->textures[0];
  g_texture_request.width = 700, g_texture_request.height = 300;
  g_texture_request.source = g_texture_request.target = im;
  ASSERT_EQ(create_layer_textures(1), 0);
  EXPECT_EQ(im->textures[0], handle);
  LayerImage* small = leaf("W0/small", 0, 0, 40, 40, 3);
  g_texture_request = TextureRequest{};
  g_texture_request.width = 40, g_texture_request.height = 40;
  g_texture_request.source = small;
  g_texture_request.target = im;
  ASSERT_EQ(create_layer_textures(1), 0);
  EXPECT_EQ(im->texture_set.tile_count_x, 1);
  EXPECT_EQ(im->width, 700) << "a target filled from another layer keeps its sizes";
  EXPECT_EQ(im->loaded_width, 700);
  release_layer_textures(im);
  EXPECT_EQ(fake_gpu_live_textures(), base);
  // Without a device nothing is made.
  release_d3d_device();
  EXPECT_EQ(create_layer_textures_for(im, 0, 0), -1);
}

}  // namespace
