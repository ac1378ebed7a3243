// The ZCG decoder on one, two and four workers, its refusals, and the WebP
// plug-in on libwebp (decoding and the ZCG WebP parts).
#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/encode.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/ztzid.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"
#include "engine/image/pixel_workers.h"
#include "engine/image/webp_plugin.h"
#include "engine/image/zcg_decode.h"
#include "platform/dynlib.h"
#include "platform/platform.h"
#include "tests/support/zcg_writer.h"

namespace {

using Bytes = std::vector<u8>;

// The real block-compression and WebP libraries from the build's output
// folder, through the real dynamic-library service.
class ZcgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dynlib = g_platform.dynlib;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_OUT_DIR);
    ASSERT_EQ(load_ztzid_library(), 0);
    load_webp_plugin();
    ASSERT_EQ(g_webp.loaded, 1) << kPosixDynLib.last_error();
    reset_error_report_log();
    image = new_layer_image();
  }
  void TearDown() override {
    free_layer_image(image);
    stop_pixel_workers();
    unload_webp_plugin();
    unload_ztzid_library();
    dynlib_set_search_folder(nullptr);
    g_platform.dynlib = saved_dynlib;
    g_memory_groups = MemoryFileGroups();
  }
  static void use_workers(int n) {
    stop_pixel_workers();
    if (n > 1) {
      ASSERT_EQ(start_pixel_workers_count(n), 0);
    }
    pixel_jobs_always_share(true);
  }
  bool pixels_equal(const std::vector<u32>& want, i32 w, i32 h) const {
    return image->width == w && image->height == h && image->owned_pixels &&
           std::memcmp(image->owned_pixels, want.data(), want.size() * 4) == 0;
  }
  const PlatformDynLib* saved_dynlib = nullptr;
  LayerImage* image = nullptr;
};

TEST_F(ZcgTest, EveryMethodGivesThePixelsOnOneTwoAndFourWorkers) {
  const i32 w = 37, h = 23;
  const std::vector<u32> px = fixtures::zcg_pattern(w, h, 5);
  for (int method = 0; method < 4; ++method) {
    const Bytes file = fixtures::write_zcg(px, w, h, method, 9);
    for (int workers : {1, 2, 4}) {
      use_workers(workers);
      image->has_alpha = 0;
      EXPECT_EQ(decode_zcg_into_layer(file.data(), file.size(), image, "a.zcg"), 0) << method << "/" << workers;
      EXPECT_TRUE(pixels_equal(px, w, h)) << method << "/" << workers;
      EXPECT_EQ(image->has_alpha, 1);
    }
  }
  EXPECT_EQ(g_error_report_log.box_count, 0u);
}

TEST_F(ZcgTest, ADamagedPartFailsTheSameWayOnEveryWorkerCount) {
  const i32 w = 40, h = 30;
  const std::vector<u32> px = fixtures::zcg_pattern(w, h, 9);
  struct Case {
    i32 method;
    int part;
  };
  for (const Case c : {Case{1, 1}, Case{1, 2}, Case{2, 1}, Case{2, 2}, Case{3, 2}}) {
    Bytes file = fixtures::write_zcg(px, w, h, c.method);
    const ZcgHeader hd = zcg_read_header(file.data());
    const std::size_t at = kZcgHeaderBytes + (c.part == 2 ? hd.part1_packed : 0) + 1;
    for (std::size_t i = at; i < at + 12; ++i) file[i] ^= 0xA5;
    const std::string want = "Uncompress Status Error " + std::to_string(c.part) + ".";
    for (int workers : {1, 2, 4}) {
      use_workers(workers);
      reset_error_report_log();
      EXPECT_EQ(decode_zcg_into_layer(file.data(), file.size(), image, "d.zcg"), -1) << c.method << c.part << workers;
      EXPECT_EQ(g_error_report_log.last_box_text, want) << c.method << c.part << workers;
      // No half-unpacked picture is left behind.
      std::vector<u32> zero(static_cast<std::size_t>(w) * h, 0);
      EXPECT_TRUE(pixels_equal(zero, w, h));
    }
  }
}

