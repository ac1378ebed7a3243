// Command handlers whose subsystems are not built yet: each reports
// kErrCommandNotBuilt with its command id and fails. An owner deletes the
// handler's line here and defines it in its own file.
#include "engine/commands/command_table.h"

u32 cmd_motion_object_set() { return command_not_built(12); }
u32 cmd_layer_save_image() { return command_not_built(20); }
u32 cmd_layer_load_frames() { return command_not_built(109); }
u32 cmd_layer_release_frames() { return command_not_built(110); }
u32 cmd_layer_query_frames() { return command_not_built(111); }
