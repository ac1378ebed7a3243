#include <map>
#include <mutex>
#include <vector>

#include "platform/cursor.h"

namespace {
struct FakeImageCursor {
  int width, height, hot_x, hot_y;
  std::vector<std::uint32_t> pixels;
};
std::mutex g_mutex;
int g_count = 0;
std::map<UiWindow, int> g_shapes;
std::map<UiWindow, UiCursor> g_images;
std::map<UiCursor, FakeImageCursor> g_cursors;
UiCursor g_next = 1;
UiWindow g_warp_window = kNoWindow;
int g_warp_x = 0, g_warp_y = 0;

int fake_show(int show) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_count += show ? 1 : -1;
  return g_count;
}

void fake_set_shape(UiWindow window, int shape) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_shapes[window] = shape >= kCursorArrow && shape <= kCursorHelp ? shape : kCursorArrow;
  g_images.erase(window);
}

UiCursor fake_create(const std::uint32_t* pixels, int width, int height, int hot_x, int hot_y) {
  if (!pixels || width <= 0 || height <= 0) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  FakeImageCursor c{width, height, hot_x, hot_y,
                    std::vector<std::uint32_t>(pixels, pixels + static_cast<std::size_t>(width) * height)};
  UiCursor h = g_next++;
  g_cursors[h] = std::move(c);
  return h;
}

void fake_set_image(UiWindow window, UiCursor cursor) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_cursors.count(cursor)) return;
  g_images[window] = cursor;
  g_shapes[window] = -1;
}

void fake_destroy(UiCursor cursor) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_cursors.erase(cursor)) return;
  for (auto it = g_images.begin(); it != g_images.end();) {
    if (it->second == cursor) {
      g_shapes[it->first] = kCursorArrow;
      it = g_images.erase(it);
    } else {
      ++it;
    }
  }
}

int fake_warp(UiWindow window, int x, int y) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_warp_window = window;
  g_warp_x = x;
  g_warp_y = y;
  return 0;
}
}  // namespace

const PlatformCursor kFakeCursor = {fake_show, fake_set_shape, fake_create, fake_set_image, fake_destroy, fake_warp};

void fake_cursor_reset() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_count = 0;
  g_shapes.clear();
  g_images.clear();
  g_cursors.clear();
  g_warp_window = kNoWindow;
  g_warp_x = g_warp_y = 0;
}

int fake_cursor_display_count() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_count;
}

int fake_cursor_shape(UiWindow window) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_shapes.find(window);
  return it == g_shapes.end() ? kCursorArrow : it->second;
}

UiCursor fake_cursor_image(UiWindow window) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_images.find(window);
  return it == g_images.end() ? 0 : it->second;
}

int fake_cursor_live_count() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int>(g_cursors.size());
}

void fake_cursor_last_warp(UiWindow* window, int* x, int* y) {
  std::lock_guard<std::mutex> lock(g_mutex);
  *window = g_warp_window;
  *x = g_warp_x;
  *y = g_warp_y;
}

int fake_cursor_image_info(UiCursor cursor, int* width, int* height, int* hot_x, int* hot_y,
                           std::uint32_t* first_pixel) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_cursors.find(cursor);
  if (it == g_cursors.end()) return -1;
  *width = it->second.width;
  *height = it->second.height;
  *hot_x = it->second.hot_x;
  *hot_y = it->second.hot_y;
  *first_pixel = it->second.pixels.empty() ? 0 : it->second.pixels[0];
  return 0;
}
