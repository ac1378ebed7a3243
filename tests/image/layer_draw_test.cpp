// The layer drawing request on real layer trees: names, the operation
// table's order and checks, the effect frame, swaps and text stamping on the
// fake glyph source.
#include "engine/image/layer_draw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "engine/image/font_slots.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_load.h"
#include "engine/vm/object_tree.h"

namespace {

class LayerDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    init_span_ops();  // resizes and margins copy rows with the span kernels
    init_blend_tables();  // the copies' over kernels read the product tables
    ASSERT_EQ(create_system_objects(), 0);
    delete g_text_record;
    g_text_record = new TextRecord();
    build_font_list();
  }
  void TearDown() override {
    destroy_system_objects();
    free_font_slots();
  }
  // A layer W0/name of w x h whose pixel (x, y) is 0x80000000 | x << 8 | y.
  ObjectNode* make(const char* name, int w, int h, i64 key = 1) {
    const std::string path = std::string("W0/") + name;
    ObjectNode* n = get_named_object(g_object_roots[kTreeLayer], path.c_str(), 0, key);
    LayerImage* img = get_or_create_layer_image(n);
    u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
    install_image_buffer(img, buf, w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) buf[y * w + x] = 0x80000000u | static_cast<u32>(x) << 8 | static_cast<u32>(y);
    return n;
  }
  static LayerImage* img(ObjectNode* n) { return static_cast<LayerImage*>(n->payload); }
  static ObjectNode* find(const char* name) {
    return resolve_object_path(g_object_roots[kTreeLayer], (std::string("W0/") + name).c_str(), 0);
  }
  int run(std::initializer_list<std::pair<u32, i64>> values, const char* target = "a", const char* second = nullptr,
          const char* text = nullptr) {
    p.clear();
    p.set_text(0, target);
    if (second) p.set_text(1, second);
    if (text) p.set_text(11, text);
    for (const auto& v : values) p.set(v.first, v.second);
    reset_error_report_log();
    return layer_draw(p);
  }
  ParamSet p;
};

