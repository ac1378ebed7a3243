// Dialogs answered from a script (tests).
#include <deque>
#include <mutex>

#include "platform/dialogs.h"

namespace {
struct FakeDialogs {
  std::mutex m;
  std::deque<FakeDialogAnswer> answers;
  std::vector<FakeDialogCall> calls;
  FakeField field;
};
FakeDialogs& fd() {
  static FakeDialogs s;
  return s;
}

// The Shift-JIS text cut to at most max bytes, never inside a character.
std::string cut_sjis(const std::string& s, std::size_t max) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < s.size() ? 2 : 1;
    if (i + n > max) break;
    i += n;
  }
  return s.substr(0, i);
}

int answer(const FakeDialogCall& call, int default_result, const std::string& default_text, std::string* out) {
  std::lock_guard<std::mutex> g(fd().m);
  fd().calls.push_back(call);
  int result = default_result;
  std::string text = default_text;
  if (!fd().answers.empty()) {
    result = fd().answers.front().result;
    text = fd().answers.front().answer;
    fd().answers.pop_front();
  }
  if (result > 0 && out) *out = text;
  return result;
}

int fk_text_input(UiWindow, const UiTextInputDialog* d, std::string* out) {
  if (!d) return -1;
  FakeDialogCall c{"text_input", d->title ? d->title : "", d->prompt ? d->prompt : "",
                   d->initial ? d->initial : "", d->limit_bytes, 0};
  std::string text;
  int r = answer(c, 1, c.initial, &text);
  if (r > 0 && out) {
    std::size_t max = d->limit_bytes > 0 ? static_cast<std::size_t>(d->limit_bytes) : 4095;
    *out = cut_sjis(text, max < 4095 ? max : 4095);
  }
  return r;
}
int fk_text_entry(UiWindow, const char* initial, std::string* out) {
  FakeDialogCall c{"text_entry", "", "", initial ? initial : "", 256, 0};
  return answer(c, 1, c.initial, out);
}
int fk_save_file(UiWindow, int kind, const char* title, const char* initial, std::string* path) {
  FakeDialogCall c{"save_file", title ? title : "", "", initial ? initial : "", 0, kind};
  return answer(c, 0, "", path);
}
int fk_choose_folder(UiWindow, const char* title, const char* initial, std::string* path) {
  FakeDialogCall c{"choose_folder", title ? title : "", "", initial ? initial : "", 0, 0};
  return answer(c, 0, "", path);
}

int fk_field_create(UiWindow owner, int x, int y, int w, int h, const char* text) {
  if (owner == kNoWindow) return -1;
  std::lock_guard<std::mutex> g(fd().m);
  fd().field = FakeField{1, x, y, w, h, 0, cut_sjis(text ? text : "", 512)};
  return 0;
}
void fk_field_close() {
  std::lock_guard<std::mutex> g(fd().m);
  fd().field = FakeField{};
}
void fk_field_set_text(const char* text) {
  std::lock_guard<std::mutex> g(fd().m);
  if (fd().field.alive) fd().field.text = text ? text : "";
}
std::string fk_field_text(int max_bytes) {
  std::lock_guard<std::mutex> g(fd().m);
  if (!fd().field.alive) return std::string();
  return cut_sjis(fd().field.text, max_bytes > 0 ? static_cast<std::size_t>(max_bytes) : 0);
}
void fk_field_focus(int focused) {
  std::lock_guard<std::mutex> g(fd().m);
  if (fd().field.alive) fd().field.focused = focused ? 1 : 0;
}
}  // namespace

const PlatformDialogs kFakeDialogs = {fk_text_input,   fk_text_entry,  fk_save_file,      fk_choose_folder,
                                      fk_field_create, fk_field_close, fk_field_set_text, fk_field_text,
                                      fk_field_focus};

void fake_dialogs_reset() {
  std::lock_guard<std::mutex> g(fd().m);
  fd().answers.clear();
  fd().calls.clear();
  fd().field = FakeField{};
}
void fake_dialogs_push_answer(int result, const std::string& sjis_answer) {
  std::lock_guard<std::mutex> g(fd().m);
  fd().answers.push_back({result, sjis_answer});
}
const std::vector<FakeDialogCall>& fake_dialogs_calls() { return fd().calls; }
const FakeField& fake_dialogs_field() { return fd().field; }
void fake_dialogs_type_into_field(const std::string& sjis) {
  std::lock_guard<std::mutex> g(fd().m);
  if (fd().field.alive) fd().field.text = cut_sjis(sjis, 512);
}
