// The assignment operators that arguments apply to a current value.
#pragma once
#include "engine/frame/types.h"

// Assignment operators of argument records (0 set, 1 add, 2 subtract,
// 3 multiply, 4 divide). apply_assign_op wraps on overflow, keeps the current
// value for a zero divisor and gives INT64_MIN for INT64_MIN / -1; any other
// code keeps the current value. The bounded forms compute the exact result
// and clamp it: clamped keeps [min, max] for every operator but 0 (set) and a
// zero divisor; min keeps the result at or above min for 1-4.
i64 apply_assign_op(u32 op, i64 current, i64 operand);
i64 apply_assign_op_clamped(u32 op, i64 current, i64 operand, i64 min, i64 max);
i64 apply_assign_op_min(u32 op, i64 current, i64 operand, i64 min);
