// The one clock of the program.
//
// Every wait in the core (event waits, Delay, read time-outs of the simulated line, byte times,
// the main thread's hand-over in Synchronize) takes its time from the installed Clock. The program
// runs on SystemClock (the monotonic system clock); tests may install another implementation, for
// example one whose time only advances when every core thread is blocked in one of its waits.
//
// Rules for code of the core: never call std::this_thread::sleep_for, condition_variable::wait_for
// or steady_clock::now() directly. Use Condition, TEvent, SleepFor or Now() instead.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zo {

using TimePoint = std::chrono::steady_clock::time_point;
using Duration = std::chrono::steady_clock::duration;

class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic time.
  virtual TimePoint Now() = 0;

  // Blocks on `cv`, with `lock` held on entry and on return, until Notify(cv) is called, the
  // deadline has passed, or spuriously. Callers re-check their condition in a loop (Condition).
  virtual void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         TimePoint deadline) = 0;

  // As WaitUntil, without a deadline.
  virtual void Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock) = 0;

  // Wakes every thread waiting on `cv`. Call it with the waiters' mutex held, after changing the
  // state they wait for.
  virtual void Notify(std::condition_variable& cv) = 0;

  // Called by every worker thread of the core when it starts and when it ends, so that a clock
  // can know how many threads may still make progress.
  virtual void ThreadStarted() {}
  virtual void ThreadEnded() {}
};

// The monotonic system clock with plain condition variables.
class SystemClock final : public Clock {
 public:
  TimePoint Now() override;
  void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) override;
  void Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock) override;
  void Notify(std::condition_variable& cv) override;
};

// The installed clock; SystemClock unless SetClock installed another one.
Clock& TheClock();

// Installs `clock` (nullptr reinstalls the system clock). Only while no core thread runs.
void SetClock(Clock* clock);

inline TimePoint Now() {
  return TheClock().Now();
}

// The time point `ms` milliseconds from now; a negative `ms` gives TimePoint::max() (no limit).
TimePoint DeadlineAfter(long long ms);

// Milliseconds between two time points, as a floating value (for logs and benchmarks).
double MillisecondsBetween(TimePoint from, TimePoint to);

// Sleeps on the clock until the deadline.
void SleepUntil(TimePoint deadline);

// Sleeps on the clock for `ms` milliseconds; 0 returns at once.
void SleepFor(long long ms);

// A condition variable whose waits go through the installed clock.
class Condition {
 public:
  // Waits until pred() holds or the deadline has passed; returns pred(). `lock` must hold the
  // mutex that guards the state pred() reads.
  template <class Pred>
  bool WaitUntil(std::unique_lock<std::mutex>& lock, TimePoint deadline, Pred pred) {
    Clock& clock = TheClock();
    while (!pred()) {
      if (clock.Now() >= deadline) return pred();
      clock.WaitUntil(cv_, lock, deadline);
    }
    return true;
  }

  // Waits without limit until pred() holds.
  template <class Pred>
  void Wait(std::unique_lock<std::mutex>& lock, Pred pred) {
    Clock& clock = TheClock();
    while (!pred())
      clock.Wait(cv_, lock);
  }

  // Wakes every waiter. Call it with the guarding mutex held.
  void NotifyAll() { TheClock().Notify(cv_); }

 private:
  std::condition_variable cv_;
};

}  // namespace zo
