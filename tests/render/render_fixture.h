// A small layer tree on the fakes: window 0 shows "W0", resized to a small
// screen, with helpers that make layers of seeded pixels and run frames.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/window.h"
#include "engine/image/blend_tables.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/layer_image.h"
#include "engine/image/span_kernels.h"
#include "engine/render/compositor.h"
#include "engine/render/present.h"
#include "engine/vm/object_tree.h"
#include "tests/support/reference_compositor.h"

class RenderTest : public ::testing::Test {
 protected:
  static constexpr i32 kW = 160;
  static constexpr i32 kH = 120;

  void SetUp() override {
    init_span_ops();
    init_blend_tables();
    reset_error_report_log();
    g_quit_requested = 0;
    ASSERT_EQ(create_system_objects(), 0);
    ASSERT_EQ(create_window_records(), 0);
    g_windows[0]->show_at_first_frame = 1;
    g_windows[0]->logical_width = kW;
    g_windows[0]->logical_height = kH;
    root = g_object_roots[kTreeLayer];
    w0 = g_system_objects[kTreeLayer];
    screen = static_cast<LayerImage*>(w0->payload);
    u32* buf = alloc_image_buffer(nullptr, kW, kH, nullptr);
    ASSERT_NE(buf, nullptr);
    std::memset(buf, 0, static_cast<size_t>(image_buffer_bytes(kW, kH)));
    replace_layer_pixels(screen, buf, kW, kH);
    DirtyRect whole = {0, 0, kW - 1, kH - 1};
    merge_dirty_rect(w0, &whole);
    for (auto& r : g_pending_present) r = kEmptyDirtyRect;
  }
  void TearDown() override {
    destroy_system_objects();
    free_window_records();
    for (auto& r : g_pending_present) r = kEmptyDirtyRect;
  }

  static void fill(LayerImage* im, u32 seed, bool alpha) {
    std::mt19937 rng(seed);
    const size_t n = static_cast<size_t>(im->width) * static_cast<size_t>(im->height);
    for (size_t i = 0; i < n; ++i) {
      u32 v = rng();
      if (!alpha) v |= 0xFF000000u;
      im->owned_pixels[i] = v;
    }
  }
  // A leaf of w x h seeded pixels at (x, y), drawn above the earlier ones.
  LayerImage* leaf(const std::string& path, i64 x, i64 y, i32 w, i32 h, u32 seed, bool alpha = false) {
    ObjectNode* n = get_named_object(root, path.c_str(), 0, ++order);
    EXPECT_NE(n, nullptr) << path;
    LayerImage* im = get_or_create_layer_image(n);
    u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
    replace_layer_pixels(im, buf, w, h);
    im->x = x;
    im->y = y;
    im->has_alpha = alpha ? 1 : 0;
    fill(im, seed, alpha);
    mark_layer_dirty(n);
    return im;
  }
  LayerImage* group(const std::string& path, i64 x, i64 y, i32 w, i32 h) {
    ObjectNode* n = get_named_object(root, path.c_str(), 1, ++order);
    EXPECT_NE(n, nullptr) << path;
    LayerImage* im = get_or_create_layer_image(n);
    im->x = x;
    im->y = y;
    im->width = w;
    im->height = h;
    return im;
  }
  ObjectNode* leaf_node(const std::string& path) { return resolve_object_path(root, path.c_str(), 0); }
  ObjectNode* group_node(const std::string& path) { return resolve_object_path(root, path.c_str(), 1); }

  // One drawn frame: change walk, composition of window 0, repaint request
  // and the end-of-frame reset. Returns draw_window's result.
  int frame() {
    detect_layer_changes();
    const int rc = draw_window(0);
    request_window_repaint(0);
    reset_dirty_state();
    return rc;
  }
  std::vector<u32> shown() const {
    return std::vector<u32>(screen->pixels, screen->pixels + static_cast<size_t>(kW) * kH);
  }
  std::vector<u32> reference() {
    std::vector<u32> out;
    EXPECT_EQ(reference_compose(w0, kW, kH, &out), 0);
    return out;
  }
  // The first differing pixel as text, or "" when the pictures are equal.
  static std::string first_difference(const std::vector<u32>& a, const std::vector<u32>& b) {
    if (a.size() != b.size()) return "sizes differ";
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) {
        char t[96];
        std::snprintf(t, sizeof t, "pixel (%d, %d): %08x, reference %08x", static_cast<int>(i % kW),
                      static_cast<int>(i / kW), a[i], b[i]);
        return t;
      }
    return "";
  }
  u32 at(i32 x, i32 y) const { return screen->pixels[static_cast<size_t>(y) * kW + x]; }

  ObjectNode* root = nullptr;
  ObjectNode* w0 = nullptr;
  LayerImage* screen = nullptr;
  i64 order = 0;
};
