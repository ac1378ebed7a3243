// The WAVE file reader over a file image in memory: the RIFF walk that finds
// the "fmt " and "data" chunks, with every chunk bounded by the image and by
// the RIFF size. Pure functions: no state, no allocation.
#pragma once
#include "engine/frame/types.h"
#include "platform/sound_convert.h"

// Codes of the walk (the sound thread's numbers).
constexpr int kWaveErrOpen = -10030;     // no image
constexpr int kWaveErrNotRiff = -10040;  // bytes 0-3 are not "RIFF"
constexpr int kWaveErrNotWave = -10050;  // form type is not "WAVE"
constexpr int kWaveErrNoFmt = -10060;    // no "fmt " chunk
constexpr int kWaveErrFmtRead = -10070;  // the "fmt " chunk runs past the image or is too short
constexpr int kWaveErrNoData = -10080;   // no "data" chunk after the "fmt " chunk
constexpr int kWaveErrPcm = -10090;      // the PCM walk found no usable format or samples

struct WaveChunks {
  const u8* fmt = nullptr;  // the "fmt " chunk's bytes
  u32 fmt_size = 0;
  const u8* data = nullptr;  // the "data" chunk's bytes, cut at the end of the image
  u32 data_size = 0;
};

// Finds "fmt " (at least 14 bytes, wholly inside the image) and then "data"
// inside the RIFF chunk. 0 or one of the codes above.
int wave_find_chunks(const u8* image, u32 size, WaveChunks* out);

// The first 16 bytes of a "fmt " chunk (bytes missing from a 14-byte chunk read 0).
WaveFormatFields wave_format_fields(const u8* fmt, u32 fmt_size);

// The walk of a PCM file: "RIFF" and "WAVE", then chunks from byte 12 while
// they start inside both the RIFF size and the image; the first "fmt " (at
// least 16 bytes, inside the image) and the first "data" (cut at the end of
// the image). 0, or kWaveErrPcm.
int parse_wave_chunks(const u8* image, u32 size, WaveFormatFields* format, const u8** pcm, u32* pcm_size);
