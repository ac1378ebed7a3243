// GIF decoding: block parser, LZW decoder and frame drawing.
#include "engine/image/gif_decode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/image/layer_image.h"

namespace {

// Reader over the whole file. A byte past the end reads as 0; a 16-bit value
// that has only one byte left reads as that byte; a sub-block that runs past
// the end is filled with zeros.
struct GifReader {
  const u8* data;
  std::size_t size;
  std::size_t pos;

  u8 byte() { return pos < size ? data[pos++] : (pos = size, 0); }
  u16 u16le() {
    if (pos >= size) return 0;
    if (pos + 1 == size) return data[pos++];
    const u16 v = static_cast<u16>(data[pos] | (data[pos + 1] << 8));
    pos += 2;
    return v;
  }
  void skip(std::size_t n) { pos = (n > size - pos) ? size : pos + n; }
  void read(u8* out, std::size_t n) {
    const std::size_t have = std::min(n, size - pos);
    if (have) std::memcpy(out, data + pos, have);
    std::memset(out + have, 0, n - have);
    pos += have;
  }
  // Skips data sub-blocks up to and including the zero-length one.
  void skip_sub_blocks() {
    for (;;) {
      const u8 n = byte();
      if (n == 0) return;
      skip(n);
    }
  }
};

constexpr int kLzwTableSize = 4096;
constexpr u8 kGifMaxMinCodeSize = 11;
constexpr u16 kLzwNoCode = 4098;

}  // namespace

// State of the LZW decoder for one image block.
struct GifLzwState {
  GifReader* reader;
  int min_code_size;
  int clear_code;
  int end_code;
  int running_code;  // one past the next table entry (entries at running_code - 2)
  int code_size;
  int code_limit;
  int prev_code;
  u32 bit_buffer;
  int bit_count;
  u8 block[255];
  int block_count;
  int block_pos;
  bool data_ended;    // the zero-length sub-block was read (or the file ended)
  bool stream_ended;  // end code seen or the stream is damaged: no more indices
  int stack_count;
  u8 stack[kLzwTableSize + 1];
  u8 suffix[kLzwTableSize];
  u16 prefix[kLzwTableSize];
};

namespace {

void lzw_reset(GifLzwState* s) {
  for (int i = 0; i < kLzwTableSize; ++i) s->prefix[i] = kLzwNoCode;
  s->running_code = s->end_code + 1;
  s->code_size = s->min_code_size + 1;
  s->code_limit = 1 << s->code_size;
  s->prev_code = kLzwNoCode;
}

void lzw_init(GifLzwState* s, GifReader* reader, int min_code_size) {
  s->reader = reader;
  s->min_code_size = min_code_size;
  s->clear_code = 1 << min_code_size;
  s->end_code = s->clear_code + 1;
  s->bit_buffer = 0;
  s->bit_count = 0;
  s->block_count = 0;
  s->block_pos = 0;
  s->data_ended = false;
  s->stream_ended = false;
  s->stack_count = 0;
  for (int i = 0; i < kLzwTableSize; ++i) s->suffix[i] = static_cast<u8>(i < s->clear_code ? i : 0);
  lzw_reset(s);
}

// The next code, least significant bit first across the sub-blocks; -1 when
// the data ran out.
int lzw_read_code(GifLzwState* s) {
  while (s->bit_count < s->code_size) {
    if (s->block_pos >= s->block_count) {
      if (s->data_ended) return -1;
      const u8 n = s->reader->byte();
      if (n == 0) {
        s->data_ended = true;
        return -1;
      }
      s->reader->read(s->block, n);
      s->block_count = n;
      s->block_pos = 0;
    }
    s->bit_buffer |= static_cast<u32>(s->block[s->block_pos++]) << s->bit_count;
    s->bit_count += 8;
  }
  const int code = static_cast<int>(s->bit_buffer & ((1u << s->code_size) - 1));
  s->bit_buffer >>= s->code_size;
  s->bit_count -= s->code_size;
  // Past the end of a full table the code size stays at 12 bits and no entry
  // is added until the encoder sends a clear code.
  if (s->running_code < kLzwTableSize + 2 && ++s->running_code > s->code_limit && s->code_size < 12) {
    s->code_limit <<= 1;
    s->code_size++;
  }
  return code;
}

}  // namespace

// The first byte of code's string: prefix links are followed while the code
// is above the clear code, at most 4096 steps. A result at or above the clear
// code means a damaged chain.
int lzw_follow_prefix_chain(const u16* prefix, int code, int clear_code) {
  int steps = 0;
  while (code > clear_code && code < kLzwTableSize && steps++ < kLzwTableSize) code = prefix[code];
  return code;
}

