// The engine's windows: the 4 window records (window 0 is the main window,
// 1-3 the sub windows of the window command), their creation, the main
// window procedure and its answers, the menu-strip window, the message pump
// and the dropped-file list.
#pragma once
#include <string>

#include "engine/frame/param_set.h"
#include <atomic>
#include <string>
#include <vector>

#include "engine/frame/types.h"
#include "platform/ui.h"

struct ObjectNode;
struct LayerImage;

constexpr int kWindowCount = 4;

// Close states of a window.
constexpr u8 kCloseScriptDecides = 0;  // a close request is only recorded
constexpr u8 kCloseAsk = 1;            // ask before closing
constexpr u8 kCloseClosing = 2;        // closing (request_close)
constexpr u8 kCloseKeepRunning = 3;    // close without ending the run

// The header for presenting the window image (a BITMAPINFOHEADER's fields).
struct WindowBitmapHeader {
  u32 size = 40;
  i32 width = 0;
  i32 height = 0;  // presentation writes it negative (top-down rows)
  u16 planes = 1;
  u16 bit_count = 32;
};

struct WindowRect {
  i32 left = 0, top = 0, right = 0, bottom = 0;
};

struct WindowRecord {
  i32 index = 0;
  i32 position_x = 0, position_y = 0;
  i32 logical_width = 0, logical_height = 0;
  u32 alpha = 256;
  u8 show_at_first_frame = 0;
  u8 class_registered = 0;
  // Written by the scripts' thread, the signal watcher and the frame thread,
  // read by the window procedure.
  std::atomic<u8> close_state{kCloseAsk};
  u8 maximise_allowed = 0;
  u8 minimise_allowed = 1;
  std::string title;       // Shift-JIS
  std::string class_name;  // Shift-JIS
  std::string menu_name;   // menu definition shown as the menu bar
  ObjectNode* root_layer = nullptr;
  LayerImage* own_image = nullptr;
  u32 drawn_flag = 1;
  WindowRect client_rect;
  UiWindow handle = kNoWindow;
  u8 focused = 0;
  i32 mouse_x = 0, mouse_y = 0;
  u8 outside = 0, outside_margin = 0;
  u8 input_flags[3] = {1, 1, 1};
  WindowBitmapHeader bitmap_header;
  u8 shown = 0;  // the shown flag of the window command
  // Kept by the window command for the parts that act on them.
  ObjectNode* drag_layer = nullptr;  // a press on its opaque pixels drags the window
  std::string shape_layer;           // layer whose opaque pixels shape window 0
  u8 z_order = 0;                    // 0 normal, 1 topmost, 2 bottom, 3 owned by window 0
  u8 maximised = 0;                  // maximised (the caption button or the window command)
  u8 frame_added_for_maximise = 0;   // window 0 became sizable only to be maximised
  i32 restore_width = 0, restore_height = 0;  // client size before maximising
  u8 maximise_box = 1;
  // What kWindowChangeClientSize and kWindowChangeMinimise carry out.
  i32 shown_client_width = 0, shown_client_height = 0;
  i8 minimise_command = -1;  // 1 minimise, 2 minimise and hide, 0 restore
};

// The window table (4 records, made by create_window_records) and the slot
// table (-1: no window; the index while the window exists).
extern WindowRecord* g_windows[kWindowCount];
extern i32 g_window_slots[kWindowCount];

// Switches from the engine configuration that the windows read.
struct WindowConfig {
  std::string main_title = "k_lumbrane";  // Shift-JIS
  u8 show_at_first_frame = 1;  // window 0 is shown after the first frame
  u8 frame = 1;                // window 0 has a caption and frame
  u8 resizable = 0;            // window 0 can be sized by the user
  u8 opaque_press = 0;         // a left press counts only on an opaque pixel
  u8 clock_pause_on_drag = 0;  // the game clocks stand while the caption is dragged
  u8 no_key_menu = 0;          // Alt does not open the system menu
};
extern WindowConfig g_window_config;

// State the window procedure writes for the scripts and the input polling.
struct WindowInputState {
  std::atomic<u64> menu_command_id{0};
  std::atomic<u32> last_key{0};
  std::atomic<u8> mouse_moved_mark{0};
  std::atomic<i16> wheel_delta{0};
  std::atomic<u8> button_code{0};
  // Mouse keys pressed since the last poll (bits 1, 2, 4: left, right,
  // middle), so that a click between two polls is seen.
  std::atomic<u8> pressed_keys{0};
  std::atomic<u8> close_requested{0};     // close state 0: the scripts decide
  std::atomic<u8> minimise_request{0};    // window index + 1
  std::atomic<u8> maximise_request{0};    // window index + 1
  std::atomic<u8> restore_request{0};     // window index + 1
  std::atomic<u8> size_reset_request{0};  // system-menu item 30001
  std::atomic<u8> caption_dblclick_request{0};  // window index + 1
  std::atomic<u8> pressed_window{0};      // window index + 1 (opaque press)
  std::atomic<i64> press_position{0};
  std::atomic<u8> clocks_paused_by_drag{0};
};
extern WindowInputState g_window_input;

// Nesting depth of the main window procedure (counted, so that a message
// sent from inside a handler does not clear it early). Read by frame pacing.
extern std::atomic<u32> g_in_window_procedure;

// The dropped-file list (Shift-JIS paths, folders with a trailing '\'),
// written and read under the engine lock.
extern std::vector<std::string> g_dropped_files;
constexpr std::size_t kMaxDroppedFiles = 65536;
constexpr std::size_t kDroppedPathBytes = 521;

// Private messages of the main window.
constexpr u32 kMsgBringForward = ui::kWmApp + 50;  // another copy started
constexpr u32 kSysMenuSizeReset = 30001;           // "ウィンドウサイズ初期化"

