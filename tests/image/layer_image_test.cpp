#include "engine/image/layer_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/image/gif_decode.h"

namespace {
struct ImageFree {
  void operator()(LayerImage* p) const { free_layer_image(p); }
};

class LayerImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
  }
};
}  // namespace

TEST_F(LayerImageTest, NewRecordHasDefaultsAndNoPixels) {
  LayerImage* im = new_layer_image();
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(im->visible, 1);
  EXPECT_EQ(im->alpha, 256);
  EXPECT_EQ(im->width, 1);
  EXPECT_EQ(im->height, 1);
  EXPECT_EQ(im->loaded_width, 1);
  EXPECT_EQ(im->loaded_height, 1);
  EXPECT_EQ(im->mask_fade, 256);
  EXPECT_EQ(im->scale_x, 10000);
  EXPECT_EQ(im->scale_y, 10000);
  EXPECT_EQ(im->tone_level, 128);
  EXPECT_EQ(im->tone_colour, 0x808080);
  EXPECT_EQ(im->tone2_level, 128);
  EXPECT_EQ(im->tone2_colour, 0x808080);
  EXPECT_EQ(im->has_alpha, 0);
  EXPECT_EQ(im->pixels, nullptr);
  EXPECT_EQ(im->owned_pixels, nullptr);
  ASSERT_NE(im->mask_name, nullptr);
  ASSERT_NE(im->second_name, nullptr);
  EXPECT_STREQ(im->mask_name, "");
  EXPECT_STREQ(im->second_name, "");
  free_layer_image(im);
}

TEST_F(LayerImageTest, BufferSizeRuleIs64Bit) {
  EXPECT_EQ(image_buffer_bytes(3, 2), 40u);
  // 8192 x 65536 would wrap a 32-bit product to a small block.
  EXPECT_EQ(image_buffer_bytes(8192, 65536), 8192ull * 4 * 65536 + 8192 * 4 + 4);
}

TEST_F(LayerImageTest, AllocatorRefusesBadSizesWithBoxAndError) {
  struct Case {
    i32 w, h;
  } cases[] = {{8193, 1}, {1, 8193}, {0, 5}, {5, 0}, {-2, -2}, {8192, 65536}};
  for (const Case& c : cases) {
    reset_error_report_log();
    g_quit_requested = 0;
    EXPECT_EQ(alloc_image_buffer(nullptr, c.w, c.h, "a.png"), nullptr) << c.w << "x" << c.h;
    EXPECT_EQ(g_error_report_log.box_count, 1u);
    EXPECT_EQ(g_error_report_log.last_box_caption, "");
    EXPECT_NE(g_error_report_log.last_box_text.find("X=" + std::to_string(c.w)), std::string::npos);
    EXPECT_EQ(g_error_report_log.last_number, 100010u);
    EXPECT_EQ(g_error_report_log.last_fatal, 1);
    EXPECT_EQ(g_quit_requested.load(), 1);
  }
}

