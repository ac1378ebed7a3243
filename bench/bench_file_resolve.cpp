// Case-insensitive path look-up against a plain stat of the true-case path
// (the least any look-up costs). A folder of 2000 files stands in for a
// game's data folder; names in the right case take the one-stat path, names
// in another case use the kept folder listing.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"

namespace {

constexpr int kFiles = 2000;

struct Fixture {
  std::string root;
  Fixture() {
    char tmpl[] = "/tmp/kl_bench_resolve_XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    root = tmpl;
    if (chdir(root.c_str()) != 0 || mkdir("Data", 0755) != 0) std::abort();
    for (int i = 0; i < kFiles; ++i) {
      std::string name = "Data/BG" + std::to_string(i) + ".PNG";
      std::FILE* f = std::fopen(name.c_str(), "wb");
      if (f) std::fclose(f);
    }
    // Old folders: their listings may be kept between look-ups.
    timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, "Data", old, 0);
    utimensat(AT_FDCWD, ".", old, 0);
  }
  ~Fixture() {
    std::string cmd = "rm -rf '" + root + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", root.c_str());
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_StatTrueCase(benchmark::State& state) {
  fixture();
  struct stat st;
  int i = 0;
  for (auto _ : state) {
    std::string path = "Data/BG" + std::to_string(i++ % kFiles) + ".PNG";
    benchmark::DoNotOptimize(stat(path.c_str(), &st));
  }
}
BENCHMARK(BM_StatTrueCase);

void BM_ResolveTrueCase(benchmark::State& state) {
  fixture();
  std::string real;
  int i = 0;
  for (auto _ : state) {
    std::string path = "Data\\BG" + std::to_string(i++ % kFiles) + ".PNG";
    benchmark::DoNotOptimize(kPosixFiles.resolve(path.c_str(), &real));
  }
  if (kPosixFiles.resolve("Data\\BG1.PNG", &real) != 0) state.SkipWithError("an existing file was not found");
}
BENCHMARK(BM_ResolveTrueCase);

void BM_ResolveOtherCase(benchmark::State& state) {
  fixture();
  std::string real;
  int i = 0;
  std::uint64_t listings = files_folder_listings_read();
  for (auto _ : state) {
    std::string path = "data\\bg" + std::to_string(i++ % kFiles) + ".png";
    benchmark::DoNotOptimize(kPosixFiles.resolve(path.c_str(), &real));
  }
  state.counters["listings_read"] = static_cast<double>(files_folder_listings_read() - listings);
  if (kPosixFiles.resolve("data\\bg1.png", &real) != 0) state.SkipWithError("a file in another case was not found");
}
BENCHMARK(BM_ResolveOtherCase);

void BM_ResolveMissing(benchmark::State& state) {
  fixture();
  std::string real;
  int i = 0;
  for (auto _ : state) {
    std::string path = "data\\none" + std::to_string(i++ % kFiles) + ".png";
    benchmark::DoNotOptimize(kPosixFiles.resolve(path.c_str(), &real));
  }
}
BENCHMARK(BM_ResolveMissing);

}  // namespace

BENCH_CHECKED_MAIN()