TEST_F(ZcgTest, HeadersThatDoNotFitTheFileAreRefusedBeforeAnyBuffer) {
  const std::vector<u32> px = fixtures::zcg_pattern(4, 4, 1);
  const Bytes good = fixtures::write_zcg(px, 4, 4, 1);
  struct Case {
    const char* what;
    std::size_t offset;  // header word to change (0: cut the file instead)
    u32 value;
    std::size_t keep;  // bytes kept when cutting
    u32 error;         // numbered error, 0 for the "File Check Error." box
  };
  const Case cases[] = {
      {"shorter than the header", 0, 0, 40, 0},
      {"packed parts past the end", 0, 0, good.size() - 1, 0},
      {"negative sides", kZcgOffWidth, static_cast<u32>(-2), 0, 0},
      {"zero height", kZcgOffHeight, 0, 0, 0},
      {"width 8193", kZcgOffWidth, 8193, 0, 100091},
      {"height 8193", kZcgOffHeight, 8193, 0, 100091},
      {"parts larger than the image", kZcgOffPart2Size, 4 * 4 * 4, 0, 0},
      {"parts smaller than the image", kZcgOffPart1Size, 4, 0, 0},
      {"packed size past the end", kZcgOffPart1Packed, 0xFFFFFFF0u, 0, 0},
      {"unknown method", kZcgOffMethod, 7, 0, 0},
  };
  for (const Case& c : cases) {
    Bytes file = good;
    if (c.offset == 0)
      file.resize(c.keep);
    else
      zcg_put_u32(file.data() + c.offset, c.value);
    for (int workers : {1, 2}) {
      use_workers(workers);
      reset_error_report_log();
      u32* before = image->owned_pixels;
      const i32 bw = image->width, bh = image->height;
      EXPECT_EQ(decode_zcg_into_layer(file.data(), file.size(), image, "h.zcg"), -1) << c.what;
      EXPECT_EQ(image->owned_pixels, before) << c.what;
      EXPECT_EQ(image->width, bw) << c.what;
      EXPECT_EQ(image->height, bh) << c.what;
      if (c.error) {
        EXPECT_EQ(g_error_report_log.last_number, c.error) << c.what;
      } else {
        EXPECT_EQ(g_error_report_log.last_box_text, "File Check Error.") << c.what;
        EXPECT_EQ(g_error_report_log.report_count, 0u) << c.what;
      }
    }
  }
  // A raw image needs all its pixels.
  Bytes raw = fixtures::write_zcg(px, 4, 4, 0);
  raw.pop_back();
  EXPECT_EQ(decode_zcg_into_layer(raw.data(), raw.size(), image, "r.zcg"), -1);
}

TEST_F(ZcgTest, WrongMagicIsShownAndTheImageStillLoads) {
  const std::vector<u32> px = fixtures::zcg_pattern(2, 2, 3);
  Bytes file = fixtures::write_zcg(px, 2, 2, 0);
  ASSERT_EQ(file.size(), 56u + 16u);
  file[0] = 'X';
  EXPECT_EQ(decode_zcg_into_layer(file.data(), file.size(), image, "m.zcg"), 0);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_EQ(g_error_report_log.last_box_text, "File Check Error.");
  EXPECT_TRUE(pixels_equal(px, 2, 2));
}

TEST_F(ZcgTest, RawFileWithoutPartFieldsLoadsWholeOnEveryWorkerCount) {
  const std::vector<u32> px = fixtures::zcg_pattern(6, 5, 4);
  Bytes file = fixtures::write_zcg(px, 6, 5, 0);
  for (std::size_t off : {kZcgOffPart1Size, kZcgOffPart1Packed, kZcgOffPart2Size, kZcgOffPart2Packed})
    zcg_put_u32(file.data() + off, 0);
  for (int workers : {1, 2, 4}) {
    use_workers(workers);
    EXPECT_EQ(decode_zcg_into_layer(file.data(), file.size(), image, "z.zcg"), 0);
    EXPECT_TRUE(pixels_equal(px, 6, 5)) << workers;
  }
}

TEST_F(ZcgTest, WebpPartsWithoutThePluginFailWithTheirBox) {
  const std::vector<u32> px = fixtures::zcg_pattern(8, 8, 2);
  const Bytes file = fixtures::write_zcg(px, 8, 8, 3);
  unload_webp_plugin();
  for (int workers : {1, 2}) {
    use_workers(workers);
    reset_error_report_log();
    EXPECT_EQ(decode_zcg_into_layer(file.data(), file.size(), image, "w.zcg"), -1);
    EXPECT_EQ(g_error_report_log.last_box_text, "Uncompress Status Error 1.");
  }
}

