// One frame of a 1280 x 720 scene: 8 full-screen layers with per-pixel
// alpha under a 200 x 200 sprite that moves every frame. Measured: the
// dirty-rectangle frame (only the sprite's old and new area), a full redraw
// of the same scene (the whole root declared changed), each on the calling
// thread and on four pixel workers, and pixman composing the same 9 layers
// (OVER, premultiplied copies made outside the timing) on one core. Prints
// the ratios at the end: full redraw / partial frame (aim: 10 or more) and
// pixman / full redraw on four workers (aim: 3 or more). Also the CPU side
// of presenting the frame: the whole 1280 x 720 image copied 1:1 into a
// window's client area, and scaled to 1920 x 1080 with the bilinear
// presentation scaler (the windowing fake stands in for the desktop). The
// busy_ cases repeat the two frames while spinning threads keep every core
// busy, one thread and four workers taking turns in blocks of frames, and
// print the four-worker time against the one-thread time.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/frame/window.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/span_kernels.h"
#include "engine/render/compositor.h"
#include "engine/render/present.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "engine/vm/object_tree.h"

#if __has_include(<pixman.h>)
#include <pixman.h>
#define KL_HAVE_PIXMAN 1
#endif

namespace {

constexpr int kW = 1280, kH = 720, kLayers = 8, kSprite = 200;

u32 noise(u32 x) { return bench_noise(x); }

struct Scene {
  ObjectNode* w0 = nullptr;
  LayerImage* screen = nullptr;
  ObjectNode* sprite = nullptr;
  std::vector<LargePageVector<u32>> premultiplied;  // the 9 layers for pixman, on the memory the layers have
  i64 step = 0;

