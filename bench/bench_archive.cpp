// Archive benchmarks.
//
// 1. Loading every item of a 200 MiB archive of 2000 deflated items through
//    data access (locate + load), against reading the same bytes with fread
//    and inflating them with zlib directly. Prints peer time / engine time
//    (1.0 = as fast as the bare peer; the aim is at least 0.95).
// 2. Building the lookup index of an archive of 25000 ... 200000 entries:
//    time per entry, which must stay flat (linear growth).
//
// The archives are generated in a temp folder at start and removed at exit.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/frame/archive.h"
#include "engine/frame/archive_format.h"
#include "engine/frame/data_access.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/hashes.h"
#include "engine/frame/media_locator.h"

namespace {

std::string g_root;  // real temp folder

void put_u32(std::vector<u8>* out, u32 v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<u8>(v >> (8 * i)));
}
void put_u64(std::vector<u8>* out, u64 v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<u8>(v >> (8 * i)));
}

struct GenItem {
  std::string name;
  u32 unpacked;
  const std::vector<u8>* stored;
};

// Writes an archive of deflated items (no repair records) to path.
void write_archive(const std::string& path, const std::vector<GenItem>& items) {
  NameSwapTable table;
  build_name_swap_table(&table);
  u64 directory_size = 0;
  for (const GenItem& item : items) directory_size += kPackEntryFixedSize + item.name.size();
  std::vector<u8> head;
  head.insert(head.end(), kPackMagic, kPackMagic + 4);
  put_u32(&head, kPackWriterVersion);
  put_u32(&head, static_cast<u32>(items.size()));
  put_u32(&head, static_cast<u32>(directory_size));
  head.resize(kPackHeaderSize, 0);
  u64 offset = kPackHeaderSize + directory_size;
  for (const GenItem& item : items) {
    put_u32(&head, murmur_hash2(item.name.data(), item.name.size()));
    head.push_back(pack_name_length_to_stored(table, static_cast<u8>(item.name.size())));
    for (char c : item.name) head.push_back(pack_name_byte_to_stored(c));
    head.push_back(0);
    head.push_back(kPackDeflated);
    put_u32(&head, item.unpacked);
    put_u32(&head, static_cast<u32>(item.stored->size()));
    put_u64(&head, offset);
    put_u32(&head, murmur_hash2(item.stored->data(), item.stored->size()));
    offset += item.stored->size();
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(head.data(), 1, head.size(), f);
  for (const GenItem& item : items) std::fwrite(item.stored->data(), 1, item.stored->size(), f);
  std::fclose(f);
}

std::string engine_form(const std::string& real) {
  std::string out = real;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out + "\\";
}

// Points the engine at one folder and indexes its archives.
void use_folder(const std::string& real) {
  g_paths.program_folder_true = engine_form(real);
  g_paths.program_folder = g_paths.program_folder_true;
  g_paths.project_folder = g_paths.program_folder_true;
  g_archive_in_program = 0;
  if (build_archive_index() != 0) std::abort();
}

// ---- 1: loading 2000 deflated items of a 200 MiB archive ----

constexpr int kLoadItems = 2000;
constexpr int kVariants = 16;
constexpr u32 kUnpackedSize = 256 * 1024;  // deflates to about 105 KiB
std::vector<std::vector<u8>> g_variant_stored;
struct PeerEntry {
  u64 offset;
  u32 stored;
  u32 unpacked;
};
std::vector<PeerEntry> g_peer_entries;
std::vector<std::string> g_load_names;
std::string g_load_folder, g_load_archive;

void make_load_archive() {
  g_load_folder = g_root + "/load";
  mkdir(g_load_folder.c_str(), 0700);
  std::mt19937 rng(7);
  for (int v = 0; v < kVariants; ++v) {
    // Text-like bytes: letters with some repeated runs, which deflate about
    // 2.5:1, so 2000 items make about 200 MiB.
    std::vector<u8> raw;
    raw.reserve(kUnpackedSize + 64);
    while (raw.size() < kUnpackedSize) {
      if (raw.size() > 4096 && rng() % 100 < 4) {
        const std::size_t from = raw.size() - 1 - rng() % 4096;
        const std::size_t length = 8 + rng() % 24;
        for (std::size_t k = 0; k < length; ++k) raw.push_back(raw[from + k]);
      } else {
        raw.push_back(static_cast<u8>('a' + rng() % 20));
      }
    }
    raw.resize(kUnpackedSize);
    uLongf length = compressBound(raw.size());
    std::vector<u8> packed(length);
    if (compress2(packed.data(), &length, raw.data(), raw.size(), 6) != Z_OK) std::abort();
    packed.resize(length);
    g_variant_stored.push_back(std::move(packed));
  }
  std::vector<GenItem> items;
  for (int i = 0; i < kLoadItems; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "bg\\item%05d.png", i);
    g_load_names.push_back(name);
    items.push_back({name, kUnpackedSize, &g_variant_stored[i % kVariants]});
  }
  g_load_archive = g_load_folder + "/data.zpf";
  write_archive(g_load_archive, items);
  u64 offset = kPackHeaderSize;
  for (const GenItem& item : items) offset += kPackEntryFixedSize + item.name.size();
  for (const GenItem& item : items) {
    g_peer_entries.push_back({offset, static_cast<u32>(item.stored->size()), item.unpacked});
    offset += item.stored->size();
  }
}

