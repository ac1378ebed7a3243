// The clipboard recorder of the tests. It converts as the GTK backend does,
// so that a text round-trips the same way on both.
#include <mutex>

#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/text_convert.h"

namespace {
struct FakeClipboard {
  std::mutex m;
  int has_text = 0;
  std::string utf8;
  std::vector<std::string> sets;
  int stores = 0;
};
FakeClipboard& fc() {
  static FakeClipboard s;
  return s;
}

int fk_set_text(const char* sjis) {
  if (!sjis) return -1;
  std::string utf8;
  if (sjis_to_utf8(sjis, &utf8) != 0) return -1;
  std::lock_guard<std::mutex> g(fc().m);
  fc().sets.push_back(sjis);
  fc().utf8 = utf8;
  fc().has_text = 1;
  return 0;
}

int fk_get_text(std::string* sjis) {
  std::lock_guard<std::mutex> g(fc().m);
  if (!sjis || !fc().has_text) return 0;
  *sjis = utf8_to_sjis_replacing(fc().utf8.c_str());
  return 1;
}

void fk_store() {
  std::lock_guard<std::mutex> g(fc().m);
  ++fc().stores;
}
}  // namespace

const PlatformClipboard kFakeClipboard = {fk_set_text, fk_get_text, fk_store};

void fake_clipboard_reset() {
  std::lock_guard<std::mutex> g(fc().m);
  fc().has_text = 0;
  fc().utf8.clear();
  fc().sets.clear();
  fc().stores = 0;
}
void fake_clipboard_set_content(const std::string& utf8, int has_text) {
  std::lock_guard<std::mutex> g(fc().m);
  fc().utf8 = utf8;
  fc().has_text = has_text;
}
const std::vector<std::string>& fake_clipboard_sets() { return fc().sets; }
int fake_clipboard_store_count() { return fc().stores; }
