// The main thread of the window: synchronised calls of worker threads run on the Qt event loop.
//
// Synchronize queues the call, posts a wake-up to the GUI thread and waits on its own condition
// (through the clock) until the call has run. The call is served either by that posted event or,
// sooner, by ProcessMessages, so a main thread that pumps while it waits for a worker to end
// (SafeTerminate) or for the firmware programmer (the reprogram loop) serves it too.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <thread>

#include "threads/Clock.h"
#include "threads/MainThread.h"

namespace zo {

class TQtMainThread final : public QObject, public MainThread {
 public:
  // Create on the GUI thread, after the QApplication.
  TQtMainThread();
  ~TQtMainThread() override;

  // From a worker: blocks until the GUI thread has run `method` (nested event loops of modal
  // dialogs serve it too). On the GUI thread: runs it at once.
  void Synchronize(const std::function<void()>& method) override;
  // Runs the pending synchronised calls, then the Qt events that are waiting.
  void ProcessMessages() override;
  // Blocks until a synchronised call is pending, Wake was called, or `Milliseconds` have passed.
  void WaitForMessages(long long Milliseconds) override;
  void Wake() override;
  bool IsMainThread() const override;

 private:
  std::thread::id owner_;
  TSyncCallQueue calls_;
};

}  // namespace zo
