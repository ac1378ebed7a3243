// The JPEG frame-set file: a 32-byte header of little-endian 32-bit words,
// three tables of count words (frame offsets, colour-part sizes, alpha-part
// sizes), and the frames' parts. At each offset stands the frame's colour
// JPEG, directly followed by its one-component alpha JPEG. Both parts are
// stored scrambled by frame_part_scramble. Shared by the reader and by the
// writer of test and demo files, so both agree on every constant.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"

constexpr std::size_t kFrameSetHeaderBytes = 32;
constexpr std::size_t kFrameSetOffCount = 8;
constexpr std::size_t kFrameSetOffAlphaFlag = 12;
constexpr std::size_t kFrameSetOffValueA = 16;
constexpr std::size_t kFrameSetOffValueB = 20;
constexpr std::size_t kFrameSetOffValueC = 24;
// The tables start right after the header: offsets, then sizes, then alpha
// sizes, count words each.
constexpr std::size_t kFrameSetTableWords = 3;

inline u32 frame_set_get_u32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}
inline void frame_set_put_u32(u8* p, u32 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
  p[2] = static_cast<u8>(v >> 16);
  p[3] = static_cast<u8>(v >> 24);
}

// The key byte for position i of a part: a walk of odd steps through all
// 256 values, so no byte of a part keeps its value pattern.
inline u8 frame_part_key(std::size_t i) { return static_cast<u8>(0x3Bu + 0x6Du * static_cast<u32>(i)); }

// Scrambles or unscrambles n bytes of one part in place (the transform is
// its own inverse). Each part starts its key at 0.
inline void frame_part_scramble(u8* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<u8>(p[i] ^ frame_part_key(i));
}
