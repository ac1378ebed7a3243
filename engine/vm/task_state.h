// The task-state text that saves and restores a task's stacks (the task
// commands, the task query and save data use it).
//
// The text never holds a zero byte. It starts with the bytes 1..8; numbers
// follow, most significant 4 bits first, one byte per 4 bits: the first
// byte holds its value + 1, every following byte 'a' + its value. Fields:
// block stack A depth (u8), per frame: B depth u8, head pc u32, end pc u32;
// call depth (u8), per frame: A depth u8, B depth u8, return pc u32, return
// script u16, the low 16 bits of the call line u16; block stack B depth (u8),
// per frame: A depth u8, body pc u32, end pc u32, counter and count (each
// written as its low 32 bits and read back sign-extended); the state word u32, the
// source name's length u32, a u32 not read, then the name's bytes (at most
// 262 are taken).
#pragma once
#include <string>

#include "engine/frame/types.h"

struct ScriptContext;

constexpr u32 kErrTaskIsGroup = 101293;
constexpr u32 kErrTaskMissing = 101400;
constexpr u32 kErrStopSystemTask = 101420;
constexpr u32 kErrTaskStateSignature = 900000;
constexpr u32 kErrTaskStateScript = 102130;
// A task-state text that ends early, holds a byte that is no digit, or a
// depth above 63. Fatal.
constexpr u32 kErrTaskStateDamaged = 900010;
constexpr u32 kMaxTaskStateName = 262;

// The task-state text of ctx (for the task query command and tests).
std::string encode_task_state(const ScriptContext* ctx);
// Restores ctx's stacks, state word and script number from text (length
// bytes): the number of bytes read; 0 after reporting 900000 (no signature)
// or 102130 (a script that is not in the list); -1 after reporting a
// damaged text or no memory. On failure ctx keeps its stacks as they were.
// Frames are made (zeroed) up to every depth the text holds, the depths
// saved inside the frames included.
int restore_task_state(const char* text, u32 length, ScriptContext* ctx);
