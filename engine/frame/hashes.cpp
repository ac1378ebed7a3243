#include "engine/frame/hashes.h"

#include <cstring>
#include <zlib.h>

std::uint32_t murmur_hash2(const void* data, std::size_t length, std::uint32_t seed) {
  const std::uint32_t m = 0x5bd1e995u;
  const int r = 24;
  std::uint32_t h = seed ^ static_cast<std::uint32_t>(length);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (length >= 4) {
    std::uint32_t k;
    std::memcpy(&k, p, 4);  // little-endian words, as on the original machine
    k *= m;
    k ^= k >> r;
    k *= m;
    h *= m;
    h ^= k;
    p += 4;
    length -= 4;
  }
  switch (length) {
    case 3: h ^= static_cast<std::uint32_t>(p[2]) << 16; [[fallthrough]];
    case 2: h ^= static_cast<std::uint32_t>(p[1]) << 8; [[fallthrough]];
    case 1: h ^= p[0]; h *= m;
  }
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}

// zlib's crc32 uses the same polynomial and inversions, with a
// slicing-by-eight table loop, faster than a byte-table loop of our own.
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (length > 0) {
    uInt chunk = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
    crc = static_cast<std::uint32_t>(::crc32(crc, p, chunk));
    p += chunk;
    length -= chunk;
  }
  return crc;
}

std::uint32_t crc32_of(const void* data, std::size_t length) { return crc32_update(0, data, length); }
