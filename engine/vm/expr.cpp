// The postfix expression evaluator (see expr.h).
#include "engine/vm/expr.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/frame/errors.h"
#include "engine/frame/sjis_text.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"

ExprRefResult g_expr_ref;
u8 g_expr_declaration = 0;
ExprDeclaration g_expr_decl;
u8 g_expr_variable_touched = 0;

i64 double_to_i64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775808.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<i64>(v);
}

namespace {

// A stack entry keeps its number both as an integer and as a double, so
// either arithmetic reads it directly; kind > 0 is a text in string slot kind.
struct Entry {
  i64 i;
  double d;
  u16 kind;
};

struct IndexList {
  u32 pos;  // stack position of the placeholder
  u32 var_id;
  u8 prefix_class;
  u8 declaration;  // the outermost variable of a declaration
};

Entry g_stack[kExprStackSize];
u32 g_depth = 0;
IndexList g_lists[kExprIndexLists];
u32 g_list_depth = 0;
u32 g_floor = 0;  // entries below this belong to the innermost open list
char* g_slots[kExprStringSlots];
u32 g_slot_len[kExprStringSlots];
u32 g_next_slot = 1;
bool g_float_mode = false;  // modes 2 and 4
int g_failed = 0;

using OpFn = int (*)(const u8* operand, u32 length);
OpFn g_ops[256];

inline bool float_arith() { return g_float_mode && g_list_depth == 0; }

int damaged() {
  report_error_code_at(kErrCompiledDataDamaged, 1);
  return -1;
}

inline int push_int(i64 v) {
  if (g_depth >= kExprStackSize) return damaged();
  g_stack[g_depth++] = Entry{v, static_cast<double>(v), 0};
  return 0;
}
inline int push_double(double v) {
  if (g_depth >= kExprStackSize) return damaged();
  g_stack[g_depth++] = Entry{double_to_i64(v), v, 0};
  return 0;
}
inline void set_int(Entry& e, i64 v) { e = Entry{v, static_cast<double>(v), 0}; }
inline void set_double(Entry& e, double v) { e = Entry{double_to_i64(v), v, 0}; }
inline void set_bool(Entry& e, bool b) { set_int(e, b ? 1 : 0); }

// A new string slot for this evaluation: its number, or 0 after reporting.
u16 new_slot() {
  if (g_next_slot >= kExprStringSlots) {
    damaged();
    return 0;
  }
  u32 n = g_next_slot;
  if (!g_slots[n]) {
    g_slots[n] = static_cast<char*>(std::malloc(kExprTextSize));
    if (!g_slots[n]) {
      report_error_code_at(kErrOutOfMemory, 1);
      return 0;
    }
  }
  ++g_next_slot;
  g_slots[n][0] = 0;
  g_slot_len[n] = 0;
  return static_cast<u16>(n);
}

int push_text(const char* text, u32 length) {
  if (g_depth >= kExprStackSize) return damaged();
  u16 s = new_slot();
  if (!s) return -1;
  if (length > kExprTextSize - 1) length = kExprTextSize - 1;
  if (length) std::memcpy(g_slots[s], text, length);
  g_slots[s][length] = 0;
  g_slot_len[s] = length;
  g_stack[g_depth++] = Entry{0, 0.0, s};
  return 0;
}

inline int need(u32 n) { return g_depth >= g_floor + n ? 0 : damaged(); }

u8 prefix_class_of(u8 c) { return c == '#' ? 2 : c == 0x60 ? 1 : 0; }

u32 read_u16(const u8* p) { return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8; }

// The record of a variable opcode's id, or null after 108010 (an id outside
// the table counts as missing, system variables included).
VarRecord* existing_var(u32 id) {
  VarRecord* v = var_record(id);
  if (!v) report_error_code_at(kErrVariableMissing, 1);
  return v;
}

// Pushes the value of element of variable id (prefix class 0).
int push_var_value(u32 id, const VarRecord* v, i64 element) {
  if (id < kFirstUserVar) {
    if (v->type == kVarText) {
      if (g_depth >= kExprStackSize) return damaged();
      u16 s = new_slot();
      if (!s) return -1;
      expr_read_system_value(id, g_slots[s], element);
      g_slot_len[s] = static_cast<u32>(std::strlen(g_slots[s]));
      g_stack[g_depth++] = Entry{0, 0.0, s};
      return 0;
    }
    if (v->type == kVarFloat) return push_double(sysvar_float(id, element));
    return push_int(sysvar_int(id, element));
  }
  bool inside = element >= 0 && element < v->count;
  switch (v->type) {
    case kVarInt: return push_int(inside && v->ints ? v->ints[element] : 0);
    case kVarFloat: return push_double(inside && v->floats ? v->floats[element] : 0.0);
    case kVarText: {
      const char* t = inside && v->texts ? v->texts[element] : nullptr;
      return push_text(t ? t : "", t ? static_cast<u32>(std::strlen(t)) : 0);
    }
    default: return push_int(0);
  }
}

void set_ref(u32 id, i64 element, u8 prefix, u8 bare) {
  g_expr_ref.var_id = id;
  g_expr_ref.element = element;
  g_expr_ref.prefix_class = prefix;
  g_expr_ref.bare_ref = bare;
}

// ---- opcodes ----

int op_invalid(const u8*, u32) {
  report_error_code_at(kErrInvalidOpcode, 1);
  return -1;
}

int op_push_i8(const u8* p, u32 n) { return n < 1 ? damaged() : push_int(static_cast<i8>(p[0])); }
int op_push_i16(const u8* p, u32 n) {
  return n < 2 ? damaged() : push_int(static_cast<i16>(static_cast<u16>(read_u16(p))));
}
int op_push_i32(const u8* p, u32 n) {
  if (n < 4) return damaged();
  u32 v;
  std::memcpy(&v, p, 4);
  return push_int(static_cast<i32>(v));
}
int op_push_i64(const u8* p, u32 n) {
  if (n < 8) return damaged();
  u64 v;
  std::memcpy(&v, p, 8);
  return push_int(static_cast<i64>(v));
}
int op_push_f64(const u8* p, u32 n) {
  if (n < 8) return damaged();
  double v;
  std::memcpy(&v, p, 8);
  return push_double(v);
}

// Text literal: delimiter byte, then the text up to the delimiter (or the
// operand's end). Escapes \\ \n \t; a backslash before another byte is
// dropped and the byte kept; a double-byte character is copied whole, even
// when its second byte equals the delimiter (a lead byte that is the last
// byte of the operand is copied alone).
int op_push_text(const u8* p, u32 n) {
  if (n < 1) return damaged();
  if (g_depth >= kExprStackSize) return damaged();
  u16 s = new_slot();
  if (!s) return -1;
  char* out = g_slots[s];
  u32 len = 0;
  u8 delim = p[0];
  for (u32 i = 1; i < n && p[i] != delim;) {
    u8 c = p[i];
    u8 pair[2];
    u32 take = 1;
    if (is_sjis_lead(c) && i + 1 < n) {
      pair[0] = c;
      pair[1] = p[i + 1];
      take = 2;
      i += 2;
    } else if (c == '\\' && i + 1 < n) {
      u8 e = p[i + 1];
      pair[0] = e == 'n' ? '\n' : e == 't' ? '\t' : e;
      i += 2;
    } else {
      pair[0] = c;
      i += 1;
    }
    if (len + take > kExprTextSize - 1) return damaged();
    std::memcpy(out + len, pair, take);
    len += take;
  }
  out[len] = 0;
  g_slot_len[s] = len;
  g_stack[g_depth++] = Entry{0, 0.0, s};
  return 0;
}

int op_no_var_access(const u8*, u32) {
  g_expr_variable_touched = 1;
  return -1;
}

int op_var_value(const u8* p, u32 n) {
  if (n < 3) return damaged();
  u8 prefix = prefix_class_of(p[0]);
  u32 id = read_u16(p + 1);
  VarRecord* v = existing_var(id);
  if (!v) return -1;
  set_ref(id, 0, prefix, 0);
  if (g_expr_declaration && g_list_depth == 0) {
    g_expr_decl = ExprDeclaration{1, id, 0, {}};
    return push_int(0);
  }
  if (prefix) return push_int(id < kFirstUserVar ? 0 : static_cast<i64>(static_cast<u64>(id) << 32));
  return push_var_value(id, v, 0);
}

int op_index_open(const u8* p, u32 n) {
  if (n < 3) return damaged();
  u32 id = read_u16(p + 1);
  if (!existing_var(id)) return -1;
  if (g_list_depth >= kExprIndexLists || g_depth >= kExprStackSize) return damaged();
  g_lists[g_list_depth] = IndexList{g_depth, id, prefix_class_of(p[0]),
                                    static_cast<u8>(g_expr_declaration && g_list_depth == 0)};
  g_stack[g_depth++] = Entry{0, 0.0, 0};
  ++g_list_depth;
  g_floor = g_depth;
  return 0;
}

int op_separator(const u8*, u32) { return 0; }

// Row-major element of the indices against the record's dimensions:
// 107020 when their number differs from the dimension count, 107010 when an
// index (as an unsigned 32-bit number) is not below its size.
int row_major(const VarRecord* v, const i64* idx, u32 count, i64* element) {
  if (count != v->dim_count) {
    report_error_code_at(kErrIndexCount, 1);
    return -1;
  }
  // Unsigned, so sizes that were declared but never allocated cannot
  // overflow; every element access checks [0, count) anyway.
  u64 e = 0;
  for (u32 k = 0; k < count; ++k) {
    u32 x = static_cast<u32>(idx[k]);
    if (x >= v->dims[k]) {
      report_error_code_at(kErrIndexOutside, 1);
      return -1;
    }
    e = e * v->dims[k] + x;
  }
  *element = static_cast<i64>(e);
  return 0;
}

int op_index_close(const u8*, u32) {
  if (g_list_depth == 0) return damaged();
  const IndexList list = g_lists[g_list_depth - 1];
  u32 count = g_depth - list.pos - 1;
  // The common case first: one in-range number index of a one-dimensional
  // integer or float array, no prefix, outside a declaration.
  if (count == 1 && !list.prefix_class && !list.declaration && list.var_id >= kFirstUserVar) {
    const Entry& e = g_stack[list.pos + 1];
    const VarRecord* v = &g_vars.records[list.var_id];
    u32 x = static_cast<u32>(e.i);
    if (!e.kind && v->dim_count == 1 && x < v->dims[0] && x < v->count) {
      g_depth = list.pos;
      --g_list_depth;
      g_floor = g_list_depth ? g_lists[g_list_depth - 1].pos + 1 : 0;
      set_ref(list.var_id, x, 0, 0);
      if (v->type == kVarInt && v->ints) return push_int(v->ints[x]);
      if (v->type == kVarFloat && v->floats) return push_double(v->floats[x]);
      return push_var_value(list.var_id, v, x);
    }
  }
  for (u32 k = 0; k < count; ++k) {
    if (g_stack[list.pos + 1 + k].kind) {
      report_error_code_at(kErrTextNumberMixed, 1);
      return -1;
    }
  }
  // No variable takes more than 9 indices (a reference one more).
  if (count > kMaxDimensions + 1) {
    report_error_code_at(kErrIndexCount, 1);
    return -1;
  }
  i64 idx[kMaxDimensions + 1];
  for (u32 k = 0; k < count; ++k) idx[k] = g_stack[list.pos + 1 + k].i;
  g_depth = list.pos;
  --g_list_depth;
  g_floor = g_list_depth ? g_lists[g_list_depth - 1].pos + 1 : 0;
  u32 id = list.var_id;
  VarRecord* v = var_record(id);
  if (list.declaration) {
    if (count > kMaxDimensions) {
      report_error_code_at(kErrIndexCount, 1);
      return -1;
    }
    g_expr_decl = ExprDeclaration{1, id, count, {}};
    for (u32 k = 0; k < count; ++k) g_expr_decl.indices[k] = idx[k];
    set_ref(id, 0, list.prefix_class, 0);
    return push_int(0);
  }
  i64 element = 0;
  bool reference_var = id == 50 || id == 51 || id == 52 || id == 70;
  if (reference_var) {
    if (count == 1) {
      element = idx[0];
    } else if (count >= 2) {
      u32 ref_id = static_cast<u32>(static_cast<u64>(idx[0]) >> 32);
      const VarRecord* r = existing_var(ref_id);
      if (!r) return -1;
      u32 own = static_cast<u32>(idx[0]);
      i64 sub = 0;
      if (count == 2 && (r->dim_count != 1 || own >= r->dims[0])) {
        sub = static_cast<u32>(idx[1]);
      } else if (row_major(r, idx + 1, count - 1, &sub) != 0) {
        return -1;
      }
      element = static_cast<i64>(static_cast<u64>(ref_id) << 32) + sub;
    }
  } else if (row_major(v, idx, count, &element) != 0) {
    return -1;
  }
  set_ref(id, element, list.prefix_class, 0);
  if (list.prefix_class) {
    if (reference_var) return push_int(element);
    return push_int(id < kFirstUserVar ? 0 : static_cast<i64>((static_cast<u64>(id) << 32) + static_cast<u64>(element)));
  }
  return push_var_value(id, v, element);
}

int op_bare_ref(const u8* p, u32 n) {
  if (n < 3) return damaged();
  u32 id = read_u16(p + 1);
  if (!existing_var(id)) return -1;
  set_ref(id, 0, prefix_class_of(p[0]), 1);
  if (g_expr_declaration && g_list_depth == 0) g_expr_decl = ExprDeclaration{1, id, 0, {}};
  return push_int(0);
}

int op_negate(const u8*, u32) {
  if (need(1)) return -1;
  Entry& e = g_stack[g_depth - 1];
  if (float_arith()) set_double(e, -e.d);
  else set_int(e, wrap_neg(e.i));
  return 0;
}

int op_to_text(const u8*, u32) {
  if (need(1)) return -1;
  Entry& e = g_stack[g_depth - 1];
  if (e.kind) return 0;
  char buf[400];
  int n = float_arith() ? std::snprintf(buf, sizeof buf, "%f", e.d)
                        : std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(e.i));
  u16 s = new_slot();
  if (!s) return -1;
  u32 len = n < 0 ? 0 : static_cast<u32>(n) < sizeof buf ? static_cast<u32>(n) : sizeof buf - 1;
  std::memcpy(g_slots[s], buf, len);
  g_slots[s][len] = 0;
  g_slot_len[s] = len;
  e = Entry{0, 0.0, s};
  return 0;
}

