// The scripts' random numbers.
#include "engine/vm/script_random.h"

std::mt19937 g_script_random;

void mt_seed(u32 seed) { g_script_random.seed(seed); }
u32 mt_next() { return static_cast<u32>(g_script_random()); }
void seed_script_random(u32 seed) { mt_seed(seed); }
