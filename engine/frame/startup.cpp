#include "engine/frame/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/frame/input.h"
#include "engine/frame/main_loop.h"
#include "engine/frame/messages.h"
#include "engine/frame/settings.h"
#include "engine/frame/sjis_text.h"
#include "engine/frame/ztzid.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/instances.h"
#include "platform/named_locks.h"
#include "platform/clipboard.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/ui.h"

extern "C" volatile const unsigned char g_program_size_record[16];

NamedLock* g_instance_locks[3] = {nullptr, nullptr, nullptr};
void (*g_startup_step_trace)(char phase, int step) = nullptr;
ScreenBuffer g_screen_buffer;
TextRecord* g_text_record = nullptr;

namespace {
constexpr i32 kMaxImageWidth = 8192;
bool g_global_init_done = false;
WindowClassListener* g_window_listener = nullptr;
WindowClassListener* g_folder_listener = nullptr;

// Another copy of the program asked for our window.
void on_bring_forward(void*) { bring_main_window_forward(); }

// The class under which this copy also answers as "the engine of this folder",
// so that another program file started in the same folder finds it.
std::string folder_class_name() { return "folder:" + g_paths.folder_lock_name; }

// Announces the main window under its class and the folder's. A name that
// a program of another user holds can't be announced: the run goes on (its
// locks still keep one copy per program and folder), but another start or
// the updater can't find this window, and the box says why.
void announce_main_window() {
  bool taken = false;
  if (!g_window_listener) {
    g_window_listener = g_platform.instances->announce(g_paths.instance_name.c_str(), on_bring_forward, nullptr);
    taken = !g_window_listener && g_platform.instances->held_by_other_user(g_paths.instance_name.c_str());
  }
  if (!g_folder_listener) {
    const std::string folder = folder_class_name();
    g_folder_listener = g_platform.instances->announce(folder.c_str(), on_bring_forward, nullptr);
    taken = taken || (!g_folder_listener && g_platform.instances->held_by_other_user(folder.c_str()));
  }
  if (taken)
    show_error_box(sjis_message("エラー"), sjis_message("他のユーザーのプログラムがこのゲームのウィンドウ名を使っています。\r\n"
                                                        "このゲームをもう一度起動しても、このウィンドウは前面に出ません。"));
}

void withdraw_main_window() {
  g_platform.instances->withdraw(g_window_listener);
  g_platform.instances->withdraw(g_folder_listener);
  g_window_listener = nullptr;
  g_folder_listener = nullptr;
}

// Start-up stops when a step reported a fatal error: the error dialog has
// been shown and the run must end instead of going on without a window.
bool fatal_reported() { return g_quit_requested != 0; }

void step(int n) {
  if (g_startup_step_trace) g_startup_step_trace('s', n);
}
void shutdown_step(int n) {
  if (g_startup_step_trace) g_startup_step_trace('d', n);
}

// Direct3D drawing off: the switches CPU drawing runs with.
void fall_back_to_cpu_drawing() {
  g_settings.use_direct3d = 0;
  g_settings.renderer_level = 0;
  g_settings.cpu_scaling_flag = 1;
}
}  // namespace

u32 program_built_size() {
  u32 s = 0;
  for (int i = 3; i >= 0; --i) s = (s << 8) | g_program_size_record[12 + i];
  return s;
}

void setup_startup_paths_from(const std::string& program_path_true) {
  EnginePaths& p = g_paths;
  p.program_path_true = program_path_true;
  replace_char_sjis(p.program_path_true.data(), '/', '\\');
  p.program_path = p.program_path_true;
  lowercase_sjis_path(p.program_path.data());
  std::size_t cut = sjis_last_separator_end(p.program_path_true.c_str());
  p.program_folder_true = p.program_path_true.substr(0, cut);
  if (p.program_folder_true.empty() || p.program_folder_true.back() != '\\') p.program_folder_true += '\\';
  p.program_folder = p.program_folder_true;
  lowercase_sjis_path(p.program_folder.data());
  p.instance_name = p.program_path;
  replace_char_sjis(p.instance_name.data(), '\\', ':');
  p.folder_lock_name = p.program_folder;
  replace_char_sjis(p.folder_lock_name.data(), '\\', ':');
}

