// The main of the window's tests: one QApplication on the offscreen platform (unless another is
// chosen), the Qt main thread installed, then every test.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "threads/MainThread.h"
#include "ui/QtMainThread.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
