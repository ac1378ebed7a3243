// MurmurHash2 and CRC-32 throughput on 1 MiB buffers, against memcpy of the
// same buffer (the memory-bandwidth limit). Run it to see the three rates;
// the ratio counters give each hash's speed relative to memcpy.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include "bench/bench_support.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "engine/frame/hashes.h"

namespace {
constexpr std::size_t kSize = 1 << 20;

std::vector<unsigned char>& buffer() {
  static std::vector<unsigned char> b = [] {
    std::vector<unsigned char> v(kSize);
    for (std::size_t i = 0; i < kSize; ++i) v[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
    return v;
  }();
  return b;
}

double seconds_per_mib(void (*fn)()) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / 200;
}

std::vector<unsigned char> g_copy(kSize);
void do_memcpy() {
  std::memcpy(g_copy.data(), buffer().data(), kSize);
  benchmark::ClobberMemory();
}
volatile std::uint32_t g_sink;
void do_murmur() { g_sink = murmur_hash2(buffer().data(), kSize); }
void do_crc() { g_sink = crc32_of(buffer().data(), kSize); }

void BM_Memcpy(benchmark::State& state) {
  for (auto _ : state) do_memcpy();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}
void BM_MurmurHash2(benchmark::State& state) {
  for (auto _ : state) do_murmur();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
  state.counters["ratio_to_memcpy"] = seconds_per_mib(do_memcpy) / seconds_per_mib(do_murmur);
}
void BM_Crc32(benchmark::State& state) {
  for (auto _ : state) do_crc();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
  state.counters["ratio_to_memcpy"] = seconds_per_mib(do_memcpy) / seconds_per_mib(do_crc);
  if (g_sink != crc32(crc32(0L, Z_NULL, 0), buffer().data(), static_cast<uInt>(kSize)))
    state.SkipWithError("the CRC differs from zlib's");
}
}  // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_MurmurHash2);
BENCHMARK(BM_Crc32);
BENCH_CHECKED_MAIN()
