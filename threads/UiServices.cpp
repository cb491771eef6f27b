#include "threads/UiServices.h"

#include <atomic>

namespace zo {

namespace {

class SilentUi final : public UiServices {
 public:
  TModalResult MessageDlg(const std::string&, TMsgDlgType, TMsgDlgButtons Buttons) override {
    if (Buttons & mbCancel) return TModalResult::mrCancel;
    if (Buttons & mbNo) return TModalResult::mrNo;
    if (Buttons & mbOK) return TModalResult::mrOk;
    return TModalResult::mrNone;
  }
  bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }
  void ShowProgress(const std::string&, const std::string&, int, int, int) override {}
  void SetProgressInfo(const std::string&) override {}
  void SetProgressPosition(int) override {}
  bool OpenSettingsFileDialog(std::string&) override { return false; }
  bool SaveSettingsFileDialog(std::string&) override { return false; }
};

SilentUi& TheSilentUi() {
  static SilentUi ui;
  return ui;
}

std::atomic<UiServices*> installed_ui{nullptr};

}  // namespace

UiServices& Ui() {
  UiServices* ui = installed_ui.load(std::memory_order_acquire);
  return ui ? *ui : TheSilentUi();
}

void SetUi(UiServices* ui) {
  installed_ui.store(ui, std::memory_order_release);
}

void ShowMessageBox(const std::string& Msg, TMsgDlgType DlgType) {
  Ui().MessageDlg(Msg, DlgType, mbOK);
}

}  // namespace zo
