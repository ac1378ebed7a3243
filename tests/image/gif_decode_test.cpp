#include "engine/image/gif_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"
#include "tests/image/image_fixtures.h"
#include "tests/support/image_helpers.h"

using fixtures::Bytes;
using fixtures::GifFrameSpec;

namespace {

std::vector<GifColorType> palette(int n, int seed) {
  std::vector<GifColorType> p;
  for (int i = 0; i < n; ++i)
    p.push_back({static_cast<GifByteType>(i * 13 + seed), static_cast<GifByteType>(255 - i * 3),
                 static_cast<GifByteType>(i * 29 + seed * 7)});
  return p;
}

GifFrameSpec frame(int left, int top, int w, int h, int colours, int seed = 0) {
  GifFrameSpec f;
  f.left = left;
  f.top = top;
  f.width = w;
  f.height = h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      f.indices.push_back(static_cast<std::uint8_t>((fixtures::pattern(x, y, seed) ^ (x / 3)) % colours));
  return f;
}

class GifDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    image = new_layer_image();
  }
  void TearDown() override { free_layer_image(image); }
  int decode(const Bytes& b) { return decode_gif_into_layer(b.data(), b.size(), image, "t.gif"); }
  // Decodes file and compares with giflib's decode of frame 0.
  void expect_matches_reference(const Bytes& file, const char* what) {
    std::vector<std::uint32_t> ref;
    int w = 0, h = 0, frames = 0;
    ASSERT_TRUE(fixtures::reference_gif_frame0(file, &ref, &w, &h, &frames)) << what;
    ASSERT_EQ(decode(file), 0) << what;
    ASSERT_EQ(image->width, w) << what;
    ASSERT_EQ(image->height, h) << what;
    EXPECT_EQ(gif_frame_count(image), frames) << what;
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(image->pixels[i], ref[i]) << what << " pixel " << i;
  }
  LayerImage* image = nullptr;
};

// A GIF writer of its own for streams giflib's encoder never makes: codes
// are written at the width a decoder expects, the table is never reset
// when it fills up (the "deferred clear" some encoders use), and any
// minimum code size can be given.
Bytes gif_lzw(int w, int h, const Bytes& indices, int min_code_size, int* table_end) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  auto u16 = [&](int v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
  };
  u16(w);
  u16(h);
  out.push_back(0xF7);  // global table of 256 entries
  out.push_back(0);
  out.push_back(0);
  for (int i = 0; i < 256; ++i) {
    out.push_back(static_cast<std::uint8_t>(i));
    out.push_back(static_cast<std::uint8_t>(255 - i));
    out.push_back(static_cast<std::uint8_t>(i * 3));
  }
  out.push_back(0x2C);
  u16(0);
  u16(0);
  u16(w);
  u16(h);
  out.push_back(0);
  out.push_back(static_cast<std::uint8_t>(min_code_size));
  // Plain LZW with a dictionary of strings.
  const int clear = 1 << min_code_size;
  std::vector<std::pair<int, int>> codes;  // (code, width)
  std::map<std::pair<int, int>, int> dict;
  int next = clear + 2, size = std::min(min_code_size + 1, 12);
  codes.push_back({clear, size});
  int prefix = indices[0];
  for (std::size_t i = 1; i < indices.size(); ++i) {
    const int c = indices[i];
    auto it = dict.find({prefix, c});
    if (it != dict.end()) {
      prefix = it->second;
      continue;
    }
    codes.push_back({prefix, size});
    if (next < 4096) {
      dict[{prefix, c}] = next++;
      if (next > (1 << size) && size < 12) size++;
    }
    prefix = c;
  }
  codes.push_back({prefix, size});
  codes.push_back({clear + 1, size});
  *table_end = next;
  Bytes packed;
  std::uint32_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    acc |= static_cast<std::uint32_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      packed.push_back(acc & 0xFF);
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits) packed.push_back(acc & 0xFF);
  for (std::size_t at = 0; at < packed.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), packed.begin() + at, packed.begin() + at + n);
  }
  out.push_back(0);
  out.push_back(0x3B);
  return out;
}

}  // namespace

TEST_F(GifDecodeTest, FramesMatchGiflib) {
  const auto pal = palette(256, 1);
  expect_matches_reference(fixtures::write_gif(23, 17, pal, {frame(0, 0, 23, 17, 256)}), "full frame");
  EXPECT_EQ(image->has_alpha, 0);

  GifFrameSpec tr = frame(0, 0, 16, 16, 4);
  tr.transparent = 0;
  expect_matches_reference(fixtures::write_gif(16, 16, palette(4, 2), {tr}), "transparent index 0");
  EXPECT_EQ(image->has_alpha, 1);
  int zero = 0;
  for (int i = 0; i < 256; ++i)
    if (tr.indices[i] == 0) {
      EXPECT_EQ(image->pixels[i] >> 24, 0u);
      ++zero;
    } else {
      EXPECT_EQ(image->pixels[i] >> 24, 255u);
    }
  EXPECT_GT(zero, 0);

  GifFrameSpec local = frame(3, 2, 10, 9, 16, 3);
  local.local_palette = palette(16, 9);
  expect_matches_reference(fixtures::write_gif(20, 20, pal, {local}), "local palette, part of the screen");
  // Pixels outside the first frame are clear, so the image has alpha.
  EXPECT_EQ(image->has_alpha, 1);
  EXPECT_EQ(image->pixels[0], 0u);
}

