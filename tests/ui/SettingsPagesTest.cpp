// The settings pages on an overruled target (no port needed): the value entry dialog with its
// checks, the control handlers, defaults and battery presets, settings files.
#include <QFile>
#include <QTemporaryDir>
#include <cstring>

#include "tests/ui/WindowTestSupport.h"

namespace zo::test {
namespace {

class SettingsPages : public WindowTest {
 protected:
  // A window showing `Version` with its defaults.
  void StartWith(std::int32_t Version) {
    Start({QStringLiteral("/v%1").arg(Version)});
    ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  }
  // Prepares the dialog for `Edit` as a click would, without showing it.
  void Prepare(QLineEdit* Edit) { InputForm->Prepare(Edit); }
  // Enters `Text` into the prepared dialog and presses OK; true when it was accepted.
  bool Enter(const QString& Text) {
    InputForm->setResult(QDialog::Rejected);
    InputForm->NewValueEdit->setText(Text);
    InputForm->OKButtonClick();
    return InputForm->result() == QDialog::Accepted;
  }
  std::vector<std::string> Bounds() {
    return {InputForm->DefaultLabel->text().toStdString(),
            InputForm->MinimumValueLabel->text().toStdString(),
            InputForm->MaximumValueLabel->text().toStdString(),
            InputForm->StepSizeLabel->text().toStdString(),
            InputForm->UnitLabel1->text().toStdString()};
  }
};

using Strings = std::vector<std::string>;

TEST_F(SettingsPages, AbsorptionVoltageBoundsStepAndFloatRuleOnA12VoltModel) {
  StartWith(1701102);
  SettingTable[SettingFloatVoltage].Value = 1380;
  Prepare(form_->AbsorptionVoltageEdit);
  EXPECT_EQ(InputForm->windowTitle(), "Modifying absorption voltage");
  EXPECT_EQ(Bounds(), (Strings{"14.40", "12.00", "16.00", "0.01", "V"}));
  EXPECT_EQ(InputForm->NewValueEdit->text(), form_->AbsorptionVoltageEdit->text());

  EXPECT_TRUE(Enter("14.404"));
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1440);
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "14.40");
  Prepare(form_->AbsorptionVoltageEdit);
  EXPECT_TRUE(Enter(" 16.004"));
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1600);

  Prepare(form_->AbsorptionVoltageEdit);
  EXPECT_FALSE(Enter("16.006"));
  EXPECT_FALSE(Enter("14,4"));
  EXPECT_FALSE(Enter("13.79"));
  EXPECT_EQ(ui_.MessageTexts(), (Strings{"Value not within boundaries!", "Cannot interpret: 14,4",
                                         "Absorption voltage must be higher than float voltage!"}));
  EXPECT_EQ(InputForm->NewValueEdit->text(), "16.00");  // the initial text again
  EXPECT_EQ(InputForm->NewValueEdit->selectedText(), "16.00");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1600);
  EXPECT_TRUE(Enter("13.80"));  // equal to the float voltage passes

  Prepare(form_->FloatVoltageEdit);
  EXPECT_EQ(InputForm->windowTitle(), "Modifying float voltage");
  EXPECT_FALSE(Enter("13.81"));
  EXPECT_EQ(ui_.MessageTexts().back(), "Float voltage must be lower than absorption voltage!");
}

TEST_F(SettingsPages, AbsorptionVoltageOnA24VoltModel) {
  StartWith(1711107);
  Prepare(form_->AbsorptionVoltageEdit);
  EXPECT_EQ(Bounds(), (Strings{"28.80", "24.00", "32.00", "0.01", "V"}));
}

