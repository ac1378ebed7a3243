#include "engine/frame/engine_state.h"

EnginePaths g_paths;
std::atomic<u8> g_quit_requested{0};
std::atomic<u8> g_run_flag{1};
u8 g_restart_flag = 0;
u32 g_exit_code = 0;
std::atomic<u8> g_run_failed{0};
std::atomic<u8> g_ended_from_outside{0};
u8 g_start_stopped_on_purpose = 0;

void mark_run_failed() {
  if (!g_ended_from_outside) g_run_failed = 1;
}

int run_exit_status() {
  if (g_run_failed && !g_start_stopped_on_purpose) return 1;
  return static_cast<int>(g_exit_code);
}
u8 g_sound_thread_state = kThreadNotStarted;
u8 g_frame_thread_state = kThreadNotStarted;
ArgTable g_args;
u8 g_os_code = 255;
i8 g_cpu_count = 1;
i8 g_worker_count = 1;
i8 g_worker_minimum = 1;
i8 g_worker_maximum = 4;
i32 g_desktop_metrics[4] = {0, 0, 0, -1};
u32 g_directx_major_version = 0;
u8 g_archive_in_program = 0;
u8 g_compiled_scripts_present = 0;
u64 g_appended_archive_base = 0;
u8 g_screen_saver_mode = 0;
u8 g_project_folder_read_only = 0;
u32 g_joystick_count = 0;
StartTime g_start_time{};
bool g_errors_quiet = false;
