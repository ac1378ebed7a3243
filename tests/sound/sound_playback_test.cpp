// Playback on the fake device: what a listener hears equals the decoded
// file through starts, ends, loop points and loop counts; fades; focus mute.
#include <vorbis/vorbisfile.h>

#include <memory>

#include "engine/frame/messages.h"
#include "engine/frame/window.h"
#include "sound_fixture.h"

using namespace sound_test;

namespace {
constexpr u32 kRate = 8000;
constexpr u32 kBps = kRate * 4;  // 16-bit stereo

struct LoopCase {
  i32 start_ms, loop_ms, end_ms, loops;
};

std::vector<u8> expected_bytes(const std::vector<u8>& pcm, const LoopCase& c) {
  std::vector<u8> out;
  auto bytes = [](i64 ms) { return ms * kBps / 1000 / 4 * 4; };
  i64 end = c.end_ms > 0 ? bytes(c.end_ms) : static_cast<i64>(pcm.size());
  i64 start = c.start_ms;
  if (start < 0) {
    out.resize(static_cast<size_t>(bytes(-start)), 0);
    start = 0;
  }
  i64 sb = bytes(start);
  out.insert(out.end(), pcm.begin() + sb, pcm.begin() + end);
  const i32 end_ms = c.end_ms > 0 ? c.end_ms : static_cast<i32>(pcm.size() * 1000 / kBps);
  i64 lb = c.loop_ms >= end_ms ? 0 : bytes(c.loop_ms);
  for (int i = 1; i < c.loops; ++i) out.insert(out.end(), pcm.begin() + lb, pcm.begin() + end);
  return out;
}

// heard begins with want and is silent after it.
::testing::AssertionResult heard_is(const FakeAudioRecord& r, const std::vector<u8>& want, u8 silence) {
  if (r.heard_size < want.size())
    return ::testing::AssertionFailure() << "heard " << r.heard_size << " bytes, want " << want.size();
  for (size_t i = 0; i < want.size(); ++i)
    if (r.heard[i] != want[i]) return ::testing::AssertionFailure() << "byte " << i << " of " << want.size();
  for (size_t i = want.size(); i < r.heard_size; ++i)
    if (r.heard[i] != silence) return ::testing::AssertionFailure() << "not silent at " << i;
  return ::testing::AssertionSuccess();
}

class Playback : public SoundFixture {};

TEST_F(Playback, HeardBytesFollowStartLoopAndEndPositions) {
  const std::vector<u8> pcm = noise_pcm(kBps * 3 / 2, 7);  // 1.5 s
  add_memory_file("a.wav", wave_image(2, kRate, 16, pcm));
  const LoopCase cases[] = {
      {0, 0, 0, 1},        // once through
      {0, 0, 0, 2},        // two passes
      {200, 500, 0, 3},    // start and loop points
      {0, 300, 900, 2},    // an end before the length
      {-250, 0, 0, 1},     // lead-in of silence
      {0, 1400, 1000, 2},  // a loop point past the end loops to 0
  };
  for (const LoopCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start_ms << " " << c.loop_ms << " " << c.end_ms << " " << c.loops);
    fake_audio_reset();
    ObjectNode* n = sound("S0/a");
    ASSERT_NE(n, nullptr);
    sound_control_load(n, "a.wav", kCodecWave, c.loops, 0);
    sound_control_loop_count(n, c.loops, 0);
    sound_control_start_ms(n, c.start_ms, 0);
    sound_control_loop_ms(n, c.loop_ms, 0);
    if (c.end_ms) sound_control_end_ms(n, c.end_ms, 0);
    sound_control_play(n, 0, 0);
    ASSERT_EQ(cycle_until([&] { return rec(n)->state == kSoundIdle && rec(n)->name[0] && fake_audio_buffer_count() && fake_audio_record(0).released; }), 0);
    ASSERT_EQ(fake_audio_buffer_count(), 1);
    EXPECT_TRUE(heard_is(fake_audio_record(0), expected_bytes(pcm, c), 0));
    sound_control_stop(n, 0);
    cycles(1);
  }
}

