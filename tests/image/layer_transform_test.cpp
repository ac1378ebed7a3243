// Rotation, transfers and trimming, byte for byte against the formulas
// written out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/image/layer_transform.h"
#include "tests/render/render_fixture.h"

namespace {

class LayerTransform : public RenderTest {
 protected:
  // Calls f(x, y, X, Y, s, c) for each destination pixel of a w x h turn,
  // with the source position (X, Y) in 16.16 and the turn's factors.
  template <typename F>
  static void for_each_turned(i32 w, i32 h, i64 angle, F f) {
    i64 a = angle % 360;
    if (a < 0) a += 360;
    const double r = static_cast<double>(a) * 3.1415926535 / 180.0;
    const i64 s = std::llround(65536.0 * std::sin(r)), c = std::llround(65536.0 * std::cos(r));
    for (i32 y = 0; y < h; ++y)
      for (i32 x = 0; x < w; ++x)
        f(x, y, c * (x - w / 2) - s * (y - h / 2) + (w / 2) * 65536, s * (x - w / 2) + c * (y - h / 2) + (h / 2) * 65536,
          s, c);
  }
  // The nearest-pixel rotation written out per destination pixel.
  static std::vector<u32> rotated(const LayerImage* src, i64 angle, bool fill, u32 outside) {
    const i32 w = src->width, h = src->height;
    std::vector<u32> out(static_cast<size_t>(w) * h, outside);
    for_each_turned(w, h, angle, [&](i32 x, i32 y, i64 X, i64 Y, i64, i64) {
      const i64 px = X / 65536, py = Y / 65536;
      if (px >= 0 && px < w && py >= 0 && py < h) out[static_cast<size_t>(y) * w + x] = src->pixels[py * w + px];
      else if (!fill) out[static_cast<size_t>(y) * w + x] = outside;
    });
    return out;
  }
  // The blended turn written out per destination pixel, over what the
  // destination held before.
  static std::vector<u32> blended(const LayerImage* src, std::vector<u32> out, i64 angle, u32 outside) {
    const i32 w = src->width, h = src->height;
    for_each_turned(w, h, angle, [&](i32 x, i32 y, i64 X, i64 Y, i64 s, i64 c) {
      u32& expect = out[static_cast<size_t>(y) * w + x];
      if (X / 65536 < 0 || X / 65536 >= w || Y / 65536 < 0 || Y / 65536 >= h) {
        expect = outside;
        return;
      }
      const i64 x0 = X >> 16, x1 = (X + c) >> 16, y0 = Y >> 16, y1 = (Y + s) >> 16;
      if (x0 < 0 || x1 < 0 || y0 < 0 || y1 < 0 || x0 >= w || x1 >= w || y0 >= h || y1 >= h) return;
      const int fx = static_cast<int>((X >> 8) & 255), fy = static_cast<int>((Y >> 8) & 255);
      expect = 0;
      for (int k = 0; k < 32; k += 8) {
        auto p = [&](i64 px, i64 py) { return static_cast<int>((src->pixels[py * w + px] >> k) & 255); };
        const int top = p(x0, y0) + (((p(x1, y0) - p(x0, y0)) * fx) >> 8);
        const int bottom = p(x0, y1) + (((p(x1, y1) - p(x0, y1)) * fx) >> 8);
        expect |= static_cast<u32>(static_cast<u8>(top + (((bottom - top) * fy) >> 8))) << k;
      }
    });
    return out;
  }
  static std::vector<u32> pixels(const LayerImage* im) {
    return std::vector<u32>(im->pixels, im->pixels + static_cast<size_t>(im->width) * im->height);
  }
};

TEST_F(LayerTransform, NearestRotationByAngleAndMode) {
  LayerImage* src = leaf("W0/src", 0, 0, 13, 7, 1);
  const std::vector<u32> original = pixels(src);
  g_rotation_fill_byte = 0x5A;
  for (i64 angle : {0, 360, 180, -180, 90, 270, 30, -30, 725, 179}) {
    for (int mode : {kRotateFillOutside, kRotateNearest}) {
      SCOPED_TRACE("angle " + std::to_string(angle) + " mode " + std::to_string(mode));
      LayerImage* dst = leaf("W0/dst", 0, 0, 2, 2, 2);
      ASSERT_EQ(rotate_layer(leaf_node("W0/src"), leaf_node("W0/dst"), angle, 1, mode), 0);
      ASSERT_EQ(dst->width, 13);
      ASSERT_EQ(dst->height, 7);
      const u32 outside = mode == kRotateFillOutside ? 0x5A5A5A5Au : 0u;
      EXPECT_EQ(pixels(dst), rotated(src, angle, false, outside));
      EXPECT_EQ(dst->has_alpha, angle % 180 == 0 ? src->has_alpha : 1);
      EXPECT_EQ(pixels(src), original) << "the source is only read";
    }
  }
  // 180 mirrors both ways; 360 is a copy.
  ASSERT_EQ(rotate_layer(leaf_node("W0/src"), leaf_node("W0/dst"), 180, 1, kRotateNearest), 0);
  const LayerImage* dst = static_cast<LayerImage*>(leaf_node("W0/dst")->payload);
  EXPECT_EQ(dst->pixels[0], src->pixels[13 * 7 - 1]);
}

TEST_F(LayerTransform, RotationReusesOnlyAnEqualDestination) {
  leaf("W0/src", 0, 0, 50, 100, 3);
  LayerImage* swapped = leaf("W0/swapped", 0, 0, 100, 50, 4);
  ASSERT_EQ(rotate_layer(leaf_node("W0/src"), leaf_node("W0/swapped"), 90, 1, kRotateNearest), 0);
  EXPECT_EQ(swapped->width, 50) << "a destination of the same byte count but another shape gets the source's";
  EXPECT_EQ(swapped->height, 100);
  LayerImage* same = leaf("W0/same", 0, 0, 50, 100, 5);
  u32* buffer = same->owned_pixels;
  ASSERT_EQ(rotate_layer(leaf_node("W0/src"), leaf_node("W0/same"), 90, 1, kRotateNearest), 0);
  EXPECT_EQ(same->owned_pixels, buffer) << "equal size: written in place";
  // A fresh record of 1 x 1 without a buffer.
  leaf("W0/one", 0, 0, 1, 1, 6);
  ObjectNode* empty = get_named_object(root, "W0/empty", 0, ++order);
  get_or_create_layer_image(empty);
  ASSERT_EQ(rotate_layer(leaf_node("W0/one"), empty, 45, 1, kRotateNearest), 0);
  EXPECT_NE(static_cast<LayerImage*>(empty->payload)->pixels, nullptr);
  // Into the source itself.
  LayerImage* self = leaf("W0/self", 0, 0, 9, 5, 7);
  const std::vector<u32> expect = rotated(self, 33, true, 0);
  g_rotation_fill_byte = 0;
  ASSERT_EQ(rotate_layer(leaf_node("W0/self"), nullptr, 33, 0, kRotateFillOutside), 0);
  EXPECT_EQ(pixels(self), expect);
}

TEST_F(LayerTransform, BilinearRotationTaps) {
  LayerImage* src = leaf("W0/src", 0, 0, 21, 17, 8, true);
  g_rotation_fill_byte = 0x11;
  for (i64 angle : {20, 100, 200, 300, 1}) {
    SCOPED_TRACE(angle);
    LayerImage* dst = leaf("W0/dst", 0, 0, 21, 17, 9);
    const std::vector<u32> before = pixels(dst);
    ASSERT_EQ(rotate_layer_alt(leaf_node("W0/src"), leaf_node("W0/dst"), angle, 1), 0);
    EXPECT_EQ(pixels(dst), blended(src, before, angle, 0x11111111u));
  }
}

// Sizes, turns and fill bytes drawn from many seeds: both turns equal the
// formulas pixel for pixel, also at the edges where the columns inside the
// source begin and end, and a destination reused in place keeps exactly the
// pixels the formulas leave alone.
TEST_F(LayerTransform, RotationsMatchTheFormulasAcrossRandomTurns) {
  for (u32 seed = 1; seed <= 400; ++seed) {
    u32 r = seed * 2654435761u;
    auto next = [&r](u32 n) {
      r ^= r << 13;
      r ^= r >> 17;
      r ^= r << 5;
      return r % n;
    };
    const i32 w = 1 + static_cast<i32>(next(48)), h = 1 + static_cast<i32>(next(48));
    const i64 angle = static_cast<i64>(next(1441)) - 720;
    const bool alt = next(2) != 0;
    const int mode = next(2) ? kRotateFillOutside : kRotateNearest;
    g_rotation_fill_byte = static_cast<u8>(next(256));
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + std::to_string(w) + " x " + std::to_string(h) + ", angle " +
                 std::to_string(angle) + (alt ? ", blended" : ", nearest mode " + std::to_string(mode)));
    LayerImage* src = leaf("W0/src", 0, 0, w, h, seed, true);
    LayerImage* dst = leaf("W0/dst", 0, 0, w, h, seed + 7777);
    const std::vector<u32> before = pixels(dst);
    const u32 outside = 0x01010101u * g_rotation_fill_byte;
    std::vector<u32> expect;
    i64 a = angle % 360;
    if (a < 0) a += 360;
    if (a % 180 == 0) {
      // A copy, or a copy mirrored both ways.
      expect = pixels(src);
      if (a == 180) std::reverse(expect.begin(), expect.end());
    } else if (alt) {
      expect = blended(src, before, a, outside);
    } else if (mode == kRotateFillOutside) {
      expect = rotated(src, angle, false, outside);
    } else {
      // Outside the source the reused destination keeps its pixels.
      expect = rotated(src, angle, false, 0);
      const std::vector<u32> marked = rotated(src, angle, false, 0x5EEDu);
      for (size_t i = 0; i < expect.size(); ++i)
        if (marked[i] != expect[i]) expect[i] = before[i];
    }
    if (alt) ASSERT_EQ(rotate_layer_alt(leaf_node("W0/src"), leaf_node("W0/dst"), angle, 1), 0);
    else ASSERT_EQ(rotate_layer(leaf_node("W0/src"), leaf_node("W0/dst"), angle, 1, mode), 0);
    ASSERT_EQ(dst->width, w);
    ASSERT_EQ(pixels(dst), expect);
  }
}