int op_to_number(const u8*, u32) {
  if (need(1)) return -1;
  Entry& e = g_stack[g_depth - 1];
  if (!e.kind) return 0;
  const char* t = g_slots[e.kind];
  u32 len = g_slot_len[e.kind];
  // Only a lower-case "0x" starts a hexadecimal number; "0X1F" is no number.
  if (len >= 2 && t[0] == '0' && t[1] == 'x') {
    // Hexadecimal digits up to the first other byte, wrapping modulo 2^64.
    u64 v = 0;
    for (u32 k = 2; k < len; ++k) {
      char c = t[k];
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) break;
      v = v * 16 + static_cast<u64>(digit);
    }
    set_int(e, static_cast<i64>(v));
    if (float_arith()) set_double(e, static_cast<double>(static_cast<i64>(v)));
    return 0;
  }
  bool has_dot = false;
  for (u32 k = 0; k < len; ++k) {
    char c = t[k];
    if (c == '.') has_dot = true;
    else if (!(c >= '0' && c <= '9') && c != '-') {
      report_error_code_at(kErrNotANumber, 1);
      return -1;
    }
  }
  if (has_dot) {
    double d = std::strtod(t, nullptr);
    if (float_arith()) set_double(e, d);
    else set_int(e, double_to_i64(d));
    return 0;
  }
  // An optional leading '-', then digits up to the first other byte;
  // beyond the i64 range the value saturates.
  u32 k = 0;
  bool negative = len > 0 && t[0] == '-';
  if (negative) k = 1;
  u64 v = 0;
  bool over = false;
  for (; k < len && t[k] >= '0' && t[k] <= '9'; ++k) {
    u64 digit = static_cast<u64>(t[k] - '0');
    if (v > (UINT64_MAX - digit) / 10) over = true;
    else v = v * 10 + digit;
  }
  i64 r;
  if (negative) r = over || v > static_cast<u64>(INT64_MAX) + 1 ? INT64_MIN : static_cast<i64>(0 - v);
  else r = over || v > static_cast<u64>(INT64_MAX) ? INT64_MAX : static_cast<i64>(v);
  set_int(e, r);
  return 0;
}

