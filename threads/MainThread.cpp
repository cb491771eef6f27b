#include "threads/MainThread.h"

#include <atomic>

namespace zo {

namespace {
std::atomic<MainThread*> installed_main_thread{nullptr};

PlainMainThread& DefaultMainThread() {
  static PlainMainThread main;
  return main;
}
}  // namespace

MainThread& TheMainThread() {
  MainThread* m = installed_main_thread.load(std::memory_order_acquire);
  return m ? *m : DefaultMainThread();
}

void SetMainThread(MainThread* main) {
  installed_main_thread.store(main, std::memory_order_release);
}

TSyncCallQueue::~TSyncCallQueue() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (TCall* call : pending_)
    call->done = true;
  pending_.clear();
  changed_.NotifyAll();
}

void TSyncCallQueue::Call(const std::function<void()>& method,
                          const std::function<void()>& Posted) {
  TCall call{&method};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(&call);
    changed_.NotifyAll();
  }
  if (Posted) Posted();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.Wait(lock, [&call] { return call.done; });
}

void TSyncCallQueue::ServePending() {
  std::size_t count;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = false;
    count = pending_.size();
  }
  // Only the calls pending now: a worker that queues its next call at once cannot keep the main
  // thread here for ever.
  for (; count > 0; --count) {
    TCall* call;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty()) return;
      call = pending_.front();
      pending_.pop_front();
    }
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

void TSyncCallQueue::WaitForCalls(long long Milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.WaitUntil(lock, DeadlineAfter(Milliseconds),
                     [this] { return !pending_.empty() || woken_; });
  woken_ = false;
}

void TSyncCallQueue::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  changed_.NotifyAll();
}

PlainMainThread::PlainMainThread() : owner_(std::this_thread::get_id()) {}

void PlainMainThread::BindToCurrentThread() {
  owner_.store(std::this_thread::get_id());
}

bool PlainMainThread::IsMainThread() const {
  return std::this_thread::get_id() == owner_.load();
}

void PlainMainThread::Synchronize(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  calls_.Call(method);
}

void PlainMainThread::ProcessMessages() {
  calls_.ServePending();
}

void PlainMainThread::WaitForMessages(long long Milliseconds) {
  calls_.WaitForCalls(Milliseconds);
}

void PlainMainThread::Wake() {
  calls_.Wake();
}

}  // namespace zo
