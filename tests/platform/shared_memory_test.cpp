// Named shared memory: what another process sees by the name, and one
// holder of a name at a time.
#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace {

std::string unique_name() { return "kl-test-shm-" + std::to_string(getpid()); }

TEST(SharedMemory, ABlockIsSeenByItsNameUntilReleased) {
  const std::string name = unique_name();
  SharedMapping* m = nullptr;
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 4096, &m), 0);
  ASSERT_EQ(kPosixSharedMemory.size(m), 4096u);
  std::uint8_t* p = kPosixSharedMemory.data(m);
  for (std::size_t i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  p[100] = 42;
  // Another opener of the name (as the compiler opens it) sees the bytes and
  // its writes come back.
  int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  auto* q = static_cast<std::uint8_t*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  close(fd);
  ASSERT_NE(q, MAP_FAILED);
  EXPECT_EQ(q[100], 42);
  q[200] = 7;
  EXPECT_EQ(p[200], 7);
  munmap(q, 4096);
  // One holder at a time; the name is free again after the release.
  SharedMapping* second = nullptr;
  EXPECT_EQ(kPosixSharedMemory.create(name.c_str(), 16, &second), 1);
  EXPECT_EQ(second, nullptr);
  kPosixSharedMemory.release(m);
  EXPECT_LT(shm_open(("/" + name).c_str(), O_RDWR, 0), 0);
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 16, &second), 0);
  EXPECT_EQ(kPosixSharedMemory.data(second)[0], 0);
  kPosixSharedMemory.release(second);
  shm_unlink(("/" + name + ".lock").c_str());
}

TEST(SharedMemory, ALeftoverBlockIsReplaced) {
  const std::string name = unique_name() + "-left";
  int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 8), 0);
  ASSERT_EQ(write(fd, "stale!!!", 8), 8);
  close(fd);
  SharedMapping* m = nullptr;
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 512, &m), 0);
  EXPECT_EQ(kPosixSharedMemory.data(m)[0], 0);
  kPosixSharedMemory.release(m);
  shm_unlink(("/" + name + ".lock").c_str());
  EXPECT_EQ(kPosixSharedMemory.create("", 16, &m), -1);
  EXPECT_EQ(kPosixSharedMemory.create("a/b", 16, &m), -1);
}

}  // namespace
