#include "threads/Sema.h"

#include "threads/MainThread.h"

namespace zo {

TSafeThread::TSafeThread(bool CreateSuspended) : TThread(true) {
  SetFreeOnTerminate(false);
  cancelled_.store(false);
  if (!CreateSuspended) Resume();
}

void TSafeThread::SafeSynchronize(const std::function<void()>& Method) {
  stored_method_ = Method;
  Synchronize([this] {
    if (!Cancelled()) stored_method_();
  });
}

void TSafeThread::SafeTerminate(bool CancelCallbacks, bool Wait, bool FreeIt) {
  MainThread& main = TheMainThread();
  if (CancelCallbacks) cancelled_.store(true, std::memory_order_release);
  Terminate();
  if (CancelCallbacks) main.ProcessMessages();
  if (!Wait) {
    if (FreeIt) FreeWhenEnded();
    return;
  }
  while (ExitCode() == ThreadStillActive) {
    main.ProcessMessages();
    if (ExitCode() != ThreadStillActive) break;
    // The worker may be about to hand the main thread a call, or about to end; either wakes us.
    main.WaitForMessages(5);
  }
  if (FreeIt) delete this;
}

void Delay(std::uint32_t Milliseconds) {
  SleepFor(Milliseconds);
}

TSemaphore::TSemaphore() = default;

std::int32_t TSemaphore::GetCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

void TSemaphore::Add(std::int32_t Delta) {
  std::lock_guard<std::mutex> lock(mutex_);
  count_ += Delta;
  if (count_ == 0) {
    zero_event_.Set();
    non_zero_event_.Reset();
  } else {
    zero_event_.Reset();
    non_zero_event_.Set();
  }
}

bool TLock::Acquire(bool Wait) {
  if (Wait) {
    mutex_.lock();
    return true;
  }
  return mutex_.try_lock();
}

void TLock::Release() {
  mutex_.unlock();
}

}  // namespace zo
