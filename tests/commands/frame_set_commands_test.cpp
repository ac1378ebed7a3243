// Commands 109 (load a frame set, show a frame), 110 (release it) and 111
// (query its header values), run from a small game with the sets in a
// memory file group.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/image/frame_set.h"
#include "engine/image/layer_image.h"
#include "engine/image/layer_release.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "tests/commands/commands_fixture.h"
#include "tests/support/frame_set_writer.h"

namespace {

const std::string kHeader = command_line(109, 4, {0, 2}) + command_line(110, 2, {0}) + command_line(111, 7, {0}) +
                            "var 1000 int = -5\nvar 1001 float = -5\nvar 1002 text = \"\"\n";

// A JPEG of w x h whose colour depends on shade.
std::vector<std::uint8_t> frame_jpeg(int w, int h, int comps, int shade) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * comps);
  for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint8_t>(shade + (i % 3) * 60);
  return encode_jpeg(w, h, comps, px.data());
}

// Frames 0, 1, 2 of 8 x 6, 12 x 4 and 3 x 9 pixels.
std::vector<std::uint8_t> three_frames(int alpha_flag, int value_a) {
  FrameSetSpec s;
  s.alpha_flag = alpha_flag;
  s.value_a = value_a;
  s.value_b = 200;
  s.value_c = -300;
  const int sizes[3][2] = {{8, 6}, {12, 4}, {3, 9}};
  for (int k = 0; k < 3; ++k) {
    FrameSetFrame f;
    f.colour = frame_jpeg(sizes[k][0], sizes[k][1], 3, 40 * k);
    if (alpha_flag) f.alpha = frame_jpeg(sizes[k][0], sizes[k][1], 1, 128);
    s.frames.push_back(f);
  }
  return write_frame_set(s);
}

void add_file(const char* name, const std::vector<std::uint8_t>& data) {
  MemoryFileEntry e;
  e.name = name;
  e.data = data;
  g_memory_groups.groups[0].entries.push_back(e);
}

struct FramesRun {
  GameRun run;
  void start(const std::string& body) {
    if (!g_text_record) g_text_record = new TextRecord();
    ASSERT_EQ(run.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\n" + body + kIdleLoop), 0)
        << g_error_report_log.last_message;
    for (const char* path : {"W0", "W0/anim", "W0/anim.2", "W0/other"}) {
      ObjectNode* n = std::string(path) == "W0" ? g_system_objects[kTreeLayer]
                                                : get_named_object(g_object_roots[kTreeLayer], path, 0, 1);
      ASSERT_NE(n, nullptr) << path;
      n->payload_kind = kPayloadLayerImage;
      get_or_create_layer_image(n);
    }
    add_file("anim.fs", three_frames(0, 7));
    add_file("sub\\alpha.fs", three_frames(1, 9));
    add_file("empty.fs", [] {
      FrameSetSpec s;
      s.frames = {{frame_jpeg(4, 4, 3, 0), {}}};
      s.count = 0;
      return write_frame_set(s);
    }());
  }
  u32 frame() {
    reset_error_report_log();
    run.frame();
    return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
  }
  static LayerImage* layer(const char* path) {
    ObjectNode* n = resolve_object_path(g_object_roots[kTreeLayer], path, 0);
    return n ? static_cast<LayerImage*>(n->payload) : nullptr;
  }
};

}  // namespace

TEST(FrameSetCommands, LoadShowsTheFrameAndQueryReportsTheHeader) {
  struct Case {
    const char* args;  // of command 109 on "anim"
    int w, h, has_alpha;
  } cases[] = {
      {"arg 2 text : \"anim.fs\"\narg 3 int : B:1\n", 12, 4, 0},
      {"arg 2 text : \"ANIM.FS\"\narg 3 int : I:-3\n", 8, 6, 0},     // before the first: frame 0
      {"arg 2 text : \"anim.fs\"\narg 3 int : I:99\n", 3, 9, 0},     // past the end: the last
      {"arg 2 text : \"sub/Alpha.fs\"\narg 3 int : B:2\n", 3, 9, 1},  // '/' and case normalised
      {"arg 2 text : \"anim.fs\"\n", 1, 1, 0},                       // no frame number: nothing shown
  };
  for (const Case& c : cases) {
    FramesRun fr;
    fr.start(std::string("instr 109\narg 0 text : \"anim\"\n") + c.args +
             "instr 111\narg 0 text : \"anim\"\narg 2 int : v:1000\narg 3 int : B:1\n"
             "instr 111\narg 0 text : \"anim\"\narg 2 int : v:1001\narg 5 int : B:1\narg 4 int : B:1\n");
    EXPECT_EQ(fr.frame(), 0u) << c.args << g_error_report_log.last_message;
    LayerImage* im = FramesRun::layer("W0/anim");
    ASSERT_NE(im, nullptr);
    ASSERT_NE(im->frame_set, nullptr) << c.args;
    EXPECT_EQ(im->width, c.w) << c.args;
    EXPECT_EQ(im->height, c.h) << c.args;
    EXPECT_EQ(im->has_alpha, c.has_alpha) << c.args;
    EXPECT_EQ(var_get_int(1000, 0), 3) << c.args;
    // Parameter 4 (value_a) comes before 5 in the selector order.
    EXPECT_EQ(var_get_float(1001, 0), c.has_alpha ? 9.0 : 7.0) << c.args;
  }
}

