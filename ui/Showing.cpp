#include "ui/Showing.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
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
  // With its frame once the window system has given it one.
  const QSize frame = Window->frameGeometry().size();
  const QPoint centred = free.center() - QPoint(frame.width() / 2, frame.height() / 2);
  const int x = std::min(centred.x(), free.left() + free.width() - frame.width());
  const int y = std::min(centred.y(), free.top() + free.height() - frame.height());
  Window->move(std::max(x, free.left()), std::max(y, free.top()));
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

TScreenFitArea::TScreenFitArea(QWidget* Client, QWidget* Parent) : QScrollArea(Parent) {
  setObjectName(QStringLiteral("ScreenFitArea"));
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::NoFocus);
  setWidgetResizable(false);
  setWidget(Client);
  window()->installEventFilter(this);
}

bool TScreenFitArea::eventFilter(QObject* Watched, QEvent* Event) {
  QWidget* window = this->window();
  if (Watched == window && (Event->type() == QEvent::Show || Event->type() == QEvent::Move) &&
      sizeHint() != size())
    updateGeometry();
  // The window grew once its frame was known (a frame smaller than guessed): it stays within the
  // screen, its top-left corner first.
  if (Watched == window && Event->type() == QEvent::Resize && window->isVisible() &&
      window->screen()) {
    const QRect free = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    const int x =
        std::max(std::min(frame.x(), free.left() + free.width() - frame.width()), free.left());
    const int y =
        std::max(std::min(frame.y(), free.top() + free.height() - frame.height()), free.top());
    if (x != frame.x() || y != frame.y()) window->move(x, y);
  }
  return QScrollArea::eventFilter(Watched, Event);
}

QSize TScreenFitArea::sizeHint() const {
  const QSize whole = widget() ? widget()->size() : QSize();
  const QWidget* window = this->window();
  const QScreen* screen = window->screen();
  if (!screen) return whole;
  int frame_width = window->frameGeometry().width() - window->width();
  int frame_height = window->frameGeometry().height() - window->height();
  if (frame_height <= 0) frame_height = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
  int others = 0;
  if (auto* main = qobject_cast<const QMainWindow*>(window)) {
    if (main->menuWidget()) others += main->menuWidget()->sizeHint().height();
    if (auto* bar = main->findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly))
      others += bar->sizeHint().height();
  }
  const QSize room = screen->availableGeometry().size() - QSize(frame_width, frame_height + others);
  QSize shown = whole.boundedTo(room);
  // A scroll bar takes room across: the other direction may then need one too.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  if (shown.width() < whole.width()) shown.setHeight(std::min(whole.height() + bar, room.height()));
  if (shown.height() < whole.height()) shown.setWidth(std::min(whole.width() + bar, room.width()));
  return shown.expandedTo(QSize(1, 1));
}

bool TScreenFitArea::Scrolls() const {
  return widget() && (width() < widget()->width() || height() < widget()->height());
}

}  // namespace zo
