// The thread base that TSafeThread stands on: what a desktop toolkit's thread class gives.
//
// A TThread is always created without running; the worker starts at the first Resume. Terminate
// only sets the terminated flag, which Execute loops test at the top of every pass. ExitCode reads
// 259 (the code of a thread that is still running) from creation until Execute has returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "threads/Clock.h"

namespace zo {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

constexpr std::uint32_t ThreadStillActive = 259;

// A running thread as the system names it, for setting its priority (threads/Priority.h).
struct TNativeThread {
  std::uintptr_t Handle = 0;  // Linux: the pthread
  long Id = 0;                // Linux: the kernel's thread id; Windows: the thread id
  bool Known() const { return Id != 0; }
};

class TThread {
 public:
  // CreateSuspended true: the worker does not start before Resume.
  explicit TThread(bool CreateSuspended);
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // A thread that still runs is told to terminate and joined (unless it frees itself).
  virtual ~TThread();

  // Starts the worker if it has not started yet.
  void Resume();

  void Terminate() { terminated_.store(true, std::memory_order_release); }
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  // When set, the object deletes itself when Execute returns.
  void SetFreeOnTerminate(bool Value);
  bool FreeOnTerminate() const;

  // Sets free-on-terminate; a thread whose Execute has already returned is deleted at once
  // instead, so that the object is freed exactly once whichever side comes first.
  void FreeWhenEnded();

  // Best effort: on Linux a process may not be allowed to raise a thread's priority; that is not
  // an error. The level is kept and reported either way. On Linux tpTimeCritical asks for
  // real-time scheduling, else the best nice level allowed (threads/Priority.h), and the other
  // levels map to nice values; on Windows each level is the thread priority of its name.
  void SetPriority(TThreadPriority Value);
  TThreadPriority Priority() const { return priority_.load(); }
  // What a tpTimeCritical thread got, for the text log: empty until the running thread has
  // applied it (and for the other levels).
  std::string SchedulingReport() const;

  // 259 while the thread has not ended, then Execute's ReturnValue.
  std::uint32_t ExitCode() const { return exit_code_.load(std::memory_order_acquire); }

  // Blocks until Execute has returned (not for a thread that frees itself). The wait goes through
  // the clock, so a clock that counts waiting threads sees the caller as waiting.
  void WaitFor();

  // Runs `method` on the main thread; the worker blocks until it has run.
  void Synchronize(const std::function<void()>& method);

 protected:
  virtual void Execute() = 0;

  // Exit code reported once Execute returns.
  std::uint32_t ReturnValue = 0;

 private:
  void Run();
  void ApplyPriority();
  void WaitForEnd();

  std::mutex start_mutex_;
  std::thread thread_;
  std::atomic<bool> started_{false};
  std::atomic<bool> terminated_{false};
  mutable std::mutex end_mutex_;  // guards free_on_terminate_ and ended_
  Condition end_changed_;
  bool free_on_terminate_ = false;
  bool ended_ = false;
  std::atomic<TThreadPriority> priority_{tpNormal};
  std::atomic<std::uint32_t> exit_code_{ThreadStillActive};
  mutable std::mutex scheduling_mutex_;  // guards native_ and scheduling_report_
  TNativeThread native_;                 // known once the thread runs
  std::string scheduling_report_;
};

}  // namespace zo
