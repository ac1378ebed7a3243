#include <mutex>

#include "platform/platform.h"
#include "platform/tray.h"

namespace {
std::mutex g_mutex;
FakeTrayState g_state;

int fake_show(UiWindow window, const std::uint32_t* pixels, int width, int height, const char* sjis_tip,
              UiMenu menu, std::uint32_t callback_message, std::uint32_t icon_id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_state.shown = 1;
  g_state.show_calls += 1;
  g_state.own_icon = pixels ? 0 : 1;
  g_state.width = pixels ? width : 0;
  g_state.height = pixels ? height : 0;
  g_state.pixels.assign(pixels ? pixels : nullptr,
                        pixels ? pixels + static_cast<std::size_t>(width) * height : nullptr);
  g_state.tip = sjis_tip ? sjis_tip : "";
  g_state.menu = menu;
  g_state.window = window;
  g_state.callback_message = callback_message;
  g_state.icon_id = icon_id;
  return 0;
}

void fake_remove(UiWindow window) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_state.shown = 0;
}
}  // namespace

const PlatformTray kFakeTray = {fake_show, fake_remove};

void fake_tray_reset() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_state = FakeTrayState{};
}

const FakeTrayState& fake_tray_state() { return g_state; }

int fake_tray_click(int button) {
  UiWindow window;
  std::uint32_t message, id;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_state.shown) return -1;
    window = g_state.window;
    message = g_state.callback_message;
    id = g_state.icon_id;
  }
  std::uint32_t what = button == 1 ? ui::kWmLButtonDown : button == 2 ? ui::kWmRButtonUp : ui::kWmMButtonUp;
  const PlatformUi* u = g_platform.ui ? g_platform.ui : &kFakeUi;
  return u->post_message(window, message, id, what);
}