// Binary operators pop the right operand and replace the left one.
#define KL_BINARY(name, int_expr, double_expr)        \
  int name(const u8*, u32) {                          \
    if (need(2)) return -1;                           \
    Entry& l = g_stack[g_depth - 2];                  \
    const Entry& r = g_stack[g_depth - 1];            \
    if (float_arith()) {                              \
      double a = l.d, b = r.d;                        \
      double_expr;                                    \
    } else {                                          \
      i64 a = l.i, b = r.i;                           \
      int_expr;                                       \
    }                                                 \
    --g_depth;                                        \
    return 0;                                         \
  }

int op_add(const u8*, u32) {
  if (need(2)) return -1;
  Entry& l = g_stack[g_depth - 2];
  const Entry& r = g_stack[g_depth - 1];
  if (l.kind || r.kind) {
    if (!l.kind || !r.kind) {
      report_error_code_at(kErrTextNumberMixed, 1);
      return -1;
    }
    u32 ll = g_slot_len[l.kind], rl = g_slot_len[r.kind];
    if (ll + rl < kExprTextSize) {
      std::memcpy(g_slots[l.kind] + ll, g_slots[r.kind], rl + 1);
      g_slot_len[l.kind] = ll + rl;
    }
  } else if (float_arith()) {
    set_double(l, l.d + r.d);
  } else {
    set_int(l, wrap_add(l.i, r.i));
  }
  --g_depth;
  return 0;
}

