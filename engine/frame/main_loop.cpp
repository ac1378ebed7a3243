#include "engine/frame/main_loop.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/window.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/sync.h"
#include "platform/ui.h"

FramePacing g_pacing;
std::atomic<u64> g_run_again_request{0};
u8 g_frame_thread_mode = 0;
std::atomic<u8> g_frame_step_suspended{0};
u64 g_frame_script_time = 0;
std::atomic<u8> g_redraw_flag{0};

namespace {
constexpr i32 kDefaultFrameRate = 60;
// A lateness of this many milliseconds or more is a stall: it is forgotten
// instead of being caught up, and skips nothing.
constexpr u32 kStallMs = 250;

std::thread g_frame_thread;

// Frame-thread hand-off state.
std::mutex g_gate_mutex;
std::condition_variable g_gate_cv;
bool g_gate_open = false;     // the frame thread waits in its pacing
bool g_gui_inside = false;    // the GUI thread is dispatching messages
bool g_gui_waiting = false;   // the GUI thread waits for the gate to open

// The frame thread opens the gate while it waits in its pacing.
void frame_gate_open() {
  if (!g_frame_thread_mode) return;
  std::lock_guard<std::mutex> lock(g_gate_mutex);
  g_gate_open = true;
  g_gate_cv.notify_all();
}

// Closes the gate: waits until the GUI thread has left the window procedure,
// and lets a GUI thread that was already waiting through once, so that a
// frame thread that is always late still lets messages be dispatched.
void frame_gate_close() {
  if (!g_frame_thread_mode) return;
  std::unique_lock<std::mutex> lock(g_gate_mutex);
  g_gate_cv.wait(lock, [] { return !g_gui_inside && !g_gui_waiting; });
  g_gate_open = false;
}
}  // namespace

bool frame_gate_enter_gui(u32 timeout_ms) {
  std::unique_lock<std::mutex> lock(g_gate_mutex);
  g_gui_waiting = true;
  bool open = g_gate_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [] { return g_gate_open; });
  g_gui_waiting = false;
  if (open) g_gui_inside = true;
  g_gate_cv.notify_all();
  return open;
}

void frame_gate_leave_gui() {
  std::lock_guard<std::mutex> lock(g_gate_mutex);
  g_gui_inside = false;
  g_gate_cv.notify_all();
}

void count_drawn_frame() { g_pacing.drawn_frames += 1; }

void request_close() {
  g_quit_requested = 1;
  set_main_window_close_state(2);
  post_main_window_close();
}

i8 pace_frame() {
  FramePacing& p = g_pacing;
  // A rate of 0 or below has no frame length: such a rate runs at the default.
  i32 rate = p.frame_rate > 0 ? p.frame_rate : kDefaultFrameRate;
  u32 len16 = 65536000u / static_cast<u32>(rate);
  u32 now = g_platform.clock->now_ms();
  p.pacing_clock = now;
  u32 acc = (p.frame_fraction & 0xFFFFu) + len16;
  p.frame_fraction = acc;
  u32 ms = acc >> 16;
  u32 elapsed = now - p.frame_start;
  u8 skip = 0;
  // E-mote motions advance by what the previous pacing measured; this
  // frame's time waits for the next one. A time above 10 s (the first frame,
  // a stall) counts as one frame of 16 ms.
  if (p.emote_pending_ms != 0) {
    advance_emote_times(p.emote_pending_ms);
    p.emote_pending_ms = 0;
  }
  p.emote_pending_ms = elapsed > 10000u ? 16u : elapsed;
  frame_gate_open();
  if (elapsed >= ms) {
    u32 over = elapsed - ms;
    if (over >= kStallMs) over = 0;
    skip = (over >= 3 * ms) && p.frame_skip_allowed;
    // The next frame keeps to the schedule: it starts where this one should
    // have ended, so it is shortened by the lateness.
    p.frame_start = now - over;
    p.pacing_clock = now;
  } else {
    g_platform.clock->sleep_ms(ms - elapsed);
    p.frame_start += ms;
    p.pacing_clock = g_platform.clock->now_ms();
  }
  frame_gate_close();
  if (p.pacing_clock / 1000u != p.second_stamp / 1000u) {
    p.paced_rate = p.paced_frames;
    p.drawn_rate = p.drawn_frames;
    p.drawn_frames = 0;
    p.second_stamp = p.pacing_clock;
    p.paced_frames = 1;
  } else {
    p.paced_frames += 1;
  }
  return static_cast<i8>(skip);
}