void setup_startup_paths() {
  setup_startup_paths_from(g_platform.process->program_path());
  g_paths.app_data_folder = g_platform.process->app_data_folder();
  g_paths.documents_folder = g_platform.process->documents_folder();
}

void activate_running_instance(const char* class_name) { g_platform.instances->bring_forward(class_name); }

void show_lock_failure() {
  std::string folder;
  const LockFolderProblem problem = named_lock_folder_problem(&folder);
  std::string sjis_folder;
  if (utf8_to_sjis(folder.c_str(), &sjis_folder) != 0) sjis_folder.clear();
  std::string text;
  if (problem == LockFolderProblem::kOtherOwner) {
    text = sjis_message("ロックファイルのフォルダ「") + sjis_folder +
           sjis_message("」が他のユーザーのものか、フォルダではないため起動できません。\r\n"
                        "このフォルダを削除するか、環境変数 XDG_RUNTIME_DIR を設定してから起動してください。");
  } else if (problem == LockFolderProblem::kCannotMake) {
    text = sjis_message("ロックファイルのフォルダ「") + sjis_folder +
           sjis_message("」を作成できないため起動できません。");
  } else {
    text = sjis_message("ロックファイルを作成できないため起動できません。");
  }
  show_error_box(sjis_message("エラー"), "%s", text);
}

int read_program_trailer(const char* sjis_path, u32 built_size, u64* archive_base, u32* saver_flag) {
  std::FILE* f = g_platform.files->open(sjis_path, "rb");
  if (!f) return -1;
  int found = 0;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long real = std::ftell(f);
    unsigned char t[12] = {};
    if (real > 0 && static_cast<u64>(real) > built_size && std::fseek(f, static_cast<long>(built_size), SEEK_SET) == 0 &&
        std::fread(t, 1, sizeof t, f) == sizeof t && std::memcmp(t, "ZTER", 4) == 0) {
      u32 d = static_cast<u32>(t[4]) | static_cast<u32>(t[5]) << 8 | static_cast<u32>(t[6]) << 16 |
              static_cast<u32>(t[7]) << 24;
      u32 n = static_cast<u32>(t[8]) | static_cast<u32>(t[9]) << 8 | static_cast<u32>(t[10]) << 16 |
              static_cast<u32>(t[11]) << 24;
      u64 base = static_cast<u64>(built_size) + d;
      // The archive must start behind the trailer and inside the file.
      if (d >= sizeof t && base < static_cast<u64>(real)) {
        *archive_base = base;
        *saver_flag = n;
        found = 1;
      }
    }
  }
  std::fclose(f);
  return found;
}

i8 check_appended_data() {
  u32 built = program_built_size();
  if (built == 0) {
    show_error_box("", "FS");
    return -1;
  }
  u64 base = 0;
  u32 saver = 0;
  if (read_program_trailer(g_paths.program_path_true.c_str(), built, &base, &saver) != 1) return 0;
  g_appended_archive_base = base;
  g_screen_saver_mode = saver != 0;
  g_archive_in_program = 1;
  g_compiled_scripts_present = 1;
  return 1;
}

StartTime local_time_at(std::time_t seconds, int millisecond) {
  std::tm lt{};
  localtime_r(&seconds, &lt);
  StartTime t{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec};
  t.day_of_week = lt.tm_wday;
  t.millisecond = millisecond;
  return t;
}

StartTime local_time_now() {
  std::timespec now{};
  std::timespec_get(&now, TIME_UTC);
  return local_time_at(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000));
}

u8 get_os_code() {
  // The code follows the Windows build number; no build of this platform is
  // in the table, so it counts as newer than every known system.
  return 255;
}

void probe_system() {
  unsigned cpus = std::thread::hardware_concurrency();
  if (cpus == 0) cpus = 1;
  if (cpus > 127) cpus = 127;
  g_cpu_count = static_cast<i8>(cpus);
  i8 workers = g_cpu_count < g_worker_minimum ? g_worker_minimum : g_cpu_count;
  if (workers > g_worker_maximum) workers = g_worker_maximum;
  if (workers < 1) workers = 1;
  g_worker_count = workers;
  get_desktop_metrics(g_desktop_metrics);
  if (g_desktop_metrics[3] < 60) g_desktop_metrics[3] = -1;
  g_os_code = get_os_code();
}

