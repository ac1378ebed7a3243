// The four image writers: their files read back by the engine's own readers
// and by the libraries, the byte layouts that are fixed, and every failure
// box. The interop cases read the files with other programs
// (ImageMagick, pngcheck, djpeg, dwebp).
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/image/bmp_decode.h"
#include "engine/image/image_writers.h"
#include "engine/image/jpeg_read.h"
#include "engine/image/layer_image.h"
#include "engine/image/png_read.h"
#include "engine/image/webp_plugin.h"
#include "platform/dynlib.h"
#include "platform/platform.h"
#include "tests/support/zpf_writer.h"

namespace {

using Bytes = std::vector<u8>;

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
bool exists(const std::string& path) { return std::ifstream(path).good(); }
u32 le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<u32>(b[at + 3]) << 24);
}
u32 le16(const Bytes& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }

// A layer with a pattern that has every alpha value, colour steps and
// smooth gradients (for the lossy writer).
LayerImage* make_layer(i32 w, i32 h, bool alpha, bool smooth = false) {
  LayerImage* image = new_layer_image();
  u32* buf = alloc_image_buffer(nullptr, w, h, nullptr);
  install_image_buffer(image, buf, w, h);
  for (i32 y = 0; y < h; ++y)
    for (i32 x = 0; x < w; ++x) {
      u32 b, g, r;
      if (smooth) {
        b = static_cast<u32>(x * 255 / (w > 1 ? w - 1 : 1));
        g = static_cast<u32>(y * 255 / (h > 1 ? h - 1 : 1));
        r = static_cast<u32>((x + y) * 127 / (w + h));
      } else {
        b = static_cast<u32>(x * 37 + y) & 0xFF;
        g = static_cast<u32>(x * 11 + y * 29) & 0xFF;
        r = static_cast<u32>(y * 53 + 7) & 0xFF;
      }
      const u32 a = alpha ? static_cast<u32>(x * 17 + y * 31) & 0xFF : 0x12;
      buf[y * w + x] = b | g << 8 | r << 16 | a << 24;
    }
  image->has_alpha = alpha ? 1 : 0;
  return image;
}

class ImageWritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_error_report_log();
    g_quit_requested = 0;
  }
  void TearDown() override {
    for (LayerImage* l : layers_) free_layer_image(l);
    g_quit_requested = 0;
  }
  LayerImage* layer(i32 w, i32 h, bool alpha, bool smooth = false) {
    layers_.push_back(make_layer(w, h, alpha, smooth));
    return layers_.back();
  }
  LayerImage* decoded(int (*decode)(const u8*, std::size_t, LayerImage*, const char*), const std::string& path) {
    const Bytes bytes = read_file(path);
    LayerImage* out = new_layer_image();
    layers_.push_back(out);
    EXPECT_EQ(decode(bytes.data(), bytes.size(), out, "x"), 0) << path;
    return out;
  }
  std::string at(const std::string& name) const { return folder_.path + "/" + name; }
  static int run(const std::string& command) { return std::system((command + " > /dev/null 2>&1").c_str()); }

  DataScratchFolder folder_;
  std::vector<LayerImage*> layers_;
};

bool same_pixels(const LayerImage* a, const LayerImage* b, u32 mask = 0xFFFFFFFFu) {
  if (a->width != b->width || a->height != b->height) return false;
  for (i32 i = 0; i < a->width * a->height; ++i)
    if ((a->pixels[i] & mask) != (b->pixels[i] & mask)) return false;
  return true;
}

