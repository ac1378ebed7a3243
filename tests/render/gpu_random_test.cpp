// Random layer trees through command 1 with every leaf given textures, drawn
// on the EGL backend over Mesa's software OpenGL: after every frame the GPU
// picture (read back into a hidden screen-copy layer) is the CPU picture of
// the same tree within 2 per colour channel for each layer over a pixel
// (the blend modes drawn are those whose result moves no more than the
// target under it; each mode alone is held to 2 in the GPU picture test).
// Each seed reports its largest and mean difference. One frame of each seed has a
// forced device loss (the device and every texture are made anew), and a
// later frame forces the fall-back to the CPU: from there on the window
// shows exactly the picture of a run that never had a GPU, and the
// screen-copy layer receives that picture. A failing seed prints its steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/frame/settings.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/render/screen_modes.h"
#include "platform/dialogs.h"
#include "platform/gpu.h"
#include "platform/platform.h"
#include "tests/render/gpu_renderer.h"
#include "tests/render/random_tree.h"
#include "tests/support/gpu_test_device.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define KL_LSAN 1
#endif
#endif

namespace {

// The EGL backend whose next device cannot be opened: a rebuild on it
// fails, as on a machine whose driver went away.
PlatformGpu g_failing_gpu;
int refuse_open(int, int, int) { return -1; }

// Every record of the tree under node, each once (a record shown by several
// nodes is one record).
void collect_records(ObjectNode* node, std::vector<LayerImage*>* out) {
  u32 n = 0;
  for (ObjectNode* c = node->first_child; c && n < node->child_count; c = c->next, ++n) {
    if (c->payload_kind == kPayloadLayerImage) {
      LayerImage* im = static_cast<LayerImage*>(c->payload);
      bool seen = false;
      for (LayerImage* o : *out) seen = seen || o == im;
      if (!seen) out->push_back(im);
    }
    if (c->is_group) collect_records(c, out);
  }
}

class GpuRandomTree : public RandomTreeTest, public ::testing::WithParamInterface<u32> {
 protected:
  void SetUp() override {
#ifdef KL_LSAN
    __lsan_disable();
#endif
    RandomTreeTest::SetUp();
    if (HasFatalFailure()) return;
    saved = g_settings;
    saved_gpu = g_platform.gpu;
    if (open_gpu_renderer() != 0) {
      if (gpu_required()) FAIL() << "no GPU device opened";
      GTEST_SKIP() << "no GPU device";
    }
    opened = true;
  }
  void TearDown() override {
    set_screen_copy_layer(nullptr);
    if (opened) release_d3d_device();
    g_platform.gpu = saved_gpu;
    g_settings = saved;
    reset_renderer_state();
    RandomTreeTest::TearDown();
#ifdef KL_LSAN
    __lsan_enable();
#endif
  }

  // The CPU picture of the layers the GPU draws (those with textures; a
  // group's own pixels are not among them), or with every_layer the picture
  // of a run without a GPU: every record drawn from its pixels.
  std::vector<u32> cpu_reference(bool every_layer) {
    std::vector<LayerImage*> records;
    collect_records(w0, &records);
    std::vector<u8> kinds;
    for (LayerImage* im : records) {
      kinds.push_back(im->content_kind);
      im->content_kind = every_layer || im->content_kind != 0 ? 0 : 1;
    }
    std::vector<u32> out = reference();
    for (size_t i = 0; i < records.size(); ++i) records[i]->content_kind = kinds[i];
    return out;
  }
  // How many drawn layers cover each pixel: a blend on the GPU may differ
  // from the compositor's by up to 2 per channel, so a pixel under n layers
  // may differ by 2n.
  std::vector<int> layer_counts() {
    std::vector<int> count(static_cast<size_t>(kW) * kH, 0);
    count_layers(w0, 0, 0, 0, 0, kW, kH, &count);
    return count;
  }
  static void count_layers(ObjectNode* node, i64 ox, i64 oy, i64 cl, i64 ct, i64 cr, i64 cb, std::vector<int>* count) {
    u32 n = 0;
    for (ObjectNode* c = node->first_child; c && n < node->child_count; c = c->next, ++n) {
      if (c->payload_kind != kPayloadLayerImage) continue;
      const LayerImage* im = static_cast<LayerImage*>(c->payload);
      const i64 x = ox + im->x, y = oy + im->y;
      if (c->is_group) {
        i64 l = cl, t = ct, r = cr, b = cb;
        if (im->width > 0 && im->height > 0)
          l = std::max(l, x), t = std::max(t, y), r = std::min(r, x + im->width), b = std::min(b, y + im->height);
        if (l < r && t < b) count_layers(c, x, y, l, t, r, b, count);
      }
      if (!im->visible || im->alpha <= 0 || !im->pixels || im->content_kind == 0 || im->width < 1 || im->height < 1)
        continue;
      if (im->mask_name && im->mask_name[0] && im->mask_fade == 0) continue;
      for (i64 py = std::max(ct, y); py < std::min(cb, y + im->height); ++py)
        for (i64 px = std::max(cl, x); px < std::min(cr, x + im->width); ++px) ++(*count)[static_cast<size_t>(py * kW + px)];
    }
  }
  // The drawn layers over pixel (px, py), bottom first (a failing seed's
  // report).
  static void layers_at(ObjectNode* node, i64 ox, i64 oy, i64 px, i64 py, std::string* out) {
    u32 n = 0;
    for (ObjectNode* c = node->first_child; c && n < node->child_count; c = c->next, ++n) {
      if (c->payload_kind != kPayloadLayerImage) continue;
      const LayerImage* im = static_cast<LayerImage*>(c->payload);
      const i64 x = ox + im->x, y = oy + im->y;
      if (c->is_group) layers_at(c, x, y, px, py, out);
      if (!im->visible || im->alpha <= 0 || !im->pixels) continue;
      if (px < x || py < y || px >= x + im->width || py >= y + im->height) continue;
      char t[200];
      std::snprintf(t, sizeof t, "  %s%s at (%lld, %lld) %dx%d alpha %d mode %d kind %d tex %p has_alpha %d\n",
                    c->name ? c->name : "?", c->is_group ? "/" : "", static_cast<long long>(x),
                    static_cast<long long>(y), im->width, im->height, im->alpha, im->blend_mode, im->content_kind,
                    im->textures[0], im->has_alpha);
      *out += t;
    }
  }

