// Sound conversion on libsndfile: the "fmt " and data chunks are put into a
// minimal WAVE image in memory, which libsndfile reads through its virtual
// I/O and hands back as 16-bit samples (clipped, never wrapped).
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <new>

#include "platform/sound_convert.h"

namespace {
constexpr std::uint16_t kTagPcm = 0x0001;
constexpr std::uint16_t kTagMsAdpcm = 0x0002;
constexpr std::uint16_t kTagFloat = 0x0003;
constexpr std::uint16_t kTagAlaw = 0x0006;
constexpr std::uint16_t kTagMulaw = 0x0007;
constexpr std::uint16_t kTagImaAdpcm = 0x0011;
constexpr std::uint16_t kTagGsm610 = 0x0031;
constexpr std::uint16_t kTagExtensible = 0xFFFE;

std::uint16_t u16_at(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t u32_at(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// 1 when the format has a converter here.
bool convertible(const std::uint8_t* fmt, std::uint32_t fmt_size) {
  if (!fmt || fmt_size < 14) return false;
  std::uint16_t tag = u16_at(fmt);
  switch (tag) {
    case kTagMsAdpcm:
    case kTagAlaw:
    case kTagMulaw:
    case kTagImaAdpcm:
    case kTagGsm610:
      return true;
    case kTagFloat: {
      if (fmt_size < 16) return false;
      std::uint16_t bits = u16_at(fmt + 14);
      return bits == 32 || bits == 64;
    }
    case kTagExtensible: {
      // The sub-format GUID begins with the tag it stands for.
      if (fmt_size < 40) return false;
      std::uint16_t sub = u16_at(fmt + 24);
      return sub == kTagPcm || sub == kTagFloat;
    }
    default:
      return false;
  }
}

struct MemoryFile {
  const std::uint8_t* data;
  sf_count_t size;
  sf_count_t pos;
};

sf_count_t vio_length(void* user) { return static_cast<MemoryFile*>(user)->size; }
sf_count_t vio_seek(sf_count_t offset, int whence, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? m->pos + offset : m->size + offset;
  if (to < 0 || to > m->size) return -1;
  m->pos = to;
  return to;
}
sf_count_t vio_read(void* ptr, sf_count_t count, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t n = m->size - m->pos;
  if (n > count) n = count;
  if (n <= 0) return 0;
  std::memcpy(ptr, m->data + m->pos, static_cast<std::size_t>(n));
  m->pos += n;
  return n;
}
sf_count_t vio_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t vio_tell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

std::uint32_t sndfile_suggest(const std::uint8_t* fmt, std::uint32_t fmt_size, WaveFormatFields* out) {
  if (!convertible(fmt, fmt_size)) return kConvertNotPossible;
  std::uint16_t channels = u16_at(fmt + 2);
  std::uint32_t rate = u32_at(fmt + 4);
  if (channels == 0 || rate == 0) return kConvertNotPossible;
  WaveFormatFields f;
  f.format_tag = kTagPcm;
  f.channels = channels;
  f.samples_per_sec = rate;
  f.bits = 16;
  f.block_align = static_cast<std::uint16_t>(channels * 2);
  f.avg_bytes_per_sec = rate * f.block_align;
  *out = f;
  return kConvertOk;
}

std::uint32_t sndfile_convert(const std::uint8_t* fmt, std::uint32_t fmt_size, const std::uint8_t* data,
                              std::uint32_t data_size, std::vector<std::uint8_t>* pcm) {
  WaveFormatFields want;
  std::uint32_t r = sndfile_suggest(fmt, fmt_size, &want);
  if (r != kConvertOk) return r;
  if (fmt_size > 0x10000) return kConvertInvalParam;
  // "RIFF" size "WAVE" "fmt " size fmt (padded) "data" size data
  std::uint32_t fmt_padded = fmt_size + (fmt_size & 1);
  std::uint64_t total = 12 + 8 + static_cast<std::uint64_t>(fmt_padded) + 8 + data_size;
  if (total > 0xFFFFFFF0u) return kConvertInvalParam;
  std::uint8_t* image = new (std::nothrow) std::uint8_t[total];
  if (!image) return kConvertNoMem;
  std::memcpy(image, "RIFF", 4);
  put32(image + 4, static_cast<std::uint32_t>(total - 8));
  std::memcpy(image + 8, "WAVEfmt ", 8);
  put32(image + 16, fmt_size);
  std::memcpy(image + 20, fmt, fmt_size);
  if (fmt_size & 1) image[20 + fmt_size] = 0;
  std::uint8_t* d = image + 20 + fmt_padded;
  std::memcpy(d, "data", 4);
  put32(d + 4, data_size);
  if (data_size) std::memcpy(d + 8, data, data_size);

  MemoryFile mem{image, static_cast<sf_count_t>(total), 0};
  SF_VIRTUAL_IO vio{vio_length, vio_seek, vio_read, vio_write, vio_tell};
  SF_INFO info{};
  SNDFILE* sf = sf_open_virtual(&vio, SFM_READ, &info, &mem);
  if (!sf) {
    delete[] image;
    return kConvertError;
  }
  if (info.channels != want.channels || info.samplerate != static_cast<int>(want.samples_per_sec)) {
    sf_close(sf);
    delete[] image;
    return kConvertNotPossible;
  }
  sf_command(sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // Floating-point data is read as floats (-1..1) and scaled here: libsndfile
  // hands floats to short readers unscaled.
  const std::uint16_t tag = u16_at(fmt);
  const bool is_float = tag == kTagFloat || (tag == kTagExtensible && u16_at(fmt + 24) == kTagFloat);
  std::uint32_t result = kConvertOk;
  short block[4096];
  float fblock[4096];
  const sf_count_t frames_per_read = static_cast<sf_count_t>(4096 / info.channels);
  for (;;) {
    sf_count_t got;
    if (is_float) {
      got = sf_readf_float(sf, fblock, frames_per_read);
      for (sf_count_t i = 0; i < got * info.channels; ++i) {
        float x = fblock[i] * 32768.0f;
        long v = x != x ? 0 : std::lrint(x);
        block[i] = static_cast<short>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
      }
    } else {
      got = sf_readf_short(sf, block, frames_per_read);
    }
    if (got <= 0) break;
    std::size_t bytes = static_cast<std::size_t>(got) * info.channels * 2;
    std::size_t at = pcm->size();
    try {
      pcm->resize(at + bytes);
    } catch (const std::bad_alloc&) {
      result = kConvertNoMem;
      break;
    }
    // The samples go out little-endian whatever the host order.
    for (std::size_t i = 0; i < bytes / 2; ++i) {
      std::uint16_t s = static_cast<std::uint16_t>(block[i]);
      (*pcm)[at + 2 * i] = static_cast<std::uint8_t>(s);
      (*pcm)[at + 2 * i + 1] = static_cast<std::uint8_t>(s >> 8);
    }
  }
  if (result == kConvertOk && sf_error(sf) != SF_ERR_NO_ERROR) result = kConvertError;
  sf_close(sf);
  delete[] image;
  return result;
}
}  // namespace

const PlatformSoundConvert kSndfileConvert = {sndfile_suggest, sndfile_convert};
