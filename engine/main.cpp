#include "engine/frame/winmain.h"
#include "platform/signals.h"

namespace {
// SIGINT and SIGTERM are caught from the program's first instant of its own
// on: the loader calls the program's pre-initialisers before the constructor
// of any library (GTK, GLib, SDL, the C++ runtime), so a signal while those
// are set up, or at any later moment, is kept and ends the run in order once
// the engine runs, instead of killing the process with the default action.
// Only the loader's own mapping of the libraries comes before it.
void catch_signals_first(int, char**, char**) { kPosixSignals.catch_close_requests_early(); }
__attribute__((section(".preinit_array"), used)) void (*const g_catch_signals_first)(int, char**, char**) =
    catch_signals_first;
}  // namespace

int main(int argc, char** argv) { return engine_main(argc, argv); }
