// The decorative pictures of the main window and the about box: a sine wave over a battery-charge
// line, drawn in the colours of the desktop's theme.
#pragma once

#include <QLabel>
#include <QWidget>

namespace zo {

class TDecoration final : public QWidget {
 public:
  explicit TDecoration(QWidget* Parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

// The desktop's font is often wider than the design's: shrinks `Label`'s font (down to 8 pixels)
// until its text fits in `Width` pixels, so that it does not run into the control beside it.
void FitLabelWidth(QLabel* Label, int Width);

}  // namespace zo
