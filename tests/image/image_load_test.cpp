// Loading by name through the locator (images held in a memory file group),
// the dispatch by type and content, and the common tail.
#include "engine/image/image_load.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/image/layer_image.h"
#include "platform/clock.h"
#include "tests/image/image_fixtures.h"
#include "tests/support/image_helpers.h"

using fixtures::Bytes;

namespace {

Bytes half_transparent_png() {
  fixtures::PngSpec s;
  s.width = 2;
  s.height = 1;
  s.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  s.rows = {{10, 20, 30, 0, 40, 50, 60, 255}};
  return fixtures::write_png(s);
}

class ImageLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    g_memory_groups = MemoryFileGroups();
    image = new_layer_image();
  }
  void TearDown() override {
    free_layer_image(image);
    g_memory_groups = MemoryFileGroups();
  }
  static void add_file(const char* name, const Bytes& data, int type) {
    MemoryFileEntry e;
    e.name = name;
    e.data = data;
    e.media_type = type;
    g_memory_groups.groups[0].entries.push_back(e);
  }
  LayerImage* image = nullptr;
};

}  // namespace

TEST_F(ImageLoadTest, TailCleansTransparentPixelsAndTheToneCopy) {
  add_file("a.png", half_transparent_png(), 2);
  image->tone_pixels = static_cast<u32*>(std::malloc(64));
  image->tone_stamp = 5;
  fake_clock_set(123456);
  g_pacing.frame_start = 0;
  ASSERT_EQ(load_image_into_layer(image, "a.png"), 0);
  EXPECT_EQ(image->width, 2);
  EXPECT_EQ(image->loaded_width, 2);
  EXPECT_EQ(image->has_alpha, 1);
  EXPECT_EQ(image->pixels[0], g_transparent_fill_colour);
  EXPECT_EQ(image->pixels[1], 0xFF28323Cu);  // red 40, green 50, blue 60, opaque
  EXPECT_EQ(image->tone_pixels, nullptr);
  EXPECT_EQ(image->tone_stamp, 0u);
  EXPECT_EQ(g_pacing.frame_start, 123456u);
}

TEST_F(ImageLoadTest, EmptyAndMissingNamesGiveTheEmptyImage) {
  for (const char* name : {"", "nothing-here"}) {
    ASSERT_EQ(load_image_into_layer(image, name), 0) << name;
    EXPECT_EQ(image->width, 1);
    EXPECT_EQ(image->height, 1);
    EXPECT_EQ(image->has_alpha, 0);
    EXPECT_EQ(image->pixels[0], g_transparent_fill_colour);
  }
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(ImageLoadTest, ContentDecidesAmongTheFourFormats) {
  // A PNG stored under a JPEG name still loads.
  add_file("mislabelled.jpg", half_transparent_png(), 3);
  ASSERT_EQ(load_image_into_layer(image, "mislabelled.jpg"), 0);
  EXPECT_EQ(image->width, 2);
  EXPECT_EQ(sniff_image_type(reinterpret_cast<const u8*>("GIF89a"), 6), 4);
  EXPECT_EQ(sniff_image_type(reinterpret_cast<const u8*>("\xFF\xD8\xFF\xE0"), 4), 3);
  EXPECT_EQ(sniff_image_type(reinterpret_cast<const u8*>("BM"), 2), 1);
  EXPECT_EQ(sniff_image_type(reinterpret_cast<const u8*>("xyz"), 3), 0);
  EXPECT_EQ(sniff_image_type(nullptr, 0), 0);
}

TEST_F(ImageLoadTest, FailuresByTypeKeepTheOldAlphaFlag) {
  add_file("good.png", half_transparent_png(), 2);
  ASSERT_EQ(load_image_into_layer(image, "good.png"), 0);
  ASSERT_EQ(image->has_alpha, 1);
  Bytes psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2};
  add_file("layers.psd", psd, 7);
  add_file("bad.gif", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x21, 0x42}, 4);
  add_file("bad.jpg", Bytes{0xFF, 0xD8, 0xFF, 0x00, 0x01}, 3);
  struct Case {
    const char* name;
    u32 error;
  } cases[] = {{"layers.psd", 100220}, {"bad.gif", 100215}, {"bad.jpg", 100210}};
  for (const Case& c : cases) {
    reset_error_report_log();
    EXPECT_EQ(load_image_into_layer(image, c.name), -1) << c.name;
    EXPECT_EQ(g_error_report_log.last_number, c.error) << c.name;
    EXPECT_EQ(g_error_report_log.last_fatal, 1) << c.name;
    EXPECT_EQ(image->has_alpha, 1) << c.name;
    EXPECT_EQ(image->width, 2) << c.name;
  }
}

TEST_F(ImageLoadTest, AnEmoteFileWithoutThePairIsATransparentTwoByTwoImage) {
  add_file("anim.psb", Bytes(60, 0x5A), 9);
  image->has_alpha = 0;
  ASSERT_EQ(load_image_into_layer(image, "anim.psb"), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(g_error_report_log.box_count, 0u);
  EXPECT_EQ(image->width, 2);
  EXPECT_EQ(image->height, 2);
  EXPECT_EQ(image->has_alpha, 1);
  EXPECT_EQ(image->content_kind, 0);
  EXPECT_EQ(image->emote_player, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(image->pixels[i] >> 24, 0u) << i;
}

TEST_F(ImageLoadTest, LoadFromBytesRunsTheTail) {
  const Bytes png = half_transparent_png();
  image->content_kind = 2;
  ASSERT_EQ(load_image_from_bytes(png.data(), png.size(), image, "x.png"), 0);
  EXPECT_EQ(image->pixels[0], g_transparent_fill_colour);
  EXPECT_EQ(image->content_kind, 0);
  const Bytes junk(10, 0x11);
  EXPECT_EQ(load_image_from_bytes(junk.data(), junk.size(), image, "x.bin"), -1);
  EXPECT_EQ(g_error_report_log.last_number, 100030u);
}
