// Layer blending against pixman's OVER on the same pixels: a 1280 x 720 BGRA
// layer with per-pixel alpha over an opaque 1280 x 720 image, blend mode 0
// at opacity 256 and 128, on the calling thread and on four pixel workers.
// pixman gets a premultiplied copy of the layer (made outside the timing)
// and, for opacity 128, a solid mask of alpha 128. Prints the ratios of
// megapixels a second (engine / pixman) at the end. busy_engine_blend runs the
// opaque case while spinning threads keep every core busy, one thread and
// four workers taking turns, and prints four workers against one thread.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/span_kernels.h"

// pixman's header is found through its pkg-config include folder, which the
// build adds together with the library.
#if __has_include(<pixman.h>)
#include <pixman.h>
#define KL_HAVE_PIXMAN 1
#endif

namespace {

constexpr int kW = 1280, kH = 720;

u32 noise(u32 x) { return bench_noise(x); }

struct Images {
  std::vector<u32> layer, base, work;
  std::vector<u32> premultiplied;
  LayerImage src, dst;
  Images() : layer(kW * kH + kW + 1), base(kW * kH + kW + 1), work(base.size()), premultiplied(kW * kH) {
    for (u32 i = 0; i < layer.size(); ++i) {
      layer[i] = noise(i);
      base[i] = noise(i + 0x9E3779B9u) | 0xFF000000u;
    }
    for (int i = 0; i < kW * kH; ++i) {
      const u32 p = layer[i], a = p >> 24;
      u32 q = a << 24;
      for (int c = 0; c < 3; ++c) q |= (((p >> (8 * c)) & 255) * a / 255) << (8 * c);
      premultiplied[i] = q;
    }
    work = base;
    src.width = src.loaded_width = kW;
    src.height = src.loaded_height = kH;
    src.pixels = src.owned_pixels = layer.data();
    src.has_alpha = 1;
    dst.width = dst.loaded_width = kW;
    dst.height = dst.loaded_height = kH;
    dst.pixels = dst.owned_pixels = work.data();
  }
};
Images& images() {
  static Images im;
  return im;
}

void engine_blend(benchmark::State& state) {
  const int op = static_cast<int>(state.range(0));
  const int workers = static_cast<int>(state.range(1));
  Images& im = images();
  if (workers > 0) start_pixel_workers_count(workers);
  else stop_pixel_workers();
  im.src.alpha = static_cast<i16>(op);
  for (auto _ : state) {
    post_blend_job(kPixelJobBlendAlpha, &im.dst, &im.src, nullptr, nullptr, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  stop_pixel_workers();
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

// The opaque blend while every core is kept busy by spinning threads, on
// one thread and on four workers in alternating blocks.
void busy_engine_blend(benchmark::State& state) {
  Images& im = images();
  im.src.alpha = 256;
  time_busy_alternating(
      state,
      [](int workers) {
        if (workers > 0) start_pixel_workers_count(workers);
        else stop_pixel_workers();
      },
      [&] {
        post_blend_job(kPixelJobBlendAlpha, &im.dst, &im.src, nullptr, nullptr, 0, 0, 0, 0, kW, kH);
        benchmark::ClobberMemory();
      },
      20);
}

#ifdef KL_HAVE_PIXMAN
void pixman_over(benchmark::State& state) {
  const int op = static_cast<int>(state.range(0));
  Images& im = images();
  std::vector<u32> dst = im.base;
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, im.premultiplied.data(), kW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, dst.data(), kW * 4);
  pixman_image_t* m = nullptr;
  if (op < 256) {
    const pixman_color_t c = {0, 0, 0, static_cast<uint16_t>(op * 256)};
    m = pixman_image_create_solid_fill(&c);
  }
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  if (m) pixman_image_unref(m);
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
BENCHMARK(pixman_over)->Arg(256)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

BENCHMARK(engine_blend)
    ->Args({256, 0})
    ->Args({128, 0})
    ->Args({256, 4})
    ->Args({128, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(busy_engine_blend)->Unit(benchmark::kMillisecond)->UseManualTime();


}  // namespace

int main(int argc, char** argv) {
  init_span_ops();
  init_blend_tables();
  benchmark::Initialize(&argc, argv);
  struct Reporter : RateReporter {
    std::map<std::string, double> counter;  // the busy case's counters
    void ReportRuns(const std::vector<Run>& runs) override {
      for (const Run& r : runs)
        if (r.benchmark_name().rfind("busy_engine_blend", 0) == 0)
          for (const auto& [name, c] : r.counters) counter[name] = c.value;
      RateReporter::ReportRuns(runs);
    }
  } reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nspan kernel set: %s\n", g_span_kernel_avx2 ? "SSE2 + AVX2" : (g_span_kernel_mode >= 2 ? "SSE2" : "plain"));
  for (int op : {256, 128}) {
    const std::string p = "pixman_over/" + std::to_string(op) + "/real_time";
    if (!reporter.rate.count(p)) continue;
    const double base = reporter.rate[p];
    std::printf("opacity %d: pixman %.0f Mpx/s\n", op, base / 1e6);
    for (int w : {0, 4}) {
      const std::string e = "engine_blend/" + std::to_string(op) + "/" + std::to_string(w) + "/real_time";
      if (!reporter.rate.count(e)) continue;
      std::printf("  engine %s: %.0f Mpx/s, ratio %.2f\n", w == 0 ? "one thread" : "four workers", reporter.rate[e] / 1e6,
                  reporter.rate[e] / base);
    }
  }
  if (reporter.counter.count("four_over_one")) {
    std::printf("busy machine, opacity 256: one thread %.3f ms, four workers %.3f ms\n", reporter.counter["one_ms"],
                reporter.counter["four_ms"]);
    bench_aim_at_most("busy machine, blend, four workers / one thread", reporter.counter["four_over_one"], 1.1);
  }
  benchmark::Shutdown();
  return bench_exit_status();
}
