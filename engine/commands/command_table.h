// The command layer's table: the handler bound to each command id 0-120,
// handed to the VM at start-up. Every script command lives in this folder,
// one file per family; a handler decodes its arguments (decode_command_args)
// and calls plain functions of the subsystem that does the work.
#pragma once
#include "engine/frame/types.h"
#include "engine/vm/command_dispatch.h"
#include "engine/vm/control_flow.h"

// Binds every command id (cmd_undefined where nothing is bound) and hands
// the bindings to the VM, which fills its table from them when the command
// list loads. Called once by the engine's global initialisation; harmless
// again.
void init_command_table();

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
u32 cmd_input_config();  // 49
u32 cmd_var_declare_int();  // 50
u32 cmd_var_assign();  // 53
u32 cmd_savedata_load();  // 54
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
