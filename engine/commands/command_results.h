// What the command families share when they read variable references and
// store results: a parameter's reference (variable and element), its value
// as a double or evaluated by its record's own type, and the result writers.
#pragma once
#include <string>

#include "engine/frame/types.h"

constexpr u32 kCommandFailed = static_cast<u32>(-1);
constexpr u32 kErrResultIsText = 101140;
constexpr u32 kErrNotText = 108220;

struct VarRef {
  u32 id = 0;
  i64 element = 0;
  bool valid = false;  // the parameter was given and names an existing variable
};
// The variable and element the expression of parameter param named.
VarRef arg_ref(u32 param);
// The variable's type (kVarNone when the reference is not valid).
u8 ref_type(const VarRef& r);
// The text of the element ("" outside or for another type).
const char* ref_text(const VarRef& r);

// The parameter evaluated as a double (its record's code in floating-point
// mode); 0.0 when not given. Sets *failed after a report.
double arg_double(u32 param, bool* failed);

// Result writers. A number into an integer or floating-point element; into a
// text element: 101140 (fatal) and -1. Outside the variable nothing is
// stored (0). An invalid reference stores nothing (0).
int store_number(const VarRef& r, i64 value);
int store_double(const VarRef& r, double value);
// A text into a text element (outside: nothing); another type: 101140, -1.
int store_text(const VarRef& r, const char* text, u32 length);
// The empty value of the element's type (0, 0.0 or the empty text).
int store_empty(const VarRef& r);

// Length of the Shift-JIS character at p (1 or 2; a lead byte before the end
// counts 1).
inline u32 sjis_step(const char* p) {
  unsigned char c = static_cast<unsigned char>(*p);
  bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return lead && p[1] != 0 ? 2u : 1u;
}
// The longest prefix of text (length bytes) of at most max bytes that does
// not end inside a double-byte character.
u32 sjis_cut(const char* text, u32 length, u32 max);

// Names for messages: command_name and command_param_name.
#include "engine/commands/command_params.h"

struct ScriptContext;
// The task-state text of a task, as the task start command restores it.
std::string task_query_text(const ScriptContext* ctx);

// The system command's kept state (the text-entry dialog's last text, the
// debug-log budget) back to its start (tests).
void reset_system_command_state();
