#include <fcntl.h>
#include <csignal>
#include <thread>
#include <unistd.h>

#include "platform/signals.h"

namespace {
int g_pipe[2] = {-1, -1};
std::thread g_watcher;

void on_signal(int sig) {
  char c = static_cast<char>(sig);
  ssize_t r = write(g_pipe[1], &c, 1);
  (void)r;
}

// The pipe and the handler: from here on a signal is kept in the pipe until
// a watcher reads it.
int catch_signals() {
  if (g_pipe[0] >= 0) return 0;
  if (pipe2(g_pipe, O_CLOEXEC) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return -1;
  }
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  return 0;
}

int catch_close_requests_early() { return catch_signals(); }

int watch_close_requests(void (*on_request)()) {
  if (!on_request || g_watcher.joinable()) return -1;
  if (catch_signals() != 0) return -1;
  // A signal that came before (caught early) is read at once.
  g_watcher = std::thread([on_request] {
    char c;
    while (read(g_pipe[0], &c, 1) == 1) {
      if (c == 0) break;  // stop_watching
      on_request();
    }
  });
  return 0;
}

// The handler and the pipe stay: a signal in the last instants of a run
// that already ends is kept and read by nobody, instead of killing the
// process and changing its exit status. Programs started later get the
// default handling back with their exec.
void stop_watching() {
  if (g_pipe[1] < 0 || !g_watcher.joinable()) return;
  char c = 0;
  ssize_t r = write(g_pipe[1], &c, 1);
  (void)r;
  g_watcher.join();
}
}  // namespace

const PlatformSignals kPosixSignals = {watch_close_requests, stop_watching, catch_close_requests_early};
