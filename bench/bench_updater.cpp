// The updater's crash-safe copy of a 256 MiB update archive (staged beside
// its target, flushed, renamed over it, the folder flushed) against
// copy_file_range of the same file over the target alone, which is neither
// flushed nor safe against a crash. Prints the ratio (aim >= 0.9), and the
// ratio against the same copy flushed, which is what the flush costs.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/platform.h"
#include "updater/updater.h"

namespace {

constexpr std::size_t kArchiveSize = 256u << 20;
std::string g_root;

std::string install() { return g_root + "/install/"; }

off_t size_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

void BM_StageAndRename(benchmark::State& state) {
  for (auto _ : state) {
    // The three small files go the same way; the archive is the cost.
    if (install_update_files(install()) != 0) state.SkipWithError("the update failed");
  }
  if (size_of(install() + "pac/update2.zpf") != static_cast<off_t>(kArchiveSize)) state.SkipWithError("short archive");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// state.range(0): 1 flushes the copy (fsync), as a crash-safe copy must.
void BM_CopyFileRange(benchmark::State& state) {
  const std::string from = g_root + "/package/data/pac/update2.zpf";
  const std::string to = install() + "pac/update2.zpf";
  for (auto _ : state) {
    int in = open(from.c_str(), O_RDONLY);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
      state.SkipWithError("cannot open");
      break;
    }
    std::size_t left = kArchiveSize;
    while (left > 0) {
      ssize_t n = copy_file_range(in, nullptr, out, nullptr, left, 0);
      if (n <= 0) break;
      left -= static_cast<std::size_t>(n);
    }
    if (state.range(0) && fsync(out) != 0) state.SkipWithError("fsync failed");
    close(in);
    close(out);
    if (left != 0) state.SkipWithError("short copy");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

BENCHMARK(BM_StageAndRename)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_CopyFileRange)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

// Writes a package file of size bytes and flushes it to disk: a package
// unpacked long before the update is on disk, and its writes left pending
// here would otherwise be written during whichever copy runs first.
bool write_file(const std::string& path, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<unsigned char> chunk(1u << 20);
  for (std::size_t done = 0; done < size; done += chunk.size()) {
    for (std::size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<unsigned char>(bench_noise(static_cast<std::uint32_t>(done + i)));
    std::size_t n = size - done < chunk.size() ? size - done : chunk.size();
    if (std::fwrite(chunk.data(), 1, n, f) != n) {
      std::fclose(f);
      return false;
    }
  }
  const bool flushed = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  return std::fclose(f) == 0 && flushed;
}

}  // namespace

int main(int argc, char** argv) {
  platform_select_real();
  char folder[] = "/tmp/klbenchupdaterXXXXXX";
  if (!mkdtemp(folder)) return 1;
  g_root = folder;
  for (const char* d : {"/install", "/install/pac", "/package", "/package/data", "/package/data/pac"})
    mkdir((g_root + d).c_str(), 0755);
  const std::string pkg = g_root + "/package/data/";
  if (!write_file(pkg + "k_lumbrane", 4u << 20) || !write_file(pkg + "ZTFChk", 1u << 20) ||
      !write_file(pkg + "ztfchk.ini", 4096) || !write_file(pkg + "pac/update2.zpf", kArchiveSize))
    return 1;
  // The updater reads its package from the current folder.
  if (chdir((g_root + "/package").c_str()) != 0) return 1;
  // The install folder holds the old version before the first timed update,
  // as a player's does: every timed copy then replaces files of the same
  // size (the first one timed would otherwise also find the memory for a
  // whole new set of files, and the copies after it the memory it freed).
  if (install_update_files(install()) != 0) return 1;
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (chdir("/") != 0) return 1;
  std::system(("rm -rf " + g_root).c_str());
  const double ours = reporter.rate["BM_StageAndRename/iterations:4/real_time"];
  const double peer = reporter.rate["BM_CopyFileRange/0/iterations:4/real_time"];
  const double flushed = reporter.rate["BM_CopyFileRange/1/iterations:4/real_time"];
  if (ours > 0 && peer > 0 && flushed > 0) {
    std::printf("\nUpdate of a 256 MiB archive: stage and rename %.2f/s, copy_file_range %.2f/s;"
                "\nagainst copy_file_range with fsync %.2f/s, ratio %.3f\n",
                ours, peer, flushed, ours / flushed);
    bench_aim_at_least("update, stage and rename rate / copy_file_range rate", ours / peer, 0.9);
  } else {
    bench_fail("the update or its peer did not run");
  }
  return bench_exit_status();
}
