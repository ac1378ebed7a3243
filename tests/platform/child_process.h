// A forked child that runs a function and talks to the test over two pipes:
// the child writes one byte when it is ready (or has something to report)
// and waits for one byte from the test before it goes on.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

class ChildProcess {
 public:
  // body runs in the child; it gets this object to signal and wait. The
  // child ends with _exit(the body's result).
  explicit ChildProcess(const std::function<int(ChildProcess&)>& body) {
    // A child that ended already must not kill the test when told to go on.
    signal(SIGPIPE, SIG_IGN);
    if (pipe(to_parent_) != 0 || pipe(to_child_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(to_parent_[0]);
      close(to_child_[1]);
      _exit(body(*this));
    }
    close(to_parent_[1]);
    close(to_child_[0]);
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) wait();
    if (pid_ > 0) {
      close(to_parent_[0]);
      close(to_child_[1]);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }

  // In the child: send a byte to the test / wait for the test's byte.
  void tell_parent(char c) { (void)!write(to_parent_[1], &c, 1); }
  char wait_parent() {
    char c = 0;
    return read(to_child_[0], &c, 1) == 1 ? c : 0;
  }

  // In the test: wait (at most timeout_ms) for the child's next byte; 0 when
  // none came.
  char wait_child(int timeout_ms = 10000) {
    pollfd p = {to_parent_[0], POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return 0;
    char c = 0;
    return read(to_parent_[0], &c, 1) == 1 ? c : 0;
  }
  void tell_child(char c) { (void)!write(to_child_[1], &c, 1); }
  // Waits for the child to end; its exit status, or -1.
  int wait() {
    int status = 0;
    reaped_ = true;
    tell_child('q');  // a child still waiting for the test is let go
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int to_parent_[2] = {-1, -1};
  int to_child_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool reaped_ = false;
};
