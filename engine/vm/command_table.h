// The command table: one handler per command id 0-120. A handler takes no
// arguments, starts with decode_command_args of its own id (most do) and
// returns a 32-bit result whose low byte decides: 0 goes on with the next
// instruction in the same turn, non-zero ends the task's turn; a reported
// failure returns -1 (0xFFFFFFFF).
//
// Handlers of subsystems not built yet are defined in commands_pending.cpp,
// one line each, reporting kErrCommandNotBuilt (900060, engine/vm/vm_errors.h)
// with the command id. To build one, delete its line there and define the
// handler (same name) in your own file; the table picks it up unchanged.
#pragma once
#include "engine/frame/types.h"

constexpr u32 kCommandCount = 121;
using CommandHandler = u32 (*)();
extern CommandHandler g_command_table[kCommandCount];

// Fills g_command_table: cmd_undefined everywhere, then the fixed handlers.
void fill_command_table();
// The handler of a command id from a compiled file: the table entry, or
// null after reporting kErrCompiledDataDamaged when id >= 121 or the id is
// beyond the command list's count.
CommandHandler command_handler_for(u32 command_id);

// Reports kErrCommandNotBuilt (fatal) with the command id; returns -1.
u32 command_not_built(u32 command_id);

// Handlers built here.
u32 cmd_nop();        // returns 0 without decoding
u32 cmd_undefined();  // 900050 (fatal), -1
// Decode the arguments (their range checks apply) and return 0.
u32 cmd_args_only_15();
u32 cmd_args_only_66();
u32 cmd_args_only_67();
u32 cmd_args_only_68();
u32 cmd_args_only_76();
u32 cmd_args_only_88();
u32 cmd_args_only_99();
u32 cmd_args_only_101();

// Handlers of the command families (by command id).
u32 cmd_layer_load_image();  // 1
u32 cmd_layer_draw();  // 2
u32 cmd_object_release();  // 3
u32 cmd_object_get_property();  // 4
u32 cmd_clipboard_set_text();  // 5
u32 cmd_clipboard_get_text();  // 6
u32 cmd_file_read_csv_fields();  // 7
u32 cmd_file_count_separators();  // 8
u32 cmd_dialog_show();  // 10
u32 cmd_block_else();  // 11
u32 cmd_motion_object_set();  // 12
u32 cmd_engine_quit();  // 13
u32 cmd_error_switch_set();  // 14
u32 cmd_layer_save_image();  // 20
u32 cmd_file_query();  // 21
u32 cmd_flash_open();  // 22
u32 cmd_flash_close();  // 23
u32 cmd_flash_poll();  // 24
u32 cmd_var_declare_float();  // 25
u32 cmd_text_style_set();  // 26
u32 cmd_text_measure();  // 27
u32 cmd_frame_rate_set();  // 28
u32 cmd_label_jump();  // 42
u32 cmd_label_call();  // 43
u32 cmd_block_begin();  // 44
u32 cmd_block_skip();  // 45
u32 cmd_block_break();  // 46
u32 cmd_block_continue();  // 47
u32 cmd_block_end();  // 48
u32 cmd_input_config();  // 49
u32 cmd_var_declare_int();  // 50
u32 cmd_label_exists();  // 52
u32 cmd_var_assign();  // 53
u32 cmd_savedata_load();  // 54
u32 cmd_loop_begin();  // 55
u32 cmd_loop_break();  // 56
u32 cmd_loop_continue();  // 57
u32 cmd_loop_end();  // 58
u32 cmd_math_compute();  // 60
u32 cmd_var_compute();  // 61
u32 cmd_menu_item_set();  // 62
u32 cmd_menu_popup();  // 63
u32 cmd_menu_item_delete();  // 64
u32 cmd_menu_item_query();  // 65
u32 cmd_cursor_set();  // 69
u32 cmd_movie_play();  // 70
u32 cmd_movie_stop();  // 71
u32 cmd_movie_query();  // 72
u32 cmd_theora_play();  // 73
u32 cmd_theora_stop();  // 74
u32 cmd_theora_query();  // 75
u32 cmd_registry_read();  // 78
u32 cmd_call_return();  // 79
u32 cmd_text_end();  // 81
u32 cmd_savedata_write();  // 86
u32 cmd_savedata_cache_clear();  // 87
u32 cmd_sound_control();  // 89
u32 cmd_sound_delete();  // 90
u32 cmd_sound_query();  // 91
u32 cmd_var_declare_string();  // 92
u32 cmd_engine_config_set();  // 93
u32 cmd_scriptlist_query();  // 94
u32 cmd_task_start();  // 95
u32 cmd_task_stop();  // 96
u32 cmd_task_query();  // 97
u32 cmd_file_load_lines();  // 98
u32 cmd_tray_icon_set();  // 100
u32 cmd_array_modify();  // 102
u32 cmd_var_query();  // 103
u32 cmd_wait();  // 104
u32 cmd_window_show_layerset();  // 105
u32 cmd_window_show();  // 106
u32 cmd_window_get_rect();  // 107
u32 cmd_text_append();  // 108
u32 cmd_layer_load_frames();  // 109
u32 cmd_layer_release_frames();  // 110
u32 cmd_layer_query_frames();  // 111
u32 cmd_text_append_value();  // 112
u32 cmd_system();  // 116
