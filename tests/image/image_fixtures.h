// Image files for the decoder tests, written at test time by other encoders
// (libpng, libjpeg, giflib, and a BMP writer field by field), and the
// reference decodes the decoders are checked against.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

// ---- PNG ----

struct PngSpec {
  int width = 4;
  int height = 3;
  int bit_depth = 8;
  int colour_type = PNG_COLOR_TYPE_RGB;
  bool interlaced = false;
  // Raw rows as libpng expects them (packed for depths below 8, big-endian
  // for 16 bits).
  std::vector<Bytes> rows;
  std::vector<png_color> palette;
  std::vector<png_byte> trns;  // palette alpha values
  bool trns_colour = false;    // grey or RGB transparent colour
  png_color_16 trns_value{};
};

inline void png_write_cb(png_structp png, png_bytep data, png_size_t n) {
  Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
inline void png_flush_cb(png_structp) {}

inline Bytes write_png(const PngSpec& s) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, png_write_cb, png_flush_cb);
  png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.colour_type,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.trns.empty()) png_set_tRNS(png, info, s.trns.data(), static_cast<int>(s.trns.size()), nullptr);
  if (s.trns_colour) png_set_tRNS(png, info, nullptr, 0, &s.trns_value);
  png_write_info(png, info);
  std::vector<png_bytep> ptrs;
  for (const Bytes& r : s.rows) ptrs.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, ptrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// libpng's simplified reader: B, G, R, A bytes per pixel.
inline bool reference_png_bgra(const Bytes& file, std::vector<std::uint32_t>* out, int* w, int* h) {
  png_image im;
  std::memset(&im, 0, sizeof im);
  im.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&im, file.data(), file.size())) return false;
  im.format = PNG_FORMAT_BGRA;
  out->assign(static_cast<std::size_t>(im.width) * im.height, 0);
  if (!png_image_finish_read(&im, nullptr, out->data(), 0, nullptr)) return false;
  *w = static_cast<int>(im.width);
  *h = static_cast<int>(im.height);
  return true;
}

// ---- JPEG ----

// components 3 (RGB input) or 1 (grey input); pixels are width x height x
// components bytes.
inline Bytes write_jpeg(int width, int height, int components, const Bytes& pixels, int quality = 90,
                        bool progressive = false) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long mem_size = 0;
  jpeg_mem_dest(&c, &mem, &mem_size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = components;
  c.in_color_space = components == 3 ? JCS_RGB : components == 4 ? JCS_CMYK : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + static_cast<std::size_t>(c.next_scanline) * width * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(mem, mem + mem_size);
  std::free(mem);
  return out;
}

// libjpeg decoding into a plain RGB (or grey) buffer.
inline bool reference_jpeg(const Bytes& file, Bytes* out, int* w, int* h, int* comps) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK) return false;
  jpeg_start_decompress(&d);
  *w = d.output_width;
  *h = d.output_height;
  *comps = d.output_components;
  out->assign(static_cast<std::size_t>(*w) * *h * *comps, 0);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = out->data() + static_cast<std::size_t>(d.output_scanline) * *w * *comps;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return true;
}

// ---- GIF (giflib) ----

struct GifFrameSpec {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  int transparent = -1;  // transparent index, -1 none (no control block)
  int delay = 0;
  std::vector<GifColorType> local_palette;  // empty: none
  Bytes indices;                            // width x height
};

inline int gif_write_cb(GifFileType* gif, const GifByteType* data, int n) {
  Bytes* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}

inline Bytes write_gif(int screen_w, int screen_h, const std::vector<GifColorType>& palette,
                       const std::vector<GifFrameSpec>& frames, bool loop_block = false) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, gif_write_cb, &error);
  if (!gif) return {};
  EGifSetGifVersion(gif, true);
  ColorMapObject* map = palette.empty() ? nullptr
                                        : GifMakeMapObject(static_cast<int>(palette.size()), palette.data());
  EGifPutScreenDesc(gif, screen_w, screen_h, 8, 0, map);
  if (loop_block) {
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    const unsigned char sub[3] = {1, 0, 0};
    EGifPutExtensionBlock(gif, 3, sub);
    EGifPutExtensionTrailer(gif);
  }
  for (const GifFrameSpec& f : frames) {
    if (f.transparent >= 0 || f.delay) {
      GraphicsControlBlock gcb{};
      gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
      gcb.DelayTime = f.delay;
      gcb.TransparentColor = f.transparent >= 0 ? f.transparent : NO_TRANSPARENT_COLOR;
      GifByteType ext[4];
      EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    }
    ColorMapObject* local = f.local_palette.empty()
                                ? nullptr
                                : GifMakeMapObject(static_cast<int>(f.local_palette.size()), f.local_palette.data());
    EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local);
    if (f.interlaced) {
      static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < f.height; y += step[p])
          EGifPutLine(gif, const_cast<GifPixelType*>(f.indices.data() + y * f.width), f.width);
    } else {
      for (int y = 0; y < f.height; ++y)
        EGifPutLine(gif, const_cast<GifPixelType*>(f.indices.data() + y * f.width), f.width);
    }
    if (local) GifFreeMapObject(local);
  }
  EGifCloseFile(gif, &error);
  if (map) GifFreeMapObject(map);
  return out;
}

