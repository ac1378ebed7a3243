// Processor feature probe and the choice of the span-kernel set.
#include "engine/image/span_kernels.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/engine_steps.h"
#include "engine/frame/settings.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

SpanKernelTable g_span_kernels;
CpuFeatures g_cpu_features;
u8 g_span_kernel_mode = 0;
u8 g_span_kernel_avx2 = 0;
u8 g_span_sse_allowed = 1;
u8 g_span_sse2_allowed = 1;

namespace {

// The two words of the settings file that allow the SSE set (both allowed
// unless the file clears them).
void read_span_settings(u8* sse_allowed, u8* sse2_allowed) {
  *sse_allowed = g_settings.sse_allowed;
  *sse2_allowed = g_settings.sse2_allowed;
}

}  // namespace

int cpuid_supported() {
#if defined(__x86_64__)
  return 1;  // every x86-64 processor has the instruction
#elif defined(__i386__)
  return __get_cpuid_max(0, nullptr) != 0 ? 1 : 0;
#else
  return 0;
#endif
}

void detect_cpu_features() {
  g_cpu_features = CpuFeatures{};
#if defined(__x86_64__) || defined(__i386__)
  if (!cpuid_supported()) return;
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0, a, b, c, d);
  if (a != 0) {
    __cpuid(1, a, b, c, d);
    g_cpu_features.mmx = (d >> 23) & 1;
    g_cpu_features.sse = (d >> 25) & 1;
    g_cpu_features.sse2 = (d >> 26) & 1;
    g_cpu_features.sse3 = c & 1;
    g_cpu_features.ssse3 = (c >> 9) & 1;
    g_cpu_features.sse41 = (c >> 19) & 1;
    g_cpu_features.sse42 = (c >> 20) & 1;
  }
  __cpuid(0x80000000u, a, b, c, d);
  if (a > 0x80000000u) {
    __cpuid(0x80000001u, a, b, c, d);
    g_cpu_features.amd_3dnow = (d >> 31) & 1;
    g_cpu_features.amd_3dnow_ext = (d >> 30) & 1;
    g_cpu_features.sse4a = (c >> 6) & 1;
    g_cpu_features.xop = (c >> 11) & 1;
  }
  g_cpu_features.avx2 = span_avx2_available() ? 1 : 0;
#endif
}

int choose_span_kernel_mode(const CpuFeatures& features, u8 sse_allowed, u8 sse2_allowed) {
  int mode = 1;
  if (features.sse && sse_allowed) mode = 2;
  if (features.sse2 && sse2_allowed) mode = 3;
  return mode;
}

void install_span_kernels(int mode, bool use_avx2) {
  SpanKernelTable t{};
  if (mode >= 2) {
    fill_span_kernels_sse2(&t);
    if (use_avx2) fill_span_kernels_avx2(&t);
  } else {
    fill_span_kernels_plain(&t);
  }
  g_span_kernels = t;
  g_span_kernel_mode = static_cast<u8>(mode);
  g_span_kernel_avx2 = (mode >= 2 && use_avx2) ? 1 : 0;
}

void init_span_ops() {
  detect_cpu_features();
  read_span_settings(&g_span_sse_allowed, &g_span_sse2_allowed);
  const int mode = choose_span_kernel_mode(g_cpu_features, g_span_sse_allowed, g_span_sse2_allowed);
  // The AVX2 slots belong to the SSE set and follow the SSE2 setting.
  install_span_kernels(mode, mode == 3 && g_cpu_features.avx2);
}

bool span_sse_usable() { return g_cpu_features.sse && g_span_sse_allowed; }
