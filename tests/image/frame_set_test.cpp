// JPEG frame sets packed by the fixture writer from JPEGs that cjpeg makes at
// test time; every decoded frame is compared with djpeg's output.
#include "engine/image/frame_set.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"
#include "tests/support/frame_set_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Pnm {
  int w = 0, h = 0, comps = 0;
  Bytes data;
};

// A scratch folder for the tools' files, removed with the test.
struct Scratch {
  std::string dir;
  Scratch() {
    char tmpl[] = "/tmp/kl_frames_XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "";
  }
  ~Scratch() {
    if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }
};

Bytes read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool parse_pnm(const Bytes& b, Pnm* out) {
  std::string head(b.begin(), b.begin() + static_cast<long>(std::min<std::size_t>(b.size(), 64)));
  std::istringstream in(head);
  std::string magic;
  int maxval = 0;
  in >> magic >> out->w >> out->h >> maxval;
  if ((magic != "P6" && magic != "P5") || maxval != 255 || !in) return false;
  out->comps = magic == "P6" ? 3 : 1;
  const std::size_t at = static_cast<std::size_t>(in.tellg()) + 1;  // one whitespace byte
  const std::size_t n = static_cast<std::size_t>(out->w) * out->h * out->comps;
  if (b.size() < at + n) return false;
  out->data.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
  return true;
}

// A picture of w x h with comps channels that differs per seed.
Pnm picture(int w, int h, int comps, int seed) {
  Pnm p{w, h, comps, Bytes(static_cast<std::size_t>(w) * h * comps)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < comps; ++c)
        p.data[(static_cast<std::size_t>(y) * w + x) * comps + c] =
            static_cast<std::uint8_t>((x * (7 + c) + y * (3 + seed) + seed * 40 + c * 85) & 0xFF);
  return p;
}

// cjpeg's JPEG of the picture.
Bytes cjpeg(const Scratch& s, const Pnm& p, const std::string& tag, int quality = 85) {
  const std::string in = s.path(tag + (p.comps == 3 ? ".ppm" : ".pgm"));
  {
    std::ofstream f(in, std::ios::binary);
    f << (p.comps == 3 ? "P6\n" : "P5\n") << p.w << " " << p.h << "\n255\n";
    f.write(reinterpret_cast<const char*>(p.data.data()), static_cast<std::streamsize>(p.data.size()));
  }
  const std::string out = s.path(tag + ".jpg");
  const std::string cmd = "cjpeg -quality " + std::to_string(quality) + " -outfile '" + out + "' '" + in + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return read_file(out);
}

// djpeg's decode of a JPEG.
Pnm djpeg(const Scratch& s, const Bytes& jpeg, const std::string& tag) {
  const std::string in = s.path(tag + "_d.jpg"), out = s.path(tag + "_d.pnm");
  {
    std::ofstream f(in, std::ios::binary);
    f.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  }
  const std::string cmd = "djpeg -pnm -outfile '" + out + "' '" + in + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  Pnm p;
  EXPECT_TRUE(parse_pnm(read_file(out), &p)) << tag;
  return p;
}

// The B, G, R, A pixels djpeg's colour (and alpha) decode stand for.
std::vector<u32> expected_pixels(const Pnm& colour, const Pnm* alpha) {
  std::vector<u32> px(static_cast<std::size_t>(colour.w) * colour.h);
  for (std::size_t i = 0; i < px.size(); ++i) {
    const std::uint8_t* c = &colour.data[i * colour.comps];
    const u32 r = c[0], g = colour.comps == 3 ? c[1] : c[0], b = colour.comps == 3 ? c[2] : c[0];
    const u32 a = alpha ? alpha->data[i] : 255u;
    px[i] = a << 24 | r << 16 | g << 8 | b;
  }
  return px;
}

Bytes with_set(const FrameSetSpec& spec, FrameSet** out) {
  Bytes file = write_frame_set(spec);
  u8* bytes = static_cast<u8*>(std::malloc(file.size() ? file.size() : 1));
  std::memcpy(bytes, file.data(), file.size());
  EXPECT_EQ(make_frame_set(bytes, static_cast<u32>(file.size()), "t.fs", out), 0);
  return file;
}

class FrameSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
    image = new_layer_image();
  }
  void TearDown() override {
    release_image_frame_set(image);
    free_layer_image(image);
    release_frame_decoder();
    g_quit_requested = 0;
  }
  void expect_pixels(const std::vector<u32>& want, int w, int h, const std::string& what) {
    ASSERT_EQ(image->width, w) << what;
    ASSERT_EQ(image->height, h) << what;
    ASSERT_EQ(image->pixels, image->owned_pixels) << what;
    for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(image->pixels[i], want[i]) << what << " pixel " << i;
  }
  Scratch scratch;
  LayerImage* image = nullptr;
};

}  // namespace

TEST_F(FrameSetTest, EveryFrameEqualsDjpeg) {
  // Frames of different sizes and kinds; the set is read twice in a row so
  // that the spare buffer and the shared decompressor are reused.
  struct FrameCase {
    int w, h, comps;
  } frames[] = {{37, 19, 3}, {16, 16, 3}, {5, 7, 1}, {64, 40, 3}};
  for (int alpha_flag : {0, 1, 2}) {
    FrameSetSpec spec;
    spec.alpha_flag = alpha_flag;
    spec.value_a = 11;
    spec.value_b = -22;
    spec.value_c = 33;
    std::vector<std::vector<u32>> want;
    int k = 0;
    for (const FrameCase& f : frames) {
      const std::string tag = "f" + std::to_string(alpha_flag) + "_" + std::to_string(k);
      FrameSetFrame fr;
      fr.colour = cjpeg(scratch, picture(f.w, f.h, f.comps, k), tag);
      const Pnm colour = djpeg(scratch, fr.colour, tag);
      Pnm alpha;
      if (alpha_flag) {
        fr.alpha = cjpeg(scratch, picture(f.w, f.h, 1, k + 5), tag + "a", 90);
        alpha = djpeg(scratch, fr.alpha, tag + "a");
      }
      want.push_back(expected_pixels(colour, alpha_flag ? &alpha : nullptr));
      spec.frames.push_back(fr);
      ++k;
    }
    ASSERT_EQ(with_set(spec, &image->frame_set).size() > 0, true);
    EXPECT_EQ(image->frame_set->count, 4);
    EXPECT_EQ(image->frame_set->value_b, -22);
    for (int pass = 0; pass < 2; ++pass) {
      for (int n = 0; n < 4; ++n) {
        const std::string what = "alpha_flag " + std::to_string(alpha_flag) + " frame " + std::to_string(n);
        ASSERT_EQ(show_frame_in_image(image, n), 0) << what;
        expect_pixels(want[n], frames[n].w, frames[n].h, what);
        EXPECT_EQ(image->has_alpha, alpha_flag != 0 ? 1 : 0) << what;
        EXPECT_EQ(image->loaded_width, frames[n].w) << what;
      }
    }
    // Numbers outside the set show its first and last frames.
    ASSERT_EQ(show_frame_in_image(image, -3), 0);
    expect_pixels(want[0], frames[0].w, frames[0].h, "frame -3");
    ASSERT_EQ(show_frame_in_image(image, 99), 0);
    expect_pixels(want[3], frames[3].w, frames[3].h, "frame 99");
    release_image_frame_set(image);
    EXPECT_EQ(image->frame_set, nullptr);
  }
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(FrameSetTest, DamagedFrameKeepsThePixelsAndTheNextFrameDecodes) {
  const Bytes good = cjpeg(scratch, picture(24, 12, 3, 1), "good");
  const Bytes other = cjpeg(scratch, picture(10, 30, 3, 2), "other");
  const Pnm good_ref = djpeg(scratch, good, "good");
  const Pnm other_ref = djpeg(scratch, other, "other");
  // Damage found only once decompression has started: the first
  // component's quantisation table becomes one the file does not define.
  Bytes bad_table = other;
  for (std::size_t i = 0; i + 12 < bad_table.size(); ++i) {
    if (bad_table[i] == 0xFF && bad_table[i + 1] == 0xC0) {
      bad_table[i + 12] = 3;  // SOF0: marker, length, precision, height, width, count, then id, sampling, table
      break;
    }
  }
  Bytes not_jpeg = good;
  not_jpeg[0] = 0x00;
  Bytes cut = other;
  cut.resize(cut.size() - 12);  // ends mid-scan: the library finishes the picture with a warning
  const Bytes bad_alpha = cjpeg(scratch, picture(24, 11, 1, 3), "bad_alpha");  // not the frame's size
  const Bytes alpha = cjpeg(scratch, picture(24, 12, 1, 4), "alpha");
  const Bytes alpha_other = cjpeg(scratch, picture(10, 30, 1, 5), "alpha_other");
  const Pnm alpha_ref = djpeg(scratch, alpha, "alpha");
  const Pnm alpha_other_ref = djpeg(scratch, alpha_other, "alpha_other");

  FrameSetSpec spec;
  spec.alpha_flag = 1;
  spec.frames = {{good, alpha}, {bad_table, alpha_other}, {other, alpha_other}, {not_jpeg, alpha},
                 {good, bad_alpha}, {good, alpha}, {cut, alpha_other}};
  with_set(spec, &image->frame_set);
  const std::vector<u32> want_good = expected_pixels(good_ref, &alpha_ref);
  const std::vector<u32> want_other = expected_pixels(other_ref, &alpha_other_ref);
  struct Step {
    int frame;
    int result;
    const std::vector<u32>* shown;
    int w, h;
  } steps[] = {
      {0, 0, &want_good, 24, 12},   {1, -2, &want_good, 24, 12}, {2, 0, &want_other, 10, 30},
      {3, -2, &want_other, 10, 30}, {4, -2, &want_other, 10, 30}, {5, 0, &want_good, 24, 12},
      {1, -2, &want_good, 24, 12},  {2, 0, &want_other, 10, 30},
  };
  for (const Step& s : steps) {
    const std::string what = "frame " + std::to_string(s.frame);
    image->has_alpha = 7;  // a failed frame must not touch it
    EXPECT_EQ(show_frame_in_image(image, s.frame), s.result) << what;
    expect_pixels(*s.shown, s.w, s.h, what);
    EXPECT_EQ(image->has_alpha, s.result == 0 ? 1 : 7) << what;
  }
  // A cut part still gives a picture of the frame's size.
  EXPECT_EQ(show_frame_in_image(image, 6), 0);
  EXPECT_EQ(image->width, 10);
  EXPECT_EQ(image->height, 30);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(FrameSetTest, FilesThatAreNotFrameSetsAreRefused) {
  const Bytes jpeg = cjpeg(scratch, picture(8, 8, 3, 0), "j");
  const Bytes grey = cjpeg(scratch, picture(8, 8, 1, 0), "g");
  auto two_frames = [&](int alpha_flag) {
    FrameSetSpec s;
    s.alpha_flag = alpha_flag;
    s.frames = {{jpeg, grey}, {jpeg, grey}};
    return s;
  };
  const u32 tables_end = 32 + 12 * 2;
  const u32 file_size = static_cast<u32>(write_frame_set(two_frames(1)).size());
  struct Case {
    const char* what;
    FrameSetSpec spec;
    int result;
  } cases[] = {
      {"two good frames", two_frames(1), 0},
      {"count 0", [&] { auto s = two_frames(1); s.count = 0; return s; }(), -2},
      {"count -1", [&] { auto s = two_frames(1); s.count = -1; return s; }(), -2},
      {"count past the tables", [&] { auto s = two_frames(1); s.count = 0x7FFFFFFF; return s; }(), -2},
      {"shorter than the header", [&] { auto s = two_frames(1); s.cut = file_size - 20; return s; }(), -2},
      {"tables past the end", [&] { auto s = two_frames(1); s.cut = file_size - tables_end + 4; return s; }(), -2},
      {"offset past the end", [&] { auto s = two_frames(1); s.offsets = {std::nullopt, file_size + 1}; return s; }(), -2},
      {"part over the tables", [&] { auto s = two_frames(1); s.offsets = {tables_end - 4}; return s; }(), -2},
      {"offset wrapping", [&] { auto s = two_frames(1); s.offsets = {0xFFFFFFF0u}; return s; }(), -2},
      {"size past the end", [&] { auto s = two_frames(1); s.sizes = {std::nullopt, file_size}; return s; }(), -2},
      {"alpha past the end", [&] { auto s = two_frames(1); s.alpha_sizes = {0xFFFFFFFFu}; return s; }(), -2},
      {"unread alpha past the end", [&] { auto s = two_frames(0); s.alpha_sizes = {0xFFFFFFFFu}; return s; }(), 0},
      {"last byte cut", [&] { auto s = two_frames(1); s.cut = 1; return s; }(), -2},
  };
  for (const Case& c : cases) {
    const Bytes file = write_frame_set(c.spec);
    u8* bytes = static_cast<u8*>(std::malloc(file.size() ? file.size() : 1));
    std::memcpy(bytes, file.data(), file.size());
    FrameSet* set = reinterpret_cast<FrameSet*>(1);
    EXPECT_EQ(make_frame_set(bytes, static_cast<u32>(file.size()), "t.fs", &set), c.result) << c.what;
    if (c.result == 0) {
      ASSERT_NE(set, nullptr) << c.what;
      image->frame_set = set;
      EXPECT_EQ(show_frame_in_image(image, 1), 0) << c.what;
      EXPECT_EQ(image->width, 8) << c.what;
      EXPECT_EQ(image->has_alpha, c.spec.alpha_flag ? 1 : 0) << c.what;
      release_image_frame_set(image);
    } else {
      EXPECT_EQ(set, nullptr) << c.what;
    }
  }
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(FrameSetTest, SidesAbove8192AreRefusedWith100091) {
  struct Case {
    int w, h;
  } cases[] = {{1, 8193}, {8193, 1}};
  const Bytes small = cjpeg(scratch, picture(6, 4, 3, 0), "small");
  for (const Case& c : cases) {
    reset_error_report_log();
    const Pnm tall = picture(c.w, c.h, 1, 0);
    FrameSetSpec spec;
    spec.frames = {{small, {}}, {encode_jpeg(c.w, c.h, 1, tall.data.data()), {}}};
    with_set(spec, &image->frame_set);
    ASSERT_EQ(show_frame_in_image(image, 0), 0);
    EXPECT_EQ(show_frame_in_image(image, 1), -3) << c.w << "x" << c.h;
    EXPECT_EQ(g_error_report_log.last_number, 100091u);
    EXPECT_EQ(image->width, 6);
    EXPECT_EQ(image->height, 4);
    // The decompressor still serves the next frame.
    EXPECT_EQ(show_frame_in_image(image, 0), 0);
    release_image_frame_set(image);
  }
}

TEST_F(FrameSetTest, ToneCopyIsDroppedAndThePixelsAreTheLayersOwn) {
  const Bytes a = cjpeg(scratch, picture(9, 9, 3, 0), "a");
  FrameSetSpec spec;
  spec.frames = {{a, {}}, {a, {}}};
  with_set(spec, &image->frame_set);
  ASSERT_EQ(show_frame_in_image(image, 0), 0);
  u32* first = image->owned_pixels;
  // A tone copy in use stands for the old frame only.
  image->tone_pixels = static_cast<u32*>(std::malloc(image_buffer_bytes(9, 9)));
  image->pixels = image->tone_pixels;
  image->tone_stamp = 5;
  ASSERT_EQ(show_frame_in_image(image, 1), 0);
  EXPECT_EQ(image->tone_pixels, nullptr);
  EXPECT_EQ(image->tone_stamp, 0u);
  EXPECT_EQ(image->pixels, image->owned_pixels);
  // Frames alternate between two buffers: the old one is kept for the next.
  EXPECT_NE(image->owned_pixels, first);
  ASSERT_EQ(show_frame_in_image(image, 0), 0);
  EXPECT_EQ(image->owned_pixels, first);
}
