// The terminal's message boxes, answers and progress bar.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/TerminalUi.h"

namespace zo {
namespace {

// What the UI wrote, read back from a temporary file.
class Captured {
 public:
  Captured() : file_(std::tmpfile()) {}
  ~Captured() { std::fclose(file_); }
  std::FILE* File() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
      text.append(buf, n);
    return text;
  }

 private:
  std::FILE* file_;
};

TEST(TerminalUi, MessagesShowTheirKindAndBreakLinesAtCR) {
  EXPECT_EQ(MessageBoxText("File corrupted!\rSettings set to default!", TMsgDlgType::mtError),
            "error: File corrupted!\n       Settings set to default!\n");
  EXPECT_EQ(MessageBoxText("A\r\rB", TMsgDlgType::mtInformation),
            "information: A\n\n             B\n");
}

TEST(TerminalUi, QuestionsAreAnsweredYesOnlyWithYes) {
  Captured out;
  TTerminalUi careful(out.File(), false, false);
  EXPECT_EQ(careful.MessageDlg("Update?", TMsgDlgType::mtWarning, mbYes | mbNo),
            TModalResult::mrNo);
  EXPECT_EQ(careful.MessageDlg("Reset?", TMsgDlgType::mtConfirmation, mbOK | mbCancel),
            TModalResult::mrCancel);
  EXPECT_EQ(careful.MessageDlg("Done.", TMsgDlgType::mtConfirmation, mbOK), TModalResult::mrOk);
  EXPECT_EQ(careful.MessageDlg("Bad.", TMsgDlgType::mtError, mbOK), TModalResult::mrOk);
  EXPECT_EQ(careful.QuestionsAsked(), 2);
  EXPECT_EQ(careful.QuestionsDeclined(), 2);
  EXPECT_EQ(careful.ErrorsShown(), 1);
  std::string value = "x";
  EXPECT_FALSE(careful.InputQuery("Other COM port", "COM port number:", value));
  EXPECT_FALSE(careful.OpenSettingsFileDialog(value));
  const std::string text = out.Text();
  EXPECT_NE(text.find("warning: Update?\n         -> No"), std::string::npos) << text;
  EXPECT_NE(text.find("-> Cancel"), std::string::npos) << text;

  Captured out_yes;
  TTerminalUi willing(out_yes.File(), true, false);
  EXPECT_EQ(willing.MessageDlg("Update?", TMsgDlgType::mtWarning, mbYes | mbNo),
            TModalResult::mrYes);
  EXPECT_EQ(willing.MessageDlg("Reset?", TMsgDlgType::mtConfirmation, mbOK | mbCancel),
            TModalResult::mrOk);
  EXPECT_EQ(willing.QuestionsDeclined(), 0);
}

TEST(TerminalUi, ProgressOffATerminalPrintsEveryTenthAndInfoChanges) {
  Captured out;
  TTerminalUi ui(out.File(), true, false);
  ui.ShowProgress("Updating DL2", "Please wait, erasing", 0, 0, 100);
  for (int p = 0; p <= 100; ++p)
    ui.SetProgressPosition(p);
  ui.SetProgressInfo("Programming");
  ui.ShowProgress("", "", -1, 0, 100);
  ui.SetProgressPosition(50);  // hidden: nothing more
  const std::string text = out.Text();
  std::size_t lines = 0;
  for (char c : text)
    lines += c == '\n';
  EXPECT_EQ(lines, 12u) << text;  // 0 %, each tenth to 100 %, and the new info text
  EXPECT_NE(text.find("Updating DL2: Please wait, erasing [...."), std::string::npos) << text;
  EXPECT_NE(text.find("[##############################] 100%"), std::string::npos) << text;
  EXPECT_NE(text.find("Updating DL2: Programming ["), std::string::npos) << text;
}

TEST(TerminalUi, ProgressOnATerminalRedrawsOneLineAndEndsItBeforeAMessage) {
  Captured out;
  TTerminalUi ui(out.File(), true, true);
  ui.ShowProgress("Updating DL2", "Please wait, erasing", 0, 0, 100);
  ui.SetProgressPosition(40);
  ui.MessageDlg("Reprogram failed", TMsgDlgType::mtError, mbOK);
  ui.ShowProgress("", "", -1, 0, 100);
  const std::string text = out.Text();
  EXPECT_EQ(text.find('\n'), text.find("\nerror: Reprogram failed")) << text;
  EXPECT_NE(text.find("\r"), std::string::npos);
  EXPECT_NE(text.find(" 40%\x1b[K\nerror:"), std::string::npos) << text;
}

}  // namespace
}  // namespace zo
