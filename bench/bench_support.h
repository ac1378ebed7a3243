// Helpers shared by the benchmark programs.
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/memory.h"

// An allocator that gives a library's buffers the memory the engine gives
// its own large images (from 2 MB on, 2 MB pages where the system has them):
// on a virtual machine whose small pages cost a two-level walk each, a
// comparison of the engine with a library on ordinary vectors would measure
// the pages, not the code.
template <class T>
struct LargePageAllocator {
  using value_type = T;
  LargePageAllocator() = default;
  template <class U>
  LargePageAllocator(const LargePageAllocator<U>&) {}
  T* allocate(std::size_t n) {
    if (void* p = alloc_on_large_pages(n * sizeof(T))) return static_cast<T*>(p);
    throw std::bad_alloc();
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <class U>
  bool operator==(const LargePageAllocator<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const LargePageAllocator<U>&) const {
    return false;
  }
};
template <class T>
using LargePageVector = std::vector<T, LargePageAllocator<T>>;

// A well-mixed 32-bit value of x, for test pixels.
inline std::uint32_t bench_noise(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  return x ^ (x >> 16);
}

// The shortest of `runs` timed calls of f, in seconds.
template <class F>
double best_of(int runs, F f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// The failed checks of this program: a run that reported an error, a
// result that came out wrong, a ratio that missed its aim. The program exits
// with bench_exit_status(), non-zero when any check failed, so that a
// benchmark cannot pass while it measures nothing.
inline int& bench_failures() {
  static int failures = 0;
  return failures;
}

// Counts a failed check and says which on stderr.
inline void bench_fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void bench_fail(const char* format, ...) {
  ++bench_failures();
  std::fprintf(stderr, "FAILED: ");
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fprintf(stderr, "\n");
}

// A check of a result: counts a failure when ok is false. Returns ok.
inline bool bench_expect(bool ok, const char* what) {
  if (!ok) bench_fail("%s", what);
  return ok;
}

// A ratio against its aim: prints "what: value (aim <= limit)" and counts a
// failure when the value lies on the wrong side (or is not a number).
inline bool bench_aim_at_most(const char* what, double value, double limit) {
  const bool ok = value <= limit;
  std::printf("%s: %.3f (aim <= %.2f)%s\n", what, value, limit, ok ? "" : "  MISSED");
  if (!ok) bench_fail("%s: %.3f, aim <= %.2f", what, value, limit);
  return ok;
}
inline bool bench_aim_at_least(const char* what, double value, double limit) {
  const bool ok = value >= limit;
  std::printf("%s: %.3f (aim >= %.2f)%s\n", what, value, limit, ok ? "" : "  MISSED");
  if (!ok) bench_fail("%s: %.3f, aim >= %.2f", what, value, limit);
  return ok;
}

inline int bench_exit_status() {
  std::fflush(stdout);
  if (bench_failures() == 0) return 0;
  std::fprintf(stderr, "%d check(s) failed\n", bench_failures());
  return 1;
}

// The console reporter that counts every run that reported an error
// (state.SkipWithError) as a failed check.
class CheckingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.error_occurred) bench_fail("%s: %s", r.benchmark_name().c_str(), r.error_message.c_str());
    ConsoleReporter::ReportRuns(runs);
  }
};

// Keeps items per second of every run by name, to print ratios at the end.
class RateReporter : public CheckingReporter {
 public:
  std::map<std::string, double> rate;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end()) rate[r.benchmark_name()] = it->second;
    }
    CheckingReporter::ReportRuns(runs);
  }
};