  // The largest difference of a colour channel divided by the layers over
  // its pixel, and the summed differences.
  static void compare(const std::vector<u32>& a, const std::vector<u32>& b, const std::vector<int>& layers,
                      double* worst, double* sum, std::string* where) {
    *worst = 0;
    *sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      for (int s = 0; s < 24; s += 8) {
        const int d = std::abs(static_cast<int>((a[i] >> s) & 0xFF) - static_cast<int>((b[i] >> s) & 0xFF));
        *sum += d;
        const double per_layer = static_cast<double>(d) / std::max(1, layers[i]);
        if (per_layer > *worst) {
          *worst = per_layer;
          char t[128];
          std::snprintf(t, sizeof t, "pixel (%d, %d) under %d layers: gpu %08x cpu %08x", static_cast<int>(i % kW),
                        static_cast<int>(i / kW), layers[i], a[i], b[i]);
          *where = t;
          std::string over;
          layers_at(g_system_objects[kTreeLayer], 0, 0, static_cast<i64>(i % kW), static_cast<i64>(i / kW), &over);
          *where += "\n" + over;
        }
      }
  }

  EngineSettings saved;
  const PlatformGpu* saved_gpu = nullptr;
  bool opened = false;
};

TEST_P(GpuRandomTree, GpuPictureFollowsTheTreeThroughALossAndAFallBack) {
  const u32 seed = GetParam();
  build_tree();
  ASSERT_FALSE(HasFatalFailure());
  // The mask is hidden; every other leaf and the mask get textures now.
  const char* textured[] = {"bg", "m", "a", "a2", "g/s1", "g/s2", "g/n/d", "g/n/q/r", "p/e", "p/f", "p/h/i", "t", "k"};
  for (const char* n : textured) command(name_arg(n) + ";" + num(25, 1));
  // The screen copy: a hidden window-sized layer on top.
  command(name_arg("zz") + ";" + num(6, 99) + ";" + text(46, "bg.bmp") + ";" + num(2, 0) + ";" + num(26, 1));
  ASSERT_FALSE(HasFatalFailure());
  LayerImage* copy = static_cast<LayerImage*>(leaf_node("W0/zz")->payload);
  ASSERT_EQ(copy->width, kW);

  // "bg" stays the opaque, normal bottom layer over the whole screen: the
  // device's empty target and the compositor's empty screen are not the
  // same picture under a blend.
  const char* leaves[] = {"a", "g/s1", "g/s2", "g/n/d", "g/n/q/r", "p/e", "p/f", "p/h/i", "t", "u", "g/n/tw", "k"};
  const char* groups[] = {"g/", "g/n/", "g/n/q/", "p/", "p/h/"};
  const char* pictures[] = {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"};
  const char* ops[] = {"set", "add", "sub"};
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<u32>(n)); };
  auto any_leaf = [&]() { return std::string(leaves[pick(12)]); };
  auto any_layer = [&]() { return pick(3) == 0 ? std::string(groups[pick(5)]) : any_leaf(); };
  constexpr int kSteps = 40;
  const int loss_at = pick(kSteps - 10);
  const int fall_back_at = loss_at + 1 + pick(kSteps - 2 - loss_at);
  double worst = 0;
  double sum = 0;
  long channels = 0;
  for (int step = 0; step < kSteps; ++step) {
    const int changes = step == 0 ? 0 : 1 + pick(3);
    for (int c = 0; c < changes; ++c) {
      switch (pick(9)) {
        case 0: {  // move by whole pixels, any assignment operator
          const std::string n = any_layer();
          const char* op = ops[pick(3)];
          command(name_arg(n) + ";" + num(4, pick(41) - 20, op) + ";" + num(5, pick(31) - 15, op));
          break;
        }
        case 1: command(name_arg(any_layer()) + ";" + num(2, pick(2))); break;
        case 2: command(name_arg(any_leaf()) + ";" + num(3, pick(4) == 0 ? 256 : pick(257), ops[pick(3)])); break;
        case 3: {  // the modes whose result moves no more than the target under it does
          static const int kModes[] = {0, 1, 2, 3, 5, 6, 7, 8, 9, 13, 14, 17, 18};
          command(name_arg(any_leaf()) + ";" + num(54, kModes[pick(13)]));
          break;
        }
        case 4: {  // a new picture, with its textures made at once
          command(name_arg(any_leaf()) + ";" + text(46, pictures[pick(6)]) + ";" + num(25, 1));
          break;
        }
        case 5:  // the mask's threshold and softness
          command(name_arg("a2") + ";" + num(50, pick(4) == 0 ? 256 : pick(257)) + ";" +
                  num(53, pick(2) ? 256 : pick(300)) + ";" + text(51, pick(4) == 0 ? "" : "m"));
          break;
        case 6: command(name_arg(any_layer()) + ";" + num(6, 1 + pick(12))); break;  // restack
        case 7: {  // a group resized, to 0 (a pure group) and back
          const std::string g = groups[pick(5)];
          const bool zero = pick(3) == 0;
          command(name_arg(g) + ";" + num(9, zero ? 0 : 1 + pick(120)) + ";" + num(10, zero ? 0 : 1 + pick(90)));
          break;
        }
        default: command(name_arg(any_leaf()) + ";" + num(4, pick(2001) - 1000, "add")); break;
      }
      if (HasFatalFailure()) return;
    }
    // Every frame redraws the whole screen, so that every frame draws on the
    // device (which frames redraw is the compositor's random test's concern).
    DirtyRect whole = {0, 0, kW - 1, kH - 1};
    merge_dirty_rect(w0, &whole);
    if (step == loss_at) {
      log.push_back("device lost");
      g_device_reset_pending = 1;
    }
    if (step == fall_back_at) {
      log.push_back("device cannot be made again: fall-back to the CPU");
      g_failing_gpu = kEglGpu;
      g_failing_gpu.open_device = refuse_open;
      g_platform.gpu = &g_failing_gpu;
      g_device_reset_pending = 1;
    }
    log.push_back("frame " + std::to_string(step));
    ASSERT_EQ(frame(), 0) << "seed " << seed << "\n" << steps();
    if (step < fall_back_at) {
      ASSERT_EQ(g_settings.use_direct3d, 1) << "seed " << seed << "\n" << steps();
      const std::vector<u32> gpu(copy->pixels, copy->pixels + static_cast<size_t>(kW) * kH);
      double w = 0;
      double s = 0;
      std::string where;
      compare(gpu, cpu_reference(false), layer_counts(), &w, &s, &where);
      ASSERT_LE(w, 2) << "seed " << seed << ", " << where << ", steps:\n" << steps();
      worst = std::max(worst, w);
      sum += s;
      channels += 3L * kW * kH;
    } else {
      ASSERT_EQ(g_settings.use_direct3d, 0) << "seed " << seed << "\n" << steps();
      const std::vector<u32> cpu = shown();
      ASSERT_EQ(first_difference(cpu, cpu_reference(true)), "")
          << "seed " << seed << ": the CPU picture after the fall-back, steps:\n" << steps();
      ASSERT_EQ(first_difference(std::vector<u32>(copy->pixels, copy->pixels + static_cast<size_t>(kW) * kH), cpu),
                "")
          << "seed " << seed << ": the screen copy after the fall-back, steps:\n" << steps();
    }
  }
  std::printf("seed %u: GPU vs CPU per channel per layer max %.2f, mean %.4f (loss at frame %d, fall-back at frame %d)\n", seed,
              worst, channels ? sum / static_cast<double>(channels) : 0.0, loss_at, fall_back_at);
}

INSTANTIATE_TEST_SUITE_P(Seeds, GpuRandomTree, ::testing::Range(1u, 61u));

}  // namespace
