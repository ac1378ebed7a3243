// Entries of the WebP library, as the engine binds them by ordinal (the
// stand-in exports ordinal N as "kl_ordinal_N"). Pixels are 32-bit B, G, R,
// A, rows of width x 4 bytes without padding.
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
// Ordinal 1: the library's version number (bound, never needed).
typedef int (*ZADazO_Version_fn)(void);
// Ordinal 2: the picture's size. 1 with *width and *height set, 0 for data
// that is not a WebP picture.
typedef int (*ZADazO_GetInfo_fn)(const uint8_t* data, uint32_t size, int32_t* width, int32_t* height);
// Ordinal 3: decodes into dest, which holds capacity bytes. The picture must
// be exactly width x height; 1 ok, 0 when it is not, does not fit or fails.
typedef int (*ZADazO_Decode_fn)(const uint8_t* data, uint8_t* dest, uint32_t size, int32_t width, int32_t height,
                                uint32_t capacity);
// Ordinal 4: encodes width x height pixels into out (capacity bytes) with
// the given method (0-6) and quality (0-100; -1 lossless). The byte count
// written, or 0 when the encode fails or does not fit.
typedef int (*ZADazO_Encode_fn)(const uint8_t* pixels, uint8_t* out, int32_t width, int32_t height, int32_t method,
                                int32_t quality, uint32_t capacity);
#ifdef __cplusplus
}
#endif
