// What the windowing backends keep and do the same way: the message queues of
// the GUI threads, the key state the messages left, the table of dropped
// files, the kept client image's size and the default window procedure.
//
// A backend's state record derives from UiSharedState, and its mutex guards
// the backend's windows too, so that finding a window and queueing its message
// stay one step.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"

struct UiSharedState {
  std::recursive_mutex mutex;  // windows, queues, keys, drops
  std::map<std::thread::id, std::deque<UiMessage>> queues;
  std::condition_variable_any queue_signal;  // a message was queued
  std::uint8_t keys[256] = {};
  std::map<std::uint64_t, std::vector<std::string>> drops;
  std::uint64_t next_drop = 0x1000;
};

// ---- queues ----
// Puts the message at the end of that thread's queue and wakes its waiters.
void ui_queue_message(UiSharedState& s, std::thread::id thread, const UiMessage& message);
// Puts WM_QUIT (wparam = code) into the calling thread's queue.
void ui_queue_quit(UiSharedState& s, int code);
// 1 and the first message of the calling thread's queue (removed when remove
// is 1), or 0 when the queue is empty.
int ui_take_message(UiSharedState& s, UiMessage* out, int remove);
// Drops every queued message of the window, in all queues.
void ui_forget_window_messages(UiSharedState& s, UiWindow window);

// ---- key state ----
// Marks the virtual key down (0x80) or up; codes outside 0..255 are ignored.
void ui_set_key(UiSharedState& s, int vk, int down);
// Every key up.
void ui_clear_keys(UiSharedState& s);
void ui_get_keyboard_state(UiSharedState& s, std::uint8_t state[256]);

// ---- dropped files ----
// Keeps the paths and answers the drop handle WM_DROPFILES carries.
std::uint64_t ui_add_drop(UiSharedState& s, const std::vector<std::string>& sjis_paths);
int ui_drop_count(UiSharedState& s, std::uint64_t drop);
int ui_drop_path(UiSharedState& s, std::uint64_t drop, int index, std::string* sjis_path);
void ui_drop_finish(UiSharedState& s, std::uint64_t drop);

// ---- windows ----
// Keeps a window's shown image (width x height pixels) at the client size;
// what stays inside is kept, the rest is 0.
void ui_fit_shown(std::vector<std::uint32_t>* shown, int* width, int* height, int client_width,
                  int client_height);
// The answer of a message box nobody could see: yes for yes/no kinds, retry
// for retry/cancel, abort for abort/retry/ignore, else OK.
int ui_default_box_answer(std::uint32_t type);
// Calls the procedure of the message's window through the backend; a thread
// message gives 0.
std::int64_t ui_dispatch_message(const PlatformUi& backend, const UiMessage* message);
// DefWindowProc through the backend: SC_CLOSE sends WM_CLOSE (and answers
// what it answered), SC_MINIMIZE / SC_MAXIMIZE / SC_RESTORE show the window
// so, WM_CLOSE destroys it, WM_NCLBUTTONDOWN on the caption (HTCAPTION)
// starts the desktop's move of the window, WM_SYSKEYDOWN of a letter or
// digit sends SC_KEYMENU with its lower-case character and SC_KEYMENU opens
// the bar item of that mnemonic; everything else answers 0.
std::int64_t ui_def_window_proc(const PlatformUi& backend, UiWindow window, std::uint32_t message,
                                std::uint64_t wparam, std::int64_t lparam);
