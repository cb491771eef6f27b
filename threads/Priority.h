// Thread priorities on the system, and how a time-critical thread (an adapter driver's) is raised
// above the rest of the machine.
//
// Linux, in order: real-time scheduling (SCHED_FIFO) at a low real-time priority, which needs
// RLIMIT_RTPRIO above 0 (or the CAP_SYS_NICE capability); else the highest nice level that
// RLIMIT_NICE allows; else normal scheduling. Refusals are expected for an ordinary user and are
// not errors: the outcome says which one the thread got.
//
// Windows: the thread priority of the level's name (THREAD_PRIORITY_TIME_CRITICAL for
// tpTimeCritical), which every user may set within the process's priority class.
#pragma once

#include <functional>
#include <string>

#include "threads/Thread.h"

namespace zo {

// Low on purpose: the kernel's own interrupt threads and audio servers run above it.
constexpr int TimeCriticalRtPriority = 5;
// The nice level of a time-critical thread when real-time scheduling is refused, at best.
constexpr int TimeCriticalNice = -20;

enum class TSchedulingKind { Normal, Nice, RealTime };

struct TScheduling {
  TSchedulingKind Kind = TSchedulingKind::Normal;
  int Level = 0;  // the SCHED_FIFO priority, or the nice value

  // "real-time (SCHED_FIFO priority 5)", "nice -10 (real-time scheduling not allowed)", or
  // "normal (neither real-time scheduling nor a raised nice level allowed)".
  std::string Describe() const;
};

// What the process may do, and the calls that try it on one thread (a seam for tests).
struct TSchedulingCalls {
  std::function<long()> RtPrioLimit;          // soft RLIMIT_RTPRIO
  std::function<long()> NiceLimit;            // soft RLIMIT_NICE (nice floor = 20 - limit)
  std::function<bool(int Priority)> SetFifo;  // true when SCHED_FIFO at that priority was set
  std::function<bool(int Nice)> SetNice;      // true when the nice value was set
};

// Asks for real-time scheduling, else the best nice level allowed, else leaves the thread as it
// is; returns what it got.
TScheduling RaiseTimeCritical(const TSchedulingCalls& Calls);

// Linux: the calls on the system for one thread.
TSchedulingCalls SystemSchedulingCalls(const TNativeThread& Thread);

// The calling thread.
TNativeThread CurrentNativeThread();

// Gives `Thread` the priority `Priority`, as far as the system allows. For tpTimeCritical returns
// what the thread got, in words for the text log; empty for the other levels. `Before` is what
// the last call returned for the thread.
std::string ApplyThreadPriority(const TNativeThread& Thread, TThreadPriority Priority,
                                const std::string& Before);

}  // namespace zo
