// Windows, messages, boxes and the desktop: the windowing service.
//
// The engine's windows are driven the way Win32 drives them: each window has a
// window procedure; messages posted to a window wait in the queue of the
// thread that created it (one queue per GUI thread) until that thread peeks,
// gets and dispatches them; a sent message calls the procedure at once.
// Message numbers, show commands, system commands, styles, box types and box
// results are the Windows values (constants below), keys are Windows
// virtual-key codes and mouse positions are client pixels, so that the engine's
// window procedure reads as it would on Windows.
//
// All texts crossing this interface are Shift-JIS; the backend converts at its
// boundary. Window handles are small numbers, 0 meaning "no window".
//
// Threads: windows are created, shown and destroyed on the GUI thread. A box
// or the error dialog may be asked for from another thread (the frame thread,
// the sound thread); the backend then shows it on the GUI thread and waits
// for the answer, so it appears only when the GUI thread takes in the
// desktop's events (peek_message, get_message, process_desktop_events).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using UiWindow = std::uint32_t;
constexpr UiWindow kNoWindow = 0;

// A window procedure: the answer to one message (LRESULT).
using UiWndProc = std::int64_t (*)(UiWindow window, std::uint32_t message, std::uint64_t wparam,
                                   std::int64_t lparam);

struct UiMessage {
  UiWindow window = kNoWindow;  // 0 for a thread message (WM_QUIT)
  std::uint32_t message = 0;
  std::uint64_t wparam = 0;
  std::int64_t lparam = 0;
};

