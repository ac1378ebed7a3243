// The TheoraLib stand-in against GStreamer's own decode of the same files,
// made in the test by gst-launch-1.0 (videotestsrc, theoraenc, vorbisenc,
// oggmux); the reference pictures come from theoradec and videoconvert
// without chroma resampling, to 16-bit ARGB (its exact matrix path; the
// 8-bit path rounds its coefficients to a few bits) and then to 8-bit B, G,
// R by rounding.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugins/theoralib/theoralib_api.h"

extern "C" {
void* theoralib_m_create();
void theoralib_m_free(void*);
int theoralib_m_load(void*, const void*, TheoraReadFn, TheoraSizeFn, void*, TheoraRowFn, TheoraResizeFn, int);
int theoralib_m_decodeframe(void*, int);
void theoralib_m_setvrevers(void*, int);
int theoralib_m_totalframe(void*);
int theoralib_m_info(void*, int);
void* theoralib_w_create();
void theoralib_w_free(void*);
int theoralib_w_load(void*, const void*, TheoraReadFn, TheoraSizeFn);
int theoralib_w_nowsample(void*);
int theoralib_w_totalsample(void*);
int theoralib_w_info(void*, int);
int theoralib_w_totaltime(void*);
}

namespace {

std::vector<unsigned char> g_data;
std::vector<unsigned char> g_frame;
int g_w = 0, g_h = 0;

int read_cb(const void* base, void* dest, int offset, int length) {
  if (base != g_data.data() || offset < 0 || offset >= static_cast<int>(g_data.size())) return 0;
  int n = length;
  if (offset + n > static_cast<int>(g_data.size())) n = static_cast<int>(g_data.size()) - offset;
  std::memcpy(dest, g_data.data() + offset, static_cast<size_t>(n));
  return n;
}
int size_cb() { return static_cast<int>(g_data.size()); }
void* row_cb(void*, int y) { return g_frame.data() + static_cast<size_t>(y) * static_cast<size_t>(g_w) * 4; }
int resize_cb(void*, int w, int h) {
  g_w = w;
  g_h = h;
  g_frame.assign(static_cast<size_t>(w) * 4 * static_cast<size_t>(h), 0);
  return 0;
}

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

struct Clip {
  const char* format;
  int width, height, frames;
};

class TheoraLibTest : public ::testing::TestWithParam<Clip> {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/kltheoraXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
  }
  static void TearDownTestSuite() { std::system(("rm -rf " + folder_).c_str()); }
  // The movie and GStreamer's pictures of it.
  void make(const Clip& c, std::vector<unsigned char>* reference) {
    const std::string base = folder_ + "/" + c.format + std::to_string(c.width);
    const std::string ogv = base + ".ogv", raw = base + ".argb64";
    const std::string make_cmd =
        "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(c.frames) +
        " pattern=smpte ! video/x-raw,format=" + c.format + ",width=" + std::to_string(c.width) +
        ",height=" + std::to_string(c.height) +
        ",framerate=30/1 ! theoraenc ! oggmux name=m ! filesink location=" + ogv +
        " audiotestsrc num-buffers=43 ! audio/x-raw,rate=44100,channels=1 ! vorbisenc ! m. >/dev/null 2>&1";
    ASSERT_EQ(std::system(make_cmd.c_str()), 0) << make_cmd;
    const std::string decode_cmd = "gst-launch-1.0 -q filesrc location=" + ogv +
                                   " ! oggdemux ! theoradec ! videoconvert chroma-mode=none dither=none ! "
                                   "video/x-raw,format=ARGB64 ! filesink location=" + raw + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(decode_cmd.c_str()), 0) << decode_cmd;
    g_data = read_file(ogv);
    *reference = read_file(raw);
    ASSERT_FALSE(g_data.empty());
  }
  static std::string folder_;
};
std::string TheoraLibTest::folder_;