double psnr_rgb(const LayerImage* a, const LayerImage* b) {
  double sum = 0;
  const i32 n = a->width * a->height;
  for (i32 i = 0; i < n; ++i)
    for (int c = 0; c < 3; ++c) {
      const double d = static_cast<double>((a->pixels[i] >> (8 * c)) & 0xFF) - ((b->pixels[i] >> (8 * c)) & 0xFF);
      sum += d * d;
    }
  const double mse = sum / (3.0 * n);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(ImageWritersTest, BmpRowsAreBottomUpPaddedAndWithoutAlpha) {
  EXPECT_EQ(save_bmp(layer(1, 1, true), at("one.bmp").c_str()), 0);
  EXPECT_EQ(read_file(at("one.bmp")).size(), 58u);

  LayerImage* src = layer(5, 3, true);
  ASSERT_EQ(save_bmp(src, at("a.bmp").c_str()), 0);
  const Bytes b = read_file(at("a.bmp"));
  const u32 stride = 16;  // 5 x 3 = 15 bytes, padded to 16
  ASSERT_EQ(b.size(), 54u + stride * 3);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(le32(b, 2), b.size());
  EXPECT_EQ(le32(b, 10), 54u);
  EXPECT_EQ(le32(b, 14), 40u);
  EXPECT_EQ(le32(b, 18), 5u);
  EXPECT_EQ(le32(b, 22), 3u);
  EXPECT_EQ(le16(b, 26), 1u);
  EXPECT_EQ(le16(b, 28), 24u);
  for (std::size_t at_byte = 30; at_byte < 54; ++at_byte) EXPECT_EQ(b[at_byte], 0) << at_byte;
  for (i32 row = 0; row < 3; ++row) {
    const i32 y = 2 - row;  // bottom row first
    for (i32 x = 0; x < 5; ++x) {
      const u32 px = src->pixels[y * 5 + x];
      const std::size_t o = 54 + row * stride + x * 3;
      EXPECT_EQ(b[o] | b[o + 1] << 8 | b[o + 2] << 16, px & 0xFFFFFFu) << x << "," << y;
    }
    EXPECT_EQ(b[54 + row * stride + 15], 0);
  }
  // The engine's own BMP reader gives the colours back.
  EXPECT_TRUE(same_pixels(decoded(decode_bmp_into_layer, at("a.bmp")), src, 0xFFFFFFu));
}

TEST_F(ImageWritersTest, PngKeepsEveryPixelWithAlphaAndMarksGamma) {
  LayerImage* src = layer(33, 17, true);
  for (int level : {0, 5, 9}) {
    const std::string path = at("a" + std::to_string(level) + ".png");
    ASSERT_EQ(save_png(src, path.c_str(), level), 0) << level;
    EXPECT_TRUE(same_pixels(decoded(decode_png_into_layer, path), src)) << level;
    const Bytes b = read_file(path);
    const std::string text(b.begin(), b.end());
    const std::size_t gama = text.find("gAMA");
    ASSERT_NE(gama, std::string::npos);
    // 1 / 2.2 in units of 1/100000, big-endian.
    const u32 g = static_cast<u32>(b[gama + 4]) << 24 | b[gama + 5] << 16 | b[gama + 6] << 8 | b[gama + 7];
    EXPECT_EQ(g, 45455u);
    EXPECT_EQ(b[25], 6) << "colour type RGBA";
    EXPECT_EQ(b[24], 8) << "bit depth";
  }
  // Levels beyond 9 are 9: the same bytes.
  ASSERT_EQ(save_png(src, at("a12.png").c_str(), 12), 0);
  EXPECT_EQ(read_file(at("a12.png")), read_file(at("a9.png")));
  EXPECT_NE(read_file(at("a0.png")).size(), read_file(at("a9.png")).size());
}

TEST_F(ImageWritersTest, PngOfAnOpaqueLayerMakesTheLayerOpaque) {
  LayerImage* src = layer(6, 4, false);
  ASSERT_EQ(save_png(src, at("o.png").c_str(), 5), 0);
  for (i32 i = 0; i < 24; ++i) EXPECT_EQ(src->pixels[i] >> 24, 0xFFu) << i;
  EXPECT_TRUE(same_pixels(decoded(decode_png_into_layer, at("o.png")), src));
  // Quit-requested set: the file is written and the result says so.
  g_quit_requested = 1;
  EXPECT_EQ(save_png(src, at("q.png").c_str(), 5), 1);
  EXPECT_TRUE(exists(at("q.png")));
}

TEST_F(ImageWritersTest, JpegIsBaselineRgbAtTheQualityAsked) {
  LayerImage* src = layer(64, 48, false, true);
  ASSERT_EQ(save_jpeg(src, at("q90.jpg").c_str(), 90), 0);
  const Bytes b = read_file(at("q90.jpg"));
  ASSERT_GT(b.size(), 4u);
  EXPECT_EQ(b[0], 0xFF);
  EXPECT_EQ(b[1], 0xD8);
  bool baseline = false, progressive = false;
  for (std::size_t i = 2; i + 1 < b.size(); ++i) {
    if (b[i] != 0xFF) continue;
    baseline |= b[i + 1] == 0xC0;
    progressive |= b[i + 1] == 0xC2;
  }
  EXPECT_TRUE(baseline);
  EXPECT_FALSE(progressive);
  EXPECT_GE(psnr_rgb(decoded(decode_jpeg_into_layer, at("q90.jpg")), src), 40.0);
  // Quality below 1 is 1, above 100 is 100; lower quality gives a smaller file.
  ASSERT_EQ(save_jpeg(src, at("q0.jpg").c_str(), 0), 0);
  ASSERT_EQ(save_jpeg(src, at("q1.jpg").c_str(), 1), 0);
  ASSERT_EQ(save_jpeg(src, at("q100.jpg").c_str(), 100), 0);
  ASSERT_EQ(save_jpeg(src, at("q200.jpg").c_str(), 200), 0);
  EXPECT_EQ(read_file(at("q0.jpg")), read_file(at("q1.jpg")));
  EXPECT_EQ(read_file(at("q200.jpg")), read_file(at("q100.jpg")));
  EXPECT_LT(read_file(at("q1.jpg")).size(), b.size());
}

// Every box of the failure table: a file that cannot be created.
TEST_F(ImageWritersTest, AFileThatCannotBeCreatedShowsTheWritersBox) {
  LayerImage* src = layer(4, 4, true);
  const std::string missing = at("no/such/folder/x");
  struct Case {
    const char* what;
    int result;
    std::string box;
  };
  const Case cases[] = {
      {"bmp", save_bmp(src, (missing + ".bmp").c_str()), "File Create Error."},
      {"png", save_png(src, (missing + ".png").c_str(), 5), "[SavePNG] File Create Error.\r\n\r\n" + missing + ".png"},
      {"jpeg", save_jpeg(src, (missing + ".jpg").c_str(), 90), "File Create Error."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, -1) << c.what;
  EXPECT_EQ(g_error_report_log.box_count, 3u);
  // Each box in turn.
  reset_error_report_log();
  save_png(src, (missing + ".png").c_str(), 5);
  EXPECT_EQ(g_error_report_log.last_box_text, cases[1].box);
  EXPECT_EQ(g_error_report_log.last_box_caption, "");
  reset_error_report_log();
  save_bmp(src, (missing + ".bmp").c_str());
  EXPECT_EQ(g_error_report_log.last_box_text, cases[0].box);
  reset_error_report_log();
  save_jpeg(src, (missing + ".jpg").c_str(), 90);
  EXPECT_EQ(g_error_report_log.last_box_text, cases[2].box);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

// A write that fails after the file was created (a full disk) is a
// failure, never a success.
TEST_F(ImageWritersTest, AFailedWriteIsAFailure) {
  if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  LayerImage* src = layer(300, 200, true);
  EXPECT_EQ(save_bmp(src, "/dev/full"), -1);
  EXPECT_EQ(g_error_report_log.last_box_text, "File Create Error.");
  reset_error_report_log();
  EXPECT_EQ(save_png(src, "/dev/full", 0), -1);
  EXPECT_EQ(g_error_report_log.box_count, 0u);
  EXPECT_EQ(save_jpeg(src, "/dev/full", 90), -2);
  EXPECT_EQ(g_error_report_log.box_count, 0u);
}

// The WebP writer through the real plug-in.
class WebpWriterTest : public ImageWritersTest {
 protected:
  void SetUp() override {
    ImageWritersTest::SetUp();
    saved_dynlib_ = g_platform.dynlib;
    g_platform.dynlib = &kPosixDynLib;
    dynlib_set_search_folder(KL_OUT_DIR);
    load_webp_plugin();
    ASSERT_EQ(g_webp.loaded, 1) << kPosixDynLib.last_error();
  }
  void TearDown() override {
    unload_webp_plugin();
    dynlib_set_search_folder(nullptr);
    g_platform.dynlib = saved_dynlib_;
    ImageWritersTest::TearDown();
  }
  const PlatformDynLib* saved_dynlib_ = nullptr;
};

// Decodes a WebP file with libwebp into B, G, R, A words.
std::vector<u32> webp_pixels(const Bytes& b, int* w, int* h) {
  std::vector<u32> out;
  u8* px = WebPDecodeBGRA(b.data(), b.size(), w, h);
  if (!px) return out;
  out.assign(reinterpret_cast<u32*>(px), reinterpret_cast<u32*>(px) + static_cast<std::size_t>(*w) * *h);
  WebPFree(px);
  return out;
}

TEST_F(WebpWriterTest, Quality101IsLosslessAndExact) {
  LayerImage* src = layer(41, 29, true);
  ASSERT_EQ(save_webp(src, at("l.webp").c_str(), 101), 0);
  const Bytes b = read_file(at("l.webp"));
  ASSERT_GT(b.size(), 20u);
  EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 16), "VP8L");
  int w = 0, h = 0;
  const std::vector<u32> px = webp_pixels(b, &w, &h);
  ASSERT_EQ(w, 41);
  ASSERT_EQ(h, 29);
  EXPECT_EQ(std::memcmp(px.data(), src->pixels, px.size() * 4), 0);
  // A lossy quality gives a lossy picture near the source.
  ASSERT_EQ(save_webp(src, at("q.webp").c_str(), 90), 0);
  const Bytes lossy = read_file(at("q.webp"));
  EXPECT_NE(std::string(lossy.begin() + 12, lossy.begin() + 16), "VP8L");
  EXPECT_EQ(webp_pixels(lossy, &w, &h).size(), px.size());
  EXPECT_EQ(g_error_report_log.box_count, 0u);
}

TEST_F(WebpWriterTest, FailuresShowTheirBoxesAndWriteNothing) {
  LayerImage* src = layer(8, 8, true);
  const std::string missing = at("no/such/x.webp");
  EXPECT_EQ(save_webp(src, missing.c_str(), 90), -1);
  EXPECT_EQ(g_error_report_log.last_box_text, "[SaveWEBP] File Create Error.\r\n\r\n" + missing);
  // Without the plug-in the encoder is never called: the encode box, -1.
  unload_webp_plugin();
  reset_error_report_log();
  EXPECT_EQ(save_webp(src, at("n.webp").c_str(), 90), -1);
  EXPECT_EQ(g_error_report_log.last_box_text, sjis_message("エンコードエラー."));
  EXPECT_FALSE(exists(at("n.webp")));
}

// The encoder's own failure (a count of 0 or beyond the buffer) is a
// failure, not an empty file.
int g_scripted_encode_result = 0;
int scripted_encode(const u8*, u8*, i32, i32, i32, i32, u32 capacity) {
  return g_scripted_encode_result < 0 ? static_cast<int>(capacity) + 1 : g_scripted_encode_result;
}
TEST_F(WebpWriterTest, AnEncoderResultOutsideTheBufferIsAFailure) {
  LayerImage* src = layer(8, 8, true);
  const WebpEncodeFn real = g_webp.encode;
  g_webp.encode = scripted_encode;
  for (int scripted : {0, -5, -1}) {
    g_scripted_encode_result = scripted;
    reset_error_report_log();
    EXPECT_EQ(save_webp(src, at("e.webp").c_str(), 90), -1) << scripted;
    EXPECT_EQ(g_error_report_log.last_box_text, sjis_message("エンコードエラー.")) << scripted;
    EXPECT_FALSE(exists(at("e.webp")));
  }
  g_webp.encode = real;
}

// Random sizes and pixels over many seeds: PNG and lossless WebP give every
// byte back, BMP every colour.
TEST_F(WebpWriterTest, RandomPicturesRoundTripOverManySeeds) {
  u32 state = 12345;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int seed = 0; seed < 60; ++seed) {
    const i32 w = static_cast<i32>(next() % 37 + 1), h = static_cast<i32>(next() % 23 + 1);
    LayerImage* src = layer(w, h, true);
    for (i32 i = 0; i < w * h; ++i) src->pixels[i] = next();
    const std::string png = at("r.png"), bmp = at("r.bmp"), webp = at("r.webp");
    ASSERT_EQ(save_png(src, png.c_str(), static_cast<int>(seed % 10)), 0) << seed;
    ASSERT_EQ(save_bmp(src, bmp.c_str()), 0) << seed;
    ASSERT_EQ(save_webp(src, webp.c_str(), 101), 0) << seed;
    EXPECT_TRUE(same_pixels(decoded(decode_png_into_layer, png), src)) << seed << ": " << w << "x" << h;
    EXPECT_TRUE(same_pixels(decoded(decode_bmp_into_layer, bmp), src, 0xFFFFFFu)) << seed;
    int dw = 0, dh = 0;
    const std::vector<u32> px = webp_pixels(read_file(webp), &dw, &dh);
    ASSERT_EQ(px.size(), static_cast<std::size_t>(w) * h) << seed;
    EXPECT_EQ(std::memcmp(px.data(), src->pixels, px.size() * 4), 0) << seed;
    EXPECT_EQ(read_file(bmp).size(), bmp_file_bytes(w, h)) << seed;
  }
}

