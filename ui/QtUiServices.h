// The UI services of the window: Qt message boxes, input boxes, file dialogs and the progress
// dialog (TProgressForm).
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "threads/UiServices.h"

namespace zo {

// A text of the system (UTF-8, "\r" as line break) as Qt shows it.
QString ToQt(const std::string& Text);
std::string FromQt(const QString& Text);

class TQtUiServices final : public UiServices {
 public:
  // The boxes are centred on `Parent` (the main window) when it exists.
  explicit TQtUiServices(QWidget* Parent = nullptr);
  void SetParentWindow(QWidget* Parent) { parent_ = Parent; }

  // Error, Warning, Information or Confirm box with the given buttons (Send, when given, is the
  // default); closing it otherwise gives Cancel or No (whichever it has), else OK.
  TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType,
                          TMsgDlgButtons Buttons) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override;
  // Works on the one TProgressForm (nothing before it exists).
  void ShowProgress(const std::string& Caption, const std::string& Info, int Position, int Min,
                    int Max) override;
  void SetProgressInfo(const std::string& Info) override;
  void SetProgressPosition(int Position) override;
  // Filters "ZO setting files (*.zsf)" and "All files (*.*)"; the save dialog starts with the
  // suggested name, adds ".zsf" to a name without extension and asks before overwriting.
  bool OpenSettingsFileDialog(std::string& FileName) override;
  bool SaveSettingsFileDialog(std::string& FileName) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace zo
