// Declarations and assignments of script variables, system variables
// included.
#include "engine/vm/var_writers.h"

#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "engine/frame/window.h"
#include "engine/vm/command_args.h"
#include "engine/commands/command_table.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/expr.h"
#include "engine/vm/object_tree.h"
#include "engine/vm/scheduler.h"
#include "engine/vm/script_context.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"

namespace {

constexpr u32 kFailed = static_cast<u32>(-1);

u32 fail(u32 number) {
  report_error_code_at(number, 1);
  return kFailed;
}

// Argument record n (1-based) of the current instruction and its code.
const CommandArgRecord* record(u32 n) {
  const CurrentInstruction& in = g_current_instruction;
  return n >= 1 && n <= in.record_count && in.records ? &in.records[n - 1] : nullptr;
}
const u8* code_of(const CommandArgRecord* r) {
  static const u8 kNoCode[1] = {0};
  const CurrentInstruction& in = g_current_instruction;
  if (!r || r->arg_type < 1 || r->arg_type > 4 || u64{r->code_offset} + r->code_length > in.expr_pool_size)
    return nullptr;
  return r->code_length ? in.expr_pool + r->code_offset : kNoCode;
}

// Evaluations of a record by its type; false after a report.
bool eval_int(const CommandArgRecord* r, i64* out) {
  const u8* c = code_of(r);
  if (!c) return fail(kErrCompiledDataDamaged), false;
  *out = g_arg_eval.number[r->arg_type](c, r->code_length);
  return !expr_last_failed();
}
bool eval_float(const CommandArgRecord* r, double* out) {
  const u8* c = code_of(r);
  if (!c) return fail(kErrCompiledDataDamaged), false;
  *out = g_arg_eval.real[r->arg_type](c, r->code_length);
  return !expr_last_failed();
}
bool eval_text(const CommandArgRecord* r, char* out, u32* length) {
  const u8* c = code_of(r);
  if (!c) return fail(kErrCompiledDataDamaged), false;
  *length = g_arg_eval.text[r->arg_type](out, c, r->code_length);
  return !expr_last_failed();
}

// The 4096-byte scratch texts of the assignment, made on first use.
char* scratch(int which) {
  static char* buffers[2] = {nullptr, nullptr};
  if (!buffers[which]) {
    buffers[which] = static_cast<char*>(std::malloc(kExprTextSize));
    if (!buffers[which]) report_error_code(kErrOutOfMemory, 1);
  }
  return buffers[which];
}

u32 declare(u32 cmd) {
  if (decode_command_args(cmd) != 0) return kFailed;
  const u8* target = code_of(record(1));
  if (!target) return fail(kErrCompiledDataDamaged);
  const CommandArgRecord* r1 = record(1);
  g_expr_decl = ExprDeclaration{};
  g_expr_declaration = 1;
  expr_eval_int(target, r1->code_length);
  g_expr_declaration = 0;
  if (expr_last_failed()) return kFailed;
  VarRecord* v = g_expr_decl.captured ? var_record(g_expr_decl.var_id) : nullptr;
  if (!v) return fail(kErrVariableMissing);
  if (g_expr_decl.index_count > kMaxDimensions) return fail(kErrIndexCount);
  // The sizes are set before the allocator counts them; a failure puts the
  // old ones back, so that the sizes keep matching the elements held.
  VarRecord old = *v;
  v->dim_count = static_cast<u8>(g_expr_decl.index_count);
  std::memset(v->dims, 0, sizeof v->dims);
  for (u32 i = 0; i < g_expr_decl.index_count; ++i) v->dims[i] = static_cast<u32>(g_expr_decl.indices[i]);
  int r;
  const CommandArgRecord* r2 = record(2);
  u32 id = g_expr_decl.var_id;
  if (cmd == 50) {
    i64 value = 0;
    r = eval_int(r2, &value) ? var_alloc_int(id, value) : -1;
  } else if (cmd == 25) {
    double value = 0;
    r = eval_float(r2, &value) ? var_alloc_double(id, value) : -1;
  } else {
    char* text = scratch(0);
    u32 n = 0;
    r = text && eval_text(r2, text, &n) ? var_alloc_string(id, text, n) : -1;
  }
  if (r != 0) {
    v->dim_count = old.dim_count;
    std::memcpy(v->dims, old.dims, sizeof v->dims);
    return kFailed;
  }
  return 0;
}

// Stores into an ordinary variable's element with the operator.
u32 assign_ordinary(u32 id, i64 element, bool whole, u32 op, const CommandArgRecord* value) {
  VarRecord* v = var_record(id);
  if (!v) return fail(kErrVariableMissing);
  if (whole) {
    // Every element takes the value; the operator does not apply.
    if (v->type == kVarInt) {
      i64 x = 0;
      return eval_int(value, &x) && var_alloc_int(id, x) == 0 ? 0 : kFailed;
    }
    if (v->type == kVarFloat) {
      double x = 0;
      return eval_float(value, &x) && var_alloc_double(id, x) == 0 ? 0 : kFailed;
    }
    if (v->type == kVarText) {
      char* t = scratch(0);
      u32 n = 0;
      return t && eval_text(value, t, &n) && var_alloc_string(id, t, n) == 0 ? 0 : kFailed;
    }
    return fail(kErrTypeMismatch);
  }
  if (v->type == kVarInt) {
    i64 x = 0;
    if (!eval_int(value, &x)) return kFailed;
    if (op <= 8) g_var_ops.int_ops[op](id, element, x);
    return 0;
  }
  if (v->type == kVarFloat) {
    double x = 0;
    if (!eval_float(value, &x)) return kFailed;
    if (op <= 8) g_var_ops.float_ops[op](id, element, x);
    return 0;
  }
  if (v->type != kVarText) return fail(kErrTypeMismatch);
  if (op != 0 && op != 1) return fail(kErrTypeMismatch);
  char* t = scratch(0);
  u32 n = 0;
  if (!t || !eval_text(value, t, &n)) return kFailed;
  if (element < 0 || element >= v->count) return 0;
  if (op == 0) return store_string_element(id, element, t, n) == 0 ? 0 : kFailed;
  // Append: the value is evaluated on its own first, so the joined length
  // is known before anything is copied; a join of 4096 bytes or more leaves
  // the element as it is.
  const char* cur = v->texts && v->texts[element] ? v->texts[element] : "";
  std::size_t cur_len = std::strlen(cur);
  if (cur_len + n >= kExprTextSize) return 0;
  char* joined = scratch(1);
  if (!joined) return kFailed;
  std::memcpy(joined, cur, cur_len);
  std::memcpy(joined + cur_len, t, n);
  return store_string_element(id, element, joined, static_cast<u32>(cur_len + n)) == 0 ? 0 : kFailed;
}

// The current subroutine level's values passed in.
CallValues* current_args() {
  ScriptContext* c = g_scheduler.current_context;
  if (!c || c->call_depth < 0 || !c->call_frames[c->call_depth]) return nullptr;
  return &c->call_frames[c->call_depth]->args;
}

void copy_bounded(char* out, std::size_t size, const char* text) {
  std::size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(out, text, n);
  out[n] = 0;
}

u32 assign_system(u32 id, i64 element, u32 op, const CommandArgRecord* value) {
  auto int_value = [&](i64* x) { return eval_int(value, x); };
  i64 x = 0;
  switch (id) {
    case 15:
      if (!int_value(&x)) return kFailed;
      g_sysvar_store.value_15 = static_cast<i32>(x);
      return 0;
    case 50: case 51: case 52: {
      // A packed element reference: variable id high, element low.
      u32 target = static_cast<u32>(static_cast<u64>(element) >> 32);
      i64 index = static_cast<i64>(static_cast<u32>(element));
      VarRecord* v = var_record(target);
      u8 want = id == 50 ? kVarInt : id == 51 ? kVarFloat : kVarText;
      if (!v || v->type != want) return fail(kErrIndirectType);
      if (id == 50) {
        if (!int_value(&x)) return kFailed;
        if (op <= 8) g_var_ops.int_ops[op](target, index, x);
        return 0;
      }
      if (id == 51) {
        double d = 0;
        if (!eval_float(value, &d)) return kFailed;
        var_set_float(target, index, d);
        return 0;
      }
      char* t = scratch(0);
      u32 n = 0;
      if (!t || !eval_text(value, t, &n)) return kFailed;
      var_set_string(target, index, t);
      return 0;
    }
    case 53: {
      if (!int_value(&x)) return kFailed;
      CallValues* a = current_args();
      // Arguments are numbered 1..count, at most 16.
      if (!a || element < 1 || element > a->int_count || element > kCallValues) return 0;
      a->ints[element] = var_int_op(op, a->ints[element], x);
      return 0;
    }
    case 54: {
      double d = 0;
      if (!eval_float(value, &d)) return kFailed;
      CallValues* a = current_args();
      if (!a || element < 1 || element > a->float_count || element > kCallValues || op > 4) return 0;
      a->floats[element] = var_float_op(op, a->floats[element], d);
      return 0;
    }
    case 117: case 118: case 119: case 120:
      if (!int_value(&x)) return kFailed;
      g_sysvar_store.switches_117[id - 117] = static_cast<u8>(x);
      return 0;
    case 122: case 123: case 128: case 131: {
      char* t = scratch(0);
      u32 n = 0;
      if (!t || !eval_text(value, t, &n)) return kFailed;
      if (id == 128) set_object_base_path(kTreeLayer, t);
      else if (id == 131) set_object_base_path(kTreeMenu, t);
      else if (g_text_record) copy_bounded(id == 122 ? g_text_record->text_a : g_text_record->text_b, 8192, t);
      return 0;
    }
    case 132:
      if (!int_value(&x)) return kFailed;
      g_sysvar_store.counter_132 = x;
      return 0;
    case 144:
      if (!int_value(&x)) return kFailed;
      if (element > 0 && element <= 255) set_hold_counter(element, x);
      return 0;
    case 145: case 146:
      if (!int_value(&x)) return kFailed;
      if (id == 145) g_window_input.menu_command_id = static_cast<u32>(x);
      else g_sysvar_store.value_146 = static_cast<i32>(x);
      return 0;
    default: break;
  }
  if (id >= 147 && id <= 414) {
    if (!int_value(&x)) return kFailed;
    if (id <= 275) {
      set_hold_counter(g_command_list.key_map[id - 147], x);
    } else if (id <= 280) {
      set_hold_counter(key_counter_entry(id - 276, element), x);
    } else if (id <= 409) {
      sv_set_key_counter(1, g_command_list.key_map[id - 281], x);
    } else {
      i64 k = key_counter_entry(id - 410, element);
      if (k >= 0) sv_set_key_counter(1, static_cast<u32>(k), x);
    }
    return 0;
  }
  const VarRecord* v = var_record(id);
  if (v && v->type == kVarFloat) return 0;
  return fail(kErrSysvarReadOnly);
}

// The variable id 50, 51 or 52 when the target code opens the index list
// of one of them, else 0.
u32 indirect_target_of(const CommandArgRecord* r) {
  const u8* code = code_of(r);
  if (!code || r->code_length < 6 || code[0] != 'V') return 0;
  u32 id = static_cast<u32>(code[4]) | static_cast<u32>(code[5]) << 8;
  return id >= 50 && id <= 52 ? id : 0;
}

}  // namespace

u32 cmd_var_declare_float() { return declare(25); }
u32 cmd_var_declare_int() { return declare(50); }
u32 cmd_var_declare_string() { return declare(92); }

u32 cmd_var_assign() {
  const CommandArgRecord* target = record(1);
  const CommandArgRecord* value = record(2);
  i64 ignored = 0;
  if (!value) return fail(kErrCompiledDataDamaged);
  if (!eval_int(target, &ignored)) return kFailed;
  u32 id = g_expr_ref.var_id;
  i64 element = g_expr_ref.element;
  bool whole = g_expr_ref.bare_ref != 0;
  u32 op = target->assign_op;
  // An indirect target (variables 50-52 with a packed reference): reading
  // it moved the reference results on to the variable it names, so the
  // packed reference is put together again from them.
  u32 outer = indirect_target_of(target);
  if (outer && !whole) {
    if (id != outer) element = static_cast<i64>((static_cast<u64>(id) << 32) | static_cast<u32>(element));
    return assign_system(outer, element, op, value);
  }
  if (id >= kFirstUserVar) return assign_ordinary(id, element, whole, op, value);
  if (whole) return 0;
  return assign_system(id, element, op, value);
}
