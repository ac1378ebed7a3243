// Named shared memory on POSIX shared memory objects.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "platform/shared_memory.h"

struct SharedMapping {
  std::string name;  // "/" + the block's name
  std::string lock_name;
  int lock_fd = -1;  // holds the name
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};

namespace {

// The lock object of a block's name: one per user (another user's is not
// ours to open), removed by its holder when it lets go.
std::string lock_name_of(const std::string& path) { return path + ".lock." + std::to_string(getuid()); }

// Takes the name's lock: the descriptor, -2 while another holder has it,
// -1 on failure.
int hold_name(const std::string& path) {
  int fd = shm_open(lock_name_of(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    const int e = errno;
    close(fd);
    return e == EAGAIN || e == EACCES ? -2 : -1;
  }
  return fd;
}

int make_block(const std::string& path, std::size_t size, int lock_fd, SharedMapping** out) {
  // A name left by a run that ended without releasing it would hand this
  // run a block of the wrong size and stale contents: it is replaced.
  shm_unlink(path.c_str());
  int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    shm_unlink(path.c_str());
    return -1;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    shm_unlink(path.c_str());
    return -1;
  }
  SharedMapping* m = new (std::nothrow) SharedMapping;
  if (!m) {
    munmap(p, size);
    shm_unlink(path.c_str());
    return -1;
  }
  m->name = path;
  m->lock_name = lock_name_of(path);
  m->lock_fd = lock_fd;
  m->bytes = static_cast<std::uint8_t*>(p);
  // A new object reads as zeros: nothing is written here, so a large block
  // costs memory only for the pages that are used.
  m->size = size;
  *out = m;
  return 0;
}

int posix_create(const char* name, std::size_t size, SharedMapping** out) {
  *out = nullptr;
  if (!name || !name[0] || std::strchr(name, '/') || size == 0) return -1;
  std::string path = std::string("/") + name;
  const int lock_fd = hold_name(path);
  if (lock_fd == -2) return 1;
  if (lock_fd < 0) return -1;
  const int made = make_block(path, size, lock_fd, out);
  if (made != 0) close(lock_fd);
  return made;
}

std::uint8_t* posix_data(SharedMapping* m) { return m ? m->bytes : nullptr; }
std::size_t posix_size(SharedMapping* m) { return m ? m->size : 0; }

void posix_release(SharedMapping* m) {
  if (!m) return;
  if (m->bytes) munmap(m->bytes, m->size);
  shm_unlink(m->name.c_str());
  if (m->lock_fd >= 0) {
    shm_unlink(m->lock_name.c_str());  // still held while it goes
    close(m->lock_fd);
  }
  delete m;
}

}  // namespace

const PlatformSharedMemory kPosixSharedMemory = {posix_create, posix_data, posix_size, posix_release};
