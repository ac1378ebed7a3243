// The steps that start-up, the frame loop and shut-down call in other parts
// of the engine. Each is defined by the part that owns it; until that part is
// built, its step is defined in engine_steps_pending.cpp, where it does
// nothing and reports success, so the order of start-up, of a frame and of
// shut-down stays as it is while the parts are filled in. A part that builds
// a step deletes it from engine_steps_pending.cpp and defines it in its own
// file.
//
// Results: 0 success, non-zero (negative) failure, unless said otherwise.
#pragma once
#include "engine/frame/types.h"

// ---- start-up (engine_startup, in its order) ----
int read_engine_settings();          // "ztcfg.dat"
int resolve_save_folder();           // "ztsfs.dat"
void init_span_ops();                // span-kernel table from CPU features
int init_name_swap_table();          // archive-name swap table; 0
int build_archive_index();           // archives and the lookup index
int run_script_compiler();           // compiler bridge (no compiled scripts)
int handle_screen_saver_arguments(); // non-zero: the run ends before start-up
// engine_global_init's parts:
void seed_script_random(u32 seed);   // MT19937 of the scripts
void init_blend_tables();            // blend kernels and product tables
void init_arg_eval_tables();         // argument-evaluator tables
void init_command_table();           // the command handlers, handed to the VM
void init_key_counter_callbacks();
void init_var_ops();
void init_expr_ops(int mode);
void set_all_error_switches();       // the scripts' error switches, all on
void probe_directx_version();
int create_window_records();         // the 4 window slots
int load_engine_config();            // "ztbin\ztcfg.zbn"
// Logical size of window 0 as configured (defaults before the configuration).
void get_logical_screen_size(i32* width, i32* height);
int setup_screen_record(int window);
int create_main_window();            // class = instance name; 0 or -1
int create_menu_strip_window();      // "ztMncl"
int create_system_objects();         // "W0", "SYSTEM", "S0", "M0"
int create_direct_sound();           // 0 opened, -1 failed
int init_joystick();                 // 1 when a joystick is present
void load_optional_plugins();        // E-mote, touch, WebP
void dump_system_info();
int build_font_list();               // installed families, slot defaults
int load_engine_data();              // compiled engine files, "SYSTEM_START"
int start_pixel_workers();
int start_sound_system();
void reset_engine_clocks();
void clear_save_data_cache();
int init_d3d();                      // 0 ok, 1 soft failure, -1 hard failure
// Desktop size for the initial client size (width, height, bits, refresh).
void get_desktop_metrics(i32 metrics[4]);

// Caption of the error dialog ("License Information" for "/info").
void set_error_dialog_caption(const char* caption);

// ---- frame (run_frame, in its order) ----
void theora_movie_step();
void update_input_state();
void poll_window_input();
int run_script_tasks();              // non-zero: the run must close
void detect_layer_changes();
int frame_draw_allowed();            // force-draw switch and movie state
int draw_window(int window);         // non-zero: the run must close
void show_main_window_first_frame(); // shows window 0 when it waits for it
void update_fullscreen_menu_strip();
int request_window_repaint(int window);
void reset_dirty_state();
void show_pending_popup_menu();
// Builds again the bars and the icon's menu whose items the scripts changed
// in this frame.
void refresh_changed_menu_bars();
int emote_motion_active();
void advance_emote_times(u32 elapsed_ms);

// ---- messages (GUI thread) ----
// Dispatches the waiting window messages. In frame-thread mode gate() is
// asked before each message and the pump stops when it says no. Returns 1
// when the quit message was seen, else 0.
int pump_window_messages(int (*gate)());
// Sends the main window a close request, as a click on its close button
// would (request_close, signals, another copy's close).
void post_main_window_close();
// Sets the main window's close state (2: closing without confirmation).
void set_main_window_close_state(int state);
// Brings the main window forward (another copy of the program was started).
void bring_main_window_forward();
// The window procedure's calls into other parts:
void present_window_frame(int window);  // WM_PAINT and activation: show the frame
// Size and position messages (WM_MOVE, WM_SIZE, WM_SIZING, WM_GETMINMAXINFO,
// WM_WINDOWPOSCHANGED) for the screen-mode handlers.
void window_geometry_message(int window, u32 message, u64 wparam, i64 lparam);
// Places the child areas over window 0 (window movie, Flash) again after
// its client size changed.
void rescale_child_areas();
// 1 when the window's root image has a non-transparent pixel (low 24 bits
// not 0) at client position x, y (the opaque-press switch).
int window_pixel_opaque(int window, i32 x, i32 y);
// Destroys menu set 0's menus and nulls their handles (main window closed).
void destroy_main_menus();
// Loads the menu definition name (a path in the menu tree; "" removes the
// bar) as the window's menu bar. 0, or -1 after a reported error.
int load_menu_bar(const char* name, int window);
// Takes the notification-area icon away when it is shown (window 0
// destroyed, shut-down).
void remove_tray_icon();
// What holds the game clocks still. Each holder counts once, however the
// holds overlap or nest: the clocks stand while any holder holds them and
// the time they stood is taken out once when the last lets go, so no game
// clock ever goes back. A holder that holds already, or lets go without
// holding, changes nothing.
enum : u32 {
  kClockHoldEngine = 1,       // the engine pause (inactive window)
  kClockHoldScript = 2,       // the scripts' pause (system command 20013 / 20014)
  kClockHoldDrag = 4,         // the caption is dragged (clock-pause-on-drag switch)
  kClockHoldCloseBox = 8,     // the close confirmation is open
  kClockHoldErrorDialog = 16  // the error dialog is open
};
void game_clock_hold(u32 holder);
void game_clock_release(u32 holder);
// The engine pause: the scripts wait and the clocks stand (holder
// kClockHoldEngine).
void engine_clock_pause();
void engine_clock_resume();
// Pauses the engine while the main window is inactive (when the scripts
// asked for it) and resumes it when the window is active again.
void update_engine_pause();
// A script's message box opens: a movie playing in a control is paused.
void pause_active_movie();
// Window 0 into full screen (the screen-mode part); 0, or -1 when it stayed
// windowed. leave_full_screen (below) goes back.
int enter_full_screen();

// ---- shut-down (shutdown_engine, in its order) ----
void stop_pixel_workers();           // wake and join every worker
void release_emote();
void release_d3d();
void stop_movies();
void release_direct_sound();
void destroy_menu_sets();
void leave_full_screen();
void restore_cursor();
void free_font_slots();
void free_memory_save_slots();
void close_flash_host();
void unload_optional_plugins();
void destroy_windows();
// What the run still holds in memory, freed last (nothing runs any more):
void release_frame_decoder();        // the frames' shared decompressor
void memory_groups_clear();          // the in-memory file groups
void reset_scheduler();              // retired tasks, scheduler state
void destroy_system_objects();       // the four object trees
void free_engine_data();             // compiled scripts, labels, definitions
void var_table_free();               // the variables
void free_command_list();            // the command list
