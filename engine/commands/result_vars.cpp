#include "engine/commands/result_vars.h"

#include "engine/vm/command_args.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/vars.h"

bool result_var(u32 param, ResultVar* out) {
  const u32 slot = arg_slot(param);
  if (!slot) return false;
  const DecodedSlot& s = g_args_decoded.slots[slot];
  const VarRecord* v = s.bare_ref ? var_record(s.ref_var) : nullptr;
  if (!v) return false;
  *out = ResultVar{s.ref_var, s.ref_element, v->type};
  return true;
}

void store_empty_result(const ResultVar& r) {
  if (r.type == kVarText) var_set_string(r.id, r.element, "");
  else if (r.type == kVarFloat) var_set_float(r.id, r.element, 0.0);
  else var_set_number(r.id, r.element, 0);
}
