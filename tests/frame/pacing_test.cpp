// Frame pacing on the test clock: sleep advances the clock, "work" is a
// clock advance between two pacings.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/main_loop.h"
#include "platform/clock.h"

namespace {
struct Pacer {
  explicit Pacer(i32 rate, u32 start = 0, u8 skip_allowed = 1) {
    g_pacing = FramePacing{};
    g_pacing.frame_rate = rate;
    g_pacing.frame_skip_allowed = skip_allowed;
    g_pacing.frame_start = start;
    g_pacing.pacing_clock = start;
    g_pacing.second_stamp = start;
    fake_clock_set(start);
  }
  // Runs one frame of work ms and returns (frame length, skip).
  std::pair<u32, int> frame(u32 work) {
    u32 before = fake_clock_now_for_test();
    fake_clock_advance(work);
    int skip = pace_frame();
    return {fake_clock_now_for_test() - before, skip};
  }
  static u32 fake_clock_now_for_test() { return kFakeClock.now_ms(); }
};

std::vector<u32> lengths(i32 rate, int frames, u32 start = 0) {
  Pacer p(rate, start);
  std::vector<u32> out;
  for (int i = 0; i < frames; ++i) out.push_back(p.frame(0).first);
  return out;
}

u32 sum(const std::vector<u32>& v, int from, int count) {
  return std::accumulate(v.begin() + from, v.begin() + from + count, 0u);
}
}  // namespace

TEST(Pacing, FrameLengthsCarryTheFraction) {
  struct Case {
    i32 rate;
    u32 first_second, second_second, short_len, long_len;
  } cases[] = {{60, 999, 1000, 16, 17}, {30, 999, 1000, 33, 34}, {50, 1000, 1000, 20, 20}, {120, 999, 1000, 8, 9}};
  for (const Case& c : cases) {
    auto v = lengths(c.rate, 2 * c.rate);
    EXPECT_EQ(sum(v, 0, c.rate), c.first_second) << c.rate;
    EXPECT_EQ(sum(v, c.rate, c.rate), c.second_second) << c.rate;
    for (u32 len : v) EXPECT_TRUE(len == c.short_len || len == c.long_len) << c.rate << " " << len;
  }
  auto v = lengths(60, 6);
  EXPECT_EQ(v, (std::vector<u32>{16, 17, 16, 17, 17, 16}));
}

TEST(Pacing, SameLengthsAcrossTheClockWrap) {
  auto plain = lengths(60, 120);
  auto wrapped = lengths(60, 120, 0xFFFFFF00u);
  EXPECT_EQ(plain, wrapped);
}

TEST(Pacing, LateFrameCatchesUpOnTheNextOne) {
  Pacer p(50);  // 20 ms frames
  auto late = p.frame(30);  // 10 ms late: no sleep
  EXPECT_EQ(late.first, 30u);
  EXPECT_EQ(late.second, 0);
  auto next = p.frame(0);  // keeps to the schedule: sleeps 20 - 10
  EXPECT_EQ(next.first, 10u);
  auto after = p.frame(0);
  EXPECT_EQ(after.first, 20u);
}

TEST(Pacing, SkipRule) {
  struct Case {
    u32 work;
    u8 skip_allowed;
    int skip;
  } cases[] = {
      {20 + 59, 1, 0},   // 59 ms late: under three frames
      {20 + 60, 1, 1},   // three frames late
      {20 + 200, 1, 1},  // ten frames late, under the stall limit
      {20 + 200, 0, 0},  // frame skip off never skips
      {20 + 250, 1, 0},  // a stall is forgotten and skips nothing
      {20 + 5000, 1, 0},
  };
  for (const Case& c : cases) {
    Pacer p(50, 0, c.skip_allowed);
    EXPECT_EQ(p.frame(c.work).second, c.skip) << c.work;
  }
  // A stall is not caught up: the next frame is a whole frame.
  Pacer p(50);
  p.frame(20 + 400);
  EXPECT_EQ(p.frame(0).first, 20u);
}

TEST(Pacing, ZeroOrNegativeRateRunsAtTheDefault) {
  for (i32 rate : {0, -5}) {
    auto v = lengths(rate, 60);
    EXPECT_EQ(sum(v, 0, 60), 999u) << rate;
  }
}

TEST(Pacing, PerSecondCounters) {
  Pacer p(50);
  // Frames end at 20, 40, ... ms; every second frame is drawn.
  for (int i = 1; i <= 100; ++i) {
    if (i % 2 == 0) count_drawn_frame();
    p.frame(0);
  }
  // The frame that ends at 2000 ms closes the second [1000, 2000).
  EXPECT_EQ(g_pacing.paced_rate, 50u);
  EXPECT_EQ(g_pacing.drawn_rate, 25u);
  EXPECT_EQ(g_pacing.paced_frames, 1u);
}

TEST(RunFrame, SuspendedAndQuitReturnAtOnce) {
  Pacer p(60);
  g_quit_requested = 0;
  g_frame_step_suspended = 1;
  u64 frames = g_pacing.frame_counter;
  EXPECT_EQ(run_frame(), 0);
  EXPECT_EQ(kFakeClock.now_ms(), 0u);  // nothing paced
  EXPECT_EQ(g_pacing.frame_counter, frames + 1);
  g_frame_step_suspended = 0;
  g_quit_requested = 1;
  EXPECT_EQ(run_frame(), 1);
  EXPECT_EQ(kFakeClock.now_ms(), 0u);
  g_quit_requested = 0;
  EXPECT_EQ(run_frame(), 0);
  EXPECT_EQ(kFakeClock.now_ms(), 16u);  // one paced frame
  EXPECT_EQ(g_pacing.first_frame_done, 1);
}