// Largest channel difference of frame i against the reference (alpha left
// out: GStreamer writes it opaque as the stand-in does).
int worst_difference(const std::vector<unsigned char>& reference, int i, int w, int h) {
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  const unsigned char* ref = reference.data() + pixels * 8 * static_cast<size_t>(i);
  int worst = 0;
  for (size_t p = 0; p < pixels; ++p) {
    std::uint16_t argb[4];
    std::memcpy(argb, ref + p * 8, 8);
    const int bgr[3] = {argb[3], argb[2], argb[1]};
    for (int c = 0; c < 3; ++c) {
      const int want = (bgr[c] + 128) / 257;
      const int d = std::abs(want - static_cast<int>(g_frame[p * 4 + static_cast<size_t>(c)]));
      if (d > worst) worst = d;
    }
  }
  return worst;
}

TEST_P(TheoraLibTest, EveryFrameEqualsGStreamersDecode) {
  const Clip c = GetParam();
  std::vector<unsigned char> reference;
  make(c, &reference);
  void* movie = theoralib_m_create();
  theoralib_m_setvrevers(movie, 1);
  ASSERT_EQ(theoralib_m_load(movie, g_data.data(), read_cb, size_cb, nullptr, row_cb, resize_cb, 0), 0);
  ASSERT_EQ(g_w, c.width);
  ASSERT_EQ(g_h, c.height);
  const int n = theoralib_m_totalframe(movie);
  ASSERT_EQ(n, c.frames);
  const size_t frame_bytes = static_cast<size_t>(c.width) * 4 * static_cast<size_t>(c.height);
  ASSERT_EQ(reference.size(), frame_bytes * 2 * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(theoralib_m_decodeframe(movie, i), 1) << i;
    EXPECT_LE(worst_difference(reference, i, c.width, c.height), 2) << c.format << " frame " << i;
  }
  EXPECT_EQ(theoralib_m_decodeframe(movie, n), 0);
  // An earlier index starts again from the beginning.
  ASSERT_EQ(theoralib_m_decodeframe(movie, 3), 1);
  EXPECT_LE(worst_difference(reference, 3, c.width, c.height), 2);
  // Frames skipped on the way (decoded, not shown) and the same frame
  // again: what is shown is still the frame asked for.
  for (int i : {3, 3, n - 1}) {
    ASSERT_EQ(theoralib_m_decodeframe(movie, i), 1) << i;
    EXPECT_LE(worst_difference(reference, i, c.width, c.height), 2) << c.format << " frame " << i << " after a jump";
  }
  ASSERT_EQ(theoralib_m_decodeframe(movie, 3), 1);
  // Bottom row first without vrevers.
  theoralib_m_setvrevers(movie, 0);
  ASSERT_EQ(theoralib_m_decodeframe(movie, 4), 1);
  std::vector<unsigned char> flipped = g_frame;
  theoralib_m_setvrevers(movie, 1);
  ASSERT_EQ(theoralib_m_decodeframe(movie, 4), 1);
  const size_t row = static_cast<size_t>(c.width) * 4;
  EXPECT_EQ(std::memcmp(flipped.data(), g_frame.data() + row * static_cast<size_t>(c.height - 1), row), 0);
  // The sound's timing, read from the Vorbis headers.
  void* sound = theoralib_w_create();
  ASSERT_EQ(theoralib_w_load(sound, g_data.data(), read_cb, size_cb), 0);
  EXPECT_EQ(theoralib_w_info(sound, 0), 44100);
  EXPECT_EQ(theoralib_w_info(sound, 1), 1);
  EXPECT_NEAR(theoralib_w_totalsample(sound), 43 * 1024, 1024);
  EXPECT_NEAR(theoralib_w_totaltime(sound), 43 * 1024 * 1000 / 44100, 25);
  EXPECT_EQ(theoralib_w_nowsample(sound), 4 * 44100 / 30);
  theoralib_w_free(sound);
  theoralib_m_free(movie);
}

INSTANTIATE_TEST_SUITE_P(Formats, TheoraLibTest,
                         ::testing::Values(Clip{"I420", 320, 240, 12}, Clip{"Y42B", 100, 60, 6},
                                           Clip{"Y444", 98, 54, 6}));

