// The queue, the thread's start and end, the scales and the error texts.
#include "engine/frame/messages.h"
#include "platform/ui.h"
#include "sound_fixture.h"

using namespace sound_test;

namespace {
class SoundQueueTest : public SoundFixture {};

TEST_F(SoundQueueTest, AFullQueueRefusesThePostAndKeepsEveryEntry) {
  ObjectNode* n = sound("S0/q");
  for (int i = 0; i < 1023; ++i) ASSERT_EQ(sound_post(n, 13, i, nullptr), i);
  EXPECT_EQ(sound_post(n, 13, 0, nullptr), -1);
  EXPECT_EQ(g_error_report_log.last_number, kErrSoundQueueFull);
  EXPECT_EQ(g_error_report_log.last_fatal, 0);
  ASSERT_EQ(sound_drain_queue(), 0);
  for (int i = 0; i < 1023; ++i) EXPECT_EQ(g_sound_queue.done[i].load(), 1);
  EXPECT_EQ(g_sound_queue.head, g_sound_queue.tail);
  // A null node is marked done without a handler; an unknown opcode too.
  int e = sound_post(nullptr, 1, 0, "x");
  int f = sound_post(n, 99, 0, nullptr);
  ASSERT_EQ(sound_drain_queue(), 0);
  EXPECT_EQ(g_sound_queue.done[e].load(), 1);
  EXPECT_EQ(g_sound_queue.done[f].load(), 1);
  // A long load text is cut to 255 bytes.
  std::string longname(400, 'a');
  e = sound_post(n, 1, 0, longname.c_str());
  EXPECT_EQ(std::strlen(g_sound_queue.text[e]), 255u);
}

TEST_F(SoundQueueTest, ABusyObjectHoldsTheQueueForOneCycle) {
  add_memory_file("q.wav", wave_image(1, 8000, 8, noise_pcm(8000, 4)));
  ObjectNode* n = sound("S0/q");
  sound_control_load(n, "q.wav", kCodecWave, 0, 0);
  ASSERT_EQ(cycles(1), 0);
  ASSERT_EQ(rec(n)->state, kSoundLoaded);
  int reload = sound_post(n, 1, 0, "q.wav");
  int behind = sound_post(n, 13, 0, nullptr);
  ASSERT_EQ(sound_drain_queue(), 0);
  EXPECT_EQ(rec(n)->state, kSoundIdle);  // released, the load runs next cycle
  EXPECT_EQ(g_sound_queue.done[reload].load(), 0);
  EXPECT_EQ(g_sound_queue.done[behind].load(), 0);
  ASSERT_EQ(sound_drain_queue(), 0);
  EXPECT_EQ(rec(n)->state, kSoundLoaded);
  EXPECT_EQ(g_sound_queue.done[behind].load(), 1);
}

TEST_F(SoundQueueTest, AWaitEndsWhenTheThreadEndedOnAnError) {
  ObjectNode* n = sound("S0/missing");
  ASSERT_EQ(start_sound_system(), 0);
  // The load of a missing file ends the thread (-1020): the waiting
  // producer is let go instead of polling for ever.
  EXPECT_EQ(sound_control_load(n, "nothing.wav", kCodecWave, 0, 1), 0);
  release_direct_sound();
  EXPECT_EQ(g_sound_thread_state, kSoundThreadEnded);
  EXPECT_EQ(g_quit_requested.load(), 1);
  bool boxed = false;
  for (const FakeUiBox& b : fake_ui_boxes())
    if (b.caption == "DEBUG Message" && b.text.find("1020") != std::string::npos) boxed = true;
  EXPECT_TRUE(boxed);
}

TEST_F(SoundQueueTest, ShutDownRightAfterStartWaitsForTheThread) {
  for (int i = 0; i < 20; ++i) {
    fake_audio_reset();
    g_sound_thread_state = kThreadNotStarted;
    g_quit_requested = 0;
    g_platform.audio->open_device();
    g_sound_device_open = 1;
    ASSERT_EQ(start_sound_system(), 0);
    if (i % 2) sound_wait(sound_post(resolve_object_path(g_object_roots[kTreeSound], "ROOT", 0), 13, 0, nullptr));
    release_direct_sound();
    EXPECT_EQ(g_sound_thread_state, kSoundThreadEnded);
    EXPECT_EQ(fake_audio_device_open(), 0);
    // Every buffer the thread made was released before the device closed.
    for (int b = 0; b < fake_audio_buffer_count(); ++b) EXPECT_TRUE(fake_audio_record(b).released);
  }
}

TEST_F(SoundQueueTest, TheRootSoundPlaysSilenceAtVolumeTwo) {
  ASSERT_EQ(start_root_sound(), 0);
  ASSERT_EQ(cycles(5), 0);
  ObjectNode* root = resolve_object_path(g_object_roots[kTreeSound], "ROOT", 0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->order_key, kSoundSilentId);
  EXPECT_EQ(rec(root)->state, kSoundPlaying);
  FakeAudioRecord r = fake_audio_record(0);
  EXPECT_EQ(r.format.samples_per_sec, 8000u);
  EXPECT_EQ(r.format.bits, 8);
  EXPECT_EQ(r.volume, sound_volume_hundredths(2));
  ASSERT_GT(r.heard_size, 0u);
  for (u64 i = 0; i < r.heard_size; ++i) ASSERT_EQ(r.heard[i], 0x80);
}

// The end of a thread that an error stopped (no quieting cycle ran) leaves
// every record idle without a buffer, so a thread started later walks the
// tree without taking the old sounds for lost buffers, and the root sound
// plays again when it is asked for anew.
TEST_F(SoundQueueTest, AnEndLeavesNoRecordSoundingWithoutItsBuffer) {
  add_memory_file("q.wav", wave_image(1, 8000, 8, noise_pcm(8000, 4)));
  ASSERT_EQ(start_root_sound(), 0);
  ObjectNode* q = sound("S0/q");
  sound_control_load(q, "q.wav", kCodecWave, 0, 0);
  ASSERT_EQ(cycles(5), 0);
  ObjectNode* root = resolve_object_path(g_object_roots[kTreeSound], "ROOT", 0);
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(rec(root)->state, kSoundPlaying);
  ASSERT_EQ(rec(q)->state, kSoundLoaded);
  sound_stop_all();
  for (ObjectNode* n : {root, q}) {
    EXPECT_EQ(rec(n)->state, kSoundIdle);
    EXPECT_EQ(rec(n)->buffer, nullptr);
  }
  EXPECT_EQ(cycles(3), 0);
  ASSERT_EQ(start_root_sound(), 0);
  ASSERT_EQ(cycles(5), 0);
  EXPECT_EQ(rec(root)->state, kSoundPlaying);
  EXPECT_NE(rec(root)->buffer, nullptr);
}

TEST(SoundSetUp, DeviceFailuresFollowTheSoundSwitch) {
  g_platform.audio = &kFakeAudio;
  struct Case {
    u32 mode, failure;
    int want;
    u8 want_switch;
    bool box;
  } cases[] = {
      {1, 0, 0, 1, false},
      {1, kAudioErrNoDriver, 0, 0, true},
      {2, kAudioErrNoDriver, -1, 2, true},
      {1, kAudioErrAllocated, 0, 0, true},
      {1, kAudioErrGeneric, 0, 0, false},
      {0, kAudioErrNoDriver, 0, 0, false},
  };
  for (const Case& c : cases) {
    fake_ui_reset();
    g_sound_device_open = 0;
    g_engine_config.sound_mode = c.mode;
    fake_audio_fail_open(c.failure);
    EXPECT_EQ(create_direct_sound(), c.want) << c.mode << " " << c.failure;
    EXPECT_EQ(g_sound_switch, c.want_switch);
    EXPECT_EQ(!fake_ui_boxes().empty(), c.box);
    if (c.box) {
      EXPECT_EQ(fake_ui_boxes().back().caption, std::string(sjis_message("サウンド初期化エラー")));
    }
    fake_audio_fail_open(0);
    g_platform.audio->close_device();
  }
  g_sound_device_open = 0;
}

TEST(SoundScales, VolumePanRateAndTexts) {
  const std::pair<i32, i32> volumes[] = {{256, 0}, {128, -1204}, {0, -10000}, {300, 0}, {1, -9632}, {-5, -10000}};
  for (auto [v, h] : volumes) EXPECT_EQ(sound_volume_hundredths(v), h) << v;
  const std::pair<i32, i32> pans[] = {{0, -10000}, {128, -1204}, {256, 0}, {384, 1204}, {512, 10000}, {600, 0}};
  for (auto [p, h] : pans) EXPECT_EQ(sound_pan_hundredths(p), h) << p;
  EXPECT_EQ(sound_rate_frequency(44100, 256), 44100u);
  EXPECT_EQ(sound_rate_frequency(44100, 0), 22050u);
  EXPECT_EQ(sound_rate_frequency(44100, 512), 66150u);
  EXPECT_EQ(sound_rate_frequency(11025, 0), 5513u);
  EXPECT_EQ(sound_rate_frequency(11025, 900), 11025u);

  char out[1024];
  const std::pair<int, const char*> texts[] = {
      {-310, "サウンドバッファがありませんでした。"}, {-1020, "ファイルが開けませんでした。"},
      {-90002, "oggデコードエラーです。"}, {-10040, "サウンド関係で内部エラーが発生しました。"}};
  for (auto [code, body] : texts) {
    std::string t = sound_error_text(code, out, sizeof out);
    EXPECT_NE(t.find(std::to_string(-code)), std::string::npos) << code;
    std::string b = sjis_message(body);
    EXPECT_NE(t.find(b.substr(0, 8)), std::string::npos) << code;
  }
  EXPECT_STREQ(sound_error_text(-1045, out, sizeof out), sjis_message("複数曲連結OGGには対応していません。"));
}

TEST_F(SoundQueueTest, GroupVolumesMultiplyDown) {
  ObjectNode* g = sound("S0/g", 1);
  ObjectNode* c = sound("S0/g/c");
  ObjectNode* s0 = resolve_object_path(g_object_roots[kTreeSound], "S0", 1);
  struct Case {
    i32 s0, group, child;
    u8 group_enabled, child_enabled;
    i32 want;
  } cases[] = {
      {256, 256, 256, 1, 1, 256}, {256, 128, 128, 1, 1, 64}, {128, 128, 256, 1, 1, 64},
      {256, 256, 200, 0, 1, 0},   {256, 256, 200, 1, 0, 0},
  };
  for (const Case& k : cases) {
    rec(s0)->volume = k.s0;
    rec(g)->volume = k.group;
    rec(c)->volume = k.child;
    rec(g)->enabled = k.group_enabled;
    rec(c)->enabled = k.child_enabled;
    EXPECT_EQ(sound_effective_volume(c), k.want);
  }
}
}  // namespace
