#include "engine/frame/engine_switches.h"

#include <cstring>

#include "engine/frame/engine_steps.h"

u8 g_error_switches[kErrorSwitchCount];
EngineSwitches g_engine_switches;

void set_all_error_switches() { std::memset(g_error_switches, 1, sizeof g_error_switches); }
