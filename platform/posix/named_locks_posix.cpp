// Named locks: one lock file per name in the user's runtime folder, locked
// with an open-file-description lock (fcntl F_OFD_SETLK). Such a lock belongs
// to the open file, not to the process: a second open in this process
// conflicts with it as another process would, it can be tested without being
// taken (F_OFD_GETLK), and it goes away when the holder closes the file or
// ends. Files are opened close-on-exec, so a started program (a restart of
// the engine) does not inherit a held lock.
//
// The holder removes the file when it releases. A creator that raced with
// such a release can lock a file that is no longer in the folder; it checks
// after locking that the name still leads to its file and tries again if not.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/named_locks.h"

struct NamedLock {
  int fd;
  std::string path;
};

namespace {

// Makes folder (mode 0700) unless it exists; it must be a real folder owned
// by this user and closed to others. Anything else (a link or a folder made
// by another user under the name) is refused.
LockFolderProblem private_folder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return LockFolderProblem::kCannotMake;
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) return LockFolderProblem::kCannotMake;
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) return LockFolderProblem::kOtherOwner;
  if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) return LockFolderProblem::kCannotMake;
  return LockFolderProblem::kNone;
}

// The folder of the lock files: $XDG_RUNTIME_DIR/k_lumbrane, else (unset, or
// not usable) /tmp/k_lumbrane-<uid>.
LockFolderProblem lock_folder(std::string* out) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string folder = std::string(runtime) + "/k_lumbrane";
    if (private_folder(folder) == LockFolderProblem::kNone) {
      *out = folder;
      return LockFolderProblem::kNone;
    }
  }
  *out = "/tmp/k_lumbrane-" + std::to_string(static_cast<unsigned long>(getuid()));
  return private_folder(*out);
}

std::uint64_t fnv1a64(const std::string& s, std::uint64_t basis, bool reverse) {
  std::uint64_t h = basis;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(reverse ? s[s.size() - 1 - i] : s[i]);
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

bool plain_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// File name of a lock name: plain bytes kept, every other byte as %XX, so
// different names give different files. A name too long for one file name
// keeps a readable escaped start and adds a 128-bit hash of the whole name.
std::string lock_file_name(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : name) {
    if (plain_byte(c)) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  constexpr std::size_t kMaxEscaped = 180;
  if (escaped.size() <= kMaxEscaped) return escaped + ".lock";
  std::size_t cut = 100;
  while (cut > 0 && (escaped[cut - 1] == '%' || (cut >= 2 && escaped[cut - 2] == '%'))) --cut;
  char hash[40];
  std::snprintf(hash, sizeof hash, "%016llx%016llx",
                static_cast<unsigned long long>(fnv1a64(name, 0xcbf29ce484222325ull, false)),
                static_cast<unsigned long long>(fnv1a64(name, 0x84222325cbf29ce4ull, true)));
  return escaped.substr(0, cut) + "~" + std::to_string(name.size()) + "~" + hash + ".lock";
}

int lock_path(const char* name, std::string* path) {
  if (!name || !*name) return -1;
  std::string folder;
  if (lock_folder(&folder) != LockFolderProblem::kNone) return -1;
  *path = folder + "/" + lock_file_name(name);
  return 0;
}

int posix_lock_create(const char* name, NamedLock** out) {
  if (!out) return -1;
  *out = nullptr;
  std::string path;
  if (lock_path(name, &path) != 0) return -1;
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    // A file of another user (left from when the folder stood open) could be
    // held by that user for ever: it is removed and made again.
    struct stat own;
    if (fstat(fd, &own) != 0 || !S_ISREG(own.st_mode) || own.st_uid != geteuid()) {
      close(fd);
      if (unlink(path.c_str()) != 0) return -1;
      continue;
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
      int err = errno;
      close(fd);
      return err == EAGAIN || err == EACCES ? 1 : -1;
    }
    struct stat held, named;
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      *out = new NamedLock{fd, path};
      return 0;
    }
    close(fd);  // the file was released and removed meanwhile: start again
  }
  return -1;
}

void posix_lock_release(NamedLock* lock) {
  if (!lock) return;
  unlink(lock->path.c_str());
  close(lock->fd);
  delete lock;
}

int posix_lock_exists(const char* name) {
  std::string path;
  if (lock_path(name, &path) != 0) return 0;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  // Only this user's processes hold this user's names.
  struct stat own;
  if (fstat(fd, &own) != 0 || own.st_uid != geteuid()) {
    close(fd);
    return 0;
  }
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  int held = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK ? 1 : 0;
  close(fd);
  return held;
}

}  // namespace

LockFolderProblem named_lock_folder_problem(std::string* folder) {
  std::string path;
  const LockFolderProblem problem = lock_folder(&path);
  if (folder) *folder = path;
  return problem;
}

const PlatformNamedLocks kPosixNamedLocks = {posix_lock_create, posix_lock_release, posix_lock_exists};
