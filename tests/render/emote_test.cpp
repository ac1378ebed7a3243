// E-mote layers end to end with the recording test pair: binding, loads,
// the player table, the draw steps, rebuilds and shut-down, on the fake GPU
// device (call record and quads) and on the EGL backend (the screen copy
// shows the player's rectangle).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/image/emote_plugin.h"
#include "engine/image/image_load.h"
#include "engine/image/layer_release.h"
#include "engine/render/gpu_device.h"
#include "engine/render/gpu_render.h"
#include "engine/render/layer_textures.h"
#include "engine/render/screen_modes.h"
#include "platform/dynlib.h"
#include "platform/gpu.h"
#include "platform/platform.h"
#include "tests/render/render_fixture.h"
#include "tests/support/emote_pair/emote_pair_log.h"
#include "tests/support/gpu_test_device.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define KL_LSAN 1
#endif
#endif

namespace {

using Lines = std::vector<std::string>;

// A layer tree on window 0 with the test pair loaded through the real
// dynamic-library service, on the fake or the real GPU device.
class EmoteTest : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    saved_settings = g_settings;
    saved_dynlib = g_platform.dynlib;
    saved_gpu = g_platform.gpu;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_EMOTE_PAIR_DIR);
    fake_gpu_reset();
    reset_renderer_state();
    g_settings.use_direct3d = 1;
    g_settings.mag_filter = 0;
    g_gpu_tree_mode = 0;
    g_device_reset_pending = 0;
    set_screen_copy_layer(nullptr);
    g_memory_groups = MemoryFileGroups();
    load_emote_plugin();
    ASSERT_EQ(g_emote.loaded, 1) << kPosixDynLib.last_error();
    pair_reset();
  }
  void TearDown() override {
    set_screen_copy_layer(nullptr);
    release_d3d_device();
    unload_emote_plugin();
    dynlib_set_search_folder(nullptr);
    g_platform.dynlib = saved_dynlib;
    g_platform.gpu = saved_gpu;
    g_settings = saved_settings;
    g_memory_groups = MemoryFileGroups();
    RenderTest::TearDown();
  }
  template <typename F>
  F pair_export(const char* name) {
    return reinterpret_cast<F>(g_platform.dynlib->symbol(g_emote.lib, name));
  }
  void pair_reset() { pair_export<void (*)()>(kEmotePairReset)(); }
  int live_players() { return pair_export<int (*)()>(kEmotePairLivePlayers)(); }
  // The pair's call record since the last reset, without the frame loop's
  // state queries.
  Lines calls() {
    Lines out;
    std::istringstream in(pair_export<const char* (*)()>(kEmotePairLog)());
    for (std::string line; std::getline(in, line);)
      if (line.rfind("249 ", 0) != 0 && line.rfind("251 ", 0) != 0) out.push_back(line);
    return out;
  }
  static void add_file(const std::string& name, const std::string& bytes, int type = 9) {
    MemoryFileEntry e;
    e.name = name;
    e.data.assign(bytes.begin(), bytes.end());
    e.media_type = type;
    g_memory_groups.groups[0].entries.push_back(e);
  }
  // A layer at (x, y) loaded from a ".psb" file, with its texture made as
  // the load command's texture parameter makes it.
  LayerImage* emote_layer(const std::string& path, i64 x, i64 y, const char* file = "chara.psb") {
    ObjectNode* n = get_named_object(root, path.c_str(), 0, ++order);
    EXPECT_NE(n, nullptr);
    LayerImage* im = get_or_create_layer_image(n);
    EXPECT_EQ(load_image_into_layer(im, file), 0) << g_error_report_log.last_box_text;
    im->x_centi = x * 100;
    im->y_centi = y * 100;
    EXPECT_EQ(create_layer_textures_for(im, 0, 0), 0);
    return im;
  }
  // One GPU frame read back through an unseen screen-copy layer.
  std::vector<u32> gpu_frame() {
    if (!copy) {
      copy = leaf("W0/zz_copy", 0, 0, kW, kH, 0);
      copy->visible = 0;
      set_screen_copy_layer(leaf_node("W0/zz_copy"));
    }
    EXPECT_EQ(render_frame_d3d(), 0);
    return std::vector<u32>(copy->pixels, copy->pixels + static_cast<size_t>(kW) * kH);
  }
  static bool has(const Lines& lines, const std::string& line) {
    for (const std::string& l : lines)
      if (l == line) return true;
    return false;
  }
  static int index_of(const Lines& lines, const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == line) return static_cast<int>(i);
    return -1;
  }

  EngineSettings saved_settings;
  const PlatformDynLib* saved_dynlib = nullptr;
  const PlatformGpu* saved_gpu = nullptr;
  LayerImage* copy = nullptr;
};

