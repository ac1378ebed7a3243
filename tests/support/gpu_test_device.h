// Opening Mesa's software device for tests that run on the real GPU backend.
#pragma once
#include <cstdlib>
#include <cstring>

#include "platform/gpu.h"

// Opens the real backend off-screen (surfaceless, no display needed): the
// attempts in the engine's order. 0, or -1 when none opened.
inline int open_test_gpu(const PlatformGpu* g, int width, int height) {
  setenv("EGL_PLATFORM", "surfaceless", 0);
  for (int attempt = gpu::kAttemptHardware; attempt <= gpu::kAttemptSoftware; ++attempt)
    if (g->open_device(attempt, width, height) == 0) return 0;
  return -1;
}

// Under CI a missing device is a failure, elsewhere the test is skipped.
inline bool gpu_required() {
  const char* ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}
