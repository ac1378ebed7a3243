// The hosted Flash control (commands 22-24): one movie in the child area
// "zt_fls" over the main window. Linux has no Flash player: the host asks
// for the control-hosting library "atl.dll" once a run, and without it the
// movie is recorded but never plays. Frame thread only.
#pragma once
#include <string>

#include "engine/frame/param_set.h"
#include "engine/frame/types.h"

struct FlashState {
  std::string name;  // lower-cased, '\' separators
  i32 x = 0, y = 0, w = 0, h = 0;
  i64 kept_value = 0;
  i32 total_frames = 0;
  u32 child = 0;  // the child area
  u8 open = 0;
};
extern FlashState g_flash;

// Command 22: 0, or -1 after a report (104060, fatal).
int flash_open(const ParamSet& a);
// Command 23 and shut-down: releases the control and the child area.
void flash_close();
// Command 24's answer to query param (0-8).
i64 flash_query(u32 param);
// Places the child area again after the window's size changed.
void flash_rescale();