// The main window's handle, or kNoWindow.
UiWindow main_window_handle();
// True while the main window exists (made and not yet destroyed).
bool main_window_alive();
// True on the thread that made the main window (the GUI thread; before any
// window exists, every thread counts as it).
bool on_gui_thread();
// One step of a thread's wait for another thread (the sound thread, the
// frame thread): on the GUI thread the boxes that other threads asked for
// are shown first, since the thread waited for may itself be waiting for
// its box; then 1 ms passes. 0 when the run is ending (quit requested, a
// signal) and the wait must give up, else 1.
int wait_for_thread_step();

// Changes the window command made in a record, carried out on the GUI thread
// (at once there, else through a message to the main window).
constexpr u32 kWindowChangeCreate = 1u << 0;    // make the sub window
constexpr u32 kWindowChangeSize = 1u << 1;      // client size := logical size
constexpr u32 kWindowChangeShown = 1u << 2;     // show or hide by the shown flag
constexpr u32 kWindowChangePosition = 1u << 3;  // move to position x, y
constexpr u32 kWindowChangeZOrder = 1u << 4;
constexpr u32 kWindowChangeStyle = 1u << 5;     // maximise box, resizable
constexpr u32 kWindowChangeForeground = 1u << 6;
constexpr u32 kWindowChangeTitle = 1u << 7;
constexpr u32 kWindowChangeClientSize = 1u << 8;  // client size := shown client size
constexpr u32 kWindowChangeMinimise = 1u << 9;    // the minimise command
constexpr u32 kWindowChangeShowFirst = 1u << 10;  // window 0's show at its first frame
constexpr u32 kMsgApplyWindowChanges = ui::kWmApp + 51;  // wparam index, lparam mask
// Applies changes to window index now (GUI thread) or posts them.
void request_window_changes(int index, u32 changes);
void apply_window_changes(int index, u32 changes);

// The screen mode of window 0: 1 full screen, 0 windowed.
extern u8 g_screen_mode;
// 1 when it switched, 0 when the mode was current.
int apply_screen_mode(int mode);

// The largest logical window side.
constexpr i32 kMaxWindowSide = 8192;

// The layers a window's settings name, resolved by the caller in the layer
// tree: the window knows them only as nodes and sizes.
struct WindowLayers {
  // Parameter 21, the layer set to show (null: not given), found before the
  // call (a missing one is the caller's error).
  ObjectNode* layer_set = nullptr;
  // The size of the picture a new sub window would show: that of the layer
  // set given, else of the window's present root layer (0: no picture).
  i32 shown_width = 0, shown_height = 0;
  // Parameter 24, the drag layer, and the path it was looked up by; given
  // but null is reported as a missing layer in its turn.
  ObjectNode* drag_layer = nullptr;
  std::string drag_path;
  // Set by window_setup: the screen mode switched, so the root layer must be
  // drawn anew.
  u8 screen_mode_changed = 0;
};

// Sets up window a.value(0) (0 when not given; an index without a record
// is ignored) from its settings, by parameter id: 2 alpha, 3 shown, 4/5
// position, 6 z-order, 7/8 logical size, 9/10 shown client size, 11 to the
// foreground, 12 maximise box, 13 screen mode, 14 minimise/hide/restore,
// 15 maximise toggle, 16/17 caption buttons allowed, 18 close state, 21 the
// layer set shown, 22 menu name, 23 shape layer, 24 drag layer,
// 25 resizable. A sub window is made on first use. 0, or -1 after a
// reported error (messages give the settings' names).
int window_setup(const ParamSet& settings, WindowLayers* layers);
// Shows the main window (when it exists).
void window_show_main();
// The answer to question p about window index: 2 exists, 3 alpha, 4 visible,
// 5 focused, 6 title (a text), 7/8 position, 10/11 logical size, 12/13
// client size, 14 monitor, 15 screen mode, 16 maximised, 17 minimised.
// 1 when the answer is the text, else 0 with the number (0 for a question
// it does not know).
int window_query(i64 index, u32 p, i64* number, std::string* text);

// Fills a record for a window (index, logical size, title).
void setup_screen_record_for(WindowRecord* record, const char* title);
// Creates the window of record with the class name; shown with show_command
// when not ui::kSwHide. 1 created, 0 failed.
int create_window_for(WindowRecord* record, const char* class_name, int show_command);
// The main window procedure and its body.
std::int64_t main_wndproc(UiWindow window, u32 message, u64 wparam, i64 lparam);
std::int64_t main_wnd_dispatch(WindowRecord* record, u32 message, u64 wparam, i64 lparam);
// The answer to WM_SYSCOMMAND: 0 swallows the command, 1 lets it through.
int confirm_quit(WindowRecord* record, u32 command);
void accept_dropped_files(u64 drop);
// The menu-strip window's procedure.
std::int64_t menu_strip_wndproc(UiWindow window, u32 message, u64 wparam, i64 lparam);
extern UiWindow g_menu_strip_window;
extern i32 g_menu_strip_height;

// Handlers that other parts add to the main window procedure for their own
// messages (movie notifications, the notification-area icon, ...): called
// for a message the procedure does not answer itself; return 1 with *result
// set when handled, 0 to let the default answer it. One handler a message.
using WindowMessageHook = int (*)(WindowRecord* record, u32 message, u64 wparam, i64 lparam,
                                  std::int64_t* result);
// A null hook leaves the message to the default again. 0, or -1 when the
// table of 32 handlers is full.
int set_window_message_hook(u32 message, WindowMessageHook hook);

// Frees the records (after destroy_windows, at the end of the program).
void free_window_records();
