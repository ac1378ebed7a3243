// The audio device's contract: the same cases on the fake and on SDL2 with
// its disk driver (no sound card needed).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
