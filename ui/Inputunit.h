// The value entry dialog: changes one numeric setting of the main window within the bounds of
// the current software version (and, for the charge voltages, against each other).
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdint>
#include <string>

namespace zo {

class TInputForm final : public QDialog {
 public:
  explicit TInputForm(QWidget* MainWindow);
  ~TInputForm() override;

  // Sets the dialog up for the main-window edit `Edit` (known by its object name): title,
  // setting, unit, and the default, minimum, maximum and step in the setting's own units (the DC
  // restart as an absolute voltage). An unknown edit keeps the previous title and setting.
  // The caller then shows the dialog modally.
  void Prepare(QLineEdit* Edit);
  // Converts and checks the entered value; stores it, refreshes the main window's edit(s) and
  // closes the dialog, or shows the first failed check and keeps the dialog open with the
  // initial text selected again.
  void OKButtonClick();

  std::uint8_t EditedSetting() const { return EditedSetting_; }

  QLineEdit* NewValueEdit;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QPushButton* OKButton;
  QPushButton* BitBtn2;
  QLabel* MaximumValueLabel;
  QLabel* MinimumValueLabel;
  QLabel* StepSizeLabel;
  QLabel* Label5;
  QLabel* Label4;
  QLabel* DefaultLabel;
  QLabel* UnitLabel1;
  QLabel* UnitLabel3;
  QLabel* UnitLabel2;
  QLabel* UnitLabel4;

 private:
  std::uint8_t EditedSetting_ = 0;
  QLineEdit* SourceEdit = nullptr;
  std::string InitialText;
};

// The one value entry dialog (null before it is created).
extern TInputForm* InputForm;

}  // namespace zo
