// Every image reader refuses a cut or damaged file without touching the
// layer: its size, pixels and alpha flag stay as the last good load left
// them.
#include <gtest/gtest.h>

#include <webp/encode.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/ztzid.h"
#include "engine/image/frame_set.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"
#include "engine/image/memory_groups.h"
#include "engine/image/webp_plugin.h"
#include "engine/vm/object_tree.h"
#include "platform/dynlib.h"
#include "platform/platform.h"
#include "tests/image/image_fixtures.h"
#include "tests/support/frame_set_writer.h"
#include "tests/support/zcg_writer.h"
#include "tests/support/image_helpers.h"

using fixtures::Bytes;

namespace {

Bytes cut(Bytes b, std::size_t keep) {
  b.resize(keep);
  return b;
}

Bytes with_byte(Bytes b, std::size_t at, std::uint8_t value) {
  b[at] = value;
  return b;
}

Bytes rgb_pixels(int w, int h, int comps) {
  Bytes px(static_cast<std::size_t>(w) * h * comps);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < comps; ++c) px[(static_cast<std::size_t>(y) * w + x) * comps + c] = fixtures::pattern(x, y, c);
  return px;
}

Bytes bmp_file() {
  fixtures::BmpSpec s;
  s.width = 9;
  s.height = 7;
  for (int i = 0; i < 63; ++i) s.pixels.push_back(0xFF000000u | (i * 0x030507u));
  return fixtures::write_bmp(s);
}

// A 9 x 7 RGB PNG; other arguments give another picture of the same size.
Bytes png_file(int x_offset = 0, int y_scale = 1, int seed = 1) {
  fixtures::PngSpec s;
  s.width = 9;
  s.height = 7;
  s.colour_type = PNG_COLOR_TYPE_RGB;
  for (int y = 0; y < 7; ++y) {
    Bytes row;
    for (int x = 0; x < 9 * 3; ++x) row.push_back(fixtures::pattern(x + x_offset, y * y_scale, seed));
    s.rows.push_back(row);
  }
  return fixtures::write_png(s);
}

Bytes jpeg_file() { return fixtures::write_jpeg(16, 16, 3, rgb_pixels(16, 16, 3)); }

// A JPEG whose whole scan decodes, followed by a second frame header where
// the end marker should be: the reader meets it only after the last row.
Bytes jpeg_with_second_frame() {
  Bytes j = jpeg_file();
  std::size_t sof = 0;
  for (std::size_t i = 2; i + 1 < j.size(); ++i)
    if (j[i] == 0xFF && j[i + 1] == 0xC0) {
      sof = i;
      break;
    }
  const std::size_t sof_len = 2 + (static_cast<std::size_t>(j[sof + 2]) << 8 | j[sof + 3]);
  Bytes sof_segment(j.begin() + static_cast<std::ptrdiff_t>(sof), j.begin() + static_cast<std::ptrdiff_t>(sof + sof_len));
  j.resize(j.size() - 2);  // the end marker
  j.insert(j.end(), sof_segment.begin(), sof_segment.end());
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// The first component's quantisation table becomes one the file does not
// define: found once decompression starts.
Bytes undefined_quant_table(Bytes j) {
  for (std::size_t i = 0; i + 12 < j.size(); ++i)
    if (j[i] == 0xFF && j[i + 1] == 0xC0) {
      j[i + 12] = 3;  // marker, length, precision, height, width, count, then id, sampling, table
      break;
    }
  return j;
}

Bytes gif_file() {
  std::vector<GifColorType> palette(4);
  for (int i = 0; i < 4; ++i) palette[i] = GifColorType{static_cast<GifByteType>(i * 60), 10, 20};
  fixtures::GifFrameSpec f;
  f.width = 12;
  f.height = 10;
  for (int i = 0; i < 120; ++i) f.indices.push_back(static_cast<std::uint8_t>((i * 7 + i / 5) & 3));
  return fixtures::write_gif(12, 10, palette, {f});
}

Bytes webp_file() {
  const std::vector<u32> px = fixtures::zcg_pattern(40, 30, 3);
  u8* out = nullptr;
  const std::size_t n = WebPEncodeLosslessBGRA(reinterpret_cast<const u8*>(px.data()), 40, 30, 40 * 4, &out);
  Bytes b(out, out + n);
  WebPFree(out);
  return b;
}

class RefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dynlib = g_platform.dynlib;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_OUT_DIR);
    ASSERT_EQ(load_ztzid_library(), 0);
    load_webp_plugin();
    ASSERT_EQ(g_webp.loaded, 1);
    reset_error_report_log();
    g_quit_requested = 0;
    g_memory_groups = MemoryFileGroups();
    image = new_layer_image();
    // The good load every case starts from: 3 x 2 with alpha.
    fixtures::PngSpec s;
    s.width = 3;
    s.height = 2;
    s.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    s.rows = {{1, 2, 3, 255, 4, 5, 6, 128, 7, 8, 9, 255}, {10, 11, 12, 255, 13, 14, 15, 255, 16, 17, 18, 64}};
    good = fixtures::write_png(s);
    load_good();
    kept.assign(image->owned_pixels, image->owned_pixels + 6);
  }
  void load_good() { ASSERT_EQ(load_image_from_bytes(good.data(), good.size(), image, "good.png"), 0); }
  void TearDown() override {
    release_image_frame_set(image);
    free_layer_image(image);
    release_frame_decoder();
    unload_webp_plugin();
    unload_ztzid_library();
    dynlib_set_search_folder(nullptr);
    g_platform.dynlib = saved_dynlib;
    g_memory_groups = MemoryFileGroups();
    g_quit_requested = 0;
  }
  void expect_kept(const std::string& what) {
    EXPECT_EQ(image->width, 3) << what;
    EXPECT_EQ(image->height, 2) << what;
    EXPECT_EQ(image->has_alpha, 1) << what;
    ASSERT_NE(image->owned_pixels, nullptr) << what;
    EXPECT_EQ(image->pixels, image->owned_pixels) << what;
    EXPECT_EQ(std::vector<u32>(image->owned_pixels, image->owned_pixels + 6), kept) << what;
  }
  const PlatformDynLib* saved_dynlib = nullptr;
  LayerImage* image = nullptr;
  Bytes good;
  std::vector<u32> kept;
};

}  // namespace