// '=' (want_equal) and '!': two texts compare byte for byte.
int compare_equal(bool want_equal) {
  if (need(2)) return -1;
  Entry& l = g_stack[g_depth - 2];
  const Entry& r = g_stack[g_depth - 1];
  bool equal;
  if (l.kind || r.kind) {
    if (!l.kind || !r.kind) {
      report_error_code_at(kErrTextNumberMixed, 1);
      return -1;
    }
    u32 ll = g_slot_len[l.kind];
    equal = ll == g_slot_len[r.kind] && std::memcmp(g_slots[l.kind], g_slots[r.kind], ll) == 0;
  } else {
    equal = float_arith() ? l.d == r.d : l.i == r.i;
  }
  set_bool(l, equal == want_equal);
  --g_depth;
  return 0;
}
int op_equal(const u8*, u32) { return compare_equal(true); }
int op_not_equal(const u8*, u32) { return compare_equal(false); }

KL_BINARY(op_sub, set_int(l, wrap_sub(a, b)), set_double(l, a - b))
KL_BINARY(op_mul, set_int(l, wrap_mul(a, b)), set_double(l, a * b))
KL_BINARY(op_div, set_int(l, b == 0 ? 0 : safe_div(a, b)), set_double(l, b == 0.0 ? 0.0 : a / b))
KL_BINARY(op_rem, set_int(l, b == 0 ? 0 : safe_rem(a, b)), (void)a; (void)b)
KL_BINARY(op_less, set_bool(l, a < b), set_bool(l, a < b))
KL_BINARY(op_greater, set_bool(l, a > b), set_bool(l, a > b))
KL_BINARY(op_less_equal, set_bool(l, a <= b), set_bool(l, a <= b))
KL_BINARY(op_greater_equal, set_bool(l, a >= b), set_bool(l, a >= b))
KL_BINARY(op_and, set_bool(l, a != 0 && b != 0), set_bool(l, a != 0 && b != 0))
KL_BINARY(op_or, set_bool(l, a != 0 || b != 0), set_bool(l, a != 0 || b != 0))
KL_BINARY(op_bit_and, set_int(l, a & b), set_double(l, static_cast<double>(double_to_i64(a) & double_to_i64(b))))
KL_BINARY(op_bit_or, set_int(l, a | b), set_double(l, static_cast<double>(double_to_i64(a) | double_to_i64(b))))
KL_BINARY(op_bit_xor, set_int(l, a ^ b), set_double(l, static_cast<double>(double_to_i64(a) ^ double_to_i64(b))))
#undef KL_BINARY

}  // namespace

