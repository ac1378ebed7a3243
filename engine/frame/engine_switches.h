// Switches of the engine that the scripts set and read: the per-command
// error switches and the small bytes of the settings commands.
#pragma once
#include "engine/frame/types.h"

// One byte per command id, all 1 after start-up; a handler that consults
// its switch skips some reports while it is 0.
constexpr u32 kErrorSwitchCount = 128;
extern u8 g_error_switches[kErrorSwitchCount];

struct EngineSwitches {
  u8 switch_byte = 0;         // the settings command's engine switch
  u8 check_byte = 0;          // read back by the script-list query
  u8 query_byte = 0;          // read back by the system command (20021)
  u8 modal_box_open = 0;      // a script's message box is open
  u8 draw_during_movie = 0;   // keep drawing the windows every frame while a movie shows
};
extern EngineSwitches g_engine_switches;