TEST_F(LayerImageTest, AllocatorGrowsInPlaceKeepingContent) {
  u32* b = alloc_image_buffer(nullptr, 8192, 2, nullptr);
  ASSERT_NE(b, nullptr);
  b[0] = 0x11223344u;
  b[8192 * 3] = 0x55667788u;  // the spare row is part of the block
  b = alloc_image_buffer(b, 8192, 4, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b[0], 0x11223344u);
  EXPECT_EQ(b[8192 * 3], 0x55667788u);
  b[8192 * 5] = 1;  // last spare pixel of 8192 x 4
  std::free(b);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

// Growing and shrinking across the size from which buffers lie on huge
// pages: the leading bytes are kept, the whole new block is usable, and every
// buffer of 2 MB or more starts on a huge-page boundary.
TEST_F(LayerImageTest, AllocatorKeepsContentAcrossTheHugePageSize) {
  struct Case {
    i32 w0, h0, w1, h1;
  } cases[] = {
      {64, 64, 1280, 720},      // small to large
      {1280, 720, 1920, 1080},  // large to larger
      {1920, 1080, 1280, 720},  // large to smaller but still large
      {1280, 720, 64, 64},      // large to small
      {1280, 720, 1280, 721},   // large, one row more
      {1024, 768, 1024, 768},   // large, same size (last huge page mostly unused)
      {8192, 64, 8192, 80},     // exactly 2 MB and a little, to more
  };
  for (const Case& c : cases) {
    const u64 n0 = image_buffer_bytes(c.w0, c.h0) / 4, n1 = image_buffer_bytes(c.w1, c.h1) / 4;
    u32* b = alloc_image_buffer(nullptr, c.w0, c.h0, nullptr);
    ASSERT_NE(b, nullptr);
    for (u64 i = 0; i < n0; ++i) b[i] = static_cast<u32>(i * 2654435761u);
    b = alloc_image_buffer(b, c.w1, c.h1, nullptr);
    ASSERT_NE(b, nullptr);
    const u64 kept = std::min(n0, n1);
    u64 wrong = 0;
    for (u64 i = 0; i < kept; ++i) wrong += b[i] != static_cast<u32>(i * 2654435761u);
    EXPECT_EQ(wrong, 0u) << c.w0 << "x" << c.h0 << " -> " << c.w1 << "x" << c.h1;
    b[n1 - 1] = 1;  // the last pixel of the new size is part of the block
    if (n1 * 4 >= (u64{1} << 21)) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % (std::uintptr_t{1} << 21), 0u);
    }
    std::free(b);
  }
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

// The buffer a layer gives up for a decoded image is not freed: the next
// decode of a size it fits, and not more than twice too large, gets it.
TEST_F(LayerImageTest, DecodeBuffersReuseWhatALayerGaveUp) {
  LayerImage* a = new_layer_image();
  ASSERT_NE(a, nullptr);
  install_decoded_buffer(a, take_decode_buffer(64, 64, "a.png"), 64, 64);
  u32* const first = a->owned_pixels;
  ASSERT_NE(first, nullptr);
  install_decoded_buffer(a, take_decode_buffer(64, 64, "a.png"), 64, 64);
  EXPECT_NE(a->owned_pixels, first);
  EXPECT_EQ(a->pixels, a->owned_pixels);
  EXPECT_EQ(a->width, 64);
  EXPECT_EQ(a->height, 64);
  // Had it been freed, first would be the next block of its size.
  void* other = std::malloc(image_buffer_bytes(64, 64));
  EXPECT_NE(other, first);
  struct Case {
    i32 w, h;
    bool reused;
  } cases[] = {{64, 64, true}, {60, 60, true}, {32, 32, false}, {65, 64, false}, {1, 4000, true}};
  for (const Case& c : cases) {
    u32* b = take_decode_buffer(c.w, c.h, "b.png");
    ASSERT_NE(b, nullptr) << c.w << "x" << c.h;
    EXPECT_EQ(b == first, c.reused) << c.w << "x" << c.h;
    b[static_cast<std::size_t>(c.w) * c.h] = 1;  // the spare row is part of the block
    if (b == first) give_back_decode_buffer(b);
    else std::free(b);
  }
  // A large image's new buffer is on 2 MB boundaries (large pages where the
  // system gives them) and is kept and handed on like any other.
  u32* large = take_decode_buffer(1024, 1024, "e.png");
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large) % (2u << 20), 0u);
  large[1024 * 1025] = 7;  // the last pixel of the spare row
  LayerImage* big = new_layer_image();
  install_decoded_buffer(big, large, 1024, 1024);
  install_decoded_buffer(big, take_decode_buffer(1024, 1024, "e.png"), 1024, 1024);
  EXPECT_NE(big->owned_pixels, large);
  u32* large_again = take_decode_buffer(1024, 1024, "e.png");
  EXPECT_EQ(large_again, large);
  give_back_decode_buffer(large_again);
  free_layer_image(big);
  // A refused size leaves the kept buffer for the next decode.
  EXPECT_EQ(take_decode_buffer(8193, 1, "c.png"), nullptr);
  EXPECT_EQ(g_error_report_log.last_number, 100010u);
  g_quit_requested = 0;
  u32* again = take_decode_buffer(1000, 1024, "d.png");
  EXPECT_EQ(again, large);
  give_back_decode_buffer(again);
  std::free(other);
  free_layer_image(a);
}

