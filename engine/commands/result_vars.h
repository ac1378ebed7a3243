// The variable a command's result parameter names.
#pragma once
#include <string>

#include "engine/frame/types.h"

struct ResultVar {
  u32 id = 0;
  i64 element = 0;
  u8 type = 0;  // VarType
};
// The variable the parameter names by a bare reference (v:id); false when
// the parameter is not given or names no ordinary variable.
bool result_var(u32 param, ResultVar* out);
// The empty answer of a type: 0, 0.0 or the empty text.
void store_empty_result(const ResultVar& r);
