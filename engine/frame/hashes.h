// Hashes shared by the engine and the tools.
#pragma once
#include <cstddef>
#include <cstdint>

// MurmurHash2 (m = 0x5bd1e995, r = 24), seed 0 unless given: object names,
// label names, archive names and archive contents.
std::uint32_t murmur_hash2(const void* data, std::size_t length, std::uint32_t seed = 0);

// CRC-32 (reflected polynomial 0xEDB88320, initial and final inversion).
// crc32_update continues a running value (start with 0).
std::uint32_t crc32_of(const void* data, std::size_t length);
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t length);
