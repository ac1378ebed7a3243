// Expression code from the input: byte 0 picks the mode (1-4), the rest is
// the code, run against a small variable table (integer, float and text
// arrays at 1000-1002, reference system variable 50).
#include <cstddef>
#include <cstdint>

#include "engine/frame/engine_state.h"
#include "engine/vm/expr.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"

namespace {
void set_up() {
  platform_select_fakes();
  g_errors_quiet = true;
  init_expr_ops(1);
  var_table_create(1003);
  auto declare = [](u32 id, u32 d0, u32 d1) {
    VarRecord* v = var_record(id);
    v->dim_count = d1 ? 2 : 1;
    v->dims[0] = d0;
    v->dims[1] = d1;
  };
  declare(1000, 3, 4);
  var_alloc_int(1000, 7);
  declare(1001, 5, 0);
  var_alloc_double(1001, 1.5);
  declare(1002, 2, 0);
  var_alloc_string(1002, "text", 4);
  var_record(50)->type = kVarInt;
  var_record(52)->type = kVarText;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (set_up(), true);
  (void)ready;
  if (size < 1 || size > 65536) return 0;
  u32 mode = 1 + data[0] % 4;
  char out[kExprTextSize];
  g_expr_declaration = data[0] >= 128 ? 1 : 0;
  if (mode >= 3) {
    (mode == 3 ? expr_eval_string : expr_eval_string_float)(out, data + 1, static_cast<u32>(size - 1));
  } else {
    expr_run(mode, data + 1, static_cast<u32>(size - 1));
  }
  g_expr_declaration = 0;
  text_expr_eval(reinterpret_cast<const char*>(out));
  g_quit_requested = 0;
  return 0;
}
