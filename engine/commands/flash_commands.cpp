// The Flash commands: 22 opens a movie, 23 closes it, 24 answers about it.
#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/sound/flash_host.h"
#include "engine/vm/command_args.h"

namespace {
constexpr u32 kCmdOpen = 22, kCmdClose = 23, kCmdPoll = 24;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kPollResult = 9;
}  // namespace

u32 cmd_flash_open() {
  if (decode_command_args(kCmdOpen) != 0) return kFailed;
  return flash_open(decoded_params(kCmdOpen)) == 0 ? 0 : kFailed;
}

u32 cmd_flash_close() {
  if (decode_command_args(kCmdClose) != 0) return kFailed;
  flash_close();
  return 0;
}

// The first given question of 0-8, answered into parameter 9.
u32 cmd_flash_poll() {
  if (decode_command_args(kCmdPoll) != 0) return kFailed;
  const ParamSet& a = decoded_params(kCmdPoll);
  for (u32 p = 0; p <= 8; ++p) {
    if (!a.given(p)) continue;
    return store_number_result(kCmdPoll, kPollResult, flash_query(p)) == 0 ? 0 : kFailed;
  }
  return 0;
}
