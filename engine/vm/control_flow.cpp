// Labels, blocks, loops, calls and returns on the current task's stacks.
#include "engine/vm/control_flow.h"

#include <cstring>

#include "engine/frame/errors.h"
#include "engine/vm/command_args.h"
#include "engine/vm/command_dispatch.h"
#include "engine/vm/expr.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/script_files.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"

namespace {

constexpr u32 kFailed = static_cast<u32>(-1);
constexpr u32 kMaxDepth = kStackDepth - 1;  // 63 open entries at most

ScriptContext* ctx() { return g_scheduler.current_context; }

u32 fail_damaged() {
  report_error_code_at(kErrCompiledDataDamaged, 1);
  return kFailed;
}

u32 not_open(u32 cmd, u32 opener) {
  report_error_at(kErrBlockNotOpen, 1, command_name_of(cmd), command_name_of(cmd), command_name_of(opener));
  return kFailed;
}

u32 stack_full(u32 cmd) {
  report_error_at(kErrStackFull, 1, command_name_of(cmd), command_name_of(cmd), 64);
  return kFailed;
}

// Argument record n (1-based) of the current instruction, or null.
const CommandArgRecord* record(u32 n) {
  const CurrentInstruction& in = g_current_instruction;
  return n >= 1 && n <= in.record_count && in.records ? &in.records[n - 1] : nullptr;
}

// The code of a record inside the pool, or null (damaged).
const u8* record_code(const CommandArgRecord& r) {
  static const u8 kNoCode[1] = {0};
  const CurrentInstruction& in = g_current_instruction;
  if (r.arg_type < 1 || r.arg_type > 4) return nullptr;
  if (u64{r.code_offset} + r.code_length > in.expr_pool_size) return nullptr;
  return r.code_length ? in.expr_pool + r.code_offset : kNoCode;
}

// Integer evaluation of a record by its type: 0, or -1 after reporting.
int eval_record_int(const CommandArgRecord* r, i64* out) {
  if (!r) return static_cast<int>(fail_damaged());
  const u8* code = record_code(*r);
  if (!code) return static_cast<int>(fail_damaged());
  *out = g_arg_eval.number[r->arg_type](code, r->code_length);
  return expr_last_failed() ? -1 : 0;
}

// The break/continue level count: parameter 0 (low 32 bits, signed), 1
// when not given.
i32 level_count() { return arg_given(0) ? static_cast<i32>(arg_value(0)) : 1; }

// Moves the context to the label: depths from the label plus the entry
// depths of the current subroutine, frames made for them, pc and script.
u32 go_to_label(ScriptContext* c, const LabelRecord& l) {
  u32 a = l.block_a_depth, b = l.block_b_depth;
  if (c->call_depth > 0) {
    const CallFrame* f = c->call_frames[c->call_depth - 1];
    if (f) {
      a += f->saved_block_a_depth;
      b += f->saved_block_b_depth;
    }
  }
  if (a > kMaxDepth) return stack_full(44);
  if (b > kMaxDepth) return stack_full(55);
  // The frames up to the new depths exist, so the next block or loop
  // command never meets a missing frame (their targets may be stale when a
  // jump enters a block from outside).
  if (ensure_block_frames(c, a) != 0 || ensure_loop_frames(c, b) != 0) return kFailed;
  if (l.script_no != c->script_no || !c->script) {
    if (context_enter_script(c, l.script_no) != 0) return kFailed;
  }
  c->block_a_depth = static_cast<u8>(a);
  c->block_b_depth = static_cast<u8>(b);
  c->pc = l.instruction;
  return 0;
}

// Label by name, reporting 108180 when it is missing.
const LabelRecord* label_named(const char* name) {
  const LabelRecord* l = label_at(find_label(name, static_cast<u32>(std::strlen(name))));
  if (!l) report_error_at(kErrLabelMissing, 1, name);
  return l;
}

// Fills one set of call values from the decoded arguments: integer k from
// parameter int_base + k, float k from float_base + k, text k from
// text_base + k.
int fill_values(CallValues& v, const CallCounts& n, u32 int_base, u32 float_base, u32 text_base) {
  v.int_count = static_cast<u8>(n.ints);
  v.float_count = static_cast<u8>(n.floats);
  v.text_count = static_cast<u8>(n.texts);
  for (u32 k = 1; k <= n.ints; ++k) {
    u32 p = int_base + k;
    v.int_given[k] = arg_given(p);
    v.ints[k] = arg_given(p) ? arg_value(p) : 0;
  }
  for (u32 k = 1; k <= n.floats; ++k) {
    u32 p = float_base + k;
    v.float_given[k] = arg_given(p);
    v.floats[k] = 0.0;
    if (!arg_given(p)) continue;
    // A float value is always its code evaluated as a double, whatever the
    // command list says of the parameter (a number parameter's decoded
    // value is already truncated).
    const DecodedSlot& s = g_args_decoded.slots[arg_slot(p)];
    CommandArgRecord r{};
    r.arg_type = static_cast<u8>(s.arg_type);
    r.code_length = s.code_length;
    r.code_offset = s.code_offset;
    const u8* code = record_code(r);
    if (!code) return static_cast<int>(fail_damaged());
    v.floats[k] = g_arg_eval.real_always_double[s.arg_type](code, s.code_length);
    if (expr_last_failed()) return -1;
  }
  for (u32 k = 1; k <= n.texts; ++k) {
    u32 p = text_base + k;
    const char* t = arg_given(p) ? arg_text(p) : "";
    v.text_given[k] = arg_given(p);
    if (store_slot_text(&v.texts[k], &v.text_capacity[k], t, static_cast<u32>(std::strlen(t))) != 0) return -1;
  }
  return 0;
}

}  // namespace

