// Layer movies (commands 73-75) with the TheoraLib stand-in registered in the
// fake library table, on the fake clock, with a movie made by gst-launch-1.0.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/commands/command_table.h"
#include "engine/frame/debug_log.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "engine/image/layer_image.h"
#include "engine/sound/theora_movie.h"
#include "engine/vm/object_tree.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "plugins/theoralib/theoralib_api.h"

extern "C" {
void* theoralib_m_create();
void theoralib_m_free(void*);
int theoralib_m_init(void*);
int theoralib_m_load(void*, const void*, TheoraReadFn, TheoraSizeFn, void*, TheoraRowFn, TheoraResizeFn, int);
int theoralib_m_exists(void*);
int theoralib_m_decodeframe(void*, int);
void theoralib_m_setvrevers(void*, int);
void theoralib_m_setdecodemode(void*, int);
int theoralib_m_nowframe(void*);
int theoralib_m_totalframe(void*);
int theoralib_m_totaltime(void*);
int theoralib_m_info(void*, int);
const char* theoralib_m_comment(void*, int);
void* theoralib_w_create();
void theoralib_w_free(void*);
int theoralib_w_init(void*);
int theoralib_w_load(void*, const void*, TheoraReadFn, TheoraSizeFn);
int theoralib_w_exists(void*);
int theoralib_w_decodesample(void*, short*, int);
int theoralib_w_nowsample(void*);
int theoralib_w_totalsample(void*);
int theoralib_w_totaltime(void*);
int theoralib_w_info(void*, int);
const char* theoralib_w_comment(void*, int);
}

namespace {

#define KL_EXPORT_OF(name) FakeExport{#name, reinterpret_cast<void*>(name)}
const std::vector<FakeExport> kExports = {
    KL_EXPORT_OF(theoralib_m_create),       KL_EXPORT_OF(theoralib_m_free),
    KL_EXPORT_OF(theoralib_m_init),         KL_EXPORT_OF(theoralib_m_load),
    KL_EXPORT_OF(theoralib_m_exists),       KL_EXPORT_OF(theoralib_m_decodeframe),
    KL_EXPORT_OF(theoralib_m_setvrevers),   KL_EXPORT_OF(theoralib_m_setdecodemode),
    KL_EXPORT_OF(theoralib_m_nowframe),     KL_EXPORT_OF(theoralib_m_totalframe),
    KL_EXPORT_OF(theoralib_m_totaltime),    KL_EXPORT_OF(theoralib_m_info),
    KL_EXPORT_OF(theoralib_m_comment),      KL_EXPORT_OF(theoralib_w_create),
    KL_EXPORT_OF(theoralib_w_free),         KL_EXPORT_OF(theoralib_w_init),
    KL_EXPORT_OF(theoralib_w_load),         KL_EXPORT_OF(theoralib_w_exists),
    KL_EXPORT_OF(theoralib_w_decodesample), KL_EXPORT_OF(theoralib_w_nowsample),
    KL_EXPORT_OF(theoralib_w_totalsample),  KL_EXPORT_OF(theoralib_w_totaltime),
    KL_EXPORT_OF(theoralib_w_info),         KL_EXPORT_OF(theoralib_w_comment),
};

constexpr int kFrames = 9;

std::vector<unsigned char> read_file(const std::string& path) {
  std::vector<unsigned char> out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

class TheoraMovieTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/kltheoracmdXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    const std::string make_cmd =
        "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kFrames) +
        " pattern=ball ! video/x-raw,format=I420,width=320,height=240,framerate=30/1 ! theoraenc ! oggmux name=m ! "
        "filesink location=" + folder_ + "/clip.ogv audiotestsrc num-buffers=20 ! audio/x-raw,rate=22050 ! "
        "vorbisenc ! m. >/dev/null 2>&1";
    ASSERT_EQ(std::system(make_cmd.c_str()), 0);
    const std::string ref_cmd = "gst-launch-1.0 -q filesrc location=" + folder_ +
                                "/clip.ogv ! oggdemux ! theoradec ! videoconvert chroma-mode=none dither=none ! "
                                "video/x-raw,format=ARGB64 ! filesink location=" + folder_ + "/clip.argb64 "
                                ">/dev/null 2>&1";
    ASSERT_EQ(std::system(ref_cmd.c_str()), 0);
    reference_ = read_file(folder_ + "/clip.argb64");
  }
  static void TearDownTestSuite() { std::system(("rm -rf " + folder_).c_str()); }
  void SetUp() override {
    fake_ui_reset();
    fake_dynlib_clear();
    fake_dynlib_register("TheoraLib.dll", kExports.data(), static_cast<int>(kExports.size()));
    fake_clock_set(50000);
    reset_error_report_log();
    g_quit_requested = 0;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    saved_cwd_ = cwd;
    ASSERT_EQ(::chdir(folder_.c_str()), 0);
    saved_project_ = g_paths.project_folder;
    g_paths.project_folder = folder_ + "/";
    ASSERT_EQ(create_system_objects(), 0);
    ObjectNode* w0 = g_system_objects[kTreeLayer];
    w0->payload_kind = kPayloadLayerImage;
    get_or_create_layer_image(w0);
    g_theora_movie = TheoraMovieState{};
  }
  void TearDown() override {
    theora_movie_close();
    g_theora_movie = TheoraMovieState{};
    destroy_system_objects();
    EXPECT_EQ(::chdir(saved_cwd_.c_str()), 0);
    g_paths.project_folder = saved_project_;
    g_quit_requested = 0;
    fake_dynlib_clear();
  }
  LayerImage* make_layer(const char* path, i32 w, i32 h) {
    ObjectNode* node = get_named_object(g_object_roots[kTreeLayer], path, 0, 1);
    EXPECT_NE(node, nullptr);
    node->payload_kind = kPayloadLayerImage;
    LayerImage* im = get_or_create_layer_image(node);
    u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
    for (i32 i = 0; i < w * h; ++i) buf[i] = 0x11223344u;
    replace_layer_pixels(im, buf, w, h);
    return im;
  }
  ParamSet play_params(const char* layer, const char* file) {
    ParamSet a;
    a.clear();
    a.request_name = "theora";
    if (layer) a.set_text(0, layer);
    if (file) a.set_text(2, file);
    return a;
  }
  // Largest channel difference between the layer's top-left w x h and the
  // reference frame (320 x 240).
  static int difference(const LayerImage* im, int frame, int w, int h) {
    int worst = 0;
    const unsigned char* ref = reference_.data() + static_cast<size_t>(frame) * 320 * 240 * 8;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint16_t argb[4];
        std::memcpy(argb, ref + (static_cast<size_t>(y) * 320 + static_cast<size_t>(x)) * 8, 8);
        const u32 px = im->pixels[y * im->width + x];
        const int got[3] = {static_cast<int>(px & 0xFF), static_cast<int>((px >> 8) & 0xFF),
                            static_cast<int>((px >> 16) & 0xFF)};
        const int want[3] = {(argb[3] + 128) / 257, (argb[2] + 128) / 257, (argb[1] + 128) / 257};
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(got[c] - want[c]));
      }
    return worst;
  }
  static std::string folder_;
  static std::vector<unsigned char> reference_;
  std::string saved_cwd_, saved_project_;
};
std::string TheoraMovieTest::folder_;
std::vector<unsigned char> TheoraMovieTest::reference_;

}  // namespace

