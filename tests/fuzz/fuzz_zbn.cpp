// The readers of the compiled engine files on arbitrary bytes: the first
// byte picks the reader (error texts, command list, variable table header,
// script list, variable definitions, labels, configuration, compiled
// script with its label pre-resolving), the rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/expr.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "platform/platform.h"

namespace {

// A command list of 121 commands without names or parameters.
std::vector<u8> plain_command_list() {
  std::vector<u8> c(16, 0);
  c[8] = static_cast<u8>(kCommandCount);
  for (u32 i = 0; i < kCommandCount; ++i) {
    c.push_back(0);
    c.push_back(0);
  }
  for (int e = 0; e < 37; ++e) c.push_back(0);
  c.resize(c.size() + 256, 0);
  return c;
}

void reset_tables() {
  static const std::vector<u8> list = plain_command_list();
  parse_command_list(list.data(), list.size());
  fill_command_table();
  free_engine_data();
  g_engine_data.scripts.resize(4);
  g_engine_data.cache.assign(4, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = [] {
    platform_select_fakes();
    g_errors_quiet = true;
    init_expr_ops(1);
    init_var_ops();
    init_arg_eval_tables();
    return true;
  }();
  (void)ready;
  if (size < 1 || size > 262144) return 0;
  reset_tables();
  var_table_create(1200);
  const u8* file = data + 1;
  std::size_t n = size - 1;
  switch (data[0] % 8) {
    case 0: parse_error_texts(file, n, "f"); break;
    case 1: parse_command_table(file, n, "f"); break;
    case 2: parse_var_table_header(file, n, "f"); break;
    case 3: parse_script_list(file, n, "f"); break;
    case 4:
      if (parse_var_defs(file, n, "f") == 0) {
        load_script_vars(-1);
        load_script_vars(1);
      }
      break;
    case 5:
      if (parse_labels(file, n, "f") == 0) {
        for (const LabelRecord& l : g_engine_data.labels) find_label(l.name.data(), static_cast<u32>(l.name.size()));
      }
      break;
    case 6: parse_engine_config(file, n, "f"); break;
    default: {
      ScriptRecord* s = parse_script_file(file, n, "f");
      if (s) {
        preresolve_labels(s);
        free_script_record(s);
      }
      break;
    }
  }
  free_engine_data();
  var_table_free();
  g_quit_requested = 0;
  return 0;
}
