#include "engine/sound/wave_riff.h"

#include <cstring>

namespace {
u32 le32(const u8* p) { return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24); }
u16 le16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }

// End of the RIFF chunk's contents: 8 + its size, never past the image.
u64 riff_limit(const u8* image, u32 size) {
  u64 limit = 8 + static_cast<u64>(le32(image + 4));
  return limit < size ? limit : size;
}

// Looks for chunk id from pos; *at gets the chunk header's offset. Chunks
// are id, u32 size, data, padded to an even size.
bool find_chunk(const u8* image, u64 limit, u64 pos, const char* id, u64* at) {
  while (pos + 8 <= limit) {
    u32 csize = le32(image + pos + 4);
    if (std::memcmp(image + pos, id, 4) == 0) {
      *at = pos;
      return true;
    }
    pos += 8 + static_cast<u64>(csize) + (csize & 1);
  }
  return false;
}
}  // namespace

int wave_find_chunks(const u8* image, u32 size, WaveChunks* out) {
  *out = WaveChunks{};
  if (!image || size == 0) return kWaveErrOpen;
  if (size < 12 || std::memcmp(image, "RIFF", 4) != 0) return kWaveErrNotRiff;
  if (std::memcmp(image + 8, "WAVE", 4) != 0) return kWaveErrNotWave;
  u64 limit = riff_limit(image, size);
  u64 at = 0;
  if (!find_chunk(image, limit, 12, "fmt ", &at)) return kWaveErrNoFmt;
  u32 fsize = le32(image + at + 4);
  if (fsize < 14 || at + 8 + static_cast<u64>(fsize) > size) return kWaveErrFmtRead;
  out->fmt = image + at + 8;
  out->fmt_size = fsize;
  u64 next = at + 8 + static_cast<u64>(fsize) + (fsize & 1);
  u64 dat = 0;
  if (!find_chunk(image, limit, next, "data", &dat)) return kWaveErrNoData;
  u64 dsize = le32(image + dat + 4);
  if (dat + 8 + dsize > size) dsize = size - (dat + 8);
  out->data = image + dat + 8;
  out->data_size = static_cast<u32>(dsize);
  return 0;
}

WaveFormatFields wave_format_fields(const u8* fmt, u32 fmt_size) {
  u8 b[16] = {};
  std::memcpy(b, fmt, fmt_size < 16 ? fmt_size : 16);
  WaveFormatFields f;
  f.format_tag = le16(b);
  f.channels = le16(b + 2);
  f.samples_per_sec = le32(b + 4);
  f.avg_bytes_per_sec = le32(b + 8);
  f.block_align = le16(b + 12);
  f.bits = le16(b + 14);
  return f;
}

int parse_wave_chunks(const u8* image, u32 size, WaveFormatFields* format, const u8** pcm, u32* pcm_size) {
  if (!image || size < 12) return kWaveErrPcm;
  if (std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "WAVE", 4) != 0) return kWaveErrPcm;
  u64 limit = riff_limit(image, size);
  u64 pos = 12;
  bool have_fmt = false, have_data = false;
  while (pos + 8 <= limit && !(have_fmt && have_data)) {
    u32 csize = le32(image + pos + 4);
    const u8* body = image + pos + 8;
    if (!have_fmt && std::memcmp(image + pos, "fmt ", 4) == 0) {
      if (csize < 16 || pos + 8 + static_cast<u64>(csize) > size) return kWaveErrPcm;
      *format = wave_format_fields(body, csize);
      have_fmt = true;
    } else if (!have_data && std::memcmp(image + pos, "data", 4) == 0) {
      u64 dsize = csize;
      if (pos + 8 + dsize > size) dsize = size - (pos + 8);
      *pcm = body;
      *pcm_size = static_cast<u32>(dsize);
      have_data = true;
    }
    pos += 8 + static_cast<u64>(csize) + (csize & 1);
  }
  return have_fmt && have_data ? 0 : kWaveErrPcm;
}
