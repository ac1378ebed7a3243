// The control dialog as a model: every control's text, state, range and
// position under one lock, and a scripted user who presses buttons.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/control_dialog.h"

const FakeControlState* FakeControlModel::find(int id) const {
  for (const FakeControlState& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

struct FakeDlg : ControlDialog {
  FakeControlModel model;
  std::string font;
  bool ended = false;
  int code = 0;
  std::thread::id gui;
  std::deque<int> presses;  // press() calls not yet delivered
};

namespace {

constexpr int kIdleCloseMs = 30000;

struct FakeState {
  std::mutex m;
  std::condition_variable cv;
  std::vector<FakeControlPress> script;
  std::size_t next = 0;  // the scripted press due next
  std::uint64_t delivered_steps = 0;
  FakeControlModel last;
  ControlDialogDesc last_desc;
  int runs = 0;
  std::vector<int> delivered;
  FakeDlg* live = nullptr;
};

FakeState& fs() {
  static FakeState s;
  return s;
}

FakeControlState* find(FakeDlg* d, int id) {
  for (FakeControlState& c : d->model.controls)
    if (c.id == id) return &c;
  return nullptr;
}

// After a change (lock held): wakes the dialog's thread, and a thread other
// than the dialog's waits while the due press holds on this state.
void changed(std::unique_lock<std::mutex>& lock, FakeDlg* d) {
  FakeState& s = fs();
  s.last = d->model;
  s.cv.notify_all();
  if (std::this_thread::get_id() == d->gui || s.next >= s.script.size()) return;
  const FakeControlPress& p = s.script[s.next];
  if (!p.hold || (p.when && !p.when(d->model))) return;
  std::uint64_t step = s.delivered_steps;
  s.cv.wait_for(lock, std::chrono::milliseconds(p.timeout_ms),
                [&] { return s.delivered_steps != step || d->ended; });
}

template <typename Fn>
void change(FakeDlg* d, int id, Fn fn) {
  if (!d) return;
  std::unique_lock<std::mutex> lock(fs().m);
  if (d->ended) return;
  if (id != 0) {
    FakeControlState* c = find(d, id);
    if (!c) return;
    fn(*c);
  }
  changed(lock, d);
}

// Calls the procedure for a press of id when the button is there and enabled
// (lock not held).
void deliver(FakeDlg* d, const ControlDialogProc& proc, int id) {
  {
    std::lock_guard<std::mutex> g(fs().m);
    FakeControlState* c = find(d, id);
    if (!c || c->kind != kControlButton || !c->enabled || d->ended) return;
    fs().delivered.push_back(id);
  }
  proc(d, kControlDialogCommand, id);
}

int fk_run(const ControlDialogDesc* desc, const ControlDialogProc& proc) {
  if (!desc) return -1;
  FakeState& s = fs();
  FakeDlg d;
  d.gui = std::this_thread::get_id();
  d.model.title = desc->title;
  d.font = desc->font_family.empty() ? std::string("\x82\x6c\x82\x72 \x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e")
                                     : desc->font_family;
  for (const ControlDesc& c : desc->controls) {
    FakeControlState st;
    st.id = c.id;
    st.kind = c.kind;
    st.text = c.text;
    d.model.controls.push_back(st);
  }
  {
    std::lock_guard<std::mutex> g(s.m);
    ++s.runs;
    s.last_desc = *desc;
    s.last = d.model;
    s.live = &d;
  }
  proc(&d, kControlDialogInit, 0);
  std::unique_lock<std::mutex> lock(s.m);
  while (!d.ended) {
    if (!d.presses.empty()) {
      int id = d.presses.front();
      d.presses.pop_front();
      lock.unlock();
      deliver(&d, proc, id);
      lock.lock();
      continue;
    }
    if (s.next >= s.script.size()) {
      // Script used up: presses and the end may still come from other
      // threads, as on the screen; a dialog left alone this long is closed.
      if (!s.cv.wait_for(lock, std::chrono::milliseconds(kIdleCloseMs),
                         [&] { return d.ended || !d.presses.empty(); }))
        break;
      continue;
    }
    FakeControlPress p = s.script[s.next];
    bool ok = s.cv.wait_for(lock, std::chrono::milliseconds(p.timeout_ms), [&] {
      return d.ended || !d.presses.empty() || !p.when || p.when(d.model);
    });
    if (d.ended || !d.presses.empty()) continue;
    ++s.next;
    lock.unlock();
    if (ok) deliver(&d, proc, p.id);
    lock.lock();
    ++s.delivered_steps;
    s.cv.notify_all();
  }
  d.ended = true;
  s.last = d.model;
  s.live = nullptr;
  s.cv.notify_all();
  return d.code;
}

void fk_end(ControlDialog* h, int code) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  if (!d) return;
  std::lock_guard<std::mutex> g(fs().m);
  if (d->ended) return;
  d->ended = true;
  d->code = code;
  fs().cv.notify_all();
}

void fk_set_title(ControlDialog* h, const char* t) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  if (!d) return;
  std::unique_lock<std::mutex> lock(fs().m);
  if (d->ended) return;
  d->model.title = t ? t : "";
  changed(lock, d);
}

void fk_set_text(ControlDialog* h, int id, const char* t) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  change(d, id, [&](FakeControlState& c) {
    c.text = t ? t : "";
    c.texts.push_back(c.text);
  });
}

