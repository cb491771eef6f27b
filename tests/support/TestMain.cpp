// The main of every core test program: the thread that runs the tests is the main thread.
#include <gtest/gtest.h>

#include "threads/MainThread.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  zo::PlainMainThread main_thread;
  zo::SetMainThread(&main_thread);
  const int result = RUN_ALL_TESTS();
  zo::SetMainThread(nullptr);
  return result;
}
