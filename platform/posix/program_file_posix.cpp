#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/program_file.h"

std::string real_program_file() {
  std::vector<char> buffer(4096);
  while (true) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(n));
      static const std::string kDeleted = " (deleted)";
      struct stat st;
      if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0 &&
          stat(path.c_str(), &st) != 0)
        path.resize(path.size() - kDeleted.size());
      return path;
    }
    if (buffer.size() >= (1u << 16)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}
