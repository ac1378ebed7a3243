// Millisecond clock and sleep.
#pragma once
#include <cstdint>

struct PlatformClock {
  // Milliseconds since an arbitrary start; wraps at 2^32. Any thread.
  std::uint32_t (*now_ms)();
  // Sleeps ms milliseconds; 0 only yields the processor. Any thread.
  void (*sleep_ms)(std::uint32_t ms);
};

extern const PlatformClock kPosixClock;

// Processor time the calling thread has used since it started, in
// nanoseconds (0 where the system does not say). Any thread; the same on
// every backend, as it reads the running thread itself.
std::int64_t thread_cpu_ns();

// The test clock: now_ms returns a settable value and sleep_ms(ms) advances it
// by ms (sleep 0 advances nothing). Thread-safe.
extern const PlatformClock kFakeClock;
void fake_clock_set(std::uint32_t now);
void fake_clock_advance(std::uint32_t ms);
// Total of all sleep_ms arguments since the last reset, and the last one.
std::uint64_t fake_clock_slept_total();
std::uint32_t fake_clock_last_sleep();
void fake_clock_reset_sleeps();
