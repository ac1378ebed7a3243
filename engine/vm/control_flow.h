// Control-flow commands: conditional blocks, counted loops, label jumps,
// subroutine calls and returns: the VM's own commands, bound in the command
// table like every other.
#pragma once
#include "engine/frame/types.h"

constexpr u32 kErrBlockNotOpen = 101300;
constexpr u32 kErrStackFull = 101600;
constexpr u32 kErrLoopNotOpen = 108120;
constexpr u32 kErrTypeMismatch = 101140;

// The three value counts of a packed call word, each at most 16.
struct CallCounts {
  u32 ints, floats, texts;
};
CallCounts call_word_counts(u16 word);

// The general decoder with text parameters evaluated as expression type 3
// whatever the record's type byte (bytes 2-3 of a label call's label record
// may hold the label index resolved at load time). 0 or -1.
int decode_call_args(u32 command);

// The name of command k from the command list ("" when there is none).
const char* command_name_of(u32 k);

// The control-flow handlers (by command id).
u32 cmd_block_else();      // 11
u32 cmd_label_jump();      // 42
u32 cmd_label_call();      // 43
u32 cmd_block_begin();     // 44
u32 cmd_block_skip();      // 45
u32 cmd_block_break();     // 46
u32 cmd_block_continue();  // 47
u32 cmd_block_end();       // 48
u32 cmd_label_exists();    // 52
u32 cmd_loop_begin();      // 55
u32 cmd_loop_break();      // 56
u32 cmd_loop_continue();   // 57
u32 cmd_loop_end();        // 58
u32 cmd_call_return();     // 79
