// Resampling a 1920 x 1080 image to 1280 x 720 in each mode against pixman's
// bilinear scaling of the same image (one thread). The threaded modes run on
// the calling thread and on four pixel workers. Prints the ratios of
// megapixels a second (engine / pixman) at the end.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/frame/engine_steps.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/resample.h"
#include "engine/image/span_kernels.h"

// pixman's header is found through its pkg-config include folder, which the
// build adds together with the library.
#if __has_include(<pixman.h>)
#include <pixman.h>
#define KL_HAVE_PIXMAN 1
#endif

namespace {

constexpr int kSW = 1920, kSH = 1080, kDW = 1280, kDH = 720;

struct Images {
  std::vector<u32> src, dst;
  Images() : src(kSW * kSH + kSW + 1), dst(kDW * kDH + kDW + 1) {
    for (int y = 0; y < kSH; ++y)
      for (int x = 0; x < kSW; ++x) {
        const u32 b = (x * 255) / kSW, g = (y * 255) / kSH, r = ((x ^ y) & 255), a = 255 - ((x + y) & 127);
        src[y * kSW + x] = b | (g << 8) | (r << 16) | (a << 24);
      }
  }
};
Images& images() {
  static Images im;
  return im;
}

void engine_resample(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const int workers = static_cast<int>(state.range(1));
  Images& im = images();
  if (workers > 0) start_pixel_workers_count(workers);
  else stop_pixel_workers();
  const i32 x1 = (kSW - 1) * 100, y1 = (kSH - 1) * 100;
  for (auto _ : state) {
    switch (mode) {
      case 10: scale_nearest_threaded(im.dst.data(), im.src.data(), 0, 0, kSW - 1, kSH - 1, kSW, kSH, kDW, kDH); break;
      case 21: scale_bilinear_threaded(im.dst.data(), im.src.data(), 0, 0, x1, y1, kSW, kSH, kDW, kDH); break;
      case 31: scale_bicubic(im.dst.data(), im.src.data(), 0, 0, kSW - 1, kSH - 1, kSW, kSH, kDW, kDH); break;
      case 41: resample_threaded(im.dst.data(), im.src.data(), 0, 0, x1, y1, kSW, kSH, kDW, kDH); break;
      case 51: resize_lanczos2(im.dst.data(), im.src.data(), 0, 0, kSW - 1, kSH - 1, kSW, kSH, kDW, kDH); break;
    }
    benchmark::ClobberMemory();
  }
  stop_pixel_workers();
  state.SetItemsProcessed(state.iterations() * kDW * kDH);
}
BENCHMARK(engine_resample)
    ->Args({10, 0})
    ->Args({10, 4})
    ->Args({21, 0})
    ->Args({21, 4})
    ->Args({31, 0})
    ->Args({41, 0})
    ->Args({41, 4})
    ->Args({51, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

#ifdef KL_HAVE_PIXMAN
void pixman_bilinear(benchmark::State& state) {
  Images& im = images();
  std::vector<u32> dst(kDW * kDH);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSW, kSH, im.src.data(), kSW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, kDW, kDH, dst.data(), kDW * 4);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(static_cast<double>(kSW) / kDW),
                              pixman_double_to_fixed(static_cast<double>(kSH) / kDH));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kDW, kDH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * kDW * kDH);
}
BENCHMARK(pixman_bilinear)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif


}  // namespace

int main(int argc, char** argv) {
  init_span_ops();
  init_blend_tables();
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::string p = "pixman_bilinear/real_time";
  if (reporter.rate.count(p)) {
    const double base = reporter.rate[p];
    std::printf("\npixman bilinear 1920x1080 -> 1280x720: %.0f Mpx/s\n", base / 1e6);
    for (const auto& [name, rate] : reporter.rate) {
      if (name == p) continue;
      std::printf("  %-34s %7.0f Mpx/s, ratio %.2f\n", name.c_str(), rate / 1e6, rate / base);
    }
  }
  benchmark::Shutdown();
  return bench_exit_status();
}
