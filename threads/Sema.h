// Worker-thread base with orderly termination and cancellable callbacks onto the main thread,
// the workers' sleep, a counter with a zero and a non-zero event, and a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "threads/Event.h"
#include "threads/Thread.h"

namespace zo {

// The base of every worker thread of the program (drivers, bus thread, firmware programmer).
class TSafeThread : public TThread {
 public:
  // With CreateSuspended false the worker starts at once. In C++ a worker started inside a base
  // constructor could run before the descendant exists, so every descendant that overrides
  // Execute passes True and calls Resume at the end of its own constructor.
  explicit TSafeThread(bool CreateSuspended);

  // Called on the main thread. In this order: FreeIt without Wait sets free-on-terminate;
  // CancelCallbacks sets Cancelled; Terminate; CancelCallbacks pumps the main thread's pending
  // calls once (so a SafeSynchronize the worker is blocked in is served now, as a no-op); Wait
  // pumps messages until the exit code is no longer 259 and then, with FreeIt, deletes the
  // object. With FreeIt the caller must not use the object afterwards.
  void SafeTerminate(bool CancelCallbacks, bool Wait, bool FreeIt);

  bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

 protected:
  // Called on the worker: runs `Method` on the main thread unless Cancelled is set when the call
  // is served there. Blocks until the main thread has served it, whether or not it ran.
  void SafeSynchronize(const std::function<void()>& Method);

 private:
  std::atomic<bool> cancelled_{false};
  std::function<void()> stored_method_;
};

// The workers' sleep: blocks on the clock for `Milliseconds`; 0 returns at once.
void Delay(std::uint32_t Milliseconds);

// A counter with two manual-reset events: ZeroEvent is signalled exactly while the count is 0,
// NonZeroEvent exactly while it is not. Waking on an event claims nothing: the consumer still
// decrements with Add(-1).
class TSemaphore {
 public:
  TSemaphore();
  std::int32_t GetCount();
  void Add(std::int32_t Delta);
  TEvent& ZeroEvent() { return zero_event_; }
  TEvent& NonZeroEvent() { return non_zero_event_; }

 private:
  std::mutex mutex_;
  std::int32_t count_ = 0;
  TEvent zero_event_{true};
  TEvent non_zero_event_{false};
};

// A mutual-exclusion lock that its owner may take again; each successful Acquire needs a Release.
class TLock {
 public:
  // Wait true: blocks until obtained. Wait false: only tests it. True when obtained.
  bool Acquire(bool Wait);
  void Release();

 private:
  std::recursive_mutex mutex_;
};

}  // namespace zo
