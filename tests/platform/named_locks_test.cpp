// Named locks within one process and across processes.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
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

// Runs body in a child as user uid (group too), with XDG_RUNTIME_DIR unset,
// so that the lock files go to /tmp/k_lumbrane-<uid>; the child's result.
int as_user_without_runtime_dir(uid_t uid, const std::function<int()>& body) {
  ChildProcess child([&](ChildProcess&) {
    unsetenv("XDG_RUNTIME_DIR");
    if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0) return 100;
    return body();
  });
  return child.started() ? child.wait() : -1;
}

TEST(NamedLocks, ATakenFallBackFolderIsRefusedWithItsReason) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  // A user id of nobody on this machine, so that its folder is this test's.
  const uid_t user = 64000 + static_cast<uid_t>(getpid() % 1000);
  const std::string folder = "/tmp/k_lumbrane-" + std::to_string(user);
  std::filesystem::remove_all(folder);
  // Another user (here root) made the user's fall-back folder first.
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  EXPECT_EQ(as_user_without_runtime_dir(user, [&] {
              NamedLock* lock = nullptr;
              if (kPosixNamedLocks.create("ze-tar1", &lock) != -1) return 1;
              std::string where;
              if (named_lock_folder_problem(&where) != LockFolderProblem::kOtherOwner) return 2;
              return where == folder ? 0 : 3;
            }),
            0);
  // The user's own folder, left open to others, with a lock file another
  // user put there (held by that user, it would stop every start): closed
  // again, and the file replaced by one of the user's.
  ASSERT_EQ(chown(folder.c_str(), user, user), 0);
  const std::string planted = folder + "/ze-tar1.lock";
  {
    std::ofstream(planted) << "";
  }
  ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
  EXPECT_EQ(as_user_without_runtime_dir(user, [&] {
              if (kPosixNamedLocks.exists("ze-tar1") != 0) return 1;
              NamedLock* lock = nullptr;
              if (kPosixNamedLocks.create("ze-tar1", &lock) != 0) return 2;
              if (kPosixNamedLocks.exists("ze-tar1") != 1) return 3;
              struct stat st;
              if (stat(folder.c_str(), &st) != 0 || (st.st_mode & 077) != 0) return 4;
              if (stat(planted.c_str(), &st) != 0 || st.st_uid != user) return 6;
              std::string where;
              if (named_lock_folder_problem(&where) != LockFolderProblem::kNone) return 5;
              kPosixNamedLocks.release(lock);
              return 0;
            }),
            0);
  std::filesystem::remove_all(folder);
}

}  // namespace