void copy_arguments(int argc, char** argv) {
  g_args = ArgTable{};
  u32 count = argc > 1 ? static_cast<u32>(argc - 1) : 0;
  if (count > 8) count = 8;
  g_args.count = count;
  for (u32 i = 0; i <= count && static_cast<int>(i) < argc; ++i) g_args.args[i] = argv[i] ? argv[i] : "";
}

void init_timer() {
  // The clock already has millisecond resolution here.
  g_pacing.second_stamp = 0;
  g_pacing.paced_frames = 0;
  g_pacing.drawn_frames = 0;
  g_pacing.paced_rate = 0;
  g_pacing.drawn_rate = 0;
}

int disable_desktop_composition() {
  // No desktop composition to switch off on this platform.
  return -1;
}

void test_project_folder_writable() {
  g_project_folder_read_only = 0;
  // A name nobody uses, created exclusively: a file of the player's that
  // happens to have the name is never truncated or deleted.
  unsigned seed = static_cast<unsigned>(std::rand()) ^ g_platform.clock->now_ms();
  for (int attempt = 0; attempt < 64; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "ini%04x.tmp", (seed + static_cast<unsigned>(attempt) * 0x9E37u) & 0xFFFFu);
    std::string path = g_paths.project_folder + name;
    errno = 0;
    std::FILE* f = g_platform.files->open(path.c_str(), "wbx");
    if (!f) {
      if (errno == EEXIST) continue;
      break;
    }
    if (std::fclose(f) != 0) g_project_folder_read_only = 1;
    if (g_platform.files->remove_file(path.c_str()) != 0) g_project_folder_read_only = 1;
    return;
  }
  g_project_folder_read_only = 1;
}

void clear_text_record() {
  TextRecord* t = g_text_record;
  if (!t || !t->pending_reset) return;
  t->pending_reset = 0;
  t->complete = 0;
  std::memset(t->state, 0, sizeof t->state);
  std::memset(t->text_a, 0, sizeof t->text_a);
  std::memset(t->text_b, 0, sizeof t->text_b);
}

void engine_global_init() {
  if (g_global_init_done) return;
  g_global_init_done = true;
  seed_script_random(g_platform.clock->now_ms());
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  init_blend_tables();
  init_arg_eval_tables();
  init_command_table();
  init_key_counter_callbacks();
  init_var_ops();
  init_expr_ops(1);
  set_all_error_switches();
  if (!g_text_record) {
    g_text_record = new (std::nothrow) TextRecord();
    clear_text_record();
  }
  probe_directx_version();
}

int alloc_screen_buffer(i32 width, i32 height) {
  if (width > kMaxImageWidth) {
    show_error_box("", sjis_message("ＣＧサイズが大きすぎます。X=%d, Y=%d"), width, height);
    report_error_code(100010, 1);
    return -1;
  }
  u64 w = width > 0 ? static_cast<u64>(width) : 0, h = height > 0 ? static_cast<u64>(height) : 0;
  u64 bytes = w * 4 * h + w * 4 + 4;
  u8* pixels = static_cast<u8*>(std::calloc(1, static_cast<std::size_t>(bytes)));
  if (!pixels) {
    report_error_code(104030, 1);
    return -1;
  }
  std::free(g_screen_buffer.pixels);
  g_screen_buffer.pixels = pixels;
  g_screen_buffer.width = width;
  g_screen_buffer.height = height;
  return 0;
}

