// The windowing service for tests: windows are records, the queues are the
// per-thread lists the GTK backend uses too (ui_common.h), boxes and the error
// dialog are recorded and answered from a script. Nothing is drawn.
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/present_blit.h"
#include "platform/ui.h"
#include "platform/ui_common.h"

namespace {

struct FakeWindow {
  FakeUiWindowInfo info{};
  UiWndProc proc = nullptr;
  void* user_data = nullptr;
  std::thread::id thread;
  bool alive = true;
  bool destroying = false;
  bool paint_pending = false;  // a WM_PAINT waits in the queue
  int cursor_x = 0, cursor_y = 0;
  bool cursor_known = false;
  // What the client area shows (kept at the client size).
  std::vector<std::uint32_t> shown;
  int shown_w = 0, shown_h = 0;
  int presents = 0;
  int last_present[4] = {};
  int move_drags = 0;
  std::vector<int> bar_mnemonics;
  bool moving = false;  // a move started and not yet ended
};

// Keeps the shown image at the client size; what stays inside is kept.
void fit_shown(FakeWindow* w) {
  ui_fit_shown(&w->shown, &w->shown_w, &w->shown_h, w->info.client_width, w->info.client_height);
}

// The mutex, queues, keys and drops are the shared part.
struct FakeState : UiSharedState {
  std::map<UiWindow, FakeWindow> windows;
  std::vector<UiWindow> order;
  UiWindow next_handle = 1;
  int available = 1;
  std::deque<int> box_answers;
  int error_dialog_edits = 0;
  std::vector<FakeUiBox> boxes;
  std::vector<FakeUiErrorDialog> error_dialogs;
  std::vector<FakeUiDelivered> delivered;
  int desktop[4] = {1920, 1080, 32, 60};
  int work_area[4] = {0, 0, 1920, 1040};
  UiWindow focus = kNoWindow;
  std::string associated_program;
  int cancels = 0;
  std::thread::id gui_thread;
  bool gui_thread_known = false;
  // Boxes asked for from another thread wait here until the GUI thread takes
  // in its events, as on the desktop.
  struct CrossCall {
    std::function<void()> fn;
    bool done = false;
  };
  std::deque<CrossCall*> cross_calls;
  bool ending = false;
  std::map<std::uint32_t, FakeUiChildArea> children;
  std::uint32_t next_child = 1;
};

FakeState& st() {
  static FakeState s;
  return s;
}

FakeWindow* live(UiWindow w) {
  auto it = st().windows.find(w);
  if (it == st().windows.end() || !it->second.alive) return nullptr;
  return &it->second;
}

// As on the GTK backend, a window is changed only by the thread that made it
// (the GUI thread); from any other thread these calls do nothing.
FakeWindow* live_here(UiWindow w) {
  FakeWindow* r = live(w);
  return r && r->thread == std::this_thread::get_id() ? r : nullptr;
}

// The GUI thread is the first thread that makes a window; windows are made
// on it only.
bool may_create_here() {
  if (!st().gui_thread_known) {
    st().gui_thread = std::this_thread::get_id();
    st().gui_thread_known = true;
  }
  return st().gui_thread == std::this_thread::get_id();
}

int fake_available() { return st().available; }

UiWindow fake_create_window(const UiWindowDesc* d) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (!st().available || !d || !d->proc || !may_create_here()) return kNoWindow;
  UiWindow h = st().next_handle++;
  FakeWindow w;
  w.info.class_name = d->class_name ? d->class_name : "";
  w.info.title = d->title ? d->title : "";
  w.info.x = d->x;
  w.info.y = d->y;
  w.info.client_width = d->client_width;
  w.info.client_height = d->client_height;
  w.info.style = d->style;
  w.info.ex_style = d->ex_style;
  w.info.owner = d->owner;
  w.proc = d->proc;
  w.user_data = d->user_data;
  w.thread = std::this_thread::get_id();
  st().windows[h] = w;
  st().order.push_back(h);
  return h;
}

std::int64_t fake_send(UiWindow window, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  UiWndProc proc;
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    FakeWindow* w = live(window);
    if (!w) return 0;
    proc = w->proc;
    if (msg == ui::kWmPaint) w->paint_pending = false;
    st().delivered.push_back({window, msg, wp, lp});
  }
  return proc(window, msg, wp, lp);
}

