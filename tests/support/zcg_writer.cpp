#include "tests/support/zcg_writer.h"

#include <lz4.h>
#include <webp/encode.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace fixtures {

namespace {

std::vector<u8> pack_part(const u8* data, std::size_t size, i32 method, i32 width, i32 rows) {
  switch (method) {
    case kZcgZlib: {
      uLongf len = compressBound(static_cast<uLong>(size));
      std::vector<u8> out(len);
      if (compress2(out.data(), &len, data, static_cast<uLong>(size), 9) != Z_OK) throw std::runtime_error("zlib");
      out.resize(len);
      return out;
    }
    case kZcgBlock: {
      std::vector<u8> out(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size))));
      const int n = LZ4_compress_default(reinterpret_cast<const char*>(data), reinterpret_cast<char*>(out.data()),
                                         static_cast<int>(size), static_cast<int>(out.size()));
      if (n <= 0) throw std::runtime_error("lz4");
      out.resize(static_cast<std::size_t>(n));
      return out;
    }
    case kZcgWebp: {
      // Lossless and exact, so that transparent pixels keep their colour.
      WebPConfig config;
      WebPPicture pic;
      WebPMemoryWriter writer;
      if (!WebPConfigInit(&config) || !WebPPictureInit(&pic)) throw std::runtime_error("webp");
      config.lossless = 1;
      config.exact = 1;
      pic.use_argb = 1;
      pic.width = width;
      pic.height = rows;
      WebPMemoryWriterInit(&writer);
      pic.writer = WebPMemoryWrite;
      pic.custom_ptr = &writer;
      const bool ok = WebPPictureImportBGRA(&pic, data, width * 4) && WebPEncode(&config, &pic);
      WebPPictureFree(&pic);
      std::vector<u8> out(writer.mem, writer.mem + writer.size);
      WebPMemoryWriterClear(&writer);
      if (!ok) throw std::runtime_error("webp");
      return out;
    }
    default: return std::vector<u8>(data, data + size);
  }
}

}  // namespace

std::vector<u8> write_zcg(const std::vector<u32>& pixels, i32 width, i32 height, i32 method, i32 split_row) {
  if (split_row < 0) split_row = height / 2;
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 4;
  const std::size_t p1 = row_bytes * static_cast<std::size_t>(split_row);
  const std::size_t total = row_bytes * static_cast<std::size_t>(height);
  const u8* raw = reinterpret_cast<const u8*>(pixels.data());
  ZcgHeader h;
  std::memcpy(h.magic, kZcgMagic, 4);
  h.width = width;
  h.height = height;
  h.method = method;
  std::vector<u8> a = pack_part(raw, p1, method, width, split_row);
  std::vector<u8> b = pack_part(raw + p1, total - p1, method, width, height - split_row);
  h.part1_size = static_cast<u32>(p1);
  h.part2_size = static_cast<u32>(total - p1);
  h.part1_packed = static_cast<u32>(a.size());
  h.part2_packed = static_cast<u32>(b.size());
  std::vector<u8> out(kZcgHeaderBytes);
  zcg_write_header(out.data(), h);
  out.insert(out.end(), a.begin(), a.end());
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::vector<u32> zcg_pattern(i32 width, i32 height, u32 seed) {
  std::vector<u32> px(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  u32 x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < px.size(); ++i) {
    // Runs of equal pixels so that the packers have something to pack.
    if (i % 7 == 0) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
    }
    px[i] = x;
  }
  return px;
}

}  // namespace fixtures
