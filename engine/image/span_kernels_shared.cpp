// Slots shared by every kernel set.
#include "engine/image/span_kernels_shared.h"

#include <cstring>

#include "engine/image/blend_tables.h"

namespace {

inline u8 clamp_byte(long long v) { return static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void zero_shared(u8* p, i32 n) {
  if (n > 0) std::memset(p, 0, static_cast<size_t>(n));
}

void copy_shared(u8* d, const u8* s, i32 n) {
  if (n > 0) std::memmove(d, s, static_cast<size_t>(n));
}

// Over onto a destination with alpha: the new alpha a' = dA + sA - dA sA/255,
// and the colour moves toward the source by sA / a'.
inline void over_pixel(u8* d, const u8* s, int dA) {
  const int sA = s[3];
  const int a = dA + sA - q255(dA, sA);
  const int w = g_reciprocal_table[a][sA];
  for (int c = 0; c < 3; ++c) d[c] = static_cast<u8>(d[c] + (((s[c] - d[c]) * w) >> 8));
  d[3] = static_cast<u8>(a);
}

void over_alpha_shared(u8* d, const u8* s, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) over_pixel(d + i, s + i, d[i + 3]);
}

// With a layer opacity the new alpha can come out below the source alpha
// (a low destination alpha and op < 256), and the reciprocal weight then
// exceeds 256: the colour is clamped to 0..255 rather than wrapped. The
// weight reaches 65280 * 256, so the product is taken in 64 bits.
void over_alpha_op_shared(u8* d, const u8* s, i32 op, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int sA = s[i + 3];
    const int dA = d[i + 3];
    const int a = dA + (((sA - q255(dA, sA)) * op) >> 8);
    const long long w = static_cast<long long>(g_reciprocal_table[a][sA]) * op;
    for (int c = 0; c < 3; ++c) d[i + c] = clamp_byte(d[i + c] + (((s[i + c] - d[i + c]) * w) >> 16));
    d[i + 3] = clamp_byte(a);
  }
}

void over_faded_alpha_shared(u8* d, const u8* s, i32 f, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) over_pixel(d + i, s + i, (d[i + 3] * f) >> 8);
}

// Two opacities: the destination's alpha faded by f, the source by op. The
// colour step floor((s-d) op/256) * sA / (a+1) can overshoot when a is near
// 0 (a small negative difference floors to -1): it is clamped to 0..255.
void over_two_op_shared(u8* d, const u8* s, i32 f, i32 op, i32 n) {
  for (i32 i = 0; i + 4 <= n; i += 4) {
    const int sA = s[i + 3];
    const int e = (d[i + 3] * f) >> 8;
    const int a = e + (((sA - (((sA + 1) * e) >> 8)) * op) >> 8);
    for (int c = 0; c < 3; ++c) {
      const int step = ((s[i + c] - d[i + c]) * op) >> 8;
      d[i + c] = clamp_byte(d[i + c] + step * sA / (a + 1));
    }
    d[i + 3] = clamp_byte(a);
  }
}

}  // namespace

void fill_span_kernels_shared(SpanKernelTable* t) {
  t->zero = zero_shared;
  t->copy = copy_shared;
  t->over_alpha = over_alpha_shared;
  t->over_alpha_op = over_alpha_op_shared;
  t->over_faded_alpha = over_faded_alpha_shared;
  t->over_two_op = over_two_op_shared;
}