void init_expr_ops(int allow_variables) {
  for (auto& op : g_ops) op = op_invalid;
  auto at = [](char c) -> OpFn& { return g_ops[static_cast<u8>(c)]; };
  at('B') = op_push_i8;
  at('W') = op_push_i16;
  at('I') = op_push_i32;
  at('L') = op_push_i64;
  at('F') = op_push_f64;
  at('M') = op_push_text;
  at('H') = allow_variables ? op_var_value : op_no_var_access;
  at('V') = allow_variables ? op_index_open : op_no_var_access;
  at('v') = allow_variables ? op_bare_ref : op_no_var_access;
  at(')') = op_index_close;
  at(',') = op_separator;
  at('R') = op_negate;
  at('s') = op_to_text;
  at('i') = op_to_number;
  at('+') = op_add;
  at('-') = op_sub;
  at('*') = op_mul;
  at('/') = op_div;
  at('%') = op_rem;
  at('=') = op_equal;
  at('!') = op_not_equal;
  at('<') = op_less;
  at('>') = op_greater;
  at('S') = op_less_equal;
  at('Z') = op_greater_equal;
  at('&') = op_and;
  at('|') = op_or;
  at('A') = op_bit_and;
  at('O') = op_bit_or;
  at('^') = op_bit_xor;
}

