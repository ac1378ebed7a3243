// Save commands 86 (write), 54 (load) and 87 (cache release) in a small game:
// layers, one and several variables, memory images, the global store and
// the refusals.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"
#include "engine/frame/ztzid.h"
#include "engine/frame/main_loop.h"
#include "engine/image/layer_image.h"
#include "engine/image/saved_layer.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/save_data.h"
#include "engine/vm/vars.h"
#include "platform/dynlib.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "tests/commands/commands_fixture.h"
#include "tests/support/save_writer.h"

namespace {

const std::string kHeader =
    "command 86 savewrite name:text:0 mem:num:0 dno:num:0 var:num:0 layer:text:0 index:num:0 more:num:0 more2:num:0\n"
    "command 54 saveload name:text:0 mem:num:0 dno:num:0 var:num:0 layer:text:0 index:num:0\n"
    "command 87 savecacheclear\n"
    "var 1000 int 3 2 = 0\nvar 1001 text 2 = \"\"\nvar 1002 float = 0\nvar 1003 int = 0\n";

class SaveCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dynlib = g_platform.dynlib;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_OUT_DIR);
    ASSERT_EQ(load_ztzid_library(), 0);
    g_save_pack_switches = SavePackSwitches{};
    clear_save_data_cache();
  }
  void TearDown() override {
    free_memory_save_slots();
    unload_ztzid_library();
    dynlib_set_search_folder(nullptr);
    g_platform.dynlib = saved_dynlib;
    g_settings = EngineSettings();
  }
  // Loads the game with body; fills the variables and makes layer W0/pic
  // (3 x 2) before the first frame runs it. The first error number.
  u32 run(const std::string& body, const std::function<void(ObjectNode*, LayerImage*)>& prepare = nullptr) {
    if (!g_text_record) g_text_record = new TextRecord();
    EXPECT_EQ(game.load_text(kHeader + "script 0 main.txt\nlabel SYSTEM_START\n" + body + kIdleLoop), 0)
        << g_error_report_log.last_message;
    for (i64 e = 0; e < 6; ++e) var_record(1000)->ints[e] = 10 * e + 1;
    store_string_element(1001, 0, "one", 3);
    store_string_element(1001, 1, "two", 3);
    var_record(1002)->floats[0] = 2.5;
    var_record(1003)->ints[0] = 4;
    ObjectNode* w0 = g_system_objects[kTreeLayer];
    w0->payload_kind = kPayloadLayerImage;
    get_or_create_layer_image(w0);
    ObjectNode* node = get_named_object(g_object_roots[kTreeLayer], "W0/pic", 0, 7);
    node->payload_kind = kPayloadLayerImage;
    LayerImage* im = get_or_create_layer_image(node);
    u32* buf = alloc_image_buffer(nullptr, 3, 2, nullptr);
    for (int i = 0; i < 6; ++i) buf[i] = kPixels[i];
    replace_layer_pixels(im, buf, 3, 2);
    im->alpha = 100;
    if (prepare) prepare(node, im);
    reset_error_report_log();
    game.frame();
    return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
  }
  // The save folder is made on demand (fixtures go in before any write).
  std::string save_path(const std::string& name) const {
    mkdir((game.folder + "/save").c_str(), 0700);
    return game.folder + "/save/" + name;
  }
  static LayerImage* layer(const char* path) {
    ObjectNode* n = resolve_object_path(g_object_roots[kTreeLayer], path, 0);
    return n ? static_cast<LayerImage*>(n->payload) : nullptr;
  }

  static constexpr u32 kPixels[6] = {0xFF0000FFu, 0x8000FF00u, 0x00FF0000u, 0xFFFFFFFFu, 0x01020304u, 0u};
  GameRun game;
  const PlatformDynLib* saved_dynlib = nullptr;
};

