#include "cli/TerminalUi.h"

#include <algorithm>

#include "cli/Interrupt.h"
#include "cli/Session.h"

namespace zo {

namespace {

const char* KindText(TMsgDlgType Type) {
  switch (Type) {
    case TMsgDlgType::mtError:
      return "error: ";
    case TMsgDlgType::mtWarning:
      return "warning: ";
    case TMsgDlgType::mtInformation:
      return "information: ";
    case TMsgDlgType::mtConfirmation:
      return "question: ";
  }
  return "";
}

constexpr int BarWidth = 30;
// About how long programming the carried image takes, rounded up.
constexpr int ProgrammingSeconds = 4;

}  // namespace

std::string MessageBoxText(const std::string& Msg, TMsgDlgType DlgType) {
  const std::string kind = KindText(DlgType);
  std::string out = kind;
  bool line_start = false;  // the next character begins a continuation line
  for (char c : Msg) {
    if (c == '\r') {
      out += '\n';
      line_start = true;
    } else if (c != '\n') {
      // Continuation lines are indented under the first; empty ones stay empty.
      if (line_start) out.append(kind.size(), ' ');
      line_start = false;
      out += c;
    }
  }
  out += '\n';
  return out;
}

TTerminalUi::TTerminalUi(std::FILE* Out, bool AnswerYes, bool IsTerminal)
    : out_(Out), answer_yes_(AnswerYes), is_terminal_(IsTerminal) {}

void TTerminalUi::Write(const std::string& Msg, TMsgDlgType DlgType, const std::string& Answer) {
  after_error_ = DlgType == TMsgDlgType::mtError;
  if (after_error_) {
    if (!error_text_.empty()) error_text_ += '\n';
    for (char c : Msg)
      if (c != '\n') error_text_ += c == '\r' ? '\n' : c;
  }
  EndProgressLine();
  std::string text = MessageBoxText(Msg, DlgType);
  if (!Answer.empty()) {
    text.pop_back();
    text += "\n" + std::string(std::string(KindText(DlgType)).size(), ' ') + Answer + "\n";
  }
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
  if (progress_shown_) DrawProgress(false);
}

TModalResult TTerminalUi::MessageDlg(const std::string& Msg, TMsgDlgType DlgType,
                                     TMsgDlgButtons Buttons) {
  if (DlgType == TMsgDlgType::mtError) ++errors_shown_;
  const bool question = (Buttons & mbYes) != 0 || (Buttons & mbCancel) != 0;
  if (!question) {
    Write(Msg, DlgType, "");
    if (Buttons & mbOK) return TModalResult::mrOk;
    if (Buttons & mbNo) return TModalResult::mrNo;
    return TModalResult::mrNone;
  }
  ++questions_asked_;
  const bool yes_button = (Buttons & mbYes) != 0;
  TModalResult answer;
  std::string shown;
  if (answer_yes_) {
    answer = yes_button ? TModalResult::mrYes : TModalResult::mrOk;
    shown = yes_button ? "-> Yes (--yes)" : "-> OK (--yes)";
  } else {
    ++questions_declined_;
    if (Buttons & mbNo) {
      answer = TModalResult::mrNo;
      shown = "-> No (run with --yes to answer Yes)";
    } else {
      answer = TModalResult::mrCancel;
      shown = "-> Cancel (run with --yes to answer OK)";
    }
  }
  Write(Msg, DlgType, shown);
  return answer;
}

bool TTerminalUi::InputQuery(const std::string&, const std::string&, std::string&) {
  return false;
}

bool TTerminalUi::OpenSettingsFileDialog(std::string&) {
  return false;
}

bool TTerminalUi::SaveSettingsFileDialog(std::string&) {
  return false;
}

bool TTerminalUi::CancelRequested() {
  return StopRequested();
}

void TTerminalUi::Note(const std::string& Msg, TMsgDlgType DlgType) {
  Write(Msg, DlgType, "");
}

void TTerminalUi::Busy(const std::string& Text) {
  if (is_terminal_) Write(Text, TMsgDlgType::mtInformation, "");
}

void TTerminalUi::Context(const std::string& Line) {
  if (after_error_) error_text_ += "\n" + Line;
  EndProgressLine();
  std::fputs(("  " + Line + "\n").c_str(), out_);
  std::fflush(out_);
  if (progress_shown_) DrawProgress(false);
}

void TTerminalUi::ShowProgress(const std::string& Caption, const std::string& Info, int Position,
                               int Min, int Max) {
  if (Caption.empty() && Info.empty()) {
    EndProgressLine();
    if (progress_shown_) EndProgramming();
    progress_shown_ = false;
    return;
  }
  // The progress dialog is shown only while the DL2 is being programmed.
  if (!progress_shown_) {
    programming_start_ = Now();
    BeginProgramming(ProgrammingSeconds);
  }
  progress_shown_ = true;
  caption_ = Caption;
  info_ = Info;
  position_ = Position;
  min_ = Min;
  max_ = Max;
  last_tenth_ = -1;
  DrawProgress(true);
}

void TTerminalUi::SetProgressInfo(const std::string& Info) {
  const bool changed = Info != info_;
  info_ = Info;
  if (progress_shown_) DrawProgress(changed);
}

void TTerminalUi::SetProgressPosition(int Position) {
  position_ = Position;
  // From a tenth on, the time so far tells the time left; before, the usual run's length.
  const double elapsed = MillisecondsBetween(programming_start_, Now()) / 1000.0;
  const int span = max_ - min_, done = position_ - min_;
  if (progress_shown_ && span > 0 && done * 10 >= span && done < span)
    UpdateProgramming(static_cast<int>(elapsed * (span - done) / done) + 1);
  else if (progress_shown_ && done < span)
    UpdateProgramming(std::max(1, ProgrammingSeconds - static_cast<int>(elapsed)));
  if (progress_shown_) DrawProgress(false);
}

void TTerminalUi::DrawProgress(bool InfoChanged) {
  const bool has_bar = position_ >= min_ && max_ > min_;
  int fraction = 0;  // in thousandths of the bar
  if (has_bar) {
    const long long span = static_cast<long long>(max_) - min_;
    long long done = static_cast<long long>(position_) - min_;
    if (done > span) done = span;
    fraction = static_cast<int>(done * 1000 / span);
  }
  std::string bar;
  if (has_bar) {
    const int filled = fraction * BarWidth / 1000;
    bar = " [" + std::string(static_cast<std::size_t>(filled), '#') +
          std::string(static_cast<std::size_t>(BarWidth - filled), '.') + "] ";
    const std::string percent = std::to_string(fraction / 10);
    bar += std::string(3 - std::min<std::size_t>(3, percent.size()), ' ') + percent + "%";
  }
  const std::string text = caption_ + ": " + info_ + bar;
  if (is_terminal_) {
    // Redraw in place; clear what a longer earlier line left behind.
    std::fputs(("\r" + text + "\x1b[K").c_str(), out_);
    line_open_ = true;
  } else {
    const int tenth = fraction / 100;
    if (!InfoChanged && tenth == last_tenth_) return;
    last_tenth_ = tenth;
    std::fputs((text + "\n").c_str(), out_);
  }
  std::fflush(out_);
}

void TTerminalUi::EndProgressLine() {
  if (!line_open_) return;
  std::fputs("\n", out_);
  line_open_ = false;
}

}  // namespace zo
