#include "ui/QtMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace zo {

TQtMainThread::TQtMainThread() : owner_(std::this_thread::get_id()) {}

TQtMainThread::~TQtMainThread() = default;

bool TQtMainThread::IsMainThread() const {
  return std::this_thread::get_id() == owner_;
}

void TQtMainThread::Synchronize(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  // The posted event serves the call when the event loop runs; a main thread that pumps with
  // ProcessMessages meanwhile serves it sooner.
  calls_.Call(method, [this] {
    QMetaObject::invokeMethod(
        this, [this] { calls_.ServePending(); }, Qt::QueuedConnection);
  });
}

void TQtMainThread::ProcessMessages() {
  calls_.ServePending();
  QCoreApplication::processEvents();
}

void TQtMainThread::WaitForMessages(long long Milliseconds) {
  calls_.WaitForCalls(Milliseconds);
}

void TQtMainThread::Wake() {
  calls_.Wake();
}

}  // namespace zo
