#include "threads/Thread.h"

#include "threads/Clock.h"
#include "threads/MainThread.h"
#include "threads/Priority.h"

namespace zo {

TThread::TThread(bool CreateSuspended) {
  if (!CreateSuspended) Resume();
}

TThread::~TThread() {
  std::lock_guard<std::mutex> lock(start_mutex_);
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // a thread that frees itself
  } else {
    Terminate();
    WaitForEnd();
    thread_.join();
  }
}

void TThread::Resume() {
  std::lock_guard<std::mutex> lock(start_mutex_);
  if (started_.load()) return;
  started_.store(true);
  TheClock().ThreadStarted();
  thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
  {
    std::lock_guard<std::mutex> lock(scheduling_mutex_);
    native_ = CurrentNativeThread();
  }
  ApplyPriority();
  try {
    Execute();
  } catch (...) {
    // A worker's failure ends the worker, not the program.
  }
  bool free_it;
  {
    std::lock_guard<std::mutex> lock(end_mutex_);
    ended_ = true;
    free_it = free_on_terminate_;
    end_changed_.NotifyAll();
  }
  exit_code_.store(ReturnValue, std::memory_order_release);
  // Wake a waiting SafeTerminate before leaving the clock's count of threads: a clock that
  // advances once every counted thread waits must not see this one gone before its wake-up.
  TheMainThread().Wake();
  TheClock().ThreadEnded();
  if (free_it) {
    {
      std::lock_guard<std::mutex> lock(start_mutex_);
      thread_.detach();
    }
    delete this;
  }
}

void TThread::SetFreeOnTerminate(bool Value) {
  std::lock_guard<std::mutex> lock(end_mutex_);
  free_on_terminate_ = Value;
}

bool TThread::FreeOnTerminate() const {
  std::lock_guard<std::mutex> lock(end_mutex_);
  return free_on_terminate_;
}

void TThread::FreeWhenEnded() {
  {
    std::lock_guard<std::mutex> lock(end_mutex_);
    if (!ended_) {
      free_on_terminate_ = true;
      return;
    }
  }
  delete this;
}

void TThread::SetPriority(TThreadPriority Value) {
  priority_.store(Value);
  ApplyPriority();
}

void TThread::ApplyPriority() {
  std::lock_guard<std::mutex> lock(scheduling_mutex_);
  if (!native_.Known()) return;
  scheduling_report_ = ApplyThreadPriority(native_, priority_.load(), scheduling_report_);
}

std::string TThread::SchedulingReport() const {
  std::lock_guard<std::mutex> lock(scheduling_mutex_);
  return scheduling_report_;
}

void TThread::WaitForEnd() {
  // Waiting here rather than in join() alone keeps the wait visible to the clock; the join that
  // follows only waits for the few steps after Execute, none of which waits.
  std::unique_lock<std::mutex> lock(end_mutex_);
  end_changed_.Wait(lock, [this] { return ended_; });
}

void TThread::WaitFor() {
  std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(start_mutex_);
  if (thread_.joinable() && thread_.get_id() != self) {
    WaitForEnd();
    thread_.join();
  }
}

void TThread::Synchronize(const std::function<void()>& method) {
  TheMainThread().Synchronize(method);
}

}  // namespace zo
