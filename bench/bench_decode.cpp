// Image decoding benchmarks.
//
// 1. A 1920x1080 PNG and a 1920x1080 JPEG decoded into a layer, against
//    libpng and libjpeg decoding the same file into a plain buffer in the
//    layer's form (B, G, R, A bytes). Prints engine time / library time (the
//    aim is at most 1.10). The engine's loads go one after another into the
//    same layer, as a game's do.
// 2. GIF and BMP decoding of 1920x1080 images in megapixels per second.
// 3. The direct-colour BMP kinds (16-bit 5-5-5 and 5-6-5, 32-bit plain and
//    with bit fields) decoded into a layer, against SDL's loader reading the
//    same file and converting it to 32-bit ARGB, the layer's form. Prints
//    engine time / SDL time (the aim is at most 1.05).
//
// The files are made in memory at start: a picture of gradients and noise
// (so that neither codec sees trivial data).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <SDL2/SDL.h>
#include <jpeglib.h>
#include <png.h>

#include "bench/bench_support.h"
#include "engine/frame/engine_state.h"
#include "engine/image/bmp_decode.h"
#include "engine/image/gif_decode.h"
#include "engine/image/jpeg_read.h"
#include "engine/image/layer_image.h"
#include "engine/image/png_read.h"
#include "platform/platform.h"

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;
using Bytes = std::vector<unsigned char>;

Bytes g_png, g_jpeg, g_gif, g_bmp;

unsigned char sample(int x, int y, int c, unsigned* seed) {
  *seed = *seed * 1664525u + 1013904223u;
  const int base = (x * (3 + c) + y * (5 - c) + ((x * y) >> 9)) & 0xFF;
  return static_cast<unsigned char>((base + static_cast<int>((*seed >> 28) & 7)) & 0xFF);
}

void png_out(png_structp png, png_bytep data, png_size_t n) {
  Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void png_flush(png_structp) {}

Bytes make_png(const Bytes& rgb) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) std::abort();
  png_set_write_fn(png, &out, png_out, png_flush);
  png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < kH; ++y) png_write_row(png, const_cast<png_bytep>(rgb.data() + static_cast<size_t>(y) * kW * 3));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes make_jpeg(const Bytes& rgb) {
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
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + static_cast<size_t>(c.next_scanline) * kW * 3);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(mem, mem + size);
  std::free(mem);
  return out;
}

// A GIF of 8-bit indices with an LZW coder of its own (clear code when the
// table is full).
Bytes make_gif(const Bytes& indices) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a', kW & 0xFF, kW >> 8, kH & 0xFF, kH >> 8, 0xF7, 0, 0};
  for (int i = 0; i < 256; ++i) {
    out.push_back(static_cast<unsigned char>(i));
    out.push_back(static_cast<unsigned char>(255 - i));
    out.push_back(static_cast<unsigned char>(i * 3));
  }
  Bytes desc = {0x2C, 0, 0, 0, 0, kW & 0xFF, kW >> 8, kH & 0xFF, kH >> 8, 0, 8};
  out.insert(out.end(), desc.begin(), desc.end());
  Bytes packed;
  unsigned acc = 0;
  int bits = 0, size = 9, next = 258;
  auto put = [&](int code) {
    acc |= static_cast<unsigned>(code) << bits;
    bits += size;
    while (bits >= 8) {
      packed.push_back(acc & 0xFF);
      acc >>= 8;
      bits -= 8;
    }
  };
  std::map<std::pair<int, int>, int> dict;
  put(256);
  int prefix = indices[0];
  for (size_t i = 1; i < indices.size(); ++i) {
    const int c = indices[i];
    auto it = dict.find({prefix, c});
    if (it != dict.end()) {
      prefix = it->second;
      continue;
    }
    put(prefix);
    if (next < 4096) {
      dict[{prefix, c}] = next++;
      if (next > (1 << size) && size < 12) size++;
    } else {
      put(256);
      dict.clear();
      next = 258;
      size = 9;
    }
    prefix = c;
  }
  put(prefix);
  put(257);
  if (bits) packed.push_back(acc & 0xFF);
  for (size_t at = 0; at < packed.size(); at += 255) {
    const size_t n = std::min<size_t>(255, packed.size() - at);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), packed.begin() + at, packed.begin() + at + n);
  }
  out.push_back(0);
  out.push_back(0x3B);
  return out;
}