void fake_destroy_window(UiWindow window) {
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    FakeWindow* w = live_here(window);
    if (!w || w->destroying) return;
    w->destroying = true;
  }
  fake_send(window, ui::kWmDestroy, 0, 0);
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  auto it = st().windows.find(window);
  if (it == st().windows.end()) return;
  it->second.alive = false;
  it->second.info.visible = 0;
  if (st().focus == window) st().focus = kNoWindow;
  ui_forget_window_messages(st(), window);
}

int fake_is_window(UiWindow w) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return live(w) ? 1 : 0;
}

void* fake_user_data(UiWindow w) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* r = live(w);
  return r ? r->user_data : nullptr;
}

UiWindow fake_find_window(const char* class_name) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  for (UiWindow h : st().order) {
    FakeWindow* w = live(h);
    if (w && !w->destroying && class_name && w->info.class_name == class_name) return h;
  }
  return kNoWindow;
}

int fake_show_window(UiWindow window, int cmd) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live_here(window);
  if (!w) return 0;
  int was = w->info.visible;
  switch (cmd) {
    case ui::kSwHide: w->info.visible = 0; break;
    case ui::kSwMinimize:
    case ui::kSwShowMinimized: w->info.visible = 1; w->info.iconic = 1; break;
    case ui::kSwMaximize: w->info.visible = 1; w->info.maximized = 1; w->info.iconic = 0; break;
    case ui::kSwRestore:
    case ui::kSwShowNormal:
      w->info.visible = 1;
      if (w->info.iconic) w->info.iconic = 0;
      else w->info.maximized = 0;
      break;
    default: w->info.visible = 1; break;
  }
  return was;
}

int fake_is_visible(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  return w ? w->info.visible : 0;
}
int fake_is_iconic(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  return w ? w->info.iconic : 0;
}
int fake_is_maximized(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  return w ? w->info.maximized : 0;
}
void fake_set_title(UiWindow window, const char* title) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (FakeWindow* w = live_here(window)) w->info.title = title ? title : "";
}
std::uint32_t fake_get_style(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  return w ? w->info.style : 0;
}
void fake_set_style(UiWindow window, std::uint32_t style, std::uint32_t ex_style) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (FakeWindow* w = live_here(window)) {
    w->info.style = style;
    w->info.ex_style = ex_style;
  }
}
int fake_get_client_size(UiWindow window, int* width, int* height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return -1;
  *width = w->info.client_width;
  *height = w->info.client_height;
  return 0;
}
int fake_get_window_rect(UiWindow window, int* x, int* y, int* width, int* height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return -1;
  *x = w->info.x;
  *y = w->info.y;
  *width = w->info.client_width;
  *height = w->info.client_height;
  return 0;
}
void fake_get_frame_margins(UiWindow, int* l, int* t, int* r, int* b) { *l = *t = *r = *b = 0; }
void fake_move_window(UiWindow window, int x, int y) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (FakeWindow* w = live_here(window)) {
    w->info.x = x;
    w->info.y = y;
  }
}
void fake_set_client_size(UiWindow window, int width, int height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (FakeWindow* w = live_here(window)) {
    w->info.client_width = width;
    w->info.client_height = height;
  }
}
void fake_set_foreground(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (live_here(window)) st().focus = window;
}
UiWindow fake_focus_window() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return st().focus;
}
void fake_set_z_order(UiWindow window, int mode) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (FakeWindow* w = live_here(window)) w->info.z_order = mode;
}
int fake_begin_move_drag(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live_here(window);
  if (!w || !w->info.visible) return -1;
  // A press already let go starts no move.
  if (!(st().keys[ui::kVkLButton] & 0x80)) return 0;
  w->move_drags++;
  w->moving = true;
  return 0;
}
int fake_open_bar_mnemonic(UiWindow window, int key) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live_here(window);
  if (!w) return 0;
  w->bar_mnemonics.push_back(key);
  return 0;
}
void fake_invalidate(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return;
  w->info.paint_requests++;
  // As on GTK, a paint asked for is one WM_PAINT in the window's queue until
  // the procedure has had it.
  if (!w->paint_pending) {
    w->paint_pending = true;
    ui_queue_message(st(), w->thread, {window, ui::kWmPaint, 0, 0});
  }
}
int fake_present_image(UiWindow window, const std::uint32_t* pixels, int image_w, int image_h, int src_x, int src_y,
                       int src_w, int src_h, int dst_x, int dst_y, int dst_w, int dst_h) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return -1;
  fit_shown(w);
  present_blit(w->shown.data(), w->shown_w, w->shown_h, w->shown_w, pixels, image_w, image_h, src_x, src_y, src_w,
               src_h, dst_x, dst_y, dst_w, dst_h, w->last_present);
  w->presents++;
  return 0;
}
std::uint32_t fake_create_child_area(UiWindow parent, const char* title, int x, int y, int width, int height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (!live(parent) || width < 1 || height < 1) return 0;
  std::uint32_t h = st().next_child++;
  st().children[h] = FakeUiChildArea{parent, title ? title : "", x, y, width, height, 1};
  return h;
}
int fake_place_child_area(std::uint32_t child, int x, int y, int width, int height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  auto it = st().children.find(child);
  if (it == st().children.end() || !it->second.alive || width < 1 || height < 1) return -1;
  it->second.x = x;
  it->second.y = y;
  it->second.width = width;
  it->second.height = height;
  return 0;
}
void fake_destroy_child_area(std::uint32_t child) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  auto it = st().children.find(child);
  if (it != st().children.end()) it->second.alive = 0;
}
void fake_accept_files(UiWindow window, int accept) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (FakeWindow* w = live_here(window)) w->info.accepts_files = accept;
}

