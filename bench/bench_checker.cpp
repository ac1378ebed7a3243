// The checker's CRC pass over a 64 MiB page-cached file (its 1 MiB chunks,
// the abort test and the progress arithmetic between them) against reading
// the same file in 1 MiB chunks into zlib's crc32 alone. Prints the ratio
// (aim >= 0.95).
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "checker/checker.h"

namespace {

constexpr std::size_t kFileSize = 64u << 20;
std::string g_path;
std::uint32_t g_expected = 0;

void BM_CheckerCrcPass(benchmark::State& state) {
  std::vector<unsigned char> buffer(kCheckChunk);
  for (auto _ : state) {
    std::uint32_t crc = 0;
    if (checker_file_crc(g_path, buffer, &crc) != 0 || crc != g_expected) state.SkipWithError("wrong CRC");
    benchmark::DoNotOptimize(crc);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

void BM_ZlibCrcAlone(benchmark::State& state) {
  std::vector<unsigned char> buffer(kCheckChunk);
  for (auto _ : state) {
    std::FILE* f = std::fopen(g_path.c_str(), "rb");
    uLong crc = crc32(0L, Z_NULL, 0);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
    std::fclose(f);
    if (crc != g_expected) state.SkipWithError("wrong CRC");
    benchmark::DoNotOptimize(crc);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

BENCHMARK(BM_CheckerCrcPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrcAlone)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char folder[] = "/tmp/klbenchcheckerXXXXXX";
  if (!mkdtemp(folder)) return 1;
  g_path = std::string(folder) + "/big.zpf";
  {
    std::vector<unsigned char> data(kFileSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(bench_noise(static_cast<std::uint32_t>(i)));
    g_expected = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size())));
    std::FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) return 1;
    std::fclose(f);
  }
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  unlink(g_path.c_str());
  rmdir(folder);
  const double ours = reporter.rate["BM_CheckerCrcPass"], peer = reporter.rate["BM_ZlibCrcAlone"];
  if (ours > 0 && peer > 0) {
    std::printf("\nCRC of a 64 MiB file: checker %.1f files/s, zlib crc32 alone %.1f files/s\n", ours, peer);
    bench_aim_at_least("CRC pass, checker rate / zlib crc32 rate", ours / peer, 0.95);
  } else {
    bench_fail("the CRC pass or its peer did not run");
  }
  return bench_exit_status();
}