Bytes make_bmp(const Bytes& rgb) {
  const size_t row = (kW * 3 + 3) & ~size_t{3};
  Bytes b(54 + row * kH, 0);
  auto put32 = [&](size_t at, unsigned v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<unsigned>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, kW);
  put32(22, kH);
  b[26] = 1;
  b[28] = 24;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const unsigned char* s = &rgb[(static_cast<size_t>(y) * kW + x) * 3];
      unsigned char* d = &b[54 + row * (kH - 1 - y) + x * 3];
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  return b;
}

// The direct-colour kinds: bit count, compression, header size and the R, G,
// B, A masks of a bit-fields file.
struct BmpKind {
  const char* name;
  int bits;
  unsigned compression, header;
  unsigned masks[4];
};
const BmpKind kBmpKinds[] = {
    {"16-bit 5-5-5", 16, 0, 40, {}},
    {"16-bit 5-6-5", 16, 3, 40, {0xF800u, 0x07E0u, 0x001Fu, 0}},
    {"32-bit plain", 32, 0, 40, {}},
    {"32-bit bit fields R G B A", 32, 3, 124, {0x000000FFu, 0x0000FF00u, 0x00FF0000u, 0xFF000000u}},
};
constexpr int kBmpKindCount = sizeof kBmpKinds / sizeof kBmpKinds[0];
Bytes g_direct_bmp[kBmpKindCount];

Bytes make_direct_bmp(const BmpKind& k) {
  const size_t row = (static_cast<size_t>(kW) * (k.bits / 8) + 3) & ~size_t{3};
  const size_t masks_behind = k.compression == 3 && k.header < 52 ? 12 : 0;
  const size_t offset = 14 + k.header + masks_behind;
  Bytes b(offset + row * kH, 0);
  auto put32 = [&](size_t at, unsigned v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<unsigned>(b.size()));
  put32(10, static_cast<unsigned>(offset));
  put32(14, k.header);
  put32(18, kW);
  put32(22, kH);
  b[26] = 1;
  b[28] = static_cast<unsigned char>(k.bits);
  put32(30, k.compression);
  put32(34, static_cast<unsigned>(row * kH));
  if (k.compression == 3)
    for (int i = 0; i < (k.header >= 56 ? 4 : 3); ++i) put32(54 + 4 * i, k.masks[i]);
  if (k.header >= 108) put32(70, 0x73524742u);  // colour space "sRGB"
  unsigned seed = 11;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      unsigned v = 0;
      for (int c = 0; c < 4; ++c) v |= static_cast<unsigned>(sample(x, y, c, &seed)) << (8 * c);
      unsigned char* d = &b[offset + row * (kH - 1 - y) + static_cast<size_t>(x) * (k.bits / 8)];
      if (k.bits == 32 && k.compression == 0) v &= 0x00FFFFFFu;  // the fourth byte 0, as most writers leave it
      for (int i = 0; i < k.bits / 8; ++i) d[i] = static_cast<unsigned char>(v >> (8 * i));
    }
  return b;
}

// SDL's loader: the file read from memory and converted to 32-bit ARGB.
bool sdl_bmp_decode(const Bytes& file) {
  SDL_Surface* s = SDL_LoadBMP_RW(SDL_RWFromConstMem(file.data(), static_cast<int>(file.size())), 1);
  if (!s) return false;
  SDL_Surface* c = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(s);
  if (!c) return false;
  benchmark::DoNotOptimize(c->pixels);
  SDL_FreeSurface(c);
  return true;
}

// ---- the libraries alone, into a plain buffer ----

