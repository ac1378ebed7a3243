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
    case 24: return static_cast<u64>((width * 3 + 3) & ~i64{3});
    case 32: return static_cast<u64>(width) * 4;
    default: return 0;
  }
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
  bool any_alpha = false;
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
      case 32:
        for (i32 x = 0; x < width; ++x) {
          dst[x] = rd32(row + x * 4);
          any_alpha |= (dst[x] >> 24) != 0;
        }
        break;
    }
  }
  std::free(row);
  if (bits == 32) {
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
