// The engine file list: the names the system command's folder listing
// found, each in a 521-byte slot. System variable 15 holds the count; the
// names are read through system variable 14.
#pragma once
#include <string>
#include <vector>

#include "engine/frame/types.h"

constexpr u32 kFileNameSlotSize = 521;
constexpr u32 kMaxFileListNames = 8192;

// Replaces the list (each name cut to 520 bytes, never inside a double-byte
// character) and sets variable 15 to the count.
void set_engine_file_list(const std::vector<std::string>& names);