TEST_F(TheoraMovieTest, FramesFollowTheClockAndTheMovieClosesAtItsEnd) {
  LayerImage* im = make_layer("W0/mv", 320, 240);
  LayerImage* w0 = static_cast<LayerImage*>(g_system_objects[kTreeLayer]->payload);
  ASSERT_EQ(reference_.size(), static_cast<size_t>(kFrames) * 320 * 240 * 8);
  ASSERT_EQ(theora_movie_play(play_params("mv", "CLIP.OGV")), 0) << g_error_report_log.last_message;
  EXPECT_EQ(g_theora_movie.playing, 1);
  EXPECT_EQ(g_theora_movie.total_frames, kFrames);
  EXPECT_LE(difference(im, 0, 320, 240), 2);
  // Frame i shows from i / 30 s on.
  for (int i = 1; i < kFrames; ++i) {
    fake_clock_set(50000 + static_cast<u32>((i * 1000 + 29) / 30));
    w0->is_dirty = 0;
    theora_movie_step();
    EXPECT_EQ(g_theora_movie.frame_index, i);
    EXPECT_LE(difference(im, i, 320, 240), 2) << "frame " << i;
    EXPECT_EQ(w0->is_dirty, 1) << "frame " << i;  // the change reaches the window's layer
  }
  // Within the last frame's thirtieth of a second nothing is drawn again.
  w0->is_dirty = 0;
  fake_clock_advance(10);
  theora_movie_step();
  EXPECT_EQ(w0->is_dirty, 0);
  EXPECT_EQ(theora_movie_now_sample(), (kFrames - 1) * 22050 / 30);
  fake_clock_set(50000 + kFrames * 1000 / 30 - 1);
  theora_movie_step();
  EXPECT_EQ(g_theora_movie.playing, 1);
  fake_clock_set(50000 + (kFrames * 1000 + 29) / 30);
  theora_movie_step();
  EXPECT_EQ(g_theora_movie.playing, 0);
  EXPECT_EQ(fake_dynlib_loaded_count(), 0);  // the library was unloaded with the movie
}

