// Start-up and shut-down of the engine program.
#pragma once
#include <ctime>
#include <string>

#include "engine/frame/engine_state.h"
#include "engine/frame/types.h"

struct NamedLock;
struct WindowClassListener;

// The three locks of the single-instance rules: 0 the start-up lock
// "ze-tar1", 1 the instance lock (instance name), 2 the folder lock.
extern NamedLock* g_instance_locks[3];

// The screen frame buffer: the window-sized pixels that presentation scales
// the frame into (w * 4 * h + w * 4 + 4 bytes).
struct ScreenBuffer {
  u8* pixels = nullptr;
  i32 width = 0;
  i32 height = 0;
};
extern ScreenBuffer g_screen_buffer;
// Allocates (or reallocates) the screen buffer. A width above 8192 shows the
// image-size box and reports fatal 100010; no memory reports fatal 104030.
int alloc_screen_buffer(i32 width, i32 height);

// The text record of the text commands.
struct TextRecord {
  i32 line_pitch_a = 20;
  i32 line_pitch_b = 20;
  u32 colour = 0xFFFFFF;
  u32 second_colour = 0xFFFFFF;
  i32 limit = -1;
  u8 flag_a = 1;
  u8 flag_b = 0, flag_c = 0, flag_d = 0;
  u8 flag_e = 1;
  u8 pending_reset = 1;
  // The text is finished (the text-closing command); text_b holds one class
  // byte per character of text_a ('1', '2', and 'E' at the end).
  u8 complete = 0;
  char text_a[8192] = {};
  char text_b[8192] = {};
  u8 state[16] = {};
};
extern TextRecord* g_text_record;
void clear_text_record();

// Folders and names from the program path.
void setup_startup_paths();
// Derives the paths from a given Shift-JIS program path ('\' separators).
void setup_startup_paths_from(const std::string& program_path_true);
void activate_running_instance(const char* class_name);
// A lock of the single-copy rules could not be made (not: it was held):
// shows why the start can't go on, with the lock files' folder when that
// folder is what stands in the way.
void show_lock_failure();
// Result of the appended-archive check: -1 the size record is missing (the
// box "FS" was shown), 1 an appended archive was found, 0 none.
i8 check_appended_data();
// Reads the trailer behind built_size in the program file at path. Returns 1
// and fills base and the screen-saver flag when the trailer is there and the
// archive start lies inside the file; 0 otherwise; -1 when the file can't be
// read.
int read_program_trailer(const char* sjis_path, u32 built_size, u64* archive_base, u32* saver_flag);
// The built size recorded in the program file (0 when never stamped).
u32 program_built_size();

// The local date and time of a moment (seconds since the epoch and the
// millisecond within that second).
StartTime local_time_at(std::time_t seconds, int millisecond);
// The local date and time now, to the millisecond.
StartTime local_time_now();

u8 get_os_code();
void probe_system();
void copy_arguments(int argc, char** argv);
void init_timer();
int disable_desktop_composition();
void test_project_folder_writable();

// Called as each numbered step of start-up ('s', 1-31) and of shut-down
// ('d', 1-10) begins; null in the program. The tests record the order.
extern void (*g_startup_step_trace)(char phase, int step);

i8 engine_startup();
void engine_global_init();
void shutdown_engine();
void release_instance_mutexes();
int launch_process(const std::string& sjis_program);
