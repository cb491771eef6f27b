// The deadlines of one read under TTimeouts, shared by the serial backends so that a real port
// and the simulated line time a read out in exactly the same way.
#pragma once

#include <algorithm>
#include <chrono>

#include "serial/SerialBackend.h"
#include "threads/Clock.h"

namespace zo {

class TReadTimer {
 public:
  // A read of `Count` bytes that starts at `Start`: its total limit is Start + Constant +
  // Multiplier x Count (none when both are 0).
  TReadTimer(const TTimeouts& Timeouts, int Count, TimePoint Start)
      : interval_(std::chrono::milliseconds(Timeouts.ReadInterval)), start_(Start) {
    const long long total = static_cast<long long>(Timeouts.ReadConstant) +
                            static_cast<long long>(Timeouts.ReadMultiplier) * Count;
    if (Timeouts.ReadConstant != 0 || Timeouts.ReadMultiplier != 0)
      total_ = Start + std::chrono::milliseconds(total);
  }

  // Whether a byte that arrived at `Arrival` still belongs to the read: neither after the total
  // limit nor more than the interval after the previous byte (a byte waiting in the buffer
  // before the read began counts as arriving at its start).
  bool Accepts(TimePoint Arrival) const { return std::max(Arrival, start_) <= NextDeadline(); }

  // Records a byte taken by the read.
  void ByteTaken(TimePoint Arrival) {
    last_ = std::max(Arrival, start_);
    any_ = true;
  }

  // The moment the read ends if no further byte comes; TimePoint::max() for none.
  TimePoint NextDeadline() const {
    TimePoint d = total_;
    if (any_ && interval_.count() > 0 && last_ < TimePoint::max() - interval_)
      d = std::min(d, last_ + interval_);
    return d;
  }

  // True when the read has no limit at all (every time-out 0).
  bool Unlimited() const { return NextDeadline() == TimePoint::max(); }

 private:
  Duration interval_;
  TimePoint start_;
  TimePoint total_ = TimePoint::max();
  TimePoint last_{};
  bool any_ = false;
};

}  // namespace zo
