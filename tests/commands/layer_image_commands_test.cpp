// Command 1 run from assembled instructions, with images held in a memory
// file group.
#include "engine/image/layer_load.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_image.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "tests/image/image_fixtures.h"
#include "tests/support/script_asm.h"

using fixtures::Bytes;

namespace {

// Command 1 with parameters 0-57; the text ones as the command list has them.
std::string command_line() {
  std::string s = "command 1 layer";
  for (int i = 0; i <= 57; ++i) {
    const bool text = i == 0 || i == 43 || i == 46 || i == 47 || i == 48 || i == 51;
    s += " p" + std::to_string(i) + (text ? ":text:0" : ":num:0");
  }
  return s + "\n";
}

// An RGB PNG of w x h whose pixel (x, y) is 0xFF000000 | x << 8 | y.
Bytes coordinate_png(int w, int h) {
  fixtures::PngSpec s;
  s.width = w;
  s.height = h;
  for (int y = 0; y < h; ++y) {
    Bytes row;
    for (int x = 0; x < w; ++x) {
      row.push_back(0);
      row.push_back(static_cast<std::uint8_t>(x));
      row.push_back(static_cast<std::uint8_t>(y));
    }
    s.rows.push_back(row);
  }
  return fixtures::write_png(s);
}

class LoadCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    init_span_ops();  // the compositor draws groups with the span and blend kernels
    init_blend_tables();
    ASSERT_EQ(var_table_create(1200), 0);
    ASSERT_EQ(create_system_objects(), 0);
    g_memory_groups = MemoryFileGroups();
    add_file("pic.png", coordinate_png(200, 40), 2);
    add_file("small.png", coordinate_png(4, 4), 2);
    add_file("other.png", coordinate_png(5, 4), 2);
  }
  void TearDown() override {
    destroy_system_objects();
    g_memory_groups = MemoryFileGroups();
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
  }
  static void add_file(const char* name, const Bytes& data, int type) {
    MemoryFileEntry e;
    e.name = name;
    e.data = data;
    e.media_type = type;
    g_memory_groups.groups[0].entries.push_back(e);
  }
  // Runs one instruction of command 1 with the given "arg" lines.
  u32 run(const std::string& args) {
    script = assemble_script(command_line() + "instr 1\n" + args);
    EXPECT_EQ(asm_load_command_list(script), 0);
    asm_select_instruction(script, 0);
    reset_error_report_log();
    return cmd_layer_load_image();
  }
  static LayerImage* layer(const char* path, int mode = 0) {
    ObjectNode* n = resolve_object_path(g_object_roots[kTreeLayer], path, mode);
    return n ? static_cast<LayerImage*>(n->payload) : nullptr;
  }
  AsmScript script;
};

}  // namespace

TEST_F(LoadCommandTest, NewLayerLoadsItsImageAndMarksTheScreen) {
  LayerImage* screen = layer("W0", 1);
  screen->dirty_valid = 0;
  screen->merge_count = 0;
  ASSERT_EQ(run("arg 0 text : \"bg\"\narg 6 int : B:3\narg 46 text : \"pic.png\"\narg 4 int : B:10\n"), 0u);
  LayerImage* bg = layer("W0/bg");
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(bg->width, 200);
  EXPECT_EQ(bg->height, 40);
  EXPECT_EQ(bg->loaded_width, 200);
  EXPECT_EQ(bg->pixels[39 * 200 + 7], 0xFF000727u);
  EXPECT_EQ(bg->x, 10);
  EXPECT_EQ(bg->x_centi, 1000);
  EXPECT_EQ(resolve_object_path(g_object_roots[kTreeLayer], "W0/bg", 0)->order_key, 3);
  EXPECT_EQ(screen->dirty_valid, 1);
  // The 1 x 1 area before the load, and the image at its new place.
  EXPECT_EQ(screen->dirty.left, 0);
  EXPECT_EQ(screen->dirty.right, 209);
  EXPECT_EQ(screen->dirty.bottom, 39);

  // A name that no source holds gives the empty image and succeeds.
  ASSERT_EQ(run("arg 0 text : \"none\"\narg 6 int : B:1\narg 46 text : \"missing\"\n"), 0u);
  LayerImage* none = layer("W0/none");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->width, 1);
  EXPECT_EQ(none->pixels[0], g_transparent_fill_colour);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(LoadCommandTest, NamesWithSuffixes) {
  ASSERT_EQ(run("arg 0 text : \"bg\"\narg 1 int : B:3\narg 6 int : B:1\narg 46 text : \"small.png\"\n"
                "arg 51 text : \"m\"\narg 52 int : B:2\n"),
            0u);
  LayerImage* bg3 = layer("W0/bg.3");
  ASSERT_NE(bg3, nullptr);
  EXPECT_STREQ(bg3->mask_name, "m.2");
  // A long mask name is cut to its buffer; so is the second name.
  const std::string long_name(3000, 'q');
  ASSERT_EQ(run("arg 0 text : \"bg.3\"\narg 51 text : \"" + long_name + "\"\narg 43 text : \"" + long_name + "\"\n"),
            0u);
  EXPECT_EQ(std::strlen(bg3->mask_name), 260u);
  EXPECT_EQ(std::strlen(bg3->second_name), 260u);
}

