// The math commands: 60 computes a function of one or two operands (and
// random numbers, checksums and text expressions); 61 the fixed perspective
// computation over an integer and a floating-point parameter array.
#include <zlib.h>

#include <cmath>
#include <cstring>

#include "engine/commands/command_table.h"
#include "engine/commands/result_vars.h"
#include "engine/frame/errors.h"
#include "engine/vm/command_args.h"
#include "engine/vm/control_flow.h"
#include "engine/vm/expr.h"
#include "engine/vm/script_random.h"
#include "engine/vm/sysvars.h"
#include "engine/vm/var_writers.h"
#include "engine/vm/vars.h"

namespace {
constexpr u32 kCmdMathCompute = 60;
constexpr u32 kCmdVarCompute = 61;
constexpr u32 kFailed = 0xFFFFFFFFu;

const DecodedSlot* slot_of(u32 param) {
  const u32 s = arg_slot(param);
  return s ? &g_args_decoded.slots[s] : nullptr;
}

// An operand evaluated from its code as a double (its decoded number when
// the parameter is not raw code).
double operand_double(u32 param) {
  const DecodedSlot* s = slot_of(param);
  if (!s) return 0.0;
  if (s->raw_code) return expr_eval_double(s->raw_code, s->code_length);
  return static_cast<double>(s->value);
}

i64 operand_int(u32 param) {
  const DecodedSlot* s = slot_of(param);
  if (!s) return 0;
  if (s->raw_code) return expr_eval_int(s->raw_code, s->code_length);
  return s->value;
}

bool operand_is_float(u32 param) {
  const DecodedSlot* s = slot_of(param);
  return s && (s->arg_type == kExprFloat || s->arg_type == kExprTextFloat);
}

// A number element of a variable; a missing element (or variable) reads 0.
// System variables are read as the expressions read them.
double element_double(u32 id, i64 element) {
  if (id < kFirstUserVar) return sysvar_float(id, element);
  const VarRecord* v = var_record(id);
  if (!v || element < 0 || element >= v->count) return 0.0;
  if (v->type == kVarInt) return static_cast<double>(var_get_int(id, element));
  return v->type == kVarFloat ? var_get_float(id, element) : 0.0;
}
i64 element_int(u32 id, i64 element) {
  if (id < kFirstUserVar) return sysvar_int(id, element);
  const VarRecord* v = var_record(id);
  if (!v || element < 0 || element >= v->count) return 0;
  if (v->type == kVarFloat) return double_to_i64(var_get_float(id, element));
  return v->type == kVarInt ? var_get_int(id, element) : 0;
}

}  // namespace

// The random integer from low to high inclusive: the span is worked out on
// 64 unsigned bits, so the widest ranges neither overflow nor divide by 0
// (the whole 64-bit range takes any value).
i64 random_in_range(i64 a, i64 b, u32 draw) {
  const i64 low = a < b ? a : b, high = a < b ? b : a;
  const u64 span = static_cast<u64>(high) - static_cast<u64>(low) + 1u;
  const u64 offset = span == 0 ? draw : draw % span;
  return static_cast<i64>(static_cast<u64>(low) + offset);
}

