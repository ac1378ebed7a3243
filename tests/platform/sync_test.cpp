// Events: auto-reset and manual, the wait for several, time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/sync.h"

namespace {

TEST(Events, AutoResetReleasesOneWaitAndClears) {
  PlatformEvent* e = event_create(false, true);
  EXPECT_EQ(event_wait(e, 0), 0);
  EXPECT_EQ(event_wait(e, 0), 1);  // consumed
  event_set(e);
  event_set(e);  // setting twice still releases one wait
  EXPECT_EQ(event_wait(e, 10), 0);
  EXPECT_EQ(event_wait(e, 10), 1);
  event_set(e);
  event_reset(e);
  EXPECT_EQ(event_wait(e, 0), 1);
  event_destroy(e);
}

TEST(Events, ManualStaysSetUntilReset) {
  PlatformEvent* e = event_create(true, false);
  EXPECT_EQ(event_wait(e, 5), 1);
  event_set(e);
  EXPECT_EQ(event_wait(e, 0), 0);
  EXPECT_EQ(event_wait(e, 0), 0);
  event_reset(e);
  EXPECT_EQ(event_wait(e, 0), 1);
  event_destroy(e);
}

TEST(Events, WaitForAny) {
  PlatformEvent* ev[3] = {event_create(false, false), event_create(true, false), event_create(false, false)};
  EXPECT_EQ(event_wait_several(ev, 3, false, 5), -1);
  event_set(ev[2]);
  event_set(ev[1]);
  // The lowest signalled index wins; only that event is consumed.
  EXPECT_EQ(event_wait_several(ev, 3, false, 0), 1);
  EXPECT_EQ(event_wait_several(ev, 3, false, 0), 1);  // manual: still set
  event_reset(ev[1]);
  EXPECT_EQ(event_wait_several(ev, 3, false, 0), 2);
  EXPECT_EQ(event_wait_several(ev, 3, false, 0), -1);  // auto: consumed
  for (PlatformEvent* e : ev) event_destroy(e);
}

TEST(Events, WaitForAllConsumesOnlyWhenAllAreSet) {
  PlatformEvent* ev[2] = {event_create(false, false), event_create(true, false)};
  event_set(ev[0]);
  EXPECT_EQ(event_wait_several(ev, 2, true, 5), -1);
  EXPECT_EQ(event_wait(ev[0], 0), 0);  // a failed wait for all took nothing
  event_set(ev[0]);
  event_set(ev[1]);
  EXPECT_EQ(event_wait_several(ev, 2, true, 0), 0);
  EXPECT_EQ(event_wait(ev[0], 0), 1);  // auto-reset consumed
  EXPECT_EQ(event_wait(ev[1], 0), 0);  // manual kept
  for (PlatformEvent* e : ev) event_destroy(e);
}

TEST(Events, BadArguments) {
  PlatformEvent* e = event_create(false, true);
  PlatformEvent* with_null[2] = {e, nullptr};
  EXPECT_EQ(event_wait_several(nullptr, 1, false, 0), -1);
  EXPECT_EQ(event_wait_several(with_null, 0, false, 0), -1);
  EXPECT_EQ(event_wait_several(with_null, 2, false, 0), -1);
  EXPECT_EQ(event_wait(e, 0), 0);  // untouched by the refused waits
  event_destroy(e);
}

TEST(Events, SetFromAnotherThreadWakesWaiters) {
  PlatformEvent* start = event_create(true, false);
  PlatformEvent* done[2] = {event_create(false, false), event_create(false, false)};
  std::atomic<int> woke{0};
  std::thread a([&] {
    if (event_wait(start, kWaitInfinite) == 0) ++woke;
    event_set(done[0]);
  });
  std::thread b([&] {
    if (event_wait(start, kWaitInfinite) == 0) ++woke;
    event_set(done[1]);
  });
  event_set(start);  // a manual event releases every waiter
  EXPECT_EQ(event_wait_several(done, 2, true, kWaitInfinite), 0);
  a.join();
  b.join();
  EXPECT_EQ(woke.load(), 2);
  event_destroy(start);
  for (PlatformEvent* e : done) event_destroy(e);
}

TEST(EngineLock, IsRecursiveAndExcludesOtherThreads) {
  int counter = 0;
  auto add = [&] {
    for (int i = 0; i < 10000; ++i) {
      EngineLockGuard outer;
      EngineLockGuard inner;  // the same thread may enter again
      ++counter;
    }
  };
  std::thread t1(add), t2(add);
  t1.join();
  t2.join();
  EXPECT_EQ(counter, 20000);
}

}  // namespace
