#include "engine/frame/archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/frame/archive_format.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/hashes.h"
#include "engine/frame/sjis_text.h"
#include "platform/files.h"
#include "platform/platform.h"

ArchiveIndex g_archive_index;

namespace {

constexpr u32 kErrReadFailed = 104010;
constexpr u32 kErrNoMemoryForFile = 104030;
constexpr u32 kErrDamagedItem = 104100;
constexpr u32 kErrTooManyFolders = 104110;
constexpr u32 kErrFoldersTooDeep = 104111;
constexpr u32 kErrPackVersion = 104120;
constexpr u32 kErrTooManyArchives = 104130;
constexpr u32 kErrTooManyEntries = 104140;
constexpr u32 kErrDuplicateEntry = 104150;
constexpr u32 kErrUnpackNoMemory = 106010;
constexpr u32 kErrUnpackBuffer = 900040;
constexpr u32 kErrPackOpen = 901040;

// Deflate cannot expand data by more than about 1032:1; a larger claimed
// unpacked size comes from a damaged directory.
constexpr u64 kMaxDeflateRatio = 1032;

u32 read_le32(const u8* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24); }

// Folder the program runs from, as an I/O path ending in a separator.
std::string program_folder_io() {
  std::string folder = g_paths.program_folder_true;
  if (folder.empty() && g_platform.files) folder = g_platform.files->current_folder();
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

std::string lower_copy(const std::string& text) {
  std::string out = text;
  lowercase_sjis_path(out.data());
  return out;
}

// The digit n of a file name "updateN.zpf" (1..9, any case), else 0.
int update_slot_of_file_name(const char* file_name) {
  if (std::strlen(file_name) != 11) return 0;
  char prefix[7];
  std::memcpy(prefix, file_name, 6);
  prefix[6] = 0;
  if (sjis_stricmp(prefix, "update") != 0) return 0;
  if (file_name[6] < '1' || file_name[6] > '9') return 0;
  if (sjis_stricmp(file_name + 7, ".zpf") != 0) return 0;
  return file_name[6] - '0';
}

// 1 when the archive's file name without its extension is update1..update9.
bool is_update_archive(const ArchiveRecord& archive) {
  const std::size_t start = sjis_last_separator_end(archive.name.c_str());
  return update_slot_of_file_name(archive.name.c_str() + start) != 0;
}

struct BuildEntry {
  u32 hash;
  u32 archive;
  u32 offset;
  u32 name_at;  // NUL-terminated restored name in the name arena
};

// Reads the directory of one archive and appends its entries and their
// restored names. 0 or -1.
int read_archive_directory(u32 archive_number, std::vector<BuildEntry>* entries, std::vector<char>* names) {
  const ArchiveRecord& archive = g_archive_index.archives[archive_number];
  PackFile pack;
  if (pack_open(&pack, archive.open_path.c_str(), archive.base) != 0) {
    report_error_fmt(kErrPackOpen, 1, archive.name);
    return -1;
  }
  u32 count = 0, directory_size = 0;
  const bool header_ok = pack_seek(&pack, 8) == 0 && pack_read_u32(&pack, &count) == 0 &&
                         pack_read_u32(&pack, &directory_size) == 0;
  // The count must be the one the index was sized for, and the directory
  // must lie inside the file.
  if (!header_ok || count != archive.entry_count || directory_size > pack.length ||
      pack.length - directory_size < kPackHeaderSize) {
    pack_close(&pack);
    report_error_fmt(kErrPackVersion, 1, archive.name);
    return -1;
  }
  // Bytes past the largest directory the count allows are never parsed.
  const u64 largest = static_cast<u64>(count) * (kPackEntryFixedSize + 255);
  if (directory_size > largest) directory_size = static_cast<u32>(largest);
  std::vector<u8> directory(directory_size);
  if (pack_seek(&pack, kPackHeaderSize) != 0 || pack_read(&pack, directory.data(), directory_size) != 0) {
    pack_close(&pack);
    report_error_fmt(kErrPackOpen, 1, archive.name);
    return -1;
  }
  pack_close(&pack);

  std::size_t pos = 0;
  for (u32 i = 0; i < count; ++i) {
    if (directory_size - pos < kPackEntryFixedSize) {
      report_error_fmt(kErrPackVersion, 1, archive.name);
      return -1;
    }
    const u8 length = pack_name_length_from_stored(g_name_swap_table, directory[pos + 4]);
    if (directory_size - pos < kPackEntryFixedSize + length) {
      report_error_fmt(kErrPackVersion, 1, archive.name);
      return -1;
    }
    BuildEntry entry;
    entry.hash = read_le32(&directory[pos]);
    entry.archive = archive_number;
    entry.offset = static_cast<u32>(kPackHeaderSize + pos + 4);
    entry.name_at = static_cast<u32>(names->size());
    // A NUL inside a name ends it, as it does for every later comparison.
    for (u8 k = 0; k < length; ++k) names->push_back(pack_name_byte_from_stored(directory[pos + 5 + k]));
    names->push_back(0);
    entries->push_back(entry);
    pos += kPackEntryFixedSize + length;
  }
  return 0;
}

}  // namespace

