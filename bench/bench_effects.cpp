// Pixel effects and text stamping against their peers, on 1280 x 720:
//  - box blur both ways (effect 5, radius 8) against pixman's separable box
//    convolution of the same pixels;
//  - brightness, negative, sepia and grey against memcpy of the same bytes;
//  - a 40-character Japanese line stamped at 20 pixels with smoothing
//    (4x 1-bit glyphs and coverage), slot cache warm and cold, against
//    FreeType's own anti-aliased rendering of the same glyphs.
// Prints the ratios at the end (peer time / our time: above 1 is faster).
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/frame/engine_steps.h"
#include "engine/image/font_slots.h"
#include "engine/image/layer_draw.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_effects.h"
#include "platform/files.h"
#include "platform/fonts.h"
#include "platform/platform.h"

#if __has_include(<pixman.h>)
#include <pixman.h>
#define KL_HAVE_PIXMAN 1
#endif

namespace {

constexpr int kW = 1280, kH = 720;

struct Images {
  std::vector<u32> src, dst;
  Images() : src(static_cast<std::size_t>(kW) * kH + kW + 1), dst(src.size()) {
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = bench_noise(static_cast<u32>(i)) | 0xFF000000u;
  }
};
Images& images() {
  static Images im;
  return im;
}

void run_effect(benchmark::State& state, int type, i64 value) {
  Images& im = images();
  EffectJob j;
  j.dst = im.dst.data();
  j.dst_w = kW;
  j.dst_h = kH;
  j.src = im.src.data();
  j.src_w = kW;
  j.src_h = kH;
  j.x1 = kW - 1;
  j.y1 = kH - 1;
  j.value = value;
  for (auto _ : state) {
    run_pixel_effect(type, j);
    benchmark::DoNotOptimize(im.dst.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void box_blur_r8(benchmark::State& s) { run_effect(s, 5, 8); }
void brightness(benchmark::State& s) { run_effect(s, 1, 160); }
void negative(benchmark::State& s) { run_effect(s, 28, 1); }
void sepia(benchmark::State& s) { run_effect(s, 39, 0); }
void grey(benchmark::State& s) { run_effect(s, 30, 0); }
BENCHMARK(box_blur_r8)->Unit(benchmark::kMillisecond);
BENCHMARK(brightness)->Unit(benchmark::kMillisecond);
BENCHMARK(negative)->Unit(benchmark::kMillisecond);
BENCHMARK(sepia)->Unit(benchmark::kMillisecond);
BENCHMARK(grey)->Unit(benchmark::kMillisecond);

void copy_bytes(benchmark::State& state) {
  Images& im = images();
  for (auto _ : state) {
    std::memcpy(im.dst.data(), im.src.data(), static_cast<std::size_t>(kW) * kH * 4);
    benchmark::DoNotOptimize(im.dst.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(copy_bytes)->Unit(benchmark::kMillisecond);

#ifdef KL_HAVE_PIXMAN
void pixman_box_r8(benchmark::State& state) {
  Images& im = images();
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, im.src.data(), kW * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, im.dst.data(), kW * 4);
  int n = 0;
  // A 17-pixel box (radius 8) each way: an impulse reconstruction sampled
  // by a box 17 pixels wide.
  pixman_fixed_t* params = pixman_filter_create_separable_convolution(
      &n, pixman_int_to_fixed(17), pixman_int_to_fixed(17), PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE,
      PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 0, 0);
  pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(im.dst.data());
  }
  free(params);
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(pixman_box_r8)->Unit(benchmark::kMillisecond);
#endif

// "ようこそ" ... a 40-character line of kana and kanji.
const char* const kLine = "ようこそ、言語の森へ。今日は良い天気ですね。明日も晴れるでしょうか、それとも雨か";

std::string line_sjis() {
  std::string s;
  utf8_to_sjis(kLine, &s);
  return s;
}

bool use_ipa_gothic() {
  g_platform.fonts = &kFreetypeFonts;
  build_font_list();
  std::string name;
  utf8_to_sjis("IPAゴシック", &name);
  return set_slot_font_by_name(name.c_str()) == 1;
}

void stamp_line(benchmark::State& state, bool cold) {
  if (!use_ipa_gothic()) {
    state.SkipWithError("IPAゴシック is not installed");
    return;
  }
  const std::string line = line_sjis();
  LayerImage image;
  std::vector<u32> pixels(static_cast<std::size_t>(1000) * 40, 0);
  image.owned_pixels = image.pixels = pixels.data();
  image.width = 1000;
  image.height = 40;
  std::vector<u8> coverage(20 * 20);
  GlyphStyle style;
  for (auto _ : state) {
    if (cold) {
      // A new size every time: the slot's face and bitmap are made again.
      g_font_slots[0].key_width = -1;
    }
    i64 x = 0;
    for (const char* p = line.c_str(); *p;) {
      const int n = sjis_char_length(p);
      i32 adv = 0, h = 0;
      measure_text_gdi(p, 20, 20, 0, 1, &adv, &h);
      render_glyph_coverage(p, 20, 20, 0, 1, coverage.data());
      stamp_text_glyph(&image, coverage.data(), 20, 20, x, 10, 0, style, 63);
      x += adv;
      p += n;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  image.owned_pixels = image.pixels = nullptr;
  state.SetItemsProcessed(state.iterations());
}
void stamp_line_warm(benchmark::State& s) { stamp_line(s, false); }
void stamp_line_cold(benchmark::State& s) { stamp_line(s, true); }
BENCHMARK(stamp_line_warm)->Unit(benchmark::kMillisecond);
BENCHMARK(stamp_line_cold)->Unit(benchmark::kMillisecond);

void freetype_line(benchmark::State& state) {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&lib) != 0 ||
      FT_New_Face(lib, "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0, &face) != 0) {
    state.SkipWithError("ipag.ttf not found");
    return;
  }
  FT_Set_Pixel_Sizes(face, 0, 20);
  std::vector<unsigned> code_points;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(kLine); *p;) {
    unsigned cp = *p;
    int n = 1;
    if (cp >= 0xF0) cp &= 7, n = 4;
    else if (cp >= 0xE0) cp &= 15, n = 3;
    else if (cp >= 0xC0) cp &= 31, n = 2;
    for (int i = 1; i < n; ++i) cp = cp << 6 | (p[i] & 63);
    code_points.push_back(cp);
    p += n;
  }
  for (auto _ : state) {
    for (unsigned cp : code_points) {
      FT_Load_Char(face, cp, FT_LOAD_DEFAULT);
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
      benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(freetype_line)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  platform_select_fakes();
  init_span_ops();
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto rate = [&](const char* name) {
    auto it = reporter.rate.find(name);
    return it == reporter.rate.end() ? 0.0 : it->second;
  };
  auto ratio = [&](const char* ours, const char* peer, const char* what) {
    const double a = rate(ours), b = rate(peer);
    if (a > 0 && b > 0) std::printf("%s: %s / %s = %.2f (peer time / ours)\n", what, ours, peer, a / b);
  };
  std::printf("\n");
  ratio("box_blur_r8", "pixman_box_r8", "box blur radius 8 vs pixman separable box");
  for (const char* e : {"brightness", "negative", "sepia", "grey"}) ratio(e, "copy_bytes", "effect vs memcpy");
  ratio("stamp_line_warm", "freetype_line", "40-character line, warm slot vs FreeType anti-aliased");
  ratio("stamp_line_cold", "freetype_line", "40-character line, cold slot vs FreeType anti-aliased");
  free_font_slots();
  benchmark::Shutdown();
  return bench_exit_status();
}
