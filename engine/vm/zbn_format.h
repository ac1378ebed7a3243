// Constants of the compiled engine files (".zbn" in "ztbin") that the engine
// and the fixture writers share.
#pragma once
#include "engine/frame/types.h"

// The four sections of a compiled script file are scrambled by XOR with this
// key: byte i of a section (from 0 at the section's start) with key byte
// i AND 3.
constexpr u8 kScriptSectionKey[4] = {0x5A, 0xC3, 0x1E, 0x97};

// Offsets of the compiled script file's header.
constexpr u32 kScriptHeaderSize = 32;
// The variable table header's version word.
constexpr u32 kVarTableVersion = 554;
// Offset of the first label in "ztbin\ztl.zbn" (after the 256 bucket starts).
constexpr u32 kLabelsStart = 12 + 256 * 4;
// Offset of the window title in "ztbin\ztcfg.zbn".
constexpr u32 kConfigTitleOffset = 78;
constexpr u32 kConfigMaxTitle = 128;
