// Writer of ".zpf" packed archives for the tests and the demo: stored and
// deflated items, with or without repair records, fields overridden to make
// damaged archives on purpose, and the program file with an appended
// archive behind its trailer.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ZpfRepair {
  kNone,   // nothing behind the stored bytes
  kEmpty,  // a record with parity size 0 (no repair data)
  kFull,   // parity size 1024, check values and the parity block
};

struct ZpfItem {
  std::string name;  // lower-case, '\' separators, as looked up
  std::vector<std::uint8_t> data;  // the unpacked bytes
  std::uint8_t media_type = 0;
  std::uint8_t compression = 0;  // 0 stored, 1 deflated
  ZpfRepair repair = ZpfRepair::kFull;
  // Overrides of the written fields (damaged archives).
  std::optional<std::uint32_t> name_hash;
  std::optional<std::uint32_t> data_hash;
  std::optional<std::uint32_t> unpacked_size;
  std::optional<std::uint32_t> stored_size;
  std::optional<std::uint8_t> compression_field;
  std::optional<std::uint64_t> data_offset;
};

struct ZpfOptions {
  char magic[4] = {'Z', 'P', 'F', '\0'};
  std::uint32_t version = 554;
  std::optional<std::uint32_t> entry_count;
  std::optional<std::uint32_t> directory_size;
};

// Where an item's parts lie in the archive (offsets from its start).
struct ZpfItemLayout {
  std::uint64_t entry_offset = 0;  // the entry's directory record
  std::uint64_t data_offset = 0;   // the stored bytes
  std::uint32_t stored_size = 0;
  std::uint64_t record_offset = 0;  // the repair record (when written)
};

struct ZpfArchive {
  std::vector<std::uint8_t> bytes;
  std::vector<ZpfItemLayout> items;
};

ZpfArchive build_zpf(const std::vector<ZpfItem>& items, const ZpfOptions& options = {});

// A stored or deflated item of the given bytes.
ZpfItem zpf_item(const std::string& name, const std::string& text, std::uint8_t compression = 0,
                 std::uint8_t media_type = 0);

// Writes bytes to a real (UTF-8) path; true on success.
bool write_bytes_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool write_zpf_file(const std::string& path, const std::vector<ZpfItem>& items, const ZpfOptions& options = {});

// The program bytes followed by the trailer "ZTER", D, N and the archive, as
// the archive is appended to the program file. D is the distance from the
// trailer to the archive (12). Returns the archive's offset in the result.
std::uint64_t build_appended_program(const std::vector<std::uint8_t>& program,
                                     const std::vector<std::uint8_t>& archive, std::uint32_t flag,
                                     std::vector<std::uint8_t>* out);

// A scratch folder under the system temp folder, removed with its contents
// when the object goes.
struct DataScratchFolder {
  std::string path;  // real path, no trailing '/'
  DataScratchFolder();
  ~DataScratchFolder();
  DataScratchFolder(const DataScratchFolder&) = delete;
  DataScratchFolder& operator=(const DataScratchFolder&) = delete;
  // The path in the engine's form: '\' separators, ending in '\'.
  std::string engine_path() const;
};
