#include <atomic>
#include <thread>

#include "platform/clock.h"

namespace {
std::atomic<std::uint32_t> g_now{0};
std::atomic<std::uint64_t> g_slept{0};
std::atomic<std::uint32_t> g_last_sleep{0};

std::uint32_t fake_now_ms() { return g_now.load(); }
void fake_sleep_ms(std::uint32_t ms) {
  g_slept += ms;
  g_last_sleep = ms;
  g_now += ms;
  if (ms == 0) std::this_thread::yield();
}
}  // namespace

const PlatformClock kFakeClock = {fake_now_ms, fake_sleep_ms};
void fake_clock_set(std::uint32_t now) { g_now = now; }
void fake_clock_advance(std::uint32_t ms) { g_now += ms; }
std::uint64_t fake_clock_slept_total() { return g_slept.load(); }
std::uint32_t fake_clock_last_sleep() { return g_last_sleep.load(); }
void fake_clock_reset_sleeps() {
  g_slept = 0;
  g_last_sleep = 0;
}