TEST_F(RefusalTest, CutAndDamagedFilesLeaveTheLayerAsItWas) {
  const Bytes bmp = bmp_file(), png = png_file(), jpeg = jpeg_file(), gif = gif_file(), webp = webp_file();
  const std::vector<u32> zcg_px = fixtures::zcg_pattern(20, 16, 9);
  const Bytes zcg_raw = fixtures::write_zcg(zcg_px, 20, 16, 0);
  const Bytes zcg_zlib = fixtures::write_zcg(zcg_px, 20, 16, 1);
  struct Case {
    const char* what;
    Bytes file;
  };
  const Case cases[] = {
      // A BMP cut in its pixels loads with the missing rows clear, so only
      // its header refusals are cases here.
      {"BMP cut inside its signature", cut(bmp, 1)},
      {"BMP with a data offset of 4", with_byte(bmp, 10, 4)},
      {"BMP 9000 pixels wide", with_byte(with_byte(bmp, 18, 0x28), 19, 0x23)},
      {"BMP stored top down", with_byte(bmp, 25, 0xFF)},
      {"BMP of 8 bits, compressed", with_byte(with_byte(bmp, 28, 8), 30, 1)},
      {"PNG cut in the pixels", cut(png, png.size() - 30)},
      {"PNG with a damaged pixel chunk", with_byte(png, png.size() - 20, png[png.size() - 20] ^ 0x5A)},
      {"JPEG cut in the header", cut(jpeg, 120)},
      {"JPEG with a second frame after its scan", jpeg_with_second_frame()},
      {"JPEG with an undefined quantisation table", undefined_quant_table(jpeg)},
      {"GIF cut in the pixels", cut(gif, gif.size() - 12)},
      {"GIF with an LZW code size of 15", with_byte(gif, 13 + 12 + 10, 15)},
      {"ZCG raw cut", cut(zcg_raw, zcg_raw.size() - 40)},
      {"ZCG packed cut", cut(zcg_zlib, zcg_zlib.size() - 10)},
      {"WebP cut after its header", cut(webp, 40)},
      {"WebP with damaged pixels", with_byte(cut(webp, webp.size()), 30, 0xFF)},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.file.empty()) << c.what;
    load_good();
    reset_error_report_log();
    g_quit_requested = 0;
    EXPECT_NE(load_image_from_bytes(c.file.data(), c.file.size(), image, "bad"), 0) << c.what;
    EXPECT_GT(g_error_report_log.report_count + g_error_report_log.box_count, 0u) << c.what;
    expect_kept(c.what);
  }
}

