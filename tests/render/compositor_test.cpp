#include <cstdint>

#include "tests/render/render_fixture.h"

namespace {

using CompositorTest = RenderTest;

// The area a change shows in, marked before and after it, as the layer
// commands do (a group carries its children's areas up).
void mark(ObjectNode* n) {
  if (n->is_group) propagate_layer_dirty_rect(n);
  else mark_layer_dirty(n);
}

TEST_F(CompositorTest, FirstFrameDrawsTheWholeTreeAsTheReference) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  leaf("W0/a", 20, 10, 50, 40, 2, true);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(first_difference(shown(), reference()), "");
  // The dirty state is gone after the frame.
  EXPECT_EQ(screen->is_dirty, 0);
  EXPECT_EQ(screen->dirty_valid, 0);
  EXPECT_TRUE(dirty_rect_is_empty(screen->reset_rect));
}

TEST_F(CompositorTest, OnlyTheDirtyAreaIsRecomposed) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  LayerImage* a = leaf("W0/a", 10, 10, 20, 20, 2);
  ASSERT_EQ(frame(), 0);
  // A pixel outside every later dirty area is scribbled over: only a full
  // redraw would repair it.
  screen->pixels[100 * kW + 150] = 0x12345678u;
  ObjectNode* an = leaf_node("W0/a");
  mark_layer_dirty(an);
  a->x = 40;
  mark_layer_dirty(an);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(at(150, 100), 0x12345678u);
  std::vector<u32> ref = reference();
  ref[100 * kW + 150] = 0x12345678u;
  EXPECT_EQ(first_difference(shown(), ref), "");
}

TEST_F(CompositorTest, UnchangedSizedGroupBesideTheChangeIsRedrawnInsideTheChangedArea) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  group("W0/g", 0, 0, kW, kH);
  leaf("W0/g/sprite", 30, 30, 40, 40, 2);
  LayerImage* t = leaf("W0/t", 40, 40, 20, 20, 3, true);
  ASSERT_EQ(frame(), 0);
  const u32 sprite_before = at(35, 35);
  t->alpha = 128;
  mark_layer_dirty(leaf_node("W0/t"));
  ASSERT_EQ(frame(), 0);
  // The sprite under the text is still there.
  EXPECT_EQ(at(35, 35), sprite_before);
  EXPECT_EQ(first_difference(shown(), reference()), "");
}

TEST_F(CompositorTest, SizedGroupClipsItsChildrenAndPureGroupDoesNot) {
  group("W0/g", 20, 20, 30, 30);
  leaf("W0/g/big", -10, -10, 60, 60, 5);
  group("W0/p", 70, 10, 0, 0);
  leaf("W0/p/big", 0, 0, 60, 60, 6);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(at(15, 15), 0u);          // outside the sized group: nothing
  EXPECT_NE(at(25, 25), 0u);          // inside it
  EXPECT_NE(at(125, 65), 0u);         // the pure group's child shows in full
  EXPECT_EQ(first_difference(shown(), reference()), "");
}

TEST_F(CompositorTest, CoverHidesTheLayersBelowAndOnlyDrawnLayersCover) {
  // A layer below the cover has a mask of the wrong size: drawing it would
  // stop the composition, so passing proves it was not drawn.
  leaf("W0/m", 0, 0, 5, 5, 9)->visible = 0;
  LayerImage* below = leaf("W0/below", 0, 0, 40, 40, 1);
  set_layer_name_buffer(below->mask_name, "W0/m");
  below->mask_fade = 100;
  LayerImage* cover = leaf("W0/cover", 0, 0, kW, kH, 2);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(at(10, 10), cover->pixels[10 * kW + 10]);

  // A layer of another content kind is never drawn, so it covers nothing:
  // the layers below it and the zeroing are not skipped.
  below->mask_name[0] = 0;
  cover->content_kind = 1;
  mark_layer_dirty(leaf_node("W0/cover"));
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(first_difference(shown(), reference()), "");
  EXPECT_EQ(at(100, 100), 0u);
}