// ---- Windows values ----
namespace ui {
// Messages.
constexpr std::uint32_t kWmNull = 0x0000;
constexpr std::uint32_t kWmCreate = 0x0001;
constexpr std::uint32_t kWmDestroy = 0x0002;
constexpr std::uint32_t kWmMove = 0x0003;
constexpr std::uint32_t kWmSize = 0x0005;
constexpr std::uint32_t kWmActivate = 0x0006;
constexpr std::uint32_t kWmSetFocus = 0x0007;
constexpr std::uint32_t kWmKillFocus = 0x0008;
constexpr std::uint32_t kWmPaint = 0x000F;
constexpr std::uint32_t kWmClose = 0x0010;
constexpr std::uint32_t kWmQuit = 0x0012;
constexpr std::uint32_t kWmEraseBkgnd = 0x0014;
constexpr std::uint32_t kWmActivateApp = 0x001C;
constexpr std::uint32_t kWmGetMinMaxInfo = 0x0024;
constexpr std::uint32_t kWmWindowPosChanged = 0x0047;
constexpr std::uint32_t kWmNcLButtonDown = 0x00A1;
constexpr std::uint32_t kWmNcLButtonUp = 0x00A2;
constexpr std::uint32_t kWmNcLButtonDblClk = 0x00A3;
constexpr std::uint32_t kWmKeyDown = 0x0100;
constexpr std::uint32_t kWmKeyUp = 0x0101;
constexpr std::uint32_t kWmChar = 0x0102;
constexpr std::uint32_t kWmSysKeyDown = 0x0104;
constexpr std::uint32_t kWmSysKeyUp = 0x0105;
constexpr std::uint32_t kWmCommand = 0x0111;
constexpr std::uint32_t kWmSysCommand = 0x0112;
constexpr std::uint32_t kWmMouseMove = 0x0200;
constexpr std::uint32_t kWmLButtonDown = 0x0201;
constexpr std::uint32_t kWmLButtonUp = 0x0202;
constexpr std::uint32_t kWmLButtonDblClk = 0x0203;
constexpr std::uint32_t kWmRButtonDown = 0x0204;
constexpr std::uint32_t kWmRButtonUp = 0x0205;
constexpr std::uint32_t kWmMButtonDown = 0x0207;
constexpr std::uint32_t kWmMButtonUp = 0x0208;
constexpr std::uint32_t kWmMouseWheel = 0x020A;
constexpr std::uint32_t kWmSizing = 0x0214;
constexpr std::uint32_t kWmExitSizeMove = 0x0232;
constexpr std::uint32_t kWmDropFiles = 0x0233;
constexpr std::uint32_t kWmUser = 0x0400;
constexpr std::uint32_t kWmApp = 0x8000;

// WM_SYSCOMMAND commands (the low 4 bits are the system's own and ignored).
constexpr std::uint32_t kScSize = 0xF000;
constexpr std::uint32_t kScMinimize = 0xF020;
constexpr std::uint32_t kScMaximize = 0xF030;
constexpr std::uint32_t kScClose = 0xF060;
constexpr std::uint32_t kScKeyMenu = 0xF100;
constexpr std::uint32_t kScRestore = 0xF120;
// The lparam of a SC_MAXIMIZE or SC_RESTORE that reports a change the
// desktop (the window manager) has already made: the default window
// procedure does not make it again. Outside every packed point.
constexpr std::int64_t kScMadeByDesktop = std::int64_t{1} << 40;

// Hit-test codes (WM_NCLBUTTONDOWN's wparam).
constexpr std::uint32_t kHtCaption = 2;

// WM_SIZE kinds (wparam).
constexpr std::uint32_t kSizeRestored = 0;
constexpr std::uint32_t kSizeMinimized = 1;
constexpr std::uint32_t kSizeMaximized = 2;

// Show commands.
constexpr int kSwHide = 0;
constexpr int kSwShowNormal = 1;
constexpr int kSwShowMinimized = 2;
constexpr int kSwMaximize = 3;
constexpr int kSwShowNoActivate = 4;
constexpr int kSwShow = 5;
constexpr int kSwMinimize = 6;
constexpr int kSwRestore = 9;

// Window styles (only the bits the engine uses).
constexpr std::uint32_t kWsPopup = 0x80000000u;
constexpr std::uint32_t kWsClipChildren = 0x02000000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kWsSysMenu = 0x00080000u;
constexpr std::uint32_t kWsThickFrame = 0x00040000u;
constexpr std::uint32_t kWsMinimizeBox = 0x00020000u;
constexpr std::uint32_t kWsMaximizeBox = 0x00010000u;
constexpr std::uint32_t kWsExTopmost = 0x00000008u;
constexpr std::uint32_t kWsExToolWindow = 0x00000080u;

// Message box types: buttons (low 4 bits), icon (bits 4-7), modality.
constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbOkCancel = 0x1;
constexpr std::uint32_t kMbAbortRetryIgnore = 0x2;
constexpr std::uint32_t kMbYesNoCancel = 0x3;
constexpr std::uint32_t kMbYesNo = 0x4;
constexpr std::uint32_t kMbRetryCancel = 0x5;
constexpr std::uint32_t kMbIconHand = 0x10;  // also "error", "stop"
constexpr std::uint32_t kMbIconQuestion = 0x20;
constexpr std::uint32_t kMbIconExclamation = 0x30;  // also "warning"
constexpr std::uint32_t kMbIconInformation = 0x40;  // also "asterisk"
// Default button (bits 8-11): the first unless one of these.
constexpr std::uint32_t kMbDefButton2 = 0x100;
constexpr std::uint32_t kMbDefButton3 = 0x200;
constexpr std::uint32_t kMbSystemModal = 0x1000;
// Message box results.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Virtual-key codes the backends produce beyond '0'-'9' and 'A'-'Z' (which are
// their ASCII values).
constexpr int kVkLButton = 0x01;
constexpr int kVkRButton = 0x02;
constexpr int kVkMButton = 0x04;
constexpr int kVkBack = 0x08;
constexpr int kVkTab = 0x09;
constexpr int kVkReturn = 0x0D;
constexpr int kVkShift = 0x10;
constexpr int kVkControl = 0x11;
constexpr int kVkMenu = 0x12;  // Alt
constexpr int kVkPause = 0x13;
constexpr int kVkEscape = 0x1B;
constexpr int kVkSpace = 0x20;
constexpr int kVkPrior = 0x21;
constexpr int kVkNext = 0x22;
constexpr int kVkEnd = 0x23;
constexpr int kVkHome = 0x24;
constexpr int kVkLeft = 0x25;
constexpr int kVkUp = 0x26;
constexpr int kVkRight = 0x27;
constexpr int kVkDown = 0x28;
constexpr int kVkInsert = 0x2D;
constexpr int kVkDelete = 0x2E;
constexpr int kVkNumpad0 = 0x60;
constexpr int kVkMultiply = 0x6A;
constexpr int kVkAdd = 0x6B;
constexpr int kVkSubtract = 0x6D;
constexpr int kVkDecimal = 0x6E;
constexpr int kVkDivide = 0x6F;
constexpr int kVkF1 = 0x70;  // F1..F24 are 0x70..0x87
constexpr int kVkF10 = 0x79;
constexpr int kVkLShift = 0xA0;
constexpr int kVkRShift = 0xA1;
constexpr int kVkLControl = 0xA2;
constexpr int kVkRControl = 0xA3;
constexpr int kVkLMenu = 0xA4;
constexpr int kVkRMenu = 0xA5;

// The error dialog's buttons.
constexpr int kErrorDialogEdit = 1033;
constexpr int kErrorDialogExit = 1034;

inline std::int64_t make_lparam(int low, int high) {
  return static_cast<std::int64_t>((static_cast<std::uint32_t>(low) & 0xFFFFu) |
                                   ((static_cast<std::uint32_t>(high) & 0xFFFFu) << 16));
}
inline int lparam_x(std::int64_t l) { return static_cast<std::int16_t>(l & 0xFFFF); }
inline int lparam_y(std::int64_t l) { return static_cast<std::int16_t>((l >> 16) & 0xFFFF); }
}  // namespace ui

