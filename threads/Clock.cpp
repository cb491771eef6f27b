#include "threads/Clock.h"

#include <atomic>

namespace zo {

TimePoint SystemClock::Now() {
  return std::chrono::steady_clock::now();
}

void SystemClock::WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                            TimePoint deadline) {
  if (deadline == TimePoint::max()) {
    cv.wait(lock);
  } else {
    cv.wait_until(lock, deadline);
  }
}

void SystemClock::Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock) {
  cv.wait(lock);
}

void SystemClock::Notify(std::condition_variable& cv) {
  cv.notify_all();
}

namespace {
SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}
std::atomic<Clock*> installed_clock{nullptr};
}  // namespace

Clock& TheClock() {
  Clock* c = installed_clock.load(std::memory_order_acquire);
  return c ? *c : TheSystemClock();
}

void SetClock(Clock* clock) {
  installed_clock.store(clock, std::memory_order_release);
}

TimePoint DeadlineAfter(long long ms) {
  if (ms < 0) return TimePoint::max();
  return TheClock().Now() + std::chrono::milliseconds(ms);
}

double MillisecondsBetween(TimePoint from, TimePoint to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

void SleepUntil(TimePoint deadline) {
  std::mutex m;
  Condition never;
  std::unique_lock<std::mutex> lock(m);
  never.WaitUntil(lock, deadline, [] { return false; });
}

void SleepFor(long long ms) {
  if (ms <= 0) return;
  SleepUntil(DeadlineAfter(ms));
}

}  // namespace zo
