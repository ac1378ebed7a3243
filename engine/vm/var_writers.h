// The element writers that commands store their results with, and the
// numbers of the variable commands' own errors.
#pragma once
#include "engine/frame/types.h"

constexpr u32 kErrSysvarReadOnly = 101150;
constexpr u32 kErrIndirectType = 108230;

// Element writers for ordinary variables. An element outside [0, count) or a
// missing variable returns -1 without a report.
// Integer: stored; float: converted; text: 101140 (fatal), 0.
int var_set_number(u32 id, i64 element, i64 value);
// Integer: truncated toward zero; float: stored; text: 101140, 0.
int var_set_float(u32 id, i64 element, double value);
// Text: stored (the buffer grows to length + 1); other types: 101140, -1.
int var_set_string(u32 id, i64 element, const char* text);

// Hold counter k of the first counter set: while the key is down it takes
// the value when positive, else 0; while up the value when negative, else 0.
// k outside the counter table is ignored.
void set_hold_counter(i64 k, i64 value);
