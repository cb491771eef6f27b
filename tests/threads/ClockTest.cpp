#include "threads/Clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "threads/Event.h"

namespace zo {
namespace {

TEST(Event, TimedWaitTimesOutAndSetReleasesWaiters) {
  TEvent e;
  const TimePoint start = Now();
  EXPECT_FALSE(e.WaitFor(20));
  EXPECT_GE(MillisecondsBetween(start, Now()), 19.0);
  std::thread t([&] {
    SleepFor(5);
    e.Set();
  });
  EXPECT_TRUE(e.WaitFor(5000));
  EXPECT_TRUE(e.WaitFor(0));  // manual reset: stays signalled
  e.Reset();
  EXPECT_FALSE(e.WaitFor(0));
  t.join();
}

// A clock that counts the waits that pass through it, to prove the core's waits use the seam. Its
// time stands still until a wait reaches its deadline, so each sleep and timed wait must wait
// through it however late this thread runs (on the real clock a busy machine could pass the
// deadline before the wait began, and the wait would rightly be skipped).
class CountingClock : public Clock {
 public:
  TimePoint Now() override { return now_.load(); }
  void WaitUntil(std::condition_variable&, std::unique_lock<std::mutex>&,
                 TimePoint deadline) override {
    ++waits;
    now_.store(deadline);
  }
  void Wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock) override {
    ++waits;
    system_.Wait(cv, lock);
  }
  void Notify(std::condition_variable& cv) override { system_.Notify(cv); }
  std::atomic<int> waits{0};

 private:
  SystemClock system_;
  std::atomic<TimePoint> now_{system_.Now()};
};

TEST(Clock, SleepsAndEventWaitsGoThroughTheInstalledClock) {
  CountingClock clock;
  SetClock(&clock);
  SleepFor(2);
  TEvent e;
  e.WaitFor(2);
  SetClock(nullptr);
  EXPECT_GE(clock.waits.load(), 2);
}

}  // namespace
}  // namespace zo
