// The ZCG image file: a 56-byte header of little-endian 32-bit words, then
// the B, G, R, A pixels (top row first), raw or as two independently packed
// parts (an upper and a lower portion of the image). Shared by the reader
// and by the writers of test files, so both agree on every constant.
#pragma once
#include <cstddef>
#include <cstring>

#include "engine/frame/types.h"

constexpr std::size_t kZcgHeaderBytes = 56;
constexpr u8 kZcgMagic[4] = {'Z', 'C', 'G', 0};

enum ZcgMethod : i32 {
  kZcgRaw = 0,    // the pixels as they are
  kZcgZlib = 1,   // each part packed by zlib
  kZcgBlock = 2,  // each part packed by the block-compression library
  kZcgWebp = 3,   // each part a WebP picture (the WebP plug-in)
};

// Byte offsets of the header words.
constexpr std::size_t kZcgOffWidth = 4;
constexpr std::size_t kZcgOffHeight = 8;
constexpr std::size_t kZcgOffMethod = 16;
constexpr std::size_t kZcgOffPart1Size = 32;
constexpr std::size_t kZcgOffPart1Packed = 36;
constexpr std::size_t kZcgOffPart2Size = 48;
constexpr std::size_t kZcgOffPart2Packed = 52;

struct ZcgHeader {
  u8 magic[4] = {};
  i32 width = 0;
  i32 height = 0;
  i32 method = 0;
  u32 part1_size = 0, part1_packed = 0;
  u32 part2_size = 0, part2_packed = 0;
};

inline u32 zcg_get_u32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}
inline void zcg_put_u32(u8* p, u32 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
  p[2] = static_cast<u8>(v >> 16);
  p[3] = static_cast<u8>(v >> 24);
}

// Reads the header words from kZcgHeaderBytes bytes at p.
inline ZcgHeader zcg_read_header(const u8* p) {
  ZcgHeader h;
  std::memcpy(h.magic, p, 4);
  h.width = static_cast<i32>(zcg_get_u32(p + kZcgOffWidth));
  h.height = static_cast<i32>(zcg_get_u32(p + kZcgOffHeight));
  h.method = static_cast<i32>(zcg_get_u32(p + kZcgOffMethod));
  h.part1_size = zcg_get_u32(p + kZcgOffPart1Size);
  h.part1_packed = zcg_get_u32(p + kZcgOffPart1Packed);
  h.part2_size = zcg_get_u32(p + kZcgOffPart2Size);
  h.part2_packed = zcg_get_u32(p + kZcgOffPart2Packed);
  return h;
}

// Writes h into kZcgHeaderBytes bytes at p (the reserved words zero).
inline void zcg_write_header(u8* p, const ZcgHeader& h) {
  std::memset(p, 0, kZcgHeaderBytes);
  std::memcpy(p, h.magic, 4);
  zcg_put_u32(p + kZcgOffWidth, static_cast<u32>(h.width));
  zcg_put_u32(p + kZcgOffHeight, static_cast<u32>(h.height));
  zcg_put_u32(p + kZcgOffMethod, static_cast<u32>(h.method));
  zcg_put_u32(p + kZcgOffPart1Size, h.part1_size);
  zcg_put_u32(p + kZcgOffPart1Packed, h.part1_packed);
  zcg_put_u32(p + kZcgOffPart2Size, h.part2_size);
  zcg_put_u32(p + kZcgOffPart2Packed, h.part2_packed);
}
