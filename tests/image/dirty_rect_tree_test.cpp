#include <gtest/gtest.h>

#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"

namespace {

class LayerTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    ASSERT_EQ(create_system_objects(), 0);
    root = g_object_roots[kTreeLayer];
    w0 = g_system_objects[kTreeLayer];
  }
  void TearDown() override { destroy_system_objects(); }
  // A layer of the given size at (x, y) under path's parent.
  LayerImage* layer(const char* path, bool group, i64 x, i64 y, i32 w, i32 h) {
    ObjectNode* n = get_named_object(root, path, group ? 1 : 0, 1);
    EXPECT_NE(n, nullptr) << path;
    LayerImage* im = get_or_create_layer_image(n);
    im->x = x;
    im->y = y;
    im->width = w;
    im->height = h;
    return im;
  }
  ObjectNode* node(const char* path, int mode) { return resolve_object_path(root, path, mode); }
  static void clear(LayerImage* im) {
    im->dirty_valid = 0;
    im->merge_count = 0;
    im->is_dirty = 0;
  }
  ObjectNode* root = nullptr;
  ObjectNode* w0 = nullptr;
};

void expect_rect(const LayerImage* im, i64 l, i64 t, i64 r, i64 b) {
  EXPECT_EQ(im->dirty_valid, 1);
  EXPECT_EQ(im->dirty.left, l);
  EXPECT_EQ(im->dirty.top, t);
  EXPECT_EQ(im->dirty.right, r);
  EXPECT_EQ(im->dirty.bottom, b);
}

}  // namespace

TEST_F(LayerTreeTest, ScreenLayerHasTheLogicalSize) {
  LayerImage* s = static_cast<LayerImage*>(w0->payload);
  ASSERT_NE(s, nullptr);
  i32 w, h;
  get_logical_screen_size(&w, &h);
  EXPECT_EQ(s->width, w);
  EXPECT_EQ(s->height, h);
  EXPECT_EQ(s->ref_count, 1u);
  ASSERT_NE(s->pixels, nullptr);
  EXPECT_EQ(s->pixels[w * h - 1], 0u);
}

TEST_F(LayerTreeTest, MarkCarriesTheAreaUpAndClipsIt) {
  LayerImage* g = layer("W0/g", true, 100, 50, 200, 100);
  LayerImage* a = layer("W0/g/a", false, 190, 10, 30, 20);
  clear(static_cast<LayerImage*>(w0->payload));
  ASSERT_EQ(mark_layer_dirty(node("W0/g/a", 0)), 0);
  EXPECT_EQ(a->dirty_valid, 0);  // the layer's own area is not touched
  expect_rect(g, 190, 10, 199, 29);  // clipped to the group
  expect_rect(static_cast<LayerImage*>(w0->payload), 290, 60, 299, 79);
  // A second mark widens the rectangle to the union.
  layer("W0/g/b", false, 0, 0, 5, 5);
  ASSERT_EQ(mark_layer_dirty(node("W0/g/b", 0)), 0);
  expect_rect(g, 0, 0, 199, 29);
  // A layer that lies outside its group marks nothing above the group.
  layer("W0/g/far", false, 500, 500, 5, 5);
  clear(g);
  clear(static_cast<LayerImage*>(w0->payload));
  ASSERT_EQ(mark_layer_dirty(node("W0/g/far", 0)), 0);
  EXPECT_EQ(g->dirty_valid, 0);
  EXPECT_EQ(static_cast<LayerImage*>(w0->payload)->dirty_valid, 0);
  EXPECT_EQ(mark_layer_dirty(nullptr), -1);
}

TEST_F(LayerTreeTest, PropagationShiftsThroughNestedGroups) {
  LayerImage* outer = layer("W0/o", true, 10, 20, 400, 300);
  LayerImage* inner = layer("W0/o/i", true, 5, 6, 100, 100);
  LayerImage* leaf = layer("W0/o/i/l", false, 1, 2, 10, 10);
  LayerImage* screen = static_cast<LayerImage*>(w0->payload);
  clear(screen);
  leaf->dirty = {0, 0, 3, 3};
  leaf->dirty_valid = 1;
  leaf->merge_count = 1;
  ASSERT_EQ(propagate_layer_dirty_rect(node("W0/o/i/l", 0)), 0);
  expect_rect(leaf, 0, 0, 3, 3);
  expect_rect(inner, 1, 2, 4, 5);
  expect_rect(outer, 6, 8, 9, 11);
  expect_rect(screen, 16, 28, 19, 31);
  EXPECT_EQ(propagate_layer_dirty_rect(nullptr), -1);
}

TEST_F(LayerTreeTest, CollectCountsNestedGroupsAndSkipsHiddenLayers) {
  // The outer group's visible content lies only in a nested group.
  LayerImage* outer = layer("W0/o", true, 0, 0, 500, 500);
  LayerImage* inner = layer("W0/o/i", true, 40, 30, 100, 80);
  layer("W0/o/i/l", false, 10, 10, 20, 20);
  LayerImage* hidden = layer("W0/o/h", false, 300, 300, 10, 10);
  hidden->visible = 0;
  LayerImage* masked = layer("W0/o/m", false, 400, 400, 10, 10);
  std::strcpy(masked->mask_name, "mask");
  masked->mask_fade = 0;
  ASSERT_EQ(collect_child_dirty_rects(node("W0/o", 1)), 0);
  expect_rect(inner, 10, 10, 29, 29);
  expect_rect(outer, 40, 30, 139, 109);
  // Once the mask shows the layer, it counts.
  masked->mask_fade = 1;
  ASSERT_EQ(collect_child_dirty_rects(node("W0/o", 1)), 0);
  expect_rect(outer, 40, 30, 409, 409);
  EXPECT_EQ(collect_child_dirty_rects(nullptr), -1);
}

TEST_F(LayerTreeTest, SharedRecordOutlivesOneNode) {
  LayerImage* a = layer("W0/a", false, 0, 0, 2, 2);
  a->owned_pixels = a->pixels = alloc_image_buffer(nullptr, 2, 2, nullptr);
  ObjectNode* b = get_named_object(root, "W0/b", 0, 2);
  ASSERT_EQ(attach_layer_image(b, a), a);
  EXPECT_EQ(a->ref_count, 2u);
  EXPECT_EQ(attach_layer_image(nullptr, a), nullptr);
  ObjectNode* an = node("W0/a", 0);
  object_detach(an);
  object_subtree_free(an);  // releases one holder
  EXPECT_EQ(a->ref_count, 1u);
  EXPECT_NE(a->pixels, nullptr);
  EXPECT_EQ(static_cast<LayerImage*>(b->payload), a);
}
