// JPEG frame-set benchmarks: showing the frames of a set in a layer (the
// shared decompressor, the spare buffer and the swap into the layer) against
// libjpeg alone decoding the same JPEG bytes into one B, G, R, A buffer.
// Prints reader time / libjpeg time per frame (the aim is at most 1.05), and
// the load (checks and unscrambling) in MB/s beside memcpy of the same bytes.
//
// The set holds 4 frames of 1280 x 720, made in memory at start from
// gradients and noise, at quality 90.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "bench/bench_support.h"
#include "engine/frame/engine_state.h"
#include "engine/image/frame_set.h"
#include "engine/image/frame_set_format.h"
#include "engine/image/layer_image.h"
#include "platform/platform.h"

namespace {

constexpr int kW = 1280;
constexpr int kH = 720;
constexpr int kFrames = 4;
using Bytes = std::vector<unsigned char>;

std::vector<Bytes> g_jpegs;  // the frames as plain JPEG files
Bytes g_file;                // the frame-set file
LayerImage* g_layer = nullptr;

Bytes make_jpeg(int seed) {
  Bytes rgb(static_cast<size_t>(kW) * kH * 3);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) {
        const std::uint32_t n = bench_noise(static_cast<std::uint32_t>((y * kW + x) * 3 + c + seed * 7919));
        rgb[(static_cast<size_t>(y) * kW + x) * 3 + c] =
            static_cast<unsigned char>(((x * (3 + c) + y * (5 - c) + seed * 50) + (n & 7)) & 0xFF);
      }
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = kW;
  c.image_height = kH;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = rgb.data() + static_cast<size_t>(c.next_scanline) * kW * 3;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(mem, mem + size);
  std::free(mem);
  return out;
}

Bytes make_set(const std::vector<Bytes>& frames) {
  const size_t n = frames.size();
  Bytes out(kFrameSetHeaderBytes + kFrameSetTableWords * 4 * n, 0);
  frame_set_put_u32(&out[kFrameSetOffCount], static_cast<u32>(n));
  for (size_t k = 0; k < n; ++k) {
    const size_t at = out.size();
    out.insert(out.end(), frames[k].begin(), frames[k].end());
    frame_part_scramble(&out[at], frames[k].size());
    frame_set_put_u32(&out[kFrameSetHeaderBytes + 4 * k], static_cast<u32>(at));
    frame_set_put_u32(&out[kFrameSetHeaderBytes + 4 * (n + k)], static_cast<u32>(frames[k].size()));
  }
  return out;
}

// The set attached to the layer, made from a copy of the file.
bool attach_set() {
  release_image_frame_set(g_layer);
  u8* bytes = static_cast<u8*>(std::malloc(g_file.size()));
  if (!bytes) return false;
  std::memcpy(bytes, g_file.data(), g_file.size());
  return make_frame_set(bytes, static_cast<u32>(g_file.size()), "b.fs", &g_layer->frame_set) == 0;
}

// libjpeg alone: one decompressor per frame, straight into a reused buffer.
void libjpeg_decode(const Bytes& file, LargePageVector<std::uint32_t>* out) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&d);
  out->resize(static_cast<size_t>(d.output_width) * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(out->data() + static_cast<size_t>(d.output_width) * d.output_scanline);
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
}

void BM_FrameSetShowFrame(benchmark::State& state) {
  if (!attach_set()) std::abort();
  int k = 0;
  for (auto _ : state) {
    if (show_frame_in_image(g_layer, k) != 0) std::abort();
    k = (k + 1) % kFrames;
    benchmark::DoNotOptimize(g_layer->pixels);
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_FrameSetLibjpegAlone(benchmark::State& state) {
  LargePageVector<std::uint32_t> out;
  int k = 0;
  for (auto _ : state) {
    libjpeg_decode(g_jpegs[k], &out);
    k = (k + 1) % kFrames;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_FrameSetLoad(benchmark::State& state) {
  for (auto _ : state)
    if (!attach_set()) std::abort();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_file.size()));
}
void BM_FrameSetMemcpy(benchmark::State& state) {
  Bytes copy(g_file.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), g_file.data(), g_file.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_file.size()));
}
BENCHMARK(BM_FrameSetShowFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameSetLibjpegAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameSetLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameSetMemcpy)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  platform_select_fakes();
  g_errors_quiet = true;
  for (int k = 0; k < kFrames; ++k) g_jpegs.push_back(make_jpeg(k));
  g_file = make_set(g_jpegs);
  g_layer = new_layer_image();
  benchmark::Initialize(&argc, argv);
  CheckingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // The ratio from alternating runs over all frames, best of each.
  if (!attach_set()) return 1;
  LargePageVector<std::uint32_t> plain;  // libjpeg decodes into the memory a layer has
  double reader = 1e30, lib = 1e30;
  for (int round = 0; round < 5; ++round) {
    reader = std::min(reader, best_of(2, [] {
                        for (int k = 0; k < kFrames; ++k) show_frame_in_image(g_layer, k);
                      }));
    lib = std::min(lib, best_of(2, [&] {
                     for (int k = 0; k < kFrames; ++k) libjpeg_decode(g_jpegs[k], &plain);
                   }));
  }
  std::printf("\nFrame set %d x %dx%d (%zu bytes): reader %.2f ms a frame, libjpeg alone %.2f ms\n", kFrames, kW, kH,
              g_file.size(), reader * 1e3 / kFrames, lib * 1e3 / kFrames);
  bench_aim_at_most("frame set, reader time / libjpeg time", reader / lib, 1.05);
  release_image_frame_set(g_layer);
  free_layer_image(g_layer);
  release_frame_decoder();
  return bench_exit_status();
}