TEST_F(CompositorTest, HiddenNestedGroupMovesWithItsParent) {
  // A window draws the leaves of a hidden group: moving its parent must
  // clear their old place too.
  for (bool pure : {false, true}) {
    SCOPED_TRACE(pure ? "pure inner group" : "sized inner group");
    const std::string p = pure ? "W0/p2" : "W0/p1";
    group(p, 10, 10, pure ? 0 : 100, pure ? 0 : 80);
    LayerImage* inner = group(p + "/g", 5, 5, pure ? 0 : 60, pure ? 0 : 50);
    leaf(p + "/g/a", 3, 3, 30, 20, 4);
    inner->visible = 0;
    ASSERT_EQ(frame(), 0);
    ASSERT_NE(at(20, 20), 0u);
    ObjectNode* pn = group_node(p);
    mark(pn);
    static_cast<LayerImage*>(pn->payload)->x += 70;
    mark(pn);
    ASSERT_EQ(frame(), 0);
    EXPECT_EQ(first_difference(shown(), reference()), "");
    EXPECT_EQ(at(20, 20), 0u);
  }
}

TEST_F(CompositorTest, WithoutCoverTheDirtyAreaIsZeroedFirst) {
  LayerImage* a = leaf("W0/a", 0, 0, 50, 50, 1);
  ASSERT_EQ(frame(), 0);
  mark_layer_dirty(leaf_node("W0/a"));
  a->visible = 0;
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(at(10, 10), 0u);
  EXPECT_EQ(first_difference(shown(), reference()), "");
}

TEST_F(CompositorTest, MaskOfAnotherSizeStopsWithItsError) {
  leaf("W0/m", 0, 0, 5, 5, 9)->visible = 0;
  LayerImage* a = leaf("W0/a", 0, 0, 20, 20, 1);
  set_layer_name_buffer(a->mask_name, "W0/m");
  a->mask_fade = 100;
  EXPECT_EQ(frame(), -1);
  EXPECT_EQ(g_error_report_log.report_count, 1u);
  EXPECT_EQ(g_error_report_log.last_number, 100310u);
  EXPECT_EQ(g_error_report_log.last_fatal, 1);
}

TEST_F(CompositorTest, MaskFadeZeroHidesAndFullFadeIgnoresTheMask) {
  leaf("W0/bg", 0, 0, kW, kH, 3);
  LayerImage* m = leaf("W0/m", 0, 0, 30, 30, 4);
  m->visible = 0;
  LayerImage* a = leaf("W0/a", 10, 10, 30, 30, 1);
  set_layer_name_buffer(a->mask_name, "W0/m");
  for (i16 fade : {0, 100, 255, 256}) {
    a->mask_fade = fade;
    a->mask_softness = 256;
    mark_layer_dirty(leaf_node("W0/a"));
    ASSERT_EQ(frame(), 0) << fade;
    EXPECT_EQ(first_difference(shown(), reference()), "") << fade;
  }
  // Fade 256: drawn as if it had no mask.
  EXPECT_EQ(at(15, 15), a->pixels[5 * 30 + 5]);
}

TEST_F(CompositorTest, ToneGoesBackToTheOwnPixelsWhenNeutral) {
  LayerImage* a = leaf("W0/a", 0, 0, 30, 30, 1);
  ASSERT_EQ(frame(), 0);
  const u32 plain = at(5, 5);
  a->tone_colour = 0xFF4010;
  a->tone_level = 200;
  mark_layer_dirty(leaf_node("W0/a"));
  ASSERT_EQ(frame(), 0);
  EXPECT_NE(at(5, 5), plain);
  EXPECT_EQ(first_difference(shown(), reference()), "");
  EXPECT_EQ(a->pixels, a->owned_pixels);  // the toned copy never replaces them
  a->tone_colour = 0x808080;
  a->tone_level = 128;
  mark_layer_dirty(leaf_node("W0/a"));
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(at(5, 5), plain);
  EXPECT_EQ(a->tone_pixels, nullptr);
}

TEST_F(CompositorTest, ToneIsBuiltFromTheShownFrameAndOnceForTwoPlaces) {
  LayerImage* a = leaf("W0/a", 0, 0, 30, 30, 1);
  // The same record shown a second time elsewhere in the tree.
  ObjectNode* twin = get_named_object(root, "W0/twin", 0, ++order);
  share_layer_image(twin, a);
  group("W0/g", 40, 0, 0, 0);
  ObjectNode* twin2 = get_named_object(root, "W0/g/twin", 0, ++order);
  share_layer_image(twin2, a);
  // The layer shows storage it does not own (a frame of a frame set).
  std::vector<u32> other(static_cast<size_t>(image_buffer_bytes(30, 30) / 4 + 1));
  for (size_t i = 0; i < other.size(); ++i) other[i] = 0xFF000000u | static_cast<u32>(i * 2654435761u);
  a->pixels = other.data();
  a->tone_colour = 0x20C0FF;
  a->tone_level = 60;
  mark_layer_dirty(leaf_node("W0/a"));
  mark_layer_dirty(twin2);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(first_difference(shown(), reference()), "");
  EXPECT_EQ(a->pixels, other.data());
  EXPECT_EQ(at(5, 5), at(45, 5));
  a->pixels = a->owned_pixels;
}

