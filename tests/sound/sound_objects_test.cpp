// Sound objects as the script commands drive them, with the sound thread
// running on the fake device.
#include "engine/sound/sound_objects.h"

#include "tests/sound/sound_fixture.h"

using namespace sound_test;

namespace {
class SoundObjects : public SoundFixture {
 protected:
  void SetUp() override {
    SoundFixture::SetUp();
    ASSERT_EQ(start_sound_system(), 0);
  }
  void TearDown() override {
    release_direct_sound();
    SoundFixture::TearDown();
  }
  i64 query(const char* name, u32 id, SoundAnswer::Kind want = SoundAnswer::kNumber) {
    ParamSet p;
    p.set(id, 1);
    SoundAnswer a;
    EXPECT_EQ(sound_object_query(name, p, &a), 0);
    EXPECT_EQ(a.kind, want) << name << " " << id;
    return a.number;
  }
};
}  // namespace

TEST_F(SoundObjects, PlayReturnsAfterThePlayRanAndDeleteEmptiesTheGroup) {
  add_memory_file("t.wav", wave_image(2, 8000, 16, noise_pcm(32000, 7)));
  ParamSet g;
  g.set_text(0, "grp/");
  ASSERT_EQ(sound_object_control(g), 0);  // a group is made without a file
  ParamSet p;
  p.set_text(0, "grp/t");
  p.set_text(2, "t.wav");
  p.set(10, 200);
  p.set(3, 1);
  p.set(5, 1000);
  ASSERT_EQ(sound_object_control(p), 0);
  EXPECT_EQ(query("grp/t", 3), 1);   // sounding at once
  EXPECT_EQ(query("grp/t", 1), 1);   // loaded
  EXPECT_EQ(query("grp/t", 9), kCodecWave);
  EXPECT_EQ(query("grp/t", 17), 2);
  ParamSet name;
  name.set(8, 1);
  SoundAnswer a;
  ASSERT_EQ(sound_object_query("grp/t", name, &a), 0);
  EXPECT_EQ(a.kind, SoundAnswer::kText);
  EXPECT_EQ(a.text, "t.wav");
  ASSERT_EQ(sound_object_delete("grp/"), 0);
  query("grp/t", 3, SoundAnswer::kMissing);
  query("grp/", 2, SoundAnswer::kMissing);
  EXPECT_EQ(g_error_report_log.report_count, 0u);
}

TEST_F(SoundObjects, UnloadedLeafAnswersZeroAndGroupWithFileIsRefused) {
  ParamSet p;
  p.set_text(0, "leaf");
  p.set_text(2, "not_there.wav");
  ASSERT_EQ(sound_object_control(p), 0);  // a missing file ends quietly
  EXPECT_EQ(query("leaf", 15), 0);        // no rate to divide the position by
  EXPECT_EQ(query("leaf", 1), 0);
  EXPECT_EQ(query("leaf", 20), -1);       // no buffer: the meter answers -1
  ParamSet g;
  g.set_text(0, "newgroup/");
  g.set_text(2, "x.wav");
  EXPECT_EQ(sound_object_control(g), -1);
  EXPECT_EQ(g_error_report_log.last_number, kErrSoundGroupWithFile);
}
