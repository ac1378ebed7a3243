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

int watch_close_requests(void (*on_request)()) {
  if (g_pipe[0] >= 0 || !on_request) return -1;
  if (pipe2(g_pipe, O_CLOEXEC) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return -1;
  }
  g_watcher = std::thread([on_request] {
    char c;
    while (read(g_pipe[0], &c, 1) == 1) {
      if (c == 0) break;  // stop_watching
      on_request();
    }
  });
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  return 0;
}

void stop_watching() {
  if (g_pipe[1] < 0) return;
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  char c = 0;
  ssize_t r = write(g_pipe[1], &c, 1);
  (void)r;
  if (g_watcher.joinable()) g_watcher.join();
  close(g_pipe[0]);
  close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}
}  // namespace

const PlatformSignals kPosixSignals = {watch_close_requests, stop_watching};