void fk_set_enabled(ControlDialog* h, int id, int e) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  change(d, id, [&](FakeControlState& c) { c.enabled = e ? 1 : 0; });
}

void fk_set_range(ControlDialog* h, int id, int low, int high) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  change(d, id, [&](FakeControlState& c) {
    if (c.kind != kControlProgress || low >= high) return;
    c.low = low;
    c.high = high;
    if (c.position < low) c.position = low;
    if (c.position > high) c.position = high;
  });
}

void fk_set_position(ControlDialog* h, int id, int p) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  change(d, id, [&](FakeControlState& c) {
    if (c.kind != kControlProgress) return;
    c.position = p < c.low ? c.low : p > c.high ? c.high : p;
    c.positions.push_back(c.position);
  });
}

void fk_scroll_to_end(ControlDialog*, int) {}

void fk_set_focus(ControlDialog* h, int id) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  if (!d) return;
  std::unique_lock<std::mutex> lock(fs().m);
  if (d->ended || !find(d, id)) return;
  for (FakeControlState& c : d->model.controls) c.focused = c.id == id;
  changed(lock, d);
}

void fk_press(ControlDialog* h, int id) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  if (!d) return;
  std::lock_guard<std::mutex> g(fs().m);
  if (d->ended) return;
  d->presses.push_back(id);
  fs().cv.notify_all();
}

template <typename T, typename Fn>
T query(FakeDlg* d, int id, T missing, Fn fn) {
  if (!d) return missing;
  std::lock_guard<std::mutex> g(fs().m);
  if (d->ended) return missing;
  FakeControlState* c = find(d, id);
  return c ? fn(*c) : missing;
}

std::string fk_text(ControlDialog* h, int id) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  if (d && id == 0) {
    std::lock_guard<std::mutex> g(fs().m);
    return d->ended ? std::string() : d->model.title;
  }
  return query<std::string>(d, id, std::string(), [](FakeControlState& c) { return c.text; });
}

int fk_enabled(ControlDialog* h, int id) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  return query<int>(d, id, -1, [](FakeControlState& c) { return c.enabled; });
}

int fk_position(ControlDialog* h, int id) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  return query<int>(d, id, -1, [](FakeControlState& c) { return c.kind == kControlProgress ? c.position : -1; });
}

int fk_range_high(ControlDialog* h, int id) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  return query<int>(d, id, -1, [](FakeControlState& c) { return c.kind == kControlProgress ? c.high : -1; });
}

std::string fk_font_family(ControlDialog* h) {
  FakeDlg* d = static_cast<FakeDlg*>(h);
  if (!d) return std::string();
  std::lock_guard<std::mutex> g(fs().m);
  return d->ended ? std::string() : d->font;
}

}  // namespace

const PlatformControlDialogs kFakeControlDialogs = {
    fk_run,       fk_end,     fk_set_title, fk_set_text,     fk_set_enabled, fk_set_range,
    fk_set_position, fk_scroll_to_end, fk_set_focus, fk_press, fk_text, fk_enabled,
    fk_position,  fk_range_high, fk_font_family,
};

void fake_control_dialogs_reset() {
  std::lock_guard<std::mutex> g(fs().m);
  FakeState& s = fs();
  s.script.clear();
  s.next = 0;
  s.last = FakeControlModel();
  s.last_desc = ControlDialogDesc();
  s.runs = 0;
  s.delivered.clear();
}

void fake_control_dialogs_script(std::vector<FakeControlPress> presses) {
  std::lock_guard<std::mutex> g(fs().m);
  fs().script = std::move(presses);
  fs().next = 0;
}

FakeControlModel fake_control_dialogs_model() {
  std::lock_guard<std::mutex> g(fs().m);
  return fs().last;
}

int fake_control_dialogs_runs() {
  std::lock_guard<std::mutex> g(fs().m);
  return fs().runs;
}

ControlDialogDesc fake_control_dialogs_last_desc() {
  std::lock_guard<std::mutex> g(fs().m);
  return fs().last_desc;
}

std::vector<int> fake_control_dialogs_delivered() {
  std::lock_guard<std::mutex> g(fs().m);
  return fs().delivered;
}
