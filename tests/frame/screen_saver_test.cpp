// Screen-saver mode: the arguments, and the preview bitmap of the trailer.
#include "engine/frame/screen_saver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/messages.h"
#include "platform/platform.h"
#include "platform/saver_preview.h"
#include "platform/ui.h"
#include "tests/support/zpf_writer.h"

namespace {

void put32(std::vector<u8>& v, u32 x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<u8>(x >> (8 * i)));
}
void put16(std::vector<u8>& v, u16 x) {
  v.push_back(static_cast<u8>(x));
  v.push_back(static_cast<u8>(x >> 8));
}

// A 24-bit BMP whose pixel (x, y) (y from the top) is colour(x, y).
std::vector<u8> make_bmp(i32 w, i32 h, bool top_down, u32 (*colour)(i32, i32)) {
  const u32 stride = (static_cast<u32>(w) * 3 + 3) & ~3u;
  std::vector<u8> v = {'B', 'M'};
  put32(v, 54 + stride * h);
  put32(v, 0);
  put32(v, 54);
  put32(v, 40);
  put32(v, static_cast<u32>(w));
  put32(v, static_cast<u32>(top_down ? -h : h));
  put16(v, 1);
  put16(v, 24);
  for (int i = 0; i < 6; ++i) put32(v, 0);
  for (i32 row = 0; row < h; ++row) {
    const i32 y = top_down ? row : h - 1 - row;
    for (i32 x = 0; x < w; ++x) {
      const u32 c = colour(x, y);
      v.push_back(static_cast<u8>(c));
      v.push_back(static_cast<u8>(c >> 8));
      v.push_back(static_cast<u8>(c >> 16));
    }
    for (u32 pad = static_cast<u32>(w) * 3; pad < stride; ++pad) v.push_back(0xEE);
  }
  return v;
}

u32 gradient(i32 x, i32 y) { return static_cast<u32>(x * 40) << 16 | static_cast<u32>(y * 50) << 8 | 0x33; }

TEST(ScreenSaver, PreviewBitmapsDecodeWithTheirRowPadding) {
  for (i32 w : {1, 3, 4, 5}) {
    for (bool top_down : {false, true}) {
      SCOPED_TRACE(std::to_string(w) + (top_down ? " top-down" : " bottom-up"));
      const std::vector<u8> bmp = make_bmp(w, 3, top_down, gradient);
      i32 dw = 0, dh = 0;
      std::vector<u32> pixels;
      ASSERT_EQ(decode_preview_bitmap(bmp, &dw, &dh, &pixels), 0);
      ASSERT_EQ(dw, w);
      ASSERT_EQ(dh, 3);
      for (i32 y = 0; y < 3; ++y)
        for (i32 x = 0; x < w; ++x) EXPECT_EQ(pixels[y * w + x], 0xFF000000u | gradient(x, y)) << x << "," << y;
    }
  }
  struct Bad {
    const char* what;
    std::vector<u8> bytes;
  };
  std::vector<u8> cut = make_bmp(5, 3, false, gradient);
  cut.resize(cut.size() - 4);
  std::vector<u8> eight_bit = make_bmp(4, 2, false, gradient);
  eight_bit[28] = 8;
  std::vector<u8> far_offset = make_bmp(4, 2, false, gradient);
  far_offset[10] = 0xF0;
  far_offset[11] = 0xFF;
  std::vector<u8> zero_width = make_bmp(4, 2, false, gradient);
  zero_width[18] = 0;
  const Bad bad[] = {{"cut short", cut},
                     {"not 24-bit", eight_bit},
                     {"pixels past the end", far_offset},
                     {"no width", zero_width},
                     {"header only", std::vector<u8>(eight_bit.begin(), eight_bit.begin() + 54)},
                     {"too short for a header", std::vector<u8>(20, 0)}};
  for (const Bad& b : bad) {
    i32 w = 0, h = 0;
    std::vector<u32> pixels;
    EXPECT_EQ(decode_preview_bitmap(b.bytes, &w, &h, &pixels), -1) << b.what;
  }
}

TEST(ScreenSaver, TheTrailersBitmapIsReadWithItsGuards) {
  DataScratchFolder folder;
  const u32 built = 300;
  const std::vector<u8> bmp = make_bmp(3, 2, false, gradient);
  auto write_program = [&](u32 n, std::size_t keep) {
    std::vector<u8> file;
    file.reserve(built + 16 + bmp.size());
    for (u32 i = 0; i < built; ++i) file.push_back(0x90);
    for (char ch : std::string("ZTER")) file.push_back(static_cast<u8>(ch));
    put32(file, 16 + n);
    put32(file, n);
    put32(file, 0);
    for (u8 b : bmp) file.push_back(b);
    file.resize(std::min(file.size(), keep));
    std::ofstream(folder.path + "/saver", std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  };
  const std::string path = folder.engine_path() + "saver";
  std::vector<u8> out;
  write_program(static_cast<u32>(bmp.size()), SIZE_MAX);
  ASSERT_EQ(read_preview_bitmap(path.c_str(), built, &out), 0);
  EXPECT_EQ(out, bmp);
  write_program(53, SIZE_MAX);  // below a bitmap's headers
  EXPECT_EQ(read_preview_bitmap(path.c_str(), built, &out), -1);
  write_program(static_cast<u32>(bmp.size()), built + 16 + bmp.size() - 1);  // the file ends early
  EXPECT_EQ(read_preview_bitmap(path.c_str(), built, &out), -1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(read_preview_bitmap((folder.engine_path() + "none").c_str(), built, &out), -1);
}

TEST(ScreenSaver, TheArgumentsDecideWhatTheRunDoes) {
  const std::string box = sjis_message("スクリーンセーバー\n\nVersion 1.00");
  const std::string caption = sjis_message("情報");
  struct Case {
    std::vector<std::string> args;
    int result;
    bool shows_box;
  } cases[] = {
      {{}, -1, true},
      {{"/c"}, -1, true},
      {{"-C"}, -1, true},
      {{"/c:4711"}, -1, true},
      {{"/c", "4711"}, -1, true},
      {{"/a", "4711"}, -1, false},
      {{"-A", "4711"}, -1, false},
      {{"/s"}, 0, false},
      {{"/S"}, 0, false},
      {{"/a"}, 0, false},
      {{"/x", "1", "2"}, 0, false},
      {{"/p", "0"}, -1, false},  // no window to show the preview in
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& a : c.args) name += a + " ";
    SCOPED_TRACE(name);
    fake_ui_reset();
    fake_saver_preview_reset(0);
    g_args = ArgTable{};
    g_args.count = static_cast<u32>(c.args.size());
    g_args.args[0] = "saver";
    for (std::size_t i = 0; i < c.args.size(); ++i) g_args.args[i + 1] = c.args[i];
    EXPECT_EQ(screensaver_info_loop(), c.result);
    ASSERT_EQ(fake_ui_boxes().size(), c.shows_box ? 1u : 0u);
    if (c.shows_box) {
      EXPECT_EQ(fake_ui_boxes()[0].text, box);
      EXPECT_EQ(fake_ui_boxes()[0].caption, caption);
    }
    EXPECT_EQ(fake_saver_preview_last(), nullptr);
  }
  g_args = ArgTable{};
  fake_ui_reset();
}

}  // namespace