TEST_F(LayerTransform, TransfersClipToEveryLayer) {
  LayerImage* src = leaf("W0/src", 0, 0, 20, 10, 10, true);
  LayerImage* dst = leaf("W0/dst", 0, 0, 30, 30, 11);
  std::vector<u32> before = pixels(dst);
  // Source alpha 0: nothing at all, has_alpha included.
  src->alpha = 0;
  TransferRect r{0, 0, 20, 10, 3, 4};
  copy_layer_pixels(leaf_node("W0/src"), leaf_node("W0/dst"), r);
  EXPECT_EQ(pixels(dst), before);
  EXPECT_EQ(dst->has_alpha, 0);
  // A rectangle reaching past the source reads only the source.
  src->alpha = 256;
  TransferRect wide{15, 5, 50, 50, 25, 27};
  copy_layer_pixels(leaf_node("W0/src"), leaf_node("W0/dst"), wide);
  EXPECT_EQ(dst->has_alpha, 1);
  std::vector<u32> expect = before;
  for (int y = 0; y < 3; ++y) {
    std::vector<u32> row(expect.begin() + (27 + y) * 30 + 25, expect.begin() + (27 + y) * 30 + 30);
    g_span_kernels.over_alpha(reinterpret_cast<u8*>(row.data()),
                              reinterpret_cast<const u8*>(src->pixels + (5 + y) * 20 + 15), 5 * 4);
    std::copy(row.begin(), row.end(), expect.begin() + (27 + y) * 30 + 25);
  }
  EXPECT_EQ(pixels(dst), expect);
  // The difference mask of a layer with itself is transparent black; the
  // equality mask keeps it.
  LayerImage* twin = leaf("W0/twin", 0, 0, 20, 10, 10, true);
  TransferRect all{0, 0, 20, 10, 0, 0};
  mask_layer_equal(leaf_node("W0/src"), leaf_node("W0/twin"), all);
  EXPECT_EQ(pixels(twin), pixels(src));
  mask_layer_difference(leaf_node("W0/src"), leaf_node("W0/twin"), all);
  for (u32 p : pixels(twin)) ASSERT_EQ(p, 0u);
  mask_layer_difference(leaf_node("W0/src"), leaf_node("W0/twin"), all);
  EXPECT_EQ(pixels(twin), pixels(src)) << "different pixels take the source's";
}

