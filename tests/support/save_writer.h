// Writes and reads ".sd" save files from the format's own table, apart from
// the engine's code: the file header with its 1024 offsets, record bodies
// packed by zlib or LZ4 blocks, the variable, layer, several-variable and
// memory-image forms. Tests build saves with it for the engine to load, and
// check what the engine wrote with its reader.
//
// Two forms: the format's own (byte 1 of a body is 1 and the engine's
// switches say how it is packed; a kind-2 sub-block's first word is not
// read; the global store is an ordinary kind at DNO 1024), and the form of
// the engine's earlier saves (byte 1 the method, the first word the id's
// high 16 bits, the global store kind 3). The defaults write the earlier
// form; the flag, word and kind arguments write the other.
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

// Unpacks a record whose method the reader does not know: zlib when it is a
// whole zlib stream of exactly size bytes, else an LZ4 block.
bool sd_unpack_any(const SdBytes& packed, std::uint32_t size, SdBytes* out);

// A record body: kind, byte 1 (flag; -1: the method), i16 id, P, U and the
// bytes packed by method.
SdBytes sd_body(int kind, int method, std::int16_t id, const SdBytes& unpacked, int flag = -1);
// Kind 2: one sub-block per (id, unpacked value): first word (-1: the id's
// high 16 bits), the id's low 16 bits, P, U, packed bytes.
SdBytes sd_vars_body(int method, const std::vector<std::pair<std::uint32_t, SdBytes>>& vars, int flag = -1,
                     int first_word = -1);
// The global store: 500 memory images (missing ones empty), each u32 U, u32
// P and the bytes, in a body of kind (3 in the earlier form).
SdBytes sd_global_store_body(int method, const std::map<int, SdBytes>& images, int kind = 3, int flag = -1);

// A whole file of (DNO, body) records in the given order.
SdBytes sd_file(const std::vector<std::pair<std::uint32_t, SdBytes>>& records);

struct SdRecord {
  std::uint32_t dno = 0;
  int kind = 0, flag = 0;  // flag: byte 1
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
