// GIF decoding into layers.
//
// Every image block of a file becomes a frame record in the layer's frame
// table (kGifFrameTableSize entries); the layer shows frame 0. Frame
// rectangles are clipped to the logical screen, whose size is the layer's.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"

struct LayerImage;

// One image block of a GIF.
struct GifFrame {
  i32 left;
  i32 top;
  i32 width;
  i32 height;
  i32 disposal;           // bits 2-4 of the graphic-control block in force
  i32 transparent_flag;   // bit 0 of it
  i32 delay;              // hundredths of a second
  i32 transparent_index;
  i32 loop_count;         // from the last application block; 1 when none
  u8 palette[768];        // 256 R, G, B triples
  u8* indices;            // width x height colour indices, top row first
  u64 index_capacity;     // bytes allocated at indices
};

// Decodes a whole GIF file held in memory into image: fills the frame table
// and draws frame 0 into a new buffer of the logical screen size. 0 ok;
// non-zero failed (error 100091 was reported for an oversized screen; other
// failures are reported by the caller). On failure the layer keeps its size
// and buffer.
int decode_gif_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name);
// Draws frame k of image's table into its pixels, clipped to the image.
void gif_render_frame(LayerImage* image, int k);
// Frees the frame table and its records. Null table is ignored.
void free_gif_frames(LayerImage* image);
