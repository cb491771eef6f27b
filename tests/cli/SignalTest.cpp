// zocfg's stop signals at known steps of update-firmware, in process on the virtual clock: the
// program's own handlers, a simulated DL2 with old firmware on a port number, and a standard error
// that raises the signals the moment a step shows there (a signal handled at once, on this
// thread, whatever the machine's speed). Signals held over during programming are shown end to
// end (EndToEndTest).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "tests/sim/VirtualRig.h"

namespace zo {
namespace {

constexpr std::int32_t kOldFirmware = 1130110;

// A standard error that keeps what is written and raises `Signals` when `Step` first appears.
class WatchedErr {
 public:
  WatchedErr(std::string Step, std::vector<int> Signals)
      : step_(std::move(Step)), signals_(std::move(Signals)) {
    cookie_io_functions_t io{};
    io.write = &WatchedErr::Write;
    file_ = fopencookie(this, "w", io);
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
  ~WatchedErr() { std::fclose(file_); }
  std::FILE* File() const { return file_; }
  const std::string& Text() const { return text_; }

 private:
  static ssize_t Write(void* Self, const char* Data, std::size_t Size) {
    auto* self = static_cast<WatchedErr*>(Self);
    self->text_.append(Data, Size);
    if (!self->raised_ && !self->step_.empty() &&
        self->text_.find(self->step_) != std::string::npos) {
      self->raised_ = true;
      for (int number : self->signals_)
        std::raise(number);
    }
    return static_cast<ssize_t>(Size);
  }

  std::string step_;
  std::vector<int> signals_;
  std::string text_;
  bool raised_ = false;
  std::FILE* file_ = nullptr;
};

class Signals : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int number : kHandled)
      sigaction(number, nullptr, &saved_[number]);
    InstallInterruptHandlers();
  }
  void TearDown() override {
    ForgetInterrupts();
    for (int number : kHandled)
      sigaction(number, &saved_[number], nullptr);
  }

  // update-firmware --yes on the rig's port; its status, with standard error in `Err`.
  int UpdateFirmware(WatchedErr& Err) {
    TOptions o;
    o.Command = TCommand::UpdateFirmware;
    o.Port = std::to_string(rig_.PortNumber());
    o.Yes = true;
    TTerminalUi ui(Err.File(), true, false);
    SetUi(&ui);
    std::FILE* out = std::tmpfile();
    const int status = RunCommand(o, ui, out);
    std::fclose(out);
    SetUi(nullptr);
    error_text_ = ui.ErrorText();
    return status;
  }

  static constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};
  std::map<int, struct sigaction> saved_;
  test::VirtualRig rig_{{.PortNumber = 250, .FirmwareVersion = kOldFirmware}};
  std::string error_text_;
};

// Outside programming every stop signal ends the run before the DL2 is touched.
TEST_F(Signals, AStopBeforeProgrammingProgramsNothing) {
  {
    WatchedErr err("", {});
    std::raise(SIGHUP);  // before the port is opened
    EXPECT_EQ(UpdateFirmware(err), ExitCommunication) << err.Text();
    EXPECT_EQ(error_text_, "Interrupted.\nNothing was programmed.");
  }
  ForgetInterrupts();
  WatchedErr err("-> Yes (--yes)", {SIGINT});  // between the question and programming
  EXPECT_EQ(UpdateFirmware(err), ExitCommunication) << err.Text();
  EXPECT_EQ(error_text_, "Interrupted.\nNothing was programmed.");
  EXPECT_EQ(rig_.DL2()->CommandsAnswered('S'), 0);
  EXPECT_EQ(rig_.DL2()->FirmwareVersion(), kOldFirmware);
}

}  // namespace
}  // namespace zo