TEST_F(LayerImageTest, ReplacePixelsDropsToneCopyAndSetsSizes) {
  LayerImage* im = new_layer_image();
  im->owned_pixels = im->pixels = alloc_image_buffer(nullptr, 1, 1, nullptr);
  im->tone_pixels = alloc_image_buffer(nullptr, 1, 1, nullptr);
  im->pixels = im->tone_pixels;
  im->tone_stamp = 7;
  u32* nb = alloc_image_buffer(nullptr, 3, 2, nullptr);
  replace_layer_pixels(im, nb, 3, 2);
  EXPECT_EQ(im->owned_pixels, nb);
  EXPECT_EQ(im->pixels, nb);
  EXPECT_EQ(im->tone_pixels, nullptr);
  EXPECT_EQ(im->tone_stamp, 0u);
  EXPECT_EQ(im->width, 3);
  EXPECT_EQ(im->loaded_height, 2);
  free_layer_image(im);
}

TEST_F(LayerImageTest, NormalizeReplacesOnlyFullyTransparentPixels) {
  LayerImage* im = new_layer_image();
  u32* b = alloc_image_buffer(nullptr, 3, 2, nullptr);
  install_image_buffer(im, b, 3, 2);
  const u32 in[6] = {0x00000000u, 0x00FFFFFFu, 0x01000000u, 0xFF123456u, 0x80ABCDEFu, 0x00010203u};
  std::memcpy(b, in, sizeof in);
  b[6] = 0xDEADBEEFu;  // the spare row is not image
  normalize_transparent_pixels(im);
  const u32 want[6] = {0x00808080u, 0x00808080u, 0x01000000u, 0xFF123456u, 0x80ABCDEFu, 0x00808080u};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(b[i], want[i]) << i;
  EXPECT_EQ(b[6], 0xDEADBEEFu);
  free_layer_image(im);
}

TEST_F(LayerImageTest, NameBufferCopyIsBounded) {
  char buf[kLayerNameSize + 8];
  std::memset(buf, 'Z', sizeof buf);
  std::string long_name(4096, 'n');
  set_layer_name_buffer(buf, long_name.c_str());
  EXPECT_EQ(std::strlen(buf), 260u);
  EXPECT_EQ(buf[kLayerNameSize], 'Z');  // nothing written past the buffer
  // A two-byte character that would straddle the end is left out whole.
  std::string sjis(259, 'a');
  sjis += "\x83\x41";
  set_layer_name_buffer(buf, sjis.c_str());
  EXPECT_EQ(std::strlen(buf), 259u);
  set_layer_name_buffer(buf, "mask.2");
  EXPECT_STREQ(buf, "mask.2");
}

TEST_F(LayerImageTest, ReleaseFreesOnlyWithTheLastHolder) {
  static int emote_released = 0;
  static int textures_released = 0;
  emote_released = textures_released = 0;
  g_layer_release_hooks.release_emote_player = [](LayerImage* im) { emote_released++; };
  g_layer_release_hooks.release_textures = [](LayerImage* im) { textures_released++; };
  LayerImage* im = new_layer_image();
  im->ref_count = 2;
  im->emote_player = reinterpret_cast<void*>(0x1234);
  im->owned_pixels = im->pixels = alloc_image_buffer(nullptr, 4, 4, nullptr);
  im->gif_frames = static_cast<GifFrame**>(std::calloc(kGifFrameTableSize, sizeof(GifFrame*)));
  im->gif_frames[0] = static_cast<GifFrame*>(std::calloc(1, sizeof(GifFrame)));
  im->gif_frames[0]->indices = static_cast<u8*>(std::malloc(16));
  EXPECT_EQ(release_layer_image(im), 0);
  // The other holder still has its player and pixels.
  EXPECT_EQ(emote_released, 0);
  EXPECT_EQ(im->ref_count, 1u);
  EXPECT_NE(im->owned_pixels, nullptr);
  EXPECT_EQ(release_layer_image(im), 1);  // frees the frames too (checked by ASan)
  EXPECT_EQ(emote_released, 1);
  EXPECT_EQ(textures_released, 1);
  EXPECT_EQ(release_layer_image(nullptr), -1);
  g_layer_release_hooks = {nullptr, nullptr, nullptr};
}

