// Thread priorities on Windows: each level is the thread priority of its name.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "threads/Sema.h"

namespace zo {
namespace {

class Recorder final : public TSafeThread {
 public:
  explicit Recorder(TThreadPriority Priority) : TSafeThread(true) {
    SetPriority(Priority);
    Resume();
  }
  std::atomic<int> Held{-100};

 protected:
  void Execute() override { Held.store(GetThreadPriority(GetCurrentThread())); }
};

TEST(ThreadPriorityOnWindows, TimeCriticalAndHighestAreTheSystemsLevels) {
  auto* driver = new Recorder(tpTimeCritical);
  driver->WaitFor();
  EXPECT_EQ(driver->Held.load(), THREAD_PRIORITY_TIME_CRITICAL);
  EXPECT_EQ(driver->SchedulingReport(), "time-critical (THREAD_PRIORITY_TIME_CRITICAL)");
  delete driver;
  auto* bus = new Recorder(tpHighest);
  bus->WaitFor();
  EXPECT_EQ(bus->Held.load(), THREAD_PRIORITY_HIGHEST);
  EXPECT_EQ(bus->SchedulingReport(), "");
  delete bus;
}

}  // namespace
}  // namespace zo
