// The conversion service against sox's own decode of the same files.
#include "engine/sound/wave_riff.h"
#include "platform/sound_convert.h"
#include "sound_fixture.h"

using namespace sound_test;

namespace {
TEST(SoundConvert, EachFormatEqualsSoxDecodeWithinOne) {
  const std::string dir = temp_dir("convert");
  ASSERT_FALSE(dir.empty());
  struct Source {
    const char* name;
    const char* make;  // sox options of the tone
  } sources[] = {{"s", "-r 44100 -c 2 -b 16"}, {"m", "-r 22050 -c 1 -b 8"}};
  struct Enc {
    const char* name;
    const char* opts;
  } encodings[] = {{"ima", "-e ima-adpcm"}, {"ms", "-e ms-adpcm"}, {"ulaw", "-e u-law"}, {"alaw", "-e a-law"},
                   {"f32", "-e floating-point -b 32"}, {"f64", "-e floating-point -b 64"}, {"gsm", "-e gsm-full-rate -r 8000 -c 1"}};
  for (const Source& s : sources) {
    const std::string src = dir + "/" + s.name + ".wav";
    ASSERT_EQ(run(std::string("sox -n ") + s.make + " '" + src + "' synth 0.5 sine 440 gain -6"), 0);
    for (const Enc& e : encodings) {
      SCOPED_TRACE(std::string(s.name) + " " + e.name);
      const std::string enc = dir + "/" + s.name + "_" + e.name + ".wav";
      const std::string raw = enc + ".raw";
      ASSERT_EQ(run("sox '" + src + "' " + e.opts + " '" + enc + "'"), 0);
      ASSERT_EQ(run("sox -D '" + enc + "' -t raw -e signed -b 16 -L '" + raw + "'"), 0);
      std::vector<u8> image = read_file(enc);
      std::vector<u8> want = read_file(raw);
      WaveChunks c;
      ASSERT_EQ(wave_find_chunks(image.data(), static_cast<u32>(image.size()), &c), 0);
      WaveFormatFields out;
      ASSERT_EQ(kSndfileConvert.suggest_pcm(c.fmt, c.fmt_size, &out), kConvertOk);
      EXPECT_EQ(out.bits, 16);
      std::vector<u8> got;
      ASSERT_EQ(kSndfileConvert.convert(c.fmt, c.fmt_size, c.data, c.data_size, &got), kConvertOk);
      // GSM decodes whole 320-sample blocks; sox cuts the last one at the
      // file's sample count, which the data chunk alone does not give.
      if (std::string(e.name) == "gsm") {
        ASSERT_GE(got.size(), want.size());
        ASSERT_LT(got.size() - want.size(), 640u * 2);
        got.resize(want.size());
      }
      ASSERT_EQ(got.size(), want.size());
      int worst = 0;
      for (size_t i = 0; i + 1 < got.size(); i += 2) {
        int a = static_cast<i16>(got[i] | (got[i + 1] << 8));
        int b = static_cast<i16>(want[i] | (want[i + 1] << 8));
        worst = std::max(worst, std::abs(a - b));
      }
      EXPECT_LE(worst, 1);
    }
  }
}

TEST(SoundConvert, PcmAndUnknownTagsAreNotConverted) {
  u8 fmt[16] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  WaveFormatFields out;
  EXPECT_EQ(kSndfileConvert.suggest_pcm(fmt, 16, &out), kConvertNotPossible);
  fmt[0] = 0x55;  // MPEG layer 3
  EXPECT_EQ(kSndfileConvert.suggest_pcm(fmt, 16, &out), kConvertNotPossible);
  fmt[0] = 0x11;  // IMA ADPCM with data that is not ADPCM blocks
  std::vector<u8> pcm;
  u8 junk[3] = {1, 2, 3};
  EXPECT_NE(kSndfileConvert.convert(fmt, 14, junk, 3, &pcm), kConvertOk);
}
}  // namespace
