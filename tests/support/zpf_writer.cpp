#include "tests/support/zpf_writer.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "engine/frame/archive_format.h"
#include "engine/frame/hashes.h"

namespace {

void put_u8(std::vector<std::uint8_t>* out, std::uint8_t v) { out->push_back(v); }
void put_u32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put_u64(std::vector<std::uint8_t>* out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void set_u64(std::vector<std::uint8_t>* out, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) (*out)[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> stored_bytes_of(const ZpfItem& item) {
  if (item.compression != 1) return item.data;
  uLongf length = compressBound(item.data.size());
  std::vector<std::uint8_t> packed(length);
  if (compress2(packed.data(), &length, item.data.data(), item.data.size(), 9) != Z_OK) std::abort();
  packed.resize(length);
  return packed;
}

void append_repair_record(const std::vector<std::uint8_t>& stored, ZpfRepair repair,
                          std::vector<std::uint8_t>* out) {
  const std::uint32_t blocks = static_cast<std::uint32_t>((stored.size() + 1023) / 1024);
  if (repair == ZpfRepair::kNone) return;
  if (repair == ZpfRepair::kEmpty) {
    put_u32(out, 0);
    put_u32(out, blocks);
    for (std::uint32_t b = 0; b < blocks; ++b) put_u8(out, 0), put_u8(out, 0);
    return;
  }
  put_u32(out, 1024);
  put_u32(out, blocks);
  std::vector<std::uint8_t> parity(1024, 0);
  for (std::uint32_t b = 0; b < blocks; ++b) {
    const std::size_t start = static_cast<std::size_t>(b) * 1024;
    const std::size_t n = std::min<std::size_t>(1024, stored.size() - start);
    const std::uint32_t crc = crc32_of(stored.data() + start, n);
    put_u8(out, static_cast<std::uint8_t>(crc));
    put_u8(out, static_cast<std::uint8_t>(crc >> 8));
    for (std::size_t i = 0; i < n; ++i) parity[i] ^= stored[start + i];
  }
  out->insert(out->end(), parity.begin(), parity.end());
}

}  // namespace

ZpfArchive build_zpf(const std::vector<ZpfItem>& items, const ZpfOptions& options) {
  NameSwapTable table;
  build_name_swap_table(&table);
  ZpfArchive archive;
  std::vector<std::uint8_t> directory;
  std::vector<std::size_t> offset_fields;
  std::vector<std::vector<std::uint8_t>> stored(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ZpfItem& item = items[i];
    stored[i] = stored_bytes_of(item);
    ZpfItemLayout layout;
    layout.entry_offset = 32 + directory.size();
    layout.stored_size = static_cast<std::uint32_t>(stored[i].size());
    archive.items.push_back(layout);
    put_u32(&directory, item.name_hash ? *item.name_hash : murmur_hash2(item.name.data(), item.name.size()));
    put_u8(&directory, pack_name_length_to_stored(table, static_cast<std::uint8_t>(item.name.size())));
    for (char c : item.name) put_u8(&directory, pack_name_byte_to_stored(c));
    put_u8(&directory, item.media_type);
    put_u8(&directory, item.compression_field ? *item.compression_field : item.compression);
    put_u32(&directory, item.unpacked_size ? *item.unpacked_size : static_cast<std::uint32_t>(item.data.size()));
    put_u32(&directory, item.stored_size ? *item.stored_size : static_cast<std::uint32_t>(stored[i].size()));
    offset_fields.push_back(directory.size());
    put_u64(&directory, 0);
    put_u32(&directory, item.data_hash ? *item.data_hash : murmur_hash2(stored[i].data(), stored[i].size()));
  }
  std::vector<std::uint8_t>& out = archive.bytes;
  out.insert(out.end(), options.magic, options.magic + 4);
  put_u32(&out, options.version);
  put_u32(&out, options.entry_count ? *options.entry_count : static_cast<std::uint32_t>(items.size()));
  put_u32(&out, options.directory_size ? *options.directory_size : static_cast<std::uint32_t>(directory.size()));
  out.resize(32, 0);
  const std::size_t directory_at = out.size();
  out.insert(out.end(), directory.begin(), directory.end());
  for (std::size_t i = 0; i < items.size(); ++i) {
    archive.items[i].data_offset = out.size();
    const std::uint64_t written = items[i].data_offset ? *items[i].data_offset : out.size();
    set_u64(&out, directory_at + offset_fields[i], written);
    out.insert(out.end(), stored[i].begin(), stored[i].end());
    archive.items[i].record_offset = out.size();
    append_repair_record(stored[i], items[i].repair, &out);
  }
  return archive;
}

ZpfItem zpf_item(const std::string& name, const std::string& text, std::uint8_t compression,
                 std::uint8_t media_type) {
  ZpfItem item;
  item.name = name;
  item.data.assign(text.begin(), text.end());
  item.compression = compression;
  item.media_type = media_type;
  return item;
}

bool write_bytes_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

bool write_zpf_file(const std::string& path, const std::vector<ZpfItem>& items, const ZpfOptions& options) {
  return write_bytes_file(path, build_zpf(items, options).bytes);
}

std::uint64_t build_appended_program(const std::vector<std::uint8_t>& program,
                                     const std::vector<std::uint8_t>& archive, std::uint32_t flag,
                                     std::vector<std::uint8_t>* out) {
  *out = program;
  out->insert(out->end(), {'Z', 'T', 'E', 'R'});
  put_u32(out, 12);
  put_u32(out, flag);
  const std::uint64_t base = out->size();
  out->insert(out->end(), archive.begin(), archive.end());
  return base;
}

DataScratchFolder::DataScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kl_data_XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  path = pattern;
}

DataScratchFolder::~DataScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string DataScratchFolder::engine_path() const {
  std::string out = path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out + "\\";
}
