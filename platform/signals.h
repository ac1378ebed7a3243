// Close requests from outside the desktop: SIGINT and SIGTERM.
#pragma once

struct PlatformSignals {
  // From now on, each SIGINT or SIGTERM calls on_request on a watcher thread
  // of its own (never in the signal handler itself). 0, or -1 when the
  // watcher can't be set up. GUI thread, once.
  int (*watch_close_requests)(void (*on_request)());
  // Ends the watcher (joins it); later signals are caught and dropped, so
  // the run's end keeps its exit status. Safe without a watcher.
  void (*stop_watching)();
  // Catches the two signals from now on, before any watcher exists: each is
  // kept and handed to watch_close_requests's callback once it watches. For
  // the program's first instant (its pre-initialiser, before any library's
  // constructor). 0, or -1. Once.
  int (*catch_close_requests_early)();
};

// The handler writes the signal to a pipe; the watcher thread reads it.
extern const PlatformSignals kPosixSignals;