TEST_F(SaveCommandsTest, ALayerRoundTripsIntoANewAndAnExistingLayer) {
  ASSERT_EQ(run("instr 86\narg 0 text : \"s1\"\narg 2 int : B:4\narg 4 text : \"pic\"\n"
                "instr 54\narg 0 text : \"s1\"\narg 2 int : B:4\narg 4 text : \"copy\"\narg 5 int : B:2\n"),
            0u)
      << g_error_report_log.last_message;
  SdBytes file;
  ASSERT_TRUE(sd_read_file(save_path("s1.sd"), &file));
  SdFile f;
  ASSERT_EQ(sd_parse(file, &f), "");
  ASSERT_EQ(f.records.size(), 1u);
  EXPECT_EQ(f.records[0].kind, 1);
  EXPECT_EQ(f.records[0].flag, 1);
  SdBytes unpacked;
  ASSERT_TRUE(sd_unpack(f.records[0].data, 1, f.records[0].unpacked, &unpacked));
  EXPECT_EQ(unpacked, sd_layer_value(3, 2, std::vector<u32>(kPixels, kPixels + 6)));
  LayerImage* copy = layer("W0/copy.2");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->width, 3);
  EXPECT_EQ(copy->height, 2);
  EXPECT_EQ(std::memcmp(copy->owned_pixels, kPixels, sizeof kPixels), 0);
  EXPECT_EQ(copy->alpha, 256);  // a new layer's own fields, nothing from the file

  // A fixture layer loaded over the existing layer keeps its place.
  const std::vector<u32> other = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(sd_write_file(save_path("s2.sd"), sd_file({{9, sd_body(1, 2, 0, sd_layer_value(2, 4, other))}})));
  ObjectNode* old = resolve_object_path(g_object_roots[kTreeLayer], "W0/pic", 0);
  const i64 key = old->order_key;
  ASSERT_EQ(run("instr 54\narg 0 text : \"s2\"\narg 2 int : B:9\narg 4 text : \"pic\"\n"), 0u)
      << g_error_report_log.last_message;
  ObjectNode* now = resolve_object_path(g_object_roots[kTreeLayer], "W0/pic", 0);
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(now->order_key, key);
  LayerImage* pic = layer("W0/pic");
  EXPECT_EQ(pic->width, 2);
  EXPECT_EQ(pic->height, 4);
  EXPECT_EQ(std::memcmp(pic->owned_pixels, other.data(), 32), 0);
}

TEST_F(SaveCommandsTest, ALayerLoadedOverAnExistingOneKeepsEveryOtherField) {
  // Each row moves one field away from its default before the load; after
  // it every field must still hold what the row set.
  struct Field {
    const char* what;
    std::function<void(ObjectNode*, LayerImage*)> set;
    std::function<bool(const ObjectNode*, const LayerImage*)> kept;
  };
  const std::vector<Field> fields = {
      {"x", [](ObjectNode*, LayerImage* i) { i->x = 40; }, [](const ObjectNode*, const LayerImage* i) { return i->x == 40; }},
      {"y", [](ObjectNode*, LayerImage* i) { i->y = 30; }, [](const ObjectNode*, const LayerImage* i) { return i->y == 30; }},
      {"alpha", [](ObjectNode*, LayerImage* i) { i->alpha = 77; },
       [](const ObjectNode*, const LayerImage* i) { return i->alpha == 77; }},
      {"visibility", [](ObjectNode*, LayerImage* i) { i->visible = 0; },
       [](const ObjectNode*, const LayerImage* i) { return i->visible == 0; }},
      {"blend mode", [](ObjectNode*, LayerImage* i) { i->blend_mode = 3; },
       [](const ObjectNode*, const LayerImage* i) { return i->blend_mode == 3; }},
      {"tone level", [](ObjectNode*, LayerImage* i) { i->tone_level = 200; },
       [](const ObjectNode*, const LayerImage* i) { return i->tone_level == 200; }},
      {"tone colour", [](ObjectNode*, LayerImage* i) { i->tone_colour = 0x123456; },
       [](const ObjectNode*, const LayerImage* i) { return i->tone_colour == 0x123456; }},
      {"position in hundredths", [](ObjectNode*, LayerImage* i) { i->x_centi = 4012; },
       [](const ObjectNode*, const LayerImage* i) { return i->x_centi == 4012; }},
      {"scale", [](ObjectNode*, LayerImage* i) { i->scale_x = 5000; },
       [](const ObjectNode*, const LayerImage* i) { return i->scale_x == 5000; }},
      {"order", [](ObjectNode*, LayerImage*) {},
       [](const ObjectNode* n, const LayerImage*) { return n->order_key == 7; }},
  };
  const std::vector<u32> other = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(sd_write_file(save_path("kept.sd"), sd_file({{9, sd_body(1, 1, 0, sd_layer_value(2, 4, other))}})));
  LayerImage* before = nullptr;
  ASSERT_EQ(run("instr 54\narg 0 text : \"kept\"\narg 2 int : B:9\narg 4 text : \"pic\"\n",
                [&](ObjectNode* n, LayerImage* i) {
                  for (const Field& f : fields) f.set(n, i);
                  before = i;
                }),
            0u)
      << g_error_report_log.last_message;
  ObjectNode* node = resolve_object_path(g_object_roots[kTreeLayer], "W0/pic", 0);
  ASSERT_NE(node, nullptr);
  LayerImage* pic = layer("W0/pic");
  EXPECT_EQ(pic, before) << "the layer's record was replaced";
  for (const Field& f : fields) EXPECT_TRUE(f.kept(node, pic)) << f.what;
  EXPECT_EQ(pic->width, 2);
  EXPECT_EQ(pic->height, 4);
  EXPECT_EQ(std::memcmp(pic->owned_pixels, other.data(), 32), 0);

  // The load stamps the millisecond clock for frame pacing.
  fake_clock_set(424242);
  g_pacing.frame_start = 1;
  const u8 pixel[4] = {1, 2, 3, 4};
  ASSERT_EQ(restore_saved_layer("pic", 1, 1, pixel), 0);
  EXPECT_EQ(g_pacing.frame_start, 424242u);
  EXPECT_EQ(pic->x, 40);
}

