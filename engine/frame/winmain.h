// The engine program's entry: single-instance rules, folders, the appended
// archive, start-up, the main loop and shut-down. Returns the exit code.
#pragma once

int engine_main(int argc, char** argv);
