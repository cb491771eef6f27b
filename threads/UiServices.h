// What code outside the window needs of the user interface: modal message boxes, input boxes,
// file dialogs and the progress dialog.
//
// Texts pass through verbatim; "\r" is a line break. The window installs its Qt implementation,
// the command-line program a terminal one, tests a scripted one. With nothing installed, a silent
// implementation answers every question with its most cautious answer (No, Cancel) and records
// nothing.
#pragma once

#include <string>

namespace zo {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

// Buttons, combined with |. Send and Discard are the answers to unsent changes of the window.
enum TMsgDlgBtn : unsigned {
  mbYes = 1,
  mbNo = 2,
  mbOK = 4,
  mbCancel = 8,
  mbSend = 16,
  mbDiscard = 32
};
using TMsgDlgButtons = unsigned;

enum class TModalResult { mrNone, mrOk, mrCancel, mrYes, mrNo, mrSend, mrDiscard };

class UiServices {
 public:
  virtual ~UiServices() = default;

  // A modal message box; the result names the button pressed (mrCancel or mrNo when the box was
  // closed otherwise, whichever of them it has, or mrNone).
  virtual TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType,
                                  TMsgDlgButtons Buttons) = 0;

  // A modal input box; false when cancelled. `Value` holds the initial text and the answer.
  virtual bool InputQuery(const std::string& Caption, const std::string& Prompt,
                          std::string& Value) = 0;

  // The progress dialog: shown (and the main window disabled) unless Caption and Info are both
  // empty, which hides it. Position < Min hides the bar.
  virtual void ShowProgress(const std::string& Caption, const std::string& Info, int Position,
                            int Min, int Max) = 0;
  // The progress dialog's info text and bar position, written directly while it is shown.
  virtual void SetProgressInfo(const std::string& Info) = 0;
  virtual void SetProgressPosition(int Position) = 0;

  // File dialogs for settings files ("ZO setting files (*.zsf)" and "All files (*.*)", default
  // extension "ZSF"); false when cancelled. `FileName` holds the name chosen; for the save dialog
  // it holds the name to suggest on entry (empty: none). The save dialog asks before overwriting.
  virtual bool OpenSettingsFileDialog(std::string& FileName) = 0;
  virtual bool SaveSettingsFileDialog(std::string& FileName) = 0;

  // True once the user has asked the run to stop (the command line's Ctrl+C). A long operation
  // looks at it before each step that cannot be taken back (reprogramming the DL2) and leaves
  // that step out. The window never asks: false.
  virtual bool CancelRequested() { return false; }
};

// The installed services (the silent implementation until one is installed).
UiServices& Ui();

// Installs `ui` (nullptr reinstalls the silent implementation).
void SetUi(UiServices* ui);

// Shorthand for a message box with the OK button only.
void ShowMessageBox(const std::string& Msg, TMsgDlgType DlgType);

}  // namespace zo
