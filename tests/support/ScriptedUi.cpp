#include "tests/support/ScriptedUi.h"

namespace zo::test {

ScriptedUi::ScriptedUi() {
  SetUi(this);
}
ScriptedUi::~ScriptedUi() {
  SetUi(nullptr);
}

void ScriptedUi::AnswerNext(TModalResult Answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(Answer);
}

void ScriptedUi::InputNext(const std::string& Text) {
  std::lock_guard<std::mutex> lock(mutex_);
  inputs_.emplace_back(true, Text);
}

void ScriptedUi::CancelNextInput() {
  std::lock_guard<std::mutex> lock(mutex_);
  inputs_.emplace_back(false, std::string());
}

void ScriptedUi::FileNameNext(const std::string& FileName) {
  std::lock_guard<std::mutex> lock(mutex_);
  file_names_.push_back(FileName);
}

void ScriptedUi::OnMessage(const std::string& Prefix, std::function<void()> Action) {
  std::lock_guard<std::mutex> lock(mutex_);
  actions_.emplace_back(Prefix, std::move(Action));
}

void ScriptedUi::CancelWhen(std::function<bool()> Condition) {
  std::lock_guard<std::mutex> lock(mutex_);
  cancel_ = std::move(Condition);
}

bool ScriptedUi::CancelRequested() {
  std::function<bool()> condition;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    condition = cancel_;
  }
  return condition && condition();
}

std::vector<ScriptedUi::Message> ScriptedUi::Messages() {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<std::string> ScriptedUi::MessageTexts() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> texts;
  for (const Message& m : messages_)
    texts.push_back(m.Text);
  return texts;
}

std::vector<ScriptedUi::Progress> ScriptedUi::ProgressCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_;
}

std::vector<std::string> ScriptedUi::ProgressInfos() {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_infos_;
}

std::vector<int> ScriptedUi::ProgressPositions() {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_positions_;
}

int ScriptedUi::InputCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return input_count_;
}

void ScriptedUi::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
  progress_.clear();
  progress_infos_.clear();
  progress_positions_.clear();
  input_count_ = 0;
}

TModalResult ScriptedUi::MessageDlg(const std::string& Msg, TMsgDlgType DlgType,
                                    TMsgDlgButtons Buttons) {
  std::vector<std::function<void()>> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [prefix, action] : actions_)
      if (Msg.rfind(prefix, 0) == 0) due.push_back(action);
  }
  for (const auto& action : due)
    action();
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back({Msg, DlgType, Buttons});
  if (!answers_.empty()) {
    const TModalResult answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  if (Buttons & mbOK) return TModalResult::mrOk;
  if (Buttons & mbNo) return TModalResult::mrNo;
  if (Buttons & mbCancel) return TModalResult::mrCancel;
  return TModalResult::mrNone;
}

bool ScriptedUi::InputQuery(const std::string&, const std::string&, std::string& Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++input_count_;
  if (inputs_.empty()) return false;
  auto [ok, text] = inputs_.front();
  inputs_.pop_front();
  if (ok) Value = text;
  return ok;
}

void ScriptedUi::ShowProgress(const std::string& Caption, const std::string& Info, int Position,
                              int Min, int Max) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_.push_back({Caption, Info, Position, Min, Max});
}

void ScriptedUi::SetProgressInfo(const std::string& Info) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_infos_.push_back(Info);
}

void ScriptedUi::SetProgressPosition(int Position) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_positions_.push_back(Position);
}

bool ScriptedUi::NextFileName(std::string& FileName) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_names_.empty()) return false;
  FileName = file_names_.front();
  file_names_.pop_front();
  return !FileName.empty();
}

bool ScriptedUi::OpenSettingsFileDialog(std::string& FileName) {
  return NextFileName(FileName);
}
bool ScriptedUi::SaveSettingsFileDialog(std::string& FileName) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    suggested_.push_back(FileName);
  }
  return NextFileName(FileName);
}

std::vector<std::string> ScriptedUi::SuggestedFileNames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return suggested_;
}

}  // namespace zo::test
