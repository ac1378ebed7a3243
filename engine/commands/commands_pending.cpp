// Command handlers whose subsystems are not built yet: each reports
// kErrCommandNotBuilt with its command id and fails. An owner deletes the
// handler's line here and defines it in its own file.
#include "engine/commands/command_table.h"

u32 cmd_savedata_load() { return command_not_built(54); }
u32 cmd_savedata_write() { return command_not_built(86); }
u32 cmd_savedata_cache_clear() { return command_not_built(87); }
