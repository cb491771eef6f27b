#include "ui/Fitting.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>
#include <cmath>

namespace zo {

namespace {

constexpr const char* DesignSizeProperty = "zoDesignPixelSize";
constexpr const char* DesignBoldProperty = "zoDesignBold";
constexpr const char* DesignGeometryProperty = "zoDesignGeometry";
constexpr const char* DesignScaleProperty = "zoDesignScale";

int Round(double X) {
  return static_cast<int>(std::lround(X));
}

// Edges are scaled, not sizes: controls that meet in the design still meet.
QRect ScaledRect(const QRect& Design, double Factor) {
  const int left = Round(Design.x() * Factor), top = Round(Design.y() * Factor);
  const int right = Round((Design.x() + Design.width()) * Factor);
  const int bottom = Round((Design.y() + Design.height()) * Factor);
  return {left, top, right - left, bottom - top};
}

// A control of the design below `Root`, placed by the design rather than by a layout or by the
// compound control it belongs to.
bool IsDesignControl(const QWidget* W, const QWidget* Root) {
  if (W->isWindow() || W->window() != Root->window()) return false;
  const QString name = W->objectName();
  if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) return false;
  const QWidget* parent = W->parentWidget();
  return !(parent && parent->layout() && parent->layout()->indexOf(W) >= 0);
}

// A caption as it is drawn: without its access-key marks and the blanks at its ends.
QString Shown(const QString& Text) {
  QString s = Text;
  s.replace(QLatin1String("&&"), QString(QChar(1)));
  s.remove(QLatin1Char('&'));
  s.replace(QChar(1), QLatin1Char('&'));
  return s.trimmed();
}

int Advance(const QWidget* W, const QString& Text) {
  return W->fontMetrics().horizontalAdvance(Shown(Text));
}

bool LabelFits(const QLabel* L) {
  if (L->text().isEmpty() || L->textFormat() == Qt::RichText) return true;
  const QRect room =
      L->contentsRect().adjusted(L->margin(), L->margin(), -L->margin(), -L->margin());
  if (L->wordWrap()) return L->heightForWidth(L->width()) <= L->height();
  return Advance(L, L->text()) <= room.width() && L->fontMetrics().height() <= room.height();
}

bool ButtonFits(const QAbstractButton* B) {
  if (B->text().isEmpty()) return true;
  const QStyle* style = B->style();
  if (qobject_cast<const QCheckBox*>(B) || qobject_cast<const QRadioButton*>(B)) {
    const bool check = qobject_cast<const QCheckBox*>(B) != nullptr;
    const int indicator =
        style->pixelMetric(check ? QStyle::PM_IndicatorWidth : QStyle::PM_ExclusiveIndicatorWidth,
                           nullptr, B) +
        style->pixelMetric(
            check ? QStyle::PM_CheckBoxLabelSpacing : QStyle::PM_RadioButtonLabelSpacing, nullptr,
            B);
    return indicator + Advance(B, B->text()) <= B->width() &&
           B->fontMetrics().height() <= B->height();
  }
  int needed = Advance(B, B->text()) + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, B) +
               2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, B);
  if (!B->icon().isNull()) needed += B->iconSize().width() + 4;
  return needed <= B->width();
}

bool ComboFits(const QComboBox* C) {
  QStyleOptionComboBox option;
  option.initFrom(C);
  option.editable = C->isEditable();
  option.frame = C->hasFrame();
  const QRect field =
      C->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, C);
  for (int i = 0; i < C->count(); ++i)
    if (Advance(C, C->itemText(i)) > field.width()) return false;
  return true;
}

bool EditFits(const QLineEdit* E) {
  const int frame =
      E->hasFrame() ? E->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, E) : 0;
  const QMargins margins = E->textMargins();
  // A line edit keeps two pixels on each side of its text.
  const int room = E->width() - 2 * frame - margins.left() - margins.right() - 4;
  return E->fontMetrics().horizontalAdvance(E->text()) <= room;
}

bool GroupFits(const QGroupBox* G) {
  if (G->title().isEmpty()) return true;
  // The title sits indented by a few pixels on each side, as the styles draw it.
  return Advance(G, G->title()) + 16 <= G->width();
}

}  // namespace

