// The window commands: 105 sets up a window, 106 shows the main window,
// 107 answers a question about a window.
#include <string>

#include "engine/commands/command_params.h"
#include "engine/commands/command_table.h"
#include "engine/frame/window.h"
#include "engine/vm/command_args.h"

namespace {
constexpr u32 kCmdShowLayerset = 105;
constexpr u32 kCmdShow = 106;
constexpr u32 kCmdGetRect = 107;
constexpr u32 kFailed = 0xFFFFFFFFu;
constexpr u32 kResultParam = 1;
}  // namespace

u32 cmd_window_show_layerset() {
  if (decode_command_args(kCmdShowLayerset) != 0) return kFailed;
  return window_setup(decoded_params(kCmdShowLayerset)) == 0 ? 0 : kFailed;
}

u32 cmd_window_show() {
  if (decode_command_args(kCmdShow) != 0) return kFailed;
  window_show_main();
  return 0;
}

// The first given question in the command's order, answered into the result
// variable of parameter 1.
u32 cmd_window_get_rect() {
  if (decode_command_args(kCmdGetRect) != 0) return kFailed;
  const i64 index = arg_given(0) ? arg_value(0) : 0;
  static const u32 kOrder[] = {2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 14, 17};
  for (u32 p : kOrder) {
    if (!arg_given(p)) continue;
    i64 number = 0;
    std::string text;
    if (window_query(index, p, &number, &text) == 1)
      return store_text_result(kCmdGetRect, kResultParam, text) == 0 ? 0 : kFailed;
    return store_number_result(kCmdGetRect, kResultParam, number) == 0 ? 0 : kFailed;
  }
  return 0;
}
