// The desktop's text clipboard. Texts are Shift-JIS inside the engine and
// UTF-8 on the desktop: text put on the clipboard is converted to UTF-8;
// text read from it comes back as Shift-JIS with every character that has
// no CP932 form replaced by '?'. Any thread (the backend does the work on the
// GUI thread and waits).
#pragma once
#include <string>
#include <vector>

struct PlatformClipboard {
  // Makes text (Shift-JIS, NUL-terminated) the clipboard's content. 0, or -1
  // when there is no desktop or the text does not convert.
  int (*set_text)(const char* sjis);
  // The clipboard's text: 1 and the text, or 0 when it holds no text (or
  // there is no desktop).
  int (*get_text)(std::string* sjis);
  // At shut-down: hands the text put there to the desktop's clipboard
  // manager, so that it outlives the program.
  void (*store)();
};

extern const PlatformClipboard kGtkClipboard;

// A recorder: set_text keeps the text (what get_text answers next) and logs
// it; fake_clipboard_set_content scripts the content as another program
// would leave it.
extern const PlatformClipboard kFakeClipboard;
void fake_clipboard_reset();
// The content another program put there (UTF-8, converted as the real
// backend converts), or no text at all (has_text 0).
void fake_clipboard_set_content(const std::string& utf8, int has_text = 1);
// The texts set_text was given (Shift-JIS) and how often store was called.
const std::vector<std::string>& fake_clipboard_sets();
int fake_clipboard_store_count();
