// Durable copies: copy_file_range (the kernel copies, or shares the blocks)
// with a read/write loop where it is not supported, then fsync.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/fd_write.h"
#include "platform/files_durable.h"

namespace {

int copy_by_reading(int in, int out, off_t offset) {
  if (lseek(in, offset, SEEK_SET) < 0 || lseek(out, offset, SEEK_SET) < 0) return -1;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) return 0;
    if (fd_write_all(out, buffer.data(), static_cast<std::size_t>(n)) != 0) return -1;
  }
}

int copy_contents(int in, int out, off_t size) {
  off_t done = 0;
  while (done < size) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(size - done), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
        return copy_by_reading(in, out, done);
      return -1;
    }
    if (n == 0) break;  // the source became shorter: take what is there
    done += n;
  }
  // A source that grew meanwhile is copied to its end.
  return copy_by_reading(in, out, done);
}

}  // namespace

int files_durable_copy(const char* from_sjis, const char* to_sjis) {
  std::string from, to;
  if (kPosixFiles.resolve(from_sjis, &from) != 0) return -1;
  if (kPosixFiles.resolve(to_sjis, &to) < 0) return -1;
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return -1;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return -1;
  }
  int rc = copy_contents(in, out, st.st_size);
  close(in);
  if (rc == 0 && fchmod(out, st.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID)) != 0) rc = -1;
  if (rc == 0 && fsync(out) != 0) rc = -1;
  if (close(out) != 0) rc = -1;
  if (rc != 0) unlink(to.c_str());
  return rc;
}

int files_is_read_only(const char* sjis_path) {
  std::string real;
  if (kPosixFiles.resolve(sjis_path, &real) != 0) return 0;
  struct stat st;
  if (stat(real.c_str(), &st) != 0) return 0;
  if (!(st.st_mode & S_IWUSR)) return 1;
  return access(real.c_str(), W_OK) != 0 ? 1 : 0;
}

int files_sync_folder(const char* sjis_folder) {
  std::string real;
  if (kPosixFiles.resolve(sjis_folder, &real) != 0) return -1;
  int fd = open(real.empty() ? "." : real.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int rc = fsync(fd) == 0 ? 0 : -1;
  close(fd);
  return rc;
}

int files_canonical_path(const char* sjis_path, std::string* sjis_out) {
  std::string real;
  if (kPosixFiles.resolve(sjis_path, &real) != 0) return -1;
  char* full = realpath(real.empty() ? "." : real.c_str(), nullptr);
  if (!full) return -1;
  std::string utf8 = full;
  std::free(full);
  std::string sjis;
  // A '\' inside a name would read as a separator: such a path has no form.
  if (utf8.find('\\') != std::string::npos || utf8_to_sjis(utf8.c_str(), &sjis) != 0) return -1;
  for (char& c : sjis)
    if (c == '/') c = '\\';
  while (sjis.size() > 1 && sjis.back() == '\\') sjis.pop_back();
  *sjis_out = sjis;
  return 0;
}
