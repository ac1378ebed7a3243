// The GPU picture of a screen-copy layer against the CPU compositor's
// picture of the same tree, on the EGL backend over Mesa's software OpenGL.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/frame/param_set.h"
#include "engine/frame/settings.h"
#include "engine/image/layer_draw.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/render/layer_textures.h"
#include "engine/render/screen_modes.h"
#include "platform/gpu.h"
#include "platform/platform.h"
#include "tests/render/gpu_renderer.h"
#include "tests/render/render_fixture.h"
#include "tests/support/gpu_test_device.h"

// Under LeakSanitizer, blocks that the software rasteriser allocates from
// its generated code are reported as lost (the driver keeps them where the
// checker does not look); the drawing tests leave the driver's blocks out.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define KL_LSAN 1
#endif
#endif

namespace {

class GpuPicture : public RenderTest {
 protected:
  void SetUp() override {
#ifdef KL_LSAN
    __lsan_disable();
#endif
    RenderTest::SetUp();
    saved = g_settings;
    saved_gpu = g_platform.gpu;
    if (open_gpu_renderer() != 0) {
      if (gpu_required()) FAIL() << "no GPU device opened";
      GTEST_SKIP() << "no GPU device";
    }
  }
  void TearDown() override {
    set_screen_copy_layer(nullptr);
    release_d3d_device();
    g_platform.gpu = saved_gpu;
    g_settings = saved;
    RenderTest::TearDown();
#ifdef KL_LSAN
    __lsan_enable();
#endif
  }
  // Gives the layers their GPU placement and textures (the CPU then no
  // longer draws them).
  void to_gpu(std::initializer_list<LayerImage*> layers) {
    for (LayerImage* im : layers) {
      im->x_centi = im->x * 100;
      im->y_centi = im->y * 100;
      im->content_kind = 1;
      ASSERT_EQ(create_layer_textures_for(im, 0, 0), 0);
    }
  }
  // The GPU frame read back through an unseen screen-copy layer.
  std::vector<u32> gpu_picture() {
    LayerImage* copy = leaf("W0/zz_copy", 0, 0, kW, kH, 0);
    copy->visible = 0;
    set_screen_copy_layer(leaf_node("W0/zz_copy"));
    EXPECT_EQ(render_frame_d3d(), 0);
    return std::vector<u32>(copy->pixels, copy->pixels + static_cast<size_t>(kW) * kH);
  }
  std::vector<u32> cpu_picture() {
    EXPECT_EQ(frame(), 0);
    return shown();
  }
  // The largest difference of a colour channel (alpha is not shown).
  static int max_difference(const std::vector<u32>& a, const std::vector<u32>& b, std::string* where) {
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      for (int s = 0; s < 24; s += 8) {
        const int d = std::abs(static_cast<int>((a[i] >> s) & 0xFF) - static_cast<int>((b[i] >> s) & 0xFF));
        if (d > worst) {
          worst = d;
          char t[96];
          std::snprintf(t, sizeof t, "pixel (%d, %d): gpu %08x cpu %08x", static_cast<int>(i % kW),
                        static_cast<int>(i / kW), a[i], b[i]);
          *where = t;
        }
      }
    return worst;
  }
  EngineSettings saved;
  const PlatformGpu* saved_gpu = nullptr;
};

TEST_F(GpuPicture, OpaquePointSampledLayersAreExact) {
  LayerImage* bg = leaf("W0/bg", 0, 0, kW, kH, 1);
  LayerImage* a = leaf("W0/a", 17, 9, 70, 50, 2);
  LayerImage* b = leaf("W0/b", -20, 60, 90, 90, 3);
  const std::vector<u32> cpu = cpu_picture();
  to_gpu({bg, a, b});
  g_settings.mag_filter = 1;  // layers shown 1:1 are point-sampled all the same
  std::string where;
  EXPECT_EQ(max_difference(gpu_picture(), cpu, &where), 0) << where;
}

TEST_F(GpuPicture, EveryBlendModeAtTwoOpacitiesWithAndWithoutAlpha) {
  for (int mode = 0; mode < kBlendModeCount; ++mode)
    for (int alpha : {256, 128})
      for (bool per_pixel : {false, true}) {
        SCOPED_TRACE("mode " + std::to_string(mode) + " alpha " + std::to_string(alpha) +
                     (per_pixel ? " per-pixel alpha" : ""));
        const std::string tag = std::to_string(mode) + "_" + std::to_string(alpha) + (per_pixel ? "a" : "");
        LayerImage* bg = leaf("W0/bg" + tag, 0, 0, kW, kH, 11 + mode);
        LayerImage* top = leaf("W0/top" + tag, 23, 14, 100, 80, 101 + mode, per_pixel);
        top->blend_mode = static_cast<u8>(mode);
        top->alpha = static_cast<i16>(alpha);
        DirtyRect whole = {0, 0, kW - 1, kH - 1};
        merge_dirty_rect(w0, &whole);
        const std::vector<u32> cpu = cpu_picture();
        to_gpu({bg, top});
        std::string where;
        EXPECT_LE(max_difference(gpu_picture(), cpu, &where), 2) << where;
        bg->visible = 0;
        top->visible = 0;
        bg->content_kind = top->content_kind = 0;
      }
}

TEST_F(GpuPicture, GroupsOffsetTheirChildrenAndWideLayersTile) {
  LayerImage* bg = leaf("W0/bg", 0, 0, kW, kH, 1);
  group("W0/g", 30, 20, 0, 0);
  LayerImage* inner = leaf("W0/g/in", 5, 7, 40, 30, 4);
  LayerImage* wide = leaf("W0/wide", -300, 40, 700, 300, 5, true);
  const std::vector<u32> cpu = cpu_picture();
  static_cast<LayerImage*>(group_node("W0/g")->payload)->x_centi = 3000;
  static_cast<LayerImage*>(group_node("W0/g")->payload)->y_centi = 2000;
  to_gpu({bg, inner, wide});
  EXPECT_EQ(wide->texture_set.tile_count_x, 2);
  std::string where;
  EXPECT_LE(max_difference(gpu_picture(), cpu, &where), 2) << where;
}

TEST_F(GpuPicture, SizedGroupsKeepTheirChildrenInside) {
  LayerImage* bg = leaf("W0/bg", 0, 0, kW, kH, 1);
  group("W0/g", 30, 20, 50, 40);
  LayerImage* inner = leaf("W0/g/in", -10, 10, 80, 60, 4);
  group("W0/g/h", 20, -5, 100, 20);  // reaches past its parent on the right
  LayerImage* deep = leaf("W0/g/h/d", 0, 0, 60, 30, 6, true);
  group("W0/p", 100, 60, 0, 0);  // no size: no clip
  LayerImage* free_child = leaf("W0/p/f", -20, -10, 70, 70, 8);
  const std::vector<u32> cpu = cpu_picture();
  for (const char* name : {"W0/g", "W0/g/h", "W0/p"}) {
    LayerImage* gi = static_cast<LayerImage*>(group_node(name)->payload);
    gi->x_centi = gi->x * 100;
    gi->y_centi = gi->y * 100;
  }
  to_gpu({bg, inner, deep, free_child});
  std::string where;
  EXPECT_LE(max_difference(gpu_picture(), cpu, &where), 2) << where;
}

// A masked layer: the mask's blue byte weighs the layer by the compositor's
// mask weights, hard and soft edges and a flat weight without softness.
TEST_F(GpuPicture, MaskedLayersFollowTheCompositorsWeights) {
  struct Case {
    int fade, softness, alpha;
    bool per_pixel;
  } cases[] = {{128, 64, 256, false}, {200, 256, 256, false}, {90, 0, 256, false},
               {128, 32, 128, false}, {160, 64, 256, true},   {0, 64, 256, false}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("fade " + std::to_string(c.fade) + " softness " + std::to_string(c.softness) + " alpha " +
                 std::to_string(c.alpha) + (c.per_pixel ? " per-pixel alpha" : ""));
    const std::string tag = std::to_string(n++);
    LayerImage* bg = leaf("W0/bg" + tag, 0, 0, kW, kH, 31 + n);
    LayerImage* top = leaf("W0/top" + tag, 23, 14, 100, 80, 41 + n, c.per_pixel);
    LayerImage* mask = leaf("W0/mask" + tag, 0, 0, 100, 80, 51 + n);
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 100; ++x) mask->owned_pixels[y * 100 + x] = 0xFF000000u | static_cast<u32>((x * 255 / 99 + y) & 0xFF);
    mask->visible = 0;
    set_layer_name_buffer(top->mask_name, ("W0/mask" + tag).c_str());
    top->mask_fade = static_cast<i16>(c.fade);
    top->mask_softness = static_cast<i16>(c.softness);
    top->alpha = static_cast<i16>(c.alpha);
    DirtyRect whole = {0, 0, kW - 1, kH - 1};
    merge_dirty_rect(w0, &whole);
    const std::vector<u32> cpu = cpu_picture();
    to_gpu({bg, top, mask});
    std::string where;
    EXPECT_LE(max_difference(gpu_picture(), cpu, &where), 2) << where;
    bg->visible = top->visible = 0;
    bg->content_kind = top->content_kind = mask->content_kind = 0;
  }
}

