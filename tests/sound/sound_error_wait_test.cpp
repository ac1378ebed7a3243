// A sound the sound thread can't load, asked for by the sound command with a
// waited request: the sound thread's box needs the GUI thread, so the GUI
// thread's wait shows it, and the run ends. On the fake desktop, as on the
// real one, a box asked for from another thread appears only when the GUI
// thread takes in its events.
#include <chrono>
#include <future>
#include <thread>

#include "engine/frame/engine_steps.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/settings.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/sound/sound_objects.h"
#include "platform/ui.h"
#include "tests/sound/sound_fixture.h"

using namespace sound_test;

namespace {

std::vector<u8> with_u16(std::vector<u8> v, std::size_t at, u16 x) {
  v[at] = static_cast<u8>(x);
  v[at + 1] = static_cast<u8>(x >> 8);
  return v;
}

struct ErrorCase {
  std::string name;  // file name the script asks for
  std::vector<u8> image;
  int code;       // the sound thread's code
  bool play;      // the code comes from the play request, not the load
};

class SoundErrorWait : public SoundFixture {
 protected:
  void SetUp() override {
    SoundFixture::SetUp();
    fake_ui_reset();
    g_window_config = WindowConfig{};
    g_settings = EngineSettings{};
    free_window_records();
    ASSERT_EQ(create_window_records(), 0);
  }
  void TearDown() override {
    release_direct_sound();
    destroy_windows();
    free_window_records();
    fake_ui_reset();
    SoundFixture::TearDown();
  }

  std::vector<ErrorCase> cases() {
    std::vector<ErrorCase> out;
    const std::vector<u8> good = wave_image(1, 8000, 16, noise_pcm(8000, 5));
    std::vector<u8> not_riff = good;
    not_riff[0] = 'X';
    std::vector<u8> not_wave = good;
    not_wave[8] = 'X';
    std::vector<u8> no_fmt = good;
    no_fmt[12] = 'x';
    std::vector<u8> short_fmt(good.begin(), good.begin() + 30);
    std::vector<u8> no_data = good;
    no_data[36] = 'x';
    out.push_back({"e_riff.wav", not_riff, -10040, false});
    out.push_back({"e_wave.wav", not_wave, -10050, false});
    out.push_back({"e_fmt.wav", no_fmt, -10060, false});
    out.push_back({"e_fmtcut.wav", short_fmt, -10070, false});
    out.push_back({"e_data.wav", no_data, -10080, false});
    out.push_back({"e_align.wav", with_u16(good, 32, 0), -10090, false});
    // PCM that the sound device takes in no form.
    out.push_back({"e_24.wav", wave_image(2, 8000, 24, noise_pcm(48000, 6)), -1120, false});
    out.push_back({"e_32.wav", wave_image(2, 8000, 32, noise_pcm(64000, 7)), -1120, false});
    // A format tag no converter knows.
    out.push_back({"e_tag.wav", with_u16(good, 20, 0x7A7A), -10310, false});

    const std::string dir = temp_dir("errwait");
    EXPECT_EQ(run("sox -n -r 8000 -c 1 -b 16 '" + dir + "/a.wav' synth 0.3 sine 300"), 0);
    EXPECT_EQ(run("oggenc -Q -s 1717 -o '" + dir + "/a.ogg' '" + dir + "/a.wav'"), 0);
    EXPECT_EQ(run("oggenc -Q -s 4242 -o '" + dir + "/b.ogg' '" + dir + "/a.wav'"), 0);
    std::vector<u8> one = read_file(dir + "/a.ogg");
    std::vector<u8> chained = one;
    std::vector<u8> two = read_file(dir + "/b.ogg");
    chained.insert(chained.end(), two.begin(), two.end());
    out.push_back({"e_chain.ogg", chained, -1045, false});
    out.push_back({"e_junk.ogg", noise_pcm(5000, 3), -1030, false});
    if (one.size() > 20) out.push_back({"e_torn.ogg", std::vector<u8>(one.begin(), one.end() - 20), -2020, true});
    return out;
  }

