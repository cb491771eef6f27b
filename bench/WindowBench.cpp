// The window's start-up: from the start of main to the first paint of the main window, built as
// the program builds it (the main window with the version table read, the value entry dialog and
// the progress dialog), and the peak memory of that process. Prints the figures as rows of the
// benchmark table ("ROW|operation|value|unit|note"); asserts nothing.
// Runs on any Qt platform; bench/run.sh uses the offscreen one where no display is attached.
#include <sys/resource.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "threads/MainThread.h"
#include "threads/UiServices.h"
#include "ui/Inputunit.h"
#include "ui/Progress.h"
#include "ui/QtMainThread.h"
#include "ui/QtUiServices.h"
#include "ui/Unit1.h"

namespace {

const auto kStart = std::chrono::steady_clock::now();

double MsSinceStart() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - kStart)
      .count();
}

// Notes the first paint of the watched window and ends the event loop.
class FirstPaint final : public QObject {
 public:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Paint && Ms < 0) {
      Ms = MsSinceStart();
      QTimer::singleShot(0, [] { QApplication::quit(); });
    }
    return QObject::eventFilter(Watched, Event);
  }
  double Ms = -1;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  zo::TQtMainThread main_thread;
  zo::SetMainThread(&main_thread);
  zo::TQtUiServices ui;
  zo::SetUi(&ui);
  FirstPaint first_paint;
  {
    auto* form = new zo::TForm1(QStringList());
    ui.SetParentWindow(form);
    new zo::TInputForm(form);
    new zo::TProgressForm(form);
    form->installEventFilter(&first_paint);
    form->show();
    QTimer::singleShot(10000, [] { QApplication::quit(); });  // no paint: give up
    QApplication::exec();
    delete form;
  }
  zo::SetUi(nullptr);
  zo::SetMainThread(nullptr);
  if (first_paint.Ms < 0) {
    std::printf("ROW|window start-up to first paint|-|ms|not measured: no paint within 10 s\n");
    return 1;
  }
  std::printf("ROW|window start-up to first paint|%.1f|ms|%s platform, from the start of main\n",
              first_paint.Ms, qPrintable(QApplication::platformName()));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("ROW|peak memory of the window (resident)|%.1f|MB|the program's window process\n",
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