// ---- binding ----

TEST_F(EmoteTest, StartUpBindsThePairAndTurnsGpuDrawingOn) {
  unload_emote_plugin();
  g_settings.use_direct3d = 0;
  g_settings.cpu_scaling_flag = 2;
  g_settings.fullscreen_switch_a = 1;
  const u8 saved_os = g_os_code;
  g_os_code = 255;
  load_optional_plugins();
  EXPECT_EQ(g_emote.loaded, 1);
  EXPECT_EQ(g_settings.use_direct3d, 1);
  EXPECT_EQ(g_settings.cpu_scaling_flag, 1);
  EXPECT_EQ(g_settings.fullscreen_switch_a, 0);
  for (int ordinal : {1, 2, 3, 101, 121, 201, 256}) EXPECT_NE(emote_entry(ordinal), nullptr) << ordinal;
  for (int ordinal : {0, 4, 100, 122, 200, 257}) EXPECT_EQ(emote_entry(ordinal), nullptr) << ordinal;
  unload_optional_plugins();

  // Without the pair nothing changes.
  dynlib_set_search_folder("/nonexistent-folder");
  g_settings.use_direct3d = 0;
  g_settings.fullscreen_switch_a = 1;
  load_optional_plugins();
  EXPECT_EQ(g_emote.loaded, 0);
  EXPECT_EQ(g_settings.use_direct3d, 0);
  EXPECT_EQ(g_settings.fullscreen_switch_a, 1);
  g_os_code = saved_os;
}

int fake_entry() { return 0; }

TEST_F(EmoteTest, APairWithoutADriverLibraryOrAnEntryStaysOff) {
  unload_emote_plugin();
  g_platform.dynlib = &kFakeDynLib;
  std::vector<std::string> names;
  for (int n = 1; n <= 3; ++n) names.push_back("kl_ordinal_" + std::to_string(n));
  for (int n = 101; n <= 121; ++n) names.push_back("kl_ordinal_" + std::to_string(n));
  for (int n = 201; n <= 256; ++n) names.push_back("kl_ordinal_" + std::to_string(n));
  const FakeExport driver_export = {"kl_emote_driver_present", reinterpret_cast<void*>(&fake_entry)};
  struct Case {
    const char* what;
    bool driver_library;
    std::string missing;
  } cases[] = {{"complete", true, ""},
               {"no driver library", false, ""},
               {"no ordinal 1", true, "kl_ordinal_1"},
               {"no ordinal 121", true, "kl_ordinal_121"},
               {"no ordinal 201", true, "kl_ordinal_201"},
               {"no ordinal 256", true, "kl_ordinal_256"}};
  for (const Case& c : cases) {
    fake_dynlib_clear();
    std::vector<FakeExport> exports;
    for (const std::string& n : names)
      if (n != c.missing) exports.push_back({n.c_str(), reinterpret_cast<void*>(&fake_entry)});
    fake_dynlib_register("RAVovov.dll", exports.data(), static_cast<int>(exports.size()));
    if (c.driver_library) fake_dynlib_register("emotedriver.dll", &driver_export, 1);
    load_emote_plugin();
    const bool complete = c.driver_library && c.missing.empty();
    EXPECT_EQ(g_emote.loaded, complete ? 1 : 0) << c.what;
    // The driver library is only tested for, and a refused pair is unloaded.
    EXPECT_EQ(fake_dynlib_loaded_count(), complete ? 1 : 0) << c.what;
    unload_emote_plugin();
    EXPECT_EQ(fake_dynlib_loaded_count(), 0) << c.what;
  }
  fake_dynlib_clear();
  g_platform.dynlib = &kPosixDynLib;
  load_emote_plugin();
}

