// The GPU paths against their CPU peers.
//  - One screen-copy frame (the tree drawn on the device and read back) of a
//    1280 x 720 tree of 8 full-screen layers with per-pixel alpha, against
//    the CPU compositor's full redraw of the same tree on four workers.
//    Ratio printed: CPU / GPU (on llvmpipe for the record; aim 1.0 or more on
//    a hardware device).
//  - rotate_layer and rotate_layer_alt at 30 degrees on 1280 x 720 against
//    pixman's nearest and bilinear affine composite of the same turn
//    (aim 1.0 or more).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "engine/frame/window.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_transform.h"
#include "engine/image/pixel_workers.h"
#include "engine/render/compositor.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/render/layer_textures.h"
#include "engine/vm/object_tree.h"
#include "platform/gpu.h"
#include "platform/platform.h"

#if __has_include(<pixman.h>)
#include <pixman.h>
#define KL_HAVE_PIXMAN 1
#endif

namespace {

constexpr int kW = 1280, kH = 720, kLayers = 8;

struct Tree {
  ObjectNode* w0 = nullptr;
  std::vector<LayerImage*> layers;
  ObjectNode* copy = nullptr;
  bool gpu = false;

  Tree() {
    create_system_objects();
    create_window_records();
    g_windows[0]->show_at_first_frame = 1;
    g_windows[0]->logical_width = kW;
    g_windows[0]->logical_height = kH;
    w0 = g_system_objects[kTreeLayer];
    LayerImage* screen = static_cast<LayerImage*>(w0->payload);
    replace_layer_pixels(screen, alloc_image_buffer(nullptr, kW, kH, nullptr), kW, kH);
    for (int i = 0; i < kLayers; ++i) {
      char path[32];
      std::snprintf(path, sizeof path, "W0/l%d", i);
      LayerImage* im = get_or_create_layer_image(get_named_object(g_object_roots[kTreeLayer], path, 0, i + 1));
      replace_layer_pixels(im, alloc_image_buffer(nullptr, kW, kH, nullptr), kW, kH);
      im->has_alpha = i > 0;
      for (i32 p = 0; p < kW * kH; ++p) {
        u32 v = bench_noise(static_cast<u32>(p) * 9 + static_cast<u32>(i));
        im->owned_pixels[p] = (v & 0x00FFFFFFu) | ((i == 0 ? 255u : (v >> 24) & 0x7Fu) << 24);
      }
      layers.push_back(im);
    }
    copy = get_named_object(g_object_roots[kTreeLayer], "W0/copy", 0, 100);
    LayerImage* c = get_or_create_layer_image(copy);
    replace_layer_pixels(c, alloc_image_buffer(nullptr, kW, kH, nullptr), kW, kH);
    c->visible = 0;
  }
  // The same layers cut into textures on the software device.
  bool to_gpu() {
    setenv("EGL_PLATFORM", "surfaceless", 0);
    g_platform.gpu = &kEglGpu;
    g_settings.use_direct3d = 1;
    g_settings.mag_filter = 0;
    if (init_d3d() != 0) return false;
    for (LayerImage* im : layers) {
      im->content_kind = 1;
      if (create_layer_textures_for(im, 0, 0) != 0) return false;
    }
    set_screen_copy_layer(copy);
    gpu = true;
    return true;
  }
};

Tree& tree() {
  static Tree t;
  return t;
}

void cpu_full_redraw(benchmark::State& state) {
  Tree& t = tree();
  for (LayerImage* im : t.layers) im->content_kind = 0;
  set_screen_copy_layer(nullptr);
  start_pixel_workers_count(4);
  for (auto _ : state) {
    DirtyRect whole = {0, 0, kW - 1, kH - 1};
    merge_dirty_rect(t.w0, &whole);
    draw_window(0);
    reset_dirty_state();
    benchmark::ClobberMemory();
  }
  stop_pixel_workers();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(cpu_full_redraw)->Unit(benchmark::kMillisecond)->UseRealTime();

void gpu_screen_copy_frame(benchmark::State& state) {
  Tree& t = tree();
  if (!t.gpu && !t.to_gpu()) {
    state.SkipWithError("no GPU device");
    return;
  }
  for (LayerImage* im : t.layers) im->content_kind = 1;
  set_screen_copy_layer(t.copy);
  for (auto _ : state) {
    render_frame_d3d();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(gpu_screen_copy_frame)->Unit(benchmark::kMillisecond)->UseRealTime();

struct Turn {
  ObjectNode* src = nullptr;
  ObjectNode* dst = nullptr;
  Turn() {
    src = get_named_object(g_object_roots[kTreeLayer], "W0/turn_src", 0, 200);
    dst = get_named_object(g_object_roots[kTreeLayer], "W0/turn_dst", 0, 201);
    LayerImage* s = get_or_create_layer_image(src);
    replace_layer_pixels(s, alloc_image_buffer(nullptr, kW, kH, nullptr), kW, kH);
    for (i32 p = 0; p < kW * kH; ++p) s->owned_pixels[p] = bench_noise(static_cast<u32>(p)) | 0xFF000000u;
    LayerImage* d = get_or_create_layer_image(dst);
    replace_layer_pixels(d, alloc_image_buffer(nullptr, kW, kH, nullptr), kW, kH);
  }
};
Turn& turn() {
  tree();
  static Turn t;
  return t;
}

void rotate_nearest(benchmark::State& state) {
  Turn& t = turn();
  for (auto _ : state) {
    rotate_layer(t.src, t.dst, 30, 1, kRotateFillOutside);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(rotate_nearest)->Unit(benchmark::kMillisecond)->UseRealTime();

void rotate_bilinear(benchmark::State& state) {
  Turn& t = turn();
  for (auto _ : state) {
    rotate_layer_alt(t.src, t.dst, 30, 1);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(rotate_bilinear)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef KL_HAVE_PIXMAN
void pixman_turn(benchmark::State& state) {
  Turn& t = turn();
  LayerImage* s = static_cast<LayerImage*>(t.src->payload);
  std::vector<u32> out(static_cast<size_t>(kW) * kH);
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, s->owned_pixels, kW * 4);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, out.data(), kW * 4);
  pixman_transform_t m;
  const double a = 30 * 3.1415926535 / 180.0;
  pixman_transform_init_identity(&m);
  pixman_transform_translate(&m, nullptr, pixman_int_to_fixed(-kW / 2), pixman_int_to_fixed(-kH / 2));
  pixman_transform_rotate(&m, nullptr, pixman_double_to_fixed(std::cos(a)), pixman_double_to_fixed(std::sin(a)));
  pixman_transform_translate(&m, nullptr, pixman_int_to_fixed(kW / 2), pixman_int_to_fixed(kH / 2));
  pixman_image_set_transform(src, &m);
  pixman_image_set_filter(src, state.range(0) ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(src);
  pixman_image_unref(dst);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(pixman_turn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

class RatioReporter : public CheckingReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.iterations > 0 && !r.error_occurred)
        seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
    CheckingReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  platform_select_fakes();
  init_span_ops();
  init_blend_tables();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto t = [&](const std::string& name) {
    auto it = reporter.seconds.find(name + "/real_time");
    return it == reporter.seconds.end() ? 0.0 : it->second;
  };
  std::printf("\n");
  const double cpu = t("cpu_full_redraw"), gpu = t("gpu_screen_copy_frame");
  if (cpu > 0 && gpu > 0)
    std::printf("screen-copy frame %.3f ms, CPU full redraw %.3f ms: CPU / GPU %.2f (aim 1.0 on hardware)\n", gpu * 1e3,
                cpu * 1e3, cpu / gpu);
  const double rn = t("rotate_nearest"), rb = t("rotate_bilinear");
  const double pn = t("pixman_turn/0"), pb = t("pixman_turn/1");
  if (rn > 0 && pn > 0) {
    std::printf("rotate_layer %.3f ms, pixman nearest %.3f ms\n", rn * 1e3, pn * 1e3);
    bench_aim_at_least("rotate_layer, pixman nearest time / ours", pn / rn, 1.0);
  }
  if (rb > 0 && pb > 0) {
    std::printf("rotate_layer_alt %.3f ms, pixman bilinear %.3f ms\n", rb * 1e3, pb * 1e3);
    bench_aim_at_least("rotate_layer_alt, pixman bilinear time / ours", pb / rb, 1.0);
  }
  if (tree().gpu) release_d3d_device();
  benchmark::Shutdown();
  return bench_exit_status();
}
