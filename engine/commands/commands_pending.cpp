// Command handlers whose subsystems are not built yet: each reports
// kErrCommandNotBuilt with its command id and fails. An owner deletes the
// handler's line here and defines it in its own file.
#include "engine/commands/command_table.h"

