// Helpers shared by the benchmark programs.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

// A well-mixed 32-bit value of x, for test pixels.
inline std::uint32_t bench_noise(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  return x ^ (x >> 16);
}

// Keeps items per second of every run by name, to print ratios at the end.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> rate;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end()) rate[r.benchmark_name()] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// The "busy machine": while one lives, every hardware thread has a thread of
// its own spinning at normal priority, as a player's machine busy with other
// programs would have. Benchmarks run under it show what the pixel workers
// cost when the cores they would use are taken.
class BusyMachine {
 public:
  BusyMachine() {
    const unsigned n = std::thread::hardware_concurrency() ? std::thread::hardware_concurrency() : 4;
    for (unsigned i = 0; i < n; ++i)
      spinners_.emplace_back([this] {
        volatile std::uint64_t x = 0;
        while (!stop_.load(std::memory_order_relaxed)) x = x + 1;
      });
  }
  ~BusyMachine() {
    stop_ = true;
    for (auto& t : spinners_) t.join();
  }
  BusyMachine(const BusyMachine&) = delete;
  BusyMachine& operator=(const BusyMachine&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> spinners_;
};
