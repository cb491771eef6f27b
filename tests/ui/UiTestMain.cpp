// The main of the window's tests: one QApplication on the offscreen platform (unless another is
// chosen), the Qt main thread installed, then every test.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "threads/MainThread.h"
#include "ui/QtMainThread.h"

// Under the thread sanitizer: Qt's own libraries are not instrumented, so the hand-over inside
// its thread pool (fonts, image conversion) looks like races. Our threads are still checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\nrace:libQt6Gui.so\nrace:libQt6Widgets.so\n";
}

namespace {

// The offscreen platform's notes about what it cannot do are noise in the tests' output.
void QuietHandler(QtMsgType Type, const QMessageLogContext& Context, const QString& Message) {
  static const char* const noise[] = {"This plugin does not support", "XDG_RUNTIME_DIR",
                                      "Keyboard event not accepted"};
  const QByteArray text = Message.toLocal8Bit();
  for (const char* n : noise)
    if (std::strstr(text.constData(), n)) return;
  (void)Context;
  std::fprintf(stderr, "%s\n", text.constData());
  if (Type == QtFatalMsg) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(QuietHandler);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  int result = 0;
  {
    zo::TQtMainThread main_thread;
    zo::SetMainThread(&main_thread);
    result = RUN_ALL_TESTS();
    zo::SetMainThread(nullptr);
  }
  return result;
}
