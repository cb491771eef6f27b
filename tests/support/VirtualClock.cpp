#include "tests/support/VirtualClock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace zo::test {

namespace {

// Far enough from the epoch that code subtracting a few hours from Now() stays in range.
TimePoint StartOfTime() {
  return TimePoint{} + std::chrono::hours(1000);
}

}  // namespace

VirtualClock::VirtualClock(int WatchdogSeconds)
    : start_(StartOfTime()), now_(StartOfTime().time_since_epoch().count()) {
  SetClock(this);
  if (WatchdogSeconds <= 0) return;
  watchdog_ = std::thread([this, WatchdogSeconds] {
    TimePoint::rep seen = now_.load();
    int still = 0;
    std::unique_lock<std::mutex> lock(watchdog_mutex_);
    while (!stop_watchdog_.load()) {
      // Real time, by design: the watchdog watches the virtual clock from outside it.
      watchdog_wake_.wait_for(lock, std::chrono::milliseconds(100));
      if (stop_watchdog_.load()) break;
      const TimePoint::rep now = now_.load();
      still = now == seen ? still + 1 : 0;
      seen = now;
      if (still >= WatchdogSeconds * 10) {
        std::lock_guard<std::mutex> guard(mutex_);
        Stuck("virtual time stood still: a thread spins without waiting");
      }
    }
  });
}

VirtualClock::~VirtualClock() {
  {
    std::lock_guard<std::mutex> lock(watchdog_mutex_);
    stop_watchdog_.store(true);
  }
  watchdog_wake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
  SetClock(nullptr);
}

std::uint64_t VirtualClock::Waits() {
  std::lock_guard<std::mutex> guard(mutex_);
  return waits_;
}

TimePoint VirtualClock::Now() {
  return TimePoint(Duration(now_.load(std::memory_order_acquire)));
}

double VirtualClock::ElapsedMs() {
  return MillisecondsBetween(start_, Now());
}

std::uint64_t VirtualClock::Advances() {
  std::lock_guard<std::mutex> guard(mutex_);
  return advances_;
}

int VirtualClock::CoreThreads() {
  std::lock_guard<std::mutex> guard(mutex_);
  return threads_;
}

void VirtualClock::WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                             TimePoint deadline) {
  std::unique_lock<std::mutex> guard(mutex_);
  // A deadline already reached needs no wait: the caller sees it passed and re-checks.
  if (deadline <= Now()) return;
  Waiter w;
  w.Cv = &cv;
  w.Deadline = deadline;
  w.Sequence = waits_;
  waiters_.push_back(&w);
  ++blocked_;
  ++waits_;
  if (blocked_ > threads_) Stuck("a thread that is not a core thread waits on the virtual clock");
  // The caller's mutex is released only now, with ours held: whoever changes the state the caller
  // waits for takes that mutex and then ours in Notify, so the wake-up cannot be missed.
  lock.unlock();
  AdvanceIfAllBlocked();
  w.Wake.wait(guard, [&w] { return w.Runnable; });
  waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &w));
  guard.unlock();
  lock.lock();
}

void VirtualClock::Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock) {
  WaitUntil(cv, lock, TimePoint::max());
}

void VirtualClock::Notify(std::condition_variable& cv) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (Waiter* w : waiters_)
    if (w->Cv == &cv && !w->Runnable) MakeRunnable(*w);
}

void VirtualClock::ThreadStarted() {
  std::lock_guard<std::mutex> guard(mutex_);
  ++threads_;
}

void VirtualClock::ThreadEnded() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (--threads_ < 1) Stuck("a thread ended that did not start under the virtual clock");
  // The thread that ended may have been the last one that could make progress.
  AdvanceIfAllBlocked();
}

void VirtualClock::MakeRunnable(Waiter& W) {
  W.Runnable = true;
  --blocked_;
  W.Wake.notify_one();
}

void VirtualClock::AdvanceIfAllBlocked() {
  if (blocked_ < threads_) return;
  // The waiter due first; of several due at the same instant, the one that began to wait first.
  // Only that one is woken: the others follow, at the same virtual time, once it waits again,
  // so that threads due together always run in the same order and a run takes the same time.
  Waiter* next = nullptr;
  for (Waiter* w : waiters_) {
    if (w->Runnable) continue;
    if (next == nullptr || w->Deadline < next->Deadline ||
        (w->Deadline == next->Deadline && w->Sequence < next->Sequence))
      next = w;
  }
  if (next == nullptr || next->Deadline == TimePoint::max())
    Stuck("every core thread waits without a deadline");
  if (next->Deadline > Now()) {
    now_.store(next->Deadline.time_since_epoch().count(), std::memory_order_release);
    ++advances_;
  }
  MakeRunnable(*next);
}

void VirtualClock::Stuck(const char* Why) {
  std::fprintf(stderr, "virtual clock: %s (core threads %d, waiting %d, at %.3f ms virtual time)\n",
               Why, threads_, blocked_, MillisecondsBetween(start_, Now()));
  std::fflush(stderr);
  std::abort();
}

}  // namespace zo::test
