// "&Overrule target": the questions, the input, and what the window then shows.
#include "tests/ui/WindowTestSupport.h"

namespace zo::test {
namespace {

const std::string FirstQuestion =
    "Use with care!\rReading from device might result in improper values!\rDo you want to "
    "continue?";
const std::string AgainQuestion =
    "Target already overruled.\rDo you want to specify another software version?\r(pressing No "
    "will remove the overruling)";

class Overrule : public WindowTest {
 protected:
  void Answer(TModalResult Reply, const char* Input = nullptr) {
    ui_.AnswerNext(Reply);
    if (Input) ui_.InputNext(Input);
    form_->Overrulesoftwareversion1->trigger();
  }
  std::int32_t Overruled() const { return form_->BusThread()->OverruledVersion(); }
};

TEST_F(Overrule, QuestionsInputsAndTheirEffects) {
  Start();
  Answer(TModalResult::mrNo);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].Text, FirstQuestion);
  EXPECT_EQ(ui_.Messages()[0].Type, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(ui_.Messages()[0].Buttons, unsigned(mbYes | mbNo));
  EXPECT_EQ(Overruled(), -1);

  Answer(TModalResult::mrYes, "1711107");
  EXPECT_EQ(Overruled(), 1711107);
  ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  EXPECT_EQ(form_->windowTitle(), "ZO configure (" + form_->DeviceTypeLabel->text() + ")");

  // Sending is refused while a version above 0 is overruled.
  ui_.Clear();
  form_->Sendsettings1->trigger();
  EXPECT_EQ(ui_.MessageTexts(),
            std::vector<std::string>{"Version number overruled!\rSending to device is disabled!"});
  EXPECT_FALSE(form_->ActionPending());
  // Getting needs an interface, and there is none.
  ui_.Clear();
  form_->Getsettings1->trigger();
  ASSERT_TRUE(Settled());
  EXPECT_EQ(ui_.MessageTexts(), std::vector<std::string>{"Error during communication!"});
  EXPECT_TRUE(form_->PanelActive());

  // Again: Yes/No/Cancel. Cancel changes nothing; letters and negative numbers are refused.
  ui_.Clear();
  Answer(TModalResult::mrCancel);
  EXPECT_EQ(ui_.Messages()[0].Text, AgainQuestion);
  EXPECT_EQ(ui_.Messages()[0].Buttons, unsigned(mbYes | mbNo | mbCancel));
  Answer(TModalResult::mrYes, "abc");
  Answer(TModalResult::mrYes, "-4");
  EXPECT_EQ(Overruled(), 1711107);
  EXPECT_EQ(ui_.MessageTexts(),
            (std::vector<std::string>{AgainQuestion, AgainQuestion, "Cannot interpret: abc",
                                      AgainQuestion, "Cannot interpret: -4"}));

  // 0 is accepted: no target is shown then.
  Answer(TModalResult::mrYes, "0");
  EXPECT_EQ(Overruled(), 0);
  ASSERT_TRUE(WaitFor([this] { return form_->TargetVersion() == 0; }));
  ASSERT_TRUE(Settled());
  EXPECT_FALSE(form_->PanelActive());
  EXPECT_EQ(form_->windowTitle(), "ZO configure");
  EXPECT_FALSE(form_->Sendsettings1->isEnabled());

  // Yes, then a cancelled input box, removes the overruling.
  ui_.AnswerNext(TModalResult::mrYes);
  ui_.CancelNextInput();
  form_->Overrulesoftwareversion1->trigger();
  EXPECT_EQ(Overruled(), -1);
  // And No removes it too.
  Answer(TModalResult::mrYes, "1400012");
  EXPECT_EQ(Overruled(), 1400012);
  Answer(TModalResult::mrNo);
  EXPECT_EQ(Overruled(), -1);
  ASSERT_TRUE(WaitFor([this] { return form_->TargetVersion() == -1; }));
}

TEST_F(Overrule, UnsupportedVersionIsReportedAndDropped) {
  Start();
  // A first target, so that the device type label holds a name.
  Answer(TModalResult::mrYes, "1711107");
  ASSERT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  ui_.Clear();
  Answer(TModalResult::mrYes, "1234567");
  ASSERT_TRUE(
      WaitFor([this] { return HasMessage("Software version: 1234567 is not supported!"); }));
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Overruled(), -1);
  EXPECT_FALSE(form_->PanelActive());
  // The caption names no device that is not shown.
  EXPECT_EQ(form_->windowTitle(), "ZO configure");
  EXPECT_TRUE(WaitFor([this] { return form_->TargetVersion() == -1; }));
  EXPECT_EQ(CountMessages("Software version: 1234567 is not supported!"), 1);

  // "&Read software version" without a version (its menu item is disabled then).
  EXPECT_FALSE(form_->Getsoftwareversion1->isEnabled());
  form_->Getsoftwareversion1Click();
  EXPECT_TRUE(HasMessage("Error reading software version"));
}

}  // namespace
}  // namespace zo::test
