// Windows bitmap decoding.
#include "engine/image/bmp_decode.h"

#include <cstdlib>
#include <cstring>

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
// to 0..255 (a channel of 8 bits comes out unchanged).
struct ChannelMask {
  u32 mask = 0;
  int shift = 0;
  u32 max = 0;
};

ChannelMask channel_mask(u32 mask) {
  ChannelMask c;
  if (mask == 0) return c;
  c.mask = mask;
  c.shift = __builtin_ctz(mask);
  c.max = mask >> c.shift;
  return c;
}

u32 channel_value(u32 pixel, const ChannelMask& c) {
  if (c.mask == 0) return 0;
  const u32 v = (pixel & c.mask) >> c.shift;
  if (c.max == 255) return v;
  return static_cast<u32>((u64{v} * 255u + c.max / 2) / c.max);
}

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
  // The 12-byte core header has another layout; it is not read.
  if (header_size < 40) return fail(100070, name);
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
  // Rows that run past the end of the file read as zero bytes.
  u8* row = static_cast<u8*>(std::malloc(static_cast<std::size_t>(row_bytes)));
  if (!row) {
    report_error_fmt(104030, 1, name ? name : "");
    return -1;
  }
  // 16-bit files, and 32-bit files whose bit fields are not the plain byte
  // order, are read through their channel masks; a plain 32-bit file's bytes
  // are copied as they stand.
  ChannelMask masks[4];
  read_channel_masks(data, size, header_size, bits, compression, masks);
  const bool plain_order = masks[0].mask == 0x00FF0000u && masks[1].mask == 0x0000FF00u &&
                           masks[2].mask == 0x000000FFu && (masks[3].mask == 0 || masks[3].mask == 0xFF000000u);
  const bool by_masks = bits == 16 || (bits == 32 && !plain_order);
  const bool alpha_channel = bits == 32 ? (!by_masks || masks[3].mask != 0) : masks[3].mask != 0;
  bool any_alpha = false;
  auto masked_pixel = [&](u32 v) {
    const u32 a = masks[3].mask ? channel_value(v, masks[3]) : 255u;
    any_alpha |= masks[3].mask != 0 && a != 0;
    return (a << 24) | (channel_value(v, masks[0]) << 16) | (channel_value(v, masks[1]) << 8) |
           channel_value(v, masks[2]);
  };
  for (i32 i = 0; i < height; ++i) {
    const u64 at = static_cast<u64>(data_offset) + row_bytes * static_cast<u64>(i);
    const u64 have = at >= size ? 0 : (size - at < row_bytes ? size - at : row_bytes);
    if (have) std::memcpy(row, data + at, static_cast<std::size_t>(have));
    std::memset(row + have, 0, static_cast<std::size_t>(row_bytes - have));
    u32* dst = buf + static_cast<u64>(height - 1 - i) * width;
    switch (bits) {
      case 1:
        for (i32 x = 0; x < width; ++x) dst[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (i32 x = 0; x < width; ++x) dst[x] = palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
        break;
      case 8:
        for (i32 x = 0; x < width; ++x) dst[x] = palette[row[x]];
        break;
      case 24:
        for (i32 x = 0; x < width; ++x)
          dst[x] = 0xFF000000u | (u32{row[x * 3 + 2]} << 16) | (u32{row[x * 3 + 1]} << 8) | row[x * 3];
        break;
      case 16:
        for (i32 x = 0; x < width; ++x) dst[x] = masked_pixel(rd16(row + x * 2));
        break;
      case 32:
        if (by_masks) {
          for (i32 x = 0; x < width; ++x) dst[x] = masked_pixel(rd32(row + x * 4));
          break;
        }
        for (i32 x = 0; x < width; ++x) {
          dst[x] = rd32(row + x * 4);
          any_alpha |= (dst[x] >> 24) != 0;
        }
        break;
    }
  }
  std::free(row);
  if (alpha_channel) {
    // Most writers leave the fourth byte 0: such an image is opaque, not
    // wholly transparent.
    if (any_alpha) {
      image->has_alpha = 1;
    } else {
      const u64 n = static_cast<u64>(width) * static_cast<u64>(height);
      for (u64 k = 0; k < n; ++k) buf[k] |= 0xFF000000u;
    }
  }
  return 0;
}
