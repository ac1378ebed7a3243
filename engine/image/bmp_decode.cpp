// Windows bitmap decoding.
#include "engine/image/bmp_decode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"

namespace {

u32 rd32(const u8* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24); }
u16 rd16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }

int fail(u32 number, const char* name) {
  report_error_fmt(number, 1, name ? name : "");
  return -1;
}

// Row byte count of a file row for the bit count (0 for an unknown one).
u64 bmp_row_bytes(i64 width, int bits) {
  switch (bits) {
    case 1: return static_cast<u64>((width + 31) >> 5) * 4;
    case 4: return static_cast<u64>((width + 7) >> 3) * 4;
    case 8: return static_cast<u64>((width + 3) & ~i64{3});
    case 16: return static_cast<u64>((width * 2 + 3) & ~i64{3});
    case 24: return static_cast<u64>((width * 3 + 3) & ~i64{3});
    case 32: return static_cast<u64>(width) * 4;
    default: return 0;
  }
}

// One colour channel of a direct-colour pixel: the bits of its mask, scaled
// to 0..255 as round(v * 255 / max) (a channel of 8 bits comes out
// unchanged). No division per pixel: a channel whose largest value fits a
// small table (every 16-bit file, and 32-bit files of up to 12 bits a
// channel) is read from a table of its values already placed at the
// channel's output position; a wider one by a multiply with a reciprocal.
struct ChannelMask {
  u32 mask = 0;
  int shift = 0;
  u32 max = 0;
  // floor(x / max) = (x * magic) >> magic_shift for every x < 2^40 (the
  // largest x is max * 255 + max / 2 < 2^40).
  u64 magic = 0;
  int magic_shift = 0;
};

constexpr u32 kTableLimit = 4095;

ChannelMask channel_mask(u32 mask) {
  ChannelMask c;
  if (mask == 0) return c;
  c.mask = mask;
  c.shift = __builtin_ctz(mask);
  c.max = mask >> c.shift;
  // k = 40 + ceil(log2(max)); magic = ceil(2^k / max) < 2^41.
  const int l = c.max > 1 ? 32 - __builtin_clz(c.max - 1) : 0;
  c.magic_shift = 40 + l;
  __extension__ typedef unsigned __int128 u128;
  c.magic = static_cast<u64>(((u128{1} << c.magic_shift) + c.max - 1) / c.max);
  return c;
}

u32 channel_value(u32 pixel, const ChannelMask& c) {
  if (c.mask == 0) return 0;
  const u32 v = (pixel & c.mask) >> c.shift;
  if (c.max == 255) return v;
  __extension__ typedef unsigned __int128 u128;
  const u64 x = u64{v} * 255u + c.max / 2;
  return static_cast<u32>((u128{x} * c.magic) >> c.magic_shift);
}

// Direct-colour pixels to 0xAARRGGBB through the four channel masks (R, G,
// B, A); a missing alpha mask gives opaque pixels. `alpha_seen` collects the
// OR of the alpha bytes that came out of an alpha mask.
struct DirectColour {
  ChannelMask masks[4];
  bool tables = false;  // every channel read from `table`
  // Every colour channel a whole byte of the pixel, and alpha a byte or
  // none: each channel is moved as it is (its scale is the identity).
  bool bytes = false;
  std::vector<u32> table;
  const u32* channel_table[4] = {};
  u32 alpha_seen = 0;