TEST_F(Playback, EightBitSilenceIsTheMidpoint) {
  std::vector<u8> pcm = noise_pcm(kRate / 2, 3);  // 0.5 s mono 8-bit
  add_memory_file("b.wav", wave_image(1, kRate, 8, pcm));
  ObjectNode* n = sound("S0/b");
  sound_control_load(n, "b.wav", kCodecWave, 1, 0);
  sound_control_loop_count(n, 1, 0);
  sound_control_start_ms(n, -100, 0);
  sound_control_play(n, 0, 0);
  ASSERT_EQ(cycle_until([&] { return fake_audio_buffer_count() && fake_audio_record(0).released; }), 0);
  std::vector<u8> want(kRate / 10, 0x80);
  want.insert(want.end(), pcm.begin(), pcm.end());
  EXPECT_TRUE(heard_is(fake_audio_record(0), want, 0x80));
}

TEST_F(Playback, ConvertedAndOggFilesSoundAsTheirDecoders) {
  const std::string dir = temp_dir("playback");
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(run("sox -n -r 22050 -c 2 -b 16 '" + dir + "/t.wav' synth 1.2 sine 440 sine 660 gain -3"), 0);
  ASSERT_EQ(run("oggenc -Q -o '" + dir + "/t.ogg' '" + dir + "/t.wav'"), 0);
  ASSERT_EQ(run("sox '" + dir + "/t.wav' -e ima-adpcm '" + dir + "/t_ima.wav'"), 0);
  std::vector<u8> ogg = read_file(dir + "/t.ogg");
  ASSERT_FALSE(ogg.empty());
  add_memory_file("t.ogg", ogg);
  add_memory_file("t_ima.wav", read_file(dir + "/t_ima.wav"));

  // vorbisfile's own decode of the whole file, twice for two passes.
  std::vector<u8> want;
  {
    FILE* f = std::fopen((dir + "/t.ogg").c_str(), "rb");
    OggVorbis_File vf;
    ASSERT_EQ(ov_open(f, &vf, nullptr, 0), 0);
    char buf[4096];
    int bs = 0;
    long r;
    while ((r = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &bs)) > 0) want.insert(want.end(), buf, buf + r);
    ov_clear(&vf);
  }
  ObjectNode* n = sound("S0/o");
  sound_control_load(n, "t.ogg", kCodecOgg, 2, 0);
  sound_control_loop_count(n, 2, 0);
  sound_control_play(n, 0, 0);
  ASSERT_EQ(cycle_until([&] { return fake_audio_buffer_count() && fake_audio_record(0).released; }), 0);
  // The end is at the length in whole ms; one pass is the decode up to it.
  const i64 bps = 22050 * 4;
  const i64 end = static_cast<i64>(want.size()) * 1000 / bps * bps / 1000 / 4 * 4;
  std::vector<u8> two(want.begin(), want.begin() + end);
  two.insert(two.end(), want.begin(), want.begin() + end);
  EXPECT_TRUE(heard_is(fake_audio_record(0), two, 0));

  // IMA ADPCM plays as converted PCM at the source's rate and channels.
  ObjectNode* m = sound("S0/i");
  sound_control_load(m, "t_ima.wav", kCodecWave, 1, 0);
  sound_control_play(m, 0, 0);
  ASSERT_EQ(cycles(2), 0);
  EXPECT_EQ(rec(m)->data_form, kFormConverted);
  FakeAudioRecord r = fake_audio_record(1);
  EXPECT_EQ(r.format.samples_per_sec, 22050u);
  EXPECT_EQ(r.format.channels, 2);
  EXPECT_EQ(r.format.bits, 16);
}

TEST_F(Playback, AnEndTooNearTheLoopPointDoesNotHangTheThread) {
  const std::string dir = temp_dir("nearloop");
  ASSERT_EQ(run("sox -n -r 8000 -c 1 -b 16 '" + dir + "/m.wav' synth 1 sine 300"), 0);
  ASSERT_EQ(run("oggenc -Q -o '" + dir + "/m.ogg' '" + dir + "/m.wav'"), 0);
  add_memory_file("m.ogg", read_file(dir + "/m.ogg"));
  add_memory_file("m.wav", read_file(dir + "/m.wav"));
  for (const char* name : {"m.ogg", "m.wav"}) {
    SCOPED_TRACE(name);
    ObjectNode* n = sound(name[2] == 'o' ? "S0/near_o" : "S0/near_w");
    sound_control_load(n, name, name[2] == 'o' ? kCodecOgg : kCodecWave, 0, 0);
    sound_control_loop_ms(n, 100, 0);
    sound_control_end_ms(n, 101, 0);  // 16 bytes after the loop point
    sound_control_play(n, 0, 0);
    // Every cycle must come back; the sound goes on looping its one block.
    EXPECT_EQ(cycles(60), 0);
    EXPECT_GE(rec(n)->state, kSoundFadingIn);
    sound_control_stop(n, 0);
    EXPECT_EQ(cycles(1), 0);
  }
}

