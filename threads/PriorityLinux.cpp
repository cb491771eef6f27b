#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "threads/Priority.h"

namespace zo {

namespace {

long SoftLimit(int Resource) {
  rlimit r{};
  if (::getrlimit(Resource, &r) != 0) return 0;
  if (r.rlim_cur == RLIM_INFINITY) return 1000;
  return static_cast<long>(r.rlim_cur);
}

pthread_t PthreadOf(const TNativeThread& Thread) {
  return static_cast<pthread_t>(Thread.Handle);
}

}  // namespace

TSchedulingCalls SystemSchedulingCalls(const TNativeThread& Thread) {
  TSchedulingCalls calls;
  calls.RtPrioLimit = [] { return SoftLimit(RLIMIT_RTPRIO); };
  calls.NiceLimit = [] { return SoftLimit(RLIMIT_NICE); };
  calls.SetFifo = [Thread](int Priority) {
    sched_param p{};
    p.sched_priority = Priority;
    return ::pthread_setschedparam(PthreadOf(Thread), SCHED_FIFO, &p) == 0;
  };
  calls.SetNice = [Thread](int Nice) {
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(Thread.Id), Nice) == 0;
  };
  return calls;
}

TNativeThread CurrentNativeThread() {
  TNativeThread thread;
  thread.Handle = static_cast<std::uintptr_t>(::pthread_self());
  thread.Id = static_cast<long>(::syscall(SYS_gettid));
  return thread;
}

std::string ApplyThreadPriority(const TNativeThread& Thread, TThreadPriority Priority,
                                const std::string& Before) {
  if (Priority == tpTimeCritical)
    return RaiseTimeCritical(SystemSchedulingCalls(Thread)).Describe();
  if (Before.rfind("real-time", 0) == 0) {
    sched_param p{};
    (void)::pthread_setschedparam(PthreadOf(Thread), SCHED_OTHER, &p);
  }
  static constexpr int kNice[] = {19, 10, 5, 0, -2, -5, -10};
  // Raising a priority needs a privilege that an ordinary user does not have: ignore the refusal.
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(Thread.Id), kNice[Priority]);
  return "";
}

}  // namespace zo