TEST_F(SettingsPages, DCRestartIsEnteredAsAnAbsoluteVoltageAndFollowsTheShutDown) {
  StartWith(1701102);
  SettingTable[SettingDCShutDown].Value = 900;
  SettingTable[SettingDCRestart].Value = 190;
  form_->ShowSettings();
  EXPECT_EQ(form_->DCLowRestartEdit->text(), "10.90");
  Prepare(form_->DCLowRestartEdit);
  EXPECT_EQ(InputForm->windowTitle(), "Modifying inverter DC restart voltage");
  EXPECT_EQ(Bounds(), (Strings{"10.90", "9.00", "13.00", "0.01", "V"}));
  EXPECT_EQ(InputForm->NewValueEdit->text(), "10.90");
  EXPECT_TRUE(Enter("11.50"));
  EXPECT_EQ(SettingTable[SettingDCRestart].Value, 250);
  EXPECT_EQ(form_->DCLowRestartEdit->text(), "11.50");

  SettingTable[SettingDCRestart].Value = 190;
  Prepare(form_->DCLowShutDownEdit);
  EXPECT_TRUE(Enter("10.00"));
  EXPECT_EQ(form_->DCLowShutDownEdit->text(), "10.00");
  EXPECT_EQ(form_->DCLowRestartEdit->text(), "11.90");
  EXPECT_EQ(SettingTable[SettingDCRestart].Value, 190);

  // Shown from the model: the restart offset is added for display only.
  SettingTable[SettingDCShutDown].Value = 1100;
  SettingTable[SettingDCRestart].Value = 200;
  form_->ShowSettings();
  EXPECT_EQ(form_->DCLowRestartEdit->text(), "13.00");
  EXPECT_EQ(SettingTable[SettingDCRestart].Value, 200);
}

TEST_F(SettingsPages, RepeatedAbsorptionTimeStepsAndAbsorptionTimeTitles) {
  StartWith(1711107);
  Prepare(form_->RepeatedAbsorptionTimeEdit);
  EXPECT_EQ(Bounds(), (Strings{Bounds()[0], "0.25", "18.00", "0.25", "Hr"}));
  EXPECT_TRUE(Enter("1.1"));
  EXPECT_EQ(SettingTable[SettingRepeatedAbsorptionTime].Value, 4);
  EXPECT_EQ(form_->RepeatedAbsorptionTimeEdit->text(), "1.00");

  const char* titles[] = {"Modifying maximum absorption time", "Modifying absorption time",
                          "Modifying maximum absorption time"};
  for (int index = 0; index < 3; ++index) {
    form_->ChargeCharacteristicComboBox->setCurrentIndex(index);
    Prepare(form_->AbsorptionTimeEdit);
    EXPECT_EQ(InputForm->windowTitle().toStdString(), titles[index]) << index;
  }
}

TEST_F(SettingsPages, ChargeCurrentOfAFamily14Charger) {
  StartWith(1400012);
  Prepare(form_->IBatBulkEdit);
  EXPECT_EQ(InputForm->windowTitle(), "Modifying charge current");
  EXPECT_EQ(Bounds(), (Strings{"50", "0", "50", "1", "A"}));
}

TEST_F(SettingsPages, ClickOrKeyInAnEditOpensTheDialogAndCancelChangesNothing) {
  StartWith(1711107);
  EnterValue(form_->FloatVoltageEdit, "27.00");
  EXPECT_EQ(form_->FloatVoltageEdit->text(), "27.00");
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 2700);

  QTimer::singleShot(50, [] {
    InputForm->NewValueEdit->setText("26.00");
    InputForm->reject();
  });
  form_->UBatAlarmLowEdit->setFocus();
  QTest::keyClick(form_->UBatAlarmLowEdit, Qt::Key_5);
  EXPECT_EQ(InputForm->windowTitle(), "Modifying low battery alarm level");
  EXPECT_NE(form_->UBatAlarmLowEdit->text(), "26.00");
}

