#include "ui/WebLinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace zo {

TWebLinkLabel::TWebLinkLabel(QWidget* Parent) : QLabel(Parent) {
  setCursor(Qt::PointingHandCursor);
}

void TWebLinkLabel::Click() {
  QDesktopServices::openUrl(QUrl::fromUserInput(Link));
  if (OnClick) OnClick();
}

void TWebLinkLabel::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint())) Click();
  QLabel::mouseReleaseEvent(Event);
}

}  // namespace zo
