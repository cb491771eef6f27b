#include "ui/Fitting.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <cmath>

namespace zo {

namespace {

constexpr const char* DesignSizeProperty = "zoDesignPixelSize";

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
  QFont f;  // only what is set here overrides the window's font
  f.setPixelSize(PixelSize);
  if (Bold) f.setBold(true);
  W->setFont(f);
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

int FitWindowFont(QWidget* Window, int DesignPixelSize, int Smallest) {
  const QList<QWidget*> all = Window->findChildren<QWidget*>();
  int size = DesignPixelSize;
  for (; size >= Smallest; --size) {
    QFont f = Window->font();
    f.setPixelSize(size);
    Window->setFont(f);
    for (QWidget* w : all) {
      const int design = w->property(DesignSizeProperty).toInt();
      if (design <= 0) continue;
      QFont own = w->font();
      own.setPixelSize(
          std::max(1, static_cast<int>(std::lround(design * size / double(DesignPixelSize)))));
      w->setFont(own);
    }
    if (WidgetsWithClippedText(Window, false).empty()) break;
  }
  return std::max(size, Smallest);
}

}  // namespace zo