// Decodes the next count colour indices of the image block into dest. Returns
// the number written; fewer than count when the stream ended or is damaged
// (the rest of dest is left as it was).
int lzw_decode_row(GifLzwState* s, u8* dest, int count) {
  int i = 0;
  while (i < count && s->stack_count > 0) dest[i++] = s->stack[--s->stack_count];
  while (i < count && !s->stream_ended) {
    const int code = lzw_read_code(s);
    if (code < 0 || code == s->end_code) {
      s->stream_ended = true;
      break;
    }
    if (code == s->clear_code) {
      lzw_reset(s);
      continue;
    }
    if (code < s->clear_code) {
      s->stack[s->stack_count++] = static_cast<u8>(code);
    } else {
      int c = code;
      if (s->prefix[code] == kLzwNoCode) {
        // Only the entry about to be made may be used before it exists: its
        // string is the previous string plus that string's first byte.
        if (s->prev_code == kLzwNoCode || code != s->running_code - 2) {
          s->stream_ended = true;
          break;
        }
        const int first = lzw_follow_prefix_chain(s->prefix, s->prev_code, s->clear_code);
        if (first >= s->clear_code) {
          s->stream_ended = true;
          break;
        }
        s->stack[s->stack_count++] = static_cast<u8>(first);
        c = s->prev_code;
      }
      while (c > s->clear_code && s->stack_count < kLzwTableSize) {
        if (s->prefix[c] == kLzwNoCode) break;
        s->stack[s->stack_count++] = s->suffix[c];
        c = s->prefix[c];
      }
      if (c >= s->clear_code || s->stack_count >= kLzwTableSize) {
        s->stream_ended = true;
        s->stack_count = 0;
        break;
      }
      s->stack[s->stack_count++] = static_cast<u8>(c);
    }
    // New table entry: the previous code plus the first byte of this string
    // (which stands on top of the stack).
    // Entries are made in ascending order, so a defined last entry means the
    // table is full: it is never overwritten before the next clear code.
    const int entry = s->running_code - 2;
    if (s->prev_code != kLzwNoCode && entry < kLzwTableSize && entry > s->end_code &&
        s->prefix[entry] == kLzwNoCode) {
      s->prefix[entry] = static_cast<u16>(s->prev_code);
      s->suffix[entry] = s->stack[s->stack_count - 1];
    }
    s->prev_code = code;
    while (i < count && s->stack_count > 0) dest[i++] = s->stack[--s->stack_count];
  }
  return i;
}

