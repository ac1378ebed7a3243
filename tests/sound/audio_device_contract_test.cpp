// The audio device's contract: the same cases on the fake and on SDL2 with
// its disk driver (no sound card needed).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio.h"
#include "platform/clock.h"

namespace {
struct Backend {
  const char* name;
  const PlatformAudio* audio;
  void (*advance)(std::uint32_t ms);
};

void advance_fake(std::uint32_t ms) { fake_clock_advance(ms); }
void advance_real(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class AudioContract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    // One output file per test: the tests may run side by side.
    std::string out = std::string(KL_BINARY_DIR) + "/test_sound_contract_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".raw";
    for (char& c : out)
      if (c == '/' && &c > out.data() + std::string(KL_BINARY_DIR).size()) c = '_';
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    fake_audio_reset();
    a = GetParam().audio;
    ASSERT_EQ(a->open_device(), kAudioOk);
  }
  void TearDown() override { a->close_device(); }
  AudioBuffer* make(std::uint16_t ch, std::uint32_t rate, std::uint16_t bits, std::uint32_t bytes) {
    AudioFormat f{ch, rate, bits, static_cast<std::uint16_t>(ch * bits / 8)};
    AudioBuffer* b = nullptr;
    EXPECT_EQ(a->create_buffer(&f, bytes, &b), kAudioOk);
    return b;
  }
  const PlatformAudio* a = nullptr;
};

TEST_P(AudioContract, FormatsOutsideTheRangesAreRefused) {
  struct Case {
    std::uint16_t ch;
    std::uint32_t rate;
    std::uint16_t bits, align;
    std::uint32_t bytes;
    std::uint32_t want;
  } cases[] = {
      {2, 44100, 16, 4, 176400, kAudioOk}, {1, 8000, 8, 1, 8000, kAudioOk},   {1, 100, 8, 1, 100, kAudioOk},
      {2, 200000, 16, 4, 800000, kAudioOk}, {3, 44100, 16, 6, 6000, kAudioErrInvalidArg},
      {2, 44100, 24, 6, 6000, kAudioErrInvalidArg}, {2, 99, 16, 4, 400, kAudioErrInvalidArg},
      {2, 200001, 16, 4, 400, kAudioErrInvalidArg}, {2, 44100, 16, 2, 400, kAudioErrInvalidArg},
      {2, 44100, 16, 4, 402, kAudioErrInvalidArg}, {2, 44100, 16, 4, 0, kAudioErrInvalidArg},
  };
  for (const Case& c : cases) {
    AudioFormat f{c.ch, c.rate, c.bits, c.align};
    AudioBuffer* b = nullptr;
    EXPECT_EQ(a->create_buffer(&f, c.bytes, &b), c.want) << c.ch << " " << c.rate << " " << c.bits;
    EXPECT_EQ(b != nullptr, c.want == kAudioOk);
    a->release_buffer(b);
  }
  a->close_device();
  AudioFormat f{2, 44100, 16, 4};
  AudioBuffer* b = nullptr;
  EXPECT_EQ(a->create_buffer(&f, 4000, &b), kAudioErrAllocated);
}

