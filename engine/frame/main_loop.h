// The main loop, one frame's steps, frame pacing, the close request and the
// frame thread.
#pragma once
#include <atomic>

#include "engine/frame/types.h"

struct FramePacing {
  i32 frame_rate = 60;        // frames a second (set by the frame-rate command)
  u8 frame_skip_allowed = 1;  // set by the frame-rate command
  u32 frame_fraction = 0;     // low 16 bits: fraction of a millisecond carried over
  u32 pacing_clock = 0;       // the last clock value pacing worked with
  u32 frame_start = 0;        // the time the current frame is measured from
  u8 skip_this_draw = 0;
  u8 skip_next_draw = 0;
  u8 first_frame_done = 0;
  u64 frame_counter = 0;
  u64 script_pass_counter = 0;
  u32 second_stamp = 0;
  u32 paced_frames = 0;
  u32 drawn_frames = 0;
  u32 paced_rate = 0;  // frames paced in the last completed second
  u32 drawn_rate = 0;  // frames drawn in the last completed second
  // The frame's elapsed time that E-mote motions advance by at the next
  // pacing (0: nothing pending).
  u32 emote_pending_ms = 0;
};
extern FramePacing g_pacing;

// Non-zero while a script asks to run again in the same frame.
extern std::atomic<u64> g_run_again_request;
// Frame-thread mode (from the engine configuration).
extern u8 g_frame_thread_mode;
// Set while the quit confirmation box is open: frames do nothing.
extern std::atomic<u8> g_frame_step_suspended;
// Per-frame script time accumulator (cleared at the start of each frame).
extern u64 g_frame_script_time;
// Forces the GPU renderer to draw the next frame (an E-mote motion runs).
extern std::atomic<u8> g_redraw_flag;

// One frame; non-zero means the run must close.
i8 run_frame();
// Waits for the frame's end; 1 when the next draw is to be skipped.
i8 pace_frame();
// quit-requested := 1, the main window's close state := 2, close message to
// the main window.
void request_close();
void count_drawn_frame();

// Runs the message pump and the frame loop until the quit message.
void run_main_loop();
// Frame-thread mode: starts the thread that runs the frames.
int start_frame_thread();
// Waits until the frame thread has ended (shut-down). The GUI thread goes on
// taking in the desktop's events meanwhile, so that a box the frame thread
// asked for before it could see the end is shown (and can be answered or
// cancelled) instead of waiting for ever.
void join_frame_thread();
// The frame thread's state byte, read under the engine lock.
u8 frame_thread_state();

// Hand-off between the frame thread and the GUI thread in frame-thread mode:
// the GUI thread dispatches window messages only while the frame thread waits
// in its pacing, and the frame thread leaves its pacing only when the GUI
// thread is outside the window procedure.
bool frame_gate_enter_gui(u32 timeout_ms);
void frame_gate_leave_gui();
