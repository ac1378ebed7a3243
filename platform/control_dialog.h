// A modal dialog built from a table of controls: static texts, progress bars,
// a read-only scrolling report and push buttons, each with a numeric id.
// Positions are in dialog units of the dialog's font (a quarter of the
// font's average character width across, an eighth of its height down), as
// dialog templates give them. Texts are Shift-JIS.
//
// The dialog runs on the calling thread, which becomes (or already is) the
// GUI thread; its procedure is called there. Every other call may come from
// any thread: a change made from another thread is carried to the GUI thread
// and applied there in the order it was made; a query from another thread
// waits for the GUI thread. Once the dialog has ended, changes are dropped and
// queries answer as for a missing control.
#pragma once
#include <functional>
#include <string>
#include <vector>

// A running dialog, as the procedure and the calls know it; each backend
// keeps its own state behind it.
struct ControlDialog {};

enum ControlKind {
  kControlStatic = 0,    // a text
  kControlProgress = 1,  // a progress bar, range 0-100 until set
  kControlReport = 2,    // multi-line, read-only, vertical scroll bar
  kControlButton = 3,    // a push button
};

struct ControlDesc {
  int id = 0;
  int kind = kControlStatic;
  std::string text;  // Shift-JIS
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  bool is_default = false;                  // the button Return presses
};

struct ControlDialogDesc {
  std::string title;  // Shift-JIS
  int width = 0, height = 0;  // dialog units
  std::string font_family;    // Shift-JIS; a Japanese Gothic when missing
  int font_points = 9;
  std::vector<ControlDesc> controls;  // in tab order
};

// What the procedure is told.
enum ControlDialogEvent {
  kControlDialogInit = 0,     // before the dialog is shown (id 0)
  kControlDialogCommand = 1,  // a button was pressed (id of the button)
};

using ControlDialogProc = std::function<void(ControlDialog* dialog, int event, int id)>;

struct PlatformControlDialogs {
  // Shows the dialog and runs it until end() is called; returns end()'s
  // code, or -1 when it cannot be shown (no desktop). A disabled button
  // cannot be pressed. Closing the window (title-bar button, Escape) presses
  // the button with id 2 when it exists and is enabled, else does nothing.
  int (*run)(const ControlDialogDesc* desc, const ControlDialogProc& proc);
  // Ends the dialog; run() returns code. Later calls are ignored.
  void (*end)(ControlDialog* dialog, int code);

  // ---- changes (any thread) ----
  void (*set_title)(ControlDialog* dialog, const char* sjis_title);
  // The control's text. In a report, a line ends with CR LF (CR CR LF
  // counts as one line end as well); a lone CR or LF shows nothing.
  void (*set_text)(ControlDialog* dialog, int id, const char* sjis_text);
  void (*set_enabled)(ControlDialog* dialog, int id, int enabled);
  // A progress bar's range (low < high) and position (clamped to the range).
  void (*set_range)(ControlDialog* dialog, int id, int low, int high);
  void (*set_position)(ControlDialog* dialog, int id, int position);
  // Scrolls a report to its last line.
  void (*scroll_to_end)(ControlDialog* dialog, int id);
  // Gives the keyboard focus to the control.
  void (*set_focus)(ControlDialog* dialog, int id);
  // As a user pressing the button: nothing for a disabled or missing one.
  // Presses made before the dialog is on the screen wait until it is.
  void (*press)(ControlDialog* dialog, int id);

  // ---- queries (any thread) ----
  // The title or the control's text, as set (Shift-JIS); "" when missing.
  std::string (*text)(ControlDialog* dialog, int id);  // id 0: the title
  // 1 or 0; -1 for a missing control.
  int (*enabled)(ControlDialog* dialog, int id);
  // A progress bar's position and range; -1 when missing.
  int (*position)(ControlDialog* dialog, int id);
  int (*range_high)(ControlDialog* dialog, int id);
  // The font family the dialog uses (Shift-JIS).
  std::string (*font_family)(ControlDialog* dialog);
};

extern const PlatformControlDialogs kGtkControlDialogs;

// The fake: a model of the dialog (per control its text, enabled state,
// range and position) and a script of button presses. run() calls the
// procedure with kControlDialogInit, then delivers the scripted presses in
// order, each once its condition holds on the model (a press of a disabled
// button is dropped, as on the screen), together with press() calls; it
// returns end()'s code, or 0 when the script is used up and nothing happened
// for 30 s (as the window closed from outside).
extern const PlatformControlDialogs kFakeControlDialogs;

struct FakeControlState {
  int id = 0;
  int kind = 0;
  std::string text;
  int enabled = 1;
  int low = 0, high = 100, position = 0;
  int focused = 0;
  // Every position and text the control had, in order.
  std::vector<int> positions;
  std::vector<std::string> texts;
};
struct FakeControlModel {
  std::string title;
  std::vector<FakeControlState> controls;
  const FakeControlState* find(int id) const;
};
struct FakeControlPress {
  int id = 0;
  // Pressed once this holds (always when empty). Checked after every change.
  std::function<bool(const FakeControlModel&)> when;
  // When set, a change made by another thread that makes `when` hold waits
  // until the press has been delivered, so the press lands at that instant.
  bool hold = false;
  // How long to wait for `when` before the press is dropped (ms).
  int timeout_ms = 20000;
};
void fake_control_dialogs_reset();
void fake_control_dialogs_script(std::vector<FakeControlPress> presses);
// The model of the last dialog run (kept after it ended).
FakeControlModel fake_control_dialogs_model();
// How many dialogs were run since the reset, and the last one's description.
int fake_control_dialogs_runs();
ControlDialogDesc fake_control_dialogs_last_desc();
// The presses delivered to the procedure, in order.
std::vector<int> fake_control_dialogs_delivered();