int fake_get_cursor_pos(UiWindow window, int* x, int* y) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live_here(window);
  if (!w || !w->cursor_known) return -1;
  *x = w->cursor_x;
  *y = w->cursor_y;
  return 0;
}
void fake_get_keyboard_state(std::uint8_t state[256]) { ui_get_keyboard_state(st(), state); }

int fake_drop_count(std::uint64_t drop) { return ui_drop_count(st(), drop); }
int fake_drop_path(std::uint64_t drop, int index, std::string* out) { return ui_drop_path(st(), drop, index, out); }
void fake_drop_finish(std::uint64_t drop) { ui_drop_finish(st(), drop); }

int fake_post_message(UiWindow window, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return -1;
  ui_queue_message(st(), w->thread, {window, msg, wp, lp});
  return 0;
}
void fake_post_quit_message(int code) { ui_queue_quit(st(), code); }

bool on_fake_gui_thread() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return st().gui_thread_known && st().gui_thread == std::this_thread::get_id();
}

// Runs fn on the GUI thread and waits for it: at once on the GUI thread or
// before there is one, else when the GUI thread next takes in its events.
void run_on_fake_gui_thread(const std::function<void()>& fn) {
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    if (!st().gui_thread_known || st().gui_thread == std::this_thread::get_id()) {
      fn();
      return;
    }
  }
  FakeState::CrossCall call;
  call.fn = fn;
  std::unique_lock<std::recursive_mutex> lock(st().mutex);
  st().cross_calls.push_back(&call);
  st().queue_signal.notify_all();
  st().queue_signal.wait(lock, [&] { return call.done; });
}

// The GUI thread shows the boxes other threads asked for.
void serve_cross_calls() {
  if (!on_fake_gui_thread()) return;
  for (;;) {
    FakeState::CrossCall* call;
    {
      std::lock_guard<std::recursive_mutex> g(st().mutex);
      if (st().cross_calls.empty()) return;
      call = st().cross_calls.front();
      st().cross_calls.pop_front();
    }
    call->fn();
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    call->done = true;
    st().queue_signal.notify_all();
  }
}

int fake_peek_message(UiMessage* out, int remove) {
  serve_cross_calls();
  return ui_take_message(st(), out, remove);
}
int fake_get_message(UiMessage* out) {
  // A test queue never fills by itself: an empty queue answers WM_NULL at
  // once instead of waiting for ever.
  if (!fake_peek_message(out, 1)) *out = UiMessage{};
  return out->message == ui::kWmQuit ? 0 : 1;
}
void fake_process_desktop_events() { serve_cross_calls(); }
std::int64_t fake_dispatch_message(const UiMessage* m) { return ui_dispatch_message(kFakeUi, m); }
std::int64_t fake_def_window_proc(UiWindow window, std::uint32_t msg, std::uint64_t wp, std::int64_t lp) {
  return ui_def_window_proc(kFakeUi, window, msg, wp, lp);
}

// What closing a box's window answers.
int box_close_answer(std::uint32_t type) {
  switch (type & 0xF) {
    case ui::kMbOk: return ui::kIdOk;
    case ui::kMbYesNo: return ui::kIdNo;
    case ui::kMbAbortRetryIgnore: return ui::kIdAbort;
    default: return ui::kIdCancel;
  }
}