i8 engine_startup() {
  // 1 (the argument table) is kept by the program's entry before start-up.
  step(1);
  // 2-3: settings, span kernels and the system probe.
  step(2);
  read_engine_settings();
  resolve_save_folder();
  step(3);
  init_span_ops();
  probe_system();
  // 4: systems too old to run on.
  step(4);
  if (g_os_code >= 1 && g_os_code <= 19) {
    show_error_box(sjis_message("エラー"), sjis_message("Windows95/NT3.5/NT4 では起動できません。"));
    return -1;
  }
  // 5: the archive-name swap table.
  step(5);
  if (init_name_swap_table() != 0) return -1;
  // 6: "/ztcfg" starts the settings program.
  step(6);
  if (g_args.count >= 1 && sjis_stricmp(g_args.args[1].c_str(), "/ztcfg") == 0) {
    // The settings program beside the engine, named as the programs here are:
    // without ".exe".
    std::string program = g_paths.program_folder_true + "Vornset";
    if (g_platform.process->start_program(program.c_str(), {"/ztcfg"}) == 0) g_start_stopped_on_purpose = 1;
    return -1;
  }
  // 7: "/info" shows the notices of the libraries used.
  step(7);
  if (g_args.count >= 1 && sjis_stricmp(g_args.args[1].c_str(), "/info") == 0) {
    set_error_dialog_caption("License Information");
    g_start_stopped_on_purpose = 1;
    report_error_code(100000, 1);
    return -1;
  }
  // 8: the block-compression library; 9: the archives; 10: without the
  // library the run can't go on.
  step(8);
  int ztzid = load_ztzid_library();
  step(9);
  if (build_archive_index() != 0) return -1;
  step(10);
  if (ztzid != 0) return -1;
  // 11: one copy per folder, unless the archive rides in the program file.
  step(11);
  if (!g_archive_in_program) {
    NamedLock* folder = nullptr;
    const int made = g_platform.locks->create(g_paths.folder_lock_name.c_str(), &folder);
    if (made < 0) show_lock_failure();
    if (made != 0) {
      // Another copy runs from the folder: a stop as it should be.
      if (made > 0) {
        activate_running_instance(folder_class_name().c_str());
        g_start_stopped_on_purpose = 1;
      }
      return -1;
    }
    g_instance_locks[2] = folder;
    g_platform.locks->release(g_instance_locks[1]);
    g_instance_locks[1] = nullptr;
  }
  // 12: the project folder, or the outside compiler.
  step(12);
  if (g_compiled_scripts_present) {
    g_paths.project_folder = g_paths.program_folder_true;
  } else if (run_script_compiler() != 0) {
    return -1;
  }
  if (g_paths.project_folder.empty()) g_paths.project_folder = g_paths.program_folder_true;
  // 13: one-time initialisation and the save-folder test.
  step(13);
  engine_global_init();
  test_project_folder_writable();
  // 14-15: window records and the engine configuration.
  step(14);
  if (create_window_records() != 0) return -1;
  step(15);
  if (load_engine_config() != 0) return -1;
  // 16: desktop composition, when configured (systems from code 65 have it).
  step(16);
  if (g_settings.desktop_composition_off && g_os_code >= 65) disable_desktop_composition();
  // 17-18: the initial client size and the screen frame buffer. In
  // screen-saver mode window 0 is as large as the desktop (its record takes
  // the desktop size when it is set up).
  step(17);
  i32 logical_w = 0, logical_h = 0;
  get_logical_screen_size(&logical_w, &logical_h);
  if (g_screen_saver_mode) {
    logical_w = g_desktop_metrics[0];
    logical_h = g_desktop_metrics[1];
  }
  i32 client_w = logical_w, client_h = logical_h;
  if (logical_w > g_desktop_metrics[0] || logical_h > g_desktop_metrics[1]) {
    client_w = g_desktop_metrics[0] / 2;
    client_h = g_desktop_metrics[1] / 2;
  }
  step(18);
  if (alloc_screen_buffer(client_w, client_h) != 0) return -1;
  // 19: the main window, announced to other copies once it exists.
  step(19);
  setup_screen_record(0);
  if (create_main_window() != 0) {
    show_error_box(sjis_message("エラー"), sjis_message("ウィンドウが生成できませんでした。"));
    return -1;
  }
  announce_main_window();
  // 20-21: timer, menu strip, the four object trees.
  step(20);
  init_timer();
  // A screen saver covers the desktop as it is: no display mode of its own.
  if (g_screen_saver_mode) g_settings.fullscreen_switch_a = 0;
  step(21);
  if (create_menu_strip_window() != 0) return -1;
  if (create_system_objects() != 0 || fatal_reported()) return -1;
  // 22: sound device (a required device that fails stops start-up).
  step(22);
  if (create_direct_sound() != 0) return -1;
  // 23: joystick, pacing clock, start time.
  step(23);
  // The run's input starts clear: keys, counters, press counts and the
  // joystick records.
  reset_input_state();
  g_joystick_count = 0;
  init_joystick();
  g_pacing.pacing_clock = 0;
  g_start_time = local_time_now();
  // 24-25: optional plug-ins; system information with Direct3D drawing on
  // (a plug-in may have switched it on).
  step(24);
  load_optional_plugins();
  step(25);
  if (g_settings.use_direct3d) dump_system_info();
  // The font families and the font slots' defaults, before any script runs.
  build_font_list();
  // 26: the compiled engine files.
  step(26);
  if (load_engine_data() != 0) {
    request_close();
    return 1;
  }
  // 27: pixel workers and the sound system.
  step(27);
  if (start_pixel_workers() != 0) return -1;
  if (start_sound_system() != 0) return -1;
  // 28-29: windowed mode; clocks and the save cache. These run before the
  // frame thread starts, so no script runs while they change.
  step(28);
  step(29);
  reset_engine_clocks();
  clear_save_data_cache();
  // 30: with Direct3D drawing on, the GPU device for screen-copy layers and
  // GPU pastes; a failure falls back to CPU drawing.
  step(30);
  if (g_settings.use_direct3d) {
    int d3d = init_d3d();
    if (d3d == 1 || d3d == -1) fall_back_to_cpu_drawing();
    if (d3d == -1) {
      g_quit_requested = 1;
      return -1;
    }
    if (d3d == 1) show_error_box("", sjis_message("GPU描画が出来ませんでした。CPU描画に移行します。"));
  }
  // 31: the frame thread starts last, when the engine stands. From here a
  // fatal error of a frame ends the run through the main loop, so start-up
  // has nothing more to look at.
  if (fatal_reported()) return -1;
  step(31);
  start_frame_thread();
  return 0;
}

