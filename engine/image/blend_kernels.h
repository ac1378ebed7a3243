// The row kernels of the 19 blend modes, in four tables by kind of source:
//  A plain (job 101): an opaque source with the layer opacity op;
//  B alpha (job 103): a source with per-pixel alpha and the layer opacity;
//  C masked (job 102): an opaque source seen through a mask layer;
//  D alpha_masked (job 104): an alpha source seen through a mask layer.
// Tables A, B and C are indexed by mode * 2 + (op >> 8) (op 0..256, so the
// odd entry is the fully opaque case); table D by mode * 2 alone (both
// entries of a mode hold the same kernel).
//
// n is a byte count of whole pixels; the first pointer is the destination
// row, overwritten in place. The mask pointer of C and D points at the mask
// pixel that lines up with the source pixel; fade1 and fade2 are passed
// along and not used. Kernels do no checks.
#pragma once
#include "engine/frame/types.h"
#include "engine/image/blend_tables.h"

using BlendRowKernel = void (*)(u8* dst, const u8* src, i32 op, i32 n);
using BlendMaskRowKernel = void (*)(u8* dst, const u8* src, const u8* mask, i32 fade1, i32 fade2, i32 n);

struct BlendKernelTables {
  BlendRowKernel plain[kBlendModeCount * 2];
  BlendRowKernel alpha[kBlendModeCount * 2];
  BlendMaskRowKernel masked[kBlendModeCount * 2];
  BlendMaskRowKernel alpha_masked[kBlendModeCount * 2];
};
extern BlendKernelTables g_blend_kernels;

inline int blend_kernel_index(int mode, int op) { return mode * 2 + (op >> 8); }

// Runs a plain or alpha row kernel over count pixels that start at column x
// of a source row row_width pixels wide (destination and source point at the
// pixel of column x). Every pixel comes out as it does when the whole row is
// drawn in one run: the group rules of the span slots (two pixels a group)
// follow the columns of the source row, pairs (0, 1), (2, 3), ..., and only
// the last pixel of an odd-width row takes the trailing formula. So a run
// cut at any column (a dirty area's edge, a clipped placement) gives the same
// bytes as the full row. The caller keeps x..x+count inside the row.
void blend_row_columns(BlendRowKernel kernel, u8* dst, const u8* src, i32 op, i32 x, i32 count, i32 row_width);

// Fills the four kernel tables (the lookup tables must be built before any
// kernel runs; init_blend_tables does both).
void fill_blend_kernel_tables();