i8 run_frame() {
  FramePacing& p = g_pacing;
  g_frame_script_time = 0;
  p.frame_counter += 1;
  if (g_frame_step_suspended) return 0;
  if (g_quit_requested) return 1;
  theora_movie_step();
  update_input_state();
  do {
    g_run_again_request = 0;
    p.script_pass_counter += 1;
    if (run_script_tasks() != 0) g_quit_requested = 1;
    if (g_quit_requested) return 1;
  } while (g_run_again_request != 0);
  detect_layer_changes();
  // The draw and the repaint follow one answer: a movie that starts or ends
  // in between must not leave a frame drawn but never shown.
  const bool draw = !p.skip_this_draw && frame_draw_allowed() != 0;
  if (draw) {
    for (int w = 0; w < kWindowCount; ++w)
      if (draw_window(w) != 0) return 1;
  }
  if (!p.first_frame_done) {
    p.first_frame_done = 1;
    show_main_window_first_frame();
  }
  p.skip_next_draw = static_cast<u8>(pace_frame());
  // emote_motion_active answers 0 while no E-mote object is loaded.
  if (emote_motion_active() == 1) g_redraw_flag = 1;
  update_fullscreen_menu_strip();
  // The dirty areas are reset only for a frame that was drawn and shown;
  // otherwise the next drawn frame still repaints them.
  if (draw) {
    for (int w = 0; w < kWindowCount; ++w)
      if (request_window_repaint(w) != 0) return 1;
    count_drawn_frame();
    reset_dirty_state();
  }
  refresh_changed_menu_bars();
  show_pending_popup_menu();
  p.skip_this_draw = p.skip_next_draw;
  return static_cast<i8>(g_quit_requested.load());
}

namespace {
int pump_gate() { return 1; }

// Dispatches the waiting messages; in frame-thread mode only through the
// hand-off with the frame thread, while that thread runs (once it has ended
// nobody opens the gate again).
void pump_once() {
  if (g_frame_thread_mode && frame_thread_state() == kThreadRunning) {
    if (!frame_gate_enter_gui(1)) {
      // The frame runs: no window procedure may run now, but the desktop's
      // own events go on, so that a box the frame thread asked for appears.
      g_platform.ui->process_desktop_events();
      return;
    }
    int quit = pump_window_messages(pump_gate);
    frame_gate_leave_gui();
    if (quit) g_run_flag = 0;
    return;
  }
  if (pump_window_messages(pump_gate)) g_run_flag = 0;
}

void frame_thread_main() {
  {
    EngineLockGuard lock;
    g_frame_thread_state = kThreadRunning;
  }
  while (true) {
    bool suspended = g_frame_step_suspended != 0;
    if (run_frame() != 0) break;
    // A suspended frame returns at once; wait a little instead of spinning.
    if (suspended) g_platform.clock->sleep_ms(1);
  }
  request_close();
  EngineLockGuard lock;
  g_frame_thread_state = kFrameThreadEnded;
}
}  // namespace

u8 frame_thread_state() {
  EngineLockGuard lock;
  return g_frame_thread_state;
}

int start_frame_thread() {
  if (!g_frame_thread_mode) return 0;
  {
    // Running from here on, so that the GUI thread hands off from its first
    // pump (the thread itself sets it again once it runs).
    EngineLockGuard lock;
    g_frame_thread_state = kThreadRunning;
  }
  g_frame_thread = std::thread(frame_thread_main);
  return 0;
}

void join_frame_thread() {
  if (!g_frame_thread.joinable()) return;
  // The frame may wait for a box on this thread: the desktop's events go on
  // until the thread says it has ended.
  while (frame_thread_state() != kFrameThreadEnded) {
    g_platform.ui->process_desktop_events();
    g_platform.clock->sleep_ms(1);
  }
  g_frame_thread.join();
}

void run_main_loop() {
  bool close_posted = false;
  pump_once();
  while (g_run_flag) {
    if (g_quit_requested) {
      // However quit was asked for (a fatal error, the sound thread, a
      // script), the main window is asked to close once, so that the quit
      // message comes and the run ends. A main window that is gone (or never
      // came) can't send it: the run ends here.
      if (!close_posted) {
        close_posted = true;
        request_close();
      } else if (!main_window_alive()) {
        g_run_flag = 0;
        break;
      }
      g_platform.clock->sleep_ms(1);
    } else {
      poll_window_input();
      if (g_frame_thread_mode) {
        g_platform.clock->sleep_ms(1);
      } else if (run_frame() != 0) {
        close_posted = true;
        request_close();
      }
    }
    pump_once();
  }
}
