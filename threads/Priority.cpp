#include "threads/Priority.h"

#include <algorithm>

namespace zo {

std::string TScheduling::Describe() const {
  switch (Kind) {
    case TSchedulingKind::RealTime:
      return "real-time (SCHED_FIFO priority " + std::to_string(Level) + ")";
    case TSchedulingKind::Nice:
      return "nice " + std::to_string(Level) + " (real-time scheduling not allowed)";
    case TSchedulingKind::Normal:
      break;
  }
  return "normal (neither real-time scheduling nor a raised nice level allowed)";
}

TScheduling RaiseTimeCritical(const TSchedulingCalls& Calls) {
  // A limit of 0 may still be overruled by a privilege: ask anyway, the refusal costs nothing.
  const long rt_limit = Calls.RtPrioLimit();
  const int rt = rt_limit > 0 ? static_cast<int>(std::min<long>(rt_limit, TimeCriticalRtPriority))
                              : TimeCriticalRtPriority;
  if (Calls.SetFifo(rt)) return {TSchedulingKind::RealTime, rt};
  const long floor = 20 - Calls.NiceLimit();
  const int nice = static_cast<int>(std::max<long>(floor, TimeCriticalNice));
  if (nice < 0 && Calls.SetNice(nice)) return {TSchedulingKind::Nice, nice};
  return {};
}

}  // namespace zo