void reset_archive_index() { g_archive_index = ArchiveIndex(); }

u32 crc32_block(const void* data, std::size_t length) { return crc32_of(data, length); }

// ---- primitive access ----

int pack_open(PackFile* pack, const char* open_path, u64 base) {
  *pack = PackFile();
  std::FILE* file = g_platform.files->open(open_path, "rb");
  if (!file) return -1;
  if (fseeko(file, 0, SEEK_END) != 0) {
    std::fclose(file);
    return -1;
  }
  const off_t end = ftello(file);
  if (end < 0 || static_cast<u64>(end) < base || fseeko(file, static_cast<off_t>(base), SEEK_SET) != 0) {
    std::fclose(file);
    return -1;
  }
  pack->handle = file;
  pack->base = base;
  pack->length = static_cast<u64>(end) - base;
  pack->opened = 1;
  return 0;
}

int pack_open_archive(PackFile* pack, u32 archive_number) {
  if (archive_number >= g_archive_index.archives.size()) {
    *pack = PackFile();
    return -1;
  }
  const ArchiveRecord& archive = g_archive_index.archives[archive_number];
  return pack_open(pack, archive.open_path.c_str(), archive.base);
}

void pack_close(PackFile* pack) {
  if (pack->handle) std::fclose(pack->handle);
  pack->handle = nullptr;
  pack->opened = 0;
}

int pack_seek(PackFile* pack, u64 offset) {
  if (!pack->handle || offset > pack->length) return -1;
  return fseeko(pack->handle, static_cast<off_t>(pack->base + offset), SEEK_SET) == 0 ? 0 : -1;
}

u64 pack_tell(PackFile* pack) {
  if (!pack->handle) return 0;
  const off_t at = ftello(pack->handle);
  return at < 0 || static_cast<u64>(at) < pack->base ? 0 : static_cast<u64>(at) - pack->base;
}

int pack_read(PackFile* pack, void* buffer, std::size_t n) {
  if (!pack->handle) return -1;
  if (n == 0) return 0;
  return std::fread(buffer, 1, n, pack->handle) == n ? 0 : -1;
}

int pack_read_u8(PackFile* pack, u8* out) { return pack_read(pack, out, 1); }

int pack_read_u32(PackFile* pack, u32* out) {
  u8 b[4];
  if (pack_read(pack, b, 4) != 0) return -1;
  *out = read_le32(b);
  return 0;
}

int pack_read_u64(PackFile* pack, u64* out) {
  u8 b[8];
  if (pack_read(pack, b, 8) != 0) return -1;
  *out = read_le32(b) | (static_cast<u64>(read_le32(b + 4)) << 32);
  return 0;
}

// ---- discovery ----

