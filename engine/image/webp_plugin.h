// The WebP plug-in "ZADazO.dll", bound by ordinal at start-up: WebP images
// (MediaType 10), the WebP parts of ZCG images and the WebP writer. Without
// it those features are off; nothing calls an entry that was not found.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"
#include "engine/image/pixel_workers.h"

struct DataItem;
struct DynLib;
struct LayerImage;

// Encodes width x height BGRA pixels into out (capacity bytes) with method
// 0-6 and quality 0-100, -1 lossless: the byte count, or 0 when it failed
// or did not fit.
using WebpEncodeFn = int (*)(const u8* pixels, u8* out, i32 width, i32 height, i32 method, i32 quality,
                             u32 capacity);
using WebpVersionFn = int (*)();

struct WebpPlugin {
  DynLib* lib = nullptr;
  u8 loaded = 0;  // 1 only when every entry was found
  WebpVersionFn version = nullptr;  // ordinal 1
  WebpInfoFn info = nullptr;        // ordinal 2
  WebpDecodeFn decode = nullptr;    // ordinal 3
  WebpEncodeFn encode = nullptr;    // ordinal 4
};
extern WebpPlugin g_webp;

// Loads "ZADazO.dll" through the dynamic-library service and binds ordinals
// 1-4. A library that lacks an entry is unloaded again and stays off.
// Returns 0 whether or not it was found.
int load_webp_plugin();
void unload_webp_plugin();

// Decodes a WebP file's bytes into image (has_alpha 1). The size changes
// only once the new buffer exists. 0, or -1 after its message ("WebP の読込
// に対応していません。" without the plug-in, "File Check Error." for data
// that is not a WebP picture or fails to decode, error 100091 for a side
// above 8192).
int decode_webp_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name);
// The WebP decoder of the dispatch (MediaType 10). 0 or -1.
int load_webp(DataItem* item, LayerImage* image, const char* name);
