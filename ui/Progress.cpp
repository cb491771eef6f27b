#include "ui/Progress.h"

#include <QKeyEvent>

#include "ui/Fitting.h"
#include "ui/QtUiServices.h"

namespace zo {

TProgressForm* ProgressForm = nullptr;

TProgressForm::TProgressForm(QWidget* MainWindow)
    // A window of its own rather than the main window's child: a child would be greyed with the
    // main window, which is disabled while the dialog shows.
    : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      main_window_(MainWindow) {
  if (MainWindow) connect(MainWindow, &QObject::destroyed, this, [this] { delete this; });
  setObjectName(QStringLiteral("ProgressForm"));
  setWindowTitle(QStringLiteral("ProgressForm"));
  setModal(false);
  setFixedSize(232, 108);
  ProgressInfo = new QLabel(QStringLiteral("ProgressInfo"), this);
  ProgressInfo->setObjectName(QStringLiteral("ProgressInfo"));
  ProgressInfo->setGeometry(40, 16, 180, 32);
  ProgressInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setGeometry(40, 56, 153, 17);
  ProgressBar->setRange(0, 100);
  ProgressBar->setTextVisible(false);
  // Fitted to the longest text it shows.
  ProgressInfo->setText(QStringLiteral("Please wait, erasing"));
  ScaleToFont(this);
  ProgressInfo->setText(QStringLiteral("ProgressInfo"));
  ProgressForm = this;
}

TProgressForm::~TProgressForm() {
  if (ProgressForm == this) ProgressForm = nullptr;
}

void TProgressForm::keyPressEvent(QKeyEvent* Event) {
  Event->accept();
}

void TProgressForm::ShowProgress(const std::string& Caption, const std::string& Info, int Position,
                                 int Min, int Max) {
  if (Caption.empty() && Info.empty()) {
    if (main_window_) main_window_->setEnabled(true);
    hide();
    return;
  }
  if (main_window_) main_window_->setEnabled(false);
  setWindowTitle(ToQt(Caption));
  ProgressInfo->setText(ToQt(Info));
  if (Position < Min) {
    ProgressBar->hide();
  } else {
    ProgressBar->show();
    if (ProgressBar->maximum() != Max) ProgressBar->setMaximum(Max);
    if (ProgressBar->minimum() != Min) ProgressBar->setMinimum(Min);
    ProgressBar->setValue(Position);
  }
  if (main_window_) {
    const QRect frame = main_window_->geometry();
    move(frame.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  repaint();
}

}  // namespace zo