// ---- What other programs read ----

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " > /dev/null 2>&1").c_str()) == 0;
}

TEST_F(WebpWriterTest, OtherProgramsReadTheWrittenFiles) {
  for (const char* tool : {"compare", "pngcheck", "djpeg", "dwebp"})
    if (!have(tool)) GTEST_SKIP() << tool << " is not installed";
  LayerImage* src = layer(45, 31, true);
  LayerImage* smooth = layer(64, 48, false, true);
  ASSERT_EQ(save_png(src, at("w.png").c_str(), 9), 0);
  ASSERT_EQ(save_bmp(src, at("w.bmp").c_str()), 0);
  ASSERT_EQ(save_webp(src, at("w.webp").c_str(), 101), 0);
  ASSERT_EQ(save_jpeg(smooth, at("w.jpg").c_str(), 90), 0);
  // The reference pictures, written by libpng straight from the pixels.
  auto write_reference = [&](const LayerImage* img, const std::string& path, bool alpha) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, img->width, img->height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_set_bgr(png);
    if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (i32 y = 0; y < img->height; ++y)
      png_write_row(png, reinterpret_cast<png_const_bytep>(img->pixels + y * img->width));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
  };
  write_reference(src, at("ref_rgba.png"), true);
  write_reference(src, at("ref_rgb.png"), false);
  EXPECT_EQ(run("pngcheck -q " + at("w.png")), 0);
  // ImageMagick: every pixel equal (AE counts the differing ones).
  auto ae = [&](const std::string& a, const std::string& b) {
    const std::string out = at("ae.txt");
    std::system(("compare -metric AE " + a + " " + b + " null: 2> " + out).c_str());
    const Bytes t = read_file(out);
    return std::string(t.begin(), t.end());
  };
  EXPECT_EQ(ae(at("w.png"), at("ref_rgba.png")), "0");
  EXPECT_EQ(ae(at("w.bmp"), at("ref_rgb.png")), "0");
  // dwebp's decode of the lossless file is the source, alpha included.
  ASSERT_EQ(run("dwebp " + at("w.webp") + " -pam -o " + at("w.pam")), 0);
  const Bytes pam = read_file(at("w.pam"));
  const std::string pam_text(pam.begin(), pam.end());
  const std::size_t end_header = pam_text.find("ENDHDR\n");
  ASSERT_NE(end_header, std::string::npos);
  const std::size_t start = end_header + 7;
  ASSERT_EQ(pam.size() - start, static_cast<std::size_t>(45 * 31 * 4));
  for (i32 i = 0; i < 45 * 31; ++i) {
    const u32 p = src->pixels[i];
    const u8* q = pam.data() + start + i * 4;
    ASSERT_EQ(q[0] | q[1] << 8 | q[2] << 16 | static_cast<u32>(q[3]) << 24,
              ((p >> 16) & 0xFF) | (p & 0xFF00) | (p & 0xFF) << 16 | (p & 0xFF000000u))
        << i;
  }
  // djpeg's decode is within 40 dB of the source.
  ASSERT_EQ(run("djpeg -pnm -outfile " + at("w.ppm") + " " + at("w.jpg")), 0);
  const Bytes ppm = read_file(at("w.ppm"));
  ASSERT_GE(ppm.size(), static_cast<std::size_t>(64 * 48 * 3));
  const std::size_t body = ppm.size() - 64 * 48 * 3;
  LayerImage* back = layer(64, 48, false);
  for (i32 i = 0; i < 64 * 48; ++i) {
    const u8* q = ppm.data() + body + i * 3;
    back->pixels[i] = q[2] | q[1] << 8 | q[0] << 16 | 0xFF000000u;
  }
  EXPECT_GE(psnr_rgb(back, smooth), 40.0);
}

}  // namespace

