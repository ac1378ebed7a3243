// Whole-variable changes of the array commands: resizing a one-dimensional
// array and giving global variables their declared initial values again.
#pragma once
#include "engine/frame/types.h"

constexpr u32 kErrVarDefinitionOutside = 900070;

// Gives one-dimensional variable id n elements: the first min(old, n) keep
// their values, new numbers are 0, new texts empty, dropped texts freed.
// The old storage is freed only once the new one is complete, so a failure
// leaves the variable as it was. n above 4000000 reports 101100 before
// anything is allocated; no memory reports 100010. 0, or -1 after a report
// (fatal); a missing variable or an n below 1 gives -1 without one.
int var_resize_1d(u32 id, i64 n);

// Every global variable (scope 1 in the variable file) whose class bit
// (1 << (class - 1), classes 1-4) is set in the mask of its type gets its
// declared shape and initial value again. A definition whose id is outside
// the variable table reports 900070 (fatal) and stops. 0 or -1.
int reinit_global_variables(u32 int_mask, u32 float_mask, u32 text_mask);
