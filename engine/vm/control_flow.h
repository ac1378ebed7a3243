// Control-flow commands: conditional blocks, counted loops, label jumps,
// subroutine calls and returns (handlers in command_table.h).
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
