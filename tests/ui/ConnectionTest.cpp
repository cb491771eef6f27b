// Connecting to the simulated adapters: the settings shown and adapted to the version, the live
// values, the target operations, the firmware questions, and an orderly close while connected.
#include "adapter/AdapterLog.h"
#include "adapter/Textlogger.h"
#include "sim/SimDL2Adapter.h"
#include "tests/ui/WindowTestSupport.h"

namespace zo::test {
namespace {

// The version of the firmware image the window carries.
std::int32_t DL2FirmwareVersionOf(const TForm1& Form) {
  return Form.DL2FWXFile.Tag;
}

class Connection : public WindowTest {
 protected:
  void SetUp() override { StartDemo(); }
  // The text the window shows for raw value `Raw` of setting `Setting`.
  static std::string DeviceText(int Setting, int Raw) {
    TSetting& s = SettingTable[Setting];
    const std::int32_t saved = s.Value;
    s.Value = Raw;
    std::string text = s.AsText();
    s.Value = saved;
    return text;
  }
};

TEST_F(Connection, DL2InverterChargerShownLiveValuesGetChangeSendReadBack) {
  Start();
  ASSERT_TRUE(Connect(1)) << "no target shown";
  sim::SimDevice& device = demo_->Device(1);
  EXPECT_TRUE(form_->Com11->isChecked());
  EXPECT_EQ(form_->TargetVersion(), sim::DemoInverterVersion);
  EXPECT_EQ(form_->windowTitle(), "ZO configure (" + form_->DeviceTypeLabel->text() + ")");
  EXPECT_TRUE(form_->DeviceTypeLabel->text().contains("24"));
  // Adapted to the version: a multi with charger, inverter and alarm relay.
  EXPECT_TRUE(form_->InverterGroupBox->isVisible());
  EXPECT_TRUE(form_->ChargerGroupBox->isVisible());
  EXPECT_TRUE(form_->MultiPhaseGroupBox->isVisible());
  EXPECT_TRUE(form_->GroundRelayCheckBox->isVisible());
  EXPECT_FALSE(form_->AssistCheckBox->isVisible());  // this version has no PeakFeed
  EXPECT_EQ(form_->ChargeCharacteristicComboBox->count(), 3);
  // The device's own values.
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text().toStdString(),
            DeviceText(SettingAbsorptionVoltage, device.SettingValue(SettingAbsorptionVoltage)));
  EXPECT_EQ(form_->FloatVoltageEdit->text().toStdString(),
            DeviceText(SettingFloatVoltage, device.SettingValue(SettingFloatVoltage)));
  EXPECT_TRUE(ui_.Messages().empty());

  // Live values arrive in the status panel.
  EXPECT_TRUE(WaitFor([this] {
    return form_->UBatStatusLabel->text() != "- - -" && form_->UMainsStatusLabel->text() != "- - -";
  }));

  // "&Get settings" reads what the device holds now.
  device.SetSettingValue(SettingAbsorptionVoltage, 2850);
  QTest::mouseClick(form_->GetSettingsButton, Qt::LeftButton);
  ASSERT_TRUE(Settled());
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.50");

  // A new value through the value entry dialog, sent, and read back.
  EnterValue(form_->AbsorptionVoltageEdit, "28.7");
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.70");
  EXPECT_EQ(device.SettingValue(SettingAbsorptionVoltage), 2850);  // nothing sent yet
  QTest::mouseClick(form_->SendSettingsButton, Qt::LeftButton);
  ASSERT_TRUE(Settled());
  // The last frames are still on their way through the adapter when the send returns.
  EXPECT_TRUE(WaitFor([&] { return device.SettingValue(SettingAbsorptionVoltage) == 2870; }));
  SettingTable[SettingAbsorptionVoltage].Value = 0;
  form_->Getsettings1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.70");
  EXPECT_TRUE(ui_.Messages().empty());

  // "&Read software version" asks nothing of the device.
  form_->Getsoftwareversion1->trigger();
  EXPECT_TRUE(HasMessage("Software version: " + std::to_string(sim::DemoInverterVersion)));

