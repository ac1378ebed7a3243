// The calling thread's processor time: it grows while the thread runs, not
// while it sleeps, and not while another thread of the process runs (the
// pixel workers tell a lost core from a busy band with it).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int64_t kMs = 1'000'000;

// Spins until this thread has used `ns` of processor time, or `limit` of
// wall time has passed; returns the processor time used.
std::int64_t spin_for_cpu(std::int64_t ns, std::chrono::seconds limit) {
  const std::int64_t start = thread_cpu_ns();
  const auto until = Clock::now() + limit;
  volatile unsigned sink = 0;
  while (thread_cpu_ns() - start < ns && Clock::now() < until)
    for (int i = 0; i < 1000; ++i) sink = sink + static_cast<unsigned>(i);
  return thread_cpu_ns() - start;
}

TEST(ThreadCpuTime, GrowsWhileTheThreadRunsOnly) {
  EXPECT_GE(spin_for_cpu(20 * kMs, std::chrono::seconds(20)), 20 * kMs);

  std::int64_t before = thread_cpu_ns();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_LT(thread_cpu_ns() - before, 10 * kMs) << "a sleeping thread's time grew";

  // Another thread's running is not this thread's time.
  before = thread_cpu_ns();
  std::int64_t other = 0;
  std::thread t([&] { other = spin_for_cpu(40 * kMs, std::chrono::seconds(20)); });
  t.join();
  EXPECT_GE(other, 40 * kMs);
  EXPECT_LT(thread_cpu_ns() - before, 10 * kMs) << "the clock counts the whole process";
}

}  // namespace
