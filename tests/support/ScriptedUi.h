// UI services for tests: records every message and answers from a script.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "threads/UiServices.h"

namespace zo::test {

class ScriptedUi final : public UiServices {
 public:
  struct Message {
    std::string Text;
    TMsgDlgType Type;
    TMsgDlgButtons Buttons;
  };
  struct Progress {
    std::string Caption, Info;
    int Position, Min, Max;
  };

  // Installs itself; the destructor reinstalls the silent services.
  ScriptedUi();
  ~ScriptedUi() override;

  // Answers for the next message boxes, in order. When the script is empty, a box is answered
  // with OK if it has that button, else No, else Cancel.
  void AnswerNext(TModalResult Answer);
  // Answers for the next input boxes: a text, or cancel.
  void InputNext(const std::string& Text);
  void CancelNextInput();
  void FileNameNext(const std::string& FileName);  // "" cancels
  // The names the save dialogs suggested so far, in order.
  std::vector<std::string> SuggestedFileNames();
  // Runs `Action` whenever a box whose text starts with `Prefix` appears, before it is answered
  // (a test's user switching the device off and on, for example).
  void OnMessage(const std::string& Prefix, std::function<void()> Action);
  // The user's request to stop (CancelRequested) holds whenever `Condition` does; none by default.
  void CancelWhen(std::function<bool()> Condition);

  std::vector<Message> Messages();
  std::vector<std::string> MessageTexts();
  std::vector<Progress> ProgressCalls();
  std::vector<std::string> ProgressInfos();
  std::vector<int> ProgressPositions();
  int InputCount();
  void Clear();

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
  bool CancelRequested() override;

 private:
  bool NextFileName(std::string& FileName);

  std::mutex mutex_;
  std::vector<std::pair<std::string, std::function<void()>>> actions_;
  std::function<bool()> cancel_;
  std::deque<TModalResult> answers_;
  std::deque<std::pair<bool, std::string>> inputs_;
  std::deque<std::string> file_names_;
  std::vector<std::string> suggested_;
  std::vector<Message> messages_;
  std::vector<Progress> progress_;
  std::vector<std::string> progress_infos_;
  std::vector<int> progress_positions_;
  int input_count_ = 0;
};

}  // namespace zo::test