TEST_F(CompositorTest, PresentRectIsTheUnionOfTheComposedAreas) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  ASSERT_EQ(frame(), 0);
  DirtyRect r1 = {5, 6, 10, 12}, r2 = {50, 40, 60, 44};
  merge_dirty_rect(w0, &r1);
  merge_dirty_rect(w0, &r2);
  ASSERT_EQ(draw_window(0), 0);
  EXPECT_EQ(screen->reset_rect.left, 5);
  EXPECT_EQ(screen->reset_rect.top, 6);
  EXPECT_EQ(screen->reset_rect.right, 60);
  EXPECT_EQ(screen->reset_rect.bottom, 44);
  reset_dirty_state();
  // A whole-image declaration presents the whole image.
  DirtyRect r3 = {1, 1, 2, 2};
  merge_dirty_rect(w0, &r3);
  screen->dirty_whole = 1;
  ASSERT_EQ(draw_window(0), 0);
  EXPECT_EQ(screen->reset_rect.right, kW - 1);
  EXPECT_EQ(screen->reset_rect.bottom, kH - 1);
  EXPECT_EQ(screen->dirty_whole, 0);
}

TEST_F(CompositorTest, HiddenOrUnshownWindowIsNotComposed) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  g_windows[0]->show_at_first_frame = 0;
  EXPECT_EQ(draw_window(0), 0);
  EXPECT_EQ(screen->dirty_valid, 1);  // nothing was composed
  EXPECT_EQ(at(3, 3), 0u);
  g_windows[0]->show_at_first_frame = 1;
  g_quit_requested = 1;
  EXPECT_EQ(draw_window(0), 1);  // the quit flag comes back
  g_quit_requested = 0;
}

TEST_F(CompositorTest, GroupIsFlattenedIntoItsOwnPixels) {
  LayerImage* g = group("W0/g", 10, 10, 64, 48);
  u32* buf = alloc_image_buffer(nullptr, 64, 48, nullptr);
  replace_layer_pixels(g, buf, 64, 48);
  std::memset(buf, 0xAB, static_cast<size_t>(image_buffer_bytes(64, 48)));
  leaf("W0/g/a", -8, 4, 40, 30, 1);
  leaf("W0/g/b", 20, 20, 60, 40, 2, true)->alpha = 180;
  DirtyRect whole = {0, 0, 63, 47};
  merge_dirty_rect(group_node("W0/g"), &whole);
  ASSERT_EQ(compose_layer_tree(group_node("W0/g"), -1, 1, 0, 0, 0, 0, 0, 63, 47, 1), 0);
  std::vector<u32> want;
  ASSERT_EQ(reference_compose(group_node("W0/g"), 64, 48, &want), 0);
  EXPECT_EQ(std::vector<u32>(g->pixels, g->pixels + 64 * 48), want);
  EXPECT_EQ(g->has_alpha, 0);
}

TEST_F(CompositorTest, EveryPassTonesTheCurrentPixels) {
  LayerImage* g = group("W0/g", 0, 0, 32, 32);
  replace_layer_pixels(g, alloc_image_buffer(nullptr, 32, 32, nullptr), 32, 32);
  LayerImage* a = leaf("W0/g/a", 0, 0, 32, 32, 1);
  a->tone_colour = 0x30A0F0;
  ObjectNode* gn = group_node("W0/g");
  for (u32 seed : {5u, 6u}) {
    fill(a, seed, false);  // drawn into in place, between two flattenings
    DirtyRect whole = {0, 0, 31, 31};
    merge_dirty_rect(gn, &whole);
    ASSERT_EQ(compose_layer_tree(gn, -1, 1, 0, 0, 0, 0, 0, 31, 31, 1), 0);
    std::vector<u32> want;
    ASSERT_EQ(reference_compose(gn, 32, 32, &want), 0);
    EXPECT_EQ(std::vector<u32>(g->pixels, g->pixels + 32 * 32), want) << seed;
  }
}

TEST_F(CompositorTest, PositionsAtTheEndsOfTheRangeDrawNothingAndDoNotOverflow) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  leaf("W0/far", INT64_MAX - 3, INT64_MAX - 3, 20, 20, 2);
  group("W0/g", INT64_MIN + 2, 0, 10, 10);
  leaf("W0/g/near", INT64_MAX, 5, 30, 30, 3);
  group("W0/p", INT64_MAX - 1, INT64_MIN + 1, 0, 0);
  leaf("W0/p/x", 10, 10, 30, 30, 4);
  DirtyRect whole = {0, 0, kW - 1, kH - 1};
  merge_dirty_rect(w0, &whole);
  ASSERT_EQ(frame(), 0);
  EXPECT_EQ(first_difference(shown(), reference()), "");
}

