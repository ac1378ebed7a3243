// The scripts' random numbers: MT19937 (the standard generator, seeded with
// word 0 = s, word i = 1812433253 * (word i-1 ^ (word i-1 >> 30)) + i).
#pragma once
#include <random>

#include "engine/frame/types.h"

extern std::mt19937 g_script_random;
void mt_seed(u32 seed);
// The next tempered 32-bit word.
u32 mt_next();
// Start-up seeds it from the millisecond clock.
void seed_script_random(u32 seed);
