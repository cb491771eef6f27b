#include "ui/QtUiServices.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "ui/Progress.h"

namespace zo {

namespace {
const char* const SettingsFileFilter = "ZO setting files (*.zsf);;All files (*.*)";
}

QString ToQt(const std::string& Text) {
  QString s = QString::fromStdString(Text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

std::string FromQt(const QString& Text) {
  return Text.toStdString();
}

TQtUiServices::TQtUiServices(QWidget* Parent) : parent_(Parent) {}

TModalResult TQtUiServices::MessageDlg(const std::string& Msg, TMsgDlgType DlgType,
                                       TMsgDlgButtons Buttons) {
  QMessageBox::Icon icon = QMessageBox::Information;
  QString title = QStringLiteral("Information");
  switch (DlgType) {
    case TMsgDlgType::mtWarning:
      icon = QMessageBox::Warning;
      title = QStringLiteral("Warning");
      break;
    case TMsgDlgType::mtError:
      icon = QMessageBox::Critical;
      title = QStringLiteral("Error");
      break;
    case TMsgDlgType::mtInformation:
      break;
    case TMsgDlgType::mtConfirmation:
      icon = QMessageBox::Question;
      title = QStringLiteral("Confirm");
      break;
  }
  QMessageBox box(icon, title, ToQt(Msg), QMessageBox::NoButton, parent_.data());
  QAbstractButton* yes = (Buttons & mbYes) ? box.addButton(QMessageBox::Yes) : nullptr;
  QAbstractButton* no = (Buttons & mbNo) ? box.addButton(QMessageBox::No) : nullptr;
  QAbstractButton* ok = (Buttons & mbOK) ? box.addButton(QMessageBox::Ok) : nullptr;
  QAbstractButton* send = (Buttons & mbSend)
                              ? box.addButton(QStringLiteral("&Send"), QMessageBox::AcceptRole)
                              : nullptr;
  QAbstractButton* discard = (Buttons & mbDiscard) ? box.addButton(QStringLiteral("&Discard"),
                                                                   QMessageBox::DestructiveRole)
                                                   : nullptr;
  QAbstractButton* cancel = (Buttons & mbCancel) ? box.addButton(QMessageBox::Cancel) : nullptr;
  if (!yes && !no && !ok && !cancel && !send && !discard) ok = box.addButton(QMessageBox::Ok);
  if (send) box.setDefaultButton(static_cast<QPushButton*>(send));
  box.exec();
  QAbstractButton* pressed = box.clickedButton();
  if (pressed && pressed == yes) return TModalResult::mrYes;
  if (pressed && pressed == ok) return TModalResult::mrOk;
  if (pressed && pressed == no) return TModalResult::mrNo;
  if (pressed && pressed == cancel) return TModalResult::mrCancel;
  if (pressed && pressed == send) return TModalResult::mrSend;
  if (pressed && pressed == discard) return TModalResult::mrDiscard;
  // Closed with Escape or the title bar.
  if (cancel) return TModalResult::mrCancel;
  if (no) return TModalResult::mrNo;
  return ok ? TModalResult::mrOk : TModalResult::mrNone;
}

bool TQtUiServices::InputQuery(const std::string& Caption, const std::string& Prompt,
                               std::string& Value) {
  bool accepted = false;
  const QString text = QInputDialog::getText(parent_.data(), ToQt(Caption), ToQt(Prompt),
                                             QLineEdit::Normal, ToQt(Value), &accepted);
  if (accepted) Value = FromQt(text);
  return accepted;
}

void TQtUiServices::ShowProgress(const std::string& Caption, const std::string& Info, int Position,
                                 int Min, int Max) {
  if (ProgressForm) ProgressForm->ShowProgress(Caption, Info, Position, Min, Max);
}

void TQtUiServices::SetProgressInfo(const std::string& Info) {
  if (ProgressForm) ProgressForm->ProgressInfo->setText(ToQt(Info));
}

void TQtUiServices::SetProgressPosition(int Position) {
  if (ProgressForm) ProgressForm->ProgressBar->setValue(Position);
}

bool TQtUiServices::OpenSettingsFileDialog(std::string& FileName) {
  QFileDialog dialog(parent_.data());
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QString::fromLatin1(SettingsFileFilter));
  dialog.setDefaultSuffix(QStringLiteral("zsf"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FileName = FromQt(dialog.selectedFiles().front());
  return true;
}

bool TQtUiServices::SaveSettingsFileDialog(std::string& FileName) {
  QFileDialog dialog(parent_.data());
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QString::fromLatin1(SettingsFileFilter));
  dialog.setDefaultSuffix(QStringLiteral("zsf"));
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setSizeGripEnabled(true);
  if (!FileName.empty()) dialog.selectFile(ToQt(FileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FileName = FromQt(dialog.selectedFiles().front());
  return true;
}

}  // namespace zo