namespace {

// Frames beyond this many index bytes in one file are skipped, so that a
// small file cannot claim gigabytes through thousands of large frames.
constexpr u64 kGifIndexBudget = u64{512} << 20;

// A frame record whose index area holds index_bytes zeroed bytes: the old
// record is reused when it is large enough (its content is not kept).
// The record is stored in *slot as soon as it exists.
GifFrame* grow_frame(GifFrame** slot, u64 index_bytes) {
  GifFrame* f = *slot;
  if (!f) {
    f = static_cast<GifFrame*>(std::calloc(1, sizeof(GifFrame)));
    if (!f) return nullptr;
    *slot = f;
  }
  if (index_bytes > f->index_capacity) {
    std::free(f->indices);
    f->index_capacity = 0;
    f->indices = static_cast<u8*>(std::calloc(static_cast<std::size_t>(index_bytes), 1));
    if (!f->indices) return nullptr;
    f->index_capacity = index_bytes;
  } else {
    std::memset(f->indices, 0, static_cast<std::size_t>(index_bytes));
  }
  return f;
}

struct GraphicControl {
  i32 disposal = 0;
  i32 transparent_flag = 0;
  i32 delay = 0;
  i32 transparent_index = 0;
};

// Reads one image block (descriptor onwards) into frame slot k of table
// (k < kGifFrameTableSize) or, with table null, only skips it. The stored
// rectangle is the part that lies on the logical screen. 1 stored, 0
// skipped (no table slot, or the index budget is spent), -1 out of memory,
// -2 a minimum code size the decoder cannot take.
int read_image_block(GifReader& rd, GifFrame** table, int k, u8 (&palette)[768], const GraphicControl& gc,
                     i32 loop_count, i32* screen_w, i32* screen_h, u64* budget, GifLzwState* lzw) {
  const i32 left = rd.u16le();
  const i32 top = rd.u16le();
  const i32 w = rd.u16le();
  const i32 h = rd.u16le();
  const u8 packed = rd.byte();
  const bool interlaced = (packed & 0x40) != 0;
  if (packed & 0x80) rd.read(palette, 3u * (2u << (packed & 7)));
  const i32 vis_w = std::max(0, std::min(left + w, *screen_w) - left);
  const i32 vis_h = std::max(0, std::min(top + h, *screen_h) - top);
  const u64 bytes = static_cast<u64>(vis_w) * static_cast<u64>(vis_h);
  GifFrame* f = nullptr;
  if (table && bytes <= *budget) {
    f = grow_frame(&table[k], bytes + 1);
    if (!f) return -1;
    *budget -= bytes;
  } else {
    *budget = 0;  // frames after a skipped one are not stored either
  }
  if (f) {
    f->left = left;
    f->top = top;
    f->width = vis_w;
    f->height = vis_h;
    f->disposal = gc.disposal;
    f->transparent_flag = gc.transparent_flag;
    f->delay = gc.delay;
    f->transparent_index = gc.transparent_index;
    f->loop_count = loop_count;
    std::memcpy(f->palette, palette, sizeof f->palette);
  }
  // The decoder's tables hold 4096 codes: minimum code sizes up to 11 fit.
  const u8 min_code_size = rd.byte();
  if (min_code_size > kGifMaxMinCodeSize) return -2;
  if (w > 0 && h > 0 && f && bytes > 0) {
    lzw_init(lzw, &rd, min_code_size);
    u8* row = static_cast<u8*>(std::malloc(static_cast<std::size_t>(w)));
    if (!row) return -1;
    static const int kPassStart[4] = {0, 4, 2, 1};
    static const int kPassStep[4] = {8, 8, 4, 2};
    const int passes = interlaced ? 4 : 1;
    for (int p = 0; p < passes && !lzw->stream_ended; ++p) {
      const int start = interlaced ? kPassStart[p] : 0;
      const int step = interlaced ? kPassStep[p] : 1;
      // Rows below the screen are not needed; without interlacing none of
      // them comes before a needed one.
      const int last = interlaced ? h : vis_h;
      for (int y = start; y < last && !lzw->stream_ended; y += step) {
        const int got = lzw_decode_row(lzw, row, w);
        if (y < vis_h && got > 0)
          std::memcpy(f->indices + static_cast<u64>(y) * vis_w, row, static_cast<std::size_t>(std::min(got, vis_w)));
      }
    }
    std::free(row);
    if (!lzw->data_ended) rd.skip_sub_blocks();
  } else {
    rd.skip_sub_blocks();
  }
  return f ? 1 : 0;
}

// Sizes a logical-screen side of 0 from the image blocks: the farthest
// extent of the frames that lie on a side of at most 8192 pixels. A side
// stays 0 when no frame lies on it. The walk reads the blocks as the decoder
// does and stops where the decoder would fail.
void size_zero_sides(const u8* data, std::size_t size, std::size_t start, i32* screen_w, i32* screen_h) {
  const bool want_w = *screen_w == 0, want_h = *screen_h == 0;
  if (!want_w && !want_h) return;
  GifReader rd{data, size, start};
  while (rd.pos < rd.size) {
    const u8 b = rd.byte();
    if (b == 0x2C) {
      const i32 left = rd.u16le(), top = rd.u16le(), w = rd.u16le(), h = rd.u16le();
      const u8 packed = rd.byte();
      if (packed & 0x80) rd.skip(3u * (2u << (packed & 7)));
      rd.byte();  // minimum code size
      rd.skip_sub_blocks();
      if (want_w && w > 0 && left + w <= kMaxImageSide) *screen_w = std::max(*screen_w, left + w);
      if (want_h && h > 0 && top + h <= kMaxImageSide) *screen_h = std::max(*screen_h, top + h);
      continue;
    }
    if (b != 0x21) return;  // the trailer, or a byte the decoder refuses
    switch (rd.byte()) {
      case 0xF9: rd.skip(std::max<u8>(rd.byte(), 4)); break;  // the decoder reads 4 bytes at least
      case 0x01:
      case 0xFF: rd.skip(rd.byte()); break;
      case 0xFE: break;
      default: return;
    }
    rd.skip_sub_blocks();
  }
}

}  // namespace