  void set_up(const ChannelMask in[4]) {
    static const int kOutShift[4] = {16, 8, 0, 24};
    tables = true;
    bytes = true;
    std::size_t total = 0;
    for (int i = 0; i < 4; ++i) {
      masks[i] = in[i];
      tables &= masks[i].max <= kTableLimit;
      bytes &= (masks[i].max == 0xFF && masks[i].shift % 8 == 0) || (i == 3 && masks[i].mask == 0);
      total += masks[i].max + 1u;
    }
    if (!tables) return;
    table.resize(total);
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
      u32* t = table.data() + at;
      channel_table[i] = t;
      if (i == 3 && masks[3].mask == 0) {
        t[0] = 0xFF000000u;  // no alpha mask: opaque
      } else {
        for (u32 v = 0; v <= masks[i].max; ++v)
          t[v] = channel_value(v << masks[i].shift, masks[i]) << kOutShift[i];
      }
      at += masks[i].max + 1u;
    }
  }

  // A 16-bit image of many pixels reads each whole pixel from one table of
  // the 65536 words (kept per thread for the masks last used, as every file
  // of a kind has the same masks).
  const u32* whole = nullptr;
  void use_whole_table() {
    struct Whole {
      u32 key[4] = {};
      bool made = false;
      std::vector<u32> words;
    };
    thread_local Whole cache;
    const u32 key[4] = {masks[0].mask, masks[1].mask, masks[2].mask, masks[3].mask};
    if (!cache.made || std::memcmp(cache.key, key, sizeof key) != 0) {
      cache.made = false;
      cache.words.resize(65536);
      const u32 saved = alpha_seen;
      whole = nullptr;
      u8 pixels[2 * 256];
      for (u32 hi = 0; hi < 256; ++hi) {
        for (u32 lo = 0; lo < 256; ++lo) {
          pixels[2 * lo] = static_cast<u8>(lo);
          pixels[2 * lo + 1] = static_cast<u8>(hi);
        }
        convert<2>(pixels, cache.words.data() + hi * 256, 256);
      }
      alpha_seen = saved;
      std::memcpy(cache.key, key, sizeof key);
      cache.made = true;
    }
    whole = cache.words.data();
  }

  // `count` pixels of `bytes` bytes each (2 or 4) from src into dst.
  template <int kBytes>
  void convert(const u8* src, u32* dst, i32 count) {
    u32 seen = 0;
    if (kBytes == 2 && whole) {
      for (i32 x = 0; x < count; ++x) {
        const u32 v = whole[rd16(src + x * 2)];
        seen |= v;
        dst[x] = v;
      }
    } else if (kBytes == 4 && bytes) {
      const int sr = masks[0].shift, sg = masks[1].shift, sb = masks[2].shift;
      if (masks[3].mask) {
        const int sa = masks[3].shift;
        for (i32 x = 0; x < count; ++x) {
          const u32 v = rd32(src + x * 4);
          const u32 a = ((v >> sa) & 0xFF) << 24;
          seen |= a;
          dst[x] = a | ((v >> sr) & 0xFF) << 16 | ((v >> sg) & 0xFF) << 8 | ((v >> sb) & 0xFF);
        }
      } else {
        for (i32 x = 0; x < count; ++x) {
          const u32 v = rd32(src + x * 4);
          dst[x] = 0xFF000000u | ((v >> sr) & 0xFF) << 16 | ((v >> sg) & 0xFF) << 8 | ((v >> sb) & 0xFF);
        }
      }
    } else if (tables) {
      const u32 *tr = channel_table[0], *tg = channel_table[1], *tb = channel_table[2], *ta = channel_table[3];
      const int sr = masks[0].shift, sg = masks[1].shift, sb = masks[2].shift, sa = masks[3].shift;
      const u32 mr = masks[0].max, mg = masks[1].max, mb = masks[2].max, ma = masks[3].max;
      for (i32 x = 0; x < count; ++x) {
        const u32 v = kBytes == 2 ? rd16(src + x * 2) : rd32(src + x * 4);
        const u32 a = ta[(v >> sa) & ma];
        seen |= a;
        dst[x] = a | tr[(v >> sr) & mr] | tg[(v >> sg) & mg] | tb[(v >> sb) & mb];
      }
    } else {
      for (i32 x = 0; x < count; ++x) {
        const u32 v = kBytes == 2 ? rd16(src + x * 2) : rd32(src + x * 4);
        const u32 a = masks[3].mask ? channel_value(v, masks[3]) << 24 : 0xFF000000u;
        seen |= a;
        dst[x] = a | (channel_value(v, masks[0]) << 16) | (channel_value(v, masks[1]) << 8) |
                 channel_value(v, masks[2]);
      }
    }
    if (masks[3].mask) alpha_seen |= seen >> 24;
  }
};

