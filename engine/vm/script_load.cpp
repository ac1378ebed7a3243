// Loading the compiled engine files at start-up and pointing the task
// "SYSTEM" at the label "SYSTEM_START".
#include <cstring>

#include "engine/frame/engine_steps.h"
#include "engine/frame/errors.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"

namespace {
constexpr char kStartLabel[] = "SYSTEM_START";
}

int load_engine_data() {
  install_script_position_hook();
  if (load_error_texts() != 0 || load_command_table() != 0 || load_var_table_header() != 0 ||
      load_script_list() != 0 || load_var_defs() != 0 || load_script_vars(-1) != 0 || load_labels() != 0)
    return 1;
  i32 index = find_label(kStartLabel, static_cast<u32>(std::strlen(kStartLabel)));
  const LabelRecord* label = label_at(index);
  if (!label) {
    report_error_fmt(kErrLabelMissing, 1, kStartLabel);
    return 1;
  }
  ObjectNode* root = g_object_roots[kTreeTask];
  ObjectNode* system = root ? find_leaf_child(root, "SYSTEM", 6) : nullptr;
  ScriptContext* ctx = task_context(system);
  if (!ctx) return -1;
  if (context_enter_script(ctx, label->script_no) != 0) return 1;
  ctx->pc = label->instruction;
  ctx->block_a_depth = label->block_a_depth;
  ctx->block_b_depth = label->block_b_depth;
  // Frames for the depths the label starts at.
  if (ensure_block_frames(ctx, label->block_a_depth) != 0 || ensure_loop_frames(ctx, label->block_b_depth) != 0)
    return 1;
  return 0;
}
