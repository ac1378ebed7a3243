// Fuzz target of the conversion service: the input's first byte chooses a
// format tag the converter knows, the next bytes are the rest of the "fmt "
// chunk, the remainder the data chunk.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/sound_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::uint16_t kTags[] = {0x0002, 0x0011, 0x0006, 0x0007, 0x0003, 0x0031, 0xFFFE};
  if (size < 1 + 50 || size > 200000) return 0;
  std::uint8_t fmt[50];
  std::memcpy(fmt, data + 1, sizeof fmt);
  const std::uint16_t tag = kTags[data[0] % 7];
  fmt[0] = static_cast<std::uint8_t>(tag);
  fmt[1] = static_cast<std::uint8_t>(tag >> 8);
  // Keep channels and rate small so a run stays short.
  fmt[2] = static_cast<std::uint8_t>(1 + (fmt[2] & 1));
  fmt[3] = 0;
  const std::uint32_t fmt_size = 14 + data[0] % 37;
  WaveFormatFields out;
  if (kSndfileConvert.suggest_pcm(fmt, fmt_size, &out) != kConvertOk) return 0;
  std::vector<std::uint8_t> pcm;
  kSndfileConvert.convert(fmt, fmt_size, data + 51, static_cast<std::uint32_t>(size - 51), &pcm);
  if (pcm.size() % 2 != 0) __builtin_trap();
  return 0;
}
