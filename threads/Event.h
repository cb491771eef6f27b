// Manual-reset event: stays signalled from Set until Reset, and releases every waiter meanwhile.
#pragma once

#include <mutex>

#include "threads/Clock.h"

namespace zo {

class TEvent {
 public:
  explicit TEvent(bool InitiallySignalled = false) : signalled_(InitiallySignalled) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

  // Waits up to `Milliseconds` (negative: without limit) for the event; true when it is signalled.
  // A wait of 0 only tests it.
  bool WaitFor(long long Milliseconds);

 private:
  mutable std::mutex mutex_;
  Condition changed_;
  bool signalled_;
};

}  // namespace zo