struct PngIn {
  const Bytes* data;
  size_t pos;
};
void png_in(png_structp png, png_bytep dest, png_size_t n) {
  PngIn* in = static_cast<PngIn*>(png_get_io_ptr(png));
  if (n > in->data->size() - in->pos) png_error(png, "eof");
  std::memcpy(dest, in->data->data() + in->pos, n);
  in->pos += n;
}

void libpng_decode(const Bytes& file, LargePageVector<unsigned char>* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  PngIn in{&file, 0};
  if (setjmp(png_jmpbuf(png))) std::abort();
  png_set_read_fn(png, &in, png_in);
  png_read_info(png, info);
  png_set_bgr(png);
  png_set_filler(png, 255, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  const size_t stride = png_get_rowbytes(png, info);
  out->resize(stride * kH);
  for (int y = 0; y < kH; ++y) png_read_row(png, out->data() + stride * y, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
}

void libjpeg_decode(const Bytes& file, LargePageVector<unsigned char>* out) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_EXT_BGRA;  // the layer's form, as libpng is asked for above
  jpeg_start_decompress(&d);
  const size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
  out->resize(stride * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = out->data() + stride * d.output_scanline;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
}

// ---- benchmarks ----

LayerImage* g_layer = nullptr;

void BM_PngIntoLayer(benchmark::State& state) {
  for (auto _ : state) {
    if (decode_png_into_layer(g_png.data(), g_png.size(), g_layer, "b.png") != 0) std::abort();
    benchmark::DoNotOptimize(g_layer->pixels);
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_PngLibpngAlone(benchmark::State& state) {
  LargePageVector<unsigned char> out;
  for (auto _ : state) {
    libpng_decode(g_png, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_JpegIntoLayer(benchmark::State& state) {
  for (auto _ : state) {
    if (decode_jpeg_into_layer(g_jpeg.data(), g_jpeg.size(), g_layer, "b.jpg") != 0) std::abort();
    benchmark::DoNotOptimize(g_layer->pixels);
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_JpegLibjpegAlone(benchmark::State& state) {
  LargePageVector<unsigned char> out;
  for (auto _ : state) {
    libjpeg_decode(g_jpeg, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_GifIntoLayer(benchmark::State& state) {
  for (auto _ : state) {
    if (decode_gif_into_layer(g_gif.data(), g_gif.size(), g_layer, "b.gif") != 0) std::abort();
    benchmark::DoNotOptimize(g_layer->pixels);
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_BmpIntoLayer(benchmark::State& state) {
  for (auto _ : state) {
    if (decode_bmp_into_layer(g_bmp.data(), g_bmp.size(), g_layer, "b.bmp") != 0) std::abort();
    benchmark::DoNotOptimize(g_layer->pixels);
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_DirectBmpIntoLayer(benchmark::State& state) {
  const Bytes& file = g_direct_bmp[state.range(0)];
  for (auto _ : state) {
    if (decode_bmp_into_layer(file.data(), file.size(), g_layer, "b.bmp") != 0) {
      state.SkipWithError("the layer refused the file");
      break;
    }
    benchmark::DoNotOptimize(g_layer->pixels);
  }
  state.SetLabel(kBmpKinds[state.range(0)].name);
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
void BM_DirectBmpSdl(benchmark::State& state) {
  const Bytes& file = g_direct_bmp[state.range(0)];
  for (auto _ : state) {
    if (!sdl_bmp_decode(file)) {
      state.SkipWithError(SDL_GetError());
      break;
    }
  }
  state.SetLabel(kBmpKinds[state.range(0)].name);
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
BENCHMARK(BM_PngIntoLayer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpngAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegIntoLayer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLibjpegAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifIntoLayer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpIntoLayer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectBmpIntoLayer)->DenseRange(0, kBmpKindCount - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectBmpSdl)->DenseRange(0, kBmpKindCount - 1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  platform_select_fakes();
  g_errors_quiet = true;
  Bytes rgb(static_cast<size_t>(kW) * kH * 3), idx(static_cast<size_t>(kW) * kH);
  unsigned seed = 7;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      for (int c = 0; c < 3; ++c) rgb[(static_cast<size_t>(y) * kW + x) * 3 + c] = sample(x, y, c, &seed);
      idx[static_cast<size_t>(y) * kW + x] = static_cast<unsigned char>(((x >> 3) + (y >> 3) * 7) & 0xFF);
    }
  g_png = make_png(rgb);
  g_jpeg = make_jpeg(rgb);
  g_gif = make_gif(idx);
  g_bmp = make_bmp(rgb);
  for (int k = 0; k < kBmpKindCount; ++k) g_direct_bmp[k] = make_direct_bmp(kBmpKinds[k]);
  g_layer = new_layer_image();
  benchmark::Initialize(&argc, argv);
  CheckingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // Ratios from alternating runs, best of each.
  LargePageVector<unsigned char> plain;  // the libraries decode into the memory a layer has
  double png_engine = 1e30, png_lib = 1e30, jpeg_engine = 1e30, jpeg_lib = 1e30;
  for (int round = 0; round < 5; ++round) {
    png_engine = std::min(png_engine, best_of(2, [] { decode_png_into_layer(g_png.data(), g_png.size(), g_layer, "b.png"); }));
    png_lib = std::min(png_lib, best_of(2, [&] { libpng_decode(g_png, &plain); }));
    jpeg_engine =
        std::min(jpeg_engine, best_of(2, [] { decode_jpeg_into_layer(g_jpeg.data(), g_jpeg.size(), g_layer, "b.jpg"); }));
    jpeg_lib = std::min(jpeg_lib, best_of(2, [&] { libjpeg_decode(g_jpeg, &plain); }));
  }
  const double gif_s = best_of(3, [] { decode_gif_into_layer(g_gif.data(), g_gif.size(), g_layer, "b.gif"); });
  const double bmp_s = best_of(5, [] { decode_bmp_into_layer(g_bmp.data(), g_bmp.size(), g_layer, "b.bmp"); });
  std::printf("\nPNG 1920x1080 (%zu bytes): layer %.2f ms, libpng alone %.2f ms\n", g_png.size(), png_engine * 1e3,
              png_lib * 1e3);
  bench_aim_at_most("PNG, layer time / libpng time", png_engine / png_lib, 1.10);
  std::printf("JPEG 1920x1080 (%zu bytes): layer %.2f ms, libjpeg alone %.2f ms\n", g_jpeg.size(), jpeg_engine * 1e3,
              jpeg_lib * 1e3);
  bench_aim_at_most("JPEG, layer time / libjpeg time", jpeg_engine / jpeg_lib, 1.10);
  std::printf("GIF 1920x1080: %.1f Mpx/s\n", kW * kH / gif_s / 1e6);
  std::printf("BMP 1920x1080 24-bit: %.1f Mpx/s\n", kW * kH / bmp_s / 1e6);
  for (int k = 0; k < kBmpKindCount; ++k) {
    const Bytes& file = g_direct_bmp[k];
    bool ok = true;
    double engine = 1e30, sdl = 1e30;
    for (int round = 0; round < 5; ++round) {
      engine = std::min(engine, best_of(3, [&] {
                          ok &= decode_bmp_into_layer(file.data(), file.size(), g_layer, "b.bmp") == 0;
                        }));
      sdl = std::min(sdl, best_of(3, [&] { ok &= sdl_bmp_decode(file); }));
    }
    if (!bench_expect(ok, kBmpKinds[k].name)) continue;
    std::printf("BMP 1920x1080 %s: layer %.2f ms, SDL_LoadBMP + convert to ARGB %.2f ms\n", kBmpKinds[k].name,
                engine * 1e3, sdl * 1e3);
    bench_aim_at_most((std::string("BMP ") + kBmpKinds[k].name + ", layer time / SDL time").c_str(), engine / sdl, 1.05);
  }
  free_layer_image(g_layer);
  return bench_exit_status();
}