TEST_F(SaveCommandsTest, LayerSizesOutsideTheLimitsAreRefusedAndTheLayerStays) {
  struct Case {
    i32 w, h;
    u32 error;
  } cases[] = {{8193, 1, 100010}, {1, 8193, 100010}, {0, 5, 100010}, {-3, 2, 100010}};
  for (const Case& c : cases) {
    ASSERT_TRUE(sd_write_file(save_path("big.sd"), sd_file({{1, sd_body(1, 1, 0, sd_layer_value(c.w, c.h, {}))}})));
    EXPECT_EQ(run("instr 54\narg 0 text : \"big\"\narg 2 int : B:1\narg 4 text : \"pic\"\n"), c.error) << c.w;
    ASSERT_NE(layer("W0/pic"), nullptr);
    EXPECT_EQ(layer("W0/pic")->width, 3);
  }
}

TEST_F(SaveCommandsTest, OneAndSeveralVariablesRoundTrip) {
  ASSERT_EQ(run("instr 86\narg 0 text : \"v\"\narg 2 int : B:1\narg 3 int : v:1000\n"
                "instr 86\narg 0 text : \"v\"\narg 2 int : B:2\narg 3 int : v:1001\narg 6 int : v:1002\n"
                "instr 86\narg 0 text : \"v\"\narg 2 int : B:3\narg 3 int : V:1000 B:2 , B:1 )\n"
                "set V:1000 B:0 , B:0 ) = B:0\nset V:1000 B:2 , B:1 ) = B:0\nsett V:1001 B:1 ) = \"x\"\n"
                "setf V:1002 ) = F:0\n"
                "instr 54\narg 0 text : \"v\"\narg 2 int : B:1\narg 3 int : v:1000\n"
                "instr 54\narg 0 text : \"v\"\narg 2 int : B:2\n"
                "instr 54\narg 0 text : \"v\"\narg 2 int : B:3\narg 3 int : V:1003 )\n"),
            0u)
      << g_error_report_log.last_message;
  EXPECT_EQ(var_get_int(1000, 0), 1);
  EXPECT_EQ(var_get_int(1000, 5), 51);
  EXPECT_STREQ(var_get_string(1001, 1), "two");
  EXPECT_EQ(var_get_float(1002, 0), 2.5);
  EXPECT_EQ(var_get_int(1003, 0), 51);  // the single element into another variable
  SdBytes file;
  ASSERT_TRUE(sd_read_file(save_path("v.sd"), &file));
  SdFile f;
  ASSERT_EQ(sd_parse(file, &f), "");
  EXPECT_EQ(sd_find(f, 1)->kind, 0);
  EXPECT_EQ(sd_find(f, 2)->kind, 2);
  EXPECT_EQ(sd_find(f, 3)->unpacked, 20u);
}

