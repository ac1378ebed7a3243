// Named locks within one process and across processes.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/named_locks.h"
#include "tests/platform/child_process.h"

namespace {

std::string unique_name(const std::string& base) { return base + ":" + std::to_string(getpid()); }

const PlatformNamedLocks& locks() { return kPosixNamedLocks; }

TEST(NamedLocks, CreateFindAndRelease) {
  // Names as the engine makes them: separators turned into ':', Shift-JIS
  // bytes (with a trail byte 0x5C), and a name longer than a file name.
  const std::string names[] = {unique_name("ze-tar1"), unique_name(":home:me:\x83\x5C:k_lumbrane"),
                               unique_name("a\\b/c d%41") , unique_name(std::string(400, 'x'))};
  for (const std::string& name : names) {
    NamedLock* lock = nullptr;
    ASSERT_EQ(locks().create(name.c_str(), &lock), 0) << name;
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(locks().exists(name.c_str()), 1);
    NamedLock* second = reinterpret_cast<NamedLock*>(1);
    // A second create in the same process finds it existing, as with a mutex.
    EXPECT_EQ(locks().create(name.c_str(), &second), 1);
    EXPECT_EQ(second, nullptr);
    locks().release(lock);
    EXPECT_EQ(locks().exists(name.c_str()), 0);
    ASSERT_EQ(locks().create(name.c_str(), &lock), 0);
    locks().release(lock);
  }
  locks().release(nullptr);
  NamedLock* lock = nullptr;
  EXPECT_EQ(locks().create("", &lock), -1);
}

TEST(NamedLocks, SimilarNamesAreDifferentLocks) {
  // Case counts, separators are distinct bytes, and long names that share
  // their start differ by their end.
  const std::string held = unique_name("Game:Folder");
  const std::string others[] = {unique_name("game:folder"), unique_name("Game\\Folder"), unique_name("Game/Folder"),
                                unique_name("Game%3AFolder"), unique_name("Game:Folde")};
  NamedLock* lock = nullptr;
  ASSERT_EQ(locks().create(held.c_str(), &lock), 0);
  for (const std::string& other : others) EXPECT_EQ(locks().exists(other.c_str()), 0) << other;
  locks().release(lock);

  std::string long_a = unique_name(std::string(500, 'q')) + "A";
  std::string long_b = unique_name(std::string(500, 'q')) + "B";
  ASSERT_EQ(locks().create(long_a.c_str(), &lock), 0);
  EXPECT_EQ(locks().exists(long_b.c_str()), 0);
  NamedLock* lock_b = nullptr;
  EXPECT_EQ(locks().create(long_b.c_str(), &lock_b), 0);
  locks().release(lock_b);
  locks().release(lock);
}

TEST(NamedLocks, SeenFromAnotherProcessUntilReleasedOrEnded) {
  const std::string name = unique_name("folder:lock");
  for (bool release_first : {true, false}) {
    ChildProcess child([&](ChildProcess& self) {
      NamedLock* lock = nullptr;
      if (kPosixNamedLocks.create(name.c_str(), &lock) != 0) return 1;
      self.tell_parent('h');
      self.wait_parent();
      if (release_first) {
        kPosixNamedLocks.release(lock);
        self.tell_parent('r');
        self.wait_parent();
      }
      return 0;  // ends holding the lock when not released
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.wait_child(), 'h');
    EXPECT_EQ(locks().exists(name.c_str()), 1);
    NamedLock* lock = nullptr;
    EXPECT_EQ(locks().create(name.c_str(), &lock), 1);
    child.tell_child('g');
    if (release_first) {
      ASSERT_EQ(child.wait_child(), 'r');
      EXPECT_EQ(locks().exists(name.c_str()), 0);
    }
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(locks().exists(name.c_str()), 0);
    ASSERT_EQ(locks().create(name.c_str(), &lock), 0);
    locks().release(lock);
  }
}

}  // namespace
