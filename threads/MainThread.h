// "The main thread": the user-interface thread that windows, message boxes and every synchronised
// call of a worker run on.
//
// The program installs one implementation: the Qt event loop for the window, or the plain queue
// below for the command-line program and the tests, which pump it with ProcessMessages.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "threads/Clock.h"

namespace zo {

class MainThread {
 public:
  virtual ~MainThread() = default;

  // Runs `method` on the main thread and blocks the caller until it has run. Called on the main
  // thread itself, it runs `method` at once.
  virtual void Synchronize(const std::function<void()>& method) = 0;

  // On the main thread: runs every synchronised call that is pending, once.
  virtual void ProcessMessages() = 0;

  // On the main thread: blocks until a synchronised call is pending, Wake was called, or
  // `Milliseconds` have passed. Lets loops that pump messages wait without burning a core.
  virtual void WaitForMessages(long long Milliseconds) = 0;

  // Ends a WaitForMessages early (a worker thread that ended calls it).
  virtual void Wake() = 0;

  virtual bool IsMainThread() const = 0;
};

// The installed main thread. Until one is installed, a plain queue bound to the thread that first
// asks for it serves.
MainThread& TheMainThread();

// Installs `main` (nullptr reinstalls the default plain queue). Only while no worker runs.
void SetMainThread(MainThread* main);

// The synchronised calls waiting for a main thread: workers queue a call and block until the main
// thread has served it. Both main-thread implementations keep one.
class TSyncCallQueue {
 public:
  // Releases every worker still waiting (its call is dropped).
  ~TSyncCallQueue();

  // On a worker: queues `method`, runs `Posted` (to wake the main thread's event loop, if it has
  // one), and blocks until the main thread has served the call.
  void Call(const std::function<void()>& method, const std::function<void()>& Posted = {});

  // On the main thread: serves the calls pending now, one at a time (a call that pumps messages
  // itself may serve later ones). Clears a pending Wake.
  void ServePending();

  // On the main thread: blocks until a call is pending, Wake was called, or `Milliseconds` passed.
  void WaitForCalls(long long Milliseconds);
  void Wake();

 private:
  struct TCall {
    const std::function<void()>* method;
    bool done = false;
  };

  std::mutex mutex_;
  Condition changed_;
  std::deque<TCall*> pending_;
  bool woken_ = false;
};

// A plain queue of synchronised calls, pumped by the thread that owns it.
class PlainMainThread final : public MainThread {
 public:
  // The calling thread becomes the main thread.
  PlainMainThread();

  void Synchronize(const std::function<void()>& method) override;
  void ProcessMessages() override;
  void WaitForMessages(long long Milliseconds) override;
  void Wake() override;
  bool IsMainThread() const override;

  // Makes the calling thread the main thread (for a queue created elsewhere).
  void BindToCurrentThread();

 private:
  std::atomic<std::thread::id> owner_;
  TSyncCallQueue calls_;
};

}  // namespace zo