TEST_F(Playback, HostileWaveFilesGiveTheirCodes) {
  std::vector<u8> good = wave_image(1, kRate, 16, noise_pcm(1000, 1));
  auto with = [&](size_t at, std::vector<u8> bytes) {
    std::vector<u8> v = good;
    std::copy(bytes.begin(), bytes.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
    return v;
  };
  struct Case {
    const char* what;
    std::vector<u8> image;
    int code;
  } cases[] = {
      {"empty", {}, -10030},
      {"not riff", with(0, {'R', 'I', 'F', 'X'}), -10040},
      {"not wave", with(8, {'A', 'V', 'I', ' '}), -10050},
      {"no fmt", with(12, {'f', 'm', 'x', ' '}), -10060},
      {"fmt past the end", with(16, {0xF0, 0xFF, 0xFF, 0x7F}), -10070},
      {"no data", with(36, {'d', 'a', 't', 'x'}), -10080},
      {"block align 0", with(32, {0, 0}), -10090},
      {"rate 0", with(24, {0, 0, 0, 0}), -10090},
      {"24-bit pcm", with(32, {3, 0, 24, 0}), -1120},
      {"mp3 tag", with(20, {0x55, 0}), -10310},
      {"huge data size", with(40, {0xFF, 0xFF, 0xFF, 0xFF}), 0},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name = "h" + std::to_string(i) + ".wav";
    std::string path = "S0/h" + std::to_string(i++);
    add_memory_file(name, c.image);
    ObjectNode* n = sound(path.c_str());
    sound_control_load(n, name.c_str(), kCodecWave, 1, 0);
    sound_control_play(n, 0, 0);
    EXPECT_EQ(cycles(3), c.code);
    sound_system_reset_for_tests();
    sound_release_buffer(rec(n));
    rec(n)->state = kSoundIdle;
  }
}

TEST_F(Playback, FadesReachTheirTargets) {
  add_memory_file("f.wav", wave_image(2, kRate, 16, noise_pcm(kBps * 4, 2)));
  struct Case {
    const char* what;
    i32 fade_ms, target, replay_after_ms, run_ms;
    i32 want_state;
  } cases[] = {
      {"fade in", 200, 256, -1, 400, kSoundPlaying},
      {"played again while fading in", 400, 256, 200, 800, kSoundPlaying},
      {"slow fade to a low target", 60000, 50, -1, 30000, kSoundFadingIn},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_audio_reset();
    std::string path = "S0/f" + std::to_string(i++);
    ObjectNode* n = sound(path.c_str());
    sound_control_load(n, "f.wav", kCodecWave, 0, 0);
    sound_control_target(n, c.target, 0);
    sound_control_play(n, c.fade_ms, 0);
    ASSERT_EQ(cycles(2), 0);
    i32 last = -10000;
    u32 t0 = g_platform.clock->now_ms();
    bool replayed = false;
    while (static_cast<i32>(g_platform.clock->now_ms() - t0) < c.run_ms) {
      if (!replayed && c.replay_after_ms >= 0 && static_cast<i32>(g_platform.clock->now_ms() - t0) >= c.replay_after_ms) {
        sound_control_play(n, c.fade_ms, 0);
        replayed = true;
      }
      ASSERT_EQ(cycles(1), 0);
      i32 v = fake_audio_record(0).volume;
      EXPECT_GE(v, last);
      last = v;
    }
    EXPECT_EQ(rec(n)->state, c.want_state);
    if (c.want_state == kSoundPlaying) EXPECT_EQ(rec(n)->volume, c.target);
    else EXPECT_GT(rec(n)->volume, 10);  // half way up a 0..50 fade
  }
  // A fade-out ends the sound and frees its buffer.
  ObjectNode* n = sound("S0/f0");
  sound_control_fade_out(n, 300, 0);
  ASSERT_EQ(cycles(20), 0);
  EXPECT_EQ(rec(n)->state, kSoundIdle);
  EXPECT_EQ(rec(n)->buffer, nullptr);
}

class FocusMute : public SoundFixture {
 protected:
  void SetUp() override {
    SoundFixture::SetUp();
    window = std::make_unique<WindowRecord>();
    window->focused = 1;
    g_windows[0] = window.get();
    g_scheduler.run_while_inactive = 0;
  }
  void TearDown() override {
    g_windows[0] = nullptr;
    SoundFixture::TearDown();
  }
  std::unique_ptr<WindowRecord> window;
};

TEST_F(FocusMute, LostFocusStopsAndResumesWhereItWas) {
  const std::vector<u8> pcm = noise_pcm(kBps * 3, 5);
  add_memory_file("g.wav", wave_image(2, kRate, 16, pcm));
  ObjectNode* n = sound("S0/g");
  sound_control_load(n, "g.wav", kCodecWave, 0, 0);
  sound_control_play(n, 1000, 0);
  ASSERT_EQ(cycles(25), 0);  // 500 ms, half way up the fade
  const i32 before = rec(n)->volume;
  window->focused = 0;
  ASSERT_EQ(cycles(1), 0);
  EXPECT_TRUE(fake_audio_record(0).released);
  EXPECT_NE(rec(n)->suspend_time, 0u);
  const i64 at = rec(n)->position;
  ASSERT_EQ(cycles(100), 0);  // 2 s away: nothing plays, the fade stands still
  EXPECT_EQ(fake_audio_buffer_count(), 1);
  EXPECT_EQ(rec(n)->volume, before);
  window->focused = 1;
  ASSERT_EQ(cycles(1), 0);
  ASSERT_EQ(fake_audio_buffer_count(), 2);
  EXPECT_EQ(rec(n)->suspend_time, 0u);
  // The new buffer starts at the whole millisecond reached.
  const i64 start = at * 1000 / kBps * kBps / 1000;
  FakeAudioRecord r = fake_audio_record(1);
  ASSERT_GT(r.heard_size, 64u);
  EXPECT_EQ(std::memcmp(r.heard, pcm.data() + start, 64), 0);
  EXPECT_LE(rec(n)->volume, before + 30);
}

TEST_F(FocusMute, DisabledOrPausedObjectsStaySuspendedWithoutEndingTheRun) {
  add_memory_file("d.wav", wave_image(2, kRate, 16, noise_pcm(kBps * 2, 9)));
  ObjectNode* leaf = sound("S0/d");
  ObjectNode* group = sound("S0/grp", 1);
  ObjectNode* child = sound("S0/grp/c");
  for (ObjectNode* n : {leaf, child}) {
    sound_control_load(n, "d.wav", kCodecWave, 0, 0);
    sound_control_play(n, 0, 0);
  }
  ASSERT_EQ(cycles(3), 0);
  sound_control_enable(leaf, 0, 0);
  sound_control_pause(group, 1, 0);
  ASSERT_EQ(cycles(2), 0);
  EXPECT_EQ(fake_audio_record(0).volume, -10000);  // a disabled leaf is silent
  EXPECT_NE(rec(child)->suspend_time, 0u);
  window->focused = 0;
  ASSERT_EQ(cycles(2), 0);
  window->focused = 1;
  // Neither comes back, and the walks pass over them.
  EXPECT_EQ(cycles(10), 0);
  EXPECT_NE(rec(leaf)->suspend_time, 0u);
  EXPECT_NE(rec(child)->suspend_time, 0u);
  sound_control_pause(group, 0, 0);
  ASSERT_EQ(cycles(2), 0);
  EXPECT_EQ(rec(child)->suspend_time, 0u);
  EXPECT_NE(rec(child)->buffer, nullptr);
}

TEST_F(Playback, PlayingAnObjectPausedWhileIdleStreamsNormally) {
  const std::vector<u8> pcm = noise_pcm(kBps * 3 / 2, 11);
  add_memory_file("p.wav", wave_image(2, kRate, 16, pcm));
  ObjectNode* n = sound("S0/p");
  sound_control_load(n, "p.wav", kCodecWave, 1, 0);
  sound_control_loop_count(n, 1, 0);
  sound_control_pause(n, 1, 0);
  sound_control_play(n, 0, 0);
  ASSERT_EQ(cycle_until([&] { return fake_audio_buffer_count() && fake_audio_record(0).released; }), 0);
  EXPECT_TRUE(heard_is(fake_audio_record(0), pcm, 0));
}
}  // namespace

