// A label that opens its link with the desktop's default handler when clicked.
#pragma once

#include <QLabel>
#include <QString>
#include <functional>

namespace zo {

class TWebLinkLabel : public QLabel {
 public:
  explicit TWebLinkLabel(QWidget* Parent = nullptr);

  // The target a click opens (a web address).
  QString Link;
  // The label's own click behaviour, run after the link was handed to the desktop.
  std::function<void()> OnClick;

  // Asks the desktop to open Link (the result is not examined: a link that cannot be opened
  // gives no message), then runs OnClick.
  void Click();

 protected:
  void mouseReleaseEvent(QMouseEvent* Event) override;
};

}  // namespace zo
