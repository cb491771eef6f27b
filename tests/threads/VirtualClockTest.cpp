#include "tests/support/VirtualClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>

#include "threads/Event.h"
#include "threads/MainThread.h"
#include "threads/Sema.h"

namespace zo {
namespace {

using test::VirtualClock;

// A worker that runs one function and ends.
class OneShot final : public TSafeThread {
 public:
  explicit OneShot(std::function<void()> Body) : TSafeThread(true), body_(std::move(Body)) {
    Resume();
  }

 protected:
  void Execute() override { body_(); }

 private:
  std::function<void()> body_;
};

double RealMsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

TEST(VirtualClock, LongWaitsTakeExactVirtualTimeAndNoRealTime) {
  const auto real_start = std::chrono::steady_clock::now();
  VirtualClock clock;
  Delay(18000);
  EXPECT_EQ(clock.ElapsedMs(), 18000.0);
  // Two threads: the worker's sleeps and the main thread's timed wait interleave by deadline.
  TEvent done;
  std::atomic<double> worker_woke{0};
  auto* worker = new OneShot([&] {
    Delay(250);
    worker_woke = clock.ElapsedMs();
    done.Set();
  });
  EXPECT_TRUE(done.WaitFor(25000));
  EXPECT_EQ(worker_woke.load(), 18250.0);
  EXPECT_EQ(clock.ElapsedMs(), 18250.0);  // the event woke the waiter at once, not at its deadline
  worker->WaitFor();
  delete worker;
  EXPECT_EQ(clock.CoreThreads(), 1);
  EXPECT_LT(RealMsSince(real_start), 5000.0);
}

TEST(VirtualClock, TimeNeverPassesAPendingWakeUp) {
  // The worker sets the event and then sleeps long: had the waiter not been made runnable by the
  // notification itself, the clock could jump to the worker's deadline first.
  VirtualClock clock;
  for (int round = 0; round < 200; ++round) {
    TEvent e;
    const double before = clock.ElapsedMs();
    auto* worker = new OneShot([&] {
      e.Set();
      Delay(1000);
    });
    ASSERT_TRUE(e.WaitFor(-1));
    EXPECT_EQ(clock.ElapsedMs(), before) << "round " << round;
    worker->WaitFor();  // the join waits through the clock: the worker's sleep can end
    delete worker;
    EXPECT_EQ(clock.ElapsedMs(), before + 1000.0);
  }
}

TEST(VirtualClock, SynchronisedCallsAndSafeTerminateRunOnVirtualTime) {
  // The main thread pumps through WaitForMessages; the worker's calls reach it at exact times.
  VirtualClock clock;
  std::vector<double> at;
  auto* worker = new OneShot([&] {});
  worker->SafeTerminate(true, true, true);
  class Caller final : public TSafeThread {
   public:
    explicit Caller(std::vector<double>& At, VirtualClock& Clock)
        : TSafeThread(true), at_(At), clock_(Clock) {
      Resume();
    }

   protected:
    void Execute() override {
      while (!Terminated()) {
        Delay(30);
        SafeSynchronize([this] { at_.push_back(clock_.ElapsedMs()); });
      }
    }

   private:
    std::vector<double>& at_;
    VirtualClock& clock_;
  };
  auto* caller = new Caller(at, clock);
  MainThread& main = TheMainThread();
  while (at.size() < 5) {
    main.WaitForMessages(1000);
    main.ProcessMessages();
  }
  caller->SafeTerminate(true, true, true);
  ASSERT_GE(at.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(at[i], 30.0 * static_cast<double>(i + 1));
}

TEST(VirtualClockDeathTest, EveryThreadWaitingWithoutDeadlineStopsTheTest) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        VirtualClock clock;
        TEvent never;
        never.WaitFor(-1);
      },
      "every core thread waits without a deadline");
}

// A worker that calls back onto the main thread without pause, so that SafeTerminate meets it at
// every point of a SafeSynchronize: before the call is queued, while it waits, while it runs.
class Chatterer final : public TSafeThread {
 public:
  Chatterer(std::atomic<int>& Calls, int SleepMs)
      : TSafeThread(true), calls_(Calls), sleep_ms_(SleepMs) {
    Resume();
  }

 protected:
  void Execute() override {
    while (!Terminated()) {
      SafeSynchronize([this] { ++calls_; });
      if (sleep_ms_ > 0) Delay(static_cast<std::uint32_t>(sleep_ms_));
    }
  }

 private:
  std::atomic<int>& calls_;
  int sleep_ms_;
};

TEST(SafeThreadFaults, SafeTerminateAgainstPendingSafeSynchronizeNeverDeadlocks) {
  // Thousands of stops at varied moments; a deadlock would leave every thread waiting without a
  // deadline, which the virtual clock reports at once. No call may run after the stop began.
  VirtualClock clock;
  std::mt19937 random(8);
  MainThread& main = TheMainThread();
  for (int round = 0; round < 3000; ++round) {
    std::atomic<int> calls{0};
    auto* worker = new Chatterer(calls, static_cast<int>(random() % 3));
    // Serve a varied number of calls first (sometimes none), then stop with one pending or not.
    const int serve = static_cast<int>(random() % 4);
    for (int i = 0; i < serve; ++i) {
      main.WaitForMessages(5);
      main.ProcessMessages();
    }
    const int before = calls.load();
    worker->SafeTerminate(true, true, true);
    EXPECT_EQ(calls.load(), before) << "a cancelled call ran, round " << round;
  }
}

}  // namespace
}  // namespace zo
