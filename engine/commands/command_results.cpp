#include "engine/commands/command_results.h"

#include <cstring>

#include "engine/frame/errors.h"
#include "engine/vm/command_args.h"
#include "engine/vm/expr.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/vars.h"

VarRef arg_ref(u32 param) {
  VarRef r;
  u32 slot = arg_slot(param);
  if (!slot) return r;
  const DecodedSlot& s = g_args_decoded.slots[slot];
  if (!var_record(s.ref_var)) return r;
  r.id = s.ref_var;
  r.element = s.ref_element;
  r.valid = true;
  return r;
}

u8 ref_type(const VarRef& r) {
  const VarRecord* v = r.valid ? var_record(r.id) : nullptr;
  return v ? v->type : static_cast<u8>(kVarNone);
}

const char* ref_text(const VarRef& r) {
  if (!r.valid) return "";
  const char* t = var_get_string(r.id, r.element);
  return t ? t : "";
}

double arg_double(u32 param, bool* failed) {
  u32 slot = arg_slot(param);
  if (!slot) return 0.0;
  const DecodedSlot& s = g_args_decoded.slots[slot];
  const CurrentInstruction& in = g_current_instruction;
  static const u8 kNoCode[1] = {0};
  if (s.arg_type < 1 || s.arg_type > 4 || u64{s.code_offset} + s.code_length > in.expr_pool_size) return 0.0;
  const u8* code = s.code_length && in.expr_pool ? in.expr_pool + s.code_offset : kNoCode;
  double d = g_arg_eval.real[s.arg_type](code, s.code_length);
  if (expr_last_failed() && failed) *failed = true;
  return d;
}

int store_number(const VarRef& r, i64 value) {
  u8 t = ref_type(r);
  if (t == kVarText) {
    report_error_code_at(kErrResultIsText, 1);
    return -1;
  }
  if (t == kVarInt || t == kVarFloat) var_set_number(r.id, r.element, value);
  return 0;
}

int store_double(const VarRef& r, double value) {
  u8 t = ref_type(r);
  if (t == kVarText) {
    report_error_code_at(kErrResultIsText, 1);
    return -1;
  }
  if (t == kVarInt || t == kVarFloat) var_set_float(r.id, r.element, value);
  return 0;
}

int store_text(const VarRef& r, const char* text, u32 length) {
  u8 t = ref_type(r);
  if (t == kVarNone) return 0;
  if (t != kVarText) {
    report_error_code_at(kErrResultIsText, 1);
    return -1;
  }
  const VarRecord* v = var_record(r.id);
  if (r.element < 0 || r.element >= v->count) return 0;
  return store_string_element(r.id, r.element, text, length) == 0 ? 0 : -1;
}

int store_empty(const VarRef& r) {
  u8 t = ref_type(r);
  if (t == kVarText) return store_text(r, "", 0);
  if (t == kVarInt || t == kVarFloat) var_set_number(r.id, r.element, 0);
  return 0;
}

u32 sjis_cut(const char* text, u32 length, u32 max) {
  u32 i = 0;
  while (i < length) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    u32 n = lead && i + 1 < length ? 2 : 1;
    if (i + n > max) break;
    i += n;
  }
  return i;
}

