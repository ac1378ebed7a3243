// The whole sound system on SDL2's disk driver: the sound thread runs as in
// the program, the requests are posted as the sound commands post them, and
// the checks read the raw output file (signed 16-bit stereo at 44100 Hz).
#include <chrono>
#include <thread>

#include "sound_fixture.h"

using namespace sound_test;

namespace {
constexpr double kPi = 3.14159265358979323846;

std::vector<u8> sine_wave_file(double seconds, double hz) {
  const u32 frames = static_cast<u32>(44100 * seconds);
  std::vector<u8> pcm(frames * 4);
  for (u32 i = 0; i < frames; ++i) {
    i16 s = static_cast<i16>(std::lround(12000 * std::sin(2 * kPi * hz * i / 44100.0)));
    for (int c = 0; c < 2; ++c) {
      pcm[i * 4 + c * 2] = static_cast<u8>(s);
      pcm[i * 4 + c * 2 + 1] = static_cast<u8>(static_cast<u16>(s) >> 8);
    }
  }
  return wave_image(2, 44100, 16, pcm);
}

struct Output {
  std::vector<i16> left, right;  // the sounding part only
  double seconds() const { return left.size() / 44100.0; }
};

double rms(const std::vector<i16>& v, size_t from, size_t to) {
  double sum = 0;
  if (to > v.size()) to = v.size();
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(v[i]) * v[i];
  return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0;
}

double frequency(const std::vector<i16>& v) {
  int crossings = 0;
  for (size_t i = 1; i < v.size(); ++i)
    if ((v[i - 1] < 0) != (v[i] < 0)) ++crossings;
  return crossings / 2.0 / (v.size() / 44100.0);
}

class DiskOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_clock = g_platform.clock;
    saved_audio = g_platform.audio;
    g_platform.clock = &kPosixClock;
    g_platform.audio = &kSdlAudio;
    out_path = std::string(KL_BINARY_DIR) + "/test_sound_disk_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out_path.c_str(), 1);
    for (auto& g : g_memory_groups.groups) g.entries.clear();
    add_memory_file("tone.wav", sine_wave_file(1.0, 440));
  }
  void TearDown() override {
    g_platform.clock = saved_clock;
    g_platform.audio = saved_audio;
    for (auto& g : g_memory_groups.groups) g.entries.clear();
    g_quit_requested = 0;
  }
  // One run of the sound system: set-up as start-up does it, the requests,
  // a wait while it sounds, shut-down; then the output's sounding part.
  template <class F>
  Output session(F&& requests, int ms) {
    g_quit_requested = 0;
    g_sound_thread_state = kThreadNotStarted;
    g_scheduler.run_while_inactive = 1;
    g_engine_clocks.paused = 0;
    EXPECT_EQ(create_system_objects(), 0);
    g_engine_config.sound_mode = 1;
    EXPECT_EQ(create_direct_sound(), 0);
    EXPECT_EQ(g_sound_device_open, 1);
    sound_system_reset_for_tests();
    EXPECT_EQ(start_sound_system(), 0);
    ObjectNode* n = get_named_object(g_object_roots[kTreeSound], "S0/t", 0, 0);
    attach_audio_record(n);
    requests(n);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    g_quit_requested = 1;
    release_direct_sound();
    EXPECT_EQ(g_sound_thread_state, kSoundThreadEnded);
    destroy_system_objects();
    std::vector<u8> raw = read_file(out_path);
    Output o;
    size_t frames = raw.size() / 4, first = frames, last = 0;
    auto sample = [&](size_t f, int c) {
      return static_cast<i16>(raw[f * 4 + c * 2] | (raw[f * 4 + c * 2 + 1] << 8));
    };
    for (size_t f = 0; f < frames; ++f) {
      if (std::abs(sample(f, 0)) > 40 || std::abs(sample(f, 1)) > 40) {
        if (first == frames) first = f;
        last = f;
      }
    }
    for (size_t f = first; f <= last && f < frames; ++f) {
      o.left.push_back(sample(f, 0));
      o.right.push_back(sample(f, 1));
    }
    return o;
  }
  static void play(ObjectNode* n, i32 loops, i32 fade = 0) {
    ASSERT_EQ(sound_control_load(n, "tone.wav", kCodecWave, loops, 1), 1);
    sound_control_loop_count(n, loops, 1);
  }
  const PlatformClock* saved_clock = nullptr;
  const PlatformAudio* saved_audio = nullptr;
  std::string out_path;
};

TEST_F(DiskOutput, LengthVolumePanRateFadeAndLoops) {
  // Two passes of a 1 s tone: 2 s of sound, then silence.
  Output full = session([](ObjectNode* n) {
    play(n, 2);
    sound_control_play(n, 0, 1);
  }, 2600);
  EXPECT_NEAR(full.seconds(), 2.0, 0.1);
  const double a = rms(full.left, 0, full.left.size());
  EXPECT_GT(a, 5000);

  // Volume 128 and pan 128: a quarter of the amplitude, and the right side a
  // quarter of the left.
  Output vp = session([](ObjectNode* n) {
    play(n, 1);
    sound_control_volume(n, 128, 1);
    sound_control_target(n, 128, 1);
    sound_control_pan(n, 128, 1);
    sound_control_play(n, 0, 1);
  }, 1400);
  EXPECT_NEAR(vp.seconds(), 1.0, 0.05);
  EXPECT_NEAR(rms(vp.left, 0, vp.left.size()) / a, 0.25, 0.02);
  EXPECT_NEAR(rms(vp.right, 0, vp.right.size()) / rms(vp.left, 0, vp.left.size()), 0.25, 0.02);

  // Rate 0 plays at half speed, 512 at one and a half.
  for (auto [rate, hz, secs] : {std::tuple{0, 220.0, 2.0}, std::tuple{512, 660.0, 2.0 / 3}}) {
    Output r = session([rate = rate](ObjectNode* n) {
      play(n, 1);
      sound_control_rate(n, rate, 1);
      sound_control_play(n, 0, 1);
    }, static_cast<int>(secs * 1000) + 500);
    EXPECT_NEAR(frequency(r.left), hz, hz * 0.03) << rate;
    EXPECT_NEAR(r.seconds(), secs, secs * 0.05) << rate;
  }

  // A fade-in over the whole second rises.
  Output f = session([](ObjectNode* n) {
    play(n, 1);
    sound_control_play(n, 1000, 1);
  }, 1400);
  const size_t tenth = 4410;
  EXPECT_LT(rms(f.left, 0, tenth) * 3, rms(f.left, f.left.size() - tenth, f.left.size()));
}
}  // namespace
