// The status line (port, adapter, device, the last operation) and the unsent changes: marked by a
// change or a loaded file, cleared by a send or a read, the question before choosing a port,
// "&Get settings" or closing throws them away or sends them, and the comparison with the device.
#include <QDate>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "sim/SimDL2Adapter.h"
#include "tests/ui/WindowTestSupport.h"
#include "ui/CompareDialog.h"
#include "ui/StatusLine.h"
#include "ui/UnsentChanges.h"

namespace zo::test {
namespace {

const std::string Discard =
    "Settings were changed but not sent to the device. Discard the changes?";

class StatusLine : public WindowTest {
 protected:
  TStatusLine& Line() { return *form_->StatusLine; }
  TUnsentChanges& Unsent() { return *form_->UnsentChanges; }
  bool OperationIs(const char* Prefix) {
    return QRegularExpression(QStringLiteral("^%1 at \\d\\d:\\d\\d:\\d\\d$").arg(Prefix))
        .match(Line().OperationField->FullText())
        .hasMatch();
  }
  // The controls marked as unsent, by object name.
  std::vector<std::string> MarkedControls() {
    std::vector<std::string> names;
    for (QWidget* w : form_->findChildren<QWidget*>())
      if (Unsent().Marked(w)) names.push_back(w->objectName().toStdString());
    std::sort(names.begin(), names.end());
    return names;
  }
  void ExpectWholeTexts() {
    QApplication::processEvents();
    for (TStatusField* f : Line().findChildren<TStatusField*>()) {
      EXPECT_EQ(f->text(), f->FullText()) << f->objectName().toStdString() << " is cut short";
      EXPECT_LE(f->fontMetrics().horizontalAdvance(f->text()), f->contentsRect().width());
    }
  }
};

using Names = std::vector<std::string>;

TEST_F(StatusLine, DL2ConnectedChangeMarkedAskedBeforeGetClearedBySendAndRead) {
  StartDemo();
  Start();
  EXPECT_EQ(Line().PortField->FullText(), "No port");
  ASSERT_TRUE(Connect(1));
  EXPECT_EQ(Line().PortField->FullText(), "COM1 (simulated)");
  EXPECT_EQ(Line().AdapterField->FullText(),
            QStringLiteral("DL2 ZOBus, firmware %1").arg(demo_->DL2(1)->FirmwareVersion()));
  EXPECT_EQ(Line().DeviceField->FullText(),
            QStringLiteral("Software version %1").arg(sim::DemoInverterVersion));
  EXPECT_TRUE(OperationIs("Settings read"));
  EXPECT_EQ(Line().UnsentField->FullText(), "No unsent changes");
  ExpectWholeTexts();

  EnterValue(form_->AbsorptionVoltageEdit, "28.7");
  EXPECT_EQ(MarkedControls(), Names{"AbsorptionVoltageEdit"});
  EXPECT_TRUE(form_->AbsorptionVoltageEdit->font().bold());
  EXPECT_EQ(Line().UnsentField->FullText(), "1 unsent change");

  // Cancel keeps the change; the device is not read.
  ui_.AnswerNext(TModalResult::mrCancel);
  form_->Getsettings1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_EQ(CountMessages(Discard), 1);
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.70");
  EXPECT_EQ(MarkedControls(), Names{"AbsorptionVoltageEdit"});

  QTest::mouseClick(form_->SendSettingsButton, Qt::LeftButton);
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(OperationIs("Settings sent"));
  EXPECT_EQ(MarkedControls(), Names{});
  EXPECT_FALSE(form_->AbsorptionVoltageEdit->font().bold());
  EXPECT_EQ(Line().UnsentField->FullText(), "No unsent changes");
  EXPECT_TRUE(
      WaitFor([&] { return demo_->Device(1).SettingValue(SettingAbsorptionVoltage) == 2870; }));

  // Discard reads the device again, which clears the mark; nothing asks without changes.
  EnterValue(form_->AbsorptionVoltageEdit, "28.6");
  ui_.AnswerNext(TModalResult::mrDiscard);
  QTest::mouseClick(form_->GetSettingsButton, Qt::LeftButton);
  ASSERT_TRUE(Settled());
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.70");
  EXPECT_EQ(MarkedControls(), Names{});
  EXPECT_TRUE(OperationIs("Settings read"));
  form_->Getsettings1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_EQ(CountMessages(Discard), 2);
}

TEST_F(StatusLine, PortChangeAsksFirstAndSendsThenDL1AndAFailedSend) {
  StartDemo();
  Start();
  ASSERT_TRUE(Connect(1));
  form_->GroundRelayCheckBox->click();
  EXPECT_EQ(MarkedControls(), Names{"GroundRelayCheckBox"});

  ui_.AnswerNext(TModalResult::mrCancel);
  form_->Com21->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_EQ(CountMessages(Discard), 1);
  EXPECT_EQ(ui_.Messages().back().Buttons, TMsgDlgButtons{mbSend | mbDiscard | mbCancel});
  EXPECT_TRUE(form_->Com11->isChecked());
  EXPECT_TRUE(form_->PanelActive());
  EXPECT_EQ(Line().PortField->FullText(), "COM1 (simulated)");

  // Send: the changes go to the device shown before the port changes.
  EnterValue(form_->AbsorptionVoltageEdit, "28.5");
  ui_.AnswerNext(TModalResult::mrSend);
  form_->Com21->trigger();
  ASSERT_TRUE(WaitFor([this] {
    return form_->TargetVersion() == sim::DemoChargerVersion && form_->PanelActive() &&
           !form_->ActionPending();
  }));
  EXPECT_EQ(demo_->Device(1).SettingValue(SettingAbsorptionVoltage), 2850);
  EXPECT_EQ(Line().PortField->FullText(), "COM2 (simulated)");
  EXPECT_EQ(Line().AdapterField->FullText(), "DL1");
  EXPECT_EQ(MarkedControls(), Names{});

  // A send that fails says so, and the change stays unsent.
  EnterValue(form_->AbsorptionVoltageEdit, "14.5");
  SimPortRegistry::Find(2)->Unplug();
  form_->Sendsettings1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Line().OperationField->FullText(), "Sending failed");
  EXPECT_EQ(MarkedControls(), Names{"AbsorptionVoltageEdit"});
  SimPortRegistry::Find(2)->Replug();
}

// Two units of one version on two adapters, COM1 and COM3: after a switch the window shows the
// unit of the port chosen, not the other's values with their marks, and choosing a port again
// reads it anew. While the next port is opened (its firmware question open) the status line names
// it and nothing of the previous device; a supported version is never called unsupported; a long
// device path gives way to the adapter and the device.
TEST_F(StatusLine, TwoUnitsOfOneVersionEachShowTheirOwnSettingsAfterASwitch) {
  StartDemo();
  demo_->Device(1).SetSettingValue(SettingAbsorptionVoltage, 2820);
  demo_->Device(3).SetSettingValue(SettingAbsorptionVoltage, 2790);
  Start();
  ASSERT_TRUE(Connect(1));
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.20");
  EnterValue(form_->AbsorptionVoltageEdit, "28.5");
  ASSERT_EQ(Line().UnsentField->FullText(), "1 unsent change");

  QStringList at_question;
  ui_.OnMessage("The software version in the DL2 is not up to date!", [&] {
    at_question = QStringList{Line().PortField->FullText(), Line().AdapterField->FullText(),
                              Line().DeviceField->FullText(), Line().OperationField->FullText()};
  });
  QStringList devices;  // every device text the line shows meanwhile
  QTimer watch;
  watch.setInterval(2);
  QObject::connect(&watch, &QTimer::timeout,
                   [&] { devices.append(Line().DeviceField->FullText()); });
  watch.start();
  auto switched = [this](QAction* Item) {
    return WaitFor([this, Item] {
      return Item->isChecked() && form_->PanelActive() && !form_->ActionPending();
    });
  };
  ui_.AnswerNext(TModalResult::mrDiscard);  // discard the change; the firmware update is declined
  form_->Com31->trigger();
  ASSERT_TRUE(switched(form_->Com31));
  EXPECT_EQ(at_question, (QStringList{"COM3 (simulated)", "Detecting adapter", "No device", ""}));
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "27.90");
  EXPECT_EQ(MarkedControls(), Names{});
  EXPECT_EQ(Line().UnsentField->FullText(), "No unsent changes");
  EXPECT_TRUE(OperationIs("Settings read"));

