#include "threads/Event.h"

namespace zo {

void TEvent::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  changed_.NotifyAll();
}

void TEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

bool TEvent::WaitFor(long long Milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (signalled_ || Milliseconds == 0) return signalled_;
  return changed_.WaitUntil(lock, DeadlineAfter(Milliseconds), [this] { return signalled_; });
}

}  // namespace zo
