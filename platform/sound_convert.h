// Sound conversion (the compression-manager stand-in): WAVE data in a format
// other than PCM into 16-bit PCM with the source's channels and rate. Results
// keep the compression manager's numbers, so the caller maps them the same
// way. Any thread; no state is kept between calls.
#pragma once
#include <cstdint>
#include <vector>

constexpr std::uint32_t kConvertOk = 0;
constexpr std::uint32_t kConvertError = 1;          // the data did not decode
constexpr std::uint32_t kConvertInvalHandle = 5;
constexpr std::uint32_t kConvertNoMem = 7;
constexpr std::uint32_t kConvertInvalFlag = 10;
constexpr std::uint32_t kConvertInvalParam = 11;
constexpr std::uint32_t kConvertNotPossible = 512;  // no converter for the format

// The format a WAVE "fmt " chunk describes (the first 16 bytes, little-endian).
struct WaveFormatFields {
  std::uint16_t format_tag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samples_per_sec = 0;
  std::uint32_t avg_bytes_per_sec = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits = 0;
};

struct PlatformSoundConvert {
  // The PCM format the source converts to: tag 1, 16 bits, the source's
  // channels (1 or 2) and rate. fmt is the whole "fmt " chunk (fmt_size
  // bytes). kConvertOk and *out, or kConvertNotPossible (tag 1, a tag
  // without a converter, or channels or rate the converter can't give).
  std::uint32_t (*suggest_pcm)(const std::uint8_t* fmt, std::uint32_t fmt_size, WaveFormatFields* out);
  // Converts the data chunk (data_size bytes) of the format fmt into 16-bit
  // PCM appended to *pcm. kConvertOk, kConvertNotPossible, kConvertNoMem, or
  // kConvertError when the data does not decode.
  std::uint32_t (*convert)(const std::uint8_t* fmt, std::uint32_t fmt_size, const std::uint8_t* data,
                           std::uint32_t data_size, std::vector<std::uint8_t>* pcm);
};

// On libsndfile; the program and the tests both use it.
extern const PlatformSoundConvert kSndfileConvert;
