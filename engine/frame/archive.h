// Packed archives: discovery at start-up, the lookup index over every entry,
// primitive archive access, and loading an entry with its integrity check,
// repair and decompression.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/types.h"

constexpr u32 kMaxArchives = 100;
constexpr u32 kMaxArchiveEntries = 200000;
constexpr u32 kMaxArchiveFolders = 1000;
constexpr u32 kMaxArchiveFolderDepth = 32;
// Depth of the folder walk: the game folder and its "pac" folder.
constexpr int kArchiveSearchDepth = 1;

// One archive of the table.
struct ArchiveRecord {
  // The path as found, lower-cased (".\pac\data.zpf"): shown in messages and
  // tested for the update names.
  std::string name;
  // Absolute, true-case path that is opened, so a change of the current
  // folder never breaks a read.
  std::string open_path;
  // Start of the archive inside its file (non-zero for the archive appended
  // to the program file).
  u64 base = 0;
  // Entry count read when the archive was added.
  u32 entry_count = 0;
};

// Built once at start-up, read-only afterwards.
struct ArchiveIndex {
  std::vector<ArchiveRecord> archives;
  // Slots 1..9: "update1.zpf" ... "update9.zpf" when found (name, open path).
  ArchiveRecord update_slots[10];
  bool update_found[10] = {};
  u64 total_entries = 0;
  // Parallel arrays sorted by hash (unsigned, ascending): name hash (an
  // entry replaced by an update archive has a changed hash), archive number,
  // offset of the entry's name-length byte from the archive base.
  std::vector<u32> hashes;
  std::vector<u32> archive_numbers;
  std::vector<u32> entry_offsets;
  u8 duplicates_seen = 0;
};
extern ArchiveIndex g_archive_index;

// Empties the index (tests; a second start-up in one process).
void reset_archive_index();

// Finds the archives (the one appended to the program file, or those of the
// program folder and its "pac" folder, update archives last), checks their
// headers and builds the index. 0, or -1 after a reported error.
int build_archive_index();
// Reads the directories of the archives in the table and builds the sorted
// index (the second half of build_archive_index). 0 or -1.
int index_archive_entries();
// Breadth-first walk from root (a folder relative to the program folder,
// "." for the program folder itself) down to max_depth. 0 or -1.
int find_archives(int max_depth, const char* root);
// Adds one archive to the table after checking its header. 0 (also for a
// file without the archive magic, which is skipped), -1 or -2 after a
// reported error.
int add_archive(const char* name, const char* open_path, u64 base);

// An open archive. Every seek is relative to base.
struct PackFile {
  std::FILE* handle = nullptr;
  u8 opened = 0;
  u64 base = 0;
  u64 length = 0;  // bytes from base to the end of the file
};
int pack_open(PackFile* pack, const char* open_path, u64 base);
int pack_open_archive(PackFile* pack, u32 archive_number);
void pack_close(PackFile* pack);
int pack_seek(PackFile* pack, u64 offset);
u64 pack_tell(PackFile* pack);
// 0 when all n bytes were read, else -1.
int pack_read(PackFile* pack, void* buffer, std::size_t n);
int pack_read_u8(PackFile* pack, u8* out);
int pack_read_u32(PackFile* pack, u32* out);
int pack_read_u64(PackFile* pack, u64* out);

// 2 found (archive number, entry type and entry position set), 0 not found,
// -2 the archive does not open (reported).
int locate_in_hashed_index(DataItem* item, const char* name);
// 0 loaded; -2 damaged or unpackable; -3 open, memory or read failure. Every
// failure is reported first and leaves item->data null and item->size 0.
int load_item_from_pack(DataItem* item, const char* name);
// The archive is positioned right behind the stored bytes. 0 the hash
// matches, 1 repaired in place, -1 not repairable.
int verify_and_repair_item(PackFile* pack, u8* data, u32 length, u32 hash, const char* name);
u32 crc32_block(const void* data, std::size_t length);
