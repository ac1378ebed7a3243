// The running program's file, for the backends that need its folder.
#pragma once
#include <string>

// Real UTF-8 path of the program file (from /proc/self/exe); empty when it
// cannot be read. When the file was replaced while running, the link names
// the old file with " (deleted)" after it; the path of the new file is given
// then, since that is where the program's folder and its libraries are.
std::string real_program_file();