TEST_F(ZcgTest, ZcgFromAMemoryGroupLoadsThroughTheDispatch) {
  const std::vector<u32> px = fixtures::zcg_pattern(5, 3, 8);
  MemoryFileEntry e;
  e.name = "cg\\bg.zcg";
  e.data = fixtures::write_zcg(px, 5, 3, 2);
  e.media_type = 8;
  g_memory_groups.groups[1].entries.push_back(e);
  ASSERT_EQ(load_image_into_layer(image, "cg\\bg.zcg"), 0);
  EXPECT_EQ(image->width, 5);
  EXPECT_EQ(image->has_alpha, 1);
  // The common tail turns fully transparent pixels into the fill colour.
  for (std::size_t i = 0; i < px.size(); ++i) {
    const u32 want = (px[i] >> 24) == 0 ? g_transparent_fill_colour : px[i];
    ASSERT_EQ(image->owned_pixels[i], want) << i;
  }
}

// ---- WebP ----

Bytes encode_webp(const std::vector<u32>& px, int w, int h, float quality) {
  u8* out = nullptr;
  const u8* src = reinterpret_cast<const u8*>(px.data());
  const std::size_t n = quality < 0 ? WebPEncodeLosslessBGRA(src, w, h, w * 4, &out)
                                    : WebPEncodeBGRA(src, w, h, w * 4, quality, &out);
  Bytes b(out, out + n);
  WebPFree(out);
  return b;
}

TEST_F(ZcgTest, WebpDecodesAsLibwebpDoes) {
  const std::vector<u32> px = fixtures::zcg_pattern(33, 17, 6);
  for (float q : {-1.0f, 75.0f}) {
    const Bytes file = encode_webp(px, 33, 17, q);
    int w = 0, h = 0;
    u8* ref = WebPDecodeBGRA(file.data(), file.size(), &w, &h);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(decode_webp_into_layer(file.data(), file.size(), image, "a.webp"), 0);
    EXPECT_EQ(image->width, 33);
    EXPECT_EQ(image->has_alpha, 1);
    EXPECT_EQ(std::memcmp(image->owned_pixels, ref, static_cast<std::size_t>(w) * h * 4), 0) << q;
    if (q < 0) {
      EXPECT_TRUE(pixels_equal(px, 33, 17));
    }
    WebPFree(ref);
  }
}

TEST_F(ZcgTest, WebpRefusalsLeaveTheLayerAsItWas) {
  const std::vector<u32> small = fixtures::zcg_pattern(4, 4, 1);
  const Bytes good = encode_webp(small, 4, 4, -1);
  ASSERT_EQ(decode_webp_into_layer(good.data(), good.size(), image, "a.webp"), 0);
  Bytes not_webp = good;
  not_webp[9] = 'X';
  Bytes cut = good;
  cut.resize(20);
  const Bytes tall = encode_webp(std::vector<u32>(9000, 0xFF102030u), 1, 9000, -1);
  struct Case {
    const char* what;
    const Bytes* file;
    u32 error;
  };
  for (const Case c : {Case{"bytes 8-11", &not_webp, 0}, Case{"cut", &cut, 0}, Case{"9000 rows", &tall, 100091}}) {
    reset_error_report_log();
    u32* before = image->owned_pixels;
    EXPECT_EQ(decode_webp_into_layer(c.file->data(), c.file->size(), image, "b.webp"), -1) << c.what;
    EXPECT_EQ(image->owned_pixels, before) << c.what;
    EXPECT_TRUE(pixels_equal(small, 4, 4)) << c.what;
    if (c.error) {
      EXPECT_EQ(g_error_report_log.last_number, c.error);
    } else {
      EXPECT_EQ(g_error_report_log.last_box_text, "File Check Error.") << c.what;
    }
  }
  unload_webp_plugin();
  reset_error_report_log();
  EXPECT_EQ(decode_webp_into_layer(good.data(), good.size(), image, "a.webp"), -1);
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_NE(g_error_report_log.last_box_text.find("WebP"), std::string::npos);
}

TEST_F(ZcgTest, PluginEncodeRoundTripsLosslessAndRefusesASmallBuffer) {
  const std::vector<u32> px = fixtures::zcg_pattern(20, 11, 12);
  Bytes out(20 * 11 * 4 * 2 + 1024);
  const int n = g_webp.encode(reinterpret_cast<const u8*>(px.data()), out.data(), 20, 11, 6, -1,
                              static_cast<u32>(out.size()));
  ASSERT_GT(n, 0);
  int w = 0, h = 0;
  u8* back = WebPDecodeBGRA(out.data(), static_cast<std::size_t>(n), &w, &h);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::memcmp(back, px.data(), px.size() * 4), 0);
  WebPFree(back);
  EXPECT_EQ(g_webp.encode(reinterpret_cast<const u8*>(px.data()), out.data(), 20, 11, 6, 80, 16), 0);
}

}  // namespace