const char* command_name_of(u32 k) {
  if (k < g_command_list.count && g_command_list.commands[k].name) return g_command_list.commands[k].name;
  return "";
}

CallCounts call_word_counts(u16 w) {
  auto cap = [](u32 n) { return n > kCallValues ? kCallValues : n; };
  return CallCounts{cap((w >> 3) & 31u), cap((w & 7u) * 4 + ((w >> 14) & 3u)), cap((w >> 9) & 31u)};
}

int decode_call_args(u32 command) {
  CurrentInstruction& in = g_current_instruction;
  if (command >= g_command_list.count || in.record_count > 255) return static_cast<int>(fail_damaged());
  const CommandInfo& info = g_command_list.commands[command];
  CommandArgRecord copy[255];
  for (u32 i = 0; i < in.record_count; ++i) {
    copy[i] = in.records[i];
    if (copy[i].param_id < info.param_count && info.params[copy[i].param_id].kind == kParamText) copy[i].arg_type = 3;
  }
  const CommandArgRecord* saved = in.records;
  if (in.record_count) in.records = copy;
  int r = decode_command_args(command);
  in.records = saved;
  return r;
}

// ---- conditional blocks ----

u32 cmd_block_begin() {
  ScriptContext* c = ctx();
  u32 d = c->block_a_depth;
  if (d >= kMaxDepth) return stack_full(44);
  const CommandArgRecord* next = record(2);
  const CommandArgRecord* end = record(3);
  if (!next || !end) return fail_damaged();
  if (ensure_block_frames(c, d + 1) != 0) return kFailed;
  i64 cond = 0;
  if (eval_record_int(record(1), &cond) != 0) return kFailed;
  BlockFrame* f = c->block_a_frames[d];
  f->head_pc = g_scheduler.current_pc;
  f->saved_block_b_depth = c->block_b_depth;
  f->end_pc = end->code_length;
  c->block_a_depth = static_cast<u8>(d + 1);
  if (cond == 0) c->pc = next->code_length ? next->code_length : end->code_length;
  return 0;
}

u32 cmd_block_else() {
  ScriptContext* c = ctx();
  if (c->block_a_depth == 0) return not_open(11, 44);
  if (g_current_instruction.record_count == 0) return 0;
  i64 cond = 0;
  if (eval_record_int(record(1), &cond) != 0) return kFailed;
  if (cond != 0) return 0;
  const CommandArgRecord* next = record(2);
  c->pc = next && next->code_length ? next->code_length : c->block_a_frames[c->block_a_depth - 1]->end_pc;
  return 0;
}

u32 cmd_block_skip() {
  ScriptContext* c = ctx();
  if (c->block_a_depth == 0) return not_open(11, 44);
  c->pc = c->block_a_frames[c->block_a_depth - 1]->end_pc;
  return 0;
}

u32 cmd_block_end() {
  ScriptContext* c = ctx();
  if (c->block_a_depth == 0) return not_open(48, 44);
  c->block_a_depth -= 1;
  c->block_a_frames[c->block_a_depth]->end_pc = 0;
  return 0;
}

