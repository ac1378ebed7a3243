// The ZCG decoder (MediaType 8): the engine's own image format, raw or in
// two packed parts that two pixel workers unpack at once.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"

struct DataItem;
struct LayerImage;

// Decodes a ZCG file's bytes into image (has_alpha 1). Every size of the
// header is checked against the file's length and against width x height x
// 4 before the buffer is made, so a refused file leaves the layer as it was.
// A damaged part fails the same way on any number of workers. 0, or -1
// after its message: "File Check Error." for a header that does not fit
// (a wrong magic alone only shows the box and the image still loads),
// error 100091 for a side above 8192, "Uncompress Status Error 1." or "2."
// for the part that failed (the buffer is then cleared).
int decode_zcg_into_layer(const u8* data, std::size_t size, LayerImage* image, const char* name);
// The dispatch's decoder: fetches the item's bytes, decodes, frees. 0 or -1.
int load_zcg(DataItem* item, LayerImage* image, const char* name);
