#include "ui/Showing.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLayout>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace zo {

void CentreOnScreen(QWidget* Window) {
  QScreen* screen = Window->screen();
  if (!screen) return;
  // A layout sizes its window only when the window is shown: settle the size first.
  if (QLayout* layout = Window->layout()) layout->activate();
  Window->adjustSize();
  const QRect free = screen->availableGeometry();
  const QPoint centred = free.center() - QPoint(Window->width() / 2, Window->height() / 2);
  Window->move(std::max(centred.x(), free.left()), std::max(centred.y(), free.top()));
}

void ShowPainted(QWidget* Window, int LimitMs) {
  Window->show();
  QWindow* handle = Window->windowHandle();
  if (handle && !handle->isExposed()) {
    QElapsedTimer clock;
    clock.start();
    // Wakes the wait below even when the window system sends nothing.
    QTimer tick;
    tick.start(10);
    while (!handle->isExposed() && clock.elapsed() < LimitMs)
      QApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                  QEventLoop::WaitForMoreEvents);
  }
  Window->repaint();
}

}  // namespace zo
