#include "ui/Decoration.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace zo {

TDecoration::TDecoration(QWidget* Parent) : QWidget(Parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TDecoration::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPalette& pal = palette();
  QColor wave = pal.color(QPalette::Highlight);
  wave.setAlpha(90);
  QColor line = pal.color(QPalette::Mid);
  const double w = width(), h = height();
  QPainterPath sine;
  for (int x = 0; x <= width(); x += 2) {
    const double y = h * 0.55 - h * 0.25 * std::sin(x / w * 6.0 * M_PI);
    if (x == 0)
      sine.moveTo(x, y);
    else
      sine.lineTo(x, y);
  }
  p.setPen(QPen(wave, 3));
  p.drawPath(sine);
  p.setPen(QPen(line, 2));
  p.drawLine(QPointF(0, h * 0.85), QPointF(w * 0.3, h * 0.35));
  p.drawLine(QPointF(w * 0.3, h * 0.35), QPointF(w, h * 0.35));
}

}  // namespace zo
