// The decorative pictures of the main window and the about box: a sine wave over a battery-charge
// line, drawn in the colours of the desktop's theme.
#pragma once

#include <QWidget>

namespace zo {

class TDecoration final : public QWidget {
 public:
  explicit TDecoration(QWidget* Parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

}  // namespace zo
