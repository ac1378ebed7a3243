// Writes a whole compiled game ("ztbin" with every engine file) from a
// readable text, on top of the script assembler (script_asm.h). Tests and
// the demo state a game in a few lines; the writer lays out the ".zbn"
// files byte by byte as the engine reads them.
//
// Game text, one statement a line ('#' at a line's start is a comment):
//   config <key>=<value> ...   width height show image=<8 hex bytes>
//                              sound=<4 hex bytes> frame_thread debug
//                              sound_mode switch0-2 loose0 loose1 title=<text>
//   error <number> <text>      an error text of zte.zbn
//   highest <id>               highest variable id of ztt.zbn (default 1199)
//   value124 <n>               the value of ztt.zbn read as variable 124
//   var[@<script>] <id> <int|float|text> [<size>...] = <initial value>
//                              a variable of ztv.zbn (global, or of one
//                              script file); a text value is expression code
//   command ... / keymap ...   command-list lines (script_asm.h); the
//                              standard command list below is always there
//   script <number> <source name> [value=<n>]
//                              starts a script file; the lines up to the
//                              next "script" are its instructions:
//     instr / arg / rawarg     as script_asm.h
//     at <param> <mark>        an argument record whose code-length field
//                              holds the instruction index of a mark
//     mark <name>              a mark at the next instruction
//     label <name>             a label (ztl.zbn) at the next instruction,
//                              with the block and loop depths open there
//   Structured forms, expanded into the commands of the standard list:
//     set <target> = <value>   53 with an integer value (sett text, setf float)
//     dim <target> = <value>   50 (dimf 25, dims 92): target v:id or V:id sizes )
//     if <cond> / elif <cond> / else / endif        44, 45 + 11, 48
//     loop <count> / endloop                        55, 58
//     break [n] / continue [n]                      56, 57 (loops)
//     bbreak [n] / bcontinue [n]                    46, 47 (blocks)
//     jump <label>                                  42
//     call <label> [i:<code>]... [f:<code>]... [t:<code>]...   43
//     return [i:<code>]... [f:<code>]... [t:<code>]...         79
//     start <task> <label> [key=<n>] [again] [int1=<code>]...  95
//     stop [<task>]                                            96
//     wait <frames>                                            104
//     nop / end                                     0 / 79 with nothing
// Expression code is written as asm_expr takes it. Errors throw
// std::runtime_error.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "engine/frame/types.h"

// File name ("ztbin\\ztcfg.zbn", ...) -> bytes.
using GameFiles = std::map<std::string, std::vector<u8>>;

// The command-list lines every game has: the control-flow, task, variable
// and wait commands with their parameters.
const std::string& standard_commands();

GameFiles build_game(const std::string& text);
// The compiled script file of script_asm text (instructions section, then
// arguments, pool and lines, scrambled with the section key).
std::vector<u8> script_file_bytes(const std::vector<u8>& instructions, const std::vector<u8>& arguments,
                                  const std::vector<u8>& pool, const std::vector<u32>& lines);

// Writes every file under folder ("ztbin\\x" becomes folder/ztbin/x); false
// when a file can't be written.
bool write_game_folder(const std::string& folder, const GameFiles& files);
