// Close requests from outside the desktop: SIGINT and SIGTERM.
#pragma once

struct PlatformSignals {
  // From now on, each SIGINT or SIGTERM calls on_request on a watcher thread
  // of its own (never in the signal handler itself). 0, or -1 when the
  // watcher can't be set up. GUI thread, once.
  int (*watch_close_requests)(void (*on_request)());
  // Gives the two signals back their default handling and ends the watcher
  // (joins it). Safe without a watcher.
  void (*stop_watching)();
};

// The handler writes the signal to a pipe; the watcher thread reads it.
extern const PlatformSignals kPosixSignals;