TEST_F(LayerTransform, CrossfadeWeightAndTheSmallerSecondSource) {
  LayerImage* a = leaf("W0/a", 0, 0, 16, 8, 20);
  LayerImage* b = leaf("W0/b", 0, 0, 10, 6, 21);  // smaller than a: the fade stops at its edge
  for (i64 amount : {-100, 0, 99, 255, 1000}) {
    SCOPED_TRACE(amount);
    LayerImage* d = leaf("W0/d", 0, 0, 16, 8, 22);
    const std::vector<u32> before = pixels(d);
    crossfade_layers(leaf_node("W0/a"), leaf_node("W0/b"), leaf_node("W0/d"), TransferRect{0, 0, 16, 8, 0, 0},
                     amount);
    const int wgt = static_cast<int>(std::clamp<i64>(amount, 0, 255)) + 1;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) {
        u32 expect = before[y * 16 + x];
        if (x < 10 && y < 6) {
          expect = 0;
          for (int k = 0; k < 32; k += 8) {
            const int av = (a->pixels[y * 16 + x] >> k) & 255, bv = (b->pixels[y * 10 + x] >> k) & 255;
            expect |= static_cast<u32>(static_cast<u8>(av + (((bv - av) * wgt) >> 8))) << k;
          }
        }
        ASSERT_EQ(d->pixels[y * 16 + x], expect) << x << "," << y;
      }
    EXPECT_EQ(d->has_alpha, 1);
  }
}

