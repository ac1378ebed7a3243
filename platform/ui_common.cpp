// The parts of the windowing service both backends share (see ui_common.h).
#include "platform/ui_common.h"

#include <cstring>

void ui_queue_message(UiSharedState& s, std::thread::id thread, const UiMessage& message) {
  {
    std::lock_guard<std::recursive_mutex> g(s.mutex);
    s.queues[thread].push_back(message);
  }
  s.queue_signal.notify_all();
}

void ui_queue_quit(UiSharedState& s, int code) {
  ui_queue_message(s, std::this_thread::get_id(), {kNoWindow, ui::kWmQuit, static_cast<std::uint64_t>(code), 0});
}

int ui_take_message(UiSharedState& s, UiMessage* out, int remove) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  auto& q = s.queues[std::this_thread::get_id()];
  if (q.empty()) return 0;
  *out = q.front();
  if (remove) q.pop_front();
  return 1;
}

void ui_forget_window_messages(UiSharedState& s, UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  for (auto& [thread, queue] : s.queues)
    for (auto q = queue.begin(); q != queue.end();) q = q->window == window ? queue.erase(q) : q + 1;
}

void ui_set_key(UiSharedState& s, int vk, int down) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  if (vk >= 0 && vk < 256) s.keys[vk] = down ? 0x80 : 0;
}

void ui_clear_keys(UiSharedState& s) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  for (auto& k : s.keys) k = 0;
}

void ui_get_keyboard_state(UiSharedState& s, std::uint8_t state[256]) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  std::memcpy(state, s.keys, 256);
}

std::uint64_t ui_add_drop(UiSharedState& s, const std::vector<std::string>& sjis_paths) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  std::uint64_t h = s.next_drop++;
  s.drops[h] = sjis_paths;
  return h;
}

int ui_drop_count(UiSharedState& s, std::uint64_t drop) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  auto it = s.drops.find(drop);
  return it == s.drops.end() ? 0 : static_cast<int>(it->second.size());
}

int ui_drop_path(UiSharedState& s, std::uint64_t drop, int index, std::string* sjis_path) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  auto it = s.drops.find(drop);
  if (it == s.drops.end() || index < 0 || index >= static_cast<int>(it->second.size())) return -1;
  *sjis_path = it->second[static_cast<std::size_t>(index)];
  return 0;
}

void ui_drop_finish(UiSharedState& s, std::uint64_t drop) {
  std::lock_guard<std::recursive_mutex> g(s.mutex);
  s.drops.erase(drop);
}

void ui_fit_shown(std::vector<std::uint32_t>* shown, int* width, int* height, int client_width,
                  int client_height) {
  const int cw = client_width > 0 ? client_width : 0;
  const int ch = client_height > 0 ? client_height : 0;
  if (cw == *width && ch == *height) return;
  std::vector<std::uint32_t> next(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch), 0);
  for (int y = 0; y < ch && y < *height; ++y)
    for (int x = 0; x < cw && x < *width; ++x)
      next[static_cast<std::size_t>(y) * cw + x] = (*shown)[static_cast<std::size_t>(y) * *width + x];
  shown->swap(next);
  *width = cw;
  *height = ch;
}

int ui_unseen_box_answer(std::uint32_t type) {
  switch (type & 0xF) {
    case ui::kMbOkCancel:
    case ui::kMbYesNoCancel:
    case ui::kMbRetryCancel: return ui::kIdCancel;
    case ui::kMbYesNo: return ui::kIdNo;
    case ui::kMbAbortRetryIgnore: return ui::kIdAbort;
    default: return ui::kIdOk;
  }
}

int ui_default_box_answer(std::uint32_t type) {
  switch (type & 0xF) {
    case ui::kMbYesNo:
    case ui::kMbYesNoCancel: return ui::kIdYes;
    case ui::kMbRetryCancel: return ui::kIdRetry;
    case ui::kMbAbortRetryIgnore: return ui::kIdAbort;
    default: return ui::kIdOk;
  }
}

std::int64_t ui_dispatch_message(const PlatformUi& backend, const UiMessage* m) {
  if (!m || m->window == kNoWindow) return 0;
  return backend.send_message(m->window, m->message, m->wparam, m->lparam);
}

std::int64_t ui_def_window_proc(const PlatformUi& backend, UiWindow window, std::uint32_t msg,
                                std::uint64_t wp, std::int64_t lp) {
  if (msg == ui::kWmSysKeyDown) {
    // Alt with a letter or digit asks for the bar item of that mnemonic.
    if ((wp >= 'A' && wp <= 'Z') || (wp >= '0' && wp <= '9')) {
      std::int64_t ch = wp >= 'A' && wp <= 'Z' ? static_cast<std::int64_t>(wp - 'A' + 'a') : static_cast<std::int64_t>(wp);
      backend.send_message(window, ui::kWmSysCommand, ui::kScKeyMenu, ch);
    }
    return 0;
  }
  if (msg == ui::kWmSysCommand) {
    std::uint32_t cmd = static_cast<std::uint32_t>(wp) & 0xFFF0u;
    if (cmd == ui::kScKeyMenu) {
      if (backend.open_bar_mnemonic && lp > 0 && lp < 128) backend.open_bar_mnemonic(window, static_cast<int>(lp));
      return 0;
    }
    if (cmd == ui::kScClose) return backend.send_message(window, ui::kWmClose, 0, 0);
    // A maximise or restore the desktop made is done: the report may come
    // late, after the desktop already went the other way (a busy engine
    // reads a maximise and the restore after it together), and making it
    // again would undo the later one.
    if ((cmd == ui::kScMaximize || cmd == ui::kScRestore) && lp == ui::kScMadeByDesktop) return 0;
    if (cmd == ui::kScMinimize) backend.show_window(window, ui::kSwMinimize);
    if (cmd == ui::kScMaximize) backend.show_window(window, ui::kSwMaximize);
    if (cmd == ui::kScRestore) backend.show_window(window, ui::kSwRestore);
    return 0;
  }
  if (msg == ui::kWmClose) backend.destroy_window(window);
  if (msg == ui::kWmNcLButtonDown && wp == ui::kHtCaption) backend.begin_move_drag(window);
  return 0;
}