namespace {
TEST_F(Playback, OggFilesThatCannotStreamGiveTheirCodes) {
  const std::string dir = temp_dir("oggcodes");
  ASSERT_EQ(run("sox -n -r 8000 -c 1 -b 16 '" + dir + "/a.wav' synth 0.3 sine 300"), 0);
  ASSERT_EQ(run("oggenc -Q -s 1717 -o '" + dir + "/a.ogg' '" + dir + "/a.wav'"), 0);
  std::vector<u8> one = read_file(dir + "/a.ogg");
  ASSERT_EQ(run("oggenc -Q -s 4242 -o '" + dir + "/b.ogg' '" + dir + "/a.wav'"), 0);
  std::vector<u8> chained = one;  // two logical streams joined, as cat joins them
  std::vector<u8> two = read_file(dir + "/b.ogg");
  chained.insert(chained.end(), two.begin(), two.end());
  // Cut inside its last page: the open finds no end, and the seek fails.
  std::vector<u8> torn(one.begin(), one.end() - 20);
  std::vector<u8> junk = noise_pcm(5000, 3);
  const std::pair<std::vector<u8>, int> cases[] = {{chained, -1045}, {junk, -1030}, {torn, -2020}};
  int i = 0;
  for (const auto& [image, code] : cases) {
    SCOPED_TRACE(i);
    std::string name = "c" + std::to_string(i) + ".ogg";
    add_memory_file(name, image);
    ObjectNode* n = sound(("S0/c" + std::to_string(i++)).c_str());
    sound_control_load(n, name.c_str(), kCodecOgg, 1, 0);
    sound_control_play(n, 0, 0);
    EXPECT_EQ(cycles(40), code);
    sound_system_reset_for_tests();
    sound_release_buffer(rec(n));
    rec(n)->state = kSoundIdle;
  }
  char text[512];
  EXPECT_STREQ(sound_error_text(-1045, text, sizeof text), sjis_message("複数曲連結OGGには対応していません。"));
}
}  // namespace

