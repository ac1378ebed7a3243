#include "engine/image/bmp_decode.h"

#include <gtest/gtest.h>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"
#include "tests/image/image_fixtures.h"

using fixtures::BmpSpec;
using fixtures::Bytes;

namespace {

class BmpDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    image = new_layer_image();
  }
  void TearDown() override { free_layer_image(image); }
  int decode(const Bytes& b) { return decode_bmp_into_layer(b.data(), b.size(), image, "t.bmp"); }
  LayerImage* image = nullptr;
};

std::vector<std::uint32_t> palette_of(int n) {
  std::vector<std::uint32_t> p;
  // The reserved byte is set to show that it never reaches the alpha.
  for (int i = 0; i < n; ++i) p.push_back(0x11000000u | (i * 0x010203u * 7 & 0xFFFFFFu));
  return p;
}

BmpSpec indexed(int w, int h, int bits) {
  BmpSpec s;
  s.width = w;
  s.height = h;
  s.bits = bits;
  s.palette = palette_of(1 << bits);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s.pixels.push_back(fixtures::pattern(x, y, 0) & ((1 << bits) - 1));
  return s;
}

}  // namespace

TEST_F(BmpDecodeTest, PaletteImagesUseOpaquePaletteEntries) {
  struct Case {
    int w, h, bits;
    std::uint32_t header;
  } cases[] = {{3, 2, 1, 40}, {33, 3, 1, 40}, {5, 4, 4, 40}, {7, 3, 8, 40}, {6, 5, 8, 124}, {9, 2, 4, 108}};
  for (const Case& c : cases) {
    BmpSpec s = indexed(c.w, c.h, c.bits);
    s.header_size = c.header;
    ASSERT_EQ(decode(fixtures::write_bmp(s)), 0) << c.bits << " bits, header " << c.header;
    ASSERT_EQ(image->width, c.w);
    ASSERT_EQ(image->height, c.h);
    EXPECT_EQ(image->has_alpha, 0);
    for (int i = 0; i < c.w * c.h; ++i)
      ASSERT_EQ(image->pixels[i], 0xFF000000u | s.palette[s.pixels[i]]) << c.bits << " bits, pixel " << i;
  }
}

TEST_F(BmpDecodeTest, DirectColour) {
  BmpSpec one;
  one.width = 1;
  one.height = 1;
  one.bits = 24;
  one.pixels = {0x00A1B2C3u};
  ASSERT_EQ(decode(fixtures::write_bmp(one)), 0);
  EXPECT_EQ(image->pixels[0], 0xFFA1B2C3u);
  EXPECT_EQ(image->has_alpha, 0);

  BmpSpec rgb;
  rgb.width = 5;
  rgb.height = 3;
  rgb.bits = 24;
  for (int i = 0; i < 15; ++i) rgb.pixels.push_back(0x010203u * (i + 1) * 11 & 0xFFFFFFu);
  ASSERT_EQ(decode(fixtures::write_bmp(rgb)), 0);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(image->pixels[i], 0xFF000000u | rgb.pixels[i]) << i;

  BmpSpec rgba = rgb;
  rgba.bits = 32;
  for (int i = 0; i < 15; ++i) rgba.pixels[i] |= static_cast<std::uint32_t>(i * 17) << 24;
  ASSERT_EQ(decode(fixtures::write_bmp(rgba)), 0);
  EXPECT_EQ(image->has_alpha, 1);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(image->pixels[i], rgba.pixels[i]) << i;

  // A 32-bit file whose fourth bytes are all 0 is an opaque picture.
  BmpSpec zero_alpha = rgb;
  zero_alpha.bits = 32;
  ASSERT_EQ(decode(fixtures::write_bmp(zero_alpha)), 0);
  EXPECT_EQ(image->has_alpha, 0);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(image->pixels[i], 0xFF000000u | rgb.pixels[i]) << i;
}