  Scene() {
    create_system_objects();
    create_window_records();
    g_windows[0]->show_at_first_frame = 1;
    w0 = g_system_objects[kTreeLayer];
    screen = static_cast<LayerImage*>(w0->payload);
    replace_layer_pixels(screen, alloc_image_buffer(nullptr, kW, kH, nullptr), kW, kH);
    for (int i = 0; i <= kLayers; ++i) {
      const bool is_sprite = i == kLayers;
      const i32 w = is_sprite ? kSprite : kW, h = is_sprite ? kSprite : kH;
      char path[32];
      std::snprintf(path, sizeof path, "W0/l%d", i);
      ObjectNode* n = get_named_object(g_object_roots[kTreeLayer], path, 0, i + 1);
      LayerImage* im = get_or_create_layer_image(n);
      replace_layer_pixels(im, alloc_image_buffer(nullptr, w, h, nullptr), w, h);
      im->has_alpha = 1;
      LargePageVector<u32> pm(static_cast<size_t>(w) * h);
      for (i32 p = 0; p < w * h; ++p) {
        // Layer 0 is opaque; the others are soft, mostly see-through.
        u32 v = noise(static_cast<u32>(p) * 9 + static_cast<u32>(i));
        v = (v & 0x00FFFFFFu) | ((i == 0 ? 255u : (v >> 24) & 0x7Fu) << 24);
        im->owned_pixels[p] = v;
        const u32 a = v >> 24;
        u32 q = a << 24;
        for (int c = 0; c < 3; ++c) q |= (((v >> (8 * c)) & 255) * a / 255) << (8 * c);
        pm[static_cast<size_t>(p)] = q;
      }
      premultiplied.push_back(std::move(pm));
      if (is_sprite) sprite = n;
    }
    declare_whole();
    draw();
  }
  void declare_whole() {
    DirtyRect whole = {0, 0, kW - 1, kH - 1};
    merge_dirty_rect(w0, &whole);
  }
  void draw() {
    draw_window(0);
    reset_dirty_state();
  }
  void move_sprite() {
    LayerImage* im = static_cast<LayerImage*>(sprite->payload);
    mark_layer_dirty(sprite);
    ++step;
    im->x = (step * 7) % (kW - kSprite);
    im->y = (step * 3) % (kH - kSprite);
    mark_layer_dirty(sprite);
  }
};
Scene& scene() {
  static Scene s;
  return s;
}

void use_workers(int workers) {
  stop_pixel_workers();
  if (workers > 0) start_pixel_workers_count(workers);
}

void partial_frame(benchmark::State& state) {
  Scene& s = scene();
  use_workers(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    s.move_sprite();
    s.draw();
    benchmark::ClobberMemory();
  }
  stop_pixel_workers();
  state.SetItemsProcessed(state.iterations());
}

void full_redraw(benchmark::State& state) {
  Scene& s = scene();
  use_workers(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    s.move_sprite();
    s.declare_whole();
    s.draw();
    benchmark::ClobberMemory();
  }
  stop_pixel_workers();
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(partial_frame)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(full_redraw)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same two frames while every core is kept busy by spinning threads, on
// one thread and on four workers in alternating blocks, for two seconds
// each so that the time slices of the spinning threads even out.
void busy_partial_frame(benchmark::State& state) {
  Scene& s = scene();
  time_busy_alternating(
      state, use_workers,
      [&] {
        s.move_sprite();
        s.draw();
        benchmark::ClobberMemory();
      },
      40);
}
void busy_full_redraw(benchmark::State& state) {
  Scene& s = scene();
  time_busy_alternating(
      state, use_workers,
      [&] {
        s.move_sprite();
        s.declare_whole();
        s.draw();
        benchmark::ClobberMemory();
      },
      8);
}
BENCHMARK(busy_partial_frame)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
BENCHMARK(busy_full_redraw)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

std::int64_t quiet_proc(UiWindow, std::uint32_t, std::uint64_t, std::int64_t) { return 0; }

void present_whole(benchmark::State& state) {
  Scene& s = scene();
  use_workers(4);
  UiWindowDesc d;
  d.class_name = "bench";
  d.client_width = static_cast<int>(state.range(0));
  d.client_height = static_cast<int>(state.range(1));
  d.proc = quiet_proc;
  g_windows[0]->handle = g_platform.ui->create_window(&d);
  const DirtyRect whole = {0, 0, kW - 1, kH - 1};
  for (auto _ : state) {
    present_screen(0, s.screen, whole);
    benchmark::ClobberMemory();
  }
  g_platform.ui->destroy_window(g_windows[0]->handle);
  g_windows[0]->handle = kNoWindow;
  stop_pixel_workers();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(present_whole)->Args({kW, kH})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef KL_HAVE_PIXMAN
// pixman composing the scene's 9 layers on one core.
struct PixmanScene {
  LargePageVector<u32> dst;
  pixman_image_t* d = nullptr;
  std::vector<pixman_image_t*> src;
  i64 step = 0;
  explicit PixmanScene(Scene& s) : dst(static_cast<size_t>(kW) * kH) {
    d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, dst.data(), kW * 4);
    for (int i = 0; i <= kLayers; ++i) {
      const int w = i == kLayers ? kSprite : kW, h = i == kLayers ? kSprite : kH;
      src.push_back(pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, s.premultiplied[i].data(), w * 4));
    }
  }
  ~PixmanScene() {
    for (auto* p : src) pixman_image_unref(p);
    pixman_image_unref(d);
  }
  PixmanScene(const PixmanScene&) = delete;
  PixmanScene& operator=(const PixmanScene&) = delete;
  void frame() {
    ++step;
    std::memset(dst.data(), 0, dst.size() * 4);
    for (int i = 0; i < kLayers; ++i)
      pixman_image_composite32(PIXMAN_OP_OVER, src[i], nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    pixman_image_composite32(PIXMAN_OP_OVER, src[kLayers], nullptr, d, 0, 0, 0, 0,
                             static_cast<int>((step * 7) % (kW - kSprite)), static_cast<int>((step * 3) % (kH - kSprite)),
                             kSprite, kSprite);
    benchmark::ClobberMemory();
  }
};

void pixman_full(benchmark::State& state) {
  PixmanScene p(scene());
  for (auto _ : state) p.frame();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(pixman_full)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// The jobs measured against one thread: the two frames and one full-screen
// blend of a layer with per-pixel alpha.
void full_frame_job() {
  Scene& s = scene();
  s.move_sprite();
  s.declare_whole();
  s.draw();
  benchmark::ClobberMemory();
}
void partial_frame_job() {
  Scene& s = scene();
  s.move_sprite();
  s.draw();
  benchmark::ClobberMemory();
}
void blend_job() {
  Scene& s = scene();
  ObjectNode* n = resolve_object_path(g_object_roots[kTreeLayer], "W0/l1", 0);
  const LayerImage* layer = n ? static_cast<const LayerImage*>(n->payload) : nullptr;
  if (layer) post_blend_job(kPixelJobBlendAlpha, s.screen, layer, nullptr, nullptr, 0, 0, 0, 0, kW, kH);
  benchmark::ClobberMemory();
}

// Ten runs of every job, four workers against one thread, under a load of
// `busy` spinning threads (0: the machine as it is); prints the median and
// the worst run and checks the worst against 1.1.
void four_workers_under_load(unsigned busy, const char* load) {
  std::optional<BusyMachine> spinners;
  if (busy) spinners.emplace(busy);
  struct Job {
    const char* name;
    void (*work)();
    int block;
  };
  // A block lasts about 20 to 30 ms on either side: a block of a few ms
  // measured mostly whether a time slice of another program fell into it
  // (the one-thread gauge below moved up to 1.18 with 7 ms blocks).
  const Job jobs[] = {{"full redraw", full_frame_job, 8}, {"partial frame", partial_frame_job, 160}, {"blend", blend_job, 16}};
  // The same measurement with one thread on both sides shows how far the
  // machine's own noise moves a ratio.
  auto one_thread_only = [](int) { use_workers(0); };
  for (const Job& j : jobs) {
    std::vector<double> ratios, control;
    // Four pairs of blocks a run: each side runs first in two of them.
    for (int run = 0; run < 10; ++run) {
      ratios.push_back(four_over_one(use_workers, j.work, j.block, 4));
      control.push_back(four_over_one(one_thread_only, j.work, j.block, 4));
    }
    const double worst = worst_of(ratios), median = median_of(ratios);
    std::printf("%s, %s: four workers / one thread, median of 10 runs %.3f, worst %.3f "
                "(one thread / one thread: median %.3f, worst %.3f)\n",
                load, j.name, median, worst, median_of(control), worst_of(control));
    bench_aim_at_most((std::string(load) + ", " + j.name + ", four workers / one thread, worst of 10 runs").c_str(), worst,
                      1.1);
  }
}

class RatioReporter : public CheckingReporter {
 public:
  std::map<std::string, double> seconds;  // real time of one iteration
  std::map<std::string, std::map<std::string, double>> counters;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.iterations > 0) seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
      for (const auto& [name, c] : r.counters) counters[r.benchmark_name()][name] = c.value;
    }
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
  for (int w : {0, 4}) {
    const double part = t("partial_frame/" + std::to_string(w)), full = t("full_redraw/" + std::to_string(w));
    if (part > 0 && full > 0) {
      std::printf("%s: full redraw %.3f ms, partial frame %.3f ms\n", w ? "four workers" : "one thread", full * 1e3,
                  part * 1e3);
      bench_aim_at_least(w ? "four workers, full redraw / partial frame" : "one thread, full redraw / partial frame",
                         full / part, 10);
    }
  }
  const double px = t("pixman_full"), full4 = t("full_redraw/4"), full0 = t("full_redraw/0");
  if (px > 0 && full4 > 0 && full0 > 0)
    std::printf("pixman one core %.3f ms: pixman / full redraw on four workers %.2f, on one thread %.2f\n", px * 1e3,
                px / full4, px / full0);
  for (const char* b : {"busy_full_redraw", "busy_partial_frame"}) {
    auto it = reporter.counters.find(std::string(b) + "/manual_time");
    if (it != reporter.counters.end() && it->second.count("four_over_one")) {
      std::printf("busy machine, %s: one thread %.3f ms, four workers %.3f ms\n", b + 5, it->second["one_ms"],
                  it->second["four_ms"]);
      bench_aim_at_most((std::string("busy machine, ") + (b + 5) + ", four workers / one thread").c_str(),
                        it->second["four_over_one"], 1.1);
    }
  }
  // The machine as it is, and half its cores busy with other programs.
  const unsigned half = std::max(1u, std::thread::hardware_concurrency() / 2);
  four_workers_under_load(0, "as the machine is");
  four_workers_under_load(half, "half the cores busy");
#ifdef KL_HAVE_PIXMAN
  {
    // The full redraw on four workers against pixman on one core, both
    // under the same load, best of alternating rounds.
    PixmanScene pixman(scene());
    auto compare = [&](const char* load, double aim) {
      double peer = 1e30, four = 1e30;
      use_workers(4);
      for (int round = 0; round < 5; ++round) {
        peer = std::min(peer, best_of(3, [&] { pixman.frame(); }));
        four = std::min(four, best_of(6, full_frame_job));
      }
      use_workers(0);
      std::printf("%s: pixman one core %.3f ms, full redraw on four workers %.3f ms\n", load, peer * 1e3, four * 1e3);
      bench_aim_at_least((std::string(load) + ", pixman one core / full redraw on four workers").c_str(), peer / four,
                         aim);
    };
    compare("as the machine is", 6);
    BusyMachine spinners(half);
    compare("half the cores busy", 3);
  }
#endif
  const double p1 = t("present_whole/1280/720"), p2 = t("present_whole/1920/1080");
  if (p1 > 0 && p2 > 0) std::printf("presentation: 1:1 %.3f ms, scaled to 1920 x 1080 %.3f ms\n", p1 * 1e3, p2 * 1e3);
  benchmark::Shutdown();
  return bench_exit_status();
}
