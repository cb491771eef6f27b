// Start-up, the port menu and the menus' enabled states.
#include <QDir>
#include <QTemporaryDir>

#include "serial/SimLine.h"
#include "tests/ui/WindowTestSupport.h"
#include "ui/Fitting.h"

namespace zo::test {
namespace {

class Startup : public WindowTest {};

TEST_F(Startup, WithoutVersionDatOneErrorBoxThenTheWindowClosesAndNoPortOpens) {
  QTemporaryDir empty;
  SetVersionFileFolder(empty.path().toStdString());
  StartDemo();
  Start();
  EXPECT_TRUE(WaitFor([this] { return form_->Closed(); }));
  SetVersionFileFolder("");
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].Text, "Fatal error:\rCannot find VERSION.DAT file!");
  EXPECT_EQ(ui_.Messages()[0].Type, TMsgDlgType::mtError);
  EXPECT_FALSE(form_->isVisible());
  QTest::qWait(300);  // the timer must not come back to life after the close
  EXPECT_EQ(ui_.Messages().size(), 1u);
  for (int port = 1; port <= 4; ++port)
    EXPECT_FALSE(SimPortRegistry::Find(static_cast<std::uint8_t>(port))->PortOpen()) << port;
}

TEST_F(Startup, MenusWithoutATargetAllowOnlyFilePortSpecialAndAbout) {
  Start();
  EXPECT_EQ(form_->windowTitle(), "ZO configure");
  EXPECT_FALSE(form_->MasterPanel->isVisible());
  EXPECT_EQ(form_->UserActionLabel->text(), "Please select a communications port");
  for (QAction* on : {form_->File1->menuAction(), form_->Exit1, form_->Port1->menuAction(),
                      form_->Com11, form_->Com41, form_->ComOther1, form_->About1,
                      form_->Special1->menuAction(), form_->Overrulesoftwareversion1})
    EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
  for (QAction* off : {form_->Savesettings1, form_->Loadsettings1, form_->Target1->menuAction(),
                       form_->Getsettings1, form_->Sendsettings1, form_->Getsoftwareversion1,
                       form_->Defaults1->menuAction(), form_->Setcompletedefault1,
                       form_->Setgelbattery1, form_->Setmarlobattery1})
    EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
  EXPECT_EQ(form_->Savesettings1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_EQ(form_->ClientArea->size(), QSize(Scaled(form_, 632), Scaled(form_, 434)));

  // The busy window: an information box without buttons, modeless; an empty text removes it.
  form_->ShowBusyMessage("Target found!\rRetrieving data.");
  auto* busy = qobject_cast<QMessageBox*>(form_->BusyMessage());
  ASSERT_NE(busy, nullptr);
  EXPECT_TRUE(busy->isVisible());
  EXPECT_FALSE(busy->isModal());
  EXPECT_TRUE(busy->buttons().isEmpty());
  EXPECT_EQ(busy->text(), "Target found!\nRetrieving data.");
  form_->ShowBusyMessage("");
  EXPECT_EQ(form_->BusyMessage(), nullptr);
}

TEST_F(Startup, SlashVOverrulesTheVersionWithoutAPortAndEnablesEveryMenu) {
  Start({"/V1711107", "/v1400012"});  // only the first parameter counts, in either case
  EXPECT_EQ(form_->BusThread()->OverruledVersion(), 1711107);
  ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  EXPECT_EQ(form_->TargetVersion(), 1711107);
  EXPECT_EQ(form_->windowTitle(), "ZO configure (" + form_->DeviceTypeLabel->text() + ")");
  EXPECT_FALSE(form_->DeviceTypeLabel->text().isEmpty());
  for (QAction* item : {form_->Savesettings1, form_->Loadsettings1, form_->Getsettings1,
                        form_->Sendsettings1, form_->Setcompletedefault1, form_->Setgelbattery1})
    EXPECT_TRUE(item->isEnabled()) << item->objectName().toStdString();
  // Defaults of a 24 V model, not read from any device.
  EXPECT_EQ(form_->AbsorptionVoltageEdit->text(), "28.80");
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(Startup, SlashVWithZeroNegativeLettersOrNothingIsIgnored) {
  for (const char* parameter : {"/v0", "/v-5", "/vabc", "/v", "-v1711107", "x/v1711107"}) {
    Start({parameter});
    EXPECT_EQ(form_->BusThread()->OverruledVersion(), -1) << parameter;
    Stop();
  }
  Start({"/v$1A1FB3"});  // the typed-number rule: hexadecimal after "$"
  EXPECT_EQ(form_->BusThread()->OverruledVersion(), 0x1A1FB3);
}

TEST_F(Startup, PortThatCannotBeOpenedLeavesNoItemChecked) {
  Start();
  ui_.InputNext("201");
  form_->ComOther1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(HasMessage("Cannot open port: COM201"));
  EXPECT_EQ(form_->UserActionLabel->text(), "Please select a communications port");
  for (QAction* item : form_->PortGroup->actions())
    EXPECT_FALSE(item->isChecked()) << item->objectName().toStdString();
  EXPECT_EQ(form_->ComOther1->text(), "&Other");
}

TEST_F(Startup, OtherPortTwelveThenComTwo) {
  // Lines without an adapter: the ports open, detection finds nothing.
  SimPortRegistry::Bind(12, SimLine::Create("bare line 12"));
  SimPortRegistry::Bind(2, SimLine::Create("bare line 2"));
  Start();
  ui_.InputNext("12");
  form_->ComOther1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(SimPortRegistry::Find(12)->PortOpen());
  EXPECT_TRUE(form_->ComOther1->isChecked());
  EXPECT_EQ(form_->ComOther1->text(), "&Other (Com 12)");
  EXPECT_EQ(form_->UserActionLabel->text(), "Connect cable and switch on device");
  EXPECT_TRUE(form_->ComOther1->toolTip().contains("bare line 12"));

  form_->Com21->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(form_->Com21->isChecked());
  EXPECT_FALSE(form_->ComOther1->isChecked());
  EXPECT_EQ(form_->ComOther1->text(), "&Other");
  // "&Other" names no port of another item.
  EXPECT_FALSE(form_->ComOther1->toolTip().contains("bare line 2"));
  EXPECT_FALSE(SimPortRegistry::Find(12)->PortOpen());
  EXPECT_TRUE(SimPortRegistry::Find(2)->PortOpen());

  // Choosing the same port again reopens it.
  form_->Com21->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(form_->Com21->isChecked());
  EXPECT_TRUE(SimPortRegistry::Find(2)->PortOpen());
  EXPECT_TRUE(ui_.Messages().empty());
  Stop();
  SimPortRegistry::Unbind(12);
  SimPortRegistry::Unbind(2);
}

TEST_F(Startup, OtherWithTextThatIsNoPortNumberChangesNothing) {
  SimPortRegistry::Bind(3, SimLine::Create("bare line 3"));
  Start();
  form_->Com31->trigger();
  ASSERT_TRUE(Settled());
  // 256 would reach another port as a one-byte number: refused like any non-number.
  for (const char* text : {"abc", "256", "0", "-3", "12x"}) {
    ui_.InputNext(text);
    form_->ComOther1->trigger();
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(HasMessage(std::string("Cannot interpret \"") + text + "\" as a COM port number!"))
        << text;
  }
  ui_.CancelNextInput();
  form_->ComOther1->trigger();
  EXPECT_EQ(ui_.Messages().size(), 5u);
  EXPECT_TRUE(form_->Com31->isChecked());
  EXPECT_TRUE(SimPortRegistry::Find(3)->PortOpen());
  Stop();
  SimPortRegistry::Unbind(3);
}

}  // namespace
}  // namespace zo::test
