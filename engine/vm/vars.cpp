// Variable records, element storage and the assignment operator table.
#include "engine/vm/vars.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/frame/errors.h"
#include "engine/vm/expr.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vm_errors.h"

VarTable g_vars;
VarOpTable g_var_ops;

namespace {

void free_storage(i64* ints, double* floats, char** texts, u16* caps, i64 count) {
  if (texts) {
    for (i64 i = 0; i < count; ++i) std::free(texts[i]);
  }
  std::free(ints);
  std::free(floats);
  std::free(texts);
  std::free(caps);
}

void free_record(VarRecord& v) {
  free_storage(v.ints, v.floats, v.texts, v.capacities, v.count);
  v.ints = nullptr;
  v.floats = nullptr;
  v.texts = nullptr;
  v.capacities = nullptr;
}

int out_of_memory() {
  report_error_code_at(kErrOutOfMemory, 1);
  return -1;
}

// Element count of v's dimensions, or -1 after reporting.
i64 element_count_of(const VarRecord& v) {
  u32 dims = v.dim_count <= 9 ? v.dim_count : 9;
  for (u32 i = 0; i < dims; ++i) {
    if (v.dims[i] == 0) {
      report_error_code_at(kErrNoElements, 1);
      return -1;
    }
  }
  i64 n = 1;
  for (u32 i = 0; i < dims; ++i) {
    n *= v.dims[i];
    if (n > kMaxVarElements) {
      report_error_at(kErrTooManyElements, 1, static_cast<i64>(kMaxVarElements));
      return -1;
    }
  }
  return n;
}

VarRecord* element_of(u32 id, i64 element, u8 type) {
  VarRecord* v = var_record(id);
  if (!v || v->type != type || element < 0 || element >= v->count) return nullptr;
  return v;
}

template <class F>
void int_op(u32 id, i64 element, F f) {
  if (VarRecord* v = element_of(id, element, kVarInt); v && v->ints) v->ints[element] = f(v->ints[element]);
}
template <class F>
void float_op(u32 id, i64 element, F f) {
  if (VarRecord* v = element_of(id, element, kVarFloat); v && v->floats) v->floats[element] = f(v->floats[element]);
}

template <u32 Op>
void int_slot(u32 id, i64 element, i64 value) {
  int_op(id, element, [value](i64 cur) { return var_int_op(Op, cur, value); });
}
template <u32 Op>
void float_slot(u32 id, i64 element, double value) {
  float_op(id, element, [value](double cur) { return var_float_op(Op, cur, value); });
}

}  // namespace

int var_table_create(u32 count) {
  var_table_free();
  if (count == 0) return 0;
  auto* records = static_cast<VarRecord*>(std::calloc(count, sizeof(VarRecord)));
  if (!records) return out_of_memory();
  g_vars.records = records;
  g_vars.count = count;
  return 0;
}

void var_table_free() {
  for (u32 i = 0; i < g_vars.count; ++i) free_record(g_vars.records[i]);
  std::free(g_vars.records);
  g_vars = VarTable{};
}

int var_alloc_int(u32 id, i64 value) {
  VarRecord* v = var_record(id);
  if (!v) return -1;
  i64 n = element_count_of(*v);
  if (n < 0) return -1;
  auto* ints = static_cast<i64*>(std::malloc(static_cast<std::size_t>(n) * sizeof(i64)));
  if (!ints) return out_of_memory();
  for (i64 i = 0; i < n; ++i) ints[i] = value;
  free_record(*v);
  v->type = kVarInt;
  v->count = n;
  v->ints = ints;
  return 0;
}

int var_alloc_double(u32 id, double value) {
  VarRecord* v = var_record(id);
  if (!v) return -1;
  i64 n = element_count_of(*v);
  if (n < 0) return -1;
  auto* floats = static_cast<double*>(std::malloc(static_cast<std::size_t>(n) * sizeof(double)));
  if (!floats) return out_of_memory();
  for (i64 i = 0; i < n; ++i) floats[i] = value;
  free_record(*v);
  v->type = kVarFloat;
  v->count = n;
  v->floats = floats;
  return 0;
}