TEST_F(GifDecodeTest, InterlacedEqualsPlain) {
  GifFrameSpec f = frame(0, 0, 31, 29, 64, 5);
  const Bytes plain = fixtures::write_gif(31, 29, palette(64, 3), {f});
  f.interlaced = true;
  const Bytes inter = fixtures::write_gif(31, 29, palette(64, 3), {f});
  ASSERT_NE(plain, inter);
  ASSERT_EQ(decode(plain), 0);
  const std::vector<std::uint32_t> a(image->pixels, image->pixels + 31 * 29);
  expect_matches_reference(inter, "interlaced");
  for (int i = 0; i < 31 * 29; ++i) ASSERT_EQ(image->pixels[i], a[i]) << i;
}

TEST_F(GifDecodeTest, AnimationShowsFrameZeroAndKeepsAll) {
  GifFrameSpec f0 = frame(0, 0, 12, 12, 8, 1);
  f0.transparent = 3;
  GifFrameSpec f1 = frame(2, 2, 6, 6, 8, 2);
  f1.delay = 10;  // a later control block without transparency
  GifFrameSpec f2 = frame(0, 0, 12, 12, 8, 3);
  f2.delay = 20;
  const Bytes file = fixtures::write_gif(12, 12, palette(8, 4), {f0, f1, f2}, true);
  expect_matches_reference(file, "three frames");
  ASSERT_EQ(gif_frame_count(image), 3);
  // has_alpha follows frame 0, not the last control block.
  EXPECT_EQ(image->has_alpha, 1);
  const GifFrame* g1 = image->gif_frames[1];
  EXPECT_EQ(g1->left, 2);
  EXPECT_EQ(g1->width, 6);
  EXPECT_EQ(g1->delay, 10);
  EXPECT_EQ(g1->loop_count, 0);
  for (int i = 0; i < 36; ++i) EXPECT_EQ(g1->indices[i], f1.indices[i]);
  // A one-frame file loaded into the same layer drops the old frames.
  ASSERT_EQ(decode(fixtures::write_gif(4, 4, palette(8, 4), {frame(0, 0, 4, 4, 8)})), 0);
  EXPECT_EQ(gif_frame_count(image), 1);
  EXPECT_EQ(image->gif_frames[0]->loop_count, 1);
}

TEST_F(GifDecodeTest, FramesAreClippedToTheScreen) {
  // Frames that reach past the logical screen, and one wholly outside it.
  GifFrameSpec over = frame(5, 4, 10, 10, 16, 1);
  GifFrameSpec outside = frame(40, 40, 3, 3, 16, 2);
  const Bytes file = fixtures::write_gif(8, 6, palette(16, 5), {over, outside});
  ASSERT_EQ(decode(file), 0);
  ASSERT_EQ(image->width, 8);
  ASSERT_EQ(image->height, 6);
  const auto pal = palette(16, 5);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const std::uint32_t px = image->pixels[y * 8 + x];
      if (x < 5 || y < 4) {
        EXPECT_EQ(px, 0u);
      } else {
        const GifColorType c = pal[over.indices[(y - 4) * 10 + (x - 5)]];
        EXPECT_EQ(px, 0xFF000000u | (c.Red << 16) | (c.Green << 8) | c.Blue);
      }
    }
  EXPECT_EQ(image->gif_frames[0]->width, 3);
  EXPECT_EQ(image->gif_frames[1]->width, 0);
  gif_render_frame(image, 1);  // nothing on the screen to draw

}

// A logical-screen side of 0 takes the extent of the frames that lie on it;
// frames beyond 8192 pixels do not count, and a side that no frame lies on
// is refused.
TEST_F(GifDecodeTest, ZeroScreenSidesAreSizedFromTheFramesOnThem) {
  struct Case {
    const char* what;
    int screen_w, screen_h;
    std::vector<GifFrameSpec> frames;
    int want_w, want_h;  // 0: refused
  } cases[] = {
      {"one frame", 0, 0, {frame(0, 0, 8, 8, 16)}, 8, 8},
      {"two frames", 0, 0, {frame(0, 0, 8, 8, 16), frame(20, 2, 4, 9, 16)}, 24, 11},
      {"far frame beside a near one", 0, 6, {frame(60000, 0, 4, 4, 16), frame(2, 0, 4, 4, 16)}, 6, 6},
      {"only a far frame", 0, 0, {frame(60000, 0, 4, 4, 16)}, 0, 0},
      {"far down", 8, 0, {frame(0, 9000, 4, 4, 16)}, 0, 0},
  };
  for (const Case& c : cases) {
    reset_error_report_log();
    Bytes file = fixtures::write_gif(100, 100, palette(16, 5), c.frames);
    file[6] = static_cast<std::uint8_t>(c.screen_w);
    file[7] = static_cast<std::uint8_t>(c.screen_w >> 8);
    file[8] = static_cast<std::uint8_t>(c.screen_h);
    file[9] = static_cast<std::uint8_t>(c.screen_h >> 8);
    if (c.want_w == 0) {
      EXPECT_NE(decode(file), 0) << c.what;
      EXPECT_EQ(g_error_report_log.last_number, 100091u) << c.what;
      continue;
    }
    ASSERT_EQ(decode(file), 0) << c.what;
    EXPECT_EQ(image->width, c.want_w) << c.what;
    EXPECT_EQ(image->height, c.want_h) << c.what;
    // Frame 0 is drawn where it lies.
    const GifFrameSpec& f0 = c.frames[0];
    if (f0.left < c.want_w) {
      const GifColorType col = palette(16, 5)[f0.indices[0]];
      EXPECT_EQ(image->pixels[f0.top * c.want_w + f0.left], 0xFF000000u | (col.Red << 16) | (col.Green << 8) | col.Blue)
          << c.what;
    }
  }
}

