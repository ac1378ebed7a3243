// The notification-area icon as a StatusNotifierItem (libayatana-appindicator3):
// any host of the desktop shows it (without one the library falls back to
// an icon in an XEmbed tray). The icon image is written as a PNG file under
// $XDG_RUNTIME_DIR with a new name for each change, since hosts cache icons
// by name; the tip becomes the item's title; the menu is built from the menu
// service and its choices post WM_COMMAND to the window. An indicator
// reports no clicks of its own: the host opens the menu.
#include <libayatana-appindicator/app-indicator.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/gtk/ui_gtk_access.h"
#include "platform/tray.h"

namespace {

AppIndicator* g_indicator = nullptr;
// The session bus, opened before the indicator is made and held while it
// lives. The library asks for the bus and watches the watcher's name at the
// same time, both asynchronously; when the watcher's name is answered first
// (a host already running on a busy machine) it builds its proxy on a bus it
// does not have yet and never registers. With the bus already open its own
// request completes in the first turn of the main loop, before any answer
// from the bus can arrive.
GDBusConnection* g_session_bus = nullptr;
std::string g_icon_file;
unsigned g_serial = 0;

std::string runtime_folder() {
  const char* r = std::getenv("XDG_RUNTIME_DIR");
  if (r && *r) return r;
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

// The program's own icon: a 16 x 16 ring, drawn rather than loaded.
std::vector<std::uint32_t> program_icon() {
  std::vector<std::uint32_t> px(256, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      int dx = 2 * x - 15, dy = 2 * y - 15, d = dx * dx + dy * dy;
      if (d <= 225) px[y * 16 + x] = d >= 100 ? 0xFF2060C0u : 0xFFF0F0F0u;
    }
  return px;
}

// Writes B, G, R, A pixels as a PNG (straight alpha).
bool write_png(const std::string& path, const std::uint32_t* pixels, int width, int height) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
    std::uint32_t p = pixels[i];
    rgba[i * 4 + 0] = static_cast<std::uint8_t>(p >> 16);
    rgba[i * 4 + 1] = static_cast<std::uint8_t>(p >> 8);
    rgba[i * 4 + 2] = static_cast<std::uint8_t>(p);
    rgba[i * 4 + 3] = static_cast<std::uint8_t>(p >> 24);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  int ok = png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr);
  png_image_free(&image);
  return ok != 0;
}

int gt_show(UiWindow window, const std::uint32_t* pixels, int width, int height, const char* sjis_tip,
            UiMenu menu) {
  if (!gtk_ui_toplevel(window) || !gtk_ui_on_gui_thread()) return -1;
  std::vector<std::uint32_t> own;
  if (!pixels || width <= 0 || height <= 0) {
    own = program_icon();
    pixels = own.data();
    width = height = 16;
  }
  std::string file = runtime_folder() + "/k_lumbrane-tray-" + std::to_string(static_cast<long>(getpid())) + "-" +
                     std::to_string(++g_serial) + ".png";
  if (!write_png(file, pixels, width, height)) return -1;
  std::string tip;
  if (sjis_to_utf8(sjis_tip ? sjis_tip : "", &tip) != 0) tip.clear();
  if (!g_indicator) {
    // Without a session bus the library falls back to the XEmbed tray.
    if (!g_session_bus) g_session_bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    g_indicator = app_indicator_new("k_lumbrane", file.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    if (!g_indicator) {
      std::remove(file.c_str());
      return -1;
    }
  }
  app_indicator_set_icon_full(g_indicator, file.c_str(), tip.c_str());
  app_indicator_set_title(g_indicator, tip.c_str());
  app_indicator_set_menu(g_indicator, GTK_MENU(gtk_menus_build(menu, window)));
  app_indicator_set_status(g_indicator, APP_INDICATOR_STATUS_ACTIVE);
  if (!g_icon_file.empty()) std::remove(g_icon_file.c_str());
  g_icon_file = file;
  return 0;
}

void gt_remove(UiWindow window) {
  if (!g_indicator) return;
  app_indicator_set_status(g_indicator, APP_INDICATOR_STATUS_PASSIVE);
  g_object_unref(g_indicator);
  g_indicator = nullptr;
  if (g_session_bus) g_object_unref(g_session_bus);
  g_session_bus = nullptr;
  if (!g_icon_file.empty()) std::remove(g_icon_file.c_str());
  g_icon_file.clear();
}

}  // namespace

const PlatformTray kGtkTray = {gt_show, gt_remove};
