// The task-state text on arbitrary bytes: restored into a fresh task; when
// it restores, its text written again must restore to the same text, and
// the bytes after it drive the block and loop commands that take the
// restored depths back (loop end, block end and skip, breaks and
// continues). After every command each open depth has its frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/frame/engine_state.h"
#include "engine/vm/command_args.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/task_state.h"
#include "platform/platform.h"

namespace {

// A command list of 121 commands without names or parameters, so that the
// commands that decode find their (empty) argument lists.
std::vector<u8> plain_command_list() {
  std::vector<u8> c(16, 0);
  c[8] = 121;
  for (u32 i = 0; i < 121; ++i) {
    c.push_back(0);
    c.push_back(0);
  }
  for (int e = 0; e < 37; ++e) c.push_back(0);
  c.resize(c.size() + 256, 0);
  return c;
}

void set_up() {
  platform_select_fakes();
  g_errors_quiet = true;
  init_expr_ops(1);
  init_arg_eval_tables();
  std::vector<u8> list = plain_command_list();
  parse_command_list(list.data(), list.size());
  g_engine_data.scripts.resize(2);
  g_engine_data.scripts[0].source_name = "main.txt";
  g_engine_data.scripts[1].source_name = "other.txt";
}

ScriptContext* fresh_task(ObjectNode* root, const char* name) {
  ObjectNode* node = get_named_object(root, name, 0, 1);
  if (!node || make_script_context(node) != 0) std::abort();
  return task_context(node);
}

void check_frames(const ScriptContext* c) {
  for (u32 i = 0; i < c->block_a_depth; ++i)
    if (!c->block_a_frames[i]) __builtin_trap();
  for (u32 i = 0; i < c->block_b_depth; ++i)
    if (!c->block_b_frames[i]) __builtin_trap();
  for (i32 i = 0; i < c->call_depth; ++i)
    if (!c->call_frames[i]) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (set_up(), true);
  (void)ready;
  if (size > 65536) return 0;
  ObjectNode* root = static_cast<ObjectNode*>(std::calloc(1, sizeof(ObjectNode)));
  ScriptContext* c = fresh_task(root, "t");
  const char* text = reinterpret_cast<const char*>(data);
  int read = restore_task_state(text, static_cast<u32>(size), c);
  if (read > 0) {
    check_frames(c);
    std::string once = encode_task_state(c);
    ScriptContext* copy = fresh_task(root, "u");
    if (restore_task_state(once.data(), static_cast<u32>(once.size()), copy) != static_cast<int>(once.size()))
      __builtin_trap();
    if (encode_task_state(copy) != once) __builtin_trap();
    // The rest of the input: the commands that take saved depths back.
    g_scheduler.current_context = c;
    g_current_instruction = CurrentInstruction{};
    for (std::size_t i = static_cast<std::size_t>(read); i < size && i < static_cast<std::size_t>(read) + 64; ++i) {
      switch (data[i] % 7) {
        case 0: cmd_loop_end(); break;
        case 1: cmd_block_end(); break;
        case 2: cmd_block_skip(); break;
        case 3: cmd_block_break(); break;
        case 4: cmd_block_continue(); break;
        case 5: cmd_loop_break(); break;
        default: cmd_loop_continue(); break;
      }
      check_frames(c);
    }
    g_scheduler.current_context = nullptr;
  }
  object_subtree_free(root);
  g_quit_requested = 0;
  return 0;
}