int expr_run(u32 mode, const u8* code, u32 length) {
  if (!g_ops[0]) init_expr_ops(1);
  g_depth = 0;
  g_list_depth = 0;
  g_floor = 0;
  g_next_slot = 1;
  g_float_mode = mode == kExprFloat || mode == kExprTextFloat;
  g_expr_ref = ExprRefResult{};
  if (g_expr_declaration) g_expr_decl = ExprDeclaration{};
  g_failed = 0;
  u32 pos = 0;
  while (pos < length) {
    if (length - pos < 3) {
      g_failed = 1;
      damaged();
      return -1;
    }
    const u8* ins = code + pos;
    u32 operand = read_u16(ins + 1);
    if (operand > length - pos - 3) {
      g_failed = 1;
      damaged();
      return -1;
    }
    if (g_ops[ins[0]](ins + 3, operand) != 0) {
      g_failed = 1;
      g_depth = 0;
      return -1;
    }
    pos += 3 + operand;
  }
  if (g_list_depth != 0) {
    g_failed = 1;
    g_depth = 0;
    damaged();
    return -1;
  }
  return 0;
}

int expr_last_failed() { return g_failed; }

namespace {
inline const Entry* result_entry() { return g_depth > 0 ? &g_stack[0] : nullptr; }
u32 copy_text_result(char* out) {
  const Entry* e = result_entry();
  if (!e || !e->kind) {
    out[0] = 0;
    return 0;
  }
  u32 len = g_slot_len[e->kind];
  std::memcpy(out, g_slots[e->kind], len + 1);
  return len;
}
}  // namespace

