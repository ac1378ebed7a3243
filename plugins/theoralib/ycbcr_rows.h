// One picture row from Y'CbCr (BT.601, video range) to B, G, R, A, with a
// plain loop and with SSE2 and AVX2 kernels picked by the processor. Every
// kernel gives the same bytes as the plain loop: in 8.8 fixed point,
//   b = clamp((298 (Y - 16) + 128 + 516 Cb') >> 8)
//   g = clamp((298 (Y - 16) + 128 - 100 Cb' - 208 Cr') >> 8)
//   r = clamp((298 (Y - 16) + 128 + 409 Cr') >> 8)
// with Cb' = Cb - 128 and Cr' = Cr - 128; alpha is 255.
#pragma once
#include <cstdint>

// Converts width pixels of luma row y into out. With xdec 0 the chroma rows
// u and v hold a sample per pixel; with xdec 1 one for each two pixels, and
// pixel x takes sample (x + odd) >> 1: odd 1 when the row starts on the
// second pixel of a chroma pair.
using YcbcrRowFn = void (*)(std::uint32_t* out, const std::uint8_t* y, const std::uint8_t* u,
                            const std::uint8_t* v, int width, int xdec, int odd);

void ycbcr_row_plain(std::uint32_t* out, const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                     int width, int xdec, int odd);
// nullptr where the processor (or the build) has no such kernel.
YcbcrRowFn ycbcr_row_sse2();
YcbcrRowFn ycbcr_row_avx2();
// The fastest this processor runs.
YcbcrRowFn ycbcr_row_best();

// Two luma rows that share their chroma rows (4:2:0), into out0 and out1:
// the same bytes as the row kernel on each, with the chroma terms worked
// out once for both.
using YcbcrRowPairFn = void (*)(std::uint32_t* out0, std::uint32_t* out1, const std::uint8_t* y0,
                                const std::uint8_t* y1, const std::uint8_t* u, const std::uint8_t* v, int width,
                                int xdec, int odd);
void ycbcr_row_pair_plain(std::uint32_t* out0, std::uint32_t* out1, const std::uint8_t* y0, const std::uint8_t* y1,
                          const std::uint8_t* u, const std::uint8_t* v, int width, int xdec, int odd);
// nullptr where the processor (or the build) has no such kernel.
YcbcrRowPairFn ycbcr_row_pair_avx2();
YcbcrRowPairFn ycbcr_row_pair_best();
