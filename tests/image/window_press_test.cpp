// A left press on the window's drag layer: which client pixels count as the
// layer's coloured pixels, through the parents' offsets and window 0's
// scaled presentation.
#include <gtest/gtest.h>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/input.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"

namespace {

class WindowPressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    ASSERT_EQ(create_system_objects(), 0);
    free_window_records();
    ASSERT_EQ(create_window_records(), 0);
    g_windows[0]->logical_width = 640;
    g_windows[0]->logical_height = 360;
    g_window0_mapping = WindowMapping{};
    ObjectNode* root = g_object_roots[kTreeLayer];
    ObjectNode* group = get_named_object(root, "W0/g", 1, 1);
    ASSERT_NE(group, nullptr);
    LayerImage* g = get_or_create_layer_image(group);
    g->x = 10;
    g->y = 20;
    pad_ = get_named_object(root, "W0/g/pad", 0, 1);
    ASSERT_NE(pad_, nullptr);
    LayerImage* p = get_or_create_layer_image(pad_);
    replace_layer_pixels(p, alloc_image_buffer(nullptr, 4, 3, nullptr), 4, 3);
    p->x = 30;
    p->y = 40;
    // Coloured everywhere but (1, 1), which is black with full alpha.
    for (int i = 0; i < 12; ++i) p->owned_pixels[i] = 0xFF2040A0u;
    p->owned_pixels[1 * 4 + 1] = 0xFF000000u;
    g_windows[0]->drag_layer = pad_;
  }
  void TearDown() override {
    g_windows[0]->drag_layer = nullptr;
    free_window_records();
    destroy_system_objects();
    g_window0_mapping = WindowMapping{};
  }
  ObjectNode* pad_ = nullptr;
};

TEST_F(WindowPressTest, ColouredPixelsOfTheDragLayerOnly) {
  struct Case {
    i32 x, y;
    int opaque;
  };
  // The layer's pixel (0, 0) is at client (40, 60).
  const Case cases[] = {{40, 60, 1}, {43, 62, 1}, {41, 61, 0}, {39, 60, 0}, {40, 59, 0}, {44, 60, 0}, {40, 63, 0},
                        {-1, -1, 0}, {0, 0, 0}};
  for (const Case& c : cases) EXPECT_EQ(window_pixel_opaque(0, c.x, c.y), c.opaque) << c.x << ", " << c.y;
  // Window 0 shown twice as large, 8 pixels down: client (2 x 40, 2 x 60 + 8)
  // is the layer's first pixel, one client pixel up is above it.
  g_window0_mapping = WindowMapping{0, 8, 1280, 720};
  EXPECT_EQ(window_pixel_opaque(0, 80, 128), 1);
  EXPECT_EQ(window_pixel_opaque(0, 87, 133), 1);  // the last pixel
  EXPECT_EQ(window_pixel_opaque(0, 87, 134), 0);
  EXPECT_EQ(window_pixel_opaque(0, 80, 127), 0);
  EXPECT_EQ(window_pixel_opaque(0, 82, 130), 0);  // the black pixel
}

TEST_F(WindowPressTest, NoDragLayerNoWindowNoPress) {
  EXPECT_EQ(window_pixel_opaque(1, 40, 60), 0);  // window 1 has no drag layer
  EXPECT_EQ(window_pixel_opaque(-1, 40, 60), 0);
  EXPECT_EQ(window_pixel_opaque(kWindowCount, 40, 60), 0);
  g_windows[0]->drag_layer = nullptr;
  EXPECT_EQ(window_pixel_opaque(0, 40, 60), 0);
}

}  // namespace
