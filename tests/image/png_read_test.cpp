#include "engine/image/png_read.h"

#include <gtest/gtest.h>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"
#include "tests/image/image_fixtures.h"

using fixtures::Bytes;
using fixtures::PngSpec;

namespace {

// Rows of a test picture for the colour type and depth: every sample is a
// pattern value (16-bit samples get a distinct low byte).
PngSpec make_spec(int w, int h, int depth, int colour_type, bool interlaced) {
  PngSpec s;
  s.width = w;
  s.height = h;
  s.bit_depth = depth;
  s.colour_type = colour_type;
  s.interlaced = interlaced;
  const int channels = colour_type == PNG_COLOR_TYPE_RGB ? 3
                       : colour_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                       : colour_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                  : 1;
  for (int y = 0; y < h; ++y) {
    Bytes row;
    if (depth < 8) {
      row.assign((w * depth + 7) / 8, 0);
      const int max = (1 << depth) - 1;
      for (int x = 0; x < w; ++x) {
        const int v = fixtures::pattern(x, y, 0) & max;
        const int bit = x * depth;
        row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - depth - bit % 8));
      }
    } else {
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < channels; ++c) {
          std::uint8_t v = fixtures::pattern(x, y, c);
          // Some pixels fully transparent, some half.
          if (c == channels - 1 && (colour_type & PNG_COLOR_MASK_ALPHA)) v = (x + y) % 3 == 0 ? 0 : v;
          row.push_back(v);
          if (depth == 16) row.push_back(static_cast<std::uint8_t>(v ^ 0x5A));
        }
    }
    s.rows.push_back(row);
  }
  return s;
}

class PngReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    image = new_layer_image();
  }
  void TearDown() override { free_layer_image(image); }
  // Decodes file and compares every pixel with libpng's simplified reader.
  void expect_matches_reference(const Bytes& file, const char* what) {
    std::vector<std::uint32_t> ref;
    int rw = 0, rh = 0;
    ASSERT_TRUE(fixtures::reference_png_bgra(file, &ref, &rw, &rh)) << what;
    ASSERT_EQ(decode_png_into_layer(file.data(), file.size(), image, "t.png"), 0) << what;
    ASSERT_EQ(image->width, rw) << what;
    ASSERT_EQ(image->height, rh) << what;
    ASSERT_EQ(image->pixels, image->owned_pixels);
    for (int i = 0; i < rw * rh; ++i) ASSERT_EQ(image->pixels[i], ref[i]) << what << " pixel " << i;
  }
  LayerImage* image = nullptr;
};

}  // namespace

TEST_F(PngReadTest, EightBitVariantsMatchLibpng) {
  struct Case {
    const char* what;
    int depth, type;
    bool interlaced;
    int has_alpha;
  } cases[] = {
      {"rgb", 8, PNG_COLOR_TYPE_RGB, false, 0},
      {"rgb interlaced", 8, PNG_COLOR_TYPE_RGB, true, 0},
      {"rgba", 8, PNG_COLOR_TYPE_RGB_ALPHA, false, 1},
      {"rgba interlaced", 8, PNG_COLOR_TYPE_RGB_ALPHA, true, 1},
      {"grey", 8, PNG_COLOR_TYPE_GRAY, false, 0},
      {"grey 1-bit", 1, PNG_COLOR_TYPE_GRAY, false, 0},
      {"grey 2-bit interlaced", 2, PNG_COLOR_TYPE_GRAY, true, 0},
      {"grey 4-bit", 4, PNG_COLOR_TYPE_GRAY, false, 0},
      {"grey alpha", 8, PNG_COLOR_TYPE_GRAY_ALPHA, false, 1},
  };
  for (const Case& c : cases) {
    const Bytes file = fixtures::write_png(make_spec(13, 11, c.depth, c.type, c.interlaced));
    ASSERT_FALSE(file.empty()) << c.what;
    expect_matches_reference(file, c.what);
    EXPECT_EQ(image->has_alpha, c.has_alpha) << c.what;
  }
}

TEST_F(PngReadTest, InterlacedGivesTheSamePixelsAsPlain) {
  const Bytes plain = fixtures::write_png(make_spec(17, 9, 8, PNG_COLOR_TYPE_RGB_ALPHA, false));
  const Bytes inter = fixtures::write_png(make_spec(17, 9, 8, PNG_COLOR_TYPE_RGB_ALPHA, true));
  ASSERT_NE(plain, inter);
  ASSERT_EQ(decode_png_into_layer(plain.data(), plain.size(), image, "a.png"), 0);
  const std::vector<std::uint32_t> a(image->pixels, image->pixels + 17 * 9);
  ASSERT_EQ(decode_png_into_layer(inter.data(), inter.size(), image, "b.png"), 0);
  for (int i = 0; i < 17 * 9; ++i) EXPECT_EQ(image->pixels[i], a[i]) << i;
}