void release_instance_mutexes() {
  for (NamedLock*& lock : g_instance_locks) {
    g_platform.locks->release(lock);
    lock = nullptr;
  }
}

int launch_process(const std::string& sjis_program) {
  // The program path is passed as the program itself, never through a
  // command line, so spaces in the path need no quoting.
  return g_platform.process->start_program(sjis_program.c_str(), {});
}

void shutdown_engine() {
  // Every thread ends once it sees quit-requested, so it is set before the
  // waits; shut-down can't wait for a thread that waits for it.
  g_quit_requested = 1;
  shutdown_step(1);
  for (;;) {
    u8 state;
    {
      EngineLockGuard lock;
      state = g_sound_thread_state;
    }
    if (state != kThreadRunning) break;
    // A box the sound thread asked for is shown meanwhile.
    g_platform.ui->process_desktop_events();
    g_platform.clock->sleep_ms(1);
  }
  shutdown_step(2);
  join_frame_thread();
  shutdown_step(3);
  stop_pixel_workers();
  shutdown_step(4);
  release_emote();
  shutdown_step(5);
  release_d3d();
  shutdown_step(6);
  stop_movies();
  release_direct_sound();
  shutdown_step(7);
  destroy_menu_sets();
  shutdown_step(8);
  leave_full_screen();
  shutdown_step(9);
  restore_cursor();
  free_font_slots();
  free_memory_save_slots();
  close_flash_host();
  shutdown_step(10);
  unload_ztzid_library();
  unload_optional_plugins();
  // A text the scripts put on the clipboard outlives the program.
  g_platform.clipboard->store();
  withdraw_main_window();
  destroy_windows();
  std::free(g_screen_buffer.pixels);
  g_screen_buffer = ScreenBuffer{};
  // Every thread has ended: what the run loaded and built goes, so that a
  // run leaves nothing behind (the window records go once the signal
  // watcher, which may still read them, has stopped).
  release_frame_decoder();
  memory_groups_clear();
  reset_scheduler();
  destroy_system_objects();
  free_engine_data();
  var_table_free();
  free_command_list();
}
