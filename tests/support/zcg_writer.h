// Writes ZCG image files for tests, with the reader's own format constants:
// raw, zlib, block-compressed (LZ4 block, as the block-compression library
// packs) and WebP parts (lossless, through libwebp).
#pragma once
#include <vector>

#include "engine/frame/types.h"
#include "engine/image/zcg_format.h"

namespace fixtures {

// pixels: width x height B, G, R, A words, top row first. The upper
// split_row rows form part 1, the rest part 2 (split_row < 0: height / 2).
std::vector<u8> write_zcg(const std::vector<u32>& pixels, i32 width, i32 height, i32 method, i32 split_row = -1);

// Pixels of a fixed pattern that depends on seed (alpha varies too).
std::vector<u32> zcg_pattern(i32 width, i32 height, u32 seed);

}  // namespace fixtures
