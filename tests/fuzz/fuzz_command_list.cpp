// The command list reader on arbitrary bytes, then decoding of one
// instruction whose argument records come from the same input.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = [] {
    platform_select_fakes();
    g_errors_quiet = true;
    init_expr_ops(1);
    init_arg_eval_tables();
    var_table_create(1001);
    return true;
  }();
  (void)ready;
  if (size > 65536) return 0;
  if (parse_command_list(data, size) == 0 && size >= 1) {
    // Records from the input's tail, the whole input as the pool.
    u32 count = data[size - 1] % 8;
    static CommandArgRecord records[8];
    for (u32 k = 0; k < count && (k + 1) * kArgRecordSize <= size; ++k)
      records[k] = read_arg_record(data + size - (k + 1) * kArgRecordSize);
    g_current_instruction = CurrentInstruction{0, records, count, data, static_cast<u32>(size)};
    for (u32 c = 0; c < g_command_list.count && c < 4; ++c) decode_command_args(c);
  }
  g_quit_requested = 0;
  return 0;
}