TEST(FrameSetCommands, ShowingAFrameMarksTheOldAndNewAreas) {
  FramesRun fr;
  fr.start("instr 109\narg 0 text : \"anim\"\narg 2 text : \"anim.fs\"\narg 3 int : B:0\nwait B:1\n"
           "instr 109\narg 0 text : \"anim\"\narg 3 int : B:1\n");
  ASSERT_EQ(fr.frame(), 0u);
  LayerImage* screen = static_cast<LayerImage*>(g_system_objects[kTreeLayer]->payload);
  EXPECT_EQ(screen->dirty_valid, 1);
  EXPECT_EQ(screen->dirty.right, 7);
  EXPECT_EQ(screen->dirty.bottom, 5);
  screen->dirty_valid = 0;
  screen->dirty = kEmptyDirtyRect;
  fr.frame();
  fr.frame();
  // The 8 x 6 frame gave way to the 12 x 4 one: both areas are marked.
  EXPECT_EQ(FramesRun::layer("W0/anim")->width, 12);
  EXPECT_EQ(screen->dirty.right, 11);
  EXPECT_EQ(screen->dirty.bottom, 5);
}

TEST(FrameSetCommands, SecondSetReplacesTheFirstAndReleaseDropsIt) {
  FramesRun fr;
  fr.start("instr 109\narg 0 text : \"anim\"\narg 1 int : B:2\narg 2 text : \"anim.fs\"\n"
           "instr 109\narg 0 text : \"anim\"\narg 1 int : B:2\narg 2 text : \"sub\\\\alpha.fs\"\narg 3 int : B:0\n"
           "instr 111\narg 0 text : \"anim.2\"\narg 2 int : v:1000\narg 4 int : B:1\n"
           "wait B:1\n"
           "instr 110\narg 0 text : \"anim\"\narg 1 int : B:2\n"
           "instr 111\narg 0 text : \"anim.2\"\narg 2 int : v:1000\narg 6 int : B:1\n"
           "instr 111\narg 0 text : \"other\"\narg 2 int : v:1001\narg 6 int : B:1\n");
  ASSERT_EQ(fr.frame(), 0u) << g_error_report_log.last_message;
  LayerImage* im = FramesRun::layer("W0/anim.2");
  ASSERT_NE(im->frame_set, nullptr);
  EXPECT_EQ(im->frame_set->value_a, 9);
  EXPECT_EQ(var_get_int(1000, 0), 9);
  EXPECT_EQ(im->width, 8);
  EXPECT_EQ(im->has_alpha, 1);
  ASSERT_EQ(fr.frame(), 0u) << g_error_report_log.last_message;
  EXPECT_EQ(im->frame_set, nullptr);
  // Without a set the query stores 0; the shown frame stays.
  EXPECT_EQ(var_get_int(1000, 0), 0);
  EXPECT_EQ(var_get_float(1001, 0), 0.0);
  EXPECT_EQ(im->width, 8);
  // A set still attached goes with its layer.
  FramesRun again;
  again.start("instr 109\narg 0 text : \"other\"\narg 2 text : \"anim.fs\"\narg 3 int : B:0\n");
  ASSERT_EQ(again.frame(), 0u);
  ObjectNode* other = resolve_object_path(g_object_roots[kTreeLayer], "W0/other", 0);
  ASSERT_NE(static_cast<LayerImage*>(other->payload)->frame_set, nullptr);
  // The record's last holder frees the set through the release hook (the
  // sanitizer build reports a leak otherwise).
  EXPECT_NE(g_layer_release_hooks.release_frame_set, nullptr);
  release_object_images(other);
}

TEST(FrameSetCommands, Errors) {
  struct Case {
    const char* body;
    u32 error;
    u32 reports;
  } cases[] = {
      {"instr 109\narg 0 text : \"nobody\"\narg 2 text : \"anim.fs\"\n", 101250, 1},
      {"instr 110\narg 0 text : \"nobody\"\n", 101250, 1},
      {"instr 111\narg 0 text : \"nobody\"\narg 2 int : v:1000\narg 3 int : B:1\n", 101250, 1},
      {"instr 109\narg 0 text : \"anim\"\narg 1 int : B:7\narg 3 int : B:0\n", 101250, 1},  // anim.7
      {"instr 109\narg 0 text : \"anim\"\narg 2 text : \"missing.fs\"\narg 3 int : B:0\n", 104010, 2},
      {"instr 109\narg 0 text : \"anim\"\narg 2 text : \"empty.fs\"\narg 3 int : B:0\n", 104010, 1},
      {"instr 111\narg 0 text : \"anim\"\narg 2 int : v:1002\narg 3 int : B:1\n", 101140, 1},
  };
  for (const Case& c : cases) {
    FramesRun fr;
    fr.start(c.body);
    EXPECT_EQ(fr.frame(), c.error) << c.body;
    EXPECT_EQ(g_error_report_log.report_count, c.reports) << c.body;
    EXPECT_EQ(FramesRun::layer("W0/anim")->frame_set, nullptr) << c.body;
  }
  // A refused file keeps the set the layer had.
  FramesRun fr;
  fr.start("instr 109\narg 0 text : \"anim\"\narg 2 text : \"anim.fs\"\narg 3 int : B:2\n"
           "instr 109\narg 0 text : \"anim\"\narg 2 text : \"empty.fs\"\narg 3 int : B:0\n");
  EXPECT_EQ(fr.frame(), 104010u);
  LayerImage* im = FramesRun::layer("W0/anim");
  ASSERT_NE(im->frame_set, nullptr);
  EXPECT_EQ(im->frame_set->value_a, 7);
  EXPECT_EQ(im->width, 3);
}