TEST(TheoraLibInput, RefusesWhatIsNotAMovie) {
  struct Case {
    std::vector<unsigned char> bytes;
  } cases[] = {{{}}, {{'O', 'g', 'g', 'S', 0, 2}}, {std::vector<unsigned char>(4096, 0x5A)}};
  for (const Case& c : cases) {
    g_data = c.bytes;
    void* movie = theoralib_m_create();
    EXPECT_EQ(theoralib_m_load(movie, g_data.data(), read_cb, size_cb, nullptr, row_cb, resize_cb, 0), -1);
    EXPECT_EQ(theoralib_m_decodeframe(movie, 0), -1);
    EXPECT_EQ(theoralib_m_totalframe(movie), 0);
    theoralib_m_free(movie);
    void* sound = theoralib_w_create();
    EXPECT_EQ(theoralib_w_load(sound, g_data.data(), read_cb, size_cb), -1);
    EXPECT_EQ(theoralib_w_nowsample(sound), 0);
    theoralib_w_free(sound);
  }
}

// Each movie's own frame: rows written for one movie must not be touched by
// another.
std::map<void*, std::vector<unsigned char>> g_frames;
int g_frame_w = 0;
void* own_row_cb(void* movie, int y) {
  return g_frames[movie].data() + static_cast<size_t>(y) * static_cast<size_t>(g_frame_w) * 4;
}
int own_resize_cb(void* movie, int w, int h) {
  g_frame_w = w;
  g_frames[movie].assign(static_cast<size_t>(w) * 4 * static_cast<size_t>(h), 0);
  return 0;
}

// Rows, and parts of rows, whose picture did not change are not converted
// again: every frame of a moving picture shown in turn equals, byte for
// byte, the same frame shown by a movie that converts it whole.
TEST(TheoraLibKeptRows, FramesShownInTurnEqualEachConvertedWhole) {
  char folder[] = "/tmp/kltheorakeptXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const Clip clips[] = {{"I420", 320, 240, 10}, {"Y42B", 100, 60, 6}, {"Y444", 98, 54, 6}, {"I420", 130, 50, 8}};
  for (const Clip& c : clips) {
    const std::string ogv = std::string(folder) + "/ball.ogv";
    const std::string cmd = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(c.frames) +
                            " pattern=ball ! video/x-raw,format=" + c.format + ",width=" + std::to_string(c.width) +
                            ",height=" + std::to_string(c.height) +
                            ",framerate=30/1 ! theoraenc ! oggmux ! filesink location=" + ogv + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    g_data = read_file(ogv);
    ASSERT_FALSE(g_data.empty());
    void* in_turn = theoralib_m_create();
    theoralib_m_setvrevers(in_turn, 1);
    ASSERT_EQ(theoralib_m_load(in_turn, g_data.data(), read_cb, size_cb, nullptr, own_row_cb, own_resize_cb, 0), 0);
    ASSERT_EQ(theoralib_m_totalframe(in_turn), c.frames);
    int moved = 0;
    std::vector<unsigned char> before;
    for (int i = 0; i < c.frames; ++i) {
      ASSERT_EQ(theoralib_m_decodeframe(in_turn, i), 1) << c.format << " " << i;
      void* whole = theoralib_m_create();
      theoralib_m_setvrevers(whole, 1);
      ASSERT_EQ(theoralib_m_load(whole, g_data.data(), read_cb, size_cb, nullptr, own_row_cb, own_resize_cb, 0), 0);
      ASSERT_EQ(theoralib_m_decodeframe(whole, i), 1);
      EXPECT_TRUE(g_frames[in_turn] == g_frames[whole]) << c.format << " " << c.width << " frame " << i;
      moved += !before.empty() && before != g_frames[in_turn];
      before = g_frames[in_turn];
      theoralib_m_free(whole);
      g_frames.erase(whole);
    }
    EXPECT_GT(moved, 0) << c.format << ": the picture never changed";
    theoralib_m_free(in_turn);
    g_frames.clear();
  }
  std::system(("rm -rf " + std::string(folder)).c_str());
}

}  // namespace
