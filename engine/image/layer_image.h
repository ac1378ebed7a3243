// The layer image record: the payload of every image object of the layer
// tree, of group layers (their buffer receives the composition of their
// children) and of each window's frame image.
//
// Pixels are 32-bit B, G, R, A bytes, top row first, rows of width x 4 bytes
// without padding. Every pixel buffer is allocated with width x 4 x height +
// width x 4 + 4 bytes: a spare row and a spare pixel behind the image that
// the resamplers and span kernels may read past the last pixel.
//
// Writers write owned_pixels; pixels is what gets drawn, normally equal to
// owned_pixels, but the compositor may point it at tone_pixels and a JPEG
// frame set may point it at storage of its own.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"
#include "engine/image/dirty_rect.h"

struct ObjectNode;
struct GifFrame;
struct FrameSet;

// Handle of one GPU texture; null = none.
using TextureHandle = void*;

constexpr int kMaxImageSide = 8192;
// Size of the mask_name and second_name buffers, NUL included.
constexpr int kLayerNameSize = 261;
constexpr int kLayerTextureCount = 256;
constexpr int kGifFrameTableSize = 8192;

// Tile grid of a layer drawn through textures; the textures themselves are
// LayerImage::textures, tile (c, r) at r x tile_count_x + c.
struct LayerTextureSet {
  u8 tile_count_x = 0;
  u8 tile_count_y = 0;
  i32 tile_limit_w = 0;  // 0 or less = no cap
  i32 tile_limit_h = 0;
  i32 tile_widths[32] = {};
  i32 tile_heights[32] = {};
};

struct LayerImage {
  u8 is_window_root = 0;
  u32 prev_merge_count = 0;
  u32 merge_count = 0;
  DirtyRect reset_rect = kEmptyDirtyRect;
  DirtyRect dirty = {0, 0, 0, 0};
  u8 dirty_valid = 0;
  u8 dirty_whole = 0;
  char* mask_name = nullptr;  // kLayerNameSize bytes; empty text = no mask
  u64 ref_count = 0;
  i64 user_value1 = 0;
  i64 user_value2 = 0;
  i64 x = 0;
  i64 y = 0;
  i32 tone_level = 128;
  i32 tone_colour = 0x808080;
  i32 width = 1;
  i32 height = 1;
  i16 alpha = 256;
  i16 mask_fade = 256;
  i16 mask_softness = 0;
  u8 has_alpha = 0;
  u8 blend_mode = 0;
  u8 visible = 1;
  u32* pixels = nullptr;
  u32* owned_pixels = nullptr;
  u32* tone_pixels = nullptr;
  u64 tone_stamp = 0;
  i32 loaded_width = 1;
  i32 loaded_height = 1;
  u8 is_dirty = 0;
  u8 gpu_flag = 0;
  GifFrame** gif_frames = nullptr;  // kGifFrameTableSize entries, owned
  FrameSet* frame_set = nullptr;
  u8 content_kind = 0;  // 0 bitmap, 1 bitmap with textures made at load, 2 E-mote
  LayerTextureSet texture_set;
  i64 x_centi = 0;
  i64 y_centi = 0;
  i64 scale_x = 10000;
  i64 scale_y = 10000;
  i64 gpu_values[5] = {};
  float gpu_angles[3] = {};
  i32 tone2_level = 128;
  i32 tone2_colour = 0x808080;
  u8 gpu_mode = 0;
  char* second_name = nullptr;  // kLayerNameSize bytes
  i16 gpu_level = 0;
  TextureHandle textures[kLayerTextureCount] = {};
  void* emote_player = nullptr;
};

// Written into every fully transparent pixel after a decode.
extern u32 g_transparent_fill_colour;

// What other parts release when a record is freed; each may be null. Filled
// at start-up by the parts that own textures, frame sets and E-mote players.
struct LayerReleaseHooks {
  void (*release_textures)(LayerImage* image);
  void (*release_frame_set)(LayerImage* image);
  void (*release_emote_player)(LayerImage* image);
};
extern LayerReleaseHooks g_layer_release_hooks;

// Byte count of a pixel buffer for width x height (64-bit; no limit checks).
inline u64 image_buffer_bytes(i64 width, i64 height) {
  return static_cast<u64>(width) * 4u * static_cast<u64>(height) + static_cast<u64>(width) * 4u + 4u;
}