struct GifReadState {
  const Bytes* data;
  std::size_t pos;
};
inline int gif_read_cb(GifFileType* gif, GifByteType* buf, int n) {
  GifReadState* s = static_cast<GifReadState*>(gif->UserData);
  const std::size_t have = std::min<std::size_t>(n, s->data->size() - s->pos);
  std::memcpy(buf, s->data->data() + s->pos, have);
  s->pos += have;
  return static_cast<int>(have);
}

// giflib's decode of frame 0 drawn on a cleared logical screen as B, G, R, A
// (alpha 0 at the transparent index and outside the frame).
inline bool reference_gif_frame0(const Bytes& file, std::vector<std::uint32_t>* out, int* w, int* h,
                                 int* frame_count) {
  GifReadState st{&file, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&st, gif_read_cb, &error);
  if (!gif) return false;
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
    DGifCloseFile(gif, &error);
    return false;
  }
  *w = gif->SWidth;
  *h = gif->SHeight;
  *frame_count = gif->ImageCount;
  out->assign(static_cast<std::size_t>(*w) * *h, 0);
  const SavedImage& im = gif->SavedImages[0];
  const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
  GraphicsControlBlock gcb{};
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  DGifSavedExtensionToGCB(gif, 0, &gcb);
  for (int y = 0; y < im.ImageDesc.Height; ++y)
    for (int x = 0; x < im.ImageDesc.Width; ++x) {
      const int sx = im.ImageDesc.Left + x, sy = im.ImageDesc.Top + y;
      if (sx >= *w || sy >= *h) continue;
      const int c = im.RasterBits[y * im.ImageDesc.Width + x];
      const GifColorType col = c < map->ColorCount ? map->Colors[c] : GifColorType{0, 0, 0};
      const std::uint32_t a = (c == gcb.TransparentColor) ? 0 : 0xFF000000u;
      (*out)[static_cast<std::size_t>(sy) * *w + sx] =
          a | (std::uint32_t{col.Red} << 16) | (std::uint32_t{col.Green} << 8) | col.Blue;
    }
  DGifCloseFile(gif, &error);
  return true;
}

// ---- BMP ----

inline void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

struct BmpSpec {
  int width = 2;
  int height = 2;
  int bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t header_size = 40;
  std::uint32_t colours_used = 0;
  std::vector<std::uint32_t> palette;  // B, G, R, reserved as a little-endian word
  // Channel masks R, G, B (and A) of a bit-fields file: inside a header of 52
  // bytes or more, else behind it.
  std::vector<std::uint32_t> masks;
  // Pixels top row first: palette indices for 1/4/8 bits, the raw word for
  // 16 bits, else 0xAARRGGBB (raw as well when masks are given).
  std::vector<std::uint32_t> pixels;
};

// Bottom row first, rows padded to 4 bytes.
inline Bytes write_bmp(const BmpSpec& s) {
  const std::size_t row_bytes = ((static_cast<std::size_t>(s.width) * s.bits + 31) / 32) * 4;
  const std::size_t masks_behind = s.header_size < 52 ? 4 * s.masks.size() : 0;
  const std::size_t offset = 14 + s.header_size + masks_behind + 4 * s.palette.size();
  Bytes b(offset + row_bytes * s.height, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<std::uint32_t>(b.size()));
  put32(b, 10, static_cast<std::uint32_t>(offset));
  put32(b, 14, s.header_size);
  put32(b, 18, static_cast<std::uint32_t>(s.width));
  put32(b, 22, static_cast<std::uint32_t>(s.height));
  put16(b, 26, 1);
  put16(b, 28, static_cast<std::uint16_t>(s.bits));
  put32(b, 30, s.compression);
  put32(b, 34, static_cast<std::uint32_t>(row_bytes * s.height));
  put32(b, 46, s.colours_used);
  for (std::size_t i = 0; i < s.masks.size(); ++i) put32(b, 14 + 40 + 4 * i, s.masks[i]);
  for (std::size_t i = 0; i < s.palette.size(); ++i) put32(b, 14 + s.header_size + masks_behind + 4 * i, s.palette[i]);
  for (int y = 0; y < s.height; ++y) {
    const std::size_t row = offset + row_bytes * (s.height - 1 - y);
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t p = s.pixels[static_cast<std::size_t>(y) * s.width + x];
      switch (s.bits) {
        case 1: b[row + x / 8] |= (p & 1) << (7 - x % 8); break;
        case 4: b[row + x / 2] |= (p & 15) << (x % 2 ? 0 : 4); break;
        case 8: b[row + x] = p & 0xFF; break;
        case 16: put16(b, row + x * 2, static_cast<std::uint16_t>(p)); break;
        case 24:
          b[row + x * 3] = p & 0xFF;
          b[row + x * 3 + 1] = (p >> 8) & 0xFF;
          b[row + x * 3 + 2] = (p >> 16) & 0xFF;
          break;
        case 32: put32(b, row + x * 4, p); break;
      }
    }
  }
  return b;
}

// A deterministic pattern byte for (x, y, channel).
inline std::uint8_t pattern(int x, int y, int c) {
  return static_cast<std::uint8_t>((x * 37 + y * 91 + c * 53 + (x * y) % 17) & 0xFF);
}

}  // namespace fixtures