i64 expr_eval_int(const u8* code, u32 length) {
  if (expr_run(kExprInt, code, length) != 0) return 0;
  const Entry* e = result_entry();
  return e ? e->i : 0;
}

i64 expr_eval_double_as_int(const u8* code, u32 length) {
  if (expr_run(kExprFloat, code, length) != 0) return 0;
  const Entry* e = result_entry();
  return e ? double_to_i64(e->d) : 0;
}

double expr_eval_int_as_double(const u8* code, u32 length) {
  if (expr_run(kExprInt, code, length) != 0) return 0.0;
  const Entry* e = result_entry();
  return e ? static_cast<double>(e->i) : 0.0;
}

double expr_eval_double(const u8* code, u32 length) {
  if (expr_run(kExprFloat, code, length) != 0) return 0.0;
  const Entry* e = result_entry();
  return e ? e->d : 0.0;
}

u32 expr_eval_string(char* out, const u8* code, u32 length) {
  if (expr_run(kExprTextInt, code, length) != 0) {
    out[0] = 0;
    return 0;
  }
  return copy_text_result(out);
}

u32 expr_eval_string_float(char* out, const u8* code, u32 length) {
  if (expr_run(kExprTextFloat, code, length) != 0) {
    out[0] = 0;
    return 0;
  }
  return copy_text_result(out);
}

// ---- integer expressions written as text ----
namespace {

struct TextParser {
  const char* p;
  int depth;

  // The next token's first byte without taking it (0 at the end).
  char peek() {
    while (*p == ' ' || *p == '\t') ++p;
    return *p == '\n' ? 0 : *p;
  }

  i64 primary() {
    char c = peek();
    if (c >= '0' && c <= '9') {
      u64 v = 0;
      while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<u64>(*p++ - '0');
      return static_cast<i64>(v);
    }
    if (c == '(' && depth < 256) {
      ++p;
      ++depth;
      i64 v = sum();
      --depth;
      if (peek() == ')') ++p;
      return v;
    }
    return 0;  // anything else ends the expression here
  }

  i64 product() {
    i64 v = primary();
    for (;;) {
      char c = peek();
      if (c != '*' && c != '/' && c != '%') return v;
      ++p;
      i64 r = primary();
      if (c == '*') v = wrap_mul(v, r);
      else if (r != 0) v = c == '/' ? safe_div(v, r) : safe_rem(v, r);
    }
  }

  i64 sum() {
    char c = peek();
    bool negative = false;
    if (c == '+' || c == '-') {
      negative = c == '-';
      ++p;
    }
    i64 v = product();
    if (negative) v = wrap_neg(v);
    for (;;) {
      c = peek();
      if (c != '+' && c != '-') return v;
      ++p;
      i64 r = product();
      v = c == '+' ? wrap_add(v, r) : wrap_sub(v, r);
    }
  }
};

}  // namespace

i64 text_expr_eval(const char* text) {
  if (!text) return 0;
  char buffer[kExprTextSize];
  std::size_t n = std::strlen(text);
  if (n > kExprTextSize - 1) n = kExprTextSize - 1;
  std::memcpy(buffer, text, n);
  buffer[n] = 0;
  TextParser parser{buffer, 0};
  return parser.sum();
}
