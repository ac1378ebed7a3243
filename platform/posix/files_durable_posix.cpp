// Durable copies: copy_file_range (the kernel copies, or shares the blocks)
// with a read/write loop where it is not supported, then fsync; and durable
// replaces of a file's contents by temporary file, fsync and rename. Both
// hand what they have written to the disk as they go, so that the fsync
// does not start the whole file's writes only at the end.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/posix/fd_write.h"
#include "platform/files_durable.h"

namespace {

// Starts the disk writes of a file while it is still being written: each
// time another kStep bytes have been written, they are handed to the disk
// (sync_file_range, which does not wait for them). The fsync at the end then
// finds most of the file written or on its way, instead of the whole file
// still to write, so the copying and the disk work at the same time. Only a
// hint: whether it worked changes nothing, the fsync still decides. The last
// bytes, less than a step, are left to the fsync, so that a page written
// again by the next small piece is not sent to the disk twice.
class Writeback {
 public:
  static constexpr off_t kStep = off_t{1} << 20;
  Writeback(int fd, off_t at) : fd_(fd), written_(at), started_(at) {}
  void wrote(off_t n) {
    written_ += n;
    if (written_ - started_ < kStep) return;
    const off_t end = written_ & ~(kStep - 1);
    sync_file_range(fd_, started_, end - started_, SYNC_FILE_RANGE_WRITE);
    started_ = end;
  }

 private:
  int fd_;
  off_t written_, started_;
};

int copy_by_reading(int in, int out, off_t offset) {
  if (lseek(in, offset, SEEK_SET) < 0 || lseek(out, offset, SEEK_SET) < 0) return -1;
  std::vector<char> buffer(1 << 20);
  Writeback writeback(out, offset);
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) return 0;
    if (fd_write_all(out, buffer.data(), static_cast<std::size_t>(n)) != 0) return -1;
    writeback.wrote(n);
  }
}

int copy_contents(int in, int out, off_t size) {
  // Copied in steps, each handed to the disk as soon as it is copied.
  constexpr off_t kCopyStep = off_t{8} << 20;
  off_t done = 0;
  Writeback writeback(out, 0);
  while (done < size) {
    const off_t step = size - done < kCopyStep ? size - done : kCopyStep;
    ssize_t n = copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(step), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
        return copy_by_reading(in, out, done);
      return -1;
    }
    if (n == 0) break;  // the source became shorter: take what is there
    done += n;
    writeback.wrote(n);
  }
  // A source that grew meanwhile is copied to its end.
  return copy_by_reading(in, out, done);
}

int durable_copy(const char* from_sjis, const char* to_sjis, int create_flags) {
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
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | create_flags, 0600);
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

}  // namespace

int files_durable_copy(const char* from_sjis, const char* to_sjis) { return durable_copy(from_sjis, to_sjis, O_TRUNC); }

int files_durable_copy_new(const char* from_sjis, const char* to_sjis) {
  return durable_copy(from_sjis, to_sjis, O_EXCL | O_NOFOLLOW);
}

