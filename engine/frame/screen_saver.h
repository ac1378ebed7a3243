// Screen-saver mode: a game shipped as a saver (its appended archive's
// trailer says so) answers the saver arguments before the normal start-up:
// the version box for a configure request, the preview picture of the
// trailer in the desktop's preview window, and nothing for a password
// change; a run request goes on with the normal start-up.
#pragma once
#include <vector>

#include "engine/frame/types.h"

// The trailer's preview bitmap of the program file: N (at built_size + 8)
// bytes read from built_size + 16. 0, or -1 when the file can't be read,
// N is below a bitmap's 54 header bytes, or the file is shorter.
int read_preview_bitmap(const char* sjis_path, u32 built_size, std::vector<u8>* out);

// A preview bitmap (file header, 40-byte info header, 24-bit pixels at its
// offset, rows bottom-up or top-down, padded to 4 bytes) as BGRA pixels,
// top row first. 0, or -1 when it is no such bitmap or its pixels lie
// outside the bytes.
int decode_preview_bitmap(const std::vector<u8>& bmp, i32* width, i32* height, std::vector<u32>* pixels);

// By the arguments of the run (g_args): 0 go on with the normal start-up,
// -1 the run ends here.
int screensaver_info_loop();