u32 cmd_block_break() {
  if (decode_command_args(46) != 0) return kFailed;
  ScriptContext* c = ctx();
  i32 n = level_count();
  if (n < 1) return 0;
  // t below 1: more levels than open blocks.
  i64 t = static_cast<i64>(c->block_a_depth) - n + 1;
  if (t < 1) return not_open(46, 44);
  const BlockFrame* f = c->block_a_frames[t - 1];
  c->block_a_depth = static_cast<u8>(t);
  c->pc = f->end_pc;
  c->block_b_depth = f->saved_block_b_depth;
  return 0;
}

u32 cmd_block_continue() {
  if (decode_command_args(47) != 0) return kFailed;
  ScriptContext* c = ctx();
  i32 n = level_count();
  if (n < 1) return 0;
  i64 t = static_cast<i64>(c->block_a_depth) - n + 1;
  if (t < 1) return not_open(47, 44);
  const BlockFrame* f = c->block_a_frames[t - 1];
  c->pc = f->head_pc;
  c->block_b_depth = f->saved_block_b_depth;
  c->block_a_depth = static_cast<u8>(t - 1);
  return 0;
}

// ---- counted loops ----

// The loop head decodes its arguments (so the count's range code applies)
// and then reads its two records directly: record 2 holds an instruction
// index, not code.
u32 cmd_loop_begin() {
  if (decode_command_args(55) != 0) return kFailed;
  ScriptContext* c = ctx();
  u32 e = c->block_b_depth;
  if (e >= kMaxDepth) return stack_full(55);
  const CommandArgRecord* end = record(2);
  if (!end) return fail_damaged();
  i64 count = 0;
  if (eval_record_int(record(1), &count) != 0) return kFailed;
  if (ensure_loop_frames(c, e + 1) != 0) return kFailed;
  LoopFrame* f = c->block_b_frames[e];
  f->body_pc = g_scheduler.current_pc + 1;
  f->saved_block_a_depth = c->block_a_depth;
  f->end_pc = end->code_length;
  f->counter = 1;
  f->count = count;
  c->block_b_depth = static_cast<u8>(e + 1);
  if (count == 0) {
    f->counter = 0;
    f->count = 0;
    c->pc = f->end_pc;
  }
  return 0;
}

u32 cmd_loop_end() {
  ScriptContext* c = ctx();
  if (c->block_b_depth == 0) {
    report_error_code_at(kErrLoopNotOpen, 1);
    return kFailed;
  }
  LoopFrame* f = c->block_b_frames[c->block_b_depth - 1];
  if (f->count == -1 || f->counter < f->count) {
    f->counter += 1;
    c->pc = f->body_pc;
    c->block_a_depth = f->saved_block_a_depth;
    return 0;
  }
  c->block_b_depth -= 1;
  f->counter = 0;
  f->count = 0;
  f->body_pc = 0;
  return 0;
}

namespace {
u32 loop_leave(u32 cmd, bool stop) {
  if (decode_command_args(cmd) != 0) return kFailed;
  ScriptContext* c = ctx();
  i32 n = level_count();
  if (n < 1) return 0;
  i64 t = static_cast<i64>(c->block_b_depth) - n + 1;
  if (t < 1) return not_open(cmd, 55);
  LoopFrame* f = c->block_b_frames[t - 1];
  c->block_b_depth = static_cast<u8>(t);
  c->pc = f->end_pc;
  c->block_a_depth = f->saved_block_a_depth;
  if (stop) {
    f->counter = 0;
    f->count = 0;
  }
  return 0;
}
}  // namespace

u32 cmd_loop_break() { return loop_leave(56, true); }
u32 cmd_loop_continue() { return loop_leave(57, false); }

// ---- labels, calls and returns ----

u32 cmd_label_jump() {
  ScriptContext* c = ctx();
  const CommandArgRecord* r = record(1);
  if (!r) return fail_damaged();
  const LabelRecord* l;
  if (r->code_length >= kResolvedLabelBase) {
    l = label_at(static_cast<i64>(r->code_length - kResolvedLabelBase));
    if (!l) return fail_damaged();
  } else {
    const u8* code = record_code(*r);
    if (!code) return fail_damaged();
    char name[kArgTextSize];
    g_arg_eval.text[r->arg_type](name, code, r->code_length);
    if (expr_last_failed()) return kFailed;
    l = label_named(name);
    if (!l) return kFailed;
  }
  return go_to_label(c, *l);
}

