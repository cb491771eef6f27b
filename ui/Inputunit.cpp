#include "ui/Inputunit.h"

#include <QStyle>

#include "adapter/TextTool.h"
#include "settings/Settings.h"
#include "threads/UiServices.h"
#include "ui/Fitting.h"
#include "ui/QtUiServices.h"
#include "ui/Unit1.h"

namespace zo {

TInputForm* InputForm = nullptr;

namespace {

struct TEditInfo {
  const char* Edit;
  const char* Title;
  std::uint8_t Setting;
  const char* Unit;
};

constexpr TEditInfo EditTable[] = {
    {"InvOutputEdit", "Modifying inverter AC output", SettingInverterOutput, "V"},
    {"DCLowShutDownEdit", "Modifying inverter DC shutdown voltage", SettingDCShutDown, "V"},
    {"DCLowRestartEdit", "Modifying inverter DC restart voltage", SettingDCRestart, "V"},
    {"AbsorptionVoltageEdit", "Modifying absorption voltage", SettingAbsorptionVoltage, "V"},
    {"FloatVoltageEdit", "Modifying float voltage", SettingFloatVoltage, "V"},
    {"IBatBulkEdit", "Modifying charge current", SettingChargeCurrent, "A"},
    {"ShoreCurrentEdit", "Modifying shore current limit", SettingShoreCurrent, "A"},
    {"RepeatedAbsorptionTimeEdit", "Modifying repeated absorption time",
     SettingRepeatedAbsorptionTime, "Hr"},
    {"RepeatedAbsorptionIntervalTimeEdit", "Modifying repeated absorption interval",
     SettingRepeatedAbsorptionInterval, "Days"},
    {"AbsorptionTimeEdit", "Modifying maximum absorption time", SettingAbsorptionTime, "Hr"},
    {"UBatAlarmLowEdit", "Modifying low battery alarm level", SettingLowBatteryAlarm, "V"},
    {"UBatAlarmHighEdit", "Modifying high battery alarm level", SettingHighBatteryAlarm, "V"},
};

// The rows of default, minimum, maximum and step: caption, value (right-aligned up to the unit)
// and unit side by side, each in its own room.
constexpr int InputRowHeight = 16;
constexpr int CaptionLeft = 80, ValueLeft = 166, UnitLeft = 208;

QLabel* MakeLabel(QWidget* Parent, const char* Name, const char* Text, int X, int Y, int W,
                  int H = InputRowHeight, Qt::Alignment Align = Qt::AlignLeft) {
  auto* label = new QLabel(QString::fromUtf8(Text), Parent);
  label->setObjectName(QString::fromLatin1(Name));
  label->setGeometry(X, Y, W, H);
  label->setAlignment(Align | Qt::AlignVCenter);
  return label;
}

QLabel* MakeCaption(QWidget* Parent, const char* Name, const char* Text, int Y) {
  return MakeLabel(Parent, Name, Text, CaptionLeft, Y, ValueLeft - 2 - CaptionLeft);
}

QLabel* MakeValue(QWidget* Parent, const char* Name, int Y) {
  return MakeLabel(Parent, Name, "", ValueLeft, Y, UnitLeft - 4 - ValueLeft, InputRowHeight,
                   Qt::AlignRight);
}

}  // namespace

TInputForm::TInputForm(QWidget* MainWindow) : QDialog(MainWindow) {
  setObjectName(QStringLiteral("InputForm"));
  setModal(true);
  setFixedSize(331, 234);

  NewValueEdit = new QLineEdit(this);
  NewValueEdit->setObjectName(QStringLiteral("NewValueEdit"));
  NewValueEdit->setGeometry(160, 104, 73, 21);
  Label1 = MakeLabel(this, "Label1", "Enter new value:", 72, 104, 84, 21);
  Label2 = MakeCaption(this, "Label2", "Minimum value: ", 32);
  Label3 = MakeCaption(this, "Label3", "Maximum value: ", 48);
  OKButton =
      new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(184, 152, 105, 41);
  OKButton->setDefault(true);
  OKButton->setAutoDefault(true);
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                            QStringLiteral("Cancel"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(32, 152, 105, 41);
  BitBtn2->setAutoDefault(false);
  MaximumValueLabel = MakeValue(this, "MaximumValueLabel", 48);
  MinimumValueLabel = MakeValue(this, "MinimumValueLabel", 32);
  StepSizeLabel = MakeValue(this, "StepSizeLabel", 64);
  Label5 = MakeCaption(this, "Label5", "Step size:", 64);
  Label4 = MakeCaption(this, "Label4", "Default value: ", 16);
  DefaultLabel = MakeValue(this, "DefaultLabel", 16);
  UnitLabel1 = MakeLabel(this, "UnitLabel1", "", UnitLeft, 32, 40);
  UnitLabel3 = MakeLabel(this, "UnitLabel3", "", UnitLeft, 48, 40);
  UnitLabel2 = MakeLabel(this, "UnitLabel2", "", UnitLeft, 16, 40);
  UnitLabel4 = MakeLabel(this, "UnitLabel4", "", UnitLeft, 64, 40);
  // The values are longest for the widest bounds: fit the texts with such a row shown.
  for (QLabel* value : {DefaultLabel, MinimumValueLabel, MaximumValueLabel, StepSizeLabel})
    value->setText(QStringLiteral("888.88"));
  UnitLabel1->setText(QStringLiteral("Days"));
  ScaleToFont(this);
  for (QLabel* label :
       {DefaultLabel, MinimumValueLabel, MaximumValueLabel, StepSizeLabel, UnitLabel1})
    label->clear();

  connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  InputForm = this;
}

TInputForm::~TInputForm() {
  if (InputForm == this) InputForm = nullptr;
}

void TInputForm::Prepare(QLineEdit* Edit) {
  SourceEdit = Edit;
  const QString name = Edit ? Edit->objectName() : QString();
  for (const TEditInfo& info : EditTable) {
    if (name != QLatin1String(info.Edit)) continue;
    QString title = QString::fromLatin1(info.Title);
    if (info.Setting == SettingAbsorptionTime && Form1 &&
        Form1->ChargeCharacteristicComboBox->currentIndex() == 1)
      title = QStringLiteral("Modifying absorption time");
    setWindowTitle(title);
    EditedSetting_ = info.Setting;
    for (QLabel* unit : {UnitLabel1, UnitLabel2, UnitLabel3, UnitLabel4})
      unit->setText(QString::fromLatin1(info.Unit));
    break;
  }
  if (EditedSetting_ == 0 || !SettingTable.Built()) return;

  TSetting& S = SettingTable[EditedSetting_];
  GetBounds(EditedSetting_);
  std::int32_t shift = 0;
  if (EditedSetting_ == SettingDCRestart) shift = SettingTable[SettingDCShutDown].Value;
  DefaultLabel->setText(ToQt(S.TextOfRaw(BoundDefault + shift)));
  MinimumValueLabel->setText(ToQt(S.TextOfRaw(BoundMin + shift)));
  MaximumValueLabel->setText(ToQt(S.TextOfRaw(BoundMax + shift)));
  StepSizeLabel->setText(ToQt(S.TextOfRaw(1)));

  if (EditedSetting_ == SettingDCRestart) {
    const std::int32_t saved = S.Value;
    S.Value = saved + shift;
    InitialText = S.AsText();
    S.Value = saved;
  } else {
    InitialText = S.AsText();
  }
  NewValueEdit->setText(ToQt(InitialText));
  NewValueEdit->setFocus();
  NewValueEdit->selectAll();
}

void TInputForm::OKButtonClick() {
  setResult(QDialog::Rejected);
  if (EditedSetting_ == 0 || !SettingTable.Built()) return;
  const std::string text = FromQt(NewValueEdit->text());
  long double x = 0;
  const bool converted = TryStrToFloat(text, x);

  TSetting& S = SettingTable[EditedSetting_];
  const std::int32_t old = S.Value;
  S.SetEngineeringValue(x);
  std::int32_t c = S.Value;
  S.Value = old;
  if (EditedSetting_ == SettingDCRestart) c -= SettingTable[SettingDCShutDown].Value;

  std::string error;
  if (!converted)
    error = "Cannot interpret: " + text;
  else if (c > BoundMax || c < BoundMin)
    error = "Value not within boundaries!";
  else if (EditedSetting_ == SettingAbsorptionVoltage &&
           c < SettingTable[SettingFloatVoltage].Value)
    error = "Absorption voltage must be higher than float voltage!";
  else if (EditedSetting_ == SettingFloatVoltage &&
           c > SettingTable[SettingAbsorptionVoltage].Value)
    error = "Float voltage must be lower than absorption voltage!";
  if (!error.empty()) {
    ShowMessageBox(error, TMsgDlgType::mtError);
    NewValueEdit->setText(ToQt(InitialText));
    NewValueEdit->setFocus();
    NewValueEdit->selectAll();
    return;
  }

  // The value the user entered is now the setting's value, whatever its last read gave.
  S.Value = c;
  S.ReadFailed = false;
  if (SourceEdit) {
    if (EditedSetting_ == SettingDCRestart) {
      S.Value = c + SettingTable[SettingDCShutDown].Value;
      SourceEdit->setText(ToQt(S.AsText()));
      S.Value = c;
    } else {
      SourceEdit->setText(ToQt(S.AsText()));
    }
  }
  if (EditedSetting_ == SettingDCShutDown && Form1) {
    TSetting& restart = SettingTable[SettingDCRestart];
    const std::int32_t amount = restart.Value;
    restart.Value = amount + S.Value;
    Form1->DCLowRestartEdit->setText(ToQt(restart.AsText()));
    restart.Value = amount;
  }
  accept();
}

}  // namespace zo