  // Closing while connected is orderly.
  Stop();
  EXPECT_FALSE(SimPortRegistry::Find(1)->PortOpen());
}

TEST_F(Connection, DL1ChargerShownWithItsOwnControls) {
  Start();
  ASSERT_TRUE(Connect(2)) << "no target shown";
  EXPECT_EQ(form_->TargetVersion(), sim::DemoChargerVersion);
  EXPECT_EQ(form_->windowTitle(), "ZO configure (" + form_->DeviceTypeLabel->text() + ")");
  EXPECT_FALSE(form_->InverterGroupBox->isVisible());
  EXPECT_TRUE(form_->ChargerGroupBox->isVisible());
  EXPECT_EQ(form_->IBatBulkEdit->text().toStdString(),
            std::to_string(demo_->Device(2).SettingValue(SettingChargeCurrent)));
  EXPECT_TRUE(WaitFor([this] { return form_->UBatStatusLabel->text() != "- - -"; }));
  EXPECT_FALSE(form_->UInverterStatusLabel->isEnabled());
  EXPECT_TRUE(ui_.Messages().empty());

  // The DL1 checks every echo: with the cable pulled a send fails, and that is reported rather
  // than passed off as a success.
  SimPortRegistry::Find(2)->Unplug();
  form_->Sendsettings1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(HasMessage("Error during communication!"));
  // The target is lost and the panel hides again.
  EXPECT_TRUE(WaitFor([this] { return !form_->PanelActive(); }));
  EXPECT_EQ(form_->windowTitle(), "ZO configure");
  SimPortRegistry::Find(2)->Replug();

  // "&Exit" while the port is open closes the window; the bus thread then ends in order.
  form_->Exit1->trigger();
  EXPECT_TRUE(form_->Closed());
  EXPECT_FALSE(form_->isVisible());
  Stop();
  EXPECT_FALSE(SimPortRegistry::Find(2)->PortOpen());
}

// How many detections have found a badly programmed DL2 so far: the text log names each, a
// repeat by its count; `Entries` (when given) counts the lines that name them.
int BadDL2Detections(int* Entries = nullptr) {
  std::string log;
  GetLogText(log);
  int count = 0, entries = 0;
  for (const std::string& line : LogLines(log)) {
    if (WithoutRepeatCount(line) != "  Badly programmed DL2 detected") continue;
    ++entries;
    ++count;
    const std::size_t at = line.find("(repeated ");
    if (at != std::string::npos)
      count += line.compare(at, 15, "(repeated once)") == 0 ? 1 : std::atoi(line.c_str() + at + 10);
  }
  if (Entries) *Entries = entries;
  return count;
}

TEST_F(Connection, ARefusedReprogramIsNotAskedAgainUntilThePortIsChosenAgain) {
  const std::string question =
      "The DL2 seems to be badly programmed!\rA reprogram must be performed!\rDo you want to "
      "reprogram the Dl2 now?";
  const std::string power_cycle =
      "Please switch the device off and on again to reset the DL2!\rPress ok when done.";
  Start();
  // No (the scripted answer when none is given): the bus thread goes on detecting silently.
  form_->Com41->trigger();
  const int before = BadDL2Detections();
  ASSERT_TRUE(WaitFor([&] { return BadDL2Detections() >= before + 3; }));
  // Logged once with a count: the 256-line log keeps what came before.
  int entries = 0;
  BadDL2Detections(&entries);
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(CountMessages(question), 1);
  EXPECT_EQ(form_->BusThread()->Driver(), nullptr);
  EXPECT_FALSE(form_->PanelActive());
  EXPECT_EQ(form_->UserActionLabel->text(), "Connect cable and switch on device");

  // Choosing the port again asks again; a Cancel of the switch-off-and-on request is remembered
  // the same way.
  ui_.AnswerNext(TModalResult::mrYes);
  ui_.AnswerNext(TModalResult::mrCancel);
  form_->Com41->trigger();
  ASSERT_TRUE(WaitFor([&] { return CountMessages(power_cycle) == 1; }));
  // The break stays on after the Cancel, so detection hears little: give it a dozen cycles.
  QTest::qWait(1500);
  EXPECT_EQ(CountMessages(question), 2);
  EXPECT_EQ(CountMessages(power_cycle), 1);
  Stop();
}

TEST_F(Connection, OldDL2FirmwareOffersTheUpdateAndDecliningKeepsItWorking) {
  Start();
  form_->Com31->trigger();
  // Declined: the adapter keeps its firmware and is driven normally.
  ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  EXPECT_TRUE(
      HasMessage("The software version in the DL2 is not up to date!\rThis program might not work "
                 "correct!\rWe strongly advice you to select 'Yes' below to update the DL2.\r\r"
                 "Would you like to update the Dl2 now?"));
  EXPECT_TRUE(ui_.ProgressCalls().empty());
}

TEST_F(Connection, OldDL2FirmwareIsUpdatedWhenTheUserAgrees) {
  const std::string question =
      "The software version in the DL2 is not up to date!\rThis program might not work correct!\r"
      "We strongly advice you to select 'Yes' below to update the DL2.\r\rWould you like to "
      "update the Dl2 now?";
  const std::string done =
      "DL2 programmed.\rPlease switch the device off and on again to reset!\rPress OK when done.";
  Start();
  ui_.AnswerNext(TModalResult::mrYes);
  form_->Com31->trigger();
  ASSERT_TRUE(WaitFor([&] { return HasMessage(done); }, 90000)) << "no end of the update";
  EXPECT_EQ(demo_->DL2(3)->FirmwareVersion(), DL2FirmwareVersionOf(*form_));
  const auto progress = ui_.ProgressCalls();
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front().Caption, "Updating DL2");
  EXPECT_EQ(progress.front().Info, "Please wait, erasing");
  EXPECT_EQ(progress.back().Caption, "");
  EXPECT_EQ(progress.back().Info, "");
  const auto infos = ui_.ProgressInfos();
  EXPECT_NE(std::find(infos.begin(), infos.end(), "Programming"), infos.end());
  EXPECT_EQ(ui_.ProgressPositions().back(), 100);

