// JPEG frame sets: one file of many JPEG frames (the pictures of an
// animation), each optionally with a one-component JPEG of its alpha. A set
// is attached to a layer and kept in memory; showing a frame decodes it into
// the layer's pixels.
#pragma once
#include <cstddef>
#include <string>

#include "engine/frame/types.h"

struct LayerImage;
struct ObjectNode;

// The record attached to a layer's frame_set. The tables point into bytes
// (little-endian words, count each); every frame's two parts were checked
// to lie inside the file when the set was made.
struct FrameSet {
  i32 count = 0;
  i32 alpha_flag = 0;
  i32 value_a = 0;
  i32 value_b = 0;
  i32 value_c = 0;
  u8* bytes = nullptr;  // the whole file, parts unscrambled (owned, malloc'd)
  u32 size = 0;
  const u8* offsets = nullptr;
  const u8* sizes = nullptr;
  const u8* alpha_sizes = nullptr;
  std::string name;  // the file's name, for messages
  // The buffer the next frame is decoded into before it replaces the
  // layer's pixels, and its byte count (owned, malloc'd; may be null).
  u32* spare = nullptr;
  std::size_t spare_bytes = 0;
};

// Makes a set of the file's bytes, taking them over (freed on every failure):
// the header and every frame's parts are checked against the file's length,
// then the parts are unscrambled. 0 and *out set; -2 not a frame set (a
// count of 0 or less, tables or parts past the end, a part over the header
// or the tables); -3 no memory. Nothing is reported.
int make_frame_set(u8* bytes, u32 size, const char* name, FrameSet** out);
// Frees a set with its bytes and spare buffer. Null is ignored.
void free_frame_set(FrameSet* set);

// Locates the file (memory groups, compiler files, archives and loose
// files in their order), loads it, and attaches it to node's layer in place
// of its previous set. Not found: errors 104060 then 104010; a locate or
// load failure: 104010 (or what the loader reported, such as 901040); not a
// frame set: 104010; no memory for the record: 100010; all fatal, and the
// layer keeps its previous set. 0 or -1.
int load_frame_set(ObjectNode* node, const char* path);

// Decodes frame n (clamped to 0 .. count - 1) of node's set into its layer,
// which takes the frame's size, and marks the layer's area changed; has_alpha
// becomes 1 when the set carries alpha parts. Nothing happens without a set.
// A damaged frame leaves the layer's pixels, size and has_alpha as they were,
// and the next frame still decodes. 0 ok (or nothing to do); -1 no memory
// (reported); -2 a damaged frame; -3 a frame above 8192 pixels a side
// (error 100091, fatal).
int show_frame(ObjectNode* node, i64 n);
// The same for a layer record that is in no tree (nothing is marked).
int show_frame_in_image(LayerImage* image, i64 n);

// Decodes one frame's colour part and, with with_alpha, its alpha part into
// *buffer, a pixel buffer of *capacity bytes (null and 0 for none) that is
// grown to the frame's size when it is smaller; the buffer stays the
// caller's on every path. 0 ok and *width, *height set; -1 no memory
// (reported); -2 a damaged part (an alpha part whose size is not the frame's
// included); -3 a side above 8192 (100091 reported with name, fatal).
int decode_frame_parts(const u8* data, std::size_t size, const u8* alpha, std::size_t alpha_size, bool with_alpha,
                       const char* name, u32** buffer, std::size_t* capacity, i32* width, i32* height);

// A pixel buffer for a frame: the size rule and errors of alloc_image_buffer
// without a file name (an allocation failure is error 104030).
u32* alloc_frame_buffer(u32* old, i32 width, i32 height);

// Frees the layer's set and clears frame_set.
void release_image_frame_set(LayerImage* image);

// Destroys the one decompressor the frames share (made again on next use).
void release_frame_decoder();
