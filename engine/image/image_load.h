// Image loading: turns an image name into pixels of a LayerImage. The media
// locator finds the file; a decoder chosen by its MediaType fills the layer;
// a common tail cleans up transparent pixels.
#pragma once
#include "engine/vm/current_command.h"
#include <cstddef>

#include "engine/frame/types.h"

struct DataItem;
struct LayerImage;

// A decoder: fetches the item's bytes through the loader of its source kind,
// fills image (size, buffer, has_alpha) and frees the bytes. 0 ok, non-zero
// failed (reported by the decoder, or by the dispatch for JPEG and GIF).
using ImageDecoder = int (*)(DataItem* item, LayerImage* image, const char* name);
// Decoders by MediaType code (0-10): BMP, PNG, JPEG, GIF, PSD, ZCG, E-mote
// and WebP. A code without a decoder is error 100030.
constexpr int kImageDecoderSlots = 11;
extern ImageDecoder g_image_decoders[kImageDecoderSlots];

int load_bmp(DataItem* item, LayerImage* image, const char* name);
int load_png(DataItem* item, LayerImage* image, const char* name);
int load_jpeg(DataItem* item, LayerImage* image, const char* name);
int load_gif(DataItem* item, LayerImage* image, const char* name);
// Reports error 100220 (a PSD file) and returns -1 always.
int probe_psd(DataItem* item, LayerImage* image, const char* name);

// MediaType of a file's content: 1 BMP, 2 PNG, 3 JPEG, 4 GIF, 7 PSD, 8 ZCG,
// 10 WebP, by their signatures; 0 when none matches.
int sniff_image_type(const u8* data, std::size_t size);

// Decodes the bytes of a BMP, PNG, JPEG or GIF file (type 1-4) into image,
// reporting failures (JPEG 100210, GIF 100215, the others their own; a type
// outside 1-4 is 100030). No common tail. 0 or -1.
int decode_image_bytes(int media_type, const u8* data, std::size_t size, LayerImage* image, const char* name);

// The common tail after a successful decode of media_type: loaded copies,
// transparent pixels, the tone copy, the E-mote state of a layer that held
// one (unless the load was an E-mote one, type 9), and the frame-pacing
// reference time (a long load does not count as a late frame).
void finish_image_load(LayerImage* image, int media_type);
// Name of the command being executed, for error texts ("" outside commands).


// Empty name: the empty image; otherwise load_image_by_type. 0 or -1.
int load_image_into_layer(LayerImage* image, const char* name);
// Resolves name as an image, then decodes it by its MediaType. A name that
// no source holds gives the empty image and succeeds. 0 or -1 (reported).
int load_image_by_type(LayerImage* image, const char* name);
// A 1 x 1 image whose pixel is g_transparent_fill_colour. 0 or -1.
int make_empty_image(LayerImage* image, const char* name);