int add_archive(const char* name, const char* open_path, u64 base) {
  if (g_archive_index.archives.size() >= kMaxArchives) {
    report_error_fmt(kErrTooManyArchives, 1, static_cast<int>(kMaxArchives));
    return -1;
  }
  PackFile pack;
  if (pack_open(&pack, open_path, base) != 0) {
    report_error_fmt(kErrPackOpen, 1, name);
    return -2;
  }
  char magic[4];
  if (pack_read(&pack, magic, 4) != 0 || std::memcmp(magic, kPackMagic, 4) != 0) {
    pack_close(&pack);
    return 0;  // not an archive: skipped silently
  }
  u32 version = 0, count = 0;
  const bool read_ok = pack_read_u32(&pack, &version) == 0 && pack_read_u32(&pack, &count) == 0;
  pack_close(&pack);
  if (!read_ok || version < kPackMinVersion) {
    report_error_fmt(kErrPackVersion, 1, name);
    return -1;
  }
  // Counted in 64 bits, so a count near 2^32 cannot wrap past the limit.
  if (g_archive_index.total_entries + count > kMaxArchiveEntries) {
    report_error_fmt(kErrTooManyEntries, 1, static_cast<int>(kMaxArchiveEntries));
    return -1;
  }
  ArchiveRecord record;
  record.name = name;
  record.open_path = open_path;
  record.base = base;
  record.entry_count = count;
  g_archive_index.archives.push_back(std::move(record));
  g_archive_index.total_entries += count;
  return 0;
}