TEST_F(TheoraMovieTest, CopiesAreClippedToTheLayerAndStopOnItsRelease) {
  // A smaller layer: rows at the layer's width, nothing written beyond it.
  LayerImage* im = make_layer("W0/small", 100, 50);
  ASSERT_EQ(theora_movie_play(play_params("small", "clip.ogv")), 0);
  EXPECT_LE(difference(im, 0, 100, 50), 2);
  // The layer goes away while the movie plays: the movie ends, no write.
  ObjectNode* node = resolve_object_path(g_object_roots[kTreeLayer], "W0/small", 0);
  ASSERT_NE(node, nullptr);
  object_detach(node);
  object_subtree_free(node);
  fake_clock_advance(40);
  theora_movie_step();
  EXPECT_EQ(g_theora_movie.playing, 0);
  // A wider layer keeps its own stride.
  LayerImage* wide = make_layer("W0/wide", 400, 250);
  ASSERT_EQ(theora_movie_play(play_params("wide", "clip.ogv")), 0);
  EXPECT_LE(difference(wide, 0, 320, 240), 2);
  EXPECT_EQ(wide->pixels[330], 0x11223344u);  // right of the picture, untouched
  // A second play without a stop frees the first movie and plays again.
  ASSERT_EQ(theora_movie_play(play_params("wide", "clip.ogv")), 0);
  EXPECT_EQ(fake_dynlib_loaded_count(), 1);
}

TEST_F(TheoraMovieTest, TheFrameBufferSizeIsLoggedOnlyWhenItChanges) {
  const std::string saved_program = g_paths.program_folder_true;
  g_paths.program_folder_true = folder_;
  const std::string log = folder_ + "/debuglog.txt";
  std::remove(log.c_str());
  reset_debug_log_state();
  make_layer("W0/mv", 320, 240);
  // A clip started again and again (as a looping corner clip is) logs its
  // size once.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(theora_movie_play(play_params("mv", "clip.ogv")), 0);
  const std::vector<unsigned char> bytes = read_file(log);
  const std::string text(bytes.begin(), bytes.end());
  std::size_t lines = 0;
  for (std::size_t at = text.find("theora frame buffer"); at != std::string::npos;
       at = text.find("theora frame buffer", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << text;
  EXPECT_NE(text.find("OGV_SX = 320, OGV_SY = 240"), std::string::npos) << text;
  std::remove(log.c_str());
  g_paths.program_folder_true = saved_program;
}

TEST_F(TheoraMovieTest, FailuresStopTheCommand) {
  make_layer("W0/mv", 320, 240);
  // No target layer given ever: reported, nothing decoded.
  EXPECT_EQ(theora_movie_play(play_params(nullptr, "clip.ogv")), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
  g_quit_requested = 0;
  reset_error_report_log();
  EXPECT_EQ(theora_movie_play(play_params("nothere", nullptr)), -1);
  EXPECT_EQ(g_error_report_log.last_number, 101250u);
  g_quit_requested = 0;
  // Without the file name only the target is resolved.
  reset_error_report_log();
  EXPECT_EQ(theora_movie_play(play_params("mv", nullptr)), 0);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
  EXPECT_EQ(g_theora_movie.playing, 0);
  // A library without one of its exports is not used.
  fake_dynlib_clear();
  std::vector<FakeExport> partial(kExports.begin(), kExports.end() - 1);
  fake_dynlib_register("TheoraLib.dll", partial.data(), static_cast<int>(partial.size()));
  EXPECT_EQ(theora_movie_play(play_params("mv", "clip.ogv")), -1);
  ASSERT_EQ(fake_ui_boxes().size(), 1u);
  EXPECT_EQ(fake_ui_boxes()[0].text, sjis_message("DLLの読み込みに失敗しました。"));
  EXPECT_EQ(g_theora_movie.playing, 0);
  EXPECT_EQ(fake_dynlib_loaded_count(), 0);
}

TEST(TheoraCallbacks, ReadNeverPassesTheData) {
  // Without a movie loaded the size is 0 and nothing is copied.
  char buf[8] = {};
  EXPECT_EQ(theora_read_callback(buf, buf, 0, 8), 0);
  EXPECT_EQ(theora_read_callback(nullptr, buf, 0, 8), 0);
  EXPECT_EQ(theora_read_callback(buf, buf, -1, 8), 0);
  // Oversized frames are refused.
  EXPECT_LT(theora_resize_callback(nullptr, 8193, 10), 0);
  EXPECT_LT(theora_resize_callback(nullptr, 100000, 100000), 0);
}
