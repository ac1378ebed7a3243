// Events share one mutex and condition variable: waits for several events
// need to see every event's state at once, and the engine's event traffic
// (a few per frame and job) is far too small for one lock to matter.
#include "platform/sync.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
std::recursive_mutex g_engine_lock;
std::mutex g_event_mutex;
std::condition_variable g_event_cv;
}  // namespace

struct PlatformEvent {
  bool manual;
  bool set;
};

void engine_lock_enter() { g_engine_lock.lock(); }
void engine_lock_leave() { g_engine_lock.unlock(); }

PlatformEvent* event_create(bool manual_reset, bool initially_set) {
  return new PlatformEvent{manual_reset, initially_set};
}

void event_destroy(PlatformEvent* event) { delete event; }

void event_set(PlatformEvent* event) {
  {
    std::lock_guard<std::mutex> g(g_event_mutex);
    event->set = true;
  }
  g_event_cv.notify_all();
}

void event_reset(PlatformEvent* event) {
  std::lock_guard<std::mutex> g(g_event_mutex);
  event->set = false;
}

int event_wait(PlatformEvent* event, std::uint32_t timeout_ms) {
  PlatformEvent* one[1] = {event};
  return event_wait_several(one, 1, false, timeout_ms) == 0 ? 0 : 1;
}

int event_wait_several(PlatformEvent* const* events, int count, bool wait_all, std::uint32_t timeout_ms) {
  if (!events || count <= 0) return -1;
  for (int i = 0; i < count; ++i)
    if (!events[i]) return -1;
  auto ready = [&]() -> int {
    if (wait_all) {
      for (int i = 0; i < count; ++i)
        if (!events[i]->set) return -1;
      return 0;
    }
    for (int i = 0; i < count; ++i)
      if (events[i]->set) return i;
    return -1;
  };
  std::unique_lock<std::mutex> lock(g_event_mutex);
  int found = ready();
  if (found < 0) {
    if (timeout_ms == kWaitInfinite) {
      g_event_cv.wait(lock, [&] { return (found = ready()) >= 0; });
    } else if (!g_event_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                    [&] { return (found = ready()) >= 0; })) {
      return -1;
    }
  }
  if (wait_all) {
    for (int i = 0; i < count; ++i)
      if (!events[i]->manual) events[i]->set = false;
  } else if (!events[found]->manual) {
    events[found]->set = false;
  }
  return found;
}

void thread_lower_priority() {
  // Linux keeps the nice value per thread; the thread's id names it.
  const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
  const int now = getpriority(PRIO_PROCESS, tid);
  setpriority(PRIO_PROCESS, tid, now + 2 > 19 ? 19 : now + 2);
}