// The "busy machine": while one lives, every hardware thread has a thread of
// its own spinning at normal priority, as a player's machine busy with other
// programs would have. Benchmarks run under it show what the pixel workers
// cost when the cores they would use are taken.
class BusyMachine {
 public:
  // threads: how many spin (0: one per hardware thread).
  explicit BusyMachine(unsigned threads = 0) {
    const unsigned all = std::thread::hardware_concurrency() ? std::thread::hardware_concurrency() : 4;
    const unsigned n = threads ? threads : all;
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

// Times one piece of work on the busy machine on one thread and on four
// workers in alternating blocks of `block` runs, so that both see the same
// load (a machine busy with other programs changes from second to second);
// which of the two runs first alternates from iteration to iteration.
// use_workers(n) starts n workers (0: none); work() runs once. Every run is
// timed, the first after a switch too (after a short pause that lets the
// threads started or ended by the switch settle). Sets the counters one_ms and four_ms
// (mean time of one run) and four_over_one.
template <typename UseWorkers, typename Work>
void time_busy_alternating(benchmark::State& state, UseWorkers use_workers, Work work, int block) {
  BusyMachine busy;
  double total[2] = {0, 0};
  std::int64_t runs[2] = {0, 0};
  bool four_first = false;
  for (auto _ : state) {
    double iteration = 0;
    // The side that runs first alternates, so that neither always follows
    // the other.
    for (int half = 0; half < 2; ++half) {
      const int k = four_first ? 1 - half : half;
      use_workers(k == 0 ? 0 : 4);
      // Threads just started or ended are still being placed by the
      // scheduler (the engine starts its workers once, at start-up).
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (int i = 0; i < block; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        total[k] += s;
        iteration += s;
        ++runs[k];
      }
    }
    state.SetIterationTime(iteration);
    four_first = !four_first;
  }
  use_workers(0);
  if (runs[0] > 0 && runs[1] > 0) {
    const double one = total[0] / static_cast<double>(runs[0]), four = total[1] / static_cast<double>(runs[1]);
    state.counters["one_ms"] = one * 1e3;
    state.counters["four_ms"] = four * 1e3;
    state.counters["four_over_one"] = four / one;
  }
}

// The main() of a program whose checks are all inside its benchmarks
// (state.SkipWithError): exits non-zero when any of them failed.
#define BENCH_CHECKED_MAIN()                              \
  int main(int argc, char** argv) {                       \
    benchmark::Initialize(&argc, argv);                   \
    CheckingReporter checking_reporter;                   \
    benchmark::RunSpecifiedBenchmarks(&checking_reporter); \
    benchmark::Shutdown();                                \
    return bench_exit_status();                           \
  }

// The median and the largest of values (which it sorts).
inline double median_of(std::vector<double>& v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}
inline double worst_of(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// One run of four workers against one thread on the same work: `pairs`
// pairs of blocks, each pair one block of `block` calls of work() with no
// workers and one with four (use_workers starts them), every call timed;
// returns the four-worker time over the one-thread time. Both sides are
// treated alike: each block starts with the switch and one untimed call
// (it finds threads just started or ended and caches filled by the other
// side), and the side that runs first alternates from pair to pair, so that
// neither always follows the other (a machine whose speed drifts, or a
// cache the block before left behind, then weighs on both alike). Adjacent
// blocks see the same load when the machine's load changes from second to
// second.
template <typename UseWorkers, typename Work>
double four_over_one(UseWorkers use_workers, Work work, int block, int pairs, double* one_ms = nullptr,
                     double* four_ms = nullptr) {
  double total[2] = {0, 0};
  int runs[2] = {0, 0};
  for (int pair = 0; pair < pairs; ++pair)
    for (int half = 0; half < 2; ++half) {
      const int k = pair % 2 == 0 ? half : 1 - half;  // 0: one thread, 1: four workers
      use_workers(k == 0 ? 0 : 4);
      work();
      for (int i = 0; i < block; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        total[k] += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++runs[k];
      }
    }
  use_workers(0);
  const double one = total[0] / runs[0], four = total[1] / runs[1];
  if (one_ms) *one_ms = one * 1e3;
  if (four_ms) *four_ms = four * 1e3;
  return four / one;
}