namespace {

// WebP files made by cwebp from an ImageMagick picture with an alpha
// gradient decode through the plug-in to exactly what dwebp gives.
TEST_F(WebpWriterTest, CwebpFilesDecodeAsDwebpDecodesThem) {
  for (const char* tool : {"convert", "cwebp", "dwebp"})
    if (!have(tool)) GTEST_SKIP() << tool << " is not installed";
  ASSERT_EQ(run("convert -size 67x45 gradient:'#ff2000-#0030ff' '(' -size 67x45 gradient:white-black -rotate 90 "
                "-resize '67x45!' ')' -alpha off -compose CopyOpacity -composite PNG32:" + at("grad.png")),
            0);
  struct Case {
    const char* name;
    const char* options;
  };
  const Case cases[] = {{"lossy", "-q 75"}, {"lossless", "-lossless"}, {"lossy_alpha", "-q 60 -alpha_q 50"}};
  for (const Case& c : cases) {
    const std::string webp = at(std::string(c.name) + ".webp"), pam = at(std::string(c.name) + ".pam");
    ASSERT_EQ(run(std::string("cwebp ") + c.options + " " + at("grad.png") + " -o " + webp), 0) << c.name;
    ASSERT_EQ(run("dwebp " + webp + " -pam -o " + pam), 0) << c.name;
    const Bytes file = read_file(webp);
    LayerImage* img = new_layer_image();
    layers_.push_back(img);
    ASSERT_EQ(decode_webp_into_layer(file.data(), file.size(), img, c.name), 0) << c.name;
    ASSERT_EQ(img->width, 67);
    ASSERT_EQ(img->height, 45);
    const Bytes ref = read_file(pam);
    const std::string head(ref.begin(), ref.end());
    const std::size_t start = head.find("ENDHDR\n") + 7;
    ASSERT_EQ(ref.size() - start, static_cast<std::size_t>(67 * 45 * 4)) << c.name;
    int alpha_levels = 0, last_alpha = -1, differing = 0;
    for (i32 i = 0; i < 67 * 45; ++i) {
      const u8* q = ref.data() + start + i * 4;
      const u32 want = q[2] | q[1] << 8 | q[0] << 16 | static_cast<u32>(q[3]) << 24;
      differing += img->pixels[i] != want;
      if (q[3] != last_alpha) ++alpha_levels;
      last_alpha = q[3];
    }
    EXPECT_EQ(differing, 0) << c.name;
    EXPECT_GT(alpha_levels, 10) << c.name << ": the gradient's alpha is kept";
  }
}

}  // namespace