TEST_F(LayerImageTest, WindowImageHasZeroFirstToneAndScales) {
  LayerImage* win = nullptr;
  ASSERT_EQ(alloc_window_image(&win, 640, 480), 0);
  EXPECT_EQ(win->width, 640);
  EXPECT_EQ(win->loaded_height, 480);
  EXPECT_EQ(win->tone_level, 0);
  EXPECT_EQ(win->scale_x, 0);
  EXPECT_EQ(win->tone2_level, 128);
  EXPECT_NE(win->pixels, nullptr);
  win->pixels[640 * 481] = 1;  // last spare pixel
  ASSERT_EQ(alloc_window_image(&win, 8193, 10), 1);
  EXPECT_EQ(win, nullptr);
  EXPECT_EQ(g_error_report_log.last_number, 100010u);
}

TEST_F(LayerImageTest, MergeClipsWidensAndRefusesMisses) {
  LayerImage* im = new_layer_image();
  im->width = 100;
  im->height = 50;
  DirtyRect r = {-10, 5, 20, 70};
  EXPECT_EQ(merge_dirty_rect_into(im, &r), 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, 49);
  EXPECT_EQ(im->dirty_valid, 1);
  EXPECT_EQ(im->is_dirty, 1);
  EXPECT_EQ(im->merge_count, 1u);
  EXPECT_EQ(im->dirty.top, 5);
  DirtyRect r2 = {60, 0, 70, 2};
  EXPECT_EQ(merge_dirty_rect_into(im, &r2), 0);
  EXPECT_EQ(im->dirty.left, 0);
  EXPECT_EQ(im->dirty.top, 0);
  EXPECT_EQ(im->dirty.right, 70);
  EXPECT_EQ(im->dirty.bottom, 49);
  DirtyRect miss = {100, 0, 120, 10};
  const DirtyRect before = im->dirty;
  EXPECT_EQ(merge_dirty_rect_into(im, &miss), -1);
  EXPECT_EQ(miss.left, -999999999);
  EXPECT_EQ(miss.bottom, -999999999);
  EXPECT_EQ(im->dirty.right, before.right);
  // After an end-of-frame reset the next merge replaces the area.
  im->merge_count = 0;
  im->dirty_valid = 0;
  DirtyRect r3 = {1, 1, 2, 2};
  merge_dirty_rect_into(im, &r3);
  EXPECT_EQ(im->dirty.left, 1);
  EXPECT_EQ(im->dirty.right, 2);
  // A pure group (size 0) takes the rectangle unclipped.
  im->width = 0;
  im->merge_count = 0;
  DirtyRect far = {-500, -500, 9000, 9000};
  EXPECT_EQ(merge_dirty_rect_into(im, &far), 0);
  EXPECT_EQ(im->dirty.left, -500);
  EXPECT_EQ(im->dirty.right, 9000);
  free_layer_image(im);
}

TEST_F(LayerImageTest, RectOffsetSaturates) {
  const DirtyRect r = dirty_rect_offset({0, 0, 10, 10}, INT64_MAX, INT64_MIN);
  EXPECT_EQ(r.right, INT64_MAX);
  EXPECT_EQ(r.top, INT64_MIN);
  const DirtyRect u = dirty_rect_union(kEmptyDirtyRect, {3, 4, 5, 6});
  EXPECT_EQ(u.left, 3);
  EXPECT_EQ(u.bottom, 6);
}
