// The command table and the handlers that are only table entries.
#include "engine/commands/command_table.h"

#include "engine/frame/errors.h"
#include "engine/vm/command_args.h"
#include "engine/vm/vm_errors.h"

namespace {
constexpr u32 kFailed = static_cast<u32>(-1);
u32 args_only(u32 command) { return decode_command_args(command) != 0 ? kFailed : 0; }
}  // namespace

u32 cmd_nop() { return 0; }
u32 cmd_undefined() {
  report_error_code_at(kErrUndefinedCommand, 1);
  return kFailed;
}
u32 cmd_args_only_15() { return args_only(15); }
u32 cmd_args_only_66() { return args_only(66); }
u32 cmd_args_only_67() { return args_only(67); }
u32 cmd_args_only_68() { return args_only(68); }
u32 cmd_args_only_76() { return args_only(76); }
u32 cmd_args_only_88() { return args_only(88); }
u32 cmd_args_only_99() { return args_only(99); }
u32 cmd_args_only_101() { return args_only(101); }

namespace {

CommandHandler g_bindings[kCommandCount] = {};

void bind_command_handlers() {
  CommandHandler* t = g_bindings;
  for (u32 i = 0; i < kCommandCount; ++i) t[i] = cmd_undefined;
  t[0] = cmd_nop;
  t[1] = cmd_layer_load_image;
  t[2] = cmd_layer_draw;
  t[3] = cmd_object_release;
  t[4] = cmd_object_get_property;
  t[5] = cmd_clipboard_set_text;
  t[6] = cmd_clipboard_get_text;
  t[7] = cmd_file_read_csv_fields;
  t[8] = cmd_file_count_separators;
  t[9] = cmd_nop;
  t[10] = cmd_dialog_show;
  t[11] = cmd_block_else;
  t[12] = cmd_motion_object_set;
  t[13] = cmd_engine_quit;
  t[14] = cmd_error_switch_set;
  t[15] = cmd_args_only_15;
  t[20] = cmd_layer_save_image;
  t[21] = cmd_file_query;
  t[22] = cmd_flash_open;
  t[23] = cmd_flash_close;
  t[24] = cmd_flash_poll;
  t[25] = cmd_var_declare_float;
  t[26] = cmd_text_style_set;
  t[27] = cmd_text_measure;
  t[28] = cmd_frame_rate_set;
  t[42] = cmd_label_jump;
  t[43] = cmd_label_call;
  t[44] = cmd_block_begin;
  t[45] = cmd_block_skip;
  t[46] = cmd_block_break;
  t[47] = cmd_block_continue;
  t[48] = cmd_block_end;
  t[49] = cmd_input_config;
  t[50] = cmd_var_declare_int;
  t[51] = cmd_nop;
  t[52] = cmd_label_exists;
  t[53] = cmd_var_assign;
  t[54] = cmd_savedata_load;
  t[55] = cmd_loop_begin;
  t[56] = cmd_loop_break;
  t[57] = cmd_loop_continue;
  t[58] = cmd_loop_end;
  t[60] = cmd_math_compute;
  t[61] = cmd_var_compute;
  t[62] = cmd_menu_item_set;
  t[63] = cmd_menu_popup;
  t[64] = cmd_menu_item_delete;
  t[65] = cmd_menu_item_query;
  t[66] = cmd_args_only_66;
  t[67] = cmd_args_only_67;
  t[68] = cmd_args_only_68;
  t[69] = cmd_cursor_set;
  t[70] = cmd_movie_play;
  t[71] = cmd_movie_stop;
  t[72] = cmd_movie_query;
  t[73] = cmd_theora_play;
  t[74] = cmd_theora_stop;
  t[75] = cmd_theora_query;
  t[76] = cmd_args_only_76;
  t[77] = cmd_nop;
  t[78] = cmd_registry_read;
  t[79] = cmd_call_return;
  t[80] = cmd_nop;
  t[81] = cmd_text_end;
  t[82] = cmd_nop;
  t[83] = cmd_nop;
  t[84] = cmd_nop;
  t[86] = cmd_savedata_write;
  t[87] = cmd_savedata_cache_clear;
  t[88] = cmd_args_only_88;
  t[89] = cmd_sound_control;
  t[90] = cmd_sound_delete;
  t[91] = cmd_sound_query;
  t[92] = cmd_var_declare_string;
  t[93] = cmd_engine_config_set;
  t[94] = cmd_scriptlist_query;
  t[95] = cmd_task_start;
  t[96] = cmd_task_stop;
  t[97] = cmd_task_query;
  t[98] = cmd_file_load_lines;
  t[99] = cmd_args_only_99;
  t[100] = cmd_tray_icon_set;
  t[101] = cmd_args_only_101;
  t[102] = cmd_array_modify;
  t[103] = cmd_var_query;
  t[104] = cmd_wait;
  t[105] = cmd_window_show_layerset;
  t[106] = cmd_window_show;
  t[107] = cmd_window_get_rect;
  t[108] = cmd_text_append;
  t[109] = cmd_layer_load_frames;
  t[110] = cmd_layer_release_frames;
  t[111] = cmd_layer_query_frames;
  t[112] = cmd_text_append_value;
  t[116] = cmd_system;
}

}  // namespace

void init_command_table() {
  bind_command_handlers();
  g_command_bindings = g_bindings;
}