TEST_F(SettingsPages, ControlHandlersWriteTheModel) {
  StartWith(1711107);
  // "Fixed" while storage mode is on: storage off, repeated absorption 0.50 Hr every day.
  form_->ChargeCharacteristicComboBox->setCurrentIndex(1);
  form_->ChargeCharacteristicComboBoxChange();
  EXPECT_TRUE(form_->ReducedFloatCheckBox->isChecked());
  EXPECT_TRUE(GetFlag(FlagStorageMode));
  form_->ChargeCharacteristicComboBox->setFocus();
  QTest::keyClick(form_->ChargeCharacteristicComboBox, Qt::Key_Up);  // the user picks "Fixed"
  EXPECT_EQ(form_->ChargeCharacteristicComboBox->currentIndex(), 0);
  EXPECT_EQ(SettingTable[SettingChargeCharacteristic].Value, 1);
  EXPECT_FALSE(form_->ReducedFloatCheckBox->isChecked());
  EXPECT_FALSE(GetFlag(FlagStorageMode));
  EXPECT_EQ(form_->RepeatedAbsorptionTimeEdit->text(), "0.50");
  EXPECT_EQ(form_->RepeatedAbsorptionIntervalTimeEdit->text(), "1");
  EXPECT_EQ(form_->AbsorptionTimeLabel->text(), "Absorption time");

  // Phase buttons: "Single phase" disables "Leader", the others enable it.
  form_->DualPhase180RadioButton->click();
  EXPECT_TRUE(form_->LeaderCheckBox->isEnabled());
  EXPECT_TRUE(GetFlag(FlagMultiPhase));
  EXPECT_EQ(SettingTable[SettingPhaseMode].Value, 1);
  form_->SinglephaseRadioButton->click();
  EXPECT_FALSE(form_->LeaderCheckBox->isEnabled());
  EXPECT_FALSE(GetFlag(FlagMultiPhase));
  EXPECT_EQ(SettingTable[SettingPhaseMode].Value, 0);
  form_->DualPhase120RadioButton->click();
  EXPECT_EQ(SettingTable[SettingPhaseMode].Value, 2);
  form_->ThreePhaseRadioButton->click();
  EXPECT_TRUE(form_->LeaderCheckBox->isEnabled());
  EXPECT_EQ(SettingTable[SettingPhaseMode].Value, 0);

  // Inverted flags.
  form_->RadioButton60Hz->click();
  EXPECT_TRUE(GetFlag(FlagFrequency60Hz));
  const bool ground = form_->GroundRelayCheckBox->isChecked();
  form_->GroundRelayCheckBox->click();
  EXPECT_EQ(GetFlag(FlagGroundRelayOff), ground);
  form_->AlarmRelayPolarityComboBox->setFocus();
  form_->AlarmRelayPolarityComboBox->setCurrentIndex(1);
  QTest::keyClick(form_->AlarmRelayPolarityComboBox, Qt::Key_Up);
  EXPECT_TRUE(GetFlag(FlagAlarmRelayPolarity));

  // Switching the charger off greys the whole charger group and shows the first tab.
  form_->PageControl1->setCurrentIndex(1);
  form_->EnableChargerCheckBox->click();
  EXPECT_TRUE(GetFlag(FlagChargerOff));
  EXPECT_EQ(form_->PageControl1->currentIndex(), 0);
  for (QWidget* w : std::initializer_list<QWidget*>{
           form_->PageControl1, form_->AbsorptionVoltageEdit, form_->ChargeCharacteristicComboBox,
           form_->ReducedFloatCheckBox, form_->ChargeCurvePaintBox})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  form_->EnableChargerCheckBox->click();
  EXPECT_TRUE(form_->AbsorptionVoltageEdit->isEnabled());

  // Showing the model writes nothing back.
  const std::int32_t flags_a = SettingTable[SettingFlagsA].Value;
  const std::int32_t flags_b = SettingTable[SettingFlagsB].Value;
  form_->ShowSettings();
  EXPECT_EQ(SettingTable[SettingFlagsA].Value, flags_a);
  EXPECT_EQ(SettingTable[SettingFlagsB].Value, flags_b);
}

TEST_F(SettingsPages, StatusRowsOfAVersionWithoutLiveValuesAreGreyed) {
  StartWith(1401003);
  for (QLabel* label : {form_->UMainsStatusLabel, form_->IMainsStatusLabel, form_->UBatStatusLabel,
                        form_->IBatStatusLabel}) {
    EXPECT_FALSE(label->isEnabled()) << label->objectName().toStdString();
    EXPECT_EQ(label->text(), "- - -");
  }
  EXPECT_EQ(form_->ChargeCharacteristicComboBox->count(), 2);
  EXPECT_FALSE(form_->InverterGroupBox->isVisible());
}