TEST_F(GpuPicture, HalfTurnAboutTheCentreMirrorsExactly) {
  LayerImage* a = leaf("W0/a", 30, 20, 64, 48, 7);
  to_gpu({a});
  a->gpu_angles[2] = 18000;  // 180 degrees, in hundredths
  const std::vector<u32> gpu = gpu_picture();
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(gpu[static_cast<size_t>(20 + y) * kW + 30 + x] & 0xFFFFFF,
                a->pixels[static_cast<size_t>(47 - y) * 64 + (63 - x)] & 0xFFFFFF)
          << x << "," << y;
}

TEST_F(GpuPicture, PasteDrawsTheSourceIntoAWindowSizedDestination) {
  LayerImage* src = leaf("W0/src", 0, 0, 40, 30, 12);
  src->x_centi = 1000;
  src->y_centi = 500;
  LayerImage* dst = leaf("W0/dst", 0, 0, 8, 8, 13);
  ASSERT_EQ(gpu_paste_sprite_setup(leaf_node("W0/dst"), leaf_node("W0/src")), 0);
  EXPECT_EQ(src->width, 40) << "the source keeps its sizes";
  ASSERT_EQ(gpu_render_and_read_back(leaf_node("W0/dst"), leaf_node("W0/src")), 0);
  ASSERT_EQ(dst->width, kW);
  ASSERT_EQ(dst->height, kH);
  EXPECT_EQ(dst->pixels[0], 0u) << "cleared outside the source";
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(dst->pixels[(5 + y) * kW + 10 + x], src->pixels[y * 40 + x]) << x << "," << y;
  // Without a device the paste changes nothing.
  release_d3d_device();
  LayerImage* other = leaf("W0/other", 0, 0, 8, 8, 14);
  const std::vector<u32> before(other->pixels, other->pixels + 64);
  EXPECT_EQ(gpu_paste_sprite_setup(leaf_node("W0/other"), leaf_node("W0/src")), -1);
  EXPECT_EQ(gpu_render_and_read_back(leaf_node("W0/other"), leaf_node("W0/src")), 0);
  EXPECT_EQ(other->width, 8);
  EXPECT_EQ(std::vector<u32>(other->pixels, other->pixels + 64), before);
}