int var_alloc_string(u32 id, const char* text, u32 length) {
  VarRecord* v = var_record(id);
  if (!v) return -1;
  if (length > kMaxElementText) {
    report_error_code_at(kErrTextTooLong, 1);
    return -1;
  }
  i64 n = element_count_of(*v);
  if (n < 0) return -1;
  auto* texts = static_cast<char**>(std::calloc(static_cast<std::size_t>(n), sizeof(char*)));
  auto* caps = static_cast<u16*>(std::malloc(static_cast<std::size_t>(n) * sizeof(u16)));
  if (!texts || !caps) {
    std::free(texts);
    std::free(caps);
    return out_of_memory();
  }
  for (i64 i = 0; i < n; ++i) {
    texts[i] = static_cast<char*>(std::malloc(length + 1));
    if (!texts[i]) {
      free_storage(nullptr, nullptr, texts, caps, i);
      return out_of_memory();
    }
    if (length) std::memcpy(texts[i], text, length);
    texts[i][length] = 0;
    caps[i] = static_cast<u16>(length + 1);
  }
  free_record(*v);
  v->type = kVarText;
  v->count = n;
  v->texts = texts;
  v->capacities = caps;
  return 0;
}

i64 var_get_int(u32 id, i64 element) {
  if (id < kFirstUserVar) return sysvar_int(id, element);
  VarRecord* v = element_of(id, element, kVarInt);
  return v && v->ints ? v->ints[element] : 0;
}

double var_get_float(u32 id, i64 element) {
  if (id < kFirstUserVar) return sysvar_float(id, element);
  VarRecord* v = element_of(id, element, kVarFloat);
  return v && v->floats ? v->floats[element] : 0.0;
}

const char* var_get_string(u32 id, i64 element) {
  if (id < kFirstUserVar) {
    static char scratch[kExprTextSize];
    expr_read_system_value(id, scratch, element);
    return scratch;
  }
  VarRecord* v = element_of(id, element, kVarText);
  return v && v->texts ? v->texts[element] : nullptr;
}

int store_string_element(u32 id, i64 element, const char* text, u32 length) {
  VarRecord* v = element_of(id, element, kVarText);
  if (!v || !v->texts) return -1;
  if (length > kMaxElementText) {
    report_error_code_at(kErrTextTooLong, 1);
    return -1;
  }
  char*& buf = v->texts[element];
  if (!buf || v->capacities[element] < length + 1) {
    char* grown = static_cast<char*>(std::realloc(buf, length + 1));
    if (!grown) return out_of_memory();
    buf = grown;
    v->capacities[element] = static_cast<u16>(length + 1);
  }
  if (length) std::memmove(buf, text, length);
  buf[length] = 0;
  return 0;
}

i64 var_int_op(u32 op, i64 cur, i64 value) {
  switch (op) {
    case 0: return value;
    case 1: return wrap_add(cur, value);
    case 2: return wrap_sub(cur, value);
    case 3: return wrap_mul(cur, value);
    case 4: return value == 0 ? cur : safe_div(cur, value);
    case 5: return value == 0 ? cur : safe_rem(cur, value);
    case 6: return cur & value;
    case 7: return cur | value;
    case 8: return cur ^ value;
    default: return cur;
  }
}

double var_float_op(u32 op, double cur, double value) {
  switch (op) {
    case 0: return value;
    case 1: return cur + value;
    case 2: return cur - value;
    case 3: return cur * value;
    case 4: return value == 0.0 ? cur : cur / value;
    case 5: {
      i64 d = double_to_i64(value);
      return d == 0 ? cur : static_cast<double>(safe_rem(double_to_i64(cur), d));
    }
    case 6: return static_cast<double>(double_to_i64(cur) & double_to_i64(value));
    case 7: return static_cast<double>(double_to_i64(cur) | double_to_i64(value));
    case 8: return static_cast<double>(double_to_i64(cur) ^ double_to_i64(value));
    default: return cur;
  }
}

void init_var_ops() {
  VarOpTable& t = g_var_ops;
  t.int_ops[0] = int_slot<0>;
  t.int_ops[1] = int_slot<1>;
  t.int_ops[2] = int_slot<2>;
  t.int_ops[3] = int_slot<3>;
  t.int_ops[4] = int_slot<4>;
  t.int_ops[5] = int_slot<5>;
  t.int_ops[6] = int_slot<6>;
  t.int_ops[7] = int_slot<7>;
  t.int_ops[8] = int_slot<8>;
  t.float_ops[0] = float_slot<0>;
  t.float_ops[1] = float_slot<1>;
  t.float_ops[2] = float_slot<2>;
  t.float_ops[3] = float_slot<3>;
  t.float_ops[4] = float_slot<4>;
  t.float_ops[5] = float_slot<5>;
  t.float_ops[6] = float_slot<6>;
  t.float_ops[7] = float_slot<7>;
  t.float_ops[8] = float_slot<8>;
}