int fake_message_box(UiWindow owner, const char* text, const char* caption, std::uint32_t type) {
  std::string t = text ? text : "", c = caption ? caption : "";
  int answer = ui::kIdOk;
  {
    // Ending: answered here, without waiting for a GUI thread that may be gone.
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    if (st().ending) return box_close_answer(type);
  }
  run_on_fake_gui_thread([&] {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    if (st().ending) {
      answer = box_close_answer(type);
      return;
    }
    answer = st().available ? ui_default_box_answer(type) : ui_unseen_box_answer(type);
    if (!st().box_answers.empty()) {
      answer = st().box_answers.front();
      st().box_answers.pop_front();
    }
    st().boxes.push_back({owner, t, c, type, answer});
  });
  return answer;
}

int fake_error_dialog(UiWindow owner, const UiErrorDialog* d) {
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    if (st().ending) return ui::kErrorDialogExit;
  }
  run_on_fake_gui_thread([&] {
    int presses;
    {
      std::lock_guard<std::recursive_mutex> g(st().mutex);
      if (st().ending) return;
      st().error_dialogs.push_back({owner, d->caption ? d->caption : "", d->text ? d->text : "", d->edit_button});
      presses = st().error_dialog_edits;
    }
    if (d->edit_button == 2 && d->on_edit)
      for (int i = 0; i < presses; ++i) d->on_edit(d->context);
  });
  return ui::kErrorDialogExit;
}

void fake_cancel_modal_dialogs() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().cancels++;
}

void fake_end_modal_dialogs() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().ending = true;
  st().cancels++;
}

int fake_get_desktop_size(int* width, int* height, int* bits, int* refresh) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (!st().available) return -1;
  *width = st().desktop[0];
  *height = st().desktop[1];
  *bits = st().desktop[2];
  *refresh = st().desktop[3];
  return 0;
}
int fake_get_work_area(int* x, int* y, int* width, int* height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (!st().available) return -1;
  *x = st().work_area[0];
  *y = st().work_area[1];
  *width = st().work_area[2];
  *height = st().work_area[3];
  return 0;
}

int fake_find_associated_program(const char*, std::string* program) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (st().associated_program.empty()) return -1;
  *program = st().associated_program;
  return 0;
}

}  // namespace

const PlatformUi kFakeUi = {
    .available = fake_available,
    .create_window = fake_create_window,
    .destroy_window = fake_destroy_window,
    .is_window = fake_is_window,
    .user_data = fake_user_data,
    .find_window = fake_find_window,
    .show_window = fake_show_window,
    .is_visible = fake_is_visible,
    .is_iconic = fake_is_iconic,
    .is_maximized = fake_is_maximized,
    .set_title = fake_set_title,
    .get_style = fake_get_style,
    .set_style = fake_set_style,
    .get_client_size = fake_get_client_size,
    .get_window_rect = fake_get_window_rect,
    .get_frame_margins = fake_get_frame_margins,
    .move_window = fake_move_window,
    .set_client_size = fake_set_client_size,
    .set_foreground = fake_set_foreground,
    .focus_window = fake_focus_window,
    .set_z_order = fake_set_z_order,
    .begin_move_drag = fake_begin_move_drag,
    .open_bar_mnemonic = fake_open_bar_mnemonic,
    .invalidate = fake_invalidate,
    .accept_files = fake_accept_files,
    .get_cursor_pos = fake_get_cursor_pos,
    .get_keyboard_state = fake_get_keyboard_state,
    .drop_count = fake_drop_count,
    .drop_path = fake_drop_path,
    .drop_finish = fake_drop_finish,
    .post_message = fake_post_message,
    .post_quit_message = fake_post_quit_message,
    .send_message = fake_send,
    .peek_message = fake_peek_message,
    .get_message = fake_get_message,
    .process_desktop_events = fake_process_desktop_events,
    .dispatch_message = fake_dispatch_message,
    .def_window_proc = fake_def_window_proc,
    .message_box = fake_message_box,
    .error_dialog = fake_error_dialog,
    .cancel_modal_dialogs = fake_cancel_modal_dialogs,
    .end_modal_dialogs = fake_end_modal_dialogs,
    .get_desktop_size = fake_get_desktop_size,
    .get_work_area = fake_get_work_area,
    .find_associated_program = fake_find_associated_program,
    .present_image = fake_present_image,
    .create_child_area = fake_create_child_area,
    .place_child_area = fake_place_child_area,
    .destroy_child_area = fake_destroy_child_area,
};

