#include "ui/AbtForm.h"

#include <QApplication>
#include <QMouseEvent>

#include "adapter/Textlogger.h"
#include "ui/Fitting.h"
#include "ui/QtUiServices.h"

namespace zo {

namespace {
// A label in the room the design leaves it; the product name and the version are headings.
QLabel* MakeAboutLabel(QWidget* Parent, const char* Name, const QString& Text, int X, int Y, int W,
                       int H, int PixelSize = 0) {
  auto* label = new QLabel(Text, Parent);
  label->setObjectName(QString::fromLatin1(Name));
  if (PixelSize > 0) SetDesignFont(label, PixelSize);
  label->setGeometry(X, Y, W, H);
  return label;
}
}  // namespace

TAboutBox::TAboutBox(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(391, 250);
  // The box's own texts in the colour of active window captions.
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, pal.color(QPalette::Active, QPalette::Highlight));
  setPalette(pal);

  ProgramIcon = new TDecoration(this);
  ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
  ProgramIcon->setGeometry(0, 110, 391, 140);

  // The labels the design shows in black use the theme's text colour, so a dark theme stays
  // readable.
  QPalette text_palette = palette();
  text_palette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
  ProductName =
      MakeAboutLabel(this, "ProductName", QStringLiteral("ZO configure"), 16, 16, 116, 24, 20);
  ProductName->setPalette(text_palette);
  ProductName->installEventFilter(this);
  Version =
      MakeAboutLabel(this, "Version", QStringLiteral("Version 90.03.120"), 16, 40, 200, 24, 16);
  Version->setPalette(text_palette);
  Label1 =
      MakeAboutLabel(this, "Label1", QStringLiteral("Configuration program  for  Corvane devices"),
                     136, 24, 391 - 4 - 136, 16);
  MakerLabel =
      MakeAboutLabel(this, "MakerLabel", QStringLiteral("Made by Tarnelo Energy"), 16, 72, 300, 16);
  MakerLabel->setPalette(text_palette);
  WebLinkLabel1 = new TWebLinkLabel(this);
  WebLinkLabel1->setObjectName(QStringLiteral("WebLinkLabel1"));
  WebLinkLabel1->setText(QString::fromLatin1(MakerWebAddress));
  WebLinkLabel1->Link = QString::fromLatin1(MakerWebAddress);
  WebLinkLabel1->setGeometry(16, 88, 300, 16);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(151, 132, 90, 45);
  SetDesignFont(OKButton, 13);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  SpecialInfoMemo = new QPlainTextEdit(this);
  SpecialInfoMemo->setObjectName(QStringLiteral("SpecialInfoMemo"));
  SpecialInfoMemo->setGeometry(264, 136, 89, 25);
  SpecialInfoMemo->setReadOnly(true);
  SpecialInfoMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  SpecialInfoMemo->setPalette(text_palette);
  SpecialInfoMemo->hide();
  SpecialInfoMemo->viewport()->installEventFilter(this);
  ScaleToFont(this);
}

void TAboutBox::CheckDisplaySpecialInfo(Qt::MouseButton Button, Qt::KeyboardModifiers Shift) {
  if (Button != Qt::RightButton || !(Shift & Qt::ControlModifier)) return;
  const int margin = Scaled(this, 10);
  SpecialInfoMemo->setGeometry(margin, margin, width() - 2 * margin, height() - 2 * margin);
  std::string log;
  GetLogText(log);
  SpecialInfoMemo->setPlainText(ToQt(log));
  SpecialInfoMemo->show();
  SpecialInfoMemo->raise();
}

void TAboutBox::HideSpecialInfo() {
  SpecialInfoMemo->hide();
}

bool TAboutBox::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(Event);
    if (Watched == ProductName) {
      CheckDisplaySpecialInfo(mouse->button(), mouse->modifiers());
      return true;
    }
    if (Watched == SpecialInfoMemo->viewport()) {
      HideSpecialInfo();
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

}  // namespace zo