TEST_F(SaveCommandsTest, MemoryImagesAndTheGlobalStore) {
  ASSERT_EQ(run("instr 86\narg 1 int : B:3\narg 2 int : B:1\narg 3 int : v:1000\n"
                "instr 86\narg 0 text : \"g\"\narg 1 int : I:99999\n"),
            0u)
      << g_error_report_log.last_message;
  ASSERT_GT(g_memory_images[3].size, 4112u);
  const SdBytes image(g_memory_images[3].data, g_memory_images[3].data + g_memory_images[3].size);
  SdFile f;
  ASSERT_EQ(sd_parse(image, &f), "");
  free_memory_save_slots();
  ASSERT_EQ(run("instr 54\narg 0 text : \"g\"\narg 2 int : I:1024\n"
                "set V:1000 B:1 , B:1 ) = B:0\n"
                "instr 54\narg 1 int : B:3\narg 2 int : B:1\narg 3 int : v:1000\n"),
            0u)
      << g_error_report_log.last_message;
  EXPECT_EQ(SdBytes(g_memory_images[3].data, g_memory_images[3].data + g_memory_images[3].size), image);
  EXPECT_EQ(var_get_int(1000, 3), 31);
}

TEST_F(SaveCommandsTest, Refusals) {
  ASSERT_TRUE(sd_write_file(save_path("r.sd"), sd_file({{1, sd_body(1, 1, 0, sd_layer_value(1, 1, {5}))},
                                                         {2, sd_body(0, 1, 1003, sd_int_value({}, {3}))}})));
  struct Case {
    const char* what;
    const char* body;
    u32 error;
  } cases[] = {
      {"cached twice", "instr 86\narg 2 int : B:5\narg 3 int : v:1003\ninstr 86\narg 2 int : B:5\narg 3 int : v:1003\n",
       102170},
      {"memory image 500", "instr 86\narg 1 int : W:500\narg 2 int : B:1\narg 3 int : v:1003\n", 101000},
      {"DNO 0", "instr 86\narg 0 text : \"r\"\narg 2 int : B:0\narg 3 int : v:1003\n", 101000},
      {"DNO 1025 on load", "instr 54\narg 0 text : \"r\"\narg 2 int : W:1025\narg 3 int : v:1003\n", 101000},
      {"no record", "instr 54\narg 0 text : \"r\"\narg 2 int : B:3\narg 3 int : v:1003\n", 102110},
      {"layer record, no layer", "instr 54\narg 0 text : \"r\"\narg 2 int : B:1\narg 3 int : v:1003\n", 108100},
      {"variable record, no variable", "instr 54\narg 0 text : \"r\"\narg 2 int : B:2\narg 4 text : \"pic\"\n",
       108050},
      {"type differs", "instr 54\narg 0 text : \"r\"\narg 2 int : B:2\narg 3 int : v:1002\n", 102120},
      {"missing layer", "instr 86\narg 0 text : \"r\"\narg 2 int : B:7\narg 4 text : \"nope\"\n", 101250},
      {"name with '/'", "instr 86\narg 0 text : \"a/b\"\narg 2 int : B:7\narg 3 int : v:1003\n", 102150},
      {"missing file", "instr 54\narg 0 text : \"none\"\narg 2 int : B:1\narg 3 int : v:1003\n", 104060},
  };
  for (const Case& c : cases) {
    clear_save_data_cache();
    EXPECT_EQ(run(c.body), c.error) << c.what << ": " << g_error_report_log.last_message;
  }
  // The cache release lets a cached DNO be packed again.
  clear_save_data_cache();
  EXPECT_EQ(run("instr 86\narg 2 int : B:5\narg 3 int : v:1003\ninstr 87\n"
                "instr 86\narg 2 int : B:5\narg 3 int : v:1003\n"),
            0u);
  EXPECT_TRUE(save_cache_has(5));
}

}  // namespace
