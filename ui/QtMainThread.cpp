#include "ui/QtMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace zo {

TQtMainThread::TQtMainThread() : owner_(std::this_thread::get_id()) {}

TQtMainThread::~TQtMainThread() {
  // Release any worker still waiting (its call is dropped): none should be left at this point.
  std::lock_guard<std::mutex> lock(mutex_);
  for (Call* call : pending_)
    call->done = true;
  pending_.clear();
  changed_.NotifyAll();
}

bool TQtMainThread::IsMainThread() const {
  return std::this_thread::get_id() == owner_;
}

void TQtMainThread::Synchronize(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  Call call{&method};
  std::unique_lock<std::mutex> lock(mutex_);
  pending_.push_back(&call);
  changed_.NotifyAll();
  QMetaObject::invokeMethod(
      this, [this] { ServePending(); }, Qt::QueuedConnection);
  changed_.Wait(lock, [&call] { return call.done; });
}

void TQtMainThread::ServePending() {
  for (;;) {
    Call* call = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty()) return;
      call = pending_.front();
      pending_.pop_front();
    }
    try {
      (*call->method)();
    } catch (...) {
      // A synchronised call must never take the event loop down; the worker is released anyway.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    call->done = true;
    changed_.NotifyAll();
  }
}

void TQtMainThread::ProcessMessages() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = false;
  }
  ServePending();
  QCoreApplication::processEvents();
}

void TQtMainThread::WaitForMessages(long long Milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.WaitUntil(lock, DeadlineAfter(Milliseconds),
                     [this] { return !pending_.empty() || woken_; });
  woken_ = false;
}

void TQtMainThread::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  changed_.NotifyAll();
}

}  // namespace zo
