#include "engine/vm/command_dispatch.h"

#include "engine/frame/errors.h"
#include "engine/vm/current_command.h"
#include "engine/vm/command_args.h"
#include "engine/vm/vm_errors.h"

CommandHandler g_command_table[kCommandCount] = {};
const CommandHandler* g_command_bindings = nullptr;

void fill_command_table() {
  for (u32 i = 0; i < kCommandCount; ++i) g_command_table[i] = g_command_bindings ? g_command_bindings[i] : nullptr;
}

CommandHandler command_handler_for(u32 command_id) {
  if (command_id >= kCommandCount || command_id >= g_command_list.count || !g_command_table[command_id]) {
    report_error_code_at(kErrCompiledDataDamaged, 1);
    return nullptr;
  }
  return g_command_table[command_id];
}

const char* current_command_name() {
  const u32 id = g_current_instruction.command_id;
  const char* n = id < g_command_list.count ? g_command_list.commands[id].name : nullptr;
  return n ? n : "";
}
