// The postfix expression evaluator of argument code, and the parser of
// integer expressions written as text.
//
// Code is a run of instructions: u8 opcode, u16 operand length L, L operand
// bytes. Every operand and instruction is checked against the code's length
// and every pop against the stack depth: damaged code reports
// kErrCompiledDataDamaged instead of reading outside.
//
// Integer arithmetic is two's complement and wraps: +, -, * and negation wrap
// modulo 2^64; INT64_MIN / -1 gives INT64_MIN and INT64_MIN % -1 gives 0; a
// zero divisor gives 0 for '/' and '%'. A double is turned into an integer by
// truncation toward zero, NaN giving 0 and values beyond the range the
// nearest of INT64_MIN / INT64_MAX.
#pragma once
#include "engine/frame/types.h"

// Modes (the argument type of a record).
enum ExprMode : u8 { kExprInt = 1, kExprFloat = 2, kExprTextInt = 3, kExprTextFloat = 4 };

constexpr u32 kExprStackSize = 1024;
constexpr u32 kExprStringSlots = 1024;
constexpr u32 kExprTextSize = 4096;
constexpr u32 kExprIndexLists = 64;   // nesting of open index lists
constexpr u32 kMaxDimensions = 9;

// What the last evaluation named: the variable last named, its element, the
// prefix class (0 none, 1 '`', 2 '#') and whether the code was a bare
// variable reference ('v').
struct ExprRefResult {
  u32 var_id;
  i64 element;
  u8 prefix_class;
  u8 bare_ref;
};
extern ExprRefResult g_expr_ref;

// Declaration mode: while g_expr_declaration is set, the outermost variable
// of the code is not read. Its id and the values of its index expressions
// (low 32 bits are the sizes) are recorded here instead; index expressions
// themselves are evaluated as usual. captured is 0 when the code named no
// variable at its outer level. More than 9 indices report 107020.
struct ExprDeclaration {
  u8 captured;
  u32 var_id;
  u32 index_count;
  i64 indices[kMaxDimensions];
};
extern u8 g_expr_declaration;
extern ExprDeclaration g_expr_decl;

// Set when a variable opcode ran while variables were switched off.
extern u8 g_expr_variable_touched;

// Runs code in mode: 0, or -1 after a reported error. The result stays on the
// stack (expr_result_*).
int expr_run(u32 mode, const u8* code, u32 length);
// Evaluators (the result of a failed run is 0 / 0.0 / the empty text; the
// failure itself is told by expr_last_failed()).
i64 expr_eval_int(const u8* code, u32 length);               // mode 1
i64 expr_eval_double_as_int(const u8* code, u32 length);     // mode 2, truncated
double expr_eval_int_as_double(const u8* code, u32 length);  // mode 1
double expr_eval_double(const u8* code, u32 length);         // mode 2
// Text modes: the text (at most 4095 bytes) into out (kExprTextSize bytes)
// with its NUL; returns its length. A number result gives the empty text.
u32 expr_eval_string(char* out, const u8* code, u32 length);        // mode 3
u32 expr_eval_string_float(char* out, const u8* code, u32 length);  // mode 4
// 1 when the last evaluation failed (an error was reported).
int expr_last_failed();

// Fills the opcode table; allow_variables 0 makes the variable opcodes set
// g_expr_variable_touched and fail without reporting (pre-resolving labels
// while scripts load).
void init_expr_ops(int allow_variables);

// Integer expression written as text: sums, products, '(' ')', decimal
// numbers; blanks and tabs skipped; a newline or NUL ends it. Wrapping
// arithmetic; a zero divisor skips the operation; digit runs beyond the i64
// range wrap. Unexpected tokens end the expression where they stand.
i64 text_expr_eval(const char* text);

// Helpers shared with the variables and the decoder.
i64 double_to_i64(double v);
inline i64 wrap_add(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) + static_cast<u64>(b)); }
inline i64 wrap_sub(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) - static_cast<u64>(b)); }
inline i64 wrap_mul(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) * static_cast<u64>(b)); }
inline i64 wrap_neg(i64 a) { return static_cast<i64>(0 - static_cast<u64>(a)); }
// a / b and a % b for b != 0 without the INT64_MIN / -1 trap.
inline i64 safe_div(i64 a, i64 b) { return b == -1 ? wrap_neg(a) : a / b; }
inline i64 safe_rem(i64 a, i64 b) { return b == -1 ? 0 : a % b; }
