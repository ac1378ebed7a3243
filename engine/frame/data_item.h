// The request and result record of data access, the four data sources and
// the in-memory sources (memory groups, files handed over by the compiler).
#pragma once
#include <string>
#include <vector>

#include "engine/frame/types.h"

// Source kinds set by the locators.
constexpr u8 kSourceNone = 0;
constexpr u8 kSourceLooseFile = 1;
constexpr u8 kSourceArchive = 2;
constexpr u8 kSourceCompilerFile = 3;
constexpr u8 kSourceMemoryGroup = 4;

// One data item: filled in by a locator, then by the loader of its source.
// After a successful load the caller owns data (malloc'd; free with
// free_data_item or std::free). After a failed load data is null, size 0.
struct DataItem {
  u32 size = 0;
  u8* data = nullptr;
  u8 source_kind = kSourceNone;
  u8 entry_type = 0;  // MediaType of an archive entry, memory file or loose file
  u32 archive_number = 0;
  u64 entry_position = 0;  // compression byte of the entry, relative to the archive base
  u32 compiler_index = 0;
  u32 group = 0;
  u32 group_index = 0;
};

// Frees the loaded bytes (if any) and clears size and data.
void free_data_item(DataItem* item);

// The data sources in the order the locate walk may visit them.
enum DataSource : u8 {
  kDataSourceMemory = 0,
  kDataSourceCompiler = 1,
  kDataSourceArchives = 2,
  kDataSourceLoose = 3,
};

// In-memory file groups: 4 groups of at most 512 files, oldest first. Filled
// by the layer-save command; searched first by every lookup.
constexpr int kMemoryGroupCount = 4;
constexpr int kMemoryGroupCapacity = 512;
struct MemoryFileEntry {
  std::string name;  // lower-cased, '\' separators
  std::vector<u8> data;
  i32 media_type = 0;
};
struct MemoryFileGroup {
  i32 total_bytes = 0;
  std::vector<MemoryFileEntry> entries;  // at most kMemoryGroupCapacity
};
struct MemoryFileGroups {
  MemoryFileGroup groups[kMemoryGroupCount];
};
extern MemoryFileGroups g_memory_groups;

// The files handed over by the outside script compiler, in its order. The
// compiler bridge fills this list; names and data point into its own copy,
// kept for the whole run. Empty in runs with compiled scripts.
struct CompilerFileRecord {
  const char* name = nullptr;
  u32 size = 0;
  const u8* data = nullptr;
};
struct CompilerFileList {
  const CompilerFileRecord* records = nullptr;
  u32 count = 0;
};
extern CompilerFileList g_compiler_files;

// Switches of the engine configuration that steer lookups, with their values
// before the configuration is read. The configuration reader fills them.
struct DataAccessConfig {
  // Image extension priority: 7 slots, codes 1 ".png", 2 ".bmp", 3 ".jpg",
  // 4 ".gif", 5 ".psb", 6 ".webp"; other codes are skipped.
  u8 image_priority[8] = {1, 2, 3, 4, 5, 6, 0, 0};
  // Sound extension priority: 2 slots, 1 ".ogg", 2 ".wav".
  u8 sound_priority[4] = {1, 2, 0, 0};
  // Loose files before archives: one switch for runs with compiled scripts,
  // one for development runs.
  u32 loose_first_compiled = 0;
  u32 loose_first_development = 0;
};
extern DataAccessConfig g_data_access_config;
