// Scripted monitors: a table of monitors and mode lists, refusals on demand,
// and a record of every change asked for.
#include <vector>

#include "platform/monitors.h"

namespace {

struct FakeMonitorState {
  std::vector<MonitorGeometry> monitors{{0, 0, 1920, 1080}};
  std::vector<std::vector<DisplayMode>> modes{{{1920, 1080, 32}}};
  int refuse = 0;
  std::vector<FakeMonitorCall> calls;
};

FakeMonitorState& st() {
  static FakeMonitorState s;
  return s;
}

int fm_enumerate(MonitorGeometry* out, int max) {
  int n = 0;
  for (const MonitorGeometry& m : st().monitors) {
    if (n >= max) break;
    out[n++] = m;
  }
  return n;
}

int fm_monitor_at_point(int x, int y) {
  const auto& ms = st().monitors;
  if (ms.empty()) return -1;
  long best = -1;
  int index = 0;
  for (int i = 0; i < static_cast<int>(ms.size()); ++i) {
    const MonitorGeometry& m = ms[i];
    const long dx = x < m.left ? m.left - x : (x >= m.left + m.width ? x - (m.left + m.width - 1) : 0);
    const long dy = y < m.top ? m.top - y : (y >= m.top + m.height ? y - (m.top + m.height - 1) : 0);
    const long d = dx * dx + dy * dy;
    if (best < 0 || d < best) best = d, index = i;
  }
  return index;
}

int fm_display_modes(int index, DisplayMode* out, int max) {
  if (index < 0 || index >= static_cast<int>(st().modes.size())) return 0;
  int n = 0;
  for (const DisplayMode& m : st().modes[index]) {
    if (n >= max) break;
    out[n++] = m;
  }
  return n;
}

int fm_change_display_mode(int index, int width, int height, int bits) {
  st().calls.push_back({"change", index, width, height, bits, 0});
  if (st().refuse) return -1;
  if (index < 0 || index >= static_cast<int>(st().modes.size())) return -1;
  for (const DisplayMode& m : st().modes[index])
    if (m.width == width && m.height == height && m.bits == bits) return 0;
  return -1;
}

void fm_restore_display_mode() { st().calls.push_back({"restore", 0, 0, 0, 0, 0}); }

int fm_fullscreen_on_monitor(UiWindow window, int index) {
  st().calls.push_back({"fullscreen", static_cast<int>(window), index, 0, 0, 0});
  return index >= 0 && index < static_cast<int>(st().monitors.size()) ? 0 : -1;
}

int fm_unfullscreen(UiWindow window) {
  st().calls.push_back({"unfullscreen", static_cast<int>(window), 0, 0, 0, 0});
  return 0;
}

void fm_set_size_hints(UiWindow window, int min_width, int min_height, int max_width, int max_height, double aspect) {
  st().calls.push_back({"hints", min_width, min_height, max_width, max_height, aspect});
}

}  // namespace

const PlatformMonitors kFakeMonitors = {fm_enumerate,           fm_monitor_at_point,     fm_display_modes,
                                        fm_change_display_mode, fm_restore_display_mode, fm_fullscreen_on_monitor,
                                        fm_unfullscreen,        fm_set_size_hints};

void fake_monitors_reset() { st() = FakeMonitorState{}; }
void fake_monitors_set(const std::vector<MonitorGeometry>& monitors) {
  st().monitors = monitors;
  st().modes.resize(monitors.size());
  for (std::size_t i = 0; i < monitors.size(); ++i)
    if (st().modes[i].empty()) st().modes[i] = {{monitors[i].width, monitors[i].height, 32}};
}
void fake_monitors_set_modes(int index, const std::vector<DisplayMode>& modes) {
  if (index < 0) return;
  if (index >= static_cast<int>(st().modes.size())) st().modes.resize(index + 1);
  st().modes[index] = modes;
}
void fake_monitors_refuse_changes(int refuse) { st().refuse = refuse; }
const std::vector<FakeMonitorCall>& fake_monitor_calls() { return st().calls; }
