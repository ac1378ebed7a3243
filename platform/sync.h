// Threads and synchronisation: the recursive engine lock, auto-reset and
// manual events, and a wait for several events. One implementation serves the
// program and the tests.
#pragma once
#include <cstdint>

// The engine lock (one recursive lock for the whole engine). Any thread.
void engine_lock_enter();
void engine_lock_leave();

struct EngineLockGuard {
  EngineLockGuard() { engine_lock_enter(); }
  ~EngineLockGuard() { engine_lock_leave(); }
  EngineLockGuard(const EngineLockGuard&) = delete;
  EngineLockGuard& operator=(const EngineLockGuard&) = delete;
};

constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFFu;

// A Win32-style event. An auto-reset event releases one waiter and clears
// itself; a manual event stays set until reset and releases every waiter.
struct PlatformEvent;
PlatformEvent* event_create(bool manual_reset, bool initially_set);
void event_destroy(PlatformEvent* event);
void event_set(PlatformEvent* event);
void event_reset(PlatformEvent* event);
// Returns 0 when the event was signalled (an auto-reset event is consumed),
// 1 on time-out. timeout_ms is real time; kWaitInfinite waits for ever.
int event_wait(PlatformEvent* event, std::uint32_t timeout_ms);
// Waits for any (wait_all false: returns the lowest signalled index, consuming
// only that event) or all of count events (wait_all true: returns 0 once all
// are signalled together, consuming every auto-reset one). Returns -1 on
// time-out or a bad argument.
int event_wait_several(PlatformEvent* const* events, int count, bool wait_all, std::uint32_t timeout_ms);

// Lowers the calling thread's scheduling priority a step below the others
// (the sound thread: it must never take time from the frame).
void thread_lower_priority();
