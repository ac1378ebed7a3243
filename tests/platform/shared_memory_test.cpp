// Named shared memory: what another process sees by the name, one holder of
// a name at a time, names of their own for each user, and nothing left in
// the machine's shared folder once a holder is done.
#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "tests/platform/child_process.h"

namespace {

std::string unique_name() { return "kl-test-shm-" + std::to_string(getpid()); }

std::string object_of(const std::string& name) { return shared_memory_object_name(name.c_str(), getuid()); }

bool object_exists(const std::string& object) {
  int fd = shm_open(object.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Becomes another user for the rest of a forked child.
bool become(uid_t uid) { return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0; }

constexpr uid_t kOtherUser = 65534;  // nobody

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
  int fd = shm_open(object_of(name).c_str(), O_RDWR, 0);
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
  EXPECT_FALSE(object_exists(object_of(name)));
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 16, &second), 0);
  EXPECT_EQ(kPosixSharedMemory.data(second)[0], 0);
  kPosixSharedMemory.release(second);
  EXPECT_FALSE(object_exists(object_of(name) + ".lock"));
}

TEST(SharedMemory, ALeftoverBlockIsReplaced) {
  const std::string name = unique_name() + "-left";
  int fd = shm_open(object_of(name).c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 8), 0);
  ASSERT_EQ(write(fd, "stale!!!", 8), 8);
  close(fd);
  SharedMapping* m = nullptr;
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 512, &m), 0);
  EXPECT_EQ(kPosixSharedMemory.data(m)[0], 0);
  kPosixSharedMemory.release(m);
  EXPECT_EQ(kPosixSharedMemory.create("", 16, &m), -1);
  EXPECT_EQ(kPosixSharedMemory.create("a/b", 16, &m), -1);
}

TEST(SharedMemory, NothingStaysBehindItsHolder) {
  const std::string name = unique_name() + "-end";
  const std::string object = object_of(name);
  // A holder that releases takes the block and its lock with it.
  ChildProcess tidy([&](ChildProcess&) {
    SharedMapping* m = nullptr;
    if (kPosixSharedMemory.create(name.c_str(), 4096, &m) != 0) return 1;
    kPosixSharedMemory.release(m);
    return 0;
  });
  ASSERT_TRUE(tidy.started());
  ASSERT_EQ(tidy.wait(), 0);
  EXPECT_FALSE(object_exists(object));
  EXPECT_FALSE(object_exists(object + ".lock"));
  // A holder that ended without its release (killed) leaves objects of its
  // user only; the next holder takes them over and removes them in turn.
  ChildProcess killed([&](ChildProcess&) {
    SharedMapping* m = nullptr;
    return kPosixSharedMemory.create(name.c_str(), 4096, &m) == 0 ? 0 : 1;
  });
  ASSERT_TRUE(killed.started());
  ASSERT_EQ(killed.wait(), 0);
  EXPECT_TRUE(object_exists(object));
  SharedMapping* m = nullptr;
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 64, &m), 0);
  EXPECT_EQ(kPosixSharedMemory.size(m), 64u);
  kPosixSharedMemory.release(m);
  EXPECT_FALSE(object_exists(object));
  EXPECT_FALSE(object_exists(object + ".lock"));
}

TEST(SharedMemory, EachUserHasNamesOfTheirOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  const std::string name = unique_name() + "-users";
  // This user has used the name before and holds it now.
  SharedMapping* mine = nullptr;
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 512, &mine), 0);
  kPosixSharedMemory.release(mine);
  ASSERT_EQ(kPosixSharedMemory.create(name.c_str(), 512, &mine), 0);
  kPosixSharedMemory.data(mine)[0] = 9;
  // Another user makes, uses and releases a block of the same name.
  ChildProcess other([&](ChildProcess&) {
    if (!become(kOtherUser)) return 10;
    SharedMapping* m = nullptr;
    if (kPosixSharedMemory.create(name.c_str(), 512, &m) != 0) return 11;
    if (kPosixSharedMemory.data(m)[0] != 0) return 12;
    if (!object_exists(shared_memory_object_name(name.c_str(), kOtherUser))) return 13;
    kPosixSharedMemory.release(m);
    if (object_exists(shared_memory_object_name(name.c_str(), kOtherUser) + ".lock")) return 14;
    return 0;
  });
  ASSERT_TRUE(other.started());
  EXPECT_EQ(other.wait(), 0);
  EXPECT_EQ(kPosixSharedMemory.data(mine)[0], 9);
  kPosixSharedMemory.release(mine);
  // A user who takes another user's lock name makes that user's creates fail
  // (a box), never wait for ever for a holder that is not theirs.
  const std::string my_lock = object_of(name) + ".lock";
  ChildProcess squatter([&](ChildProcess&) {
    if (!become(kOtherUser)) return 10;
    int fd = shm_open(my_lock.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return 11;
    fchmod(fd, 0666);
    close(fd);
    return 0;
  });
  ASSERT_TRUE(squatter.started());
  ASSERT_EQ(squatter.wait(), 0);
  EXPECT_EQ(kPosixSharedMemory.create(name.c_str(), 512, &mine), -1);
  EXPECT_EQ(mine, nullptr);
  kPosixSharedMemory.release(mine);
  EXPECT_FALSE(object_exists(object_of(name)));
  shm_unlink(my_lock.c_str());
}

}  // namespace