// The layer drawing request's paste: 69 cuts layer 2 into textures, 70
// reads its drawing back into the target; off once GPU drawing is off.
TEST_F(GpuPicture, LayerDrawingRequestPastesThroughTheDevice) {
  LayerImage* src = leaf("W0/src", 0, 0, 24, 16, 21);
  src->x_centi = 300;
  src->y_centi = 700;
  LayerImage* dst = leaf("W0/dst", 0, 0, 8, 8, 22);
  ParamSet p;
  auto request = [&](u32 id) {
    p.clear();
    p.set_text(0, "dst");
    p.set_text(1, "src");
    p.set(id, 0);
    return layer_draw(p);
  };
  ASSERT_EQ(request(69), 0);
  ASSERT_NE(src->textures[0], nullptr);
  ASSERT_EQ(request(70), 0);
  ASSERT_EQ(dst->width, kW);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 24; ++x)
      ASSERT_EQ(dst->pixels[(7 + y) * kW + 3 + x], src->pixels[y * 24 + x]) << x << "," << y;
  g_settings.use_direct3d = 0;
  LayerImage* other = leaf("W0/other", 0, 0, 8, 8, 23);
  p.set_text(0, "other");
  ASSERT_EQ(layer_draw(p), 0);
  EXPECT_EQ(other->width, 8);
}

// Drawn at half size, a layer follows the minification setting: nearest
// gives one texel of each 2 x 2 block, linear a blend of the block.
TEST_F(GpuPicture, HalvedLayersFollowTheMinificationSetting) {
  LayerImage* a = leaf("W0/a", 10, 10, 40, 30, 16);
  to_gpu({a});
  a->scale_x = a->scale_y = 5000;
  for (int linear : {0, 1}) {
    SCOPED_TRACE(linear ? "linear" : "nearest");
    g_settings.min_filter = static_cast<u8>(linear);
    const std::vector<u32> gpu = gpu_picture();
    int exact = 0;
    for (int y = 0; y < 15; ++y)
      for (int x = 0; x < 20; ++x) {
        const u32 shown = gpu[(10 + y) * kW + 10 + x] & 0xFFFFFF;
        bool one_texel = false;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx)
            one_texel = one_texel || shown == (a->pixels[(2 * y + dy) * 40 + 2 * x + dx] & 0xFFFFFF);
        exact += one_texel ? 1 : 0;
      }
    if (linear) EXPECT_LT(exact, 30) << "of 300 pixels, blends of their blocks";
    else EXPECT_EQ(exact, 300);
  }
}

TEST_F(GpuPicture, DoubledLayersPointSampleInBlocks) {
  // Point sampling at twice the size: each source pixel covers a 2 x 2 block.
  LayerImage* a = leaf("W0/a", 10, 10, 30, 20, 15);
  to_gpu({a});
  a->scale_x = a->scale_y = 20000;
  const std::vector<u32> gpu = gpu_picture();
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      ASSERT_EQ(gpu[(10 + y) * kW + 10 + x] & 0xFFFFFF, a->pixels[(y / 2) * 30 + x / 2] & 0xFFFFFF) << x << "," << y;
}

}  // namespace
