// How the scheduler reaches the command handlers: the table of 121 handlers
// by command id that compiled instructions are bound to when a script loads.
// The VM knows no handler by name: the command layer hands it the fixed
// binding of every id once at start-up (g_command_bindings), and loading the
// command list fills the live table from it.
#pragma once
#include "engine/frame/types.h"

constexpr u32 kCommandCount = 121;
// A handler takes no arguments and returns a 32-bit result whose low byte
// decides: 0 goes on with the next instruction in the same turn, non-zero
// ends the task's turn; a reported failure returns -1 (0xFFFFFFFF).
using CommandHandler = u32 (*)();

// The live table, filled by fill_command_table (tests may replace entries).
extern CommandHandler g_command_table[kCommandCount];
// The fixed binding of every command id (kCommandCount entries), set at
// start-up by the command layer; null until then.
extern const CommandHandler* g_command_bindings;

// Fills g_command_table from the bindings (every entry null without them).
void fill_command_table();
// The handler of a command id from a compiled file: the table entry, or
// null after reporting kErrCompiledDataDamaged when id >= 121, the id is
// beyond the command list's count or nothing is bound to it.
CommandHandler command_handler_for(u32 command_id);