TEST(ClipBlitRects, OverlapKindsAndResults) {
  struct Case {
    i64 s;
    i32 sw;
    i64 a;
    i32 aw;
    u8 kind;
    i32 dst, offset, width;
  } cases[] = {
      {10, 5, 0, 100, 0, 10, 0, 5},    // inside
      {-5, 20, 0, 100, 2, 0, 5, 15},   // starts before
      {90, 20, 0, 100, 1, 90, 0, 10},  // ends after
      {-5, 200, 0, 100, 3, 0, 5, 100}, // both: the area's width
      {200, 5, 0, 100, 1, 200, 0, -100},  // misses: width below 1
  };
  for (const Case& c : cases) {
    ClipRecord r;
    r.src_x = c.s;
    r.src_w = c.sw;
    r.area_x = c.a;
    r.area_w = c.aw;
    r.src_y = 0;
    r.src_h = 1;
    r.area_y = 0;
    r.area_h = 1;
    clip_blit_rects(&r);
    EXPECT_EQ(r.overlap_x, c.kind) << c.s;
    EXPECT_EQ(r.dst_x, c.dst) << c.s;
    EXPECT_EQ(r.offset_x, c.offset) << c.s;
    EXPECT_EQ(r.width, c.width) << c.s;
    EXPECT_EQ(r.height, 1);
  }
}

TEST(MaskWeights, SoftAndHardEdges) {
  LayerImage im;
  im.alpha = 256;
  im.mask_fade = 100;
  im.mask_softness = 256;
  build_mask_weights(&im);
  EXPECT_EQ(g_mask_weights[155], 0);
  EXPECT_EQ(g_mask_weights[156], 256);
  im.mask_softness = 64;
  build_mask_weights(&im);
  for (int m : {0, 77, 255}) {
    int v = ((m * 64) >> 1) + 32 * 100 - 128 * 64 + 100;
    if (v > 255) v = 255;
    EXPECT_EQ(g_mask_weights[m], v + 1) << m;
  }
  im.alpha = 128;
  im.mask_softness = 256;
  build_mask_weights(&im);
  EXPECT_EQ(g_mask_weights[255], 128);
}

TEST(ToneKernels, NeutralKeepsAndExtremesMoveWithinRange) {
  std::vector<u32> src(16), dst(16);
  for (int i = 0; i < 16; ++i) src[i] = 0x80000000u | static_cast<u32>(i * 0x0F0A05);
  apply_color_tone_rows(dst.data(), src.data(), 0, 0, 3, 3, 4, 4, 4, 4, 0x808080);
  EXPECT_EQ(dst, src);
  apply_color_tone_rows(dst.data(), src.data(), 0, 0, 3, 3, 4, 4, 4, 4, 0xFF0000);
  for (int i = 0; i < 16; ++i) {
    const int r = (src[i] >> 16) & 0xFF, b = src[i] & 0xFF;
    EXPECT_EQ(static_cast<int>((dst[i] >> 16) & 0xFF), r + (((255 - r) * 127) >> 7));
    EXPECT_EQ(static_cast<int>(dst[i] & 0xFF), b - ((b * 128) >> 7));  // blue 0: to 0
    EXPECT_EQ(dst[i] >> 24, src[i] >> 24);
  }
  apply_saturation_rows(dst.data(), src.data(), 0, 0, 3, 3, 4, 4, 4, 4, 0);
  for (int i = 0; i < 16; ++i) {
    const int b = src[i] & 0xFF, g = (src[i] >> 8) & 0xFF, r = (src[i] >> 16) & 0xFF;
    const int grey = (b + g + r) / 3;
    EXPECT_EQ(dst[i] & 0xFFFFFFu, static_cast<u32>(grey | grey << 8 | grey << 16)) << i;
  }
  // Full saturation of strong colours stays inside 0..255 and keeps order.
  u32 vivid[2] = {0xFF10F020u, 0xFFF00810u}, out[2];
  apply_saturation_rows(out, vivid, 0, 0, 1, 0, 2, 1, 2, 1, 256);
  for (int i = 0; i < 2; ++i) {
    const int b0 = vivid[i] & 0xFF, g0 = (vivid[i] >> 8) & 0xFF;
    const int b1 = out[i] & 0xFF, g1 = (out[i] >> 8) & 0xFF;
    EXPECT_EQ(b0 < g0, b1 < g1);
    EXPECT_GE(std::abs(g1 - b1), std::abs(g0 - b0));
  }
}

