// The packed archive format ".zpf": fixed constants shared by the engine's
// reader and the archive writer of the test fixtures.
//
// Layout (little-endian):
//   header   0 "ZPF\0", 4 version (>= 234; written as 554), 8 entry count,
//            12 directory size D, 16..31 reserved
//   32       directory: entry-count records back to back, each
//            u32 name hash, u8 stored name length, name bytes (transformed),
//            u8 media type, u8 compression (0 stored, 1 zlib),
//            u32 unpacked size, u32 stored size, u64 data offset,
//            u32 hash of the stored bytes
//   ...      item data; behind an item's stored bytes its repair record:
//            u32 parity block size P (0 or 1024), u32 block count B,
//            B x u16 low CRC-32 bits per block, P parity bytes
#pragma once
#include "engine/frame/types.h"

constexpr char kPackMagic[4] = {'Z', 'P', 'F', '\0'};
constexpr u32 kPackMinVersion = 234;
constexpr u32 kPackWriterVersion = 554;
constexpr u32 kPackHeaderSize = 32;
// Fixed bytes of a directory record besides its name.
constexpr u32 kPackEntryFixedSize = 27;
constexpr u32 kPackRepairBlockSize = 1024;
constexpr u8 kPackStored = 0;
constexpr u8 kPackDeflated = 1;

// Name bytes are stored as NOT(byte XOR key).
constexpr u8 kPackNameKey = 0xA7;

// The 12 pairs of the name-length swap table, all among entries 3..53.
constexpr u8 kNameSwapPairs[12][2] = {{3, 41},  {5, 17},  {7, 29},  {9, 50},  {11, 23}, {13, 37},
                                      {15, 44}, {19, 31}, {21, 47}, {25, 53}, {27, 39}, {33, 45}};

// Identity permutation with the 12 pairs exchanged; its own inverse.
struct NameSwapTable {
  u8 map[256];
};
extern NameSwapTable g_name_swap_table;

// Builds g_name_swap_table. Returns 0.
int init_name_swap_table();
// The same table built into a caller's record (the writer uses this).
void build_name_swap_table(NameSwapTable* table);

// The stored length byte s gives the name length table[255 - s]; the writer
// stores 255 - table[L].
inline u8 pack_name_length_from_stored(const NameSwapTable& table, u8 stored) { return table.map[255 - stored]; }
inline u8 pack_name_length_to_stored(const NameSwapTable& table, u8 length) {
  return static_cast<u8>(255 - table.map[length]);
}
inline char pack_name_byte_from_stored(u8 stored) { return static_cast<char>(static_cast<u8>(~stored) ^ kPackNameKey); }
inline u8 pack_name_byte_to_stored(char c) { return static_cast<u8>(~(static_cast<u8>(c) ^ kPackNameKey)); }