u32 cmd_math_compute() {
  if (decode_command_args(kCmdMathCompute) != 0) return kFailed;
  ResultVar out;
  const bool have_out = result_var(0, &out);
  static const u32 kOrder[] = {4, 7, 10, 5, 8, 6, 9, 13, 11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22};
  u32 selector = 0;
  for (u32 p : kOrder) {
    if (arg_given(p)) {
      selector = p;
      break;
    }
  }
  if (!selector) return 0;
  auto store_int = [&](i64 v) {
    if (have_out) var_set_number(out.id, out.element, v);
  };
  if (selector == 20) {
    store_int(random_in_range(operand_int(1), operand_int(2), mt_next()));
    return 0;
  }
  if (selector == 21) {
    const char* t = arg_text(3);
    store_int(static_cast<i64>(crc32(0L, reinterpret_cast<const Bytef*>(t), static_cast<uInt>(std::strlen(t)))));
    return 0;
  }
  if (selector == 22) {
    store_int(text_expr_eval(arg_text(3)));
    return 0;
  }
  if (selector == 15 && !operand_is_float(1)) {
    store_int(operand_int(1));
    return 0;
  }
  const double a = operand_double(1);
  double r = 0.0;
  switch (selector) {
    case 4: r = std::sin(a); break;
    case 7: r = std::cos(a); break;
    case 10: r = std::tan(a); break;
    case 5: r = std::asin(a); break;
    case 8: r = std::acos(a); break;
    case 6: r = std::sinh(a); break;
    case 9: r = std::cosh(a); break;
    case 13: r = std::tanh(a); break;
    case 11: r = std::atan(a); break;
    case 12: r = std::atan2(a, operand_double(2)); break;
    case 14: case 15: r = a; break;
    case 16: r = std::exp(a); break;
    case 17: r = std::log(a); break;
    case 18: r = std::log10(a); break;
    case 19: r = std::pow(a, operand_double(2)); break;
    default: break;
  }
  if (have_out) var_set_float(out.id, out.element, r);
  return 0;
}

u32 cmd_var_compute() {
  if (decode_command_args(kCmdVarCompute) != 0) return kFailed;
  ResultVar a_ref, b_ref;
  if (!result_var(0, &a_ref) || !result_var(1, &b_ref)) return 0;
  const u32 A = a_ref.id, B = b_ref.id;
  auto b = [&](i64 k) { return element_double(B, k); };
  auto ai = [&](i64 k) { return element_int(A, k); };
  const double p = b(20) / 100.0, q = b(21) / 100.0;
  double X, Y, S, T;
  if (ai(7) != 0) {
    X = b(13) - b(18) * b(16) / 100.0;
    Y = b(14) - b(19) * b(17) / 100.0;
    S = b(16);
    T = b(17);
  } else {
    const double d = b(5) + b(30);
    const double f = std::pow(2.0, (b(27) - b(8) + d) / 100.0);
    double g = std::pow(2.0, (b(27) - b(15) + d) / 100.0);
    X = ((b(6) - b(9)) - (b(3) + b(28)) * p) * f + b(11) * p + static_cast<double>(ai(5)) * 0.5;
    Y = ((b(7) - b(10)) - (b(4) + b(29)) * q) * f + b(12) * q + static_cast<double>(ai(6)) * 0.5;
    if (ai(1) != ai(2)) {
      X += b(9) * f;
      Y += b(10) * f;
      if (ai(4) == 0) {
        X += (b(13) * p - b(18)) * g;
        Y += (b(14) * q - b(19)) * g;
      } else {
        g = std::pow(2.0, (b(27) - b(24) + d) / 100.0);
        X += ((b(13) + b(22)) * p - b(18) - b(25)) * g;
        Y += ((b(14) + b(23)) * q - b(19) - b(26)) * g;
      }
    }
    X += b(18) * (100.0 - b(16)) * g / 100.0;
    Y += b(19) * (100.0 - b(17)) * g / 100.0;
    S = b(16) * g;
    T = b(17) * g;
  }
  const VarRecord* v = B >= kFirstUserVar ? var_record(B) : nullptr;
  if (!v) return 0;
  const double results[4] = {X, Y, S, T};
  for (int k = 0; k < 4; ++k) {
    const i64 element = 31 + k;
    if (element >= v->count) break;
    if (v->type == kVarInt) {
      // Rounded to the nearest integer before the store (a float store
      // would truncate).
      var_set_number(B, element, double_to_i64(std::round(results[k])));
    } else if (v->type == kVarText) {
      report_error_code_at(kErrTypeMismatch, 1);
    } else {
      var_set_float(B, element, results[k]);
    }
  }
  return 0;
}
