// The span kernels: 26 operations on runs of bytes of 32-bit BGRA pixels (or
// plain byte buffers), reached through one table filled at start-up from the
// processor's features and the settings that allow SSE and SSE2.
//
// Conventions of every slot: n is a byte count (whole pixels wherever a slot
// works per pixel; 0 or less does nothing); d is the destination (the first
// pointer, overwritten in place), s the source byte of the same position, sA
// and dA the source and destination pixel's alpha; opacities and weights are
// 0..256; divisions by 256 are floor divisions (arithmetic shifts). Kernels
// do no checks: callers guarantee that every pointer covers n bytes.
//
// Where a slot has a group rule (slots 4, 6, 8, 10, 14, 15), groups are
// counted from the start of the run: the 8-byte rule (4-byte for slot 14)
// covers the first floor(n / 8) * 8 bytes whatever the address, and the rest
// follows the per-byte formula. Every kernel set gives exactly the same bytes
// as the plain set. Layer blends that may start or end inside a row go
// through blend_row_columns (blend_kernels.h), which lines the groups up
// with the columns of the layer's row.
#pragma once
#include "engine/frame/types.h"

using SpanZeroFn = void (*)(u8* p, i32 n);
using SpanFillFn = void (*)(u8* p, i32 n, u32 value);
using SpanCopyFn = void (*)(u8* d, const u8* s, i32 n);
using SpanOpFn = void (*)(u8* d, const u8* s, i32 op, i32 n);
using SpanMaskFn = void (*)(u8* d, const u8* s, const u8* mask, i32 fade1, i32 fade2, i32 n);
using SpanRowsFn = void (*)(u8* d, const u8* a, const u8* b, i32 w, i32 n);
using SpanBoxFn = void (*)(u8* d, const u8* s, i32 stride_pixels, i32 count);
using SpanTwoOpFn = void (*)(u8* d, const u8* s, i32 f, i32 op, i32 n);

struct SpanKernelTable {
  SpanZeroFn zero;              // 0: n bytes := 0
  SpanFillFn fill_bytes;        // 1: n bytes := low byte of value
  SpanFillFn fill_words;        // 2: floor(n/4) words := value
  SpanCopyFn copy;              // 3: n bytes copied
  SpanOpFn lerp;                // 4: all bytes d + floor((s-d)op/256); op 128: halves in groups
  SpanCopyFn alpha_blend;       // 5: B,G,R d + floor((s-d)(sA+1)/256)
  SpanOpFn alpha_blend_op;      // 6: a=(op sA)>>8; B,G,R (d(256-a)+s(a+1))/256 (groups)
  SpanMaskFn masked_lerp;       // 7: w = mask weight; w > 1: B,G,R d - floor((d-s)w/256)
  SpanRowsFn lerp_rows;         // 8: d = a + floor((b-a)w/256); w 128: halves in groups
  SpanCopyFn add_sat;           // 9: min(255, d+s)
  SpanOpFn add_op;              // 10: add with opacity (group rule)
  SpanCopyFn add_alpha;         // 11: B,G,R add weighted by sA+1
  SpanOpFn add_alpha_op;        // 12: B,G,R add weighted by (op(sA+1))>>8
  SpanCopyFn sub_sat;           // 13: max(0, s-d)
  SpanCopyFn multiply;          // 14: d(s+1)/256 in 4-byte groups, table rest
  SpanCopyFn screen;            // 15: d+s-d(s+1)/256 in 8-byte groups, table rest
  SpanOpFn screen_op;           // 16: d + floor((SCREEN[s][d]-d)op/256)
  SpanCopyFn lighten;           // 17: max(d, s)
  SpanCopyFn darken;            // 18: min(d, s)
  SpanCopyFn linear_burn;       // 19: clamp(d+s-255)
  SpanCopyFn linear_light;      // 20: clamp(d+2s-256)
  SpanBoxFn box_reduce;         // 21: 2:1 box reduction of two rows, count >= 1 pixels
  SpanCopyFn over_alpha;        // 22: over onto alpha
  SpanOpFn over_alpha_op;       // 23: over onto alpha with opacity
  SpanOpFn over_faded_alpha;    // 24: dA := dA f >> 8, then as 22 (op is f)
  SpanTwoOpFn over_two_op;      // 25: over with two opacities
};
static_assert(sizeof(SpanKernelTable) == 26 * sizeof(void*), "26 slots");

extern SpanKernelTable g_span_kernels;

// Processor features, 1 when the processor reports them. Only SSE and SSE2
// steer the kernel choice; AVX2 (with operating-system support) lets a few
// hot slots of the SSE set run 32 bytes a step.
struct CpuFeatures {
  u8 mmx, sse, sse2, sse3, ssse3, sse41, sse42;
  u8 amd_3dnow, amd_3dnow_ext, sse4a, xop;
  u8 avx2;
};
extern CpuFeatures g_cpu_features;

// Kernel set in use: 1 plain, 2 SSE (allowed SSE), 3 SSE (allowed SSE2).
extern u8 g_span_kernel_mode;
// 1 when the installed SSE set uses the AVX2 versions of its hot slots.
extern u8 g_span_kernel_avx2;
// The two settings that allow the SSE set, as init_span_ops last read them.
extern u8 g_span_sse_allowed;
extern u8 g_span_sse2_allowed;

int cpuid_supported();
void detect_cpu_features();
// Mode 1 by default; 2 with SSE present and allowed; 3 with SSE2 present and
// allowed (tested second, it wins).
int choose_span_kernel_mode(const CpuFeatures& features, u8 sse_allowed, u8 sse2_allowed);
// Detects the features, reads the two settings and installs the set.
// (Declared with the engine steps; repeated here for the image code.)
void init_span_ops();
// Installs mode 1 (plain) or 2/3 (SSE, with AVX2 slots when use_avx2).
void install_span_kernels(int mode, bool use_avx2);

// The kernel sets, for start-up and for the tests that compare them.
void fill_span_kernels_plain(SpanKernelTable* t);
void fill_span_kernels_sse2(SpanKernelTable* t);
// Overwrites the slots that have AVX2 versions (call after the SSE2 fill).
void fill_span_kernels_avx2(SpanKernelTable* t);
// True when this build and processor can run the AVX2 slots.
bool span_avx2_available();

// The SSE scalers may be used (the processor has SSE and SSE is allowed).
bool span_sse_usable();
