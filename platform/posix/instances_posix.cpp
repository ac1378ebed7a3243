// The running-window query over abstract Unix sockets. The engine binds a
// socket named after its window class (ASCII letters folded, as window class
// names are case-insensitive) and the user id; binding fails while another
// process holds the name, and the name vanishes with its holder. A thread
// answers connections: one request byte, 'Q' (is it there) or 'B' (bring the
// window forward), answered with 'K' once handled. Only connections from the
// same user are served, and only a holder of the same user is asked: any
// user can bind any abstract name, this user's among them.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/instances.h"

struct WindowClassListener {
  int socket_fd;
  int wake_fd;
  void (*on_bring_forward)(void* user);
  void* user;
  std::thread thread;
};

namespace {

constexpr int kReplyTimeoutMs = 3000;

bool is_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::uint64_t fnv1a64(const std::string& s, std::uint64_t basis, bool reverse) {
  std::uint64_t h = basis;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(reverse ? s[s.size() - 1 - i] : s[i]);
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

// The abstract socket address of a class: "\0k_lumbrane/wc/<uid>/" and the
// folded class name in hex when it fits, else a 128-bit hash of it with its
// length. Returns the address length, 0 for an empty name.
socklen_t class_address(const char* class_name, sockaddr_un* addr) {
  if (!class_name || !*class_name) return 0;
  std::string folded;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(class_name); *p; ++p) {
    if (is_lead_byte(*p) && p[1]) {
      folded += static_cast<char>(p[0]);
      folded += static_cast<char>(p[1]);
      ++p;
    } else {
      folded += static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p);
    }
  }
  std::string name = "k_lumbrane/wc/" + std::to_string(static_cast<unsigned long>(getuid())) + "/";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : folded) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (1 + name.size() + hex.size() <= sizeof addr->sun_path) {
    name += hex;
  } else {
    char hash[64];
    std::snprintf(hash, sizeof hash, "%zu~%016llx%016llx", folded.size(),
                  static_cast<unsigned long long>(fnv1a64(folded, 0xcbf29ce484222325ull, false)),
                  static_cast<unsigned long long>(fnv1a64(folded, 0x84222325cbf29ce4ull, true)));
    name += hash;
  }
  std::memcpy(addr->sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// Waits until fd is readable (or wake_fd, when given, is); 1 readable, 0
// time-out or wake.
int wait_readable(int fd, int wake_fd, int timeout_ms) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
  int n = wake_fd >= 0 ? 2 : 1;
  while (true) {
    int r = poll(fds, static_cast<nfds_t>(n), timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    if (n == 2 && fds[1].revents) return 0;
    return fds[0].revents ? 1 : 0;
  }
}

void serve(WindowClassListener* l, int conn) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) return;
  if (!wait_readable(conn, l->wake_fd, kReplyTimeoutMs)) return;
  char request = 0;
  if (recv(conn, &request, 1, 0) != 1) return;
  if (request == 'B' && l->on_bring_forward) l->on_bring_forward(l->user);
  char reply = 'K';
  send(conn, &reply, 1, MSG_NOSIGNAL);
}

void listen_loop(WindowClassListener* l) {
  while (true) {
    pollfd fds[2] = {{l->socket_fd, POLLIN, 0}, {l->wake_fd, POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!fds[0].revents) continue;
    int conn = accept4(l->socket_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) continue;
    serve(l, conn);
    close(conn);
  }
}

WindowClassListener* posix_announce(const char* class_name, void (*on_bring_forward)(void* user), void* user) {
  sockaddr_un addr;
  socklen_t addr_len = class_address(class_name, &addr);
  if (addr_len == 0) return nullptr;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), addr_len) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return nullptr;
  }
  int wake = eventfd(0, EFD_CLOEXEC);
  if (wake < 0) {
    close(fd);
    return nullptr;
  }
  auto* l = new WindowClassListener{fd, wake, on_bring_forward, user, {}};
  l->thread = std::thread(listen_loop, l);
  return l;
}

void posix_withdraw(WindowClassListener* l) {
  if (!l) return;
  std::uint64_t one = 1;
  while (write(l->wake_fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
  if (l->thread.joinable()) l->thread.join();
  close(l->socket_fd);
  close(l->wake_fd);
  delete l;
}

constexpr int kHeldByOtherUser = -2;

// Connects to the holder of the class; -1 when nobody holds it,
// kHeldByOtherUser when a process of another user does (its socket is
// closed again: it is not asked anything).
int connect_class(const char* class_name) {
  sockaddr_un addr;
  socklen_t addr_len = class_address(class_name, &addr);
  if (addr_len == 0) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  while (connect(fd, reinterpret_cast<sockaddr*>(&addr), addr_len) != 0) {
    if (errno == EINTR) continue;
    close(fd);
    return -1;
  }
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) {
    close(fd);
    return kHeldByOtherUser;
  }
  return fd;
}

// Sends a request and waits (a bounded time) for the answer; -1 when no
// process of this user holds the class.
int ask(const char* class_name, char request) {
  int fd = connect_class(class_name);
  if (fd < 0) return -1;
  // The answer only tells that the request was handled; a busy or vanishing
  // owner still counts as found, since it is listening.
  if (send(fd, &request, 1, MSG_NOSIGNAL) == 1 && wait_readable(fd, -1, kReplyTimeoutMs)) {
    char reply = 0;
    (void)recv(fd, &reply, 1, 0);
  }
  close(fd);
  return 0;
}

int posix_exists(const char* class_name) { return ask(class_name, 'Q') == 0 ? 1 : 0; }

int posix_bring_forward(const char* class_name) { return ask(class_name, 'B'); }

int posix_held_by_other_user(const char* class_name) {
  int fd = connect_class(class_name);
  if (fd >= 0) close(fd);
  return fd == kHeldByOtherUser ? 1 : 0;
}

}  // namespace

const PlatformInstanceQuery kPosixInstanceQuery = {posix_announce, posix_withdraw, posix_exists,
                                                   posix_bring_forward, posix_held_by_other_user};