  // Command 89 with the file (and play when the case fails at its play).
  static int control(const ErrorCase& c) {
    ParamSet p;
    p.set_text(0, "bad");
    p.set_text(2, c.name.c_str());
    if (c.play) p.set(3, 1);
    return sound_object_control(p);
  }

  // Runs the command on the GUI thread (frames there) or on a frame thread
  // while the GUI thread takes in its events, and gives its result; the run
  // must come to an end within the bound.
  int run_case(const ErrorCase& c, bool frame_thread) {
    std::promise<int> result;
    std::future<int> done = result.get_future();
    std::thread gui([&] {
      // This thread makes the main window: it is the GUI thread.
      setup_screen_record(0);
      if (create_main_window() != 0) {
        result.set_value(-100);
        return;
      }
      int r;
      if (!frame_thread) {
        r = control(c);
      } else {
        std::future<int> frame = std::async(std::launch::async, [&] { return control(c); });
        while (frame.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
          g_platform.ui->process_desktop_events();
        r = frame.get();
      }
      // The window goes with the thread that made it.
      destroy_windows();
      result.set_value(r);
    });
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << c.name << ": the command never came back (frame thread " << frame_thread << ")";
      std::_Exit(1);  // the waits are stuck for good: nothing can be torn down
    }
    gui.join();
    return done.get();
  }
};

TEST_F(SoundErrorWait, EveryReaderErrorShowsItsBoxAndEndsTheRunInBothFrameModes) {
  for (const ErrorCase& c : cases()) add_memory_file(c.name, c.image);
  for (int frame_thread = 0; frame_thread < 2; ++frame_thread) {
    for (const ErrorCase& c : cases()) {
      SCOPED_TRACE(c.name + (frame_thread ? " (frame thread)" : " (GUI thread)"));
      fake_ui_reset();
      reset_error_report_log();
      g_quit_requested = 0;
      sound_system_reset_for_tests();
      g_sound_thread_state = kThreadNotStarted;  // as at a start-up
      ASSERT_EQ(create_direct_sound(), 0);  // the last case's end closed it
      ASSERT_EQ(start_sound_system(), 0);
      EXPECT_EQ(run_case(c, frame_thread != 0), -1);
      EXPECT_EQ(g_quit_requested.load(), 1);
      release_direct_sound();
      EXPECT_EQ(g_sound_thread_state, kSoundThreadEnded);
      // The ended thread left the root sound idle, not sounding without its
      // buffer: the next case's thread must not take it for a lost buffer.
      ObjectNode* root_sound = resolve_object_path(g_object_roots[kTreeSound], "ROOT", 0);
      ASSERT_NE(root_sound, nullptr);
      ASSERT_NE(sound_record(root_sound), nullptr);
      EXPECT_EQ(sound_record(root_sound)->state, kSoundIdle);
      int boxes = 0;
      char want[1024];
      sound_error_text(c.code, want, sizeof want);
      for (const FakeUiBox& b : fake_ui_boxes()) {
        if (b.caption != "DEBUG Message") continue;
        ++boxes;
        EXPECT_EQ(b.text, want);
        if (c.code != -1045) {
          EXPECT_NE(b.text.find(std::to_string(-c.code)), std::string::npos);
        }
      }
      EXPECT_EQ(boxes, 1);
      EXPECT_EQ(g_run_failed.load(), 1);  // the program ends with status 1
      g_run_failed = 0;

      sound_object_delete("bad");
      free_window_records();
      ASSERT_EQ(create_window_records(), 0);
    }
  }
}

// A run asked to end from outside while the load waits: the box is never
// shown and the wait gives up at once.
TEST_F(SoundErrorWait, AnEndFromOutsideLetsThePendingLoadGo) {
  std::vector<ErrorCase> all = cases();
  const ErrorCase& c = all.front();
  add_memory_file(c.name, c.image);
  ASSERT_EQ(start_sound_system(), 0);
  g_platform.ui->end_modal_dialogs();
  g_quit_requested = 1;
  EXPECT_EQ(run_case(c, false), -1);
  release_direct_sound();
  EXPECT_TRUE(fake_ui_boxes().empty());
  EXPECT_EQ(fake_ui_dialogs_ended(), 1);
  g_run_failed = 0;
}

}  // namespace
