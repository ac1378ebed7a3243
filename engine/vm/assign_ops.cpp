#include "engine/vm/assign_ops.h"

#include "engine/vm/expr.h"

namespace {

i64 clamp128(__int128 v, i64 min, i64 max) {
  if (v < min) return min;
  if (v > max) return max;
  return static_cast<i64>(v);
}

}  // namespace

i64 apply_assign_op(u32 op, i64 current, i64 operand) {
  switch (op) {
    case 0: return operand;
    case 1: return wrap_add(current, operand);
    case 2: return wrap_sub(current, operand);
    case 3: return wrap_mul(current, operand);
    case 4: return operand == 0 ? current : safe_div(current, operand);
    default: return current;
  }
}

i64 apply_assign_op_clamped(u32 op, i64 current, i64 operand, i64 min, i64 max) {
  __int128 c = current, o = operand;
  switch (op) {
    case 0: return operand;
    case 1: return clamp128(c + o, min, max);
    case 2: return clamp128(c - o, min, max);
    case 3: return clamp128(c * o, min, max);
    case 4: return operand == 0 ? current : clamp128(c / o, min, max);
    default: return current;
  }
}

i64 apply_assign_op_min(u32 op, i64 current, i64 operand, i64 min) {
  __int128 c = current, o = operand;
  constexpr i64 kMax = INT64_MAX;
  switch (op) {
    case 0: return operand;
    case 1: return clamp128(c + o, min, kMax);
    case 2: return clamp128(c - o, min, kMax);
    case 3: return clamp128(c * o, min, kMax);
    case 4: return operand == 0 ? current : clamp128(c / o, min, kMax);
    default: return current;
  }
}