TEST_F(BmpDecodeTest, HeaderErrors) {
  const Bytes good = fixtures::write_bmp(indexed(4, 4, 8));
  ASSERT_EQ(decode(good), 0);
  u32* const kept = image->owned_pixels;
  auto with = [&](std::size_t at, std::uint32_t v) {
    Bytes b = good;
    fixtures::put32(b, at, v);
    return b;
  };
  Bytes not_bm = good;
  not_bm[1] = 'X';
  Bytes rle8 = with(30, 1);
  struct Case {
    const char* what;
    Bytes data;
    std::uint32_t error;
  } cases[] = {
      {"signature", not_bm, 100070},
      {"OS/2 core header", with(14, 12), 100091},
      {"data offset", with(10, 10), 100080},
      {"wide", with(18, 8193), 100091},
      {"tall", with(22, 8193), 100091},
      {"zero width", with(18, 0), 100091},
      {"top-down", with(22, static_cast<std::uint32_t>(-4)), 100092},
      {"compressed 8-bit", rle8, 100090},
      {"empty", Bytes(), 100070},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    EXPECT_EQ(decode(c.data), -1) << c.what;
    EXPECT_EQ(g_error_report_log.last_number, c.error) << c.what;
    EXPECT_EQ(g_error_report_log.last_fatal, 1) << c.what;
    EXPECT_EQ(image->owned_pixels, kept) << c.what;
    EXPECT_EQ(image->width, 4) << c.what;
  }
}

TEST_F(BmpDecodeTest, UntrustedCountsAndShortDataStayInBounds) {
  // A colours-used count far beyond the 16-entry palette of a 4-bit file.
  BmpSpec many = indexed(4, 2, 4);
  many.colours_used = 0x7FFFFFFF;
  ASSERT_EQ(decode(fixtures::write_bmp(many)), 0);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(image->pixels[i], 0xFF000000u | many.palette[many.pixels[i]]);

  // A short palette: entries past the count stay opaque black.
  BmpSpec few = indexed(4, 1, 8);
  few.palette.resize(2);
  few.colours_used = 2;
  few.pixels = {0, 1, 2, 200};
  ASSERT_EQ(decode(fixtures::write_bmp(few)), 0);
  EXPECT_EQ(image->pixels[0], 0xFF000000u | few.palette[0]);
  EXPECT_EQ(image->pixels[1], 0xFF000000u | few.palette[1]);
  EXPECT_EQ(image->pixels[3], 0xFF000000u);

  // Pixel data cut short: the missing rows (the top ones) read as zeros.
  BmpSpec rgb;
  rgb.width = 4;
  rgb.height = 4;
  rgb.bits = 24;
  rgb.pixels.assign(16, 0x00FFFFFFu);
  Bytes cut = fixtures::write_bmp(rgb);
  cut.resize(cut.size() - 12 - 6);
  ASSERT_EQ(decode(cut), 0);
  EXPECT_EQ(image->pixels[15], 0xFFFFFFFFu);  // bottom row, complete
  EXPECT_EQ(image->pixels[0], 0xFF000000u);   // top row, missing
  EXPECT_EQ(image->pixels[5], 0xFFFFFFFFu);   // second row, first half present
  EXPECT_EQ(image->pixels[7], 0xFF000000u);

  // A bit count that is not read gives a cleared image, not stale memory.
  BmpSpec two = rgb;
  two.bits = 2;
  ASSERT_EQ(decode(fixtures::write_bmp(two)), 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(image->pixels[i], 0u);
}

// 16-bit files (5-5-5 without bit fields) and the channel masks of bit-field
// headers in 16- and 32-bit files, inside and behind the header.
TEST_F(BmpDecodeTest, ChannelMasksOfSixteenAndThirtyTwoBitFiles) {
  auto scale = [](std::uint32_t v, std::uint32_t max) { return (v * 255u + max / 2) / max; };
  struct Case {
    const char* what;
    int bits;
    std::uint32_t compression, header;
    std::vector<std::uint32_t> masks;
    std::uint32_t pixel;    // raw
    std::uint32_t want;     // 0xAARRGGBB
    int has_alpha;
  } cases[] = {
      {"16-bit 5-5-5", 16, 0, 40, {}, (31u << 10) | (16u << 5) | 1u, 0xFF000000u | 255u << 16 | scale(16, 31) << 8 | scale(1, 31), 0},
      {"16-bit 5-6-5", 16, 3, 40, {0xF800, 0x07E0, 0x001F}, (3u << 11) | (63u << 5) | 30u,
       0xFF000000u | scale(3, 31) << 16 | 255u << 8 | scale(30, 31), 0},
      {"16-bit 1-5-5-5 in a v5 header", 16, 3, 124, {0x7C00, 0x03E0, 0x001F, 0x8000}, 0x8000u | (10u << 10) | 31u,
       0xFF000000u | scale(10, 31) << 16 | 255u, 1},
      {"32-bit R G B A high to low, v5 header", 32, 3, 124, {0xFF000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu},
       0x11223344u, 0x44112233u, 1},
      {"32-bit B G R behind a 40-byte header", 32, 3, 40, {0x000000FFu, 0x0000FF00u, 0x00FF0000u}, 0x00ABCDEFu,
       0xFFEFCDABu, 0},
      {"32-bit 10-10-10-2, alpha bit fields", 32, 6, 40, {0x3FF00000u, 0x000FFC00u, 0x000003FFu, 0xC0000000u},
       (2u << 30) | (1023u << 20) | (512u << 10) | 0u, scale(2, 3) << 24 | 255u << 16 | scale(512, 1023) << 8, 1},
  };
  for (const Case& c : cases) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bits = c.bits;
    s.compression = c.compression;
    s.header_size = c.header;
    s.masks = c.masks;
    s.pixels.assign(6, c.pixel);
    ASSERT_EQ(decode(fixtures::write_bmp(s)), 0) << c.what;
    EXPECT_EQ(image->has_alpha, c.has_alpha) << c.what;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(image->pixels[i], c.want) << c.what << " pixel " << i;
  }
  // Plain byte order in a bit-fields header reads like a file without them,
  // fourth byte included.
  BmpSpec plain;
  plain.width = 2;
  plain.height = 1;
  plain.bits = 32;
  plain.compression = 3;
  plain.masks = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
  plain.pixels = {0x80102030u, 0x00405060u};
  ASSERT_EQ(decode(fixtures::write_bmp(plain)), 0);
  EXPECT_EQ(image->has_alpha, 1);
  EXPECT_EQ(image->pixels[0], 0x80102030u);
  EXPECT_EQ(image->pixels[1], 0x00405060u);
}

