// The text-to-number conversions on arbitrary text: the evaluator's 'i'
// (a text literal of the input, converted in integer and in float
// arithmetic) and the parser of integer expressions written as text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/vm/expr.h"
#include "platform/platform.h"

namespace {

// 'M' with a delimiter that the text does not hold (or the text's end),
// then 'i'.
std::vector<u8> to_number_code(const u8* text, std::size_t n) {
  bool seen[256] = {};
  for (std::size_t i = 0; i < n; ++i) seen[text[i]] = true;
  u8 delimiter = '"';
  for (int d = 1; d < 256; ++d) {
    if (!seen[d]) {
      delimiter = static_cast<u8>(d);
      break;
    }
  }
  std::size_t operand = n + 2;
  std::vector<u8> code = {'M', static_cast<u8>(operand), static_cast<u8>(operand >> 8), delimiter};
  code.insert(code.end(), text, text + n);
  code.push_back(delimiter);
  code.insert(code.end(), {'i', 0, 0});
  return code;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = [] {
    platform_select_fakes();
    g_errors_quiet = true;
    init_expr_ops(1);
    return true;
  }();
  (void)ready;
  if (size > kExprTextSize - 1) return 0;
  std::vector<u8> code = to_number_code(data, size);
  volatile i64 as_int = expr_eval_int(code.data(), static_cast<u32>(code.size()));
  volatile double as_double = expr_eval_double(code.data(), static_cast<u32>(code.size()));
  (void)as_int;
  (void)as_double;
  char text[kExprTextSize];
  std::memcpy(text, data, size);
  text[size] = 0;
  volatile i64 parsed = text_expr_eval(text);
  (void)parsed;
  g_quit_requested = 0;
  return 0;
}