TEST_F(LayerDrawTest, NamesAndTheFirstOperationOnly) {
  ObjectNode* a = make("a", 8, 6);
  make("b7", 4, 4);
  // A missing target does nothing; a missing further layer is 101291.
  EXPECT_EQ(run({{57, 1}}, "none"), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(run({{57, 1}}, "a", "nothing"), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101291u);
  // Digits appended to names; negative (57) before fill (58) in the table.
  p.clear();
  p.set_text(0, "b");
  p.set(4, 7);
  p.set(57, 1);
  p.set(58, 0);
  ASSERT_EQ(layer_draw(p), 0);
  EXPECT_EQ(img(find("b7"))->owned_pixels[0], 0x80FFFFFFu);
  // Range errors name the value and leave the pixels.
  const u32 before = img(a)->owned_pixels[3];
  EXPECT_EQ(run({{42, 0}, {9, 300}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  EXPECT_EQ(img(a)->owned_pixels[3], before);
  // A rectangle whose corners cross is refused.
  EXPECT_EQ(run({{57, 1}, {12, 5}, {14, 2}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  EXPECT_EQ(img(a)->width, 8);
  // Operations needing the rectangle.
  EXPECT_EQ(run({{46, 0}, {9, 2}, {12, 0}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101283u);
  EXPECT_EQ(run({{53, 0}, {9, 2}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101284u);
  EXPECT_EQ(run({{29, 0}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101282u);
  // The transfers need layer 2, the cross-fade layer 3 too; trim's sides.
  for (u32 id : {34u, 35u, 36u, 37u, 38u, 39u}) {
    EXPECT_EQ(run({{id, 0}}), -1) << id;
    EXPECT_EQ(g_error_report_log.last_number, 101298u) << id;
  }
  EXPECT_EQ(run({{36, 0}}, "a", "b7"), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101298u);
  EXPECT_EQ(run({{40, 0}, {9, 16}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  EXPECT_EQ(run({{65, 0}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101296u);
  EXPECT_EQ(run({{67, 0}}), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101297u);
}

TEST_F(LayerDrawTest, EffectFrameSizesAndAttributeCopies) {
  ObjectNode* a = make("a", 10, 8);
  ObjectNode* r = make("r", 2, 2);
  img(a)->x = 33;
  img(a)->blend_mode = 2;
  set_layer_name_buffer(img(a)->mask_name, "maskname");
  // Into layer 2: the rectangle's size and the source's attributes; the
  // name texts are copied, not shared.
  ASSERT_EQ(run({{57, 1}, {12, 2}, {13, 1}, {14, 5}, {15, 3}}, "a", "r"), 0);
  EXPECT_EQ(img(r)->width, 4);
  EXPECT_EQ(img(r)->height, 3);
  EXPECT_EQ(img(r)->owned_pixels[0], 0x80000000u | (~(2u << 8 | 1u) & 0xFFFFFF));
  EXPECT_EQ(img(r)->x, 33);
  EXPECT_EQ(img(r)->blend_mode, 2);
  EXPECT_STREQ(img(r)->mask_name, "maskname");
  EXPECT_NE(img(r)->mask_name, img(a)->mask_name);
  // In place: the layer takes the rectangle's size...
  ASSERT_EQ(run({{45, 0}, {12, 1}, {13, 1}, {14, 4}, {15, 2}}), 0);
  EXPECT_EQ(img(a)->width, 4);
  EXPECT_EQ(img(a)->height, 2);
  // ...except threshold and fill, which keep the whole layer.
  ObjectNode* c = make("c", 6, 5);
  ASSERT_EQ(run({{60, 0}, {9, 0x11223344}, {12, 1}, {13, 1}, {14, 2}, {15, 2}}, "c"), 0);
  EXPECT_EQ(img(c)->width, 6);
  EXPECT_EQ(img(c)->owned_pixels[1 * 6 + 1], 0x11223344u);
  EXPECT_EQ(img(c)->owned_pixels[0], 0x80000000u);
  EXPECT_EQ(img(c)->has_alpha, 1);
  // Resizes: the final size is checked whichever parameter gave it.
  EXPECT_EQ(run({{24, 0}, {16, 9000}}, "c"), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  EXPECT_EQ(run({{24, 0}, {22, 50}}, "c"), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101000u);
  ASSERT_EQ(run({{24, 0}, {16, 12}, {17, 10}}, "c"), 0);
  EXPECT_EQ(img(c)->width, 12);
  EXPECT_EQ(img(c)->height, 10);
  // Margins: left 1, top 2, right 3, bottom 0.
  ASSERT_EQ(run({{41, 0}, {12, 1}, {13, 2}, {14, 3}, {15, 0}}, "c"), 0);
  EXPECT_EQ(img(c)->width, 16);
  EXPECT_EQ(img(c)->height, 12);
}

TEST_F(LayerDrawTest, SwapsKeepNamesFoundAndKeysOrdered) {
  ObjectNode* a = make("a", 2, 2, 5);
  ObjectNode* b = make("b", 3, 3, 9);
  ObjectNode* g = get_named_object(g_object_roots[kTreeLayer], "W0/g", 1, 7);
  img(a)->x = 1;
  img(b)->x = 2;
  img(a)->alpha = 100;
  ASSERT_EQ(run({{67, 0}}, "a", "b"), 0);
  // The node formerly "a" is now "b": both are found by their new names.
  EXPECT_EQ(find("b"), a);
  EXPECT_EQ(find("a"), b);
  EXPECT_EQ(a->order_key, 9);
  EXPECT_EQ(b->order_key, 5);
  EXPECT_EQ(img(a)->x, 2);
  EXPECT_EQ(img(a)->alpha, 100);  // mode 1 keeps alpha
  ASSERT_EQ(run({{68, 0}}, "a", "b"), 0);
  EXPECT_EQ(find("a"), a);
  EXPECT_EQ(img(a)->alpha, 256);
  // Children stand in key order; an equal key goes after the others.
  ObjectNode* w0 = a->parent;
  std::vector<i64> keys;
  for (ObjectNode* n = w0->first_child; n; n = n->next) keys.push_back(n->order_key);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  ObjectNode* e = make("e", 1, 1, 7);
  EXPECT_EQ(e->prev, g);
  EXPECT_EQ(layer_reorder(e, 1), 1);
  EXPECT_EQ(w0->first_child == e || w0->first_child->order_key <= 1, true);
  EXPECT_EQ(swap_order_keys(a, nullptr), 0);
  // The group keeps its group bit when swapped with a leaf.
  ASSERT_EQ(swap_layers(a, g, 1), 0);
  EXPECT_EQ(g->key & kObjectGroupBit, kObjectGroupBit);
  EXPECT_EQ(a->key & kObjectGroupBit, 0u);
  EXPECT_EQ(find("g"), a);
  EXPECT_EQ(swap_layers(a, a, 1), -1);
}

TEST_F(LayerDrawTest, TextStamps) {
  g_text_record->line_pitch_a = 8;
  g_text_record->line_pitch_b = 8;
  g_text_record->colour = 0x102030;
  g_text_record->second_colour = 0x405060;
  g_text_record->flag_e = 0;  // no smoothing: whole-pixel ink
  ObjectNode* t = make("t", 40, 20);
  std::memset(img(t)->owned_pixels, 0, 40 * 20 * 4);
  ASSERT_EQ(run({{63, 0}, {12, 2}, {13, 2}}, "t", nullptr, "AB\r\nC"), 0);
  LayerImage* li = img(t);
  EXPECT_EQ(li->has_alpha, 1);
  // The fixed face inks columns 1.. and rows 1..6 of each 8 x 8 cell; "B" is
  // one half-width advance (4) to the right; "C" one line lower.
  EXPECT_EQ(li->owned_pixels[3 * 40 + 3], 0xFF102030u);
  EXPECT_EQ(li->owned_pixels[3 * 40 + 2], 0u);
  EXPECT_EQ(li->owned_pixels[3 * 40 + 7], 0xFF102030u);
  EXPECT_EQ(li->owned_pixels[11 * 40 + 3], 0xFF102030u);
  // An outline of 1: the ring in the second colour around the face.
  std::memset(li->owned_pixels, 0, 40 * 20 * 4);
  ASSERT_EQ(run({{63, 0}, {9, 1}, {12, 2}, {13, 2}}, "t", nullptr, "A"), 0);
  EXPECT_EQ(li->owned_pixels[3 * 40 + 2], 0xFF405060u);
  EXPECT_EQ(li->owned_pixels[3 * 40 + 3], 0xFF102030u);
  // A glyph not wholly inside is refused: nothing drawn there.
  std::memset(li->owned_pixels, 0, 40 * 20 * 4);
  ASSERT_EQ(run({{63, 0}, {12, 36}, {13, 2}}, "t", nullptr, "A"), 0);
  for (int i = 0; i < 40 * 20; ++i) ASSERT_EQ(li->owned_pixels[i], 0u);
  // Routine 64 blends over the pixels and keeps their alpha where higher.
  for (int i = 0; i < 40 * 20; ++i) li->owned_pixels[i] = 0xFF000000u;
  ASSERT_EQ(run({{64, 0}, {12, 2}, {13, 2}}, "t", nullptr, "A"), 0);
  EXPECT_EQ(li->owned_pixels[3 * 40 + 3], 0xFF102030u);
  EXPECT_EQ(li->owned_pixels[2 * 40 + 2], 0xFF000000u);
  // A direction and a colour set make the top and bottom rows differ.
  g_text_record->flag_a = 1;
  g_text_record->flag_b = 3;
  std::memset(li->owned_pixels, 0, 40 * 20 * 4);
  ASSERT_EQ(run({{63, 0}, {12, 2}, {13, 2}}, "t", nullptr, "A"), 0);
  EXPECT_NE(li->owned_pixels[3 * 40 + 3], li->owned_pixels[8 * 40 + 3]);
}

// The rotations, transfers and trimming reached through the request: which
// layer is read, which is written, where the rectangle puts the transfer.
TEST_F(LayerDrawTest, RotationsTransfersAndTrimReachTheirLayers) {
  const int w = 6, h = 4;
  auto original = [](int x, int y) { return 0x80000000u | static_cast<u32>(x) << 8 | static_cast<u32>(y); };
  const std::initializer_list<std::pair<u32, i64>> rect = {{12, 0}, {13, 0}, {14, 1}, {15, 1}};
  // A half turn in place and into layer 2 (both forms mirror both axes).
  for (u32 id : {29u, 30u}) {
    SCOPED_TRACE(id);
    const std::string an = "r" + std::to_string(id), dn = "d" + std::to_string(id);
    ObjectNode* a = make(an.c_str(), w, h);
    ObjectNode* d = make(dn.c_str(), 2, 2);
    auto turn = [&](bool into_d) {
      p.clear();
      p.set_text(0, an.c_str());
      if (into_d) p.set_text(1, dn.c_str());
      for (const auto& v : rect) p.set(v.first, v.second);
      p.set(id, 0);
      p.set(9, 540);  // 180 once reduced
      return layer_draw(p);
    };
    ASSERT_EQ(turn(true), 0);
    ASSERT_EQ(img(d)->width, w);
    EXPECT_EQ(img(d)->owned_pixels[0], original(w - 1, h - 1));
    EXPECT_EQ(img(a)->owned_pixels[0], original(0, 0)) << "the source stays";
    ASSERT_EQ(turn(false), 0);
    EXPECT_EQ(img(a)->owned_pixels[(h - 1) * w + 1], original(w - 2, 0));
  }

  // Layer 2 lands at the rectangle's corner, cut to the rectangle: the
  // difference mask takes the source's pixels where they differ.
  ObjectNode* a = make("a", w, h);
  make("b", 4, 4);
  ASSERT_EQ(run({{38, 0}, {12, 2}, {13, 1}, {14, 3}, {15, 9}}, "a", "b"), 0);
  EXPECT_EQ(img(a)->owned_pixels[1 * w + 2], original(0, 0));
  EXPECT_EQ(img(a)->owned_pixels[3 * w + 3], original(1, 2));
  EXPECT_EQ(img(a)->owned_pixels[1 * w + 4], original(4, 1)) << "right of the rectangle";
  EXPECT_EQ(img(a)->owned_pixels[0], original(0, 0));
  // Equal mask of the layer with itself keeps everything.
  ASSERT_EQ(run({{39, 0}}, "a", "a"), 0);
  EXPECT_EQ(img(a)->owned_pixels[1 * w + 2], original(0, 0));
  // A full-weight cross-fade of b and c gives c; amount 0 keeps 1/256 of c.
  ObjectNode* c = make("c", 4, 4);
  for (int i = 0; i < 16; ++i) img(c)->owned_pixels[i] = 0xFFFFFFFFu;
  p.clear();
  p.set_text(0, "a");
  p.set_text(1, "b");
  p.set_text(2, "c");
  p.set(36, 0);
  p.set(9, 255);
  ASSERT_EQ(layer_draw(p), 0);
  EXPECT_EQ(img(a)->owned_pixels[0], 0xFFFFFFFFu);
  EXPECT_EQ(img(a)->owned_pixels[3 * w + 3], 0xFFFFFFFFu);
  EXPECT_EQ(img(a)->owned_pixels[5], original(5, 0)) << "beyond the sources";
  // Copy: layer 2's pixels over the target from the corner.
  for (int i = 0; i < 16; ++i) img(c)->owned_pixels[i] = 0xFF102030u;
  img(c)->alpha = 256;
  ASSERT_EQ(run({{34, 0}, {12, 1}, {13, 2}, {14, 5}, {15, 3}}, "a", "c"), 0);
  EXPECT_EQ(img(a)->owned_pixels[2 * w + 1], 0xFF102030u);
  EXPECT_EQ(img(a)->owned_pixels[2 * w + 5], original(5, 2)) << "past the source's width";
  EXPECT_EQ(img(a)->has_alpha, 1);
  // 37 checks its layer and does nothing else.
  const std::vector<u32> before(img(a)->owned_pixels, img(a)->owned_pixels + w * h);
  ASSERT_EQ(run({{37, 0}}, "a", "c"), 0);
  EXPECT_EQ(std::vector<u32>(img(a)->owned_pixels, img(a)->owned_pixels + w * h), before);

  // Trim to the pixels that are not wholly clear, on the sides asked for.
  ObjectNode* t = make("t", 8, 6);
  for (int i = 0; i < 48; ++i) img(t)->owned_pixels[i] = 0x00FFFFFFu;
  img(t)->owned_pixels[2 * 8 + 3] = 0xFF000001u;
  img(t)->owned_pixels[4 * 8 + 5] = 0x01000002u;
  ObjectNode* u = make("u", 1, 1);
  ASSERT_EQ(run({{40, 0}, {9, 15}}, "t", "u"), 0);
  ASSERT_EQ(img(u)->width, 3);
  ASSERT_EQ(img(u)->height, 3);
  EXPECT_EQ(img(u)->owned_pixels[0], 0xFF000001u);
  EXPECT_EQ(img(u)->owned_pixels[8], 0x01000002u);
  EXPECT_EQ(img(t)->width, 8) << "the source stays";
  ASSERT_EQ(run({{40, 0}, {9, 8 | 2}}, "t"), 0);  // top and left only
  EXPECT_EQ(img(t)->width, 5);
  EXPECT_EQ(img(t)->height, 4);
  EXPECT_EQ(img(t)->owned_pixels[0], 0xFF000001u);
}

// The GPU paste goes through the render's hooks, only while GPU drawing is
// on; without it the target keeps its pixels.
TEST_F(LayerDrawTest, GpuPasteGoesThroughTheHooksOnlyWhileGpuDrawingIsOn) {
  ObjectNode* a = make("a", 4, 4);
  make("s", 2, 2);
  static std::vector<std::pair<ObjectNode*, ObjectNode*>> calls;
  static int drawing = 0;
  calls.clear();
  const LayerCommandHooks saved = g_layer_command_hooks;
  g_layer_command_hooks.d3d_drawing = [] { return drawing; };
  g_layer_command_hooks.gpu_paste_setup = [](ObjectNode* d, ObjectNode* s) {
    calls.emplace_back(d, s);
    return -1;  // a device failure reports nothing
  };
  g_layer_command_hooks.gpu_paste_render = [](ObjectNode* d, ObjectNode* s) {
    calls.emplace_back(s, d);
    return -1;
  };
  drawing = 0;
  EXPECT_EQ(run({{69, 0}}, "a", "s"), 0);
  EXPECT_EQ(run({{70, 0}}, "a", "s"), 0);
  EXPECT_TRUE(calls.empty());
  drawing = 1;
  EXPECT_EQ(run({{69, 0}}, "a", "s"), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(run({{70, 0}}, "a"), -1);
  g_layer_command_hooks = saved;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].first, a);
  EXPECT_EQ(calls[0].second, find("s"));
  EXPECT_EQ(calls[1].first, a) << "without layer 2 the target pastes itself";
  EXPECT_EQ(calls[1].second, a);
}

}  // namespace
