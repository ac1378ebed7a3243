// Writes and reads ".sd" save files from the format's own table, apart from
// the engine's code: the file header with its 1024 offsets, record bodies
// packed by zlib or LZ4 blocks, the variable, layer, several-variable and
// memory-image forms. Tests build saves with it for the engine to load, and
// check what the engine wrote with its reader.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using SdBytes = std::vector<std::uint8_t>;

// Method byte of a body: 1 zlib, 2 LZ4 block (the block compressor's format).
SdBytes sd_pack(const SdBytes& unpacked, int method, int zlib_level = 9);
// Inverse of sd_pack; false when the bytes do not unpack to exactly size.
bool sd_unpack(const SdBytes& packed, int method, std::uint32_t size, SdBytes* out);

// Unpacked values. Dimension sizes in dims (empty: one element).
SdBytes sd_int_value(const std::vector<std::uint32_t>& dims, const std::vector<std::int64_t>& values);
SdBytes sd_float_value(const std::vector<std::uint32_t>& dims, const std::vector<double>& values);
SdBytes sd_text_value(const std::vector<std::uint32_t>& dims, const std::vector<std::string>& values);
// A layer: the 1680-byte block with width at 136 and height at 140.
SdBytes sd_layer_value(std::int32_t width, std::int32_t height, const std::vector<std::uint32_t>& pixels);

// A record body: kind, method, i16 id, P, U and the packed bytes.
SdBytes sd_body(int kind, int method, std::int16_t id, const SdBytes& unpacked);
// Kind 2: one sub-block per (id, unpacked value).
SdBytes sd_vars_body(int method, const std::vector<std::pair<std::uint32_t, SdBytes>>& vars);
// Kind 3: 500 memory images (missing ones empty).
SdBytes sd_global_store_body(int method, const std::map<int, SdBytes>& images);

// A whole file of (DNO, body) records in the given order.
SdBytes sd_file(const std::vector<std::pair<std::uint32_t, SdBytes>>& records);

struct SdRecord {
  std::uint32_t dno = 0;
  int kind = 0, method = 0;
  std::int16_t id = 0;
  std::uint32_t packed = 0, unpacked = 0;
  SdBytes data;  // the packed bytes
};
struct SdFile {
  std::uint32_t count = 0;
  std::uint32_t offsets[1025] = {};
  std::vector<SdRecord> records;  // in file order
};
// Parses a whole file: the header, every record from 4112 to the end, and
// every non-zero offset pointing at a record of its DNO. "" when sound,
// else what is wrong.
std::string sd_parse(const SdBytes& file, SdFile* out);
// The record of dno, or null.
const SdRecord* sd_find(const SdFile& f, std::uint32_t dno);

bool sd_read_file(const std::string& path, SdBytes* out);
bool sd_write_file(const std::string& path, const SdBytes& bytes);
