// The execution state of a script task: the payload of a task node.
//
// The three stacks (block stack A for conditional blocks, block stack B for
// counted loops, the call stack) each have kStackDepth frame pointers, and
// the frame of a depth d is entry d - 1 (0-based: frames[0] describes the
// first open block). A depth is always below kStackDepth: every command that
// would reach it reports instead. Frames are allocated zeroed on first use
// and kept for the life of the context; entry 0 of each is made with it.
#pragma once
#include "engine/frame/types.h"

struct ObjectNode;
struct ScriptRecord;

constexpr u32 kStackDepth = 64;
constexpr u32 kCallValues = 16;  // values of each kind in a call frame

struct BlockFrame {
  u8 saved_block_b_depth;
  u32 head_pc;
  u32 end_pc;  // 0 once the block is closed
};

struct LoopFrame {
  u8 saved_block_a_depth;
  u32 body_pc;
  u32 end_pc;
  i64 counter;  // passes begun, from 1
  i64 count;    // passes; -1 endless
};

// One set of call values (passed in, or returned); index 1-16.
struct CallValues {
  u8 int_count, float_count, text_count;
  u8 int_given[kCallValues + 1];
  u8 float_given[kCallValues + 1];
  u8 text_given[kCallValues + 1];
  i64 ints[kCallValues + 1];
  double floats[kCallValues + 1];
  char* texts[kCallValues + 1];  // heap copies
  u32 text_capacity[kCallValues + 1];
};

// call_frames[d] receives the values passed into level d and, while level d
// calls further, holds its return point and the values returned to it.
struct CallFrame {
  u8 saved_block_a_depth;
  u8 saved_block_b_depth;
  u32 return_pc;
  u16 return_script;
  u32 call_line;
  CallValues args;
  CallValues rets;
};

struct ScriptContext {
  u64 turn_stamp;
  u8 is_system_task;
  u8 text_reset_pending;
  u32 state_word;
  u8 enable_a, enable_b;  // 1 at creation
  // The text tag: the first two words of the argument record of the
  // text-closing command that ended the task's last text.
  u32 text_tag[2];
  u32 wait_frames;  // frames still to wait (the wait commands set it)
  // A timed wait: set through set_task_timed_wait; wake_pending tells that
  // one is running, so that every clock value (0 included) can end one.
  u32 wake_time;
  u8 wake_pending;
  u32 pc;
  const ScriptRecord* script;  // the record of script_no (null until loaded)
  u16 script_no;
  u8 block_a_depth;
  BlockFrame* block_a_frames[kStackDepth];
  i8 call_depth;
  CallFrame* call_frames[kStackDepth];
  u8 block_b_depth;
  LoopFrame* block_b_frames[kStackDepth];
  // Argument slots 1-16 of each kind (command 95).
  i64 task_ints[kCallValues + 1];
  double task_floats[kCallValues + 1];
  char* task_texts[kCallValues + 1];
  u32 task_text_capacity[kCallValues + 1];
};

// A zeroed context with both enable bytes 1 and entry 0 of each stack, set
// as node's payload. 0, or -1 after reporting 100010.
int make_script_context(ObjectNode* node);
// Frees a context and everything it owns.
void free_script_context(ScriptContext* ctx);
// The payload of a task node (null for other nodes).
ScriptContext* task_context(ObjectNode* node);

// Frames of each stack allocated (zeroed) up to and including index; 0, or
// -1 after reporting 100010 (fatal).
int ensure_block_frames(ScriptContext* ctx, u32 index);
int ensure_loop_frames(ScriptContext* ctx, u32 index);
int ensure_call_frames(ScriptContext* ctx, u32 index);

// Points the context at script file n: loads it (load_script_file) and
// takes its record. 0, or -1 after reporting.
int context_enter_script(ScriptContext* ctx, u32 n);

// Starts a timed wait of ms milliseconds on the millisecond clock.
void set_task_timed_wait(ScriptContext* ctx, u32 ms);

// Copies text (length bytes) into a heap text slot, growing it when needed.
// 0, or -1 after reporting 100010.
int store_slot_text(char** slot, u32* capacity, const char* text, u32 length);
