// Element writers of script variables.
#include "engine/vm/var_writers.h"

#include <cstring>

#include "engine/frame/errors.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/expr.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/vars.h"
#include "engine/vm/vm_errors.h"

namespace {

VarRecord* element_var(u32 id, i64 element) {
  VarRecord* v = var_record(id);
  if (!v || element < 0 || element >= v->count) return nullptr;
  return v;
}

}  // namespace

int var_set_number(u32 id, i64 element, i64 value) {
  VarRecord* v = element_var(id, element);
  if (!v) return -1;
  if (v->type == kVarInt && v->ints) v->ints[element] = value;
  else if (v->type == kVarFloat && v->floats) v->floats[element] = static_cast<double>(value);
  else if (v->type == kVarText) report_error_code_at(kErrTypeMismatch, 1);
  return 0;
}

int var_set_float(u32 id, i64 element, double value) {
  VarRecord* v = element_var(id, element);
  if (!v) return -1;
  if (v->type == kVarInt && v->ints) v->ints[element] = double_to_i64(value);
  else if (v->type == kVarFloat && v->floats) v->floats[element] = value;
  else if (v->type == kVarText) report_error_code_at(kErrTypeMismatch, 1);
  return 0;
}

int var_set_string(u32 id, i64 element, const char* text) {
  VarRecord* v = element_var(id, element);
  if (!v) return -1;
  if (v->type != kVarText) {
    report_error_code_at(kErrTypeMismatch, 1);
    return -1;
  }
  return store_string_element(id, element, text, static_cast<u32>(std::strlen(text)));
}

void set_hold_counter(i64 k, i64 value) {
  if (k < 0 || k >= static_cast<i64>(kKeyCounterCount)) return;
  u32 index = static_cast<u32>(k);
  i64 stored = sv_key_down(index) ? (value > 0 ? value : 0) : (value < 0 ? value : 0);
  sv_set_key_counter(0, index, stored);
}
