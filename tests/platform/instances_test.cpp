// The running-window query within one process and across processes.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/instances.h"
#include "tests/platform/child_process.h"

namespace {

std::string unique_class(const std::string& base) { return base + ":" + std::to_string(getpid()); }

const PlatformInstanceQuery& instances() { return kPosixInstanceQuery; }

void count_call(void* user) { ++*static_cast<std::atomic<int>*>(user); }

TEST(InstanceQuery, AnnounceAskAndWithdraw) {
  const std::string cls = unique_class(":home:me:Game:\x83\x5C:k_lumbrane");
  EXPECT_EQ(instances().exists(cls.c_str()), 0);
  EXPECT_EQ(instances().bring_forward(cls.c_str()), -1);
  std::atomic<int> calls{0};
  WindowClassListener* l = instances().announce(cls.c_str(), count_call, &calls);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(instances().exists(cls.c_str()), 1);
  // Window class names are case-insensitive (ASCII letters only).
  std::string upper = unique_class(":HOME:ME:GAME:\x83\x5C:K_LUMBRANE");
  EXPECT_EQ(instances().exists(upper.c_str()), 1);
  EXPECT_EQ(instances().exists(unique_class(":home:me:game:\x83\x7C:k_lumbrane").c_str()), 0);
  EXPECT_EQ(calls.load(), 0);  // asking whether it exists brings nothing forward
  // The same class cannot be announced twice.
  EXPECT_EQ(instances().announce(upper.c_str(), count_call, &calls), nullptr);
  // bring_forward returns once the owner has handled the request.
  EXPECT_EQ(instances().bring_forward(upper.c_str()), 0);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(instances().bring_forward(cls.c_str()), 0);
  EXPECT_EQ(calls.load(), 2);
  instances().withdraw(l);
  EXPECT_EQ(instances().exists(cls.c_str()), 0);
  EXPECT_EQ(instances().bring_forward(cls.c_str()), -1);
  // Announcing again after a withdrawal works.
  l = instances().announce(cls.c_str(), count_call, &calls);
  ASSERT_NE(l, nullptr);
  instances().withdraw(l);
  instances().withdraw(nullptr);
  EXPECT_EQ(instances().announce("", count_call, &calls), nullptr);
}

TEST(InstanceQuery, LongClassNamesStayApart) {
  const std::string a = unique_class(std::string(300, 'c')) + "a";
  const std::string b = unique_class(std::string(300, 'c')) + "b";
  std::atomic<int> calls{0};
  WindowClassListener* la = instances().announce(a.c_str(), count_call, &calls);
  ASSERT_NE(la, nullptr);
  EXPECT_EQ(instances().exists(a.c_str()), 1);
  EXPECT_EQ(instances().exists(b.c_str()), 0);
  WindowClassListener* lb = instances().announce(b.c_str(), count_call, &calls);
  EXPECT_NE(lb, nullptr);
  instances().withdraw(lb);
  instances().withdraw(la);
}

void report_to_parent(void* user) { static_cast<ChildProcess*>(user)->tell_parent('B'); }

TEST(InstanceQuery, AnotherProcessBringsTheWindowForward) {
  const std::string cls = unique_class(":opt:game:k_lumbrane");
  ChildProcess child([&](ChildProcess& self) {
    WindowClassListener* l = kPosixInstanceQuery.announce(cls.c_str(), report_to_parent, &self);
    if (!l) return 1;
    self.tell_parent('a');
    self.wait_parent();
    kPosixInstanceQuery.withdraw(l);
    self.tell_parent('w');
    self.wait_parent();
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_EQ(child.wait_child(), 'a');
  EXPECT_EQ(instances().exists(cls.c_str()), 1);
  EXPECT_EQ(instances().announce(cls.c_str(), count_call, nullptr), nullptr);
  EXPECT_EQ(instances().bring_forward(cls.c_str()), 0);
  EXPECT_EQ(child.wait_child(), 'B');  // the child's callback ran
  child.tell_child('g');
  ASSERT_EQ(child.wait_child(), 'w');
  EXPECT_EQ(instances().exists(cls.c_str()), 0);
  EXPECT_EQ(child.wait(), 0);
}

// Abstract names are open to every user: another user who takes our name
// first is no window of ours (the engine and the updater go on as if none
// were there). Needs root, to be another user in a child.
TEST(InstanceQuery, AHolderOfAnotherUserIsNoWindowOfOurs) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string cls = unique_class(":opt:game3:k_lumbrane");
  ChildProcess child([&](ChildProcess& self) {
    // The name is made from the real user (ours); the socket's owner is
    // the effective one.
    if (seteuid(65534) != 0) return 2;
    if (!kPosixInstanceQuery.announce(cls.c_str(), nullptr, nullptr)) return 1;
    self.tell_parent('a');
    self.wait_parent();
    return 0;
  });
  ASSERT_EQ(child.wait_child(), 'a');
  EXPECT_EQ(instances().exists(cls.c_str()), 0);
  EXPECT_EQ(instances().bring_forward(cls.c_str()), -1);
  child.tell_child('g');
  EXPECT_EQ(child.wait(), 0);
}

TEST(InstanceQuery, EndsWithItsProcess) {
  const std::string cls = unique_class(":opt:game2:k_lumbrane");
  {
    ChildProcess child([&](ChildProcess& self) {
      if (!kPosixInstanceQuery.announce(cls.c_str(), nullptr, nullptr)) return 1;
      self.tell_parent('a');
      self.wait_parent();
      return 0;  // ends without withdrawing
    });
    ASSERT_EQ(child.wait_child(), 'a');
    EXPECT_EQ(instances().exists(cls.c_str()), 1);
    EXPECT_EQ(child.wait(), 0);
  }
  EXPECT_EQ(instances().exists(cls.c_str()), 0);
  WindowClassListener* l = instances().announce(cls.c_str(), nullptr, nullptr);
  EXPECT_NE(l, nullptr);
  instances().withdraw(l);
}

TEST(InstanceQuery, AHolderOfAnotherUserIsNobodysWindow) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  // A process of another user binds this user's name for the class: its
  // real user is this one (so the name is this user's), its effective one
  // another, which is the user its socket reports.
  const std::string cls = unique_class(":opt:game3:k_lumbrane");
  ChildProcess squatter([&](ChildProcess& self) {
    if (setresgid(0, 65534, 0) != 0 || setresuid(0, 65534, 0) != 0) return 1;
    WindowClassListener* l = kPosixInstanceQuery.announce(cls.c_str(), nullptr, nullptr);
    if (!l) return 2;
    self.tell_parent('a');
    self.wait_parent();
    kPosixInstanceQuery.withdraw(l);
    return 0;
  });
  ASSERT_TRUE(squatter.started());
  ASSERT_EQ(squatter.wait_child(), 'a');
  // Not this user's window: not there, not brought forward, and the name
  // can't be announced, for a reason that can be told.
  EXPECT_EQ(instances().exists(cls.c_str()), 0);
  EXPECT_EQ(instances().bring_forward(cls.c_str()), -1);
  EXPECT_EQ(instances().held_by_other_user(cls.c_str()), 1);
  EXPECT_EQ(instances().announce(cls.c_str(), nullptr, nullptr), nullptr);
  squatter.tell_child('g');
  EXPECT_EQ(squatter.wait(), 0);
  EXPECT_EQ(instances().held_by_other_user(cls.c_str()), 0);
  // This user's own holder is not another user's.
  WindowClassListener* l = instances().announce(cls.c_str(), nullptr, nullptr);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(instances().held_by_other_user(cls.c_str()), 0);
  EXPECT_EQ(instances().exists(cls.c_str()), 1);
  instances().withdraw(l);
}

}  // namespace
