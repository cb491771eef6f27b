// A clock for tests whose time stands still while any core thread can make progress, and jumps to
// the earliest deadline as soon as every core thread is blocked in one of the clock's waits.
//
// The core threads are the thread that creates the clock (the test's main thread, which pumps the
// main-thread queue with ProcessMessages and WaitForMessages) and every TThread started while the
// clock is installed (TThread reports its start and end). A whole exchange on the simulated line,
// with its 10 ms read ticks, 500 ms replies or 18 s bootblock time-outs, then runs in milliseconds
// of real time and always takes the same virtual time, so that timing checks can be exact.
//
// Rules for a test that uses it:
// - construct it before any core thread starts and destroy it after every one has ended;
// - every thread that waits must be a core thread (a plain std::thread that waits on the clock
//   would let time run while a core thread still works; the clock stops the test when it sees one
//   wait too many);
// - Notify marks the waiters of a condition runnable at once, so time never advances past a
//   pending wake-up.
// When every core thread waits without a deadline, nothing can ever wake them: the clock prints
// what it knows and aborts the test program, instead of letting it hang until its time-out.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "threads/Clock.h"

namespace zo::test {

class VirtualClock final : public Clock {
 public:
  // Installs itself (SetClock); the calling thread counts as a core thread until destruction.
  // With `WatchdogSeconds` > 0 a watchdog thread (outside the core, on real time) aborts the test
  // program when virtual time has not moved for that many real seconds while core threads exist:
  // a thread that spins without ever waiting keeps the clock from advancing, and the test would
  // otherwise hang until its time-out.
  explicit VirtualClock(int WatchdogSeconds = 0);
  // Reinstalls the system clock.
  ~VirtualClock() override;
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  TimePoint Now() override;
  void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) override;
  void Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock) override;
  void Notify(std::condition_variable& cv) override;
  void ThreadStarted() override;
  void ThreadEnded() override;

  // Virtual milliseconds since the clock was created.
  double ElapsedMs();
  // How often time jumped forward.
  std::uint64_t Advances();
  // How many waits blocked so far (a loop that waits far more often than its protocol ticks is a
  // hot loop even though it never stops the clock).
  std::uint64_t Waits();
  // Core threads that exist now (the creating thread included).
  int CoreThreads();

 private:
  struct Waiter {
    std::condition_variable* Cv = nullptr;
    TimePoint Deadline{};
    std::uint64_t Sequence = 0;  // when it began to wait, among all waits
    bool Runnable = false;
    std::condition_variable Wake;
  };

  // With mutex_ held: when every core thread waits, moves time to the earliest deadline and
  // makes the waiter that is due first runnable.
  void AdvanceIfAllBlocked();
  void MakeRunnable(Waiter& W);
  [[noreturn]] void Stuck(const char* Why);

  std::mutex mutex_;
  const TimePoint start_;
  std::atomic<TimePoint::rep> now_;  // readable without the lock
  int threads_ = 1;
  int blocked_ = 0;
  std::uint64_t advances_ = 0;
  std::uint64_t waits_ = 0;
  std::vector<Waiter*> waiters_;
  std::atomic<bool> stop_watchdog_{false};
  std::mutex watchdog_mutex_;
  std::condition_variable watchdog_wake_;
  std::thread watchdog_;
};

// A call on a thread of the test's own, a client of the code under test as the window's thread is:
// the thread counts as a core thread of `Clock` while it runs, and AwaitClientCall waits for its
// result through the clock, so that virtual time moves on while the test waits.
template <class Body>
auto StartClientCall(VirtualClock& Clock, Body Call) -> std::future<decltype(Call())> {
  Clock.ThreadStarted();  // before the thread runs: time cannot pass it by
  return std::async(std::launch::async, [&Clock, Call]() mutable {
    struct Ended {
      VirtualClock& C;
      ~Ended() { C.ThreadEnded(); }
    } ended{Clock};
    return Call();
  });
}

template <class T>
T AwaitClientCall(std::future<T>& Call) {
  while (Call.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    SleepFor(1);
  return Call.get();
}

}  // namespace zo::test