void SetDesignFont(QWidget* W, int PixelSize, bool Bold) {
  W->setProperty(DesignSizeProperty, PixelSize);
  W->setProperty(DesignBoldProperty, Bold);
}

int DesignFontSize(const QWidget* W) {
  const int size = W->property(DesignSizeProperty).toInt();
  return size > 0 ? size : DesignFontPixels;
}

bool TextFits(const QWidget* W) {
  if (auto* label = qobject_cast<const QLabel*>(W)) return LabelFits(label);
  if (auto* button = qobject_cast<const QAbstractButton*>(W)) return ButtonFits(button);
  if (auto* combo = qobject_cast<const QComboBox*>(W)) return ComboFits(combo);
  if (auto* edit = qobject_cast<const QLineEdit*>(W)) return EditFits(edit);
  if (auto* group = qobject_cast<const QGroupBox*>(W)) return GroupFits(group);
  return true;
}

std::vector<QWidget*> WidgetsWithClippedText(QWidget* Root, bool VisibleOnly) {
  std::vector<QWidget*> clipped;
  QList<QWidget*> all = Root->findChildren<QWidget*>();
  all.prepend(Root);
  for (QWidget* w : all) {
    if (VisibleOnly && !w->isVisible()) continue;
    // Another window's widgets are fitted with that window.
    if (w != Root && w->window() != Root->window()) continue;
    if (!TextFits(w)) clipped.push_back(w);
  }
  return clipped;
}

double FontScale(const QFont& Font) {
  const QFontMetricsF metrics(Font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const double width = metrics.horizontalAdvance(letters) / letters.size();
  return std::max(width / DesignCharWidth, metrics.height() / DesignCharHeight);
}

double ScaleToFont(QWidget* Root, const std::function<void(double)>& AfterScaling) {
  std::vector<QWidget*> placed;
  for (QWidget* w : Root->findChildren<QWidget*>())
    if (IsDesignControl(w, Root)) placed.push_back(w);
  for (QWidget* w : placed)
    if (!w->property(DesignGeometryProperty).isValid())
      w->setProperty(DesignGeometryProperty, w->geometry());
  if (!Root->property(DesignGeometryProperty).isValid())
    Root->setProperty(DesignGeometryProperty, QRect(QPoint(0, 0), Root->size()));
  const bool fixed = Root->minimumSize() == Root->maximumSize();

  const QFont base = Root->font();
  for (QWidget* w : placed) {
    const int design = w->property(DesignSizeProperty).toInt();
    if (design <= 0) continue;
    QFont own = w->font();
    if (base.pointSizeF() > 0)
      own.setPointSizeF(base.pointSizeF() * design / DesignFontPixels);
    else
      own.setPixelSize(std::max(
          1, static_cast<int>(std::lround(base.pixelSize() * design / double(DesignFontPixels)))));
    own.setBold(w->property(DesignBoldProperty).toBool());
    w->setFont(own);
  }

  // Fonts differ in shape: the factor grows in small steps while a text does not fit, up to
  // twice what the font's metrics ask (a text that fits at no factor stays clipped).
  const double least = FontScale(base);
  double factor = least;
  for (;;) {
    const QRect size = Root->property(DesignGeometryProperty).toRect();
    const QSize scaled(Round(size.width() * factor), Round(size.height() * factor));
    if (fixed)
      Root->setFixedSize(scaled);
    else
      Root->resize(scaled);
    for (QWidget* w : placed)
      w->setGeometry(ScaledRect(w->property(DesignGeometryProperty).toRect(), factor));
    Root->window()->setProperty(DesignScaleProperty, factor);
    if (AfterScaling) AfterScaling(factor);
    if (factor >= 2 * least || WidgetsWithClippedText(Root, false).empty()) break;
    factor *= 1.02;
  }
  return factor;
}

double DesignScale(const QWidget* W) {
  const QVariant factor = W->window()->property(DesignScaleProperty);
  return factor.isValid() ? factor.toDouble() : 1.0;
}

int Scaled(const QWidget* W, int DesignPixels) {
  return Round(DesignPixels * DesignScale(W));
}

}  // namespace zo
