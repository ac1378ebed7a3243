// Command handlers whose subsystems are not built yet: each reports
// kErrCommandNotBuilt with its command id and fails. An owner deletes the
// handler's line here and defines it in its own file.
#include "engine/commands/command_table.h"

u32 cmd_layer_draw() { return command_not_built(2); }
u32 cmd_object_release() { return command_not_built(3); }
u32 cmd_object_get_property() { return command_not_built(4); }
u32 cmd_clipboard_set_text() { return command_not_built(5); }
u32 cmd_clipboard_get_text() { return command_not_built(6); }
u32 cmd_file_read_csv_fields() { return command_not_built(7); }
u32 cmd_file_count_separators() { return command_not_built(8); }
u32 cmd_dialog_show() { return command_not_built(10); }
u32 cmd_motion_object_set() { return command_not_built(12); }
u32 cmd_engine_quit() { return command_not_built(13); }
u32 cmd_error_switch_set() { return command_not_built(14); }
u32 cmd_layer_save_image() { return command_not_built(20); }
u32 cmd_flash_open() { return command_not_built(22); }
u32 cmd_flash_close() { return command_not_built(23); }
u32 cmd_flash_poll() { return command_not_built(24); }
u32 cmd_text_style_set() { return command_not_built(26); }
u32 cmd_text_measure() { return command_not_built(27); }
u32 cmd_frame_rate_set() { return command_not_built(28); }
u32 cmd_savedata_load() { return command_not_built(54); }
u32 cmd_movie_play() { return command_not_built(70); }
u32 cmd_movie_stop() { return command_not_built(71); }
u32 cmd_movie_query() { return command_not_built(72); }
u32 cmd_theora_play() { return command_not_built(73); }
u32 cmd_theora_stop() { return command_not_built(74); }
u32 cmd_theora_query() { return command_not_built(75); }
u32 cmd_text_end() { return command_not_built(81); }
u32 cmd_savedata_write() { return command_not_built(86); }
u32 cmd_savedata_cache_clear() { return command_not_built(87); }
u32 cmd_sound_control() { return command_not_built(89); }
u32 cmd_sound_delete() { return command_not_built(90); }
u32 cmd_sound_query() { return command_not_built(91); }
u32 cmd_engine_config_set() { return command_not_built(93); }
u32 cmd_scriptlist_query() { return command_not_built(94); }
u32 cmd_task_query() { return command_not_built(97); }
u32 cmd_file_load_lines() { return command_not_built(98); }
u32 cmd_array_modify() { return command_not_built(102); }
u32 cmd_var_query() { return command_not_built(103); }
u32 cmd_text_append() { return command_not_built(108); }
u32 cmd_layer_load_frames() { return command_not_built(109); }
u32 cmd_layer_release_frames() { return command_not_built(110); }
u32 cmd_layer_query_frames() { return command_not_built(111); }
u32 cmd_text_append_value() { return command_not_built(112); }
u32 cmd_system() { return command_not_built(116); }
