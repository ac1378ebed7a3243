#include "engine/image/jpeg_read.h"

#include <gtest/gtest.h>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"
#include "tests/image/image_fixtures.h"

using fixtures::Bytes;

namespace {

Bytes picture(int w, int h, int comps) {
  Bytes p(static_cast<std::size_t>(w) * h * comps);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < comps; ++c) p[(static_cast<std::size_t>(y) * w + x) * comps + c] = fixtures::pattern(x, y, c);
  return p;
}

class JpegReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    image = new_layer_image();
  }
  void TearDown() override { free_layer_image(image); }
  // The layer's pixels against libjpeg's own decode into a plain buffer.
  void expect_matches_reference(const Bytes& file, const char* what) {
    Bytes ref;
    int w = 0, h = 0, comps = 0;
    ASSERT_TRUE(fixtures::reference_jpeg(file, &ref, &w, &h, &comps)) << what;
    ASSERT_EQ(decode_jpeg_into_layer(file.data(), file.size(), image, "t.jpg"), 0) << what;
    ASSERT_EQ(image->width, w);
    ASSERT_EQ(image->height, h);
    for (int i = 0; i < w * h; ++i) {
      const std::uint8_t* s = &ref[static_cast<std::size_t>(i) * comps];
      const std::uint32_t want = comps == 3 ? 0xFF000000u | (s[0] << 16) | (s[1] << 8) | s[2]
                                            : 0xFF000000u | (s[0] << 16) | (s[0] << 8) | s[0];
      ASSERT_EQ(image->pixels[i], want) << what << " pixel " << i;
    }
    EXPECT_EQ(image->has_alpha, 0);
  }
  LayerImage* image = nullptr;
};

}  // namespace

TEST_F(JpegReadTest, ColourAndGreyMatchLibjpeg) {
  struct Case {
    const char* what;
    int w, h, comps;
    bool progressive;
  } cases[] = {
      {"colour 8 wide", 8, 8, 3, false},
      {"colour 5 wide", 5, 7, 3, false},
      {"colour odd", 37, 19, 3, true},
      {"grey", 21, 9, 1, false},
      {"grey progressive", 16, 3, 1, true},
  };
  for (const Case& c : cases)
    expect_matches_reference(fixtures::write_jpeg(c.w, c.h, c.comps, picture(c.w, c.h, c.comps), 90, c.progressive),
                             c.what);
}

TEST_F(JpegReadTest, TruncatedFileGivesThePictureSoFar) {
  const int w = 64, h = 64;
  const Bytes file = fixtures::write_jpeg(w, h, 3, picture(w, h, 3));
  Bytes full;
  int rw, rh, comps;
  ASSERT_TRUE(fixtures::reference_jpeg(file, &full, &rw, &rh, &comps));
  const Bytes cut(file.begin(), file.begin() + file.size() * 2 / 3);
  ASSERT_EQ(decode_jpeg_into_layer(cut.data(), cut.size(), image, "cut.jpg"), 0);
  ASSERT_EQ(image->width, w);
  ASSERT_EQ(image->height, h);
  // The first band of rows was complete in the data and decodes as in the
  // whole file.
  for (int i = 0; i < w * 8; ++i) {
    const std::uint8_t* s = &full[static_cast<std::size_t>(i) * 3];
    ASSERT_EQ(image->pixels[i], 0xFF000000u | (s[0] << 16) | (s[1] << 8) | s[2]) << i;
  }
}

TEST_F(JpegReadTest, FailuresLeaveTheLayerAsItWas) {
  const Bytes good = fixtures::write_jpeg(10, 10, 3, picture(10, 10, 3));
  ASSERT_EQ(decode_jpeg_into_layer(good.data(), good.size(), image, "g.jpg"), 0);
  u32* const kept = image->owned_pixels;
  Bytes garbage = good;
  for (std::size_t i = 2; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 7);
  const Bytes cmyk = fixtures::write_jpeg(4, 4, 4, picture(4, 4, 4));
  struct Case {
    const char* what;
    Bytes data;
  } cases[] = {{"garbage after the start marker", garbage}, {"cmyk", cmyk}, {"empty", Bytes()}};
  for (const Case& c : cases) {
    EXPECT_EQ(decode_jpeg_into_layer(c.data.data(), c.data.size(), image, "bad.jpg"), -2) << c.what;
    EXPECT_EQ(image->width, 10) << c.what;
    EXPECT_EQ(image->owned_pixels, kept) << c.what;
  }
  // Through the dispatch, a JPEG failure is error 100210.
  reset_error_report_log();
  EXPECT_EQ(decode_image_bytes(3, cmyk.data(), cmyk.size(), image, "bad.jpg"), -1);
  EXPECT_EQ(g_error_report_log.last_number, 100210u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
}

TEST_F(JpegReadTest, TooLargeIsRefused) {
  const Bytes wide = fixtures::write_jpeg(8193, 1, 1, Bytes(8193, 100), 50);
  EXPECT_EQ(decode_jpeg_into_layer(wide.data(), wide.size(), image, "wide.jpg"), -3);
  EXPECT_EQ(g_error_report_log.last_number, 100091u);
  EXPECT_EQ(image->width, 1);
  EXPECT_EQ(image->owned_pixels, nullptr);
  reset_error_report_log();
  EXPECT_EQ(decode_image_bytes(3, wide.data(), wide.size(), image, "wide.jpg"), -1);
  EXPECT_EQ(g_error_report_log.report_count, 2u);  // 100091, then 100210
  EXPECT_EQ(g_error_report_log.last_number, 100210u);
}
