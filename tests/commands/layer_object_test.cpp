// Layer release (3) and property query (4).
#include <gtest/gtest.h>

#include <string>

#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_release.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "engine/frame/engine_steps.h"
#include "tests/commands/commands_fixture.h"

namespace {

const std::string kHeader = command_line(3, 2, {0}) + command_line(4, 36, {0}) +
                            "var 1000 int = 0\nvar 1001 text = \"\"\nvar 1002 float = 0\n";

// A layer below W0 with an image of w x h filled by pixel(x, y).
LayerImage* make_layer(const char* path, bool group, i64 x, i64 y, i32 w, i32 h, u32 (*pixel)(i32, i32)) {
  ObjectNode* node = get_named_object(g_object_roots[kTreeLayer], path, group ? 1 : 0, 1);
  EXPECT_NE(node, nullptr) << path;
  node->payload_kind = kPayloadLayerImage;
  LayerImage* im = get_or_create_layer_image(node);
  im->x = x;
  im->y = y;
  if (pixel) {
    u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
    for (i32 j = 0; j < h; ++j)
      for (i32 i = 0; i < w; ++i) buf[j * w + i] = pixel(i, j);
    replace_layer_pixels(im, buf, w, h);
  }
  return im;
}

u32 gradient(i32 x, i32 y) { return (x == 2 && y == 1) ? 0xFFFFFFFFu : static_cast<u32>((x * 16) << 24 | 0x102030); }

struct LayerRun {
  GameRun run;
  u32 start(const std::string& body) {
    if (!g_text_record) g_text_record = new TextRecord();
    EXPECT_EQ(run.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\n" + body + kIdleLoop), 0)
        << g_error_report_log.last_message;
    create_window_records();
    g_windows[0]->logical_width = 640;
    g_windows[0]->logical_height = 480;
    ObjectNode* w0 = g_system_objects[kTreeLayer];
    w0->payload_kind = kPayloadLayerImage;
    get_or_create_layer_image(w0);
    make_layer("W0/g", true, 100, 50, 1, 1, nullptr);
    make_layer("W0/g/a", false, 10, 5, 4, 3, gradient);
    make_layer("W0/g/b.2", false, 0, 0, 2, 2, [](i32, i32) { return 0x80000000u; });
    make_layer("W0/bare", false, 0, 0, 1, 1, nullptr);  // made without pixels
    g_windows[0]->root_layer = resolve_object_path(g_object_roots[kTreeLayer], "W0/g/a", 0);
    return 0;
  }
  u32 frame() {
    reset_error_report_log();
    run.frame();
    return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
  }
};

}  // namespace

TEST(LayerQuery, SelectorsInTheirOrder) {
  struct Case {
    const char* args;
    i64 want;
  } cases[] = {
      {"arg 0 text : \"g/a\"\narg 2 int : B:1\narg 5 int : B:1\n", 1},  // 2 comes first
      {"arg 0 text : \"g/a\"\narg 5 int : B:1\narg 4 int : B:1\n", 256},
      {"arg 0 text : \"g/a\"\narg 13 int : B:1\narg 6 int : B:1\n", 5},
      {"arg 0 text : \"g/a\"\narg 13 int : B:1\n", 4},
      {"arg 0 text : \"g/b\"\narg 1 int : B:2\narg 14 int : B:1\n", 2},  // indexed name
      {"arg 0 text : \"g/\"\narg 29 int : B:1\n", 2},
      {"arg 0 text : \"g/a\"\narg 29 int : B:1\narg 13 int : B:1\n", 4},  // not a group: falls through
      {"arg 0 text : \"g/\"\narg 31 int : B:1\narg 32 int : B:1\n", 0},
      // Pixels: window 0's point (given), absolute rectangle 110..113 x 55..57.
      {"arg 0 text : \"g/a\"\narg 21 int : B:0\narg 34 int : I:111\narg 35 int : I:55\n", 0x102030},
      {"arg 0 text : \"g/a\"\narg 22 int : B:0\narg 34 int : I:111\narg 35 int : I:55\n", 16},
      {"arg 0 text : \"g/a\"\narg 23 int : B:0\narg 34 int : I:112\narg 35 int : I:56\n", 0xFFFFFFFFll},
      {"arg 0 text : \"g/a\"\narg 21 int : B:9\narg 34 int : I:109\narg 35 int : I:55\n", -1},
      {"arg 0 text : \"g/a\"\narg 21 int : B:0\narg 34 int : I:700\narg 35 int : I:55\n", -1},
      {"arg 0 text : \"g/a\"\narg 24 int : B:0\narg 34 int : I:1\narg 35 int : I:0\n", 0x102030},
      {"arg 0 text : \"g/a\"\narg 24 int : B:0\narg 34 int : I:4\narg 35 int : I:0\n", -1},
      // A layer made without pixels reads -1, never its missing buffer.
      {"arg 0 text : \"bare\"\narg 24 int : B:0\narg 34 int : I:0\narg 35 int : I:0\n", -1},
      {"arg 0 text : \"bare\"\narg 25 int : B:1\narg 35 int : B:0\n", -1},
      // Visible bounds over alpha 16: columns 2-3 (and the white pixel), rows 0-2.
      {"arg 0 text : \"g/a\"\narg 25 int : B:1\narg 35 int : B:16\n", 2},
      {"arg 0 text : \"g/a\"\narg 25 int : B:2\narg 35 int : B:16\n", 0},
      {"arg 0 text : \"g/a\"\narg 25 int : B:3\narg 35 int : B:16\n", 3},
      {"arg 0 text : \"g/a\"\narg 25 int : B:4\narg 35 int : B:16\n", 2},
      {"arg 0 text : \"g/a\"\narg 25 int : B:4\narg 35 int : I:255\n", -1},
      {"arg 0 text : \"g/a\"\narg 25 int : B:7\narg 35 int : B:0\n", 0},
      {"arg 0 text : \"missing\"\narg 2 int : B:1\n", 0},
  };
  for (const Case& c : cases) {
    LayerRun lr;
    lr.start(std::string("set v:1000 = I:-77\ninstr 4\n") + c.args + "arg 33 int : v:1000\n");
    ObjectNode* g = resolve_object_path(g_object_roots[kTreeLayer], "W0/g", 1);
    static_cast<LayerImage*>(object_list_nth(g, 1)->payload)->user_value1 = 5;
    EXPECT_EQ(lr.frame(), 0u) << c.args << g_error_report_log.last_message;
    EXPECT_EQ(var_get_int(1000, 0), c.want) << c.args;
  }
}

TEST(LayerQuery, TextsChildSearchAndErrors) {
  LayerRun lr;
  lr.start("instr 4\narg 0 text : \"g/\"\narg 30 int : B:1\narg 32 int : B:2\narg 33 int : v:1001\n"
           "instr 4\narg 0 text : \"g/\"\narg 28 int : B:1\narg 26 int : B:9\narg 33 int : v:1000\n"
           "instr 4\narg 0 text : \"g/a\"\narg 24 int : B:1\narg 34 int : B:1\narg 33 int : v:1000\n");
  ObjectNode* g = resolve_object_path(g_object_roots[kTreeLayer], "W0/g", 1);
  static_cast<LayerImage*>(object_list_nth(g, 2)->payload)->user_value1 = 9;
  EXPECT_EQ(lr.frame(), 101295u);
  EXPECT_STREQ(var_get_string(1001, 0), object_list_nth(g, 2)->name);
  EXPECT_EQ(var_get_int(1000, 0), 2);
}

TEST(LayerRelease, GroupsWindowsAndSharedImages) {
  LayerRun lr;
  lr.start("instr 3\narg 0 text : \"g/\"\ninstr 3\narg 0 text : \"nothing\"\n");
  // b.2 shares its record with a second node: that one keeps the pixels.
  ObjectNode* b = resolve_object_path(g_object_roots[kTreeLayer], "W0/g/b.2", 0);
  ObjectNode* other = get_named_object(g_object_roots[kTreeLayer], "W0/other", 0, 1);
  other->payload_kind = kPayloadLayerImage;
  LayerImage* shared = static_cast<LayerImage*>(b->payload);
  share_layer_image(other, shared);
  EXPECT_EQ(lr.frame(), 0u);
  EXPECT_EQ(resolve_object_path(g_object_roots[kTreeLayer], "W0/g", 1), nullptr);
  EXPECT_EQ(resolve_object_path(g_object_roots[kTreeLayer], "W0/g/a", 0), nullptr);
  EXPECT_EQ(g_windows[0]->root_layer, nullptr);
  EXPECT_EQ(other->payload, shared);
  EXPECT_EQ(shared->ref_count, 1u);
  EXPECT_NE(shared->pixels, nullptr);
}
