// The window-movie commands 70-72 and the Flash commands 22-24 on the fake
// movie player, the fake windowing service and the fake library table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "engine/commands/command_table.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_switches.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/window.h"
#include "engine/render/present.h"
#include "engine/render/screen_modes.h"
#include "engine/sound/flash_control.h"
#include "engine/sound/flash_host.h"
#include "engine/sound/window_movie.h"
#include "engine/vm/command_args.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/vars.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/movie.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "tests/support/script_asm.h"

namespace {

constexpr u32 kResult = 1000;
int always() { return 1; }

const char* kPlayParams = "name:text:0 control:num:0 x:num:0 y:num:0 w:num:0 h:num:0 volume:num:0";
const char* kQueryParams = "p0:num:0 p1:num:0 p2:num:0 p3:num:0 p4:num:0 p5:num:0 name:text:0 result:num:0";
const char* kFlashOpenParams = "name:text:0 open:num:0 x:num:0 y:num:0 w:num:0 h:num:0 value:num:0";
const char* kFlashPollParams =
    "p0:num:0 p1:num:0 p2:num:0 p3:num:0 p4:num:0 p5:num:0 p6:num:0 p7:num:0 p8:num:0 result:num:0";

class MovieCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ui_reset();
    fake_movie_reset();
    fake_dynlib_clear();
    close_flash_host();
    fake_clock_set(10000);
    reset_error_report_log();
    g_quit_requested = 0;
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    ASSERT_EQ(var_table_create(1100), 0);
    var_record(kResult)->dim_count = 0;
    ASSERT_EQ(var_alloc_int(kResult, -7), 0);
    g_paths.instance_name = ":game:k_lumbrane";
    free_window_records();
    ASSERT_EQ(create_window_records(), 0);
    ASSERT_EQ(setup_screen_record(0), 0);
    ASSERT_EQ(create_main_window(), 0);
    g_windows[0]->logical_width = 640;
    g_windows[0]->logical_height = 480;
    g_screen_modes.client_width = 1280;
    g_screen_modes.client_height = 960;
    g_present.offset_x = 0;
    g_present.offset_y = 0;
    g_present.stretch = 0;
    g_settings.movie_method = 1;
    g_engine_switches.draw_during_movie = 0;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    saved_cwd_ = cwd;
    char folder[] = "/tmp/klmovieXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    saved_project_ = g_paths.project_folder;
    g_paths.project_folder = folder_ + "/";
    write_file("clip.webm", std::string("webm bytes"));
    write_file("bad.mkv", std::string("not a movie"));
    write_file("movie.swf", std::string("FWS"));
  }
  void TearDown() override {
    window_movie_stop();
    close_flash_host();
    destroy_windows();
    free_window_records();
    while (pump_window_messages(always)) {
    }
    var_table_free();
    free_command_list();
    g_current_instruction = CurrentInstruction{};
    g_quit_requested = 0;
    g_settings.movie_method = 1;
    g_paths.project_folder = saved_project_;
    EXPECT_EQ(::chdir(saved_cwd_.c_str()), 0);
    std::system(("rm -rf " + folder_).c_str());
    fake_ui_reset();
    fake_movie_reset();
    fake_dynlib_clear();
  }
  void write_file(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen((folder_ + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::string path(const char* name) const { return folder_ + "/" + name; }
  u32 run(u32 id, const char* params, const std::string& args, u32 (*handler)()) {
    script_ = assemble_script("command " + std::to_string(id) + " cmd" + std::to_string(id) + " " + params +
                              "\ninstr " + std::to_string(id) + "\n" + args);
    EXPECT_EQ(asm_load_command_list(script_), 0);
    asm_select_instruction(script_, 0);
    return handler();
  }
  u32 play(const std::string& args) { return run(70, kPlayParams, args, cmd_movie_play); }
  i64 query(u32 p, const std::string& name = "") {
    std::string args = p == 6 ? "arg 6 text : \"" + name + "\"\n" : "arg " + std::to_string(p) + " int : B:1\n";
    EXPECT_EQ(run(72, kQueryParams, args + "arg 7 int : v:1000\n", cmd_movie_query), 0u);
    return var_get_int(kResult, 0);
  }
  std::string play_args(const char* name, int control, const std::string& more = "") {
    return "arg 0 text : \"" + path(name) + "\"\narg 1 int : B:" + std::to_string(control) + "\n" + more;
  }
  u32 flash_open_cmd(const std::string& args) { return run(22, kFlashOpenParams, args, cmd_flash_open); }
  i64 flash_poll(u32 p) {
    EXPECT_EQ(run(24, kFlashPollParams, "arg " + std::to_string(p) + " int : B:1\narg 9 int : v:1000\n",
                  cmd_flash_poll),
              0u);
    return var_get_int(kResult, 0);
  }
  // Runs the frame's movie step and the window messages it led to.
  void step() {
    theora_movie_step();
    while (pump_window_messages(always)) {
    }
  }

  AsmScript script_;
  std::string folder_, saved_project_, saved_cwd_;
};

}  // namespace

TEST(MovieRects, MapTheirRectanglesIntoTheDrawingArea) {
  struct Case {
    bool device;
    i32 x, y, w, h, dw, dh, ox, oy, cw, ch, lw, lh;
    int stretch;
    MovieRect want;
  } cases[] = {
      // Twice the logical size: position and size doubled.
      {false, 100, 50, 320, 240, 1280, 960, 0, 0, 1280, 960, 640, 480, 0, {200, 100, 640, 480}},
      // Position in floating point (truncated after the offset), sizes in integers.
      {false, 3, 3, 3, 3, 1000, 1000, 10, 20, 1000, 1000, 640, 480, 0, {14, 26, 4, 6}},
      // A zero logical size keeps the numbers (factor 1), never divides by it.
      {false, 7, 8, 9, 10, 500, 500, 1, 2, 500, 500, 0, 0, 0, {8, 10, 9, 10}},
      // Device player: offset but unscaled position, scaled size.
      {true, 100, 50, 320, 240, 1280, 960, 5, 6, 1280, 960, 640, 480, 0, {105, 56, 640, 480}},
      // Stretch mode 2 in a wide client: the aspect fit is centred.
      {true, 10, 10, 640, 480, 1600, 600, 0, 0, 1600, 600, 640, 480, 2, {410, 10, 800, 600}},
      // ... and in a tall one.
      {true, 0, 0, 640, 480, 800, 1000, 0, 0, 800, 1000, 640, 480, 2, {0, 200, 800, 600}},
      {true, 1, 2, 3, 4, 100, 100, 0, 0, 100, 100, 0, 0, 2, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    MovieRect r = c.device ? map_device_movie_rect(c.x, c.y, c.w, c.h, c.dw, c.dh, c.ox, c.oy, c.cw, c.ch, c.lw,
                                                   c.lh, c.stretch)
                           : map_graph_movie_rect(c.x, c.y, c.w, c.h, c.dw, c.dh, c.ox, c.oy, c.lw, c.lh);
    EXPECT_EQ(r.x, c.want.x) << c.x << "," << c.dw;
    EXPECT_EQ(r.y, c.want.y) << c.y << "," << c.dh;
    EXPECT_EQ(r.w, c.want.w) << c.w;
    EXPECT_EQ(r.h, c.want.h) << c.h;
  }
}

TEST(MovieVolume, HundredthsOfADecibel) {
  struct Case {
    i32 v, db;
  } cases[] = {{256, 0}, {128, -1204}, {64, -2408}, {1, -9632}, {0, -10000}, {-5, -10000}, {300, 0}};
  for (const Case& c : cases) EXPECT_EQ(movie_volume_db(c.v), c.db) << c.v;
  // -12.04 dB is a quarter of the amplitude.
  EXPECT_NEAR(movie_db_to_linear(-1204), 0.25, 0.001);
  EXPECT_NEAR(movie_db_to_linear(0), 1.0, 1e-9);
}

TEST_F(MovieCommandsTest, GraphPlayerPlaysInItsRectangleAndEndsByNotice) {
  fake_movie_set_duration(2000);
  ASSERT_EQ(play(play_args("CLIP.WEBM", 1, "arg 2 int : B:100\narg 3 int : B:50\narg 4 int : I:320\narg 5 int : "
                                            "I:240\narg 6 int : I:128\n")),
            0u)
      << g_error_report_log.last_message;
  FakeMovieState s = fake_movie_state();
  EXPECT_EQ(s.open, 1);
  EXPECT_EQ(s.x, 200);
  EXPECT_EQ(s.y, 100);
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(s.height, 480);
  EXPECT_EQ(s.volume_db, -1204);
  FakeUiChildArea area{};
  ASSERT_EQ(fake_ui_child_area(s.child, &area), 0);
  EXPECT_EQ(area.parent, g_windows[0]->handle);
  EXPECT_EQ(query(0), 1);
  EXPECT_EQ(query(1), 100);
  EXPECT_EQ(query(4), 240);
  EXPECT_EQ(query(5), 128);
  // No drawing over the movie, unless the scripts ask for it.
  EXPECT_EQ(frame_draw_allowed(), 0);
  g_engine_switches.draw_during_movie = 1;
  EXPECT_EQ(frame_draw_allowed(), 1);
  g_engine_switches.draw_during_movie = 0;
  // Resizing rescales the child area.
  g_screen_modes.client_width = 640;
  g_screen_modes.client_height = 480;
  rescale_child_areas();
  ASSERT_EQ(fake_ui_child_area(s.child, &area), 0);
  EXPECT_EQ(area.x, 100);
  EXPECT_EQ(area.width, 320);
  fake_clock_advance(1999);
  step();
  EXPECT_EQ(query(0), 1);
  fake_clock_advance(1);
  step();
  EXPECT_EQ(query(0), 0);
  EXPECT_EQ(fake_movie_state().open, 0);
  EXPECT_EQ(fake_ui_live_child_areas(), 0);
  EXPECT_EQ(frame_draw_allowed(), 1);
  // A notice that arrives after the release changes nothing.
  g_platform.ui->post_message(g_windows[0]->handle, kMovieGraphNotify, 0, kMovieEnded);
  step();
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(MovieCommandsTest, AMessageBoxPausesThePlayingMovieOnly) {
  pause_active_movie();  // nothing open: nothing to pause
  EXPECT_EQ(fake_movie_state().stops, 0);
  fake_movie_set_duration(2000);
  ASSERT_EQ(play(play_args("clip.webm", 1)), 0u) << g_error_report_log.last_message;
  pause_active_movie();
  EXPECT_EQ(fake_movie_state().stops, 1);
  EXPECT_EQ(fake_movie_state().open, 1);  // paused, still open
}

TEST_F(MovieCommandsTest, PlaybackErrorEndsTheMovieAsAnAbort) {
  fake_movie_fail_after(300);
  ASSERT_EQ(play(play_args("clip.webm", 1)), 0u);
  EXPECT_EQ(query(0), 1);
  EXPECT_EQ(fake_movie_state().width, 1280);  // the whole logical screen by default
  fake_clock_advance(300);
  step();
  EXPECT_EQ(query(0), 0);
  EXPECT_EQ(fake_movie_state().open, 0);
}

TEST_F(MovieCommandsTest, FailuresAreReportedWithoutEndingTheRun) {
  struct Case {
    std::string args;
    u32 error;
  } cases[] = {
      {"arg 1 int : B:1\n", 101510},                 // no file ever given
      {play_args("bad.mkv", 1), 101520},             // a file the player refuses
  };
  fake_movie_refuse_suffix(".mkv");
  for (const Case& c : cases) {
    reset_error_report_log();
    EXPECT_EQ(play(c.args), 0xFFFFFFFFu) << c.args;
    EXPECT_EQ(g_error_report_log.last_number, c.error) << c.args;
    EXPECT_EQ(g_quit_requested.load(), 0);
    EXPECT_EQ(query(0), 0);
  }
  // A file that does not open ends the command quietly.
  reset_error_report_log();
  EXPECT_EQ(play(play_args("missing.webm", 1)), 0u);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(fake_movie_state().open, 0);
}

TEST_F(MovieCommandsTest, StopAndResetAreSafeWithOrWithoutAMovie) {
  EXPECT_EQ(run(71, "", "", cmd_movie_stop), 0u);
  EXPECT_EQ(run(71, "", "", cmd_movie_stop), 0u);
  ASSERT_EQ(play(play_args("clip.webm", 1, "arg 6 int : B:64\n")), 0u);
  ASSERT_EQ(play("arg 1 int : B:0\n"), 0u);
  EXPECT_EQ(query(0), 0);
  EXPECT_EQ(fake_movie_state().stops, 1);
  EXPECT_EQ(run(71, "", "", cmd_movie_stop), 0u);
  EXPECT_EQ(fake_movie_state().open, 0);
  EXPECT_EQ(query(5), 256);
  // The name was cleared: a play now has nothing to play.
  EXPECT_EQ(play("arg 1 int : B:1\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 101510u);
  // Shut-down stops a playing movie.
  ASSERT_EQ(play(play_args("clip.webm", 1)), 0u);
  stop_movies();
  EXPECT_EQ(fake_movie_state().open, 0);
  EXPECT_EQ(fake_ui_live_child_areas(), 0);
}

TEST_F(MovieCommandsTest, DevicePlayerUsesItsOwnMappingVolumeAndNotice) {
  g_settings.movie_method = 0;
  ASSERT_EQ(play(play_args("clip.webm", 1, "arg 2 int : B:100\narg 3 int : B:50\narg 4 int : I:320\narg 5 int : "
                                            "I:240\narg 6 int : I:128\n")),
            0u);
  FakeMovieState s = fake_movie_state();
  EXPECT_EQ(s.x, 100);
  EXPECT_EQ(s.y, 50);
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(s.volume_linear, 500);
  EXPECT_EQ(frame_draw_allowed(), 0);
  EXPECT_EQ(query(0), 1);
  fake_clock_advance(2000);
  step();
  EXPECT_EQ(query(0), 0);
  // A failed open leaves nothing that a script could wait on for ever.
  fake_movie_refuse_suffix(".mkv");
  ASSERT_EQ(play(play_args("bad.mkv", 1)), 0u);
  EXPECT_EQ(query(0), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(MovieCommandsTest, MpegProbeReadsThePackHeader) {
  struct Case {
    const char* name;
    std::string bytes;
    i64 want;
  } cases[] = {
      {"a.mpg", std::string("\0\0\1\xBA\x44", 5), 2},
      {"b.mpg", std::string("\0\0\1\xBA\x21", 5), 1},
      {"c.mpg", std::string("\0\0\1\xBA\x80", 5), 255},
      {"d.mpg", std::string("RIFF....", 8), 255},
      {"e.mpg", std::string("\0\0\1", 3), 255},  // too short to say
  };
  for (const Case& c : cases) {
    write_file(c.name, c.bytes);
    EXPECT_EQ(query(6, c.name), c.want) << c.name;
  }
  EXPECT_EQ(query(6, "none.mpg"), 0);
}

// Files as an encoder writes them, not only their first bytes: ffmpeg's
// MPEG-1 system stream and its MPEG-2 program streams (DVD and plain).
TEST_F(MovieCommandsTest, MpegProbeKnowsFilesMadeByAnEncoder) {
  ASSERT_EQ(std::system("command -v ffmpeg >/dev/null"), 0) << "ffmpeg is not installed";
  struct Case {
    const char* name;
    const char* format;
    i64 want;
  } cases[] = {
      {"one.mpg", "-c:v mpeg1video -f mpeg", 1},
      {"two.vob", "-c:v mpeg2video -f vob", 2},
      {"two.mpg", "-c:v mpeg2video -f dvd", 2},
  };
  for (const Case& c : cases) {
    const std::string cmd = std::string("ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 ") +
                            "-frames:v 5 " + c.format + " -y '" + path(c.name) + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_EQ(query(6, c.name), c.want) << c.name;
  }
}

// ---- Flash ----

namespace {
struct ScriptedFlash {
  FlashControl control;
  FlashControl flash;
  int refs = 0;
  int releases = 0;
  std::string movie;
  int played = 0;
  int variable_asks = 0;
};
ScriptedFlash g_scripted;

int sf_query(FlashControl* self, const char* iid, FlashControl** out) {
  if (std::strcmp(iid, kFlashInterfaceId) != 0) return -1;
  g_scripted.refs++;
  *out = &g_scripted.flash;
  return 0;
}
void sf_release(FlashControl*) {
  g_scripted.refs--;
  g_scripted.releases++;
}
int sf_total(FlashControl*, std::int32_t* n) {
  *n = 120;
  return 0;
}
int sf_playing(FlashControl*, std::int16_t* p) {
  *p = -1;
  return 0;
}
int sf_put(FlashControl*, const char* path) {
  g_scripted.movie = path;
  return 0;
}
int sf_play(FlashControl*) {
  g_scripted.played++;
  return 0;
}
int sf_frame(FlashControl*, std::int32_t* f) {
  *f = 42;
  return 0;
}
int sf_variable(FlashControl*, const char*, char* value, int size) {
  g_scripted.variable_asks++;
  if (size > 0) value[0] = 0;
  return 0;
}
const FlashControlMethods kScriptedMethods = {sf_query, sf_release, sf_total, sf_playing,
                                              sf_put,   sf_play,    sf_frame, sf_variable};
int atl_init() { return 1; }
int atl_create(const char* clsid, std::uint32_t child, void*, void**) {
  return std::strcmp(clsid, kFlashClassId) == 0 && child != 0 ? 0 : -1;
}
int atl_get(std::uint32_t, FlashControl** out) {
  g_scripted.refs++;
  *out = &g_scripted.control;
  return 0;
}
void register_atl() {
  g_scripted = ScriptedFlash{};
  g_scripted.control.methods = &kScriptedMethods;
  g_scripted.flash.methods = &kScriptedMethods;
  static const FakeExport exports[] = {{"AtlAxWinInit", reinterpret_cast<void*>(atl_init)},
                                       {"AtlAxCreateControl", reinterpret_cast<void*>(atl_create)},
                                       {"AtlAxGetControl", reinterpret_cast<void*>(atl_get)}};
  fake_dynlib_register("atl.dll", exports, 3);
}
}  // namespace

TEST_F(MovieCommandsTest, FlashWithoutTheHostKeepsItsStateAndNeverPlays) {
  const std::string open = "arg 0 text : \"movie.swf\"\narg 1 int : B:1\narg 2 int : B:10\narg 3 int : B:20\narg 4 "
                           "int : I:300\narg 5 int : I:200\narg 6 int : B:77\n";
  g_paths.project_folder = folder_ + "/";
  ASSERT_EQ(::chdir(folder_.c_str()), 0);
  ASSERT_EQ(flash_open_cmd(open), 0u) << g_error_report_log.last_message;
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_EQ(fake_ui_boxes()[0].text, sjis_message("ATL.DLLが見つかりませんでした。"));
  ASSERT_EQ(fake_ui_live_child_areas(), 1);
  FakeUiChildArea area{};
  ASSERT_EQ(fake_ui_child_area(g_flash.child, &area), 0);
  EXPECT_EQ(area.title, "zt_fls");
  EXPECT_EQ(area.x, 10);
  EXPECT_EQ(area.width, 600);
  EXPECT_EQ(area.height, 400);
  struct Want {
    u32 p;
    i64 v;
  } wants[] = {{0, 0}, {2, 10}, {3, 20}, {4, 300}, {5, 200}, {6, 0}, {7, 0}, {8, 0}};
  for (const Want& w : wants) EXPECT_EQ(flash_poll(w.p), w.v) << w.p;
  // Asked for once a run: a second open shows no second box and keeps one
  // child area.
  ASSERT_EQ(flash_open_cmd(open), 0u);
  EXPECT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_EQ(fake_ui_live_child_areas(), 1);
  g_screen_modes.client_width = 640;
  g_screen_modes.client_height = 480;
  rescale_child_areas();
  ASSERT_EQ(fake_ui_child_area(g_flash.child, &area), 0);
  EXPECT_EQ(area.width, 300);
  EXPECT_EQ(run(23, "", "", cmd_flash_close), 0u);
  EXPECT_EQ(fake_ui_live_child_areas(), 0);
  // A missing file is fatal.
  reset_error_report_log();
  EXPECT_EQ(flash_open_cmd("arg 0 text : \"gone.swf\"\n"), 0xFFFFFFFFu);
  EXPECT_EQ(g_error_report_log.last_number, 104060u);
  g_quit_requested = 0;
}

TEST_F(MovieCommandsTest, FlashWithAScriptedControlPlaysAndAnswers) {
  register_atl();
  ASSERT_EQ(::chdir(folder_.c_str()), 0);
  const std::string open = "arg 0 text : \"movie.swf\"\narg 1 int : B:1\narg 6 int : B:77\n";
  ASSERT_EQ(flash_open_cmd(open), 0u) << g_error_report_log.last_message;
  EXPECT_EQ(fake_ui_boxes().size(), 0u);
  EXPECT_EQ(g_scripted.movie, g_paths.project_folder + "movie.swf");
  EXPECT_EQ(g_scripted.played, 1);
  EXPECT_EQ(g_scripted.refs, 1);  // the control's own reference was given back
  EXPECT_EQ(flash_poll(0), 1);
  EXPECT_EQ(flash_poll(6), 42);
  EXPECT_EQ(flash_poll(7), 77);
  EXPECT_EQ(flash_poll(8), 120);
  EXPECT_EQ(flash_poll(1), 0);
  EXPECT_EQ(g_scripted.variable_asks, 1);
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_NE(fake_ui_boxes()[0].text.find("zeetar"), std::string::npos);
  // A second open closes the first: one control, one child area.
  ASSERT_EQ(flash_open_cmd(open), 0u);
  EXPECT_EQ(g_scripted.refs, 1);
  EXPECT_EQ(fake_ui_live_child_areas(), 1);
  EXPECT_EQ(run(23, "", "", cmd_flash_close), 0u);
  EXPECT_EQ(run(23, "", "", cmd_flash_close), 0u);
  EXPECT_EQ(g_scripted.refs, 0);
  EXPECT_EQ(flash_poll(0), 0);
}
