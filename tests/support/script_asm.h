// A small assembler for the compiled forms the script machine reads:
// expression code, argument records, instructions and the command list.
// Tests and the demo write readable text; the assembler writes the bytes.
//
// Expression code (asm_expr): instructions separated by blanks, in postfix
// order.
//   B:n W:n I:n L:n     integer constants of 1, 2, 4, 8 bytes (n decimal or 0x hex)
//   F:x                 a double
//   "text"              text literal ('M', delimiter '"'); the bytes between
//                       the quotes are written as they stand, so the escapes
//                       \n, \t, \\ reach the evaluator as its own; \" keeps a quote
//   H:id  H#id  H`id    value of a variable (':' = no prefix, '#' or '`' prefix)
//   V:id  V#id  V`id    open the index list of a variable ... ) closes it
//   v:id  v#id  v`id    bare reference
//   ,  )                index separator, close the innermost index list
//   + - * / % = ! < > S Z & | A O ^   binary operators
//   R s i               negate, number to text, text to number
//   op:c[:hex]          opcode byte c (a character or 0xNN) with the operand
//                       bytes given in hex (damaged or unusual code)
//   x:hex               raw bytes, written as they stand
//
// Script text (assemble_script), one statement per line, '#' starts a
// comment at the start of a line:
//   command <id> <name> [<param>:<kind>:<range>]...
//       a command of the command list; kind num, text or raw (or 0-2);
//       parameters get ids 0, 1, ... in order; ids without a line get an
//       empty name and no parameters up to the highest id
//   keymap <script key> <virtual-key code>
//   instr <command id> [call=<word>] [line=<n>]
//       an instruction; its arguments follow on "arg" lines
//   arg <param id> <type> [<op>] : <expression code>
//       type int, float, text, textf (or 1-4); op set, add, sub, mul, div
//       (or a number; default set)
//   rawarg <12 hex bytes>   an argument record written as it stands
#pragma once
#include <string>
#include <vector>

#include "engine/frame/types.h"
#include "engine/vm/command_args.h"

// Expression code of text; throws std::runtime_error on a syntax error.
std::vector<u8> asm_expr(const std::string& text);

struct AsmScript {
  std::vector<u8> command_list;  // the bytes of "ztbin\ztc.zbn"
  std::vector<u8> instructions;  // 4 bytes each: command id, argument count, call word
  std::vector<u8> arguments;     // the argument section: 12-byte records
  std::vector<u8> expr_pool;     // the expression pool
  std::vector<u32> lines;        // source line of each instruction
  // The same, parsed, for running instructions in tests.
  std::vector<CommandArgRecord> records;
  std::vector<u32> first_record;  // per instruction
  std::vector<u8> command_ids;
  std::vector<u8> arg_counts;
  std::vector<u16> call_words;
};
AsmScript assemble_script(const std::string& text);

// Loads the script's command list into the engine (parse_command_list);
// 0 or the parser's result.
int asm_load_command_list(const AsmScript& script);
// Points the decoder at instruction n of the script.
void asm_select_instruction(const AsmScript& script, u32 n);
