#include "engine/frame/winmain.h"

// The size record: the marker, then the program file's built size, stamped
// into the file by the build. An archive appended later starts behind it.
extern "C" __attribute__((used)) volatile const unsigned char g_program_size_record[16] = {
    'Z', 'T', '_', 'R', 'E', 'S', 0, '2', '0', '1', 0, 0, 0, 0, 0, 0};

int engine_main(int argc, char** argv) { return g_program_size_record[12] == 0 ? 1 : 0; }