// A new record with the defaults, ref_count 0, empty name buffers, no
// pixels; null after reporting error 100010 (fatal).
LayerImage* new_layer_image();
// Frees the record and everything it owns, whatever its ref_count (the
// release hooks run first). Null is ignored.
void free_layer_image(LayerImage* image);
// Drops one holder of the record: lowers ref_count when positive; at 0 the
// record is freed (with its E-mote player, textures and frame set). Returns
// 1 when it was freed, 0 while other holders remain, -1 for null. Clearing
// window root links to the node is the caller's business.
int release_layer_image(LayerImage* image);

// Creates a record for node (its payload; ref_count 1). 0 ok, 1 error (the
// node then keeps no payload).
int create_layer_image(ObjectNode* node);
// The node's new record, or null when node is null or creation failed.
LayerImage* get_or_create_layer_image(ObjectNode* node);
// node shares image: it becomes node's payload and ref_count rises by one.
// Nothing happens when either is null. Returns 0.
int share_layer_image(ObjectNode* node, LayerImage* image);
// The same after a null test of node: image, or null when node is null.
LayerImage* attach_layer_image(ObjectNode* node, LayerImage* image);

// A pixel buffer for width x height: grows old (realloc, keeping its leading
// bytes) when given, else allocates. A buffer of 2 MB or more starts on a
// huge-page boundary and asks for huge pages. Refused (null, nothing changed, old still valid) when the
// width or height is below 1 or above 8192: the box "ＣＧサイズが大きすぎます。
// X=%d, Y=%d" (empty caption), then error 100010 (fatal). An allocation
// failure reports error 100010 (fatal) when file_name is given, else 104030
// (fatal). On success old must no longer be used; the caller stores the
// result at once.
u32* alloc_image_buffer(u32* old, i32 width, i32 height, const char* file_name);
// After a successful alloc_image_buffer for image: stores buffer as both
// owned_pixels and pixels and sets width and height. This is the only point
// where a decoder changes the size, so size and buffer always agree.
void install_image_buffer(LayerImage* image, u32* buffer, i32 width, i32 height);
// Buffers for readers that decode beside the layer and install only a whole
// image (so a refused file leaves the layer as it was). Each thread keeps
// the last buffer a layer gave up (up to 2048 x 2048 pixels), and the next
// decode of a size it fits (without being more than twice too large) reuses
// it: loading image after image touches no new memory. A new buffer of 2 MB
// or more lies on large pages where the system gives them. take_decode_buffer
// has the checks and errors of alloc_image_buffer(nullptr, ...).
u32* take_decode_buffer(i32 width, i32 height, const char* file_name);
// The decode failed: buffer (from take_decode_buffer, may be null) is kept
// for the next decode or freed.
void give_back_decode_buffer(u32* buffer);
// The decode succeeded: image takes buffer as by install_image_buffer, and
// its old owned_pixels is kept for the next decode or freed.
void install_decoded_buffer(LayerImage* image, u32* buffer, i32 width, i32 height);
// Gives image a new buffer of width x height: frees the old owned_pixels and
// tone_pixels, installs buffer as owned_pixels and pixels, clears tone_pixels
// and tone_stamp, and sets width, height and their loaded copies. Returns 0.
int replace_layer_pixels(LayerImage* image, u32* buffer, i32 width, i32 height);
// Frees tone_pixels, clears it and tone_stamp, and points pixels back at
// owned_pixels.
void drop_tone_pixels(LayerImage* image);
// Every pixel whose alpha byte is 0 becomes g_transparent_fill_colour.
void normalize_transparent_pixels(LayerImage* image);
// Copies text into one of the kLayerNameSize name buffers, cut to the buffer
// (never inside a two-byte character). Does nothing for a null buffer.
void set_layer_name_buffer(char* buffer, const char* text);

// A window's frame image: frees *slot's buffer and record, then makes a new
// record of width x height (visible 1, alpha 256, mask_fade 256, second tone
// 128 / 0x808080, first tone pair and scales 0) with a pixel buffer. 0 ok,
// 1 error (*slot is null then).
int alloc_window_image(LayerImage** slot, i32 width, i32 height);