// Minimum code sizes up to 11 decode (4096 codes fit the tables), as in a
// 100 x 100 picture of 16 colours coded from size 11; 12 is refused.
TEST_F(GifDecodeTest, MinimumCodeSizesUpToElevenDecode) {
  const int w = 100, h = 100;
  for (int size : {2, 4, 8, 9, 11, 12}) {
    const int colours = std::min(16, 1 << size);
    Bytes idx(w * h);
    for (int i = 0; i < w * h; ++i) idx[i] = static_cast<std::uint8_t>((i / 7 + i % 5) % colours);
    int table_end = 0;
    const Bytes file = gif_lzw(w, h, idx, size, &table_end);
    reset_error_report_log();
    if (size == 12) {
      EXPECT_NE(decode(file), 0);
      EXPECT_EQ(decode_image_bytes(4, file.data(), file.size(), image, "x.gif"), -1);
      EXPECT_EQ(g_error_report_log.last_number, 100215u);
      continue;
    }
    ASSERT_EQ(decode(file), 0) << size;
    ASSERT_EQ(image->width, w);
    for (int i = 0; i < w * h; ++i)
      ASSERT_EQ(image->pixels[i], 0xFF000000u | (u32{idx[i]} << 16) | (u32{255u - idx[i]} << 8) | u32(idx[i] * 3))
          << "code size " << size << " pixel " << i;
  }
}

TEST_F(GifDecodeTest, DeferredClearStaysInsideTheTable) {
  // Enough varied data to fill the 4096-entry table and go on coding.
  const int w = 200, h = 160;
  Bytes idx(w * h);
  std::uint32_t r = 12345;
  for (auto& v : idx) {
    r = r * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>((r >> 16) & 0x0F);
  }
  int table_end = 0;
  const Bytes file = gif_lzw(w, h, idx, 8, &table_end);
  ASSERT_EQ(table_end, 4096);  // the stream went on past a full table
  expect_matches_reference(file, "deferred clear");
  for (int i = 0; i < w * h; ++i) ASSERT_EQ(image->pixels[i] & 0xFF, static_cast<std::uint32_t>(idx[i] * 3 & 0xFF));
}

TEST_F(GifDecodeTest, BadFilesFail) {
  const Bytes good = fixtures::write_gif(4, 4, palette(4, 1), {frame(0, 0, 4, 4, 4)});
  ASSERT_EQ(decode(good), 0);
  u32* const kept = image->owned_pixels;
  // Header and screen only, then the trailer: no image block.
  Bytes no_image(good.begin(), good.begin() + 13 + 12);
  no_image.push_back(0x3B);
  Bytes odd_label = no_image;
  odd_label.back() = 0x21;
  odd_label.push_back(0x42);
  odd_label.push_back(0);
  odd_label.push_back(0x3B);
  Bytes wide = good;
  wide[6] = 0x01;
  wide[7] = 0x20;  // 8193
  struct Case {
    const char* what;
    Bytes data;
  } cases[] = {{"no image", no_image}, {"unknown extension", odd_label}, {"empty", Bytes()},
               {"too wide", wide}};
  for (const Case& c : cases) {
    reset_error_report_log();
    EXPECT_NE(decode(c.data), 0) << c.what;
    EXPECT_EQ(image->owned_pixels, kept) << c.what;
    EXPECT_EQ(image->width, 4) << c.what;
  }
  EXPECT_EQ(g_error_report_log.last_number, 100091u);
  // Through the dispatch every GIF failure ends in 100215.
  reset_error_report_log();
  EXPECT_EQ(decode_image_bytes(4, odd_label.data(), odd_label.size(), image, "x.gif"), -1);
  EXPECT_EQ(g_error_report_log.last_number, 100215u);
  // A stream cut short decodes what it holds.
  Bytes cut(good.begin(), good.end() - 4);
  EXPECT_NE(decode(cut), 0);  // no trailer
}