// What a new window looks like. Sizes are client sizes; the backend adds the
// frame (the window manager draws it).
struct UiWindowDesc {
  const char* class_name = "";  // Shift-JIS; kept, answered by find_window
  const char* title = "";       // Shift-JIS
  int x = 0, y = 0;             // top-left of the window on the desktop
  int client_width = 0, client_height = 0;
  std::uint32_t style = 0;      // ui::kWs* bits
  std::uint32_t ex_style = 0;   // ui::kWsEx* bits
  UiWindow owner = kNoWindow;   // owned (kept above) by this window
  UiWndProc proc = nullptr;     // the window procedure (required)
  void* user_data = nullptr;    // kept with the window (GWL_USERDATA)
};

// The error dialog: a read-only text, an optional "edit" button and the
// "exit" button.
struct UiErrorDialog {
  const char* caption = "";  // Shift-JIS
  const char* text = "";     // Shift-JIS, CR LF line ends
  // 0: no edit button; 1: shown, disabled; 2: shown, enabled and default.
  int edit_button = 0;
  // Called (on the dialog's thread) for each press of the edit button; the
  // dialog stays open.
  void (*on_edit)(void* context) = nullptr;
  void* context = nullptr;
};

struct PlatformUi {
  // 1 when windows can be made (the backend starts its desktop connection
  // on the first call and keeps the answer), else 0. Any thread.
  int (*available)();

