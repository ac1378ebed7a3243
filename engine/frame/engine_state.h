// Process-wide state of the engine frame: folders and names worked out at
// start-up, the run and quit flags, thread states and the probes' results.
// Plain globals, read by every subsystem.
#pragma once
#include <atomic>
#include <string>

#include "engine/frame/types.h"

struct EnginePaths {
  // The program file: true case for I/O, and lower-cased for names.
  std::string program_path_true;
  std::string program_path;  // lower-cased
  // Folder of the program, '\' separators, always ending in '\'.
  std::string program_folder_true;
  std::string program_folder;  // lower-cased
  // Program path with every '\' replaced by ':': main window class and lock.
  std::string instance_name;
  // Program folder with every '\' replaced by ':'.
  std::string folder_lock_name;
  std::string app_data_folder;
  std::string documents_folder;
  // The folder the scripts run from (the program folder when compiled
  // scripts are present, else the one given by the compiler bridge).
  std::string project_folder;
};
extern EnginePaths g_paths;

// Set to end the run; read by every thread without the lock.
extern std::atomic<u8> g_quit_requested;
// 1 until WM_QUIT is seen by the message pump.
extern std::atomic<u8> g_run_flag;
// Set by the scripts' quit command: start the program again after shut-down.
extern u8 g_restart_flag;
extern u32 g_exit_code;
// The run ends because of a fatal error (a failed start, a fatal numbered
// error, the sound thread's error): the program exits with 1, so a shell or
// a launcher can tell. Set through mark_run_failed.
extern std::atomic<u8> g_run_failed;
// The run was asked to end from outside (SIGINT, SIGTERM): an ordinary end,
// whatever fails on the way out.
extern std::atomic<u8> g_ended_from_outside;
// Start-up stopped as it should ("/ztcfg", "/info", another copy runs from
// the folder): no failure.
extern u8 g_start_stopped_on_purpose;
void mark_run_failed();
// What the program returns: 1 for a run that failed, else g_exit_code.
int run_exit_status();

constexpr u8 kThreadNotStarted = 0xFF;
constexpr u8 kThreadRunning = 0;
constexpr u8 kSoundThreadEnded = 1;
constexpr u8 kFrameThreadEnded = 9;
// Written and read under the engine lock.
extern u8 g_sound_thread_state;
extern u8 g_frame_thread_state;

// Command-line arguments for scripts: count (at most 8) and argument 0..count.
struct ArgTable {
  u32 count = 0;
  std::string args[9];
};
extern ArgTable g_args;

extern u8 g_os_code;
extern i8 g_cpu_count;
extern i8 g_worker_count;
extern i8 g_worker_minimum;
extern i8 g_worker_maximum;
// Desktop width, height, bits per pixel, refresh rate (-1 when below 60).
extern i32 g_desktop_metrics[4];
extern u32 g_directx_major_version;

// Appended-archive check: archive rides in the program file; compiled scripts
// are present (also set by an archive holding "ztbin\ztcfg.zbn").
extern u8 g_archive_in_program;
extern u8 g_compiled_scripts_present;
extern u64 g_appended_archive_base;
extern u8 g_screen_saver_mode;
extern u8 g_project_folder_read_only;
extern u32 g_joystick_count;

// Local time at start-up.
struct StartTime {
  int year, month, day, hour, minute, second;
  int day_of_week = 0;  // 0 Sunday .. 6 Saturday
  int millisecond = 0;
};
extern StartTime g_start_time;

// Keeps informational stderr lines of the reporter quiet (tests).
extern bool g_errors_quiet;