int fake_ui_child_area(std::uint32_t child, FakeUiChildArea* out) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  auto it = st().children.find(child);
  if (it == st().children.end()) return -1;
  *out = it->second;
  return 0;
}
int fake_ui_live_child_areas() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  int n = 0;
  for (const auto& [h, c] : st().children) n += c.alive;
  return n;
}

void fake_ui_reset() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeState& s = st();
  s.windows.clear();
  s.order.clear();
  s.queues.clear();
  s.available = 1;
  s.box_answers.clear();
  s.error_dialog_edits = 0;
  s.boxes.clear();
  s.error_dialogs.clear();
  s.delivered.clear();
  int desktop[4] = {1920, 1080, 32, 60};
  int work[4] = {0, 0, 1920, 1040};
  for (int i = 0; i < 4; ++i) {
    s.desktop[i] = desktop[i];
    s.work_area[i] = work[i];
  }
  ui_clear_keys(s);
  s.drops.clear();
  s.focus = kNoWindow;
  s.associated_program.clear();
  s.cancels = 0;
  s.ending = false;
  s.gui_thread_known = false;
  s.children.clear();
}
int fake_ui_cancel_count() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return st().cancels;
}
int fake_ui_dialogs_ended() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return st().ending ? 1 : 0;
}
void fake_ui_set_associated_program(const std::string& program) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().associated_program = program;
}
void fake_ui_set_available(int available) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().available = available;
}
void fake_ui_push_box_answer(int answer) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().box_answers.push_back(answer);
}
void fake_ui_set_error_dialog_edits(int presses) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().error_dialog_edits = presses;
}
void fake_ui_set_desktop(int width, int height, int bits, int refresh) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().desktop[0] = width;
  st().desktop[1] = height;
  st().desktop[2] = bits;
  st().desktop[3] = refresh;
}
void fake_ui_set_work_area(int x, int y, int width, int height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  st().work_area[0] = x;
  st().work_area[1] = y;
  st().work_area[2] = width;
  st().work_area[3] = height;
}
void fake_ui_set_cursor(UiWindow window, int x, int y) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  if (FakeWindow* w = live(window)) {
    w->cursor_x = x;
    w->cursor_y = y;
    w->cursor_known = true;
  }
}
void fake_ui_set_key(int vk, int down) { ui_set_key(st(), vk, down); }
std::uint64_t fake_ui_make_drop(const std::vector<std::string>& paths) { return ui_add_drop(st(), paths); }
int fake_ui_drop_alive(std::uint64_t drop) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return st().drops.count(drop) ? 1 : 0;
}
void fake_ui_click_close(UiWindow window) { fake_post_message(window, ui::kWmSysCommand, ui::kScClose, 0); }
std::vector<int> fake_ui_bar_mnemonics(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  return w ? w->bar_mnemonics : std::vector<int>();
}
int fake_ui_move_drags(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  return w ? w->move_drags : 0;
}
void fake_ui_end_move_drag(UiWindow window) {
  {
    std::lock_guard<std::recursive_mutex> g(st().mutex);
    FakeWindow* w = live(window);
    if (!w || !w->moving) return;
    w->moving = false;
  }
  fake_post_message(window, ui::kWmExitSizeMove, 0, 0);
}
const std::vector<FakeUiBox>& fake_ui_boxes() { return st().boxes; }
const std::vector<FakeUiErrorDialog>& fake_ui_error_dialogs() { return st().error_dialogs; }
int fake_ui_window_info(UiWindow window, FakeUiWindowInfo* out) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return -1;
  *out = w->info;
  return 0;
}
std::vector<UiWindow> fake_ui_windows() {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  return st().order;
}
const std::vector<FakeUiDelivered>& fake_ui_delivered() { return st().delivered; }
int fake_ui_window_pixels(UiWindow window, std::vector<std::uint32_t>* pixels, int* width, int* height) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return -1;
  fit_shown(w);
  *pixels = w->shown;
  *width = w->shown_w;
  *height = w->shown_h;
  return 0;
}
int fake_ui_present_count(UiWindow window) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  return w ? w->presents : -1;
}
int fake_ui_last_present_rect(UiWindow window, int rect[4]) {
  std::lock_guard<std::recursive_mutex> g(st().mutex);
  FakeWindow* w = live(window);
  if (!w) return -1;
  for (int i = 0; i < 4; ++i) rect[i] = w->last_present[i];
  return 0;
}
