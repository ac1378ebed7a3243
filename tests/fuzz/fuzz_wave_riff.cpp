// Fuzz target of the WAVE reader: both walks over the input, then the
// chunks found are read whole, so a chunk reaching past the input shows.
#include <cstddef>
#include <cstdint>

#include "engine/sound/wave_riff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const u32 n = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(size);
  WaveChunks c;
  volatile unsigned sum = 0;
  if (wave_find_chunks(data, n, &c) == 0) {
    for (u32 i = 0; i < c.fmt_size; ++i) sum = sum + c.fmt[i];
    for (u32 i = 0; i < c.data_size; ++i) sum = sum + c.data[i];
    WaveFormatFields f = wave_format_fields(c.fmt, c.fmt_size);
    sum = sum + f.bits;
  }
  WaveFormatFields f;
  const u8* pcm = nullptr;
  u32 pcm_size = 0;
  if (parse_wave_chunks(data, n, &f, &pcm, &pcm_size) == 0)
    for (u32 i = 0; i < pcm_size; ++i) sum = sum + pcm[i];
  return 0;
}