  // ---- windows (GUI thread) ----
  // Makes a hidden window. Returns its handle, or kNoWindow when no desktop
  // is available or desc has no procedure. Sends no message.
  UiWindow (*create_window)(const UiWindowDesc* desc);
  // Sends WM_DESTROY to the procedure, then removes the window; later calls
  // with the handle do nothing. Messages still queued for it are dropped.
  void (*destroy_window)(UiWindow window);
  // 1 while the handle names a live window.
  int (*is_window)(UiWindow window);
  // The user data given at creation (nullptr for a dead handle).
  void* (*user_data)(UiWindow window);
  // A live window made with this class name (Shift-JIS, exact), or kNoWindow.
  UiWindow (*find_window)(const char* class_name);
  // ui::kSw* show commands; returns 1 when the window was visible before.
  int (*show_window)(UiWindow window, int show_command);
  int (*is_visible)(UiWindow window);
  int (*is_iconic)(UiWindow window);
  int (*is_maximized)(UiWindow window);
  void (*set_title)(UiWindow window, const char* sjis_title);
  // Current style bits; set_style applies resizable / frame / topmost changes.
  std::uint32_t (*get_style)(UiWindow window);
  void (*set_style)(UiWindow window, std::uint32_t style, std::uint32_t ex_style);
  // Client size in pixels. 0, or -1 for a dead handle.
  int (*get_client_size)(UiWindow window, int* width, int* height);
  // Outer rectangle on the desktop (frame included when known). 0 or -1.
  int (*get_window_rect)(UiWindow window, int* x, int* y, int* width, int* height);
  // Frame thickness around the client area (0 when unknown, before the
  // window was first shown or without a frame).
  void (*get_frame_margins)(UiWindow window, int* left, int* top, int* right, int* bottom);
  // Moves the window's top-left (frame included) to x, y.
  void (*move_window)(UiWindow window, int x, int y);
  // Sets the client size in pixels.
  void (*set_client_size)(UiWindow window, int width, int height);
  // Brings the window to the front and gives it the keyboard focus.
  void (*set_foreground)(UiWindow window);
  // The window with the keyboard focus among ours (kNoWindow: another
  // program has it).
  UiWindow (*focus_window)();
  // Keeps the window above others (1) or not (0), or lowers it (2).
  void (*set_z_order)(UiWindow window, int mode);
  // Hands the window to the desktop to be moved with the pointer while the
  // left button stays down, as a press on its caption does (the desktop's
  // own move; without a held button nothing moves). When the move is over,
  // WM_EXITSIZEMOVE is queued. 0, or -1 for a dead or hidden window.
  int (*begin_move_drag)(UiWindow window);
  // Opens the item of the window's menu bar whose mnemonic ("&F") is key (a
  // lower-case ASCII letter or digit), as Alt with that key does. 1 when an
  // item opened, 0 when none has that mnemonic (or the window has no bar).
  int (*open_bar_mnemonic)(UiWindow window, int key);
  // Asks for a WM_PAINT (coalesced with one already waiting).
  void (*invalidate)(UiWindow window);
  // Accepts dropped files (WM_DROPFILES) or not.
  void (*accept_files)(UiWindow window, int accept);

  // ---- input state (GUI thread) ----
  // Cursor position in the window's client pixels (outside the client area
  // gives values outside 0..size-1). 0, or -1 when unknown.
  int (*get_cursor_pos)(UiWindow window, int* x, int* y);
  // Key state by virtual-key code as the thread's messages left it: 0x80 when
  // down (mouse buttons included: kVkLButton, kVkRButton, kVkMButton).
  void (*get_keyboard_state)(std::uint8_t state[256]);

  // ---- dropped files ----
  // WM_DROPFILES carries a drop handle in wparam. Count of its paths, each as
  // a Shift-JIS path with '\' separators (a folder without trailing '\').
  int (*drop_count)(std::uint64_t drop);
  int (*drop_path)(std::uint64_t drop, int index, std::string* sjis_path);
  // Frees the drop (after this the handle is invalid).
  void (*drop_finish)(std::uint64_t drop);

  // ---- messages ----
  // Puts a message into the queue of the thread that made the window (a
  // dead window drops it). Any thread. 0, or -1 for a dead handle.
  int (*post_message)(UiWindow window, std::uint32_t message, std::uint64_t wparam, std::int64_t lparam);
  // Puts WM_QUIT (wparam = code) into the calling thread's queue.
  void (*post_quit_message)(int code);
  // Calls the window's procedure at once (the calling thread). 0 for a dead
  // handle.
  std::int64_t (*send_message)(UiWindow window, std::uint32_t message, std::uint64_t wparam,
                               std::int64_t lparam);
  // Looks at the calling thread's queue after taking in what the desktop has
  // delivered, without waiting. 1 and the first message (removed when remove
  // is 1), or 0 when the queue is empty.
  int (*peek_message)(UiMessage* out, int remove);
  // Waits for the next message of the calling thread's queue and removes it.
  // Returns 0 for WM_QUIT, else 1.
  int (*get_message)(UiMessage* out);
  // Takes in what the desktop has delivered (queued as messages) and shows
  // the boxes other threads asked for, without calling any window procedure.
  // The GUI thread calls it when it may not dispatch (frame-thread mode while
  // the frame runs), so that a box asked for by the frame thread appears.
  void (*process_desktop_events)();
  // Calls the procedure of the message's window; a thread message gives 0.
  std::int64_t (*dispatch_message)(const UiMessage* message);
  // The default answer (DefWindowProc): WM_SYSCOMMAND SC_CLOSE sends
  // WM_CLOSE, WM_CLOSE destroys the window, SC_MINIMIZE / SC_MAXIMIZE /
  // SC_RESTORE act on the window; WM_SYSKEYDOWN of a letter or digit (Alt
  // held) sends WM_SYSCOMMAND SC_KEYMENU with the lower-case character in
  // lparam, and SC_KEYMENU opens the bar item of that mnemonic;
  // everything else answers 0.
  std::int64_t (*def_window_proc)(UiWindow window, std::uint32_t message, std::uint64_t wparam,
                                  std::int64_t lparam);

