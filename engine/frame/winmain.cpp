#include "engine/frame/winmain.h"

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/messages.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "platform/files.h"
#include "platform/named_locks.h"
#include "platform/platform.h"
#include "platform/signals.h"
#include "platform/ui.h"

// The size record: the marker, then the program file's built size, stamped
// into the file by the build. An archive appended later starts behind it.
extern "C" __attribute__((used)) volatile const unsigned char g_program_size_record[16] = {
    'Z', 'T', '_', 'R', 'E', 'S', 0, '2', '0', '1', 0, 0, 0, 0, 0, 0};

namespace {
// SIGINT and SIGTERM end the run in order, whatever it is doing: quit is
// requested (every wait of one thread for another gives up on it), every box
// open now or asked for later answers as closed (a signal can't answer a
// box), and the main window closes as its close button would, without the
// confirmation.
void on_close_signal() {
  g_ended_from_outside = 1;
  g_quit_requested = 1;
  g_platform.ui->end_modal_dialogs();
  set_main_window_close_state(2);
  post_main_window_close();
}

// Ends a run that never reached start-up.
int leave(int code) {
  g_platform.signals->stop_watching();
  release_instance_mutexes();
  return code;
}
}  // namespace

int engine_main(int argc, char** argv) {
  platform_select_real();
  // A signal (kept since the program's first constructor) ends the run in
  // order, never by the default action.
  g_platform.signals->watch_close_requests(on_close_signal);
  // 1: the start-up lock serialises starts.
  NamedLock* startup_lock = nullptr;
  // Held by another start: that start goes on, this one ends quietly. Not
  // made at all: the box says why.
  const int startup_made = g_platform.locks->create("ze-tar1", &startup_lock);
  if (startup_made < 0) {
    show_lock_failure();
    return leave(1);
  }
  if (startup_made != 0) return leave(0);
  g_instance_locks[0] = startup_lock;
  // 2-3: folders and names; one running copy per program file.
  setup_startup_paths();
  if (g_paths.program_path_true.empty()) {
    // Every name of the engine (locks, window class, the game's files) is
    // made from the program's path: without a Shift-JIS form of it the game
    // can't run, and says so. The start-up lock goes first: other games
    // start while the box waits for its answer.
    g_platform.locks->release(g_instance_locks[0]);
    g_instance_locks[0] = nullptr;
    show_error_box(sjis_message("エラー"),
                   sjis_message("プログラムのフォルダ名を Shift-JIS で表せないため起動できません。\r\n"
                                "フォルダ名を変えてから起動してください。"));
    return leave(1);
  }
  NamedLock* instance = nullptr;
  const int instance_made = g_platform.locks->create(g_paths.instance_name.c_str(), &instance);
  if (instance_made < 0) {
    show_lock_failure();
    return leave(1);
  }
  if (instance_made != 0) {
    activate_running_instance(g_paths.instance_name.c_str());
    return leave(0);
  }
  g_instance_locks[1] = instance;
  // 4: the start-up lock is no longer needed.
  g_platform.locks->release(g_instance_locks[0]);
  g_instance_locks[0] = nullptr;
  // 5: the program folder is the current folder.
  g_platform.files->set_current_folder(g_paths.program_folder_true.c_str());
  // 6-7: the appended archive and screen-saver mode (a program file without
  // its size record is damaged: a failed start).
  if (check_appended_data() < 0) return leave(1);
  // The saver's arguments are read from the argument table.
  copy_arguments(argc, argv);
  if (g_screen_saver_mode && handle_screen_saver_arguments() != 0) return leave(0);
  // 8-10: start-up, the main loop, shut-down (a close asked for before
  // start-up skips it).
  if (!g_quit_requested) {
    if (engine_startup() == 0) run_main_loop();
    else mark_run_failed();  // unless it stopped on purpose (run_exit_status)
  }
  shutdown_engine();
  g_platform.signals->stop_watching();
  // No signal can reach the main window's record any more.
  free_window_records();
  release_instance_mutexes();
  if (g_restart_flag) launch_process(g_paths.program_path_true);
  return run_exit_status();
}