TEST_F(SettingsPages, BatteryPresetsAndDefaultsOnA24VoltModel) {
  StartWith(1711107);
  const int characteristic = form_->ChargeCharacteristicComboBox->currentIndex();
  form_->Setgelbattery1->trigger();
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2880);
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.80");
  EXPECT_EQ(form_->FloatVoltageEdit->text(), "27.60");
  EXPECT_EQ(form_->AbsorptionTimeEdit->text(), "4");
  form_->Setmarlobattery1->trigger();
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "29.60");
  EXPECT_EQ(form_->FloatVoltageEdit->text(), "28.00");
  EXPECT_EQ(form_->AbsorptionTimeEdit->text(), "5");
  form_->settractionbattery1->trigger();
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "30.00");
  EXPECT_EQ(form_->AbsorptionTimeEdit->text(), "6");
  EXPECT_EQ(form_->ChargeCharacteristicComboBox->currentIndex(), characteristic);

  SettingTable[SettingInverterOutput].Value = 210;
  form_->ShowSettings();
  form_->Setcompletedefault1->trigger();
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.80");
  EXPECT_EQ(form_->InvOutputEdit->text(), "230");
}

TEST_F(SettingsPages, SaveAndLoadWithTheirMessages) {
  StartWith(1711107);
  QTemporaryDir dir;
  const std::string file = (dir.path() + "/settings.zsf").toStdString();
  SettingTable[SettingAbsorptionVoltage].Value = 2900;
  ui_.FileNameNext(file);
  form_->Savesettings1->trigger();
  EXPECT_TRUE(ui_.Messages().empty());

  form_->Setcompletedefault1->trigger();
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.80");
  ui_.FileNameNext(file);
  form_->Loadsettings1->trigger();
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "29.00");
  EXPECT_TRUE(ui_.Messages().empty());

  // Two values out of bounds: corrected, and said so.
  QFile f(QString::fromStdString(file));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray bytes = f.readAll();
  f.close();
  ASSERT_EQ(bytes.size(), 124);
  std::int32_t records[31];
  std::memcpy(records, bytes.constData(), sizeof records);
  records[0] = 9000;   // absorption voltage
  records[2] = 10000;  // charge current
  records[30] = 0;
  for (int i = 0; i < 30; ++i)
    records[30] = static_cast<std::int32_t>(static_cast<std::uint32_t>(records[30]) +
                                            static_cast<std::uint32_t>(records[i]));
  const std::string bad = (dir.path() + "/bounds.zsf").toStdString();
  QFile out(QString::fromStdString(bad));
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(reinterpret_cast<const char*>(records), sizeof records);
  out.close();
  ui_.FileNameNext(bad);
  form_->Loadsettings1->trigger();
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].Text,
            "There were 2 settings out of bounds.\rThese settings are changed to valid values.");
  EXPECT_EQ(ui_.Messages()[0].Type, TMsgDlgType::mtInformation);
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "32.00");
  EXPECT_EQ(form_->IBatBulkEdit->text(), "70");

  // Corrupted, missing, uncreatable.
  out.open(QIODevice::WriteOnly);
  out.write("short");
  out.close();
  ui_.Clear();
  ui_.FileNameNext(bad);
  form_->Loadsettings1->trigger();
  ui_.FileNameNext(file + ".missing");
  form_->Loadsettings1->trigger();
  ui_.FileNameNext(dir.path().toStdString() + "/no/such/folder/x.zsf");
  form_->Savesettings1->trigger();
  ui_.FileNameNext("");  // cancelled
  form_->Loadsettings1->trigger();
  const auto messages = ui_.Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].Text, "File corrupted!\rSettings set to default!");
  EXPECT_EQ(messages[1].Text, "Cannot open file: " + file + ".missing");
  EXPECT_EQ(messages[2].Text,
            "Error creating file: " + dir.path().toStdString() + "/no/such/folder/x.zsf");
  for (const auto& m : messages)
    EXPECT_EQ(m.Type, TMsgDlgType::mtError);
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.80");  // the defaults after the corruption
}

}  // namespace
}  // namespace zo::test