  // ---- boxes and dialogs (any thread; modal) ----
  // A message box with the Windows buttons and icon of type. Returns the
  // ui::kId* of the button chosen. Every box's caption and text also go to
  // standard error, once, in UTF-8. Without a desktop nobody can answer: the
  // answer is the cancelling one (kIdNo for yes/no, kIdCancel where there is
  // a cancel button, kIdAbort for abort/retry/ignore, else kIdOk).
  int (*message_box)(UiWindow owner, const char* sjis_text, const char* sjis_caption, std::uint32_t type);
  // The error dialog; returns when the exit button is pressed
  // (ui::kErrorDialogExit). Without a desktop the text goes to standard error
  // and the answer comes at once.
  int (*error_dialog)(UiWindow owner, const UiErrorDialog* dialog);
  // Ends every open message box and error dialog as closing its window would
  // (a box answers as for its close button: kIdOk, kIdNo or kIdCancel; the
  // error dialog as its exit button). For a run asked to end from outside
  // while a box is open. Any thread; returns at once.
  void (*cancel_modal_dialogs)();
  // As cancel_modal_dialogs, and from now on every box and dialog asked for
  // answers at once as if closed, without being shown: the run is ending
  // and nobody is left to answer. Any thread; returns at once.
  void (*end_modal_dialogs)();

  // ---- desktop ----
  // Size, bits per pixel and refresh rate (Hz) of the primary monitor. 0, or
  // -1 without a desktop (outputs untouched).
  int (*get_desktop_size)(int* width, int* height, int* bits, int* refresh);
  // The primary monitor's work area (the desktop without panels). 0 or -1.
  int (*get_work_area)(int* x, int* y, int* width, int* height);

  // ---- programs ----
  // The program the desktop opens this kind of file with (a text editor for
  // a script), as a Shift-JIS path. 0, or -1 when there is none.
  int (*find_associated_program)(const char* sjis_file, std::string* sjis_program);

  // ---- presentation (GUI thread) ----
  // Shows a block of a 32-bit B, G, R, A image (top row first, image_width
  // pixels a row, alpha ignored) in the window's client area as StretchDIBits
  // with COLORONCOLOR and SRCCOPY would: the src_w x src_h block at (src_x,
  // src_y) covers the dst_w x dst_h block at (dst_x, dst_y), scaled by nearest
  // neighbour when the sizes differ; what falls outside the image or the
  // client area is dropped. The window keeps what it was shown and paints it
  // again by itself when it is uncovered (no WM_PAINT follows from this
  // call). 0, or -1 for a dead handle.
  int (*present_image)(UiWindow window, const std::uint32_t* pixels, int image_width, int image_height, int src_x,
                       int src_y, int src_w, int src_h, int dst_x, int dst_y, int dst_w, int dst_h);

  // ---- child areas (GUI thread) ----
  // An area laid over the window's client area at the client rectangle
  // (x, y, width, height), for a player that draws into it (window movies,
  // hosted controls); title names it (Shift-JIS). A handle (not 0), or 0 for
  // a dead window or a size below 1.
  std::uint32_t (*create_child_area)(UiWindow parent, const char* sjis_title, int x, int y, int width, int height);
  // Moves and sizes a child area; 0, or -1 for a dead handle or a size
  // below 1.
  int (*place_child_area)(std::uint32_t child, int x, int y, int width, int height);
  // Removes a child area and what was put into it; 0 and dead handles are
  // ignored.
  void (*destroy_child_area)(std::uint32_t child);
};

extern const PlatformUi kGtkUi;
extern const PlatformUi kFakeUi;

