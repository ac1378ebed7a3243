#include "platform/saver_preview.h"

namespace {
FakeSaverPreviewCall g_last;
bool g_called = false;
int g_result = 0;

int fake_run(unsigned long parent, const std::uint32_t* pixels, int width, int height) {
  g_last = FakeSaverPreviewCall{parent, width, height, pixels && width > 0 && height > 0 ? pixels[0] : 0};
  g_called = true;
  return g_result;
}
}  // namespace

const PlatformSaverPreview kFakeSaverPreview = {fake_run};

const FakeSaverPreviewCall* fake_saver_preview_last() { return g_called ? &g_last : nullptr; }
void fake_saver_preview_reset(int result) {
  g_called = false;
  g_result = result;
}