// Direct-colour pixels over random channel masks (contiguous, scattered,
// wide, overlapping, missing), sizes, bit counts and header forms equal the
// per-pixel scale round(v * 255 / max) of each channel, and the layer gets
// alpha exactly when an alpha channel has a non-zero value somewhere.
TEST_F(BmpDecodeTest, DirectColourEqualsTheChannelScaleOverRandomMasks) {
  std::uint64_t state = 0;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 32);
  };
  auto random_mask = [&](int bits) {
    const std::uint32_t word = bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    switch (next() % 4) {
      case 0: return 0u;
      case 1: return next() & next() & word;  // scattered bits
      default: {
        const int width = 1 + static_cast<int>(next() % static_cast<std::uint32_t>(bits));
        const int at = static_cast<int>(next() % static_cast<std::uint32_t>(bits - width + 1));
        return static_cast<std::uint32_t>(((width == 32 ? 0xFFFFFFFFull : (1ull << width) - 1) << at) & word);
      }
    }
  };
  auto scale = [](std::uint32_t pixel, std::uint32_t mask) -> std::uint32_t {
    if (mask == 0) return 0;
    const int shift = __builtin_ctz(mask);
    const std::uint64_t max = mask >> shift, v = (pixel & mask) >> shift;
    return static_cast<std::uint32_t>((v * 255 + max / 2) / max);
  };
  for (std::uint64_t seed = 1; seed <= 400; ++seed) {
    state = seed;
    BmpSpec s;
    s.width = 1 + static_cast<int>(next() % 41);
    s.height = 1 + static_cast<int>(next() % 7);
    s.bits = next() % 2 ? 16 : 32;
    if (next() % 10 == 0) {
      // Large enough for the 16-bit whole-pixel table.
      s.width = 257 + static_cast<int>(next() % 64);
      s.height = 256;
    }
    const std::uint32_t form = next() % 4;  // none, three masks behind, alpha masks behind, masks in a v5 header
    std::uint32_t m[4] = {0x7C00u, 0x03E0u, 0x001Fu, 0};
    if (s.bits == 32) m[0] = 0x00FF0000u, m[1] = 0x0000FF00u, m[2] = 0x000000FFu, m[3] = 0xFF000000u;
    if (form != 0) {
      s.compression = form == 2 ? 6 : 3;
      s.header_size = form == 3 ? 124 : 40;
      for (std::uint32_t& x : m) x = random_mask(s.bits);
      // Whole bytes in any order (a byte may serve twice), alpha a byte or none.
      if (s.bits == 32 && next() % 4 == 0) {
        for (std::uint32_t& x : m) x = 0xFFu << (8 * (next() % 4));
        if (next() % 3 == 0) m[3] = 0;
      }
      if (form == 1) m[3] = 0;
      s.masks.assign(m, m + (form == 1 ? 3 : 4));
    }
    const bool zero_alpha = next() % 3 == 0;
    for (int i = 0; i < s.width * s.height; ++i) {
      std::uint32_t p = next() & (s.bits == 16 ? 0xFFFFu : 0xFFFFFFFFu);
      if (zero_alpha) p &= ~m[3];
      s.pixels.push_back(p);
    }
    const bool plain = s.bits == 32 && m[0] == 0x00FF0000u && m[1] == 0x0000FF00u && m[2] == 0x000000FFu &&
                       (m[3] == 0 || m[3] == 0xFF000000u);
    std::vector<std::uint32_t> want;
    bool alpha = false;
    for (std::uint32_t p : s.pixels) {
      if (plain) {
        want.push_back(p);
        alpha |= (p >> 24) != 0;
        continue;
      }
      const std::uint32_t a = m[3] ? scale(p, m[3]) : 255u;
      alpha |= m[3] && a != 0;
      want.push_back(a << 24 | scale(p, m[0]) << 16 | scale(p, m[1]) << 8 | scale(p, m[2]));
    }
    const bool alpha_channel = plain || m[3] != 0;
    if (alpha_channel && !alpha)
      for (std::uint32_t& w : want) w |= 0xFF000000u;
    ASSERT_EQ(decode(fixtures::write_bmp(s)), 0) << "seed " << seed;
    ASSERT_EQ(image->has_alpha, alpha_channel && alpha ? 1 : 0) << "seed " << seed;
    for (std::size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(image->pixels[i], want[i]) << "seed " << seed << " pixel " << i << " masks " << std::hex << m[0] << " "
                                           << m[1] << " " << m[2] << " " << m[3];
  }
}

// A bitmap with the 12-byte OS/2 core header (16-bit width and height) is
// refused for its size fields, not for its signature, and the layer stays.
TEST_F(BmpDecodeTest, CoreHeaderIsRefusedForItsSize) {
  ASSERT_EQ(decode(fixtures::write_bmp(indexed(4, 4, 8))), 0);
  u32* const kept = image->owned_pixels;
  Bytes core(14 + 12 + 4 * 2 * 3, 0);  // 2 x 2, 24-bit, rows padded to 8 bytes
  core[0] = 'B';
  core[1] = 'M';
  fixtures::put32(core, 2, static_cast<std::uint32_t>(core.size()));
  fixtures::put32(core, 10, 26);
  fixtures::put32(core, 14, 12);
  fixtures::put16(core, 18, 2);
  fixtures::put16(core, 20, 2);
  fixtures::put16(core, 22, 1);
  fixtures::put16(core, 24, 24);
  EXPECT_EQ(decode(core), -1);
  EXPECT_EQ(g_error_report_log.last_number, 100091u);
  EXPECT_EQ(image->owned_pixels, kept);
  EXPECT_EQ(image->width, 4);
}