// ---- the fake's controls (tests) ----
// Forgets every window, queued message, recorded call and scripted answer.
void fake_ui_reset();
// Whether the fake offers a desktop (1 by default).
void fake_ui_set_available(int available);
// Answers of the next message boxes, first in first out; when none is left a
// box answers kIdOk (kIdYes for yes/no kinds), or without a desktop
// (fake_ui_set_available(0)) the cancelling answer, as the real one does.
void fake_ui_push_box_answer(int answer);
// How often cancel_modal_dialogs was called since the reset.
int fake_ui_cancel_count();
// 1 once end_modal_dialogs was called since the reset.
int fake_ui_dialogs_ended();
// Presses the error dialog's edit button this many times before its exit.
void fake_ui_set_error_dialog_edits(int presses);
void fake_ui_set_desktop(int width, int height, int bits, int refresh);
void fake_ui_set_work_area(int x, int y, int width, int height);
void fake_ui_set_cursor(UiWindow window, int x, int y);
void fake_ui_set_key(int vk, int down);
// A drop of these Shift-JIS paths; returns the drop handle for WM_DROPFILES.
std::uint64_t fake_ui_make_drop(const std::vector<std::string>& sjis_paths);
// 1 while the drop was not finished.
int fake_ui_drop_alive(std::uint64_t drop);
// The program find_associated_program answers ("" answers -1, the default).
void fake_ui_set_associated_program(const std::string& sjis_program);
// The user clicking the window's close button: queues WM_SYSCOMMAND SC_CLOSE.
void fake_ui_click_close(UiWindow window);
// The mnemonics open_bar_mnemonic was asked to open on the window since the
// reset, in order.
std::vector<int> fake_ui_bar_mnemonics(UiWindow window);
// How often begin_move_drag started a move of the window since the reset
// (a move starts only while fake_ui_set_key holds kVkLButton down).
int fake_ui_move_drags(UiWindow window);
// The user letting go of the button that moves the window: the move ends
// (WM_EXITSIZEMOVE) when one was started.
void fake_ui_end_move_drag(UiWindow window);

struct FakeUiBox {
  UiWindow owner;
  std::string text;
  std::string caption;
  std::uint32_t type;
  int answer;
};
struct FakeUiErrorDialog {
  UiWindow owner;
  std::string caption;
  std::string text;
  int edit_button;
};
struct FakeUiWindowInfo {
  std::string class_name;
  std::string title;
  int x, y, client_width, client_height;
  std::uint32_t style, ex_style;
  UiWindow owner;
  int visible, iconic, maximized, accepts_files, z_order;
  int paint_requests;
};
const std::vector<FakeUiBox>& fake_ui_boxes();
// A child area as made and last placed.
struct FakeUiChildArea {
  UiWindow parent;
  std::string title;
  int x, y, width, height;
  int alive;
};
// 0 and the area's state, or -1 for a handle never made.
int fake_ui_child_area(std::uint32_t child, FakeUiChildArea* out);
// Child areas not yet destroyed.
int fake_ui_live_child_areas();
const std::vector<FakeUiErrorDialog>& fake_ui_error_dialogs();
// 0 and the window's state, or -1 for a handle never made or destroyed.
int fake_ui_window_info(UiWindow window, FakeUiWindowInfo* out);
// Every window made since the reset, in creation order (live or not).
std::vector<UiWindow> fake_ui_windows();
// The messages sent to window procedures (send and dispatch), in order.
struct FakeUiDelivered {
  UiWindow window;
  std::uint32_t message;
  std::uint64_t wparam;
  std::int64_t lparam;
};
const std::vector<FakeUiDelivered>& fake_ui_delivered();
// What the window's client area shows (client width x height pixels, 0 where
// nothing was presented yet). 0, or -1 for a handle never made or destroyed.
int fake_ui_window_pixels(UiWindow window, std::vector<std::uint32_t>* pixels, int* width, int* height);
// Presentations the window had, and the client rectangle (x, y, w, h) the
// last one wrote; -1 for a dead handle.
int fake_ui_present_count(UiWindow window);
int fake_ui_last_present_rect(UiWindow window, int rect[4]);