TEST_F(LoadCommandTest, GroupLayers) {
  ASSERT_EQ(run("arg 0 text : \"g/\"\narg 9 int : W:640\narg 10 int : W:480\narg 6 int : B:1\n"), 0u);
  LayerImage* g = layer("W0/g", 1);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->width, 640);
  EXPECT_EQ(g->height, 480);
  EXPECT_EQ(g->dirty_whole, 1);
  EXPECT_EQ(g->dirty.right, 639);
  EXPECT_EQ(g->pixels[640 * 480 - 1], 0u);
  // An image file or a shared image on a group is refused.
  EXPECT_EQ(run("arg 0 text : \"g/\"\narg 46 text : \"pic.png\"\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101280u);
  EXPECT_EQ(run("arg 0 text : \"h/\"\narg 47 text : \"g\"\narg 6 int : B:1\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101280u);
  // A refused size makes no node.
  EXPECT_EQ(run("arg 0 text : \"big/\"\narg 9 int : W:9000\narg 10 int : B:4\narg 6 int : B:1\n"),
            static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 100010u);
  EXPECT_EQ(layer("W0/big", 1), nullptr);
  // A new size: a new cleared buffer; a refused one keeps the old size.
  ASSERT_EQ(run("arg 0 text : \"g/\"\narg 9 int : B:32\n"), 0u);
  EXPECT_EQ(g->width, 32);
  EXPECT_EQ(g->height, 480);
  EXPECT_EQ(g->loaded_width, 32);
  u32* const kept = g->owned_pixels;
  EXPECT_EQ(run("arg 0 text : \"g/\"\narg 10 int : W:9000\n"), static_cast<u32>(-1));
  EXPECT_EQ(g->height, 480);
  EXPECT_EQ(g->owned_pixels, kept);
  // The new buffer holds the composition of the group's children.
  ASSERT_EQ(run("arg 0 text : \"g/pic\"\narg 6 int : B:1\narg 46 text : \"small.png\"\narg 4 int : B:2\n"), 0u);
  ASSERT_EQ(run("arg 0 text : \"g/\"\narg 9 int : B:16\narg 10 int : B:8\n"), 0u);
  EXPECT_EQ(g->pixels[0], 0u);
  EXPECT_EQ(g->pixels[1 * 16 + 2 + 3], layer("W0/g/pic")->pixels[1 * 4 + 3]);
  // A group named without a size or key is left alone.
  EXPECT_EQ(run("arg 0 text : \"lazy/\"\n"), 0u);
  EXPECT_EQ(layer("W0/lazy", 1), nullptr);
  // A size of 0 makes a pure group, which needs no buffer.
  const struct {
    const char* name;
    const char* size;
  } pure_cases[] = {{"pure", "arg 9 int : B:0\narg 10 int : B:0\n"}, {"flat", "arg 9 int : B:7\narg 10 int : B:0\n"}};
  for (const auto& c : pure_cases) {
    const std::string name = c.name;
    EXPECT_EQ(run("arg 0 text : \"" + name + "/\"\narg 6 int : B:2\n" + c.size), 0u) << name;
    EXPECT_EQ(g_error_report_log.report_count, 0u) << name;
    LayerImage* pure = layer(("W0/" + name).c_str(), 1);
    ASSERT_NE(pure, nullptr) << name;
    EXPECT_EQ(pure->height, 0) << name;
    EXPECT_EQ(run("arg 0 text : \"" + name + "/kid\"\narg 6 int : B:1\narg 46 text : \"small.png\"\n"), 0u) << name;
  }
}

TEST_F(LoadCommandTest, CutAndPad) {
  ASSERT_EQ(run("arg 0 text : \"c\"\narg 6 int : B:1\narg 46 text : \"pic.png\"\narg 9 int : B:100\n"
                "arg 10 int : B:50\n"),
            0u);
  LayerImage* c = layer("W0/c");
  ASSERT_EQ(c->width, 100);
  ASSERT_EQ(c->height, 50);
  EXPECT_EQ(c->loaded_height, 50);
  EXPECT_EQ(c->pixels[0], 0xFF000000u);
  EXPECT_EQ(c->pixels[39 * 100 + 99], 0xFF006327u);
  EXPECT_EQ(c->pixels[40 * 100], 0xFF000000u);
  EXPECT_EQ(c->pixels[49 * 100 + 99], 0xFF000000u);
  // Width alone with an image file.
  EXPECT_EQ(run("arg 0 text : \"c\"\narg 46 text : \"pic.png\"\narg 9 int : B:100\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 100243u);
}

TEST_F(LoadCommandTest, ClampedAndPlainOperators) {
  ASSERT_EQ(run("arg 0 text : \"a\"\narg 6 int : B:1\narg 46 text : \"small.png\"\narg 3 int : W:200\n"
                "arg 7 int : B:5\n"),
            0u);
  LayerImage* a = layer("W0/a");
  EXPECT_EQ(a->alpha, 200);
  ASSERT_EQ(run("arg 0 text : \"a\"\narg 3 int add : B:100\narg 7 int sub : B:10\narg 5 int : B:7\n"
                "arg 29 int add : W:250\narg 56 int : B:9\narg 45 int add : B:5\n"),
            0u);
  EXPECT_EQ(a->alpha, 256);
  EXPECT_EQ(a->tone_level, 0);
  EXPECT_EQ(a->y, 9);  // 700 + 250 hundredths
  EXPECT_EQ(a->y_centi, 950);
  EXPECT_EQ(a->user_value1, 9);
  EXPECT_EQ(a->gpu_flag, 1);
  // Set stores the operand as given.
  ASSERT_EQ(run("arg 0 text : \"a\"\narg 8 int : I:0x2000000\n"), 0u);
  EXPECT_EQ(a->tone_colour, 0x2000000);
  // A re-stack by order key.
  ASSERT_EQ(run("arg 0 text : \"a\"\narg 6 int add : B:4\n"), 0u);
  EXPECT_EQ(resolve_object_path(g_object_roots[kTreeLayer], "W0/a", 0)->order_key, 5);
}

TEST_F(LoadCommandTest, MaskLayer) {
  ASSERT_EQ(run("arg 0 text : \"m\"\narg 6 int : B:1\narg 46 text : \"small.png\"\n"), 0u);
  ASSERT_EQ(run("arg 0 text : \"x\"\narg 6 int : B:1\narg 46 text : \"small.png\"\narg 48 text : \"m\"\n"), 0u);
  LayerImage* x = layer("W0/x");
  EXPECT_EQ(x->has_alpha, 1);
  EXPECT_EQ(x->pixels[5] >> 24, layer("W0/m")->pixels[5] & 0xFF);
  // The mask's shown pixels give the alpha, also when they are not its own
  // buffer (a frame of a frame set).
  LayerImage* m = layer("W0/m");
  std::vector<u32> shown(16 + 5, 0);
  for (size_t i = 0; i < 16; ++i) shown[i] = 0xFF000000u | static_cast<u32>(i * 9 + 7);
  m->pixels = shown.data();
  ASSERT_EQ(run("arg 0 text : \"x\"\narg 48 text : \"m\"\n"), 0u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(x->pixels[i] >> 24, static_cast<u32>(i * 9 + 7)) << i;
  m->pixels = m->owned_pixels;
  // A mask of another size ends the run with the box.
  ASSERT_EQ(run("arg 0 text : \"o\"\narg 6 int : B:1\narg 46 text : \"other.png\"\n"), 0u);
  EXPECT_EQ(run("arg 0 text : \"o\"\narg 48 text : \"m\"\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.box_count, 1u);
  EXPECT_EQ(g_quit_requested.load(), 1);
}

TEST_F(LoadCommandTest, SharingAndMissingLayers) {
  ASSERT_EQ(run("arg 0 text : \"src\"\narg 6 int : B:1\narg 46 text : \"small.png\"\n"), 0u);
  ASSERT_EQ(run("arg 0 text : \"copy\"\narg 6 int : B:2\narg 47 text : \"src\"\n"), 0u);
  EXPECT_EQ(layer("W0/copy"), layer("W0/src"));
  EXPECT_EQ(layer("W0/src")->ref_count, 2u);
  // A change made through one node shows at every node of the record: both
  // places are marked, wherever the nodes stand.
  ASSERT_EQ(run("arg 0 text : \"far/\"\narg 6 int : B:3\narg 9 int : B:0\narg 10 int : B:0\narg 4 int : B:50\n"), 0u);
  ASSERT_EQ(run("arg 0 text : \"far/copy\"\narg 6 int : B:1\narg 47 text : \"src\"\n"), 0u);
  for (const char* change : {"arg 3 int : B:100\n", "arg 4 int : B:2\n", "arg 46 text : \"other.png\"\n"}) {
    LayerImage* screen = layer("W0", 1);
    screen->dirty_valid = 0;
    screen->merge_count = 0;
    ASSERT_EQ(run(std::string("arg 0 text : \"far/copy\"\n") + change), 0u) << change;
    EXPECT_LE(screen->dirty.left, 2) << change;  // src stands at x 0, later 2
    EXPECT_GE(screen->dirty.right, 53) << change;
  }
  // Sharing a layer that does not exist makes no node.
  EXPECT_EQ(run("arg 0 text : \"ghost\"\narg 6 int : B:2\narg 47 text : \"nothing\"\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
  EXPECT_EQ(resolve_object_path(g_object_roots[kTreeLayer], "W0/ghost", 0), nullptr);
  EXPECT_EQ(run("arg 0 text : \"ghost\"\narg 2 int : B:1\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 101230u);
  EXPECT_EQ(run("arg 0 text : \"ghost\"\narg 46 text : \"small.png\"\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 100240u);
}

TEST_F(LoadCommandTest, PlainImageReplacesAnEmotePlayer) {
  ASSERT_EQ(run("arg 0 text : \"e\"\narg 6 int : B:1\narg 46 text : \"small.png\"\n"), 0u);
  LayerImage* e = layer("W0/e");
  static int released = 0;
  released = 0;
  g_layer_release_hooks.release_emote_player = [](LayerImage* im) { released++; };
  e->content_kind = 2;
  e->emote_player = reinterpret_cast<void*>(0x10);
  ASSERT_EQ(run("arg 0 text : \"e\"\narg 46 text : \"other.png\"\n"), 0u);
  EXPECT_EQ(e->content_kind, 0);
  EXPECT_EQ(e->emote_player, nullptr);
  EXPECT_EQ(released, 1);
  g_layer_release_hooks = {nullptr, nullptr, nullptr};
}

TEST_F(LoadCommandTest, DecoderFailureEndsTheRun) {
  add_file("broken.png", Bytes(40, 0x33), 2);
  ASSERT_EQ(run("arg 0 text : \"b\"\narg 6 int : B:1\narg 46 text : \"small.png\"\n"), 0u);
  EXPECT_EQ(run("arg 0 text : \"b\"\narg 46 text : \"broken.png\"\n"), static_cast<u32>(-1));
  EXPECT_EQ(g_error_report_log.last_number, 100200u);
  EXPECT_EQ(g_quit_requested.load(), 1);
  EXPECT_EQ(layer("W0/b")->width, 4);
}