u64 load_all_engine() {
  u64 total = 0;
  for (const std::string& name : g_load_names) {
    DataItem item;
    if (locate_data_item(&item, name.c_str(), 1) != kSourceArchive) std::abort();
    if (load_data_item(&item, name.c_str()) != 0) std::abort();
    total += item.size;
    free_data_item(&item);
  }
  return total;
}

u64 load_all_peer() {
  u64 total = 0;
  std::FILE* f = std::fopen(g_load_archive.c_str(), "rb");
  if (!f) std::abort();
  for (const PeerEntry& e : g_peer_entries) {
    u8* packed = static_cast<u8*>(std::malloc(e.stored));
    u8* out = static_cast<u8*>(std::malloc(e.unpacked));
    fseeko(f, static_cast<off_t>(e.offset), SEEK_SET);
    if (std::fread(packed, 1, e.stored, f) != e.stored) std::abort();
    uLongf length = e.unpacked;
    if (uncompress(out, &length, packed, e.stored) != Z_OK) std::abort();
    total += length;
    std::free(packed);
    std::free(out);
  }
  std::fclose(f);
  return total;
}

void BM_LoadArchiveItemsEngine(benchmark::State& state) {
  use_folder(g_load_folder);
  for (auto _ : state) benchmark::DoNotOptimize(load_all_engine());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLoadItems * kUnpackedSize);
}
BENCHMARK(BM_LoadArchiveItemsEngine)->Unit(benchmark::kMillisecond);

void BM_LoadArchiveItemsFreadInflate(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(load_all_peer());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLoadItems * kUnpackedSize);
}
BENCHMARK(BM_LoadArchiveItemsFreadInflate)->Unit(benchmark::kMillisecond);

// ---- 2: index build time per entry ----

std::string index_folder(int entries) { return g_root + "/index" + std::to_string(entries); }

void make_index_archive(int entries) {
  const std::string folder = index_folder(entries);
  mkdir(folder.c_str(), 0700);
  static const std::vector<u8> tiny = [] {
    const u8 byte = 'x';
    uLongf length = compressBound(1);
    std::vector<u8> packed(length);
    compress2(packed.data(), &length, &byte, 1, 9);
    packed.resize(length);
    return packed;
  }();
  std::vector<GenItem> items;
  items.reserve(entries);
  for (int i = 0; i < entries; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "data\\folder%03d\\file%06d.png", i % 500, i);
    items.push_back({name, 1, &tiny});
  }
  write_archive(folder + "/data.zpf", items);
}

void BM_BuildArchiveIndex(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  use_folder(index_folder(entries));
  for (auto _ : state) {
    if (build_archive_index() != 0) std::abort();
  }
  state.SetComplexityN(entries);
  // Seconds per entry.
  state.counters["per_entry"] = benchmark::Counter(
      static_cast<double>(entries), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

double seconds_of(u64 (*fn)()) {
  const auto t0 = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(fn());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kl_bench_archive_XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back(0);
  if (!mkdtemp(buffer.data())) return 1;
  g_root = buffer.data();
  g_errors_quiet = true;
  init_name_swap_table();

  std::fprintf(stderr, "generating archives in %s ...\n", g_root.c_str());
  make_load_archive();
  const int sizes[] = {25000, 50000, 100000, 200000};
  for (int n : sizes) make_index_archive(n);
  std::fprintf(stderr, "load archive: %.1f MiB\n",
               static_cast<double>(std::filesystem::file_size(g_load_archive)) / (1024.0 * 1024.0));

  for (int n : sizes) benchmark::RegisterBenchmark("BM_BuildArchiveIndex", BM_BuildArchiveIndex)->Arg(n)
      ->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

  benchmark::Initialize(&argc, argv);
  CheckingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  // The two figures the benchmarks are for.
  use_folder(g_load_folder);
  load_all_engine();  // warm the page cache for both
  // Alternating runs, best of each, so a busy machine weighs on both alike.
  double engine = 1e30, peer = 1e30;
  for (int r = 0; r < 4; ++r) {
    engine = std::min(engine, seconds_of(load_all_engine));
    peer = std::min(peer, seconds_of(load_all_peer));
  }
  std::printf("load 2000 deflated items: engine %.3f s, fread+uncompress %.3f s\n", engine, peer);
  bench_aim_at_least("load 2000 deflated items, fread+uncompress time / engine time", peer / engine, 0.95);
  for (int n : sizes) {
    use_folder(index_folder(n));
    double best = 1e30;
    for (int r = 0; r < 3; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      if (build_archive_index() != 0) return 1;
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("index of %6d entries: %.1f ms, %.0f ns per entry\n", n, best * 1e3, best * 1e9 / n);
  }
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(g_root, ignored);
  return bench_exit_status();
}
