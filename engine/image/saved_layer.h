// Layers and save data: the pixels of a layer to save, and a layer made anew
// from a saved record's size and pixels.
#pragma once
#include "engine/frame/types.h"

// The image of the leaf layer name (relative to the layer base path): its
// size and its own pixels. 0, or -1 after 101250 (with request_name, the
// command's name, and the path) when there is no such layer or it has no
// pixels (or after a reported bad name).
int saved_layer_source(const char* name, const char* request_name, i32* width, i32* height, const u32** pixels);
// Gives the layer name (made at order key 1 when missing) an image of width
// x height holding the pixels (4 x width x height bytes) and marks it
// changed. An existing layer keeps every other field: place, alpha,
// visibility, blend mode, tone and order. The millisecond clock becomes the
// load time stamp that frame pacing reads. A size outside 1..8192 shows the
// image-size box and reports 100010; no memory reports 104030. Nothing
// changes on failure. 0 or -1.
int restore_saved_layer(const char* name, i32 width, i32 height, const u8* pixels);
