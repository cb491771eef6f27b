#include "threads/Sema.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

namespace zo {
namespace {

// A worker that calls back onto the main thread in a loop until told to stop.
class CallbackWorker : public TSafeThread {
 public:
  explicit CallbackWorker(std::atomic<int>& Calls, std::atomic<bool>& Destroyed)
      : TSafeThread(true), calls_(Calls), destroyed_(Destroyed) {
    Resume();
  }
  ~CallbackWorker() override { destroyed_ = true; }
  std::atomic<bool> InCallback{false};

 protected:
  void Execute() override {
    while (!Terminated()) {
      InCallback = true;
      SafeSynchronize([this] { ++calls_; });
      InCallback = false;
      Delay(1);
    }
  }

 private:
  std::atomic<int>& calls_;
  std::atomic<bool>& destroyed_;
};

class IdleWorker : public TSafeThread {
 public:
  explicit IdleWorker(std::atomic<bool>& Destroyed) : TSafeThread(true), destroyed_(Destroyed) {
    Resume();
  }
  ~IdleWorker() override { destroyed_ = true; }

 protected:
  void Execute() override {
    while (!Terminated())
      Delay(2);
  }

 private:
  std::atomic<bool>& destroyed_;
};

TEST(SafeThread, TerminateAgainstWorkerBlockedInSynchronize) {
  // The worker is parked inside SafeSynchronize while the main thread does not pump: only
  // SafeTerminate's own pumping can release it, and the cancelled call must not run.
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> calls{0};
    std::atomic<bool> destroyed{false};
    auto* worker = new CallbackWorker(calls, destroyed);
    while (!worker->InCallback)
      std::this_thread::yield();
    const int before = calls.load();
    worker->SafeTerminate(true, true, true);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(calls.load(), before);  // the cancelled call did not run
  }
}

TEST(SafeThread, CancelledSynchronizeStillBlocksUntilServedAndSkipsTheMethod) {
  class OneShot : public TSafeThread {
   public:
    OneShot() : TSafeThread(true) {}
    void CancelEarly() { SafeTerminate(true, false, false); }
    void Go() { Resume(); }
    std::atomic<bool> Ran{false}, Returned{false};

   protected:
    void Execute() override {
      SafeSynchronize([this] { Ran = true; });
      Returned = true;
    }
  };
  OneShot worker;
  worker.CancelEarly();  // Cancelled and terminated before it starts
  worker.Go();
  // The worker blocks until the main thread serves the stub.
  Delay(20);
  EXPECT_FALSE(worker.Returned);
  while (!worker.Returned) {
    TheMainThread().ProcessMessages();
    TheMainThread().WaitForMessages(5);
  }
  EXPECT_FALSE(worker.Ran);
  worker.WaitFor();
}

TEST(SafeThread, SynchronizedMethodRunsOnTheMainThread) {
  class Caller : public TSafeThread {
   public:
    Caller() : TSafeThread(true) { Resume(); }
    std::atomic<bool> OnMain{false}, Done{false};

   protected:
    void Execute() override {
      SafeSynchronize([this] { OnMain = TheMainThread().IsMainThread(); });
      Done = true;
    }
  };
  Caller caller;
  while (!caller.Done) {
    TheMainThread().ProcessMessages();
    TheMainThread().WaitForMessages(5);
  }
  EXPECT_TRUE(caller.OnMain);
  caller.WaitFor();
}

TEST(SafeThread, FreeWithoutWaitReturnsAtOnceAndTheThreadFreesItself) {
  std::atomic<bool> destroyed{false};
  auto* worker = new IdleWorker(destroyed);
  worker->SafeTerminate(true, false, true);
  for (int i = 0; i < 1000 && !destroyed; ++i)
    Delay(1);
  EXPECT_TRUE(destroyed);
}

TEST(SafeThread, FreeWithoutWaitOnAnEndedThreadFreesItOnce) {
  std::atomic<bool> destroyed{false};
  auto* worker = new IdleWorker(destroyed);
  worker->Terminate();
  while (worker->ExitCode() == ThreadStillActive)
    Delay(1);
  worker->SafeTerminate(true, false, true);
  EXPECT_TRUE(destroyed);
}

TEST(SafeThread, ExitCodeIs259WhileRunning) {
  std::atomic<bool> destroyed{false};
  auto* worker = new IdleWorker(destroyed);
  EXPECT_EQ(worker->ExitCode(), ThreadStillActive);
  worker->SetPriority(tpTimeCritical);  // best effort; must not fail or throw
  EXPECT_EQ(worker->Priority(), tpTimeCritical);
  worker->Terminate();
  while (worker->ExitCode() == ThreadStillActive)
    Delay(1);
  EXPECT_EQ(worker->ExitCode(), 0u);
  delete worker;
}

TEST(Delay, ZeroReturnsAtOnce) {
  test::VirtualClock clock;  // counts the time a wait takes, whatever else the machine does
  Delay(0);
  EXPECT_EQ(clock.ElapsedMs(), 0.0);
}

TEST(Semaphore, EventsFollowTheCount) {
  TSemaphore s;
  EXPECT_EQ(s.GetCount(), 0);
  EXPECT_TRUE(s.ZeroEvent().IsSet());
  EXPECT_FALSE(s.NonZeroEvent().IsSet());
  s.Add(1);
  EXPECT_FALSE(s.ZeroEvent().IsSet());
  EXPECT_TRUE(s.NonZeroEvent().IsSet());
  s.Add(-1);
  EXPECT_TRUE(s.ZeroEvent().IsSet());
  EXPECT_FALSE(s.NonZeroEvent().IsSet());
  // Add(0) re-asserts the event that matches the count.
  s.Add(2);
  s.NonZeroEvent().Reset();
  s.Add(0);
  EXPECT_EQ(s.GetCount(), 2);
  EXPECT_TRUE(s.NonZeroEvent().IsSet());
  EXPECT_FALSE(s.ZeroEvent().IsSet());
}

TEST(Semaphore, WaiterWakesOnNonZeroFromAnotherThread) {
  TSemaphore s;
  std::thread t([&] {
    Delay(10);
    s.Add(1);
  });
  EXPECT_TRUE(s.NonZeroEvent().WaitFor(2000));
  EXPECT_EQ(s.GetCount(), 1);  // waking claims nothing
  t.join();
}

TEST(Lock, TryAcquireFailsWhileAnotherThreadHoldsIt) {
  TLock lock;
  ASSERT_TRUE(lock.Acquire(true));
  EXPECT_TRUE(lock.Acquire(false));  // the owner may take it again
  lock.Release();
  bool other = true;
  std::thread([&] { other = lock.Acquire(false); }).join();
  EXPECT_FALSE(other);
  lock.Release();
  std::thread([&] {
    other = lock.Acquire(false);
    if (other) lock.Release();
  }).join();
  EXPECT_TRUE(other);
}

}  // namespace
}  // namespace zo
