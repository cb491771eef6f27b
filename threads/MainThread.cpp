#include "threads/MainThread.h"

#include <atomic>

namespace zo {

namespace {
std::atomic<MainThread*> installed{nullptr};

PlainMainThread& DefaultMainThread() {
  static PlainMainThread main;
  return main;
}
}  // namespace

MainThread& TheMainThread() {
  MainThread* m = installed.load(std::memory_order_acquire);
  return m ? *m : DefaultMainThread();
}

void SetMainThread(MainThread* main) {
  installed.store(main, std::memory_order_release);
}

PlainMainThread::PlainMainThread() : owner_(std::this_thread::get_id()) {}

void PlainMainThread::BindToCurrentThread() {
  std::lock_guard<std::mutex> lock(mutex_);
  owner_ = std::this_thread::get_id();
}

bool PlainMainThread::IsMainThread() const {
  return std::this_thread::get_id() == owner_;
}

void PlainMainThread::Synchronize(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  Call call{&method};
  std::unique_lock<std::mutex> lock(mutex_);
  pending_.push_back(&call);
  changed_.NotifyAll();
  changed_.Wait(lock, [&call] { return call.done; });
}

void PlainMainThread::ProcessMessages() {
  std::deque<Call*> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(pending_);
    woken_ = false;
  }
  for (Call* call : batch) {
    try {
      (*call->method)();
    } catch (...) {
      // A synchronised call must never take the main thread down; the worker is released anyway.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    call->done = true;
    changed_.NotifyAll();
  }
}

void PlainMainThread::WaitForMessages(long long Milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.WaitUntil(lock, DeadlineAfter(Milliseconds),
                     [this] { return !pending_.empty() || woken_; });
  woken_ = false;
}

void PlainMainThread::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  changed_.NotifyAll();
}

}  // namespace zo