int find_archives(int max_depth, const char* root) {
  struct Folder {
    std::string name;     // as shown: ".", ".\pac"
    std::string io_path;  // absolute, ending in a separator
    int depth;
  };
  const std::string base_folder = program_folder_io();
  std::vector<Folder> folders;
  std::string root_name = root;
  std::string root_io;
  if (root_name == ".") {
    root_io = base_folder;
  } else if (root_name.size() > 2 && root_name[0] == '.' && (root_name[1] == '\\' || root_name[1] == '/')) {
    root_io = base_folder + root_name.substr(2);
  } else if (!root_name.empty() && (root_name[0] == '\\' || root_name[0] == '/')) {
    root_io = root_name;
  } else {
    root_io = base_folder + root_name;
  }
  if (!root_io.empty() && root_io.back() != '\\' && root_io.back() != '/') root_io += '\\';
  folders.push_back({lower_copy(root_name), root_io, 1});

  for (std::size_t f = 0; f < folders.size(); ++f) {
    const Folder folder = folders[f];
    std::vector<FolderEntry> listing;
    if (g_platform.files->list_folder(folder.io_path.c_str(), &listing) != 0) continue;
    // A fixed order, so archive numbers do not depend on the file system.
    std::sort(listing.begin(), listing.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    for (const FolderEntry& entry : listing) {
      if (entry.name == "." || entry.name == "..") continue;
      const std::string shown = folder.name + "\\" + lower_copy(entry.name);
      const std::string io_path = folder.io_path + entry.name;
      if (entry.is_directory) {
        if (sjis_stricmp(entry.name.c_str(), "pac") != 0 || max_depth < folder.depth) continue;
        if (folders.size() >= kMaxArchiveFolders) {
          report_error_code(kErrTooManyFolders, 1);
          return -1;
        }
        if (folder.depth >= static_cast<int>(kMaxArchiveFolderDepth)) {
          report_error_code(kErrFoldersTooDeep, 1);
          return -1;
        }
        folders.push_back({shown, io_path + "\\", folder.depth + 1});
        continue;
      }
      if (entry.name.size() < 4 || !ends_with_nocase(entry.name.c_str(), ".zpf")) continue;
      const int slot = update_slot_of_file_name(entry.name.c_str());
      if (slot != 0) {
        // A later one of the same name replaces an earlier one.
        g_archive_index.update_slots[slot].name = shown;
        g_archive_index.update_slots[slot].open_path = io_path;
        g_archive_index.update_found[slot] = true;
        continue;
      }
      if (add_archive(shown.c_str(), io_path.c_str(), 0) < 0) return -1;
    }
  }
  return 0;
}

int build_archive_index() {
  reset_archive_index();
  if (g_archive_in_program) {
    std::string name = g_paths.program_path.empty() ? lower_copy(g_paths.program_path_true) : g_paths.program_path;
    if (add_archive(name.c_str(), g_paths.program_path_true.c_str(), g_appended_archive_base) < 0) return -1;
  } else if (find_archives(kArchiveSearchDepth, ".") < 0) {
    return -1;
  }
  for (int slot = 1; slot <= 9; ++slot) {
    if (!g_archive_index.update_found[slot]) continue;
    const ArchiveRecord& update = g_archive_index.update_slots[slot];
    if (add_archive(update.name.c_str(), update.open_path.c_str(), 0) < 0) return -1;
  }
  return index_archive_entries();
}

namespace {

// Entries chained by their current hash in a power-of-two bucket table.
struct HashChains {
  static constexpr u32 kEnd = 0xFFFFFFFFu;
  std::vector<u32> heads;
  std::vector<u32> next;
  u32 shift = 0;
  explicit HashChains(std::size_t entries) {
    std::size_t size = 16;
    u32 bits = 4;
    while (size < 2 * entries) size <<= 1, ++bits;
    heads.assign(size, kEnd);
    next.assign(entries, kEnd);
    shift = 32 - bits;
  }
  u32 bucket(u32 hash) const { return (hash * 0x9E3779B1u) >> shift; }
  void insert(u32 hash, u32 index) {
    u32& head = heads[bucket(hash)];
    next[index] = head;
    head = index;
  }
  void remove(u32 hash, u32 index) {
    for (u32* link = &heads[bucket(hash)]; *link != kEnd; link = &next[*link]) {
      if (*link == index) {
        *link = next[index];
        return;
      }
    }
  }
};

// Stable radix sort of entry numbers by hash (ascending, unsigned), so equal
// hashes keep their reading order. Linear in the entry count; the keys are
// (hash, number) pairs in one array, read in order on every pass.
void sort_by_hash(const std::vector<BuildEntry>& entries, std::vector<u32>* order) {
  const std::size_t n = entries.size();
  std::vector<u64> from(n), to(n);
  for (std::size_t i = 0; i < n; ++i) from[i] = (static_cast<u64>(entries[i].hash) << 32) | i;
  for (int shift = 32; shift < 64; shift += 8) {
    std::size_t counts[257] = {};
    for (u64 key : from) ++counts[((key >> shift) & 0xFF) + 1];
    for (int b = 0; b < 256; ++b) counts[b + 1] += counts[b];
    for (u64 key : from) to[counts[(key >> shift) & 0xFF]++] = key;
    from.swap(to);
  }
  order->resize(n);
  for (std::size_t i = 0; i < n; ++i) (*order)[i] = static_cast<u32>(from[i]);
}

}  // namespace

int index_archive_entries() {
  g_archive_index.hashes.clear();
  g_archive_index.archive_numbers.clear();
  g_archive_index.entry_offsets.clear();
  g_archive_index.duplicates_seen = 0;
  std::vector<BuildEntry> entries;
  entries.reserve(static_cast<std::size_t>(g_archive_index.total_entries));
  std::vector<char> names;
  // Entries by their current hash: an entry replaced by an update archive
  // moves to its changed hash, so each entry is compared with exactly the
  // earlier entries that comparing it with every earlier entry would match.
  HashChains chains(static_cast<std::size_t>(g_archive_index.total_entries));
  std::vector<u32> matches;
  for (u32 a = 0; a < g_archive_index.archives.size(); ++a) {
    const std::size_t first = entries.size();
    if (read_archive_directory(a, &entries, &names) != 0) return -1;
    // The count was checked against the one the table was sized for.
    if (entries.size() > chains.next.size()) {
      report_error_fmt(kErrPackVersion, 1, g_archive_index.archives[a].name);
      return -1;
    }
    const bool update = is_update_archive(g_archive_index.archives[a]);
    for (std::size_t k = first; k < entries.size(); ++k) {
      const BuildEntry& entry = entries[k];
      const char* name = &names[entry.name_at];
      if (sjis_stricmp(name, "ztbin\\ztcfg.zbn") == 0) g_compiled_scripts_present = 1;
      matches.clear();
      for (u32 j = chains.heads[chains.bucket(entry.hash)]; j != HashChains::kEnd; j = chains.next[j]) {
        if (entries[j].hash != entry.hash) continue;
        g_archive_index.duplicates_seen = 1;
        if (sjis_stricmp(&names[entries[j].name_at], name) == 0) matches.push_back(j);
      }
      for (u32 j : matches) {
        if (!update) {
          report_error_fmt(kErrDuplicateEntry, 0, name);
          return -1;
        }
        // The earlier entry is disabled by changing its hash, so that the
        // later one is found.
        const u32 old_hash = entries[j].hash;
        chains.remove(old_hash, j);
        entries[j].hash = old_hash == 0 ? 1 : 0;
        chains.insert(entries[j].hash, j);
      }
      chains.insert(entry.hash, static_cast<u32>(k));
    }
  }

  std::vector<u32> order;
  sort_by_hash(entries, &order);
  g_archive_index.hashes.resize(order.size());
  g_archive_index.archive_numbers.resize(order.size());
  g_archive_index.entry_offsets.resize(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    const BuildEntry& entry = entries[order[i]];
    g_archive_index.hashes[i] = entry.hash;
    g_archive_index.archive_numbers[i] = entry.archive;
    g_archive_index.entry_offsets[i] = entry.offset;
  }
  return 0;
}

// ---- lookup and loading ----

int locate_in_hashed_index(DataItem* item, const char* name) {
  const u32 hash = murmur_hash2(name, std::strlen(name));
  const auto& hashes = g_archive_index.hashes;
  auto it = std::lower_bound(hashes.begin(), hashes.end(), hash);
  PackFile pack;
  u32 open_archive = 0xFFFFFFFFu;
  for (; it != hashes.end() && *it == hash; ++it) {
    const std::size_t i = static_cast<std::size_t>(it - hashes.begin());
    const u32 archive = g_archive_index.archive_numbers[i];
    if (archive != open_archive) {
      pack_close(&pack);
      if (pack_open_archive(&pack, archive) != 0) {
        report_error_at(kErrPackOpen, 1, g_archive_index.archives[archive].name);
        return -2;
      }
      open_archive = archive;
    }
    const u32 offset = g_archive_index.entry_offsets[i];
    u8 stored_length = 0;
    if (pack_seek(&pack, offset) != 0 || pack_read_u8(&pack, &stored_length) != 0) continue;
    const u8 length = pack_name_length_from_stored(g_name_swap_table, stored_length);
    char entry_name[256];
    u8 raw[256];
    if (pack_read(&pack, raw, length) != 0) continue;
    for (u8 k = 0; k < length; ++k) entry_name[k] = pack_name_byte_from_stored(raw[k]);
    entry_name[length] = 0;
    if (sjis_stricmp(entry_name, name) != 0) continue;
    u8 type = 0;
    if (pack_read_u8(&pack, &type) != 0) continue;
    item->source_kind = kSourceArchive;
    item->archive_number = archive;
    item->entry_type = type;
    item->entry_position = static_cast<u64>(offset) + 1 + length + 1;
    pack_close(&pack);
    return 2;
  }
  pack_close(&pack);
  return 0;
}

int verify_and_repair_item(PackFile* pack, u8* data, u32 length, u32 hash, const char* name) {
  if (murmur_hash2(data, length) == hash) return 0;
  // The repair record must be whole, with a parity block of the one size the
  // format knows and one check value per block of the stored bytes.
  const u64 at = pack_tell(pack);
  u32 parity_size = 0, blocks = 0;
  if (pack_read_u32(pack, &parity_size) != 0 || pack_read_u32(pack, &blocks) != 0) return -1;
  if (parity_size != kPackRepairBlockSize) return -1;
  const u32 expected_blocks = length / kPackRepairBlockSize + (length % kPackRepairBlockSize ? 1 : 0);
  if (blocks != expected_blocks) return -1;
  const u64 record_size = 8 + 2ull * blocks + parity_size;
  if (at > pack->length || pack->length - at < record_size) return -1;
  std::vector<u8> checks(2ull * blocks);
  std::vector<u8> parity(kPackRepairBlockSize);
  if (pack_read(pack, checks.data(), checks.size()) != 0 || pack_read(pack, parity.data(), parity.size()) != 0)
    return -1;

  std::vector<u8> computed(kPackRepairBlockSize, 0);
  for (u32 b = 0; b < blocks; ++b) {
    const u32 start = b * kPackRepairBlockSize;
    const u32 n = std::min(kPackRepairBlockSize, length - start);
    for (u32 i = 0; i < n; ++i) computed[i] ^= data[start + i];
  }
  for (u32 b = 0; b < blocks; ++b) {
    const u32 start = b * kPackRepairBlockSize;
    const u32 n = std::min(kPackRepairBlockSize, length - start);
    const u16 check = static_cast<u16>(checks[2 * b] | (checks[2 * b + 1] << 8));
    if (static_cast<u16>(crc32_block(data + start, n) & 0xFFFF) == check) continue;
    // Byte i of this block is the stored parity XOR byte i of every other
    // block, i.e. the current byte XOR the difference of the two parities.
    for (u32 i = 0; i < n; ++i) {
      if (parity[i] != computed[i]) data[start + i] ^= static_cast<u8>(parity[i] ^ computed[i]);
    }
  }
  return murmur_hash2(data, length) == hash ? 1 : -1;
}

int load_item_from_pack(DataItem* item, const char* name) {
  item->data = nullptr;
  item->size = 0;
  if (item->archive_number >= g_archive_index.archives.size()) {
    report_error_at(kErrReadFailed, 1, name);
    return -3;
  }
  const std::string& archive_name = g_archive_index.archives[item->archive_number].name;
  PackFile pack;
  if (pack_open_archive(&pack, item->archive_number) != 0) {
    report_error_at(kErrPackOpen, 1, archive_name);
    return -3;
  }
  u8 compression = 0;
  u32 unpacked = 0, stored = 0, hash = 0;
  u64 offset = 0;
  if (pack_seek(&pack, item->entry_position) != 0 || pack_read_u8(&pack, &compression) != 0 ||
      pack_read_u32(&pack, &unpacked) != 0 || pack_read_u32(&pack, &stored) != 0 ||
      pack_read_u64(&pack, &offset) != 0 || pack_read_u32(&pack, &hash) != 0) {
    pack_close(&pack);
    report_error_at(kErrReadFailed, 1, name);
    return -3;
  }
  // The fields come from the file: the stored bytes must lie inside it, a
  // stored item has one size, and the compression must be one we know.
  const bool in_file = offset <= pack.length && pack.length - offset >= stored;
  const bool sizes_ok = compression == kPackStored
                            ? unpacked == stored
                            : compression == kPackDeflated && unpacked <= kMaxDeflateRatio * stored + 64;
  if (!in_file || !sizes_ok || pack_seek(&pack, offset) != 0) {
    pack_close(&pack);
    report_error_at(kErrDamagedItem, 1, archive_name, name);
    return -2;
  }
  u8* data = static_cast<u8*>(std::malloc(unpacked ? unpacked : 1));
  if (!data) {
    pack_close(&pack);
    report_error_at(kErrNoMemoryForFile, 1, name);
    return -3;
  }
  int result = 0;
  if (compression == kPackStored) {
    if (pack_read(&pack, data, stored) != 0) {
      report_error_at(kErrReadFailed, 1, name);
      result = -3;
    } else if (verify_and_repair_item(&pack, data, stored, hash, name) < 0) {
      report_error_at(kErrDamagedItem, 1, archive_name, name);
      result = -2;
    }
  } else {
    u8* packed = static_cast<u8*>(std::malloc(stored ? stored : 1));
    if (!packed) {
      report_error_at(kErrNoMemoryForFile, 1, name);
      result = -3;
    } else if (pack_read(&pack, packed, stored) != 0) {
      report_error_at(kErrReadFailed, 1, name);
      result = -3;
    } else {
      bool repaired_once = false;
      for (;;) {
        uLongf out_length = unpacked;
        const int z = uncompress(data, &out_length, packed, stored);
        if (z == Z_OK) {
          // Fewer bytes than the directory promises would leave the rest of
          // the buffer unset.
          if (out_length != unpacked) {
            report_error_at(kErrDamagedItem, 1, archive_name, name);
            result = -2;
          }
          break;
        }
        if (z == Z_DATA_ERROR && !repaired_once) {
          repaired_once = true;
          if (verify_and_repair_item(&pack, packed, stored, hash, name) < 0) {
            report_error_at(kErrDamagedItem, 1, archive_name, name);
            result = -2;
            break;
          }
          continue;
        }
        if (z == Z_DATA_ERROR) {
          report_error_at(kErrDamagedItem, 1, archive_name, name);
        } else if (z == Z_BUF_ERROR) {
          report_error_at(kErrUnpackBuffer, 1, name);
        } else {
          report_error_at(kErrUnpackNoMemory, 1, name);
        }
        result = -2;
        break;
      }
    }
    std::free(packed);
  }
  pack_close(&pack);
  if (result != 0) {
    std::free(data);
    return result;
  }
  item->data = data;
  item->size = unpacked;
  return 0;
}