TEST_P(AudioContract, LocksWrapAndSettingsKeepTheirRanges) {
  AudioBuffer* b = make(2, 44100, 16, 4000);
  void *p1, *p2;
  std::uint32_t n1, n2;
  ASSERT_EQ(a->lock(b, 3000, 2000, &p1, &n1, &p2, &n2), kAudioOk);
  EXPECT_EQ(n1, 1000u);
  EXPECT_EQ(n2, 1000u);
  EXPECT_NE(p2, nullptr);
  EXPECT_EQ(static_cast<char*>(p1) - static_cast<char*>(p2), 3000);
  a->unlock(b, p1, n1, p2, n2);
  ASSERT_EQ(a->lock(b, 0, 2000, &p1, &n1, &p2, &n2), kAudioOk);
  EXPECT_EQ(n1, 2000u);
  EXPECT_EQ(n2, 0u);
  EXPECT_EQ(p2, nullptr);
  a->unlock(b, p1, n1, p2, n2);
  EXPECT_EQ(a->lock(b, 4000, 4, &p1, &n1, &p2, &n2), kAudioErrInvalidArg);
  EXPECT_EQ(a->lock(b, 0, 4004, &p1, &n1, &p2, &n2), kAudioErrInvalidArg);

  EXPECT_EQ(a->set_volume(b, -10001), kAudioErrInvalidArg);
  EXPECT_EQ(a->set_volume(b, 1), kAudioErrInvalidArg);
  EXPECT_EQ(a->set_volume(b, -1204), kAudioOk);
  EXPECT_EQ(a->get_volume(b), -1204);
  EXPECT_EQ(a->set_pan(b, 10001), kAudioErrInvalidArg);
  EXPECT_EQ(a->set_pan(b, -10000), kAudioOk);
  EXPECT_EQ(a->get_pan(b), -10000);
  EXPECT_EQ(a->set_frequency(b, 99), kAudioErrInvalidArg);
  EXPECT_EQ(a->set_frequency(b, 22050), kAudioOk);
  EXPECT_EQ(a->get_frequency(b), 22050u);
  a->release_buffer(b);
}

TEST_P(AudioContract, CursorsMoveWhilePlayingAndStayWhenStopped) {
  AudioBuffer* b = make(2, 44100, 16, 176400);
  std::uint32_t p = 1, w = 1;
  ASSERT_EQ(a->get_position(b, &p, &w), kAudioOk);
  EXPECT_EQ(p, 0u);
  EXPECT_EQ(w, 0u);
  ASSERT_EQ(a->play(b, 1), kAudioOk);
  EXPECT_TRUE(a->is_playing(b));
  GetParam().advance(200);
  ASSERT_EQ(a->get_position(b, &p, &w), kAudioOk);
  EXPECT_GT(p, 0u);
  EXPECT_LT(p, 176400u);
  EXPECT_EQ(p % 4, 0u);
  EXPECT_EQ(w % 4, 0u);
  // The write cursor leads the play cursor by less than a tenth of a second.
  EXPECT_GE(w, p);
  EXPECT_LT(w - p, 17640u);
  ASSERT_EQ(a->stop(b), kAudioOk);
  EXPECT_FALSE(a->is_playing(b));
  std::uint32_t p2 = 0;
  a->get_position(b, &p2, nullptr);
  GetParam().advance(100);
  std::uint32_t p3 = 0;
  a->get_position(b, &p3, nullptr);
  EXPECT_EQ(p2, p3);
  EXPECT_GE(p2, p);
  // A short ring played once stops at its end; looping goes round.
  AudioBuffer* once = make(1, 8000, 8, 800);  // 100 ms
  a->play(once, 0);
  GetParam().advance(300);
  EXPECT_FALSE(a->is_playing(once));
  AudioBuffer* loop = make(1, 8000, 8, 800);
  a->play(loop, 1);
  GetParam().advance(300);
  EXPECT_TRUE(a->is_playing(loop));
  a->release_buffer(once);
  a->release_buffer(loop);
  a->release_buffer(b);
}

TEST_P(AudioContract, OutputDevicesAreListedWithTheirChannels) {
  const std::vector<AudioDeviceInfo> outputs = a->list_devices(0);
  ASSERT_FALSE(outputs.empty());
  for (const AudioDeviceInfo& d : outputs) {
    EXPECT_FALSE(d.name.empty());
    EXPECT_GE(d.channels, 1) << d.name;
  }
  for (const AudioDeviceInfo& d : a->list_devices(1)) EXPECT_GE(d.channels, 1) << d.name;
  // Closed, the list is the same.
  a->close_device();
  const std::vector<AudioDeviceInfo> again = a->list_devices(0);
  ASSERT_EQ(again.size(), outputs.size());
  for (std::size_t i = 0; i < again.size(); ++i) EXPECT_EQ(again[i].name, outputs[i].name);
  EXPECT_EQ(a->open_device(), kAudioOk);
}

