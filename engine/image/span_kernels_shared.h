// The slots every kernel set starts from: clearing and copying (the C
// library's own vector code) and the per-pixel "over onto alpha" slots
// 22-25, which divide through the reciprocal table pixel by pixel. The SSE
// set replaces 22 and 24 with versions that mix four pixels a step; 23 and
// 25 (weights past 16 bits, a division per byte) stay scalar in every set.
#pragma once
#include "engine/image/span_kernels.h"

void fill_span_kernels_shared(SpanKernelTable* t);
