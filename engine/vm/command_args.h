// Argument records of compiled instructions, the command list that says how
// each parameter is evaluated and checked, and the decoder every command
// handler starts with.
#pragma once
#include <cstddef>

#include "engine/frame/types.h"
#include "engine/vm/assign_ops.h"

// One 12-byte argument record of a compiled instruction (little-endian).
struct CommandArgRecord {
  u8 param_id;     // 0-255 in the file; checked against the command's count
  u8 unused;
  u8 arg_type;     // evaluator mode 1-4 (label calls overwrite bytes 2-3)
  u8 assign_op;    // 0 set, 1 add, 2 subtract, 3 multiply, 4 divide
  u32 code_length; // label jumps: 0x10000000 + label index once resolved
  u32 code_offset; // in the script's expression pool
};
static_assert(sizeof(CommandArgRecord) == 12);
constexpr u32 kArgRecordSize = 12;
constexpr u32 kResolvedLabelBase = 0x10000000u;
// Reads one record field by field from 12 bytes.
CommandArgRecord read_arg_record(const u8* p);

// Evaluation kinds of a parameter.
enum ParamKind : u8 { kParamNumber = 0, kParamText = 1, kParamRawCode = 2 };

// The command list of "ztbin\ztc.zbn": per command its name and, per
// parameter id, name, evaluation kind and range code (0-28).
constexpr u32 kMaxCommands = 256;  // command ids are bytes
struct CommandParam {
  const char* name;
  u8 kind;
  u8 range_code;
};
struct CommandInfo {
  const char* name;
  u32 param_count;
  const CommandParam* params;
};
struct CommandList {
  u32 count = 0;                    // N: command ids 0..N-1
  CommandInfo commands[kMaxCommands] = {};
  const char* errno_texts[37] = {};  // the C runtime's errno texts 0-36
  u8 key_map[256] = {};              // script key number -> virtual-key code
  // Storage of the names above (a copy of the file's bytes).
  u8* storage = nullptr;
  CommandParam* param_storage = nullptr;
};
extern CommandList g_command_list;
// Parses the bytes of "ztbin\ztc.zbn" into g_command_list (replacing it).
// 0, or -1 after reporting kErrCompiledDataDamaged / 100010: a count above
// 256, a name without its NUL, a kind above 2 or a range code above 28, and
// data that ends before the key map.
int parse_command_list(const u8* data, std::size_t size);
void free_command_list();

// The instruction being executed, as the decoder reads it: set by the
// scheduler before each handler call (from the running script's record).
struct CurrentInstruction {
  u32 command_id = 0;                        // command id byte of the instruction
  const CommandArgRecord* records = nullptr; // its first argument record
  u32 record_count = 0;                      // its argument count byte
  const u8* expr_pool = nullptr;             // the script's expression pool
  u32 expr_pool_size = 0;
};
extern CurrentInstruction g_current_instruction;

// The decoded arguments of the instruction being executed: slots 1..count in
// record order; slot_of_param[id] is the slot of parameter id (0 = not given).
constexpr u32 kArgTextSize = 4096;
struct DecodedSlot {
  u32 param_id;
  u32 arg_type;
  u32 assign_op;
  u32 code_length;
  u32 code_offset;
  i64 value;           // number parameters (0 for text and raw-code ones)
  char* text;          // kArgTextSize bytes, made the first time it is needed
  const u8* raw_code;  // raw-code parameters: the code in the pool (null
                       // when offset + length lies outside it)
  u32 ref_var;         // the variable the expression named last
  i64 ref_element;     // its element
  u8 bare_ref;         // the expression was a bare variable reference
};
struct DecodedArgs {
  u8 slot_of_param[256];
  u8 count;
  DecodedSlot slots[257];  // slots[1..255]; slot 0 unused
};
extern DecodedArgs g_args_decoded;

// Decodes the current instruction's records for command: evaluates each by
// its parameter's kind and checks its range code. 0, or -1 after a reported
// error (range, evaluator, damaged record); later records are not decoded.
// Codes 1-2 judge the signed 64-bit value, codes 3-28 its low 32 bits
// (28 as a signed 32-bit number); text and raw-code parameters are not
// range-checked.
int decode_command_args(u32 command);
// Checks value against range code c for (command, parameter) names; 0 or -1
// after reporting.
int check_arg_range(u32 command, u32 param_id, u32 code, i64 value);

// Shortcuts for handlers: the slot of a parameter (0 when not given), its
// value, its text ("" when not given) and whether it was given.
inline u32 arg_slot(u32 param_id) { return param_id < 256 ? g_args_decoded.slot_of_param[param_id] : 0; }
inline bool arg_given(u32 param_id) { return arg_slot(param_id) != 0; }
inline i64 arg_value(u32 param_id) { return g_args_decoded.slots[arg_slot(param_id)].value; }
const char* arg_text(u32 param_id);

// Evaluator tables by argument type 1-4 (index 0 unused).
using NumberEvaluator = i64 (*)(const u8* code, u32 length);
using FloatEvaluator = double (*)(const u8* code, u32 length);
using TextEvaluator = u32 (*)(char* out, const u8* code, u32 length);
struct ArgEvalTables {
  NumberEvaluator number[5];
  FloatEvaluator real[5];
  FloatEvaluator real_always_double[5];  // expr_eval_double in all four
  TextEvaluator text[5];
};
extern ArgEvalTables g_arg_eval;
void init_arg_eval_tables();