TEST_F(PngReadTest, SixteenBitKeepsTheHighByte) {
  for (int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
    const PngSpec s = make_spec(7, 5, 16, type, type == PNG_COLOR_TYPE_RGB);
    const Bytes file = fixtures::write_png(s);
    ASSERT_EQ(decode_png_into_layer(file.data(), file.size(), image, "d.png"), 0);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const Bytes& row = s.rows[y];
        std::uint8_t b, g, r, a = 255;
        if (type == PNG_COLOR_TYPE_GRAY) {
          b = g = r = row[x * 2];
        } else {
          const int ch = type == PNG_COLOR_TYPE_RGB ? 3 : 4;
          r = row[(x * ch) * 2];
          g = row[(x * ch + 1) * 2];
          b = row[(x * ch + 2) * 2];
          if (ch == 4) a = row[(x * ch + 3) * 2];
        }
        const std::uint32_t want = (std::uint32_t{a} << 24) | (r << 16) | (g << 8) | b;
        EXPECT_EQ(image->pixels[y * 7 + x], want) << type << " " << x << "," << y;
      }
  }
}

TEST_F(PngReadTest, TransparencyChunksGiveAlpha) {
  // Palette with tRNS: entry 0 transparent, entry 1 half.
  PngSpec pal = make_spec(9, 4, 8, PNG_COLOR_TYPE_PALETTE, false);
  for (int i = 0; i < 256; ++i)
    pal.palette.push_back({static_cast<png_byte>(i), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 7)});
  const Bytes plain_palette = fixtures::write_png(pal);
  expect_matches_reference(plain_palette, "palette");
  EXPECT_EQ(image->has_alpha, 0);
  pal.trns = {0, 128};
  for (auto& row : pal.rows) row[0] = 0, row[1] = 1;
  const Bytes trns_palette = fixtures::write_png(pal);
  expect_matches_reference(trns_palette, "palette tRNS");
  EXPECT_EQ(image->has_alpha, 1);
  EXPECT_EQ(image->pixels[0] >> 24, 0u);
  EXPECT_EQ(image->pixels[1] >> 24, 128u);

  // Grey and RGB with a transparent colour.
  PngSpec grey = make_spec(6, 6, 8, PNG_COLOR_TYPE_GRAY, true);
  grey.trns_colour = true;
  grey.trns_value.gray = grey.rows[2][3];
  expect_matches_reference(fixtures::write_png(grey), "grey tRNS");
  EXPECT_EQ(image->has_alpha, 1);
  EXPECT_EQ(image->pixels[2 * 6 + 3] >> 24, 0u);

  PngSpec rgb = make_spec(6, 6, 8, PNG_COLOR_TYPE_RGB, false);
  rgb.trns_colour = true;
  rgb.trns_value.red = rgb.rows[1][0];
  rgb.trns_value.green = rgb.rows[1][1];
  rgb.trns_value.blue = rgb.rows[1][2];
  expect_matches_reference(fixtures::write_png(rgb), "rgb tRNS");
  EXPECT_EQ(image->has_alpha, 1);
  EXPECT_EQ(image->pixels[6] >> 24, 0u);
}

TEST_F(PngReadTest, TooWideIsRefusedBeforeAnyBuffer) {
  const Bytes file = fixtures::write_png(make_spec(8193, 1, 8, PNG_COLOR_TYPE_GRAY, false));
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(decode_png_into_layer(file.data(), file.size(), image, "wide.png"), 1);
  EXPECT_EQ(g_error_report_log.last_number, 100091u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
  EXPECT_EQ(image->width, 1);
  EXPECT_EQ(image->owned_pixels, nullptr);
}

TEST_F(PngReadTest, DamagedFilesFailCleanly) {
  const Bytes good = fixtures::write_png(make_spec(20, 20, 8, PNG_COLOR_TYPE_RGB, false));
  ASSERT_EQ(decode_png_into_layer(good.data(), good.size(), image, "g.png"), 0);
  u32* const kept = image->owned_pixels;
  struct Case {
    const char* what;
    Bytes data;
  } cases[] = {
      {"header only", Bytes(good.begin(), good.begin() + 20)},
      {"signature only", Bytes(good.begin(), good.begin() + 8)},
      {"not a png", Bytes(64, 0x42)},
      {"empty", Bytes()},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    EXPECT_EQ(decode_png_into_layer(c.data.data(), c.data.size(), image, "bad.png"), 1) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, 100200u) << c.what;
    // The failure came before the size was read: the layer is unchanged.
    EXPECT_EQ(image->width, 20) << c.what;
    EXPECT_EQ(image->owned_pixels, kept) << c.what;
  }
  // Cut inside the pixel data, and a broken checksum, of a picture of
  // another size: the load fails and the layer keeps its old image whole.
  const std::vector<u32> before(image->pixels, image->pixels + 20 * 20);
  const Bytes other = fixtures::write_png(make_spec(31, 9, 8, PNG_COLOR_TYPE_RGB_ALPHA, false));
  Bytes cut(other.begin(), other.begin() + other.size() / 2);
  Bytes crc = other;
  crc[45] ^= 0xFF;  // inside the first IDAT chunk
  for (const Bytes* b : {&cut, &crc}) {
    reset_error_report_log();
    EXPECT_EQ(decode_png_into_layer(b->data(), b->size(), image, "bad.png"), 1);
    EXPECT_EQ(g_error_report_log.last_number, 100200u);
    EXPECT_EQ(image->width, 20);
    EXPECT_EQ(image->height, 20);
    EXPECT_EQ(image->has_alpha, 0);
    EXPECT_EQ(std::vector<u32>(image->pixels, image->pixels + 20 * 20), before);
  }
}