// Random sequences of layer changes: after every frame the partial
// composition equals a full redraw.
TEST_F(CompositorTest, RandomChangesMatchTheFullRedraw) {
  leaf("W0/bg", 0, 0, kW, kH, 1);
  leaf("W0/m", 0, 0, 24, 24, 50)->visible = 0;
  leaf("W0/a", 10, 10, 24, 24, 2);
  group("W0/g", 30, 20, 90, 70);
  leaf("W0/g/s1", 5, 5, 40, 30, 3, true);
  leaf("W0/g/s2", 50, 40, 60, 40, 4);
  group("W0/g/n", 10, 30, 40, 30);
  leaf("W0/g/n/d", -5, -5, 30, 30, 5, true);
  group("W0/p", 60, 60, 0, 0);
  leaf("W0/p/e", 0, 0, 24, 24, 6, true);
  leaf("W0/p/f", 20, -30, 50, 20, 7);
  leaf("W0/t", 70, 15, 50, 30, 8, true);
  leaf("W0/k", 0, 0, 60, 50, 9)->content_kind = 1;
  ASSERT_EQ(frame(), 0);
  ASSERT_EQ(first_difference(shown(), reference()), "");

  const char* leaves[] = {"W0/a", "W0/g/s1", "W0/g/s2", "W0/g/n/d", "W0/p/e", "W0/p/f", "W0/t", "W0/k", "W0/bg"};
  const char* groups[] = {"W0/g", "W0/g/n", "W0/p"};
  std::mt19937 rng(20260);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<u32>(n)); };
  for (int step = 0; step < 300; ++step) {
    const int changes = 1 + pick(3);
    for (int c = 0; c < changes; ++c) {
      const int kind = pick(11);
      if (kind == 9) {
        ObjectNode* g = group_node(groups[pick(3)]);
        LayerImage* gi = static_cast<LayerImage*>(g->payload);
        mark(g);
        gi->x += pick(41) - 20;
        gi->y += pick(31) - 15;
        mark(g);
        continue;
      }
      ObjectNode* n = leaf_node(leaves[pick(9)]);
      LayerImage* im = static_cast<LayerImage*>(n->payload);
      mark(n);
      switch (kind) {
        case 0:
          im->x += pick(61) - 30;
          im->y += pick(41) - 20;
          break;
        case 1: im->visible = im->visible ? 0 : 1; break;
        case 2: im->alpha = static_cast<i16>(pick(5) == 0 ? 256 : pick(257)); break;
        case 3: im->blend_mode = static_cast<u8>(pick(19)); break;
        case 4: {  // a new picture, sometimes of another size
          const i32 w = pick(3) == 0 ? 10 + pick(60) : im->width, h = pick(3) == 0 ? 10 + pick(50) : im->height;
          if (w != im->width || h != im->height) {
            u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
            replace_layer_pixels(im, buf, w, h);
            im->mask_name[0] = 0;  // the mask fits only its own size
          }
          im->has_alpha = static_cast<u8>(pick(2));
          fill(im, rng(), im->has_alpha);
          break;
        }
        case 5:
          im->tone_colour = pick(3) == 0 ? 0x808080 : static_cast<i32>(rng() & 0xFFFFFF);
          im->tone_level = pick(3) == 0 ? 128 : pick(257);
          break;
        case 6:
          if (im->width == 24 && im->height == 24) {
            set_layer_name_buffer(im->mask_name, pick(3) == 0 ? "" : "W0/m");
            im->mask_fade = static_cast<i16>(pick(4) == 0 ? 256 : pick(257));
            im->mask_softness = static_cast<i16>(pick(2) ? 256 : pick(300));
          }
          break;
        case 7: im->content_kind = static_cast<u8>(pick(4) == 0 ? 1 : 0); break;
        case 8: im->has_alpha = static_cast<u8>(pick(2)); break;
        default: {  // restack among its siblings
          ObjectNode* parent = n->parent;
          layer_unlink(parent, n);
          layer_insert_child(parent, n, pick(40));
          break;
        }
      }
      mark(n);
    }
    ASSERT_EQ(frame(), 0) << "step " << step;
    ASSERT_EQ(first_difference(shown(), reference()), "") << "step " << step;
  }
}

}  // namespace