u32 cmd_label_call() {
  // The resolved label index sits in bytes 2-3 of the label's record.
  u32 resolved = 0;
  for (u32 i = 0; i < g_current_instruction.record_count; ++i) {
    const CommandArgRecord& r = g_current_instruction.records[i];
    if (r.param_id == 0) resolved = static_cast<u32>(r.arg_type) | static_cast<u32>(r.assign_op) << 8;
  }
  if (decode_call_args(43) != 0) return kFailed;
  ScriptContext* c = ctx();
  i32 d = c->call_depth;
  if (d < 0 || static_cast<u32>(d) + 1 > kMaxDepth) return stack_full(43);
  const LabelRecord* l = resolved ? label_at(resolved) : label_named(arg_text(0));
  if (!l) return resolved ? fail_damaged() : kFailed;
  if (ensure_call_frames(c, static_cast<u32>(d) + 1) != 0) return kFailed;
  const ScriptRecord* s = c->script;
  u32 here = g_scheduler.current_pc;
  CallCounts n = call_word_counts(s->call_words[here]);
  CallFrame* callee = c->call_frames[d + 1];
  bool label_only = g_args_decoded.count == 1 && arg_given(0);
  if (label_only) {
    callee->args.int_count = static_cast<u8>(n.ints);
    callee->args.float_count = static_cast<u8>(n.floats);
    callee->args.text_count = static_cast<u8>(n.texts);
  } else if (fill_values(callee->args, n, 0, 16, 32) != 0) {
    return kFailed;
  }
  CallFrame* caller = c->call_frames[d];
  caller->return_pc = here + 1;
  caller->return_script = c->script_no;
  caller->call_line = s->source_lines[here];
  caller->saved_block_a_depth = c->block_a_depth;
  caller->saved_block_b_depth = c->block_b_depth;
  u8 a = c->block_a_depth, b = c->block_b_depth;
  c->call_depth = static_cast<i8>(d + 1);
  // The callee's label starts at the caller's depths plus its own (which a
  // subroutine's entry label normally has as 0).
  if (l->script_no != c->script_no || !c->script) {
    if (context_enter_script(c, l->script_no) != 0) {
      c->call_depth = static_cast<i8>(d);
      return kFailed;
    }
  }
  c->block_a_depth = a;
  c->block_b_depth = b;
  c->pc = l->instruction;
  return 0;
}

u32 cmd_call_return() {
  if (decode_command_args(79) != 0) return kFailed;
  ScriptContext* c = ctx();
  i32 d = c->call_depth;
  if (d < 1) {
    if (c->is_system_task) return not_open(79, 43);
    retire_task(g_scheduler.current_task);
    return kFailed;
  }
  CallFrame* f = c->call_frames[d - 1];
  CallCounts n = call_word_counts(c->script->call_words[g_scheduler.current_pc]);
  if (g_args_decoded.count) {
    // Integer k from parameter k - 1, float k from 15 + k, text k from 31 + k.
    if (fill_values(f->rets, n, static_cast<u32>(-1), 15, 31) != 0) return kFailed;
  } else {
    f->rets.int_count = static_cast<u8>(n.ints);
    f->rets.float_count = static_cast<u8>(n.floats);
    f->rets.text_count = static_cast<u8>(n.texts);
  }
  if (f->return_script != c->script_no || !c->script) {
    if (context_enter_script(c, f->return_script) != 0) return kFailed;
  }
  c->call_depth = static_cast<i8>(d - 1);
  c->pc = f->return_pc;
  // The caller's depths come back: a return from inside a block or loop
  // must not leave the callee's frames on top of the caller's.
  c->block_a_depth = f->saved_block_a_depth;
  c->block_b_depth = f->saved_block_b_depth;
  return 0;
}

u32 cmd_label_exists() {
  if (decode_command_args(52) != 0) return kFailed;
  if (!arg_given(1)) return 0;
  const char* name = arg_text(0);
  bool found = find_label(name, static_cast<u32>(std::strlen(name))) >= 0;
  const DecodedSlot& s = g_args_decoded.slots[arg_slot(1)];
  VarRecord* v = var_record(s.ref_var);
  if (!v || s.ref_element < 0 || s.ref_element >= v->count) return 0;
  if (v->type == kVarInt && v->ints) {
    v->ints[s.ref_element] = found ? 1 : 0;
  } else if (v->type == kVarFloat && v->floats) {
    v->floats[s.ref_element] = found ? 1.0 : 0.0;
  } else if (v->type == kVarText) {
    report_error_code_at(kErrTypeMismatch, 1);
    return kFailed;
  }
  return 0;
}
