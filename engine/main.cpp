#include "engine/frame/winmain.h"
#include "platform/signals.h"

namespace {
// SIGINT and SIGTERM are caught from before every other constructor of the
// program on, so that a signal during the loading of the program still ends
// the run in order once it runs.
__attribute__((constructor(101))) void catch_signals_first() { kPosixSignals.catch_close_requests_early(); }
}  // namespace

int main(int argc, char** argv) { return engine_main(argc, argv); }