// A stream keeps its Ogg decoder from half to half; what is heard equals,
// byte for byte, the same sound played with the decoder opened again for
// every half, through start and loop points, loop counts and fades.
TEST_F(Playback, KeptOggDecoderSoundsAsOneOpenedAgainEveryHalf) {
  const std::string dir = temp_dir("keptogg");
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(run("sox -n -r 22050 -c 2 -b 16 '" + dir + "/k.wav' synth 2.3 sine 300-900 sine 550 gain -3"), 0);
  ASSERT_EQ(run("oggenc -Q -s 99 -o '" + dir + "/k.ogg' '" + dir + "/k.wav'"), 0);
  add_memory_file("k.ogg", read_file(dir + "/k.ogg"));
  struct Case {
    const char* what;
    i32 start_ms, loop_ms, end_ms, loops, fade_in_ms, fade_out_after;  // fade_out_after: cycles, 0 none
  } cases[] = {
      {"whole file twice", 0, 0, 0, 2, 0, 0},
      {"start, loop point and end, three passes", 250, 700, 1900, 3, 0, 0},
      {"faded in, loop point, faded out", 0, 1200, 0, 0, 400, 120},
  };
  for (const Case& c : cases) {
    std::vector<u8> heard[2];
    for (int reopen = 0; reopen < 2; ++reopen) {
      fake_audio_reset();
      ObjectNode* n = sound(reopen ? "S0/b" : "S0/a");
      ASSERT_NE(n, nullptr);
      sound_control_load(n, "k.ogg", kCodecOgg, c.loops, 0);
      sound_control_loop_count(n, c.loops, 0);
      if (c.start_ms) sound_control_start_ms(n, c.start_ms, 0);
      if (c.loop_ms) sound_control_loop_ms(n, c.loop_ms, 0);
      if (c.end_ms) sound_control_end_ms(n, c.end_ms, 0);
      sound_control_play(n, c.fade_in_ms, 0);
      for (int i = 0; i < 400 && !(fake_audio_buffer_count() && fake_audio_record(0).released); ++i) {
        if (reopen && rec(n)) sound_close_decoder(rec(n));
        if (c.fade_out_after && i == c.fade_out_after) sound_control_fade_out(n, 300, 0);
        ASSERT_EQ(sound_cycle(), 0) << c.what;
      }
      ASSERT_TRUE(fake_audio_buffer_count() && fake_audio_record(0).released) << c.what;
      const FakeAudioRecord r = fake_audio_record(0);
      heard[reopen].assign(r.heard, r.heard + r.heard_size);
      sound_control_stop(n, 0);
      ASSERT_EQ(cycles(2), 0);
    }
    EXPECT_GT(heard[0].size(), 22050u * 4) << c.what;
    EXPECT_TRUE(heard[0] == heard[1]) << c.what << ": " << heard[0].size() << " and " << heard[1].size() << " bytes";
  }
}
