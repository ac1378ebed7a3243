// Starting, restarting and stopping script tasks (commands 95 and 96).
#include <cstring>
#include <string>
#include <vector>

#include "engine/commands/command_table.h"
#include "engine/frame/errors.h"
#include "engine/frame/main_loop.h"
#include "engine/vm/command_args.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/task_state.h"
#include "engine/vm/vm_errors.h"

namespace {

constexpr u32 kFailed = static_cast<u32>(-1);

// The path of the groups above node, '/'-separated ("" at the root).
std::string base_path_of(const ObjectNode* node) {
  std::vector<const ObjectNode*> chain;
  for (const ObjectNode* n = node ? node->parent : nullptr; n && n->parent; n = n->parent) chain.push_back(n);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += (*it)->name ? (*it)->name : "";
  }
  return path;
}

// The task named by parameter 0 relative to the current task: 1 named (path
// filled, node may be null), 0 not given, -1 after reporting.
int named_task(u32 cmd, char* path, ObjectNode** node) {
  *node = nullptr;
  if (!arg_given(0)) return 0;
  std::string base = base_path_of(g_scheduler.current_task);
  int kind = build_object_path(path, arg_text(0), base.c_str(), 0);
  if (kind < 0) return -1;
  if (kind == 1) {
    report_error_at(kErrTaskIsGroup, 1, command_name_of(cmd), path);
    return -1;
  }
  ObjectNode* root = g_object_roots[kTreeTask];
  *node = root ? resolve_object_path(root, path, 0) : nullptr;
  return 1;
}

void reset_task_slots(ScriptContext* c) {
  for (u32 k = 0; k <= kCallValues; ++k) {
    c->task_ints[k] = 0;
    c->task_floats[k] = 0.0;
    if (c->task_texts[k]) c->task_texts[k][0] = 0;
  }
}

}  // namespace

u32 cmd_task_start() {
  if (decode_command_args(95) != 0) return kFailed;
  char path[kObjectPathSize];
  ObjectNode* node = nullptr;
  int named = named_task(95, path, &node);
  if (named < 0) return kFailed;
  if (named == 0) {
    node = g_scheduler.current_task;
    std::strcpy(path, node && node->name ? node->name : "");
  }
  // The order key.
  i64 key = 1;
  if (arg_given(3) && !arg_given(37)) {
    const DecodedSlot& s = g_args_decoded.slots[arg_slot(3)];
    key = apply_assign_op_clamped(s.assign_op, node ? node->order_key : 1, s.value, 1, INT64_MAX);
    if (key < 1) key = 1;
    if (node && key != node->order_key) layer_reorder(node, key);
  }
  if (!node && !arg_given(34)) {
    report_error_at(kErrTaskMissing, 1, command_name_of(95), path);
    return kFailed;
  }
  ScriptContext* c = task_context(node);
  if (arg_given(34)) {
    const char* name = arg_text(34);
    const LabelRecord* l = label_at(find_label(name, static_cast<u32>(std::strlen(name))));
    if (!l) {
      report_error_at(kErrLabelMissing, 1, name);
      return kFailed;
    }
    // The script first, so that a script that can't be loaded leaves no
    // task behind.
    if (!load_script_file(l->script_no)) return kFailed;
    if (!node) {
      ObjectNode* root = g_object_roots[kTreeTask];
      node = root ? get_named_object(root, path, 0, key) : nullptr;
      if (!node || make_script_context(node) != 0) return kFailed;
      c = task_context(node);
    }
    if (!c) return kFailed;
    if (context_enter_script(c, l->script_no) != 0) return kFailed;
    c->pc = l->instruction;
    // A restart begins afresh at the label, as a jump would: no open calls,
    // the label's depths, no waits; a text reset still pending is carried
    // out now (the text record is reset, as the task's next turn would).
    c->block_a_depth = l->block_a_depth;
    c->block_b_depth = l->block_b_depth;
    c->call_depth = 0;
    c->wait_frames = 0;
    c->wake_pending = 0;
    c->wake_time = 0;
    apply_pending_text_reset(c);
    if (ensure_block_frames(c, l->block_a_depth) != 0 || ensure_loop_frames(c, l->block_b_depth) != 0) return kFailed;
    reset_task_slots(c);
  }
  if (!c) {
    report_error_at(kErrTaskMissing, 1, command_name_of(95), path);
    return kFailed;
  }
  for (u32 k = 1; k <= 10; ++k) {
    if (arg_given(3 + k)) c->task_ints[k] = arg_value(3 + k);
    if (arg_given(13 + k)) c->task_floats[k] = static_cast<double>(arg_value(13 + k));
  }
  if (arg_given(1)) c->enable_a = static_cast<u8>(arg_value(1));
  if (arg_given(2)) c->enable_b = static_cast<u8>(arg_value(2));
  if (arg_given(35)) {
    u16 before = c->script_no;
    const char* text = arg_text(35);
    if (restore_task_state(text, static_cast<u32>(std::strlen(text)), c) <= 0) return kFailed;
    if (c->script_no != before || !c->script) {
      if (context_enter_script(c, c->script_no) != 0) return kFailed;
    }
  }
  if (arg_given(37)) {
    g_run_again_request = 1;
    if (arg_given(3)) g_scheduler.priority_limit = arg_value(3);
  }
  return 0;
}

u32 cmd_task_stop() {
  if (decode_command_args(96) != 0) return kFailed;
  ObjectNode* system = g_system_objects[kTreeTask];
  ObjectNode* current = g_scheduler.current_task;
  char path[kObjectPathSize];
  ObjectNode* node = nullptr;
  int named = named_task(96, path, &node);
  if (named < 0) return kFailed;
  if (named == 0) node = current;
  if (node && node == system) {
    report_error_at(kErrStopSystemTask, 1, command_name_of(96));
    return kFailed;
  }
  if (!node) {
    report_error_at(kErrTaskMissing, 1, command_name_of(96), named ? path : "");
    return kFailed;
  }
  retire_task(node);
  // The caller's turn ends only when it stopped itself.
  return node == current ? kFailed : 0;
}
