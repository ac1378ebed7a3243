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
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};

namespace {

int posix_create(const char* name, std::size_t size, SharedMapping** out) {
  *out = nullptr;
  if (!name || !name[0] || std::strchr(name, '/') || size == 0) return -1;
  std::string path = std::string("/") + name;
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
  m->bytes = static_cast<std::uint8_t*>(p);
  m->size = size;
  std::memset(m->bytes, 0, size);  // a new object reads as zeros already; kept explicit
  *out = m;
  return 0;
}

std::uint8_t* posix_data(SharedMapping* m) { return m ? m->bytes : nullptr; }
std::size_t posix_size(SharedMapping* m) { return m ? m->size : 0; }

void posix_release(SharedMapping* m) {
  if (!m) return;
  if (m->bytes) munmap(m->bytes, m->size);
  shm_unlink(m->name.c_str());
  delete m;
}

}  // namespace

const PlatformSharedMemory kPosixSharedMemory = {posix_create, posix_data, posix_size, posix_release};