TEST_F(LayerTransform, TrimToTheBoxOfTheChosenSides) {
  LayerImage* src = leaf("W0/src", 0, 0, 12, 9, 30, true);
  for (size_t i = 0; i < 12 * 9; ++i) src->owned_pixels[i] &= 0x00FFFFFFu;
  src->owned_pixels[2 * 12 + 3] |= 0x80000000u;
  src->owned_pixels[6 * 12 + 9] |= 0x10000000u;
  const std::vector<u32> original = pixels(src);
  struct Case {
    int sides;
    i64 threshold;
    i32 x, y, w, h;
  } cases[] = {
      {15, 0, 3, 2, 7, 5},     // all four sides to both pixels
      {15, 0x20, 3, 2, 1, 1},  // only the 0x80 pixel exceeds 0x20
      {8 | 2, 0, 3, 2, 9, 7},  // top and left cut, bottom and right kept
      {0, 0, 0, 0, 12, 9},     // no side: the whole image
      {15, 200, 0, 0, 12, 9},  // 200 is -56 as a signed byte: every pixel exceeds it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sides * 1000 + c.threshold);
    LayerImage* dst = leaf("W0/dst", 0, 0, 1, 1, 31);
    ASSERT_EQ(trim_layer(leaf_node("W0/src"), leaf_node("W0/dst"), 1, c.sides, c.threshold), 0);
    ASSERT_EQ(dst->width, c.w);
    ASSERT_EQ(dst->height, c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) ASSERT_EQ(dst->pixels[y * c.w + x], original[(c.y + y) * 12 + c.x + x]);
    EXPECT_EQ(dst->has_alpha, 1);
  }
  // Nothing above the threshold: the layer stays as it was.
  LayerImage* clear = leaf("W0/clear", 0, 0, 6, 6, 33, true);
  for (size_t i = 0; i < 36; ++i) clear->owned_pixels[i] &= 0x00FFFFFFu;
  LayerImage* dst = leaf("W0/dst", 0, 0, 4, 4, 32);
  const std::vector<u32> before = pixels(dst);
  ASSERT_EQ(trim_layer(leaf_node("W0/clear"), leaf_node("W0/dst"), 1, 15, 0), 0);
  EXPECT_EQ(dst->width, 4);
  EXPECT_EQ(pixels(dst), before);
}

}  // namespace