int files_remove_unless_folder(const char* sjis_path) {
  std::string real;
  // A dangling link resolves as a missing name: its path is the link's.
  if (kPosixFiles.resolve(sjis_path, &real) < 0) return -1;
  struct stat st;
  if (lstat(real.c_str(), &st) != 0) return errno == ENOENT ? 0 : -1;
  if (S_ISDIR(st.st_mode)) return -1;
  return unlink(real.c_str()) == 0 || errno == ENOENT ? 0 : -1;
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

// ---- durable replace ----

namespace {
long posix_write(int fd, const void* data, unsigned long size) { return write(fd, data, size); }
int posix_fsync(int fd) { return fsync(fd); }
int posix_rename(const char* from, const char* to) { return rename(from, to); }
long posix_copy(int from, long long at, int to, unsigned long size) {
  off_t offset = static_cast<off_t>(at);
  const ssize_t n = copy_file_range(from, &offset, to, nullptr, size, 0);
  if (n >= 0 || (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)) return n;
  char buffer[1 << 16];
  const ssize_t got = pread(from, buffer, size < sizeof buffer ? size : sizeof buffer, static_cast<off_t>(at));
  if (got <= 0) return got;
  return write(to, buffer, static_cast<std::size_t>(got));
}
}  // namespace

const DurableReplaceCalls kPosixDurableReplaceCalls = {posix_write, posix_fsync, posix_rename, posix_fsync, posix_copy};
DurableReplaceCalls g_durable_replace_calls = kPosixDurableReplaceCalls;

namespace {

constexpr const char* kTempMark = ".tmp-";
constexpr std::size_t kTempRandom = 6;  // the XXXXXX of mkostemp
// Bounded writes, so that a large file is written in several calls.
constexpr unsigned long kWriteChunk = 1ul << 20;

// Follows symbolic links from path to the file they name, which need not
// exist yet (a dangling link names the file to make). false after 40 links,
// a loop.
bool follow_links(std::string* path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path->c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(path->c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return false;
    std::string next(target.data(), static_cast<std::size_t>(n));
    if (next.empty()) return false;
    if (next[0] != '/') {
      const std::size_t slash = path->rfind('/');
      if (slash != std::string::npos) next = path->substr(0, slash + 1) + next;
    }
    *path = next;
  }
  errno = ELOOP;
  return false;
}

// Removes "<name>.tmp-XXXXXX" files in folder left by an interrupted replace.
void remove_stale_temps(const std::string& folder, const std::string& name) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return;
  const std::string prefix = name + kTempMark;
  while (dirent* e = readdir(dir)) {
    const std::size_t len = std::strlen(e->d_name);
    if (len == prefix.size() + kTempRandom && std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
      unlinkat(dirfd(dir), e->d_name, 0);
  }
  closedir(dir);
}

int write_through(int fd, const char* data, unsigned long size, Writeback* writeback) {
  while (size > 0) {
    const unsigned long part = size < kWriteChunk ? size : kWriteChunk;
    long n = g_durable_replace_calls.write(fd, data, part);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) {
      errno = EIO;
      return -1;
    }
    data += n;
    size -= static_cast<unsigned long>(n);
    writeback->wrote(n);
  }
  return 0;
}

int copy_through(int fd, int from, unsigned long long at, unsigned long size, Writeback* writeback) {
  while (size > 0) {
    const unsigned long part = size < kWriteChunk ? size : kWriteChunk;
    long n = g_durable_replace_calls.copy(from, static_cast<long long>(at), fd, part);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) {
      errno = EIO;  // the source ended early
      return -1;
    }
    at += static_cast<unsigned long long>(n);
    size -= static_cast<unsigned long>(n);
    writeback->wrote(n);
  }
  return 0;
}

}  // namespace

int files_replace_durably(const char* sjis_path, const void* data, unsigned long size, int* error) {
  const FilePiece whole = {data, size};
  return files_replace_durably_pieces(sjis_path, &whole, 1, error);
}

int files_replace_durably_pieces(const char* sjis_path, const FilePiece* pieces, unsigned long count, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  *error = 0;
  std::string real;
  const int found = kPosixFiles.resolve(sjis_path, &real);
  if (found < 0) {
    *error = ENOENT;
    return -1;
  }
  // A name that is a symbolic link keeps the link: the new contents replace
  // the file it points at, from a temporary file beside that file.
  if (!follow_links(&real)) {
    *error = errno ? errno : ELOOP;
    return -1;
  }
  const std::size_t slash = real.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : real.substr(0, slash);
  const std::string name = slash == std::string::npos ? real : real.substr(slash + 1);
  struct stat old_st;
  const bool had_old = stat(real.c_str(), &old_st) == 0;
  if (had_old && !S_ISREG(old_st.st_mode)) {
    *error = EISDIR;
    return -1;
  }
  remove_stale_temps(folder, name);
  std::string temp = (folder.empty() ? std::string() : folder + "/") + name + kTempMark + "XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  auto fail = [&](int e) {
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    *error = e ? e : EIO;
    return -1;
  };
  fchmod(fd, had_old ? (old_st.st_mode & 0777) : 0644);
  Writeback writeback(fd, 0);
  for (unsigned long i = 0; i < count; ++i) {
    const FilePiece& p = pieces[i];
    const int rc = p.from ? copy_through(fd, fileno(p.from), p.at, p.size, &writeback)
                          : write_through(fd, static_cast<const char*>(p.data), p.size, &writeback);
    if (rc != 0) return fail(errno);
  }
  if (g_durable_replace_calls.fsync(fd) != 0) return fail(errno);
  if (close(fd) != 0) {
    fd = -1;
    return fail(errno);
  }
  fd = -1;
  if (g_durable_replace_calls.rename(temp.c_str(), real.c_str()) != 0) return fail(errno);
  // The new name is in place; flushing the folder makes the rename itself
  // survive a power cut. A failure here is reported, though the new
  // contents already stand under the name.
  int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    *error = errno;
    return -1;
  }
  int rc = g_durable_replace_calls.fsync_folder(dir);
  const int e = errno;
  close(dir);
  if (rc != 0) {
    *error = e;
    return -1;
  }
  return 0;
}

int files_close_replaced(std::FILE* f) {
  if (!f) return 0;
  // A second descriptor keeps the file open past fclose, which then only
  // ends the stream; the thread's close is the last one, where the blocks
  // are freed. A stream without a descriptor, or no thread to be had: the
  // close happens here.
  const int fd = fileno(f);
  const int held = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
  const int rc = std::fclose(f);
  if (held >= 0) {
    try {
      std::thread([held] { close(held); }).detach();
    } catch (const std::system_error&) {
      close(held);
    }
  }
  return rc;
}