// The channel masks of a 16- or 32-bit file: those of a bit-fields header
// (inside a header of 52 bytes or more, else the three or four words behind
// it), or 5-5-5 for a 16-bit file without them. For a 32-bit file without
// bit fields the result is unused (its bytes are copied).
constexpr u32 kBitFields = 3;
constexpr u32 kAlphaBitFields = 6;

void read_channel_masks(const u8* data, std::size_t size, u32 header_size, int bits, u32 compression,
                        ChannelMask out[4]) {
  u32 m[4] = {0x7C00u, 0x03E0u, 0x001Fu, 0};
  if (compression == kBitFields || compression == kAlphaBitFields) {
    // Masks past the end of the file read as 0.
    u8 words[16] = {};
    const u64 at = header_size >= 52 ? 14u + 40u : 14ull + header_size;
    const u32 count = header_size >= 56 ? 4 : header_size >= 52 ? 3 : (compression == kAlphaBitFields ? 4 : 3);
    for (u32 i = 0; i < count * 4; ++i)
      if (at + i < size) words[i] = data[at + i];
    for (u32 i = 0; i < 4; ++i) m[i] = i < count ? rd32(words + 4 * i) : 0;
  } else if (bits == 32) {
    m[0] = 0x00FF0000u, m[1] = 0x0000FF00u, m[2] = 0x000000FFu, m[3] = 0xFF000000u;
  }
  for (int i = 0; i < 4; ++i) out[i] = channel_mask(m[i]);
}

}  // namespace

