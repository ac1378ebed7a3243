// Script variables: one table of VarRecords indexed by variable id. Ids
// below 1000 are system variables whose values are computed when read
// (sysvars.h); their records exist as declared by the compiled variable
// definitions.
#pragma once
#include "engine/frame/types.h"

enum VarType : u8 { kVarNone = 0, kVarInt = 1, kVarFloat = 2, kVarText = 3 };
constexpr u32 kFirstUserVar = 1000;
constexpr i64 kMaxVarElements = 4000000;
// A text element holds at most this many bytes (its capacity is 16-bit).
constexpr u32 kMaxElementText = 65534;

struct VarRecord {
  u8 var_class;
  u8 type;       // VarType
  u8 dim_count;  // 0 scalar, up to 9
  u32 dims[9];
  i64 count;     // elements: the product of the sizes, 1 for a scalar
  i64* ints;
  double* floats;
  char** texts;      // one heap buffer per element
  u16* capacities;   // size of each text buffer
};

struct VarTable {
  VarRecord* records = nullptr;
  u32 count = 0;  // highest id + 1
};
extern VarTable g_vars;

// Makes a table of count zeroed records (freeing the old one). 0 or -1 (100010).
int var_table_create(u32 count);
void var_table_free();
// The record of id, or null when id is outside the table.
inline VarRecord* var_record(u32 id) { return id < g_vars.count ? &g_vars.records[id] : nullptr; }

// Set the type, recount the elements and make new storage with every
// element set to the value; the old storage is freed only once the new one
// is complete, so a failure (100010, 101100, 101110, 108240) leaves the
// variable as it was. 0 or -1.
int var_alloc_int(u32 id, i64 value);
int var_alloc_double(u32 id, double value);
int var_alloc_string(u32 id, const char* text, u32 length);

// Element reads: outside [0, count), a missing record or another type read
// 0 / 0.0 / null. Ids below 1000 are computed (sysvars.h); a text system
// variable is returned from a scratch buffer valid until the next read.
i64 var_get_int(u32 id, i64 element);
double var_get_float(u32 id, i64 element);
const char* var_get_string(u32 id, i64 element);

// Stores text (length bytes) into a text element, growing its buffer to
// length + 1 when needed. 0; -1 when the element is outside or not a text
// (nothing reported) or after 100010 / 108240 (longer than 65534 bytes).
int store_string_element(u32 id, i64 element, const char* text, u32 length);

// The assignment operators on one element, by slot: 0-8 on integer
// elements (set, add, subtract, multiply, divide, remainder, and, or, xor),
// 9-17 the same on float elements (14-17 on both values truncated to
// integers, the result stored back as a double). A zero divisor leaves the
// element; an element outside [0, count) or of another type is left alone.
// Integer arithmetic wraps (INT64_MIN / -1 = INT64_MIN, INT64_MIN % -1 = 0).
using VarIntOp = void (*)(u32 id, i64 element, i64 value);
using VarFloatOp = void (*)(u32 id, i64 element, double value);
struct VarOpTable {
  VarIntOp int_ops[9];      // slots 0-8
  VarFloatOp float_ops[9];  // slots 9-17
};
extern VarOpTable g_var_ops;
void init_var_ops();
// The same operators on plain values (call-frame arguments and the like).
i64 var_int_op(u32 op, i64 current, i64 value);
double var_float_op(u32 op, double current, double value);
