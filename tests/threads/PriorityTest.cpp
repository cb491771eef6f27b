// The scheduling of time-critical threads: real-time where allowed, else the best nice level,
// else normal; and what the kernel holds for a running thread matches the report.
#include "threads/Priority.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <vector>

#include "threads/Sema.h"

namespace zo {
namespace {

// Limits and answers of a process, and the calls that were tried.
struct TFakeSystem {
  long RtPrio = 0, Nice = 0;
  bool FifoAllowed = false, NiceAllowed = true;
  std::vector<int> FifoTried, NiceTried;

  TSchedulingCalls Calls() {
    return {[this] { return RtPrio; }, [this] { return Nice; },
            [this](int p) {
              FifoTried.push_back(p);
              return FifoAllowed;
            },
            [this](int n) {
              NiceTried.push_back(n);
              return NiceAllowed;
            }};
  }
};

TEST(TimeCriticalScheduling, RealTimeWithinTheLimitElseTheBestNiceLevelElseNormal) {
  TFakeSystem rt;
  rt.RtPrio = 3;  // below our low priority: the limit wins
  rt.FifoAllowed = true;
  TScheduling got = RaiseTimeCritical(rt.Calls());
  EXPECT_EQ(got.Kind, TSchedulingKind::RealTime);
  EXPECT_EQ(got.Level, 3);
  EXPECT_EQ(got.Describe(), "real-time (SCHED_FIFO priority 3)");
  EXPECT_TRUE(rt.NiceTried.empty());

  rt.RtPrio = 99;
  EXPECT_EQ(RaiseTimeCritical(rt.Calls()).Level, TimeCriticalRtPriority);

  // Real-time refused: the nice floor that RLIMIT_NICE gives (20 - limit), at most -20.
  TFakeSystem nice;
  nice.Nice = 30;
  got = RaiseTimeCritical(nice.Calls());
  EXPECT_EQ(got.Kind, TSchedulingKind::Nice);
  EXPECT_EQ(got.Level, -10);
  EXPECT_EQ(got.Describe(), "nice -10 (real-time scheduling not allowed)");
  nice.Nice = 41;
  EXPECT_EQ(RaiseTimeCritical(nice.Calls()).Level, -20);

  // Neither: nothing lower than nice 0 is even tried, and a refused nice level leaves it normal.
  TFakeSystem none;
  got = RaiseTimeCritical(none.Calls());
  EXPECT_EQ(got.Kind, TSchedulingKind::Normal);
  EXPECT_EQ(got.Describe(),
            "normal (neither real-time scheduling nor a raised nice level allowed)");
  EXPECT_TRUE(none.NiceTried.empty());
  none.Nice = 25;
  none.NiceAllowed = false;
  EXPECT_EQ(RaiseTimeCritical(none.Calls()).Kind, TSchedulingKind::Normal);
  EXPECT_EQ(none.NiceTried, std::vector<int>{-5});
}

// Records, on the running thread, what the kernel holds for it.
class Recorder final : public TSafeThread {
 public:
  Recorder() : TSafeThread(true) {
    SetPriority(tpTimeCritical);
    Resume();
  }
  std::atomic<int> Policy{-1}, Nice{100};
  std::string Report;

 protected:
  void Execute() override {
    Report = SchedulingReport();
    Nice.store(::getpriority(PRIO_PROCESS, 0));
    Policy.store(::sched_getscheduler(0));
  }
};

TEST(TimeCriticalScheduling, TheReportSaysWhatTheKernelHolds) {
  auto* worker = new Recorder;
  worker->WaitFor();
  EXPECT_EQ(worker->Report, worker->SchedulingReport());
  if (worker->Report.rfind("real-time", 0) == 0) {
    EXPECT_EQ(worker->Policy.load(), SCHED_FIFO);
  } else {
    EXPECT_EQ(worker->Policy.load(), SCHED_OTHER) << worker->Report;
    if (worker->Report.rfind("nice ", 0) == 0) {
      EXPECT_LT(worker->Nice.load(), 0) << worker->Report;
    } else {
      EXPECT_EQ(worker->Report.rfind("normal", 0), 0u) << worker->Report;
    }
  }
  delete worker;
}

}  // namespace
}  // namespace zo