  // The same port again is read again.
  demo_->Device(3).SetSettingValue(SettingAbsorptionVoltage, 2760);
  form_->Com31->trigger();
  EXPECT_TRUE(WaitFor([this] {
    return form_->AbsorptionVoltageEdit->text() == "27.60" && form_->PanelActive() &&
           !form_->ActionPending();
  }));
  watch.stop();
  EXPECT_FALSE(devices.filter(QStringLiteral("not supported")).size() > 0)
      << devices.filter(QStringLiteral("not supported")).join('|').toStdString();

  Line().PortField->SetFullText(QStringLiteral("COM3 (/dev/serial/by-id/") + QString(300, 'x') +
                                ')');
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  EXPECT_NE(Line().PortField->text(), Line().PortField->FullText());
  EXPECT_EQ(Line().AdapterField->text(), Line().AdapterField->FullText());
  EXPECT_EQ(Line().DeviceField->text(), Line().DeviceField->FullText());
}

// "Compare with device..." reads the device now and lists what differs; the window, its marks and
// the device stay as they were.
TEST_F(StatusLine, CompareWithDeviceListsBothSidesAndChangesNothing) {
  StartDemo();
  Start();
  ASSERT_TRUE(Connect(1));
  EnterValue(form_->AbsorptionVoltageEdit, "28.5");
  demo_->Device(1).SetSettingValue(SettingFloatVoltage, 2700);  // changed at the unit itself
  form_->Comparewithdevice1->trigger();
  ASSERT_TRUE(Settled());
  ASSERT_NE(form_->CompareDialog(), nullptr);
  QTreeWidget* list = form_->CompareDialog()->DifferenceList;
  std::vector<QStringList> rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = list->topLevelItem(i);
    rows.push_back({row->text(0), row->text(1), row->text(2)});
  }
  EXPECT_EQ(rows, (std::vector<QStringList>{{"Absorption voltage", "28.50 V", "28.80 V"},
                                            {"Float voltage", "27.60 V", "27.00 V"}}));
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.50");
  EXPECT_EQ(form_->FloatVoltageEdit->text(), "27.60");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2850);
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 2760);
  EXPECT_EQ(MarkedControls(), Names{"AbsorptionVoltageEdit"});
  EXPECT_EQ(demo_->Device(1).SettingValue(SettingAbsorptionVoltage), 2880);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(StatusLine, LoadedFileMarksWhatItChangedAndExitAsksFirst) {
  Start({QStringLiteral("/v%1").arg(sim::DemoInverterVersion)});
  ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  EXPECT_EQ(Line().DeviceField->FullText(),
            QStringLiteral("Software version %1 (overruled)").arg(sim::DemoInverterVersion));
  EXPECT_TRUE(OperationIs("Defaults of the overruled version shown"));

  // A file with two values other than the defaults.
  EnterValue(form_->FloatVoltageEdit, "27.0");
  form_->ThreePhaseRadioButton->click();
  EXPECT_EQ(MarkedControls(), (Names{"FloatVoltageEdit", "ThreePhaseRadioButton"}));
  EXPECT_EQ(Line().UnsentField->FullText(), "2 unsent changes");
  QTemporaryDir dir;
  const std::string file = dir.filePath(QStringLiteral("two.zsf")).toStdString();
  ui_.FileNameNext(file);
  form_->Savesettings1->trigger();
  EXPECT_TRUE(OperationIs("Settings saved to two.zsf"));
  EXPECT_EQ(ui_.SuggestedFileNames().back(),
            (form_->DeviceTypeLabel->text() + QDate::currentDate().toString(" yyyy-MM-dd.zsf"))
                .toStdString());
  form_->Setcompletedefault1->trigger();
  EXPECT_EQ(MarkedControls(), Names{});
  ui_.FileNameNext(file);
  form_->Loadsettings1->trigger();
  EXPECT_TRUE(OperationIs("Settings loaded from two.zsf"));
  EXPECT_EQ(MarkedControls(), (Names{"FloatVoltageEdit", "ThreePhaseRadioButton"}));

  // A mark never hides the end of a value: bold where the text fits, else the highlight.
  QComboBox* polarity = form_->AlarmRelayPolarityComboBox;
  polarity->setCurrentIndex(1 - polarity->currentIndex());
  emit polarity->activated(polarity->currentIndex());
  form_->WaveShapeCheckBox->click();
  EXPECT_EQ(Line().UnsentField->FullText(), "4 unsent changes");
  for (QWidget* w :
       {static_cast<QWidget*>(polarity), static_cast<QWidget*>(form_->WaveShapeCheckBox),
        static_cast<QWidget*>(form_->ThreePhaseRadioButton)}) {
    EXPECT_TRUE(Unsent().Marked(w));
    if (w->font().bold()) {
      EXPECT_LE(w->sizeHint().width(), w->width()) << w->objectName().toStdString();
    }
  }

  // An overruled version cannot be sent: the question offers Discard and Cancel only.
  ui_.AnswerNext(TModalResult::mrCancel);
  form_->Exit1->trigger();
  EXPECT_FALSE(form_->Closed());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(ui_.Messages().back().Buttons, TMsgDlgButtons{mbDiscard | mbCancel});
  ui_.AnswerNext(TModalResult::mrDiscard);
  form_->Exit1->trigger();
  EXPECT_TRUE(form_->Closed());
  EXPECT_EQ(CountMessages(Discard), 2);
}

}  // namespace
}  // namespace zo::test
