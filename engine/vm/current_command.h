// The name of the command being run, for the messages of the code it calls.
#pragma once

// The command list's name of the current instruction's command ("" when
// there is none).
const char* current_command_name();