int decode_gif_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name) {
  GifReader rd{data, size, 0};
  rd.skip(6);
  i32 screen_w = rd.u16le();
  i32 screen_h = rd.u16le();
  const u8 flags = rd.byte();
  rd.byte();  // background index
  rd.byte();  // aspect
  u8 palette[768] = {};
  if (flags & 0x80) rd.read(palette, 3u * (2u << (flags & 7)));
  if (screen_w > kMaxImageSide || screen_h > kMaxImageSide) {
    report_error_fmt(100091, 1, name ? name : "");
    return -1;
  }
  // A side of 0 is sized from the frames; one that no frame lies on would
  // need more than 8192 pixels to show any of them.
  size_zero_sides(data, size, rd.pos, &screen_w, &screen_h);
  if (screen_w == 0 || screen_h == 0) {
    report_error_fmt(100091, 1, name ? name : "");
    return -1;
  }
  if (!image->gif_frames) {
    image->gif_frames = static_cast<GifFrame**>(std::calloc(kGifFrameTableSize, sizeof(GifFrame*)));
    if (!image->gif_frames) return -1;
  }
  GifLzwState* lzw = static_cast<GifLzwState*>(std::malloc(sizeof(GifLzwState)));
  if (!lzw) return -1;
  GraphicControl gc;
  i32 loop_count = 1;
  int frames = 0;
  u64 budget = kGifIndexBudget;
  int result = 0;
  for (bool done = false; !done && result == 0;) {
    const u8 b = rd.byte();
    if (b == 0x3B) break;
    if (b == 0x2C) {
      GifFrame** table = frames < kGifFrameTableSize ? image->gif_frames : nullptr;
      const int r = read_image_block(rd, table, frames, palette, gc, loop_count, &screen_w, &screen_h, &budget, lzw);
      if (r < 0) result = -1;
      frames += r > 0 ? 1 : 0;
      continue;
    }
    if (b != 0x21) {
      result = -1;
      break;
    }
    const u8 label = rd.byte();
    switch (label) {
      case 0xF9: {
        const u8 n = rd.byte();
        const u8 packed = rd.byte();
        gc.disposal = (packed >> 2) & 7;
        gc.transparent_flag = packed & 1;
        gc.delay = rd.u16le();
        gc.transparent_index = rd.byte();
        if (n > 4) rd.skip(n - 4u);
        rd.skip_sub_blocks();
        break;
      }
      case 0xFE:
        rd.skip_sub_blocks();
        break;
      case 0x01: {
        const u8 n = rd.byte();
        rd.skip(n);
        rd.skip_sub_blocks();
        break;
      }
      case 0xFF: {
        const u8 n = rd.byte();
        u8 id[11] = {};
        rd.read(id, std::min<u8>(n, 11));
        if (n > 11) rd.skip(n - 11u);
        const bool looping = n >= 11 && (std::memcmp(id, "NETSCAPE2.0", 11) == 0 || std::memcmp(id, "ANIMEXTS1.0", 11) == 0);
        for (;;) {
          const u8 len = rd.byte();
          if (len == 0) break;
          u8 sub[255];
          rd.read(sub, len);
          if (looping && len >= 3 && sub[0] == 1) loop_count = sub[1] | (sub[2] << 8);
        }
        break;
      }
      default:
        result = -1;
        done = true;
        break;
    }
  }
  std::free(lzw);
  if (result != 0) return result;
  // A file without any image block has nothing to show.
  if (frames == 0 || screen_w < 1 || screen_h < 1) return -1;
  // Frames of an earlier file beyond this one's count are dropped.
  for (int i = frames; i < kGifFrameTableSize; ++i) {
    GifFrame* f = image->gif_frames[i];
    if (!f) break;
    std::free(f->indices);
    std::free(f);
    image->gif_frames[i] = nullptr;
  }
  u32* buf = alloc_image_buffer(image->owned_pixels, screen_w, screen_h, name);
  if (!buf) return -1;
  install_image_buffer(image, buf, screen_w, screen_h);
  std::memset(buf, 0, static_cast<std::size_t>(screen_w) * 4u * static_cast<std::size_t>(screen_h));
  const GifFrame* f0 = image->gif_frames[0];
  const bool covers = f0->left == 0 && f0->top == 0 && f0->width == screen_w && f0->height == screen_h;
  image->has_alpha = (f0->transparent_flag || !covers) ? 1 : 0;
  gif_render_frame(image, 0);
  return 0;
}

void gif_render_frame(LayerImage* image, int k) {
  if (!image || !image->gif_frames || k < 0 || k >= kGifFrameTableSize) return;
  const GifFrame* f = image->gif_frames[k];
  u32* px = image->owned_pixels;
  if (!f || !px || !f->indices) return;
  u32 colours[256];
  for (int c = 0; c < 256; ++c)
    colours[c] = 0xFF000000u | (u32{f->palette[c * 3]} << 16) | (u32{f->palette[c * 3 + 1]} << 8) | f->palette[c * 3 + 2];
  if (f->transparent_flag) colours[f->transparent_index & 0xFF] &= 0x00FFFFFFu;
  const i32 x0 = f->left, y0 = f->top;
  const i32 w = std::min(f->width, image->width - x0);
  const i32 h = std::min(f->height, image->height - y0);
  for (i32 y = 0; y < h; ++y) {
    const u8* src = f->indices + static_cast<u64>(y) * f->width;
    u32* dst = px + static_cast<u64>(y0 + y) * image->width + x0;
    for (i32 x = 0; x < w; ++x) dst[x] = colours[src[x]];
  }
}

void free_gif_frames(LayerImage* image) {
  if (!image || !image->gif_frames) return;
  for (int i = 0; i < kGifFrameTableSize; ++i) {
    GifFrame* f = image->gif_frames[i];
    if (!f) continue;
    std::free(f->indices);
    std::free(f);
  }
  std::free(image->gif_frames);
  image->gif_frames = nullptr;
}