INSTANTIATE_TEST_SUITE_P(Backends, AudioContract,
                         ::testing::Values(Backend{"fake", &kFakeAudio, advance_fake},
                                           Backend{"sdl_disk", &kSdlAudio, advance_real}),
                         [](const ::testing::TestParamInfo<Backend>& i) { return std::string(i.param.name); });
}  // namespace

// The SDL backend's mixer over random rings (8 and 16 bits, mono and
// stereo, rates around and far from the device's), start positions, loop
// flags and period lengths adds, period after period, exactly what the
// interpolation between neighbouring frames gives: the neighbour of the
// last frame is the first when the ring loops, else the last itself, and a
// ring that does not loop stops at its end.
TEST(SdlMixer, AddsTheInterpolatedFramesOverRandomRings) {
  std::uint64_t state = 0;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
  };
  const std::uint32_t rates[] = {44100, 22050, 48000, 32000, 11025, 96000, 100, 200000};
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    state = seed;
    AudioFormat f;
    f.bits = next() % 2 ? 16 : 8;
    f.channels = next() % 2 ? 2 : 1;
    f.block_align = static_cast<std::uint16_t>(f.bits / 8 * f.channels);
    f.samples_per_sec = rates[next() % 8];
    const std::uint32_t frames = 2 + next() % 3000;
    AudioBuffer* ring = sdl_audio_make_ring(&f, frames * f.block_align);
    ASSERT_NE(ring, nullptr);
    std::vector<std::uint8_t> bytes(frames * f.block_align);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(next());
    void *p1, *p2;
    std::uint32_t n1, n2;
    ASSERT_EQ(kSdlAudio.lock(ring, 0, static_cast<std::uint32_t>(bytes.size()), &p1, &n1, &p2, &n2), kAudioOk);
    std::memcpy(p1, bytes.data(), n1);
    kSdlAudio.unlock(ring, p1, n1, p2, n2);
    const std::uint32_t start = next() % frames;
    ASSERT_EQ(kSdlAudio.set_position(ring, start * f.block_align), kAudioOk);
    const bool looping = next() % 2;
    ASSERT_EQ(kSdlAudio.play(ring, looping ? 1 : 0), kAudioOk);
    auto frame = [&](std::uint32_t k, int channel) -> std::int64_t {
      const std::uint8_t* p = bytes.data() + static_cast<std::size_t>(k) * f.block_align;
      const int c = f.channels == 2 ? channel : 0;
      if (f.bits == 8) return (static_cast<std::int32_t>(p[c]) - 128) << 8;
      return static_cast<std::int16_t>(p[2 * c] | p[2 * c + 1] << 8);
    };
    const std::uint64_t step = (static_cast<std::uint64_t>(f.samples_per_sec) << 32) / kSdlMixRate;
    const std::uint64_t end = static_cast<std::uint64_t>(frames) << 32;
    std::uint64_t pos = static_cast<std::uint64_t>(start) << 32;
    bool playing = true;
    for (int period = 0; period < 4; ++period) {
      const int n = 1 + static_cast<int>(next() % 2000);
      std::vector<std::int32_t> got(2 * n, 7), want(2 * n, 7);
      sdl_audio_mix_buffers(&ring, 1, got.data(), n);
      for (int i = 0; i < n && playing; ++i) {
        const std::uint32_t k = static_cast<std::uint32_t>(pos >> 32);
        const std::uint32_t k1 = k + 1 < frames ? k + 1 : (looping ? 0 : k);
        const std::int64_t frac = static_cast<std::int64_t>((pos >> 16) & 0xFFFF);
        for (int c = 0; c < 2; ++c) {
          const std::int64_t a = frame(k, c), b = frame(k1, c);
          want[2 * i + c] += static_cast<std::int32_t>(((a + (((b - a) * frac) >> 16)) * 65536) >> 16);
        }
        pos += step;
        if (pos >= end) {
          if (!looping) playing = false;
          else pos -= end;
        }
      }
      ASSERT_EQ(got, want) << "seed " << seed << " period " << period;
    }
    EXPECT_EQ(kSdlAudio.is_playing(ring), playing ? 1 : 0) << "seed " << seed;
    sdl_audio_free_ring(ring);
  }
}
