// Error numbers of the script machine that the compiled error file does not
// define: checks this engine makes on data that would otherwise be read
// unchecked. They have no text in "ztbin\zte.zbn", so the reporter shows its
// default text with the number; the number is what tells them apart.
#pragma once
#include "engine/frame/types.h"

// Compiled data that is damaged or does not fit this engine: a command id
// beyond the command list or the command table, a parameter id beyond its
// command's parameter count, an argument record whose type byte is not 1-4 or
// whose code lies outside the expression pool, expression code whose operands
// run past its end, that pops more than it pushed, overflows the value stack,
// the string slots or the index lists, and a command list that ends early.
// Fatal.
constexpr u32 kErrCompiledDataDamaged = 900080;
// An object path longer than the 4096-byte path buffer. Fatal.
constexpr u32 kErrObjectPathTooLong = 100244;
// A group already holds the 4096 children its index has room for. Fatal.
constexpr u32 kErrObjectTooManyChildren = 100250;
// A text longer than a text element can hold (65534 bytes). Fatal.
constexpr u32 kErrTextTooLong = 108240;

// Numbers the script machine shares with the compiled error file.
constexpr u32 kErrOutOfMemory = 100010;
constexpr u32 kErrObjectParentMissing = 100230;
constexpr u32 kErrObjectNameBlank = 100242;
constexpr u32 kErrObjectNullPath = 900020;
constexpr u32 kErrInvalidOpcode = 900030;
constexpr u32 kErrUndefinedCommand = 900050;
constexpr u32 kErrRangeMinMax = 101000;
constexpr u32 kErrRangeMin = 101010;
constexpr u32 kErrRangeColourOrNone = 101020;
constexpr u32 kErrRangeColour = 101030;
constexpr u32 kErrTooManyElements = 101100;
constexpr u32 kErrNoElements = 101110;
constexpr u32 kErrRangeTooLarge = 101210;
constexpr u32 kErrRangeNegative = 101220;
constexpr u32 kErrIndexOutside = 107010;
constexpr u32 kErrIndexCount = 107020;
constexpr u32 kErrVariableMissing = 108010;
constexpr u32 kErrNotANumber = 108210;
constexpr u32 kErrTextNumberMixed = 160010;
