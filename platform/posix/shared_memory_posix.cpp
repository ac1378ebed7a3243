// Named shared memory on POSIX shared memory objects. The objects live in
// one folder for every user of the machine, so each user's blocks carry the
// user id in their names: one user's blocks, or what a run of theirs left
// behind, never stand in another user's way.
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
  std::string name;  // the block's object name
  std::string lock_name;
  int lock_fd = -1;  // holds the name
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};

namespace {

// An object this user may rely on: a regular object of its own. Another
// user can make an object under any name, this user's among them.
bool own_object(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

// Does the name still lead to the object open as fd? A holder removes the
// lock object when it lets go; a creator that locked it meanwhile holds an
// object nobody else finds, and must start again.
bool name_leads_to(const std::string& name, int fd) {
  int again = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
  if (again < 0) return false;
  struct stat a, b;
  const bool same = fstat(again, &a) == 0 && fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  close(again);
  return same;
}

// Takes the name's lock: the descriptor, -2 while another holder has it,
// -1 on failure (an object of another user under the name among them).
int hold_name(const std::string& lock_name) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = shm_open(lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (!own_object(fd)) {
      close(fd);
      return -1;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      const int e = errno;
      close(fd);
      return e == EAGAIN || e == EACCES ? -2 : -1;
    }
    if (name_leads_to(lock_name, fd)) return fd;
    close(fd);  // released and removed meanwhile: start again
  }
  return -1;
}

int make_block(const std::string& name, std::size_t size, SharedMapping* m) {
  // A name left by a run that ended without releasing it would hand this
  // run a block of the wrong size and stale contents: it is replaced.
  shm_unlink(name.c_str());
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  // A new object reads as zeros; nothing here touches its pages, so a large
  // block costs memory only where it is written.
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    shm_unlink(name.c_str());
    return -1;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    shm_unlink(name.c_str());
    return -1;
  }
  m->name = name;
  m->bytes = static_cast<std::uint8_t*>(p);
  m->size = size;
  return 0;
}

int posix_create(const char* name, std::size_t size, SharedMapping** out) {
  *out = nullptr;
  if (!name || !name[0] || std::strchr(name, '/') || size == 0) return -1;
  SharedMapping* m = new (std::nothrow) SharedMapping;
  if (!m) return -1;
  const std::string object = shared_memory_object_name(name, getuid());
  m->lock_name = object + ".lock";
  m->lock_fd = hold_name(m->lock_name);
  if (m->lock_fd < 0 || make_block(object, size, m) != 0) {
    const int held_elsewhere = m->lock_fd == -2;
    if (m->lock_fd >= 0) {
      shm_unlink(m->lock_name.c_str());
      close(m->lock_fd);
    }
    delete m;
    return held_elsewhere ? 1 : -1;
  }
  *out = m;
  return 0;
}

std::uint8_t* posix_data(SharedMapping* m) { return m ? m->bytes : nullptr; }
std::size_t posix_size(SharedMapping* m) { return m ? m->size : 0; }

void posix_release(SharedMapping* m) {
  if (!m) return;
  if (m->bytes) munmap(m->bytes, m->size);
  shm_unlink(m->name.c_str());
  // The lock goes last, while still held, so that no other holder's lock
  // object is removed.
  shm_unlink(m->lock_name.c_str());
  if (m->lock_fd >= 0) close(m->lock_fd);
  delete m;
}

}  // namespace

std::string shared_memory_object_name(const char* name, unsigned long uid) {
  return std::string("/") + (name ? name : "") + "." + std::to_string(uid);
}

const PlatformSharedMemory kPosixSharedMemory = {posix_create, posix_data, posix_size, posix_release};
