// Shared set-up of the sound tests: the sound tree, the fake audio device on
// the test clock, WAVE images made in memory and files made by sox and
// oggenc, and a driver that runs the sound thread's cycles in the test.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/sound/sound.h"
#include "engine/sound/sound_control.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_files.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/platform.h"

namespace sound_test {

inline void put16(std::vector<u8>& v, u16 x) {
  v.push_back(static_cast<u8>(x));
  v.push_back(static_cast<u8>(x >> 8));
}
inline void put32(std::vector<u8>& v, u32 x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<u8>(x >> (8 * i)));
}

// A RIFF WAVE image of PCM samples.
inline std::vector<u8> wave_image(u16 channels, u32 rate, u16 bits, const std::vector<u8>& pcm) {
  std::vector<u8> v;
  v.insert(v.end(), {'R', 'I', 'F', 'F'});
  put32(v, static_cast<u32>(36 + pcm.size() + (pcm.size() & 1)));
  v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(v, 16);
  put16(v, 1);
  put16(v, channels);
  put32(v, rate);
  u16 align = static_cast<u16>(channels * bits / 8);
  put32(v, rate * align);
  put16(v, align);
  put16(v, bits);
  v.insert(v.end(), {'d', 'a', 't', 'a'});
  put32(v, static_cast<u32>(pcm.size()));
  v.insert(v.end(), pcm.begin(), pcm.end());
  if (pcm.size() & 1) v.push_back(0);
  return v;
}

// Samples no two blocks of which are alike, so a shifted or repeated byte shows.
inline std::vector<u8> noise_pcm(u32 bytes, u32 seed) {
  std::vector<u8> v(bytes);
  u32 x = seed * 2654435761u + 1;
  for (u32 i = 0; i < bytes; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v[i] = static_cast<u8>(x >> 24);
    if (v[i] == 0) v[i] = 1;  // never silence, so the silent parts stand out
  }
  return v;
}

inline void add_memory_file(const std::string& name, const std::vector<u8>& data) {
  MemoryFileEntry e;
  e.name = name;
  e.data = data;
  g_memory_groups.groups[0].entries.push_back(e);
}

inline std::vector<u8> read_file(const std::string& path) {
  std::vector<u8> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  u8 buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
  std::fclose(f);
  return v;
}

// A scratch folder of this process: ctest runs each case of a suite in a
// process of its own, side by side, so two cases with one tag must not
// share (and clear) one folder.
inline std::string temp_dir(const char* tag) {
  std::string d = std::string(KL_BINARY_DIR) + "/test_sound_" + tag + "_" + std::to_string(getpid());
  std::string cmd = "rm -rf '" + d + "' && mkdir -p '" + d + "'";
  if (std::system(cmd.c_str()) != 0) return "";
  return d;
}

inline int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

class SoundFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    g_platform.audio = &kFakeAudio;
    fake_audio_reset();
    fake_clock_set(100000);
    reset_error_report_log();
    g_quit_requested = 0;
    g_sound_thread_state = kThreadNotStarted;
    ASSERT_EQ(create_system_objects(), 0);
    g_engine_config.sound_mode = 1;
    ASSERT_EQ(create_direct_sound(), 0);
    sound_system_reset_for_tests();
    g_scheduler.run_while_inactive = 1;
    g_engine_clocks.paused = 0;
    for (auto& g : g_memory_groups.groups) g.entries.clear();
  }
  void TearDown() override {
    sound_stop_all();
    destroy_system_objects();
    g_platform.audio->close_device();
    g_sound_device_open = 0;
    for (auto& g : g_memory_groups.groups) g.entries.clear();
    g_quit_requested = 0;
  }
  ObjectNode* sound(const char* path, int group = 0) {
    ObjectNode* n = get_named_object(g_object_roots[kTreeSound], path, group, 0);
    if (n) attach_audio_record(n);
    return n;
  }
  // Runs cycles (20 ms of test clock each when the queue is empty) until
  // pred holds or limit cycles have run; the last cycle result.
  template <class P>
  int cycle_until(P pred, int limit = 2000) {
    int r = 0;
    for (int i = 0; i < limit && !pred(); ++i) {
      r = sound_cycle();
      if (r != 0) return r;
    }
    return r;
  }
  int cycles(int n) {
    for (int i = 0; i < n; ++i) {
      int r = sound_cycle();
      if (r != 0) return r;
    }
    return 0;
  }
  // Posts a load and a play and runs them.
  int load_and_play(ObjectNode* n, const char* name, u8 codec, i32 loops, i32 fade = 0) {
    sound_control_load(n, name, codec, loops, 0);
    sound_post(n, 7, loops, nullptr);
    return cycles(1) == 0 && sound_control_play(n, fade, 0) == 1 ? cycles(1) : -1;
  }
};

inline SoundBuffer* rec(ObjectNode* n) { return sound_record(n); }

}  // namespace sound_test