int decode_bmp_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  // Headers are copied into zeroed work areas, so a short file reads zeros.
  u8 fh[14] = {};
  u8 ih[40] = {};
  if (!data) size = 0;
  if (size) std::memcpy(fh, data, size < 14 ? size : 14);
  if (size > 14) std::memcpy(ih, data + 14, size - 14 < 40 ? size - 14 : 40);
  if (fh[0] != 'B' || fh[1] != 'M') return fail(100070, name);
  const u32 data_offset = rd32(fh + 10);
  if (data_offset < 11) return fail(100080, name);
  const u32 header_size = rd32(ih);
  // A header shorter than 40 bytes (the 12-byte OS/2 core header) is not
  // read. Its 16-bit width and height, read as the 32-bit fields of the
  // 40-byte header, give a size beyond any image (the height field holds the
  // planes and the bit count): it is refused as a size the decoder does not
  // take, not as a file without the "BM" signature, which it has.
  if (header_size < 40) return fail(100091, name);
  const i32 width = static_cast<i32>(rd32(ih + 4));
  const i32 height = static_cast<i32>(rd32(ih + 8));
  const int bits = rd16(ih + 14);
  const u32 compression = rd32(ih + 16);
  const u32 colours_used = rd32(ih + 32);
  if (width > kMaxImageSide || height > kMaxImageSide) return fail(100091, name);
  if (height < 0) return fail(100092, name);
  if (width < 1 || height < 1) return fail(100091, name);
  if ((bits == 4 || bits == 8) && compression != 0) return fail(100090, name);

  // The palette stands directly behind the information header, whatever its
  // size; only palette images have one. Entries are made opaque; a colours-
  // used count beyond the bit count's palette is cut to it, and entries past
  // the end of the file stay opaque black.
  u32 palette[256];
  for (u32& c : palette) c = 0xFF000000u;
  if (bits == 1 || bits == 4 || bits == 8) {
    const u32 cap = 1u << bits;
    const u32 count = (colours_used == 0 || colours_used > cap) ? cap : colours_used;
    const u64 at = 14ull + header_size;
    for (u32 i = 0; i < count; ++i) {
      const u64 p = at + 4ull * i;
      if (p + 4 > size) break;
      palette[i] = rd32(data + p) | 0xFF000000u;
    }
  }

  u32* buf = alloc_image_buffer(image->owned_pixels, width, height, name);
  if (!buf) return -1;
  install_image_buffer(image, buf, width, height);
  image->has_alpha = 0;
  const u64 row_bytes = bmp_row_bytes(width, bits);
  if (row_bytes == 0) {
    // A bit count this decoder does not read leaves a clear image.
    std::memset(buf, 0, static_cast<std::size_t>(width) * 4u * static_cast<std::size_t>(height));
    return 0;
  }
  // 16-bit files, and 32-bit files whose bit fields are not the plain byte
  // order, are read through their channel masks; a plain 32-bit file's bytes
  // are copied as they stand.
  ChannelMask masks[4];
  read_channel_masks(data, size, header_size, bits, compression, masks);
  const bool plain_order = masks[0].mask == 0x00FF0000u && masks[1].mask == 0x0000FF00u &&
                           masks[2].mask == 0x000000FFu && (masks[3].mask == 0 || masks[3].mask == 0xFF000000u);
  const bool by_masks = bits == 16 || (bits == 32 && !plain_order);
  DirectColour direct;
  if (by_masks) direct.set_up(masks);
  if (bits == 16 && static_cast<u64>(width) * static_cast<u64>(height) >= 65536) direct.use_whole_table();
  // A plain 32-bit file whose fourth bytes are all 0 (most writers leave
  // them so) is opaque, not wholly transparent: look before copying, so
  // that the copy sets the alpha in the same pass.
  u32 plain_alpha = 0;
  if (bits == 32 && !by_masks) {
    const u64 end = std::min<u64>(size, u64{data_offset} + row_bytes * static_cast<u64>(height));
    for (u64 at = u64{data_offset} + 3; at < end && plain_alpha == 0; at += 4) plain_alpha = data[at];
  }
  const u32 plain_or = plain_alpha ? 0u : 0xFF000000u;
  // Rows that run past the end of the file read as zero bytes (from a work
  // row); rows inside it are read where they stand.
  u8* row = static_cast<u8*>(std::malloc(static_cast<std::size_t>(row_bytes)));
  if (!row) {
    report_error_fmt(104030, 1, name ? name : "");
    return -1;
  }
  for (i32 i = 0; i < height; ++i) {
    const u64 at = static_cast<u64>(data_offset) + row_bytes * static_cast<u64>(i);
    const u64 have = at >= size ? 0 : (size - at < row_bytes ? size - at : row_bytes);
    const u8* src = row;
    if (have == row_bytes) {
      src = data + at;
    } else {
      if (have) std::memcpy(row, data + at, static_cast<std::size_t>(have));
      std::memset(row + have, 0, static_cast<std::size_t>(row_bytes - have));
    }
    u32* dst = buf + static_cast<u64>(height - 1 - i) * width;
    switch (bits) {
      case 1:
        for (i32 x = 0; x < width; ++x) dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (i32 x = 0; x < width; ++x) dst[x] = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
        break;
      case 8:
        for (i32 x = 0; x < width; ++x) dst[x] = palette[src[x]];
        break;
      case 24:
        for (i32 x = 0; x < width; ++x)
          dst[x] = 0xFF000000u | (u32{src[x * 3 + 2]} << 16) | (u32{src[x * 3 + 1]} << 8) | src[x * 3];
        break;
      case 16:
        direct.convert<2>(src, dst, width);
        break;
      case 32:
        if (by_masks) {
          direct.convert<4>(src, dst, width);
        } else {
          for (i32 x = 0; x < width; ++x) dst[x] = rd32(src + x * 4) | plain_or;
        }
        break;
    }
  }
  std::free(row);
  // An alpha channel (the fourth byte of a plain 32-bit file, or an alpha
  // mask) gives the layer alpha when any pixel has some; an alpha mask that
  // came out 0 everywhere is treated like the plain file's zero bytes.
  if (by_masks && masks[3].mask != 0) {
    if (direct.alpha_seen) {
      image->has_alpha = 1;
    } else {
      const u64 n = static_cast<u64>(width) * static_cast<u64>(height);
      for (u64 k = 0; k < n; ++k) buf[k] |= 0xFF000000u;
    }
  } else if (bits == 32 && !by_masks && plain_alpha) {
    image->has_alpha = 1;
  }
  return 0;
}
