// The desktop's common dialogs and input fields: the text-input dialog of the
// scripts, the text-entry dialog, the save-file and folder choosers, and one
// text field laid over a window's client area. Texts are Shift-JIS; Japanese
// is typed through the desktop's input method. Modal dialogs may be asked for
// from any thread (the backend runs them on the GUI thread and waits); the
// text field is made and used on the GUI thread.
#pragma once
#include <string>
#include <vector>

#include "platform/ui.h"

struct UiTextInputDialog {
  const char* title = "";    // window title
  const char* prompt = "";   // the text above the field
  const char* initial = "";  // the field's first content
  // Longest answer in Shift-JIS bytes (0: no limit); typing past it is
  // refused.
  int limit_bytes = 0;
};

enum UiFileKind { kUiFileBmp = 0, kUiFilePng = 1 };

struct PlatformDialogs {
  // The text-input dialog: title, prompt, one field, an OK button only; no
  // close button, Escape does nothing. 1 and the answer (at most 4095 bytes)
  // after OK; -1 when it cannot be shown.
  int (*text_input)(UiWindow owner, const UiTextInputDialog* dialog, std::string* answer);
  // The text-entry dialog: one field (at most 256 characters) with OK and
  // Cancel, no close button. 1 and the answer after OK, 0 after Cancel, -1
  // when it cannot be shown.
  int (*text_entry)(UiWindow owner, const char* initial, std::string* answer);
  // Asks where to save a BMP or PNG file (title as given, the kind's filter,
  // overwriting asks first). 1 and the chosen path (Shift-JIS, '\'
  // separators), or 0 when cancelled or unavailable.
  int (*save_file)(UiWindow owner, int kind, const char* title, const char* initial, std::string* path);
  // Asks for a folder, opening at initial. 1 and the path (Shift-JIS, '\'),
  // or 0.
  int (*choose_folder)(UiWindow owner, const char* title, const char* initial, std::string* path);

  // ---- the text field over a client area (GUI thread) ----
  // Makes the field at (x, y) with size (width, height) in client pixels,
  // with text, a 14-pixel font, a frame and a limit of 256 characters; an
  // existing field is closed first. 0, or -1 for a dead window.
  int (*field_create)(UiWindow owner, int x, int y, int width, int height, const char* text);
  void (*field_close)();
  void (*field_set_text)(const char* text);
  // The field's text, at most max_bytes Shift-JIS bytes ("" without field).
  std::string (*field_text)(int max_bytes);
  // Gives the keyboard focus to the field (1) or takes it away (0).
  void (*field_focus)(int focused);
};

extern const PlatformDialogs kGtkDialogs;

// The fake: every dialog is recorded and answered from the script below,
// first in first out; without a scripted answer a dialog answers as a user
// pressing OK (or choosing nothing) at once.
extern const PlatformDialogs kFakeDialogs;
struct FakeDialogAnswer {
  int result;          // what the call returns
  std::string answer;  // Shift-JIS text or path
};
struct FakeDialogCall {
  std::string kind;  // "text_input", "text_entry", "save_file", "choose_folder"
  std::string title, prompt, initial;
  int limit_bytes = 0;
  int file_kind = 0;
};
void fake_dialogs_reset();
void fake_dialogs_push_answer(int result, const std::string& sjis_answer);
const std::vector<FakeDialogCall>& fake_dialogs_calls();
struct FakeField {
  int alive = 0;
  int x = 0, y = 0, width = 0, height = 0;
  int focused = 0;
  std::string text;
};
const FakeField& fake_dialogs_field();
// What a user typed into the field.
void fake_dialogs_type_into_field(const std::string& sjis);