TEST_F(EmoteTest, EachDeviceGetsADriverMadeWithTheDeviceDescriptor) {
  ASSERT_EQ(init_d3d(), 0);
  const Lines c = calls();
  ASSERT_GE(c.size(), 2u);
  EXPECT_EQ(c[0], "2 device=yes gpu=yes shape=ok");
  EXPECT_EQ(c[1], "110 driver 0");
  EXPECT_NE(g_emote.driver, nullptr);
  EXPECT_EQ(g_emote_device.gpu, g_platform.gpu);
  // A driver that cannot be made leaves the E-mote side without one.
  release_d3d_device();
  EXPECT_EQ(g_emote.driver, nullptr);
  pair_export<void (*)(int)>(kEmotePairFailDriver)(1);
  ASSERT_EQ(init_d3d(), 0);
  EXPECT_EQ(g_emote.driver, nullptr);
  EXPECT_EQ(emote_init_driver(g_platform.gpu), 1);
}

// ---- loads ----

TEST_F(EmoteTest, ALoadMakesAPlayerInTheTableAndATransparentImage) {
  ASSERT_EQ(init_d3d(), 0);
  add_file("chara.psb", "PSB-test-motion");
  pair_reset();
  LayerImage* im = emote_layer("W0/chara", 0, 0);
  EXPECT_EQ(calls(), (Lines{"119 driver 15", "214 p1 0.5", "218 p1 0.5", "216 p1 0.5", "222 p1 0 0 0", "205 p1"}));
  EXPECT_EQ(im->content_kind, 2);
  EXPECT_NE(im->emote_player, nullptr);
  EXPECT_EQ(g_emote_players.layers[0], im);
  EXPECT_EQ(im->width, 2);
  EXPECT_EQ(im->height, 2);
  EXPECT_EQ(im->has_alpha, 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(im->pixels[i] >> 24, 0u) << i;
  // Its one texture is the back buffer's size.
  EXPECT_EQ(im->texture_set.tile_count_x, 1);
  EXPECT_EQ(im->texture_set.tile_count_y, 1);
  EXPECT_EQ(im->texture_set.tile_widths[0], kW);
  EXPECT_EQ(im->texture_set.tile_heights[0], kH);
  EXPECT_NE(im->textures[0], nullptr);
  EXPECT_EQ(im->textures[1], nullptr);
  // The CPU compositor leaves it out: the screen stays as it was.
  const std::vector<u32> before = shown();
  frame();
  EXPECT_EQ(first_difference(shown(), before), "");
}

TEST_F(EmoteTest, ASecondLoadReleasesTheFirstPlayerAndStaysAnEmoteLayer) {
  ASSERT_EQ(init_d3d(), 0);
  add_file("chara.psb", "PSB-a");
  add_file("other.psb", "PSB-bb");
  LayerImage* im = emote_layer("W0/chara", 0, 0);
  pair_reset();
  ASSERT_EQ(load_image_into_layer(im, "other.psb"), 0);
  const Lines c = calls();
  ASSERT_FALSE(c.empty());
  EXPECT_EQ(c[0], "202 p1") << "the old player goes before the new one is made";
  EXPECT_EQ(c[1], "119 driver 6");
  EXPECT_EQ(im->content_kind, 2);
  EXPECT_EQ(live_players(), 1);
  int slots = 0;
  for (LayerImage* l : g_emote_players.layers) slots += l == im;
  EXPECT_EQ(slots, 1);
  // A plain image in its place (here the empty image) takes the player
  // away.
  pair_reset();
  ASSERT_EQ(load_image_into_layer(im, ""), 0) << g_error_report_log.last_message;
  EXPECT_EQ(calls(), Lines{"202 p2"});
  EXPECT_EQ(im->content_kind, 0);
  EXPECT_EQ(im->emote_player, nullptr);
  EXPECT_EQ(emote_slot_of(im), -1);
}

TEST_F(EmoteTest, FailedLoadsShowTheirMessageAndLeaveNoPlayer) {
  add_file("bad.psb", "not a motion");
  add_file("chara.psb", "PSB-x");
  ObjectNode* n = get_named_object(root, "W0/chara", 0, ++order);
  LayerImage* im = get_or_create_layer_image(n);
  // Without a device there is no driver to make a player on.
  reset_error_report_log();
  EXPECT_EQ(load_image_into_layer(im, "chara.psb"), -1);
  EXPECT_EQ(g_error_report_log.box_count, 2u);
  EXPECT_EQ(calls(), Lines{}) << "nothing is asked of the library without a driver";
  ASSERT_EQ(init_d3d(), 0);
  pair_reset();
  reset_error_report_log();
  EXPECT_EQ(load_image_into_layer(im, "bad.psb"), -1);
  EXPECT_EQ(g_error_report_log.box_count, 2u);
  EXPECT_EQ(g_error_report_log.last_box_text,
            std::string(sjis_message("E-mote 読込に失敗しました. = %s")).replace(
                std::string(sjis_message("E-mote 読込に失敗しました. = %s")).find("%s"), 2, "bad.psb"));
  EXPECT_EQ(calls(), Lines{"119 driver 12"});
  EXPECT_EQ(im->emote_player, nullptr);
  EXPECT_EQ(im->content_kind, 0);
  EXPECT_EQ(emote_slot_of(im), -1);
  // A layer that has a player is not given a second one.
  ASSERT_EQ(load_image_into_layer(im, "chara.psb"), 0);
  reset_error_report_log();
  const u8 data[] = {'P', 'S', 'B'};
  EXPECT_EQ(emote_load_player(im, data, 3), 1);
  EXPECT_EQ(g_error_report_log.last_box_text, sjis_message("EmotePlayerがすでに読み込まれています."));
}

TEST_F(EmoteTest, The129thPlayerIsRefusedBeforeItIsMade) {
  ASSERT_EQ(init_d3d(), 0);
  add_file("chara.psb", "PSB");
  std::vector<LayerImage*> layers;
  for (int i = 0; i < kEmotePlayerSlots; ++i) {
    ObjectNode* n = get_named_object(root, ("W0/c" + std::to_string(i)).c_str(), 0, ++order);
    layers.push_back(get_or_create_layer_image(n));
    ASSERT_EQ(load_image_into_layer(layers.back(), "chara.psb"), 0) << i;
  }
  ObjectNode* n = get_named_object(root, "W0/one_more", 0, ++order);
  LayerImage* extra = get_or_create_layer_image(n);
  pair_reset();
  reset_error_report_log();
  EXPECT_EQ(load_image_into_layer(extra, "chara.psb"), -1);
  EXPECT_EQ(calls(), Lines{}) << "no player is made that no slot would hold";
  EXPECT_EQ(extra->emote_player, nullptr);
  EXPECT_EQ(extra->content_kind, 0);
  EXPECT_EQ(live_players(), kEmotePlayerSlots);
  // A freed slot takes the next one.
  release_emote_object(layers[5]);
  EXPECT_EQ(load_image_into_layer(extra, "chara.psb"), 0);
  EXPECT_EQ(g_emote_players.layers[5], extra);
}

// ---- drawing on the fake device ----

TEST_F(EmoteTest, TheDrawPlacesThePlayerAndLaysItsTextureOverTheScreen) {
  ASSERT_EQ(init_d3d(), 0);
  add_file("chara.psb", "PSB");
  LayerImage* im = emote_layer("W0/chara", 70, 50);
  im->gpu_values[2] = 2000;  // gx = 10
  im->gpu_values[3] = 600;   // gy = 3
  im->scale_x = 15000;
  im->gpu_angles[2] = 9000;
  g_emote_players.pending_ms[0] = 50.0f;
  gpu_frame();  // the copy layer's first frame
  g_emote_players.pending_ms[0] = 50.0f;
  pair_reset();
  const size_t quads_before = fake_gpu_quads().size(), calls_before = fake_gpu_calls().size();
  gpu_frame();
  EXPECT_EQ(calls(), (Lines{"220 p1 -10 3 0 0", "222 p1 1.5 0 0", "224 p1 -1.571 0 0", "254 p1 3", "256 p1"}));
  EXPECT_EQ(g_emote_players.pending_ms[0], 0.0f);
  // The view: the player's origin at the layer's place (offset and view
  // shift cancel), model x mirrored.
  EXPECT_EQ(g_emote_device.viewport_width, kW);
  EXPECT_EQ(g_emote_device.viewport_height, kH);
  const std::vector<GpuQuad> quads(fake_gpu_quads().begin() + static_cast<long>(quads_before), fake_gpu_quads().end());
  ASSERT_EQ(quads.size(), 2u) << "the player's rectangle, then the layer's texture";
  const GpuQuad& r = quads[0];
  float cx = 0, cy = 0;
  for (int i = 0; i < 4; ++i) cx += r.x[i] / 4, cy += r.y[i] / 4;
  EXPECT_NEAR(cx, 70.5f, 1e-3);
  EXPECT_NEAR(cy, 49.5f, 1e-3);
  // 40 x 20 at scale 1.5, turned a quarter: 30 wide, 60 high.
  EXPECT_NEAR(std::fabs(r.x[1] - r.x[0]) + std::fabs(r.x[2] - r.x[0]), 30.0f, 1e-3);
  EXPECT_NEAR(std::fabs(r.y[1] - r.y[0]) + std::fabs(r.y[2] - r.y[0]), 60.0f, 1e-3);
  // The layer's texture at the screen's corner, whole and unscaled.
  const GpuQuad& t = quads[1];
  EXPECT_EQ(t.textures[0], im->textures[0]);
  EXPECT_FLOAT_EQ(t.x[2], -0.5f);
  EXPECT_FLOAT_EQ(t.y[2], -0.5f);
  EXPECT_FLOAT_EQ(t.x[1], kW - 0.5f);
  EXPECT_FLOAT_EQ(t.y[1], kH - 0.5f);
  EXPECT_FLOAT_EQ(t.valid_u, 1.0f);
  EXPECT_FLOAT_EQ(t.valid_v, 1.0f);
  // The target order: the layer's texture cleared to transparent grey, then
  // the back buffer again.
  const Lines g(fake_gpu_calls().begin() + static_cast<long>(calls_before), fake_gpu_calls().end());
  int at = -1;
  for (size_t i = 0; i < g.size(); ++i)
    if (g[i] == "set_target texture") at = static_cast<int>(i);
  ASSERT_GE(at, 0);
  EXPECT_EQ(g[static_cast<size_t>(at) + 1].rfind("clear", 0), 0u);
}

TEST_F(EmoteTest, ALayerWithoutItsTextureIsNotDrawnAndKeepsTime) {
  ASSERT_EQ(init_d3d(), 0);
  add_file("chara.psb", "PSB");
  ObjectNode* n = get_named_object(root, "W0/chara", 0, ++order);
  LayerImage* im = get_or_create_layer_image(n);
  ASSERT_EQ(load_image_into_layer(im, "chara.psb"), 0);
  g_emote_players.pending_ms[0] = 20.0f;
  pair_reset();
  const size_t calls_before = fake_gpu_calls().size();
  gpu_frame();
  const Lines c = calls();
  EXPECT_FALSE(has(c, "256 p1")) << "no texture to draw into";
  EXPECT_TRUE(has(c, "254 p1 1.2"));
  for (size_t i = calls_before; i < fake_gpu_calls().size(); ++i) EXPECT_NE(fake_gpu_calls()[i], "set_target texture");
}

TEST_F(EmoteTest, FramePacingHandsTimeToEveryPlayer) {
  ASSERT_EQ(init_d3d(), 0);
  add_file("chara.psb", "PSB");
  emote_layer("W0/a", 0, 0);
  emote_layer("W0/b", 0, 0);
  pair_reset();
  advance_emote_times(40);
  EXPECT_EQ(calls(), Lines{}) << "the first pacing only sets the pending times";
  advance_emote_times(20000);
  EXPECT_EQ(calls(), (Lines{"254 p1 2.4", "254 p2 2.4"}));
  EXPECT_EQ(g_emote_players.pending_ms[0], 16.0f) << "a stall counts as one frame";
  // A played timeline makes the loop redraw.
  EXPECT_EQ(emote_motion_active(), 0);
  emote_player_timeline(g_emote_players.layers[1], "idle", 4, 1);
  EXPECT_EQ(emote_motion_active(), 1);
}

// ---- rebuild and shut-down ----

TEST_F(EmoteTest, ARebuildReleasesPlayersTexturesAndDriverWithoutLeaks) {
  ASSERT_EQ(init_d3d(), 0);
  const int device_textures = fake_gpu_live_textures();
  add_file("chara.psb", "PSB");
  LayerImage* im = emote_layer("W0/chara", 40, 40);
  gpu_frame();
  ASSERT_GT(fake_gpu_live_textures(), device_textures + 1);
  pair_reset();
  g_device_reset_pending = 1;
  gpu_frame();
  const Lines c = calls();
  const int released = index_of(c, "202 p1"), driver = index_of(c, "102"), made = index_of(c, "2 device=yes gpu=yes shape=ok");
  ASSERT_GE(released, 0);
  EXPECT_GT(driver, released);
  EXPECT_GT(made, driver) << "a new driver on the new device";
  EXPECT_FALSE(has(c, "256 p1"));
  // The layer is a plain transparent image now, without textures: the
  // layer query's content kind tells the script.
  EXPECT_EQ(im->content_kind, 0);
  EXPECT_EQ(im->emote_player, nullptr);
  for (TextureHandle t : im->textures) EXPECT_EQ(t, nullptr);
  EXPECT_EQ(live_players(), 0);
  // The device's own textures, the copy layer's (none: CPU only) and the
  // player's colour texture: nothing of the old device is left.
  EXPECT_EQ(fake_gpu_live_textures(), device_textures);
  // It loads again on the new device.
  ASSERT_EQ(load_image_into_layer(im, "chara.psb"), 0);
  EXPECT_EQ(im->content_kind, 2);
}

TEST_F(EmoteTest, ShutDownReleasesEveryPlayerAndTheDriver) {
  ASSERT_EQ(init_d3d(), 0);
  add_file("chara.psb", "PSB");
  emote_layer("W0/a", 0, 0);
  emote_layer("W0/b", 0, 0);
  pair_reset();
  release_emote();
  EXPECT_EQ(calls(), (Lines{"202 p1", "202 p2", "102"}));
  EXPECT_EQ(live_players(), 0);
  EXPECT_EQ(g_emote.driver, nullptr);
  for (LayerImage* l : g_emote_players.layers) EXPECT_EQ(l, nullptr);
  // Freeing a layer releases its player too.
  ASSERT_EQ(emote_init_driver(g_platform.gpu), 0);
  emote_layer("W0/c", 0, 0);
  pair_reset();
  release_object_images(leaf_node("W0/c"));
  EXPECT_EQ(calls(), Lines{"202 p3"});
  EXPECT_EQ(live_players(), 0);
}

TEST(EmoteText, ShiftJisToUtf8) {
  const char sjis[] = "\x83\x4c\x83\x83\x83\x89" "abc";  // キャラabc
  char* u = sjis_to_utf8(sjis, sizeof sjis - 1);
  ASSERT_NE(u, nullptr);
  EXPECT_STREQ(u, "キャラabc");
  std::free(u);
  u = sjis_to_utf8(sjis, 4);  // cut after two characters
  EXPECT_STREQ(u, "キャ");
  std::free(u);
  u = sjis_to_utf8("\x83", 1);  // a lead byte alone
  EXPECT_STREQ(u, "?");
  std::free(u);
}

// ---- the real device ----

class EmoteEgl : public EmoteTest {
 protected:
  void SetUp() override {
#ifdef KL_LSAN
    __lsan_disable();
#endif
    EmoteTest::SetUp();
    if (HasFatalFailure()) return;
    g_platform.gpu = &kEglGpu;
    setenv("EGL_PLATFORM", "surfaceless", 0);
    if (init_d3d() != 0) {
      if (gpu_required()) FAIL() << "no GPU device opened";
      GTEST_SKIP() << "no GPU device";
    }
    add_file("chara.psb", "PSB");
  }
  void TearDown() override {
    EmoteTest::TearDown();
#ifdef KL_LSAN
    __lsan_enable();
#endif
  }
  static u32 px(const std::vector<u32>& p, int x, int y) { return p[static_cast<size_t>(y) * kW + x]; }
  // The points that must show the colour and those that must stay clear.
  static void expect_rectangle(const std::vector<u32>& p, u32 colour, std::initializer_list<std::pair<int, int>> inside,
                               std::initializer_list<std::pair<int, int>> outside, const char* what) {
    for (auto [x, y] : inside) EXPECT_EQ(px(p, x, y), colour) << what << " inside at " << x << "," << y;
    for (auto [x, y] : outside) EXPECT_EQ(px(p, x, y) >> 24, 0u) << what << " outside at " << x << "," << y;
  }
};

TEST_F(EmoteEgl, TheScreenCopyShowsThePlayersRectangle) {
  LayerImage* im = emote_layer("W0/chara", 80, 60);
  // Default levels 0.5: mid grey, opaque; centred on the layer's place,
  // 40 x 20 (x 60.5-100.5, y 49.5-69.5).
  std::vector<u32> p = gpu_frame();
  expect_rectangle(p, 0xFF808080u, {{80, 60}, {62, 51}, {99, 68}}, {{58, 60}, {103, 60}, {80, 47}, {80, 72}, {5, 5}},
                   "plain");
  // Colour by the levels, size by the scale.
  emote_player_float(im, 214, 1.0f);
  emote_player_float(im, 218, 0.0f);
  emote_player_float(im, 216, 0.0f);
  im->scale_x = 20000;  // 80 x 40: x 40.5-120.5, y 39.5-79.5
  p = gpu_frame();
  expect_rectangle(p, 0xFFFF0000u, {{42, 41}, {118, 78}}, {{38, 60}, {123, 60}, {80, 37}, {80, 82}}, "scaled red");
  // A quarter turn: 40 high and 20 wide at scale 1.
  im->scale_x = 10000;
  im->gpu_angles[2] = 9000;
  p = gpu_frame();
  expect_rectangle(p, 0xFFFF0000u, {{80, 42}, {80, 78}}, {{66, 60}, {95, 60}, {80, 37}, {80, 82}}, "quarter turn");
  // An eighth turn goes clockwise on the screen, as turned layers do: the
  // long side runs from top left to bottom right.
  im->gpu_angles[2] = 4500;
  p = gpu_frame();
  expect_rectangle(p, 0xFFFF0000u, {{89, 68}, {71, 51}}, {{89, 51}, {71, 68}}, "eighth turn");
  // Moved with the layer.
  im->gpu_angles[2] = 0;
  im->x_centi = 3000;
  im->y_centi = 10000;  // x 10.5-50.5, y 89.5-109.5
  p = gpu_frame();
  expect_rectangle(p, 0xFFFF0000u, {{12, 91}, {49, 108}}, {{8, 100}, {53, 100}, {30, 87}, {30, 112}, {80, 60}}, "moved");
}

// The GPU paste of an E-mote layer draws its player first: the destination
// receives the player's rectangle, not the layer's empty texture.
TEST_F(EmoteEgl, ThePasteOfAnEmoteLayerShowsItsPlayer) {
  emote_layer("W0/chara", 80, 60);
  LayerImage* dst = leaf("W0/dst", 0, 0, 8, 8, 3);
  ASSERT_EQ(gpu_render_and_read_back(leaf_node("W0/dst"), leaf_node("W0/chara")), 0);
  ASSERT_EQ(dst->width, kW);
  const std::vector<u32> p(dst->pixels, dst->pixels + static_cast<size_t>(kW) * kH);
  expect_rectangle(p, 0xFF808080u, {{80, 60}, {62, 51}, {99, 68}}, {{58, 60}, {103, 60}, {80, 47}, {5, 5}}, "pasted");
}

TEST_F(EmoteEgl, WithoutThePairThePsbLayerShowsNothing) {
  unload_emote_plugin();
  ObjectNode* n = get_named_object(root, "W0/chara", 0, ++order);
  LayerImage* im = get_or_create_layer_image(n);
  reset_error_report_log();
  ASSERT_EQ(load_image_into_layer(im, "chara.psb"), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(g_error_report_log.box_count, 0u);
  EXPECT_EQ(im->content_kind, 0);
  EXPECT_EQ(im->width, 2);
  EXPECT_EQ(im->height, 2);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(im->pixels[i] >> 24, 0u);
  im->x_centi = 8000;
  im->y_centi = 6000;
  im->content_kind = 1;  // drawn on the GPU as a plain image
  ASSERT_EQ(create_layer_textures_for(im, 0, 0), 0);
  const std::vector<u32> p = gpu_frame();
  for (u32 v : p) ASSERT_EQ(v >> 24, 0u);
  // And the CPU compositor draws it transparent as well.
  im->content_kind = 0;
  const std::vector<u32> before = shown();
  mark_layer_dirty(leaf_node("W0/chara"));
  frame();
  EXPECT_EQ(first_difference(shown(), before), "");
}

}  // namespace
