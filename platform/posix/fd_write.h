// Writing a whole buffer to a file descriptor, through short writes and
// interrupted calls.
#pragma once
#include <cerrno>
#include <cstddef>

#include <unistd.h>

// 0 when every byte was written, -1 on a write error.
inline int fd_write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}
