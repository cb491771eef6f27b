// The UI services of the command line: message boxes become lines on standard error, questions
// are answered without asking, and the progress dialog becomes a progress bar.
//
// - A message is written with its kind ("error: ", "warning: ", "information: ", or
//   "question: ") before its first line; "\r" in the text starts a new line, indented under the
//   first.
// - A question (a box with Yes, or with OK and Cancel) is answered Yes (or OK) only when the
//   program was given --yes; otherwise No (or Cancel). The answer is written after the text.
// - A box with the OK button alone is answered OK.
// - Input boxes and file dialogs are cancelled: the command line names its files itself.
// - The progress dialog: on a terminal one line redrawn in place ("Updating DL2: Programming
//   [#####.....]  50%"); elsewhere a line whenever the info text changes and at every tenth of
//   the bar.
#pragma once

#include <cstdio>
#include <string>

#include "threads/Clock.h"
#include "threads/UiServices.h"

namespace zo {

class TTerminalUi final : public UiServices {
 public:
  // `Out` is where messages go (standard error); `AnswerYes` is --yes. `IsTerminal` chooses the
  // redrawn progress bar.
  TTerminalUi(std::FILE* Out, bool AnswerYes, bool IsTerminal);

  TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType,
                          TMsgDlgButtons Buttons) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override;
  void ShowProgress(const std::string& Caption, const std::string& Info, int Position, int Min,
                    int Max) override;
  void SetProgressInfo(const std::string& Info) override;
  void SetProgressPosition(int Position) override;
  bool OpenSettingsFileDialog(std::string& FileName) override;
  bool SaveSettingsFileDialog(std::string& FileName) override;
  // Ctrl+C and the other stop signals (see Interrupt.h), or a trace that could not be written.
  bool CancelRequested() override;

  // Writes a message of the program's own (not a box), formatted like a box of that kind.
  void Note(const std::string& Msg, TMsgDlgType DlgType);
  // Writes a plain line of context (the text log's account of a failure, for example).
  void Context(const std::string& Line);

  // A busy message of a long device operation ("Retrieving data!"): shown on a terminal only.
  void Busy(const std::string& Text);
  bool IsTerminal() const { return is_terminal_; }

  // Counters for the caller's verdict: boxes of the error kind shown, and questions asked.
  int ErrorsShown() const { return errors_shown_; }
  int QuestionsAsked() const { return questions_asked_; }
  int QuestionsDeclined() const { return questions_declined_; }
  // The messages of the error kind shown so far, each with the lines of context written after
  // it, one per line ("\r" of a box becomes a line break): what a failed run's JSON reports.
  const std::string& ErrorText() const { return error_text_; }

 private:
  void Write(const std::string& Msg, TMsgDlgType DlgType, const std::string& Answer);
  void DrawProgress(bool InfoChanged);
  void EndProgressLine();

  std::FILE* out_;
  bool answer_yes_;
  bool is_terminal_;
  int errors_shown_ = 0;
  int questions_asked_ = 0;
  int questions_declined_ = 0;
  std::string error_text_;
  bool after_error_ = false;  // context lines belong to the error before them

  bool progress_shown_ = false;
  bool line_open_ = false;  // a redrawn progress line is on the screen
  std::string caption_, info_;
  int position_ = 0, min_ = 0, max_ = 100;
  int last_tenth_ = -1;
  TimePoint programming_start_{};
};

// The text of a box for a terminal: the kind, then each "\r"-separated line, indented under the
// first, each ended by "\n".
std::string MessageBoxText(const std::string& Msg, TMsgDlgType DlgType);

}  // namespace zo