  // The next detection finds the updated adapter: no question, the target is shown.
  ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  EXPECT_EQ(CountMessages(question), 1);
  EXPECT_FALSE(
      HasMessage("Reprogram failed\rPlease retry!\rSwitch the device off and on again "
                 "to reset!"));
}

// Scripted answers, but the power-cycle request takes the moment a user needs to act on it.
class SlowToSwitch final : public UiServices {
 public:
  explicit SlowToSwitch(ScriptedUi& Script) : script_(Script) { SetUi(this); }
  ~SlowToSwitch() override { SetUi(&script_); }
  TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType,
                          TMsgDlgButtons Buttons) override {
    if (Msg.rfind("Please switch the device off and on again to reset the DL2!", 0) == 0)
      QTest::qWait(1000);
    return script_.MessageDlg(Msg, DlgType, Buttons);
  }
  bool InputQuery(const std::string& C, const std::string& P, std::string& V) override {
    return script_.InputQuery(C, P, V);
  }
  void ShowProgress(const std::string& C, const std::string& I, int P, int Min, int Max) override {
    script_.ShowProgress(C, I, P, Min, Max);
  }
  void SetProgressInfo(const std::string& Info) override { script_.SetProgressInfo(Info); }
  void SetProgressPosition(int Position) override { script_.SetProgressPosition(Position); }
  bool OpenSettingsFileDialog(std::string& F) override { return script_.OpenSettingsFileDialog(F); }
  bool SaveSettingsFileDialog(std::string& F) override { return script_.SaveSettingsFileDialog(F); }

 private:
  ScriptedUi& script_;
};

TEST_F(Connection, BadlyProgrammedDL2IsRepairedWhenTheUserAgreesAndSwitchesTheDeviceOffAndOn) {
  SlowToSwitch user(ui_);
  Start();
  ui_.AnswerNext(TModalResult::mrYes);  // reprogram now
  ui_.AnswerNext(TModalResult::mrOk);   // switched off and on
  form_->Com41->trigger();
  ASSERT_TRUE(WaitFor(
      [&] {
        return HasMessage(
            "DL2 programmed.\rPlease switch the device off and on "
            "again to reset!\rPress OK when done.");
      },
      90000));
  EXPECT_TRUE(demo_->DL2(4)->FlashGood());
  ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  Stop();
}

}  // namespace
}  // namespace zo::test