// The PNG, JPEG and WebP readers decode into the buffer a layer gave up
// last, when it fits: a refusal in between gives it back untouched by the
// layer, and the next load overwrites every pixel of what it held.
TEST_F(RefusalTest, ReadersReuseTheBufferALayerGaveUp) {
  // For each reader a second picture of the same size as its first.
  const Bytes png_y = png_file(11, 3, 2);
  Bytes jpeg_y_px = rgb_pixels(16, 16, 3);
  for (std::uint8_t& v : jpeg_y_px) v = static_cast<std::uint8_t>(255 - v);
  const std::vector<u32> webp_y_px = fixtures::zcg_pattern(40, 30, 8);
  u8* webp_out = nullptr;
  const std::size_t webp_n =
      WebPEncodeLosslessBGRA(reinterpret_cast<const u8*>(webp_y_px.data()), 40, 30, 40 * 4, &webp_out);
  const Bytes webp_y(webp_out, webp_out + webp_n);
  WebPFree(webp_out);
  const Bytes png = png_file(), webp = webp_file();
  struct Case {
    const char* what;
    Bytes x, y, bad;
  };
  const Case cases[] = {
      {"PNG", png, png_y, with_byte(png, png.size() - 20, png[png.size() - 20] ^ 0x5A)},
      {"JPEG", jpeg_file(), fixtures::write_jpeg(16, 16, 3, jpeg_y_px), jpeg_with_second_frame()},
      {"WebP", webp, webp_y, with_byte(cut(webp, webp.size()), 30, 0xFF)},
  };
  for (const Case& c : cases) {
    LayerImage* a = new_layer_image();
    LayerImage* b = new_layer_image();
    ASSERT_EQ(load_image_from_bytes(c.x.data(), c.x.size(), a, "x"), 0) << c.what;
    ASSERT_EQ(load_image_from_bytes(c.y.data(), c.y.size(), b, "y"), 0) << c.what;
    const std::size_t n = static_cast<std::size_t>(b->width) * b->height;
    ASSERT_EQ(static_cast<std::size_t>(a->width) * a->height, n) << c.what;
    const std::vector<u32> x_px(a->owned_pixels, a->owned_pixels + n), y_px(b->owned_pixels, b->owned_pixels + n);
    ASSERT_NE(x_px, y_px) << c.what;
    u32* const given_up = a->owned_pixels;
    // a gives up the buffer holding x's pixels.
    ASSERT_EQ(load_image_from_bytes(c.y.data(), c.y.size(), a, "y"), 0) << c.what;
    EXPECT_NE(a->owned_pixels, given_up) << c.what;
    EXPECT_EQ(std::vector<u32>(a->owned_pixels, a->owned_pixels + n), y_px) << c.what;
    // A refusal on b leaves b as it was.
    u32* const b_kept = b->owned_pixels;
    reset_error_report_log();
    EXPECT_NE(load_image_from_bytes(c.bad.data(), c.bad.size(), b, "bad"), 0) << c.what;
    EXPECT_EQ(b->owned_pixels, b_kept) << c.what;
    EXPECT_EQ(std::vector<u32>(b->owned_pixels, b->owned_pixels + n), y_px) << c.what;
    // The next load of that size gets the given-up buffer and overwrites it.
    ASSERT_EQ(load_image_from_bytes(c.y.data(), c.y.size(), b, "y"), 0) << c.what;
    EXPECT_EQ(b->owned_pixels, given_up) << c.what;
    EXPECT_EQ(b->pixels, b->owned_pixels) << c.what;
    EXPECT_EQ(std::vector<u32>(b->owned_pixels, b->owned_pixels + n), y_px) << c.what;
    free_layer_image(a);
    free_layer_image(b);
  }
}

TEST_F(RefusalTest, FrameSetRefusalsLeaveTheLayerAsItWas) {
  const Bytes rgb = rgb_pixels(8, 8, 3);
  const Bytes colour = encode_jpeg(8, 8, 3, rgb.data());
  FrameSetSpec spec;
  spec.frames = {{colour, {}}, {undefined_quant_table(colour), {}}};
  // A file that is no frame set: refused at load, the layer keeps its image
  // and gets no set.
  FrameSetSpec short_spec = spec;
  short_spec.cut = 1;
  ObjectNode node{};
  node.payload_kind = kPayloadLayerImage;
  node.payload = image;
  for (const auto& [what, file] : {std::pair<const char*, Bytes>{"set cut at its end", write_frame_set(short_spec)},
                                   std::pair<const char*, Bytes>{"four bytes", Bytes{1, 2, 3, 4}}}) {
    g_memory_groups = MemoryFileGroups();
    MemoryFileEntry e;
    e.name = "bad.fs";
    e.data = file;
    g_memory_groups.groups[0].entries.push_back(e);
    reset_error_report_log();
    EXPECT_EQ(load_frame_set(&node, "bad.fs"), -1) << what;
    EXPECT_EQ(image->frame_set, nullptr) << what;
    expect_kept(what);
  }
  // A set whose second frame is damaged: showing it refuses and keeps the
  // pixels of the layer.
  const Bytes good_set = write_frame_set(spec);
  u8* bytes = static_cast<u8*>(std::malloc(good_set.size()));
  std::memcpy(bytes, good_set.data(), good_set.size());
  FrameSet* set = nullptr;
  ASSERT_EQ(make_frame_set(bytes, static_cast<u32>(good_set.size()), "t.fs", &set), 0);
  image->frame_set = set;
  reset_error_report_log();
  EXPECT_NE(show_frame_in_image(image, 1), 0);
  expect_kept("damaged frame");
}
