// The slots every kernel set shares: clearing and copying (the C library's
// own vector code) and the per-pixel "over onto alpha" slots 22-25, which
// divide through the reciprocal table pixel by pixel.
#pragma once
#include "engine/image/span_kernels.h"

void fill_span_kernels_shared(SpanKernelTable* t);
