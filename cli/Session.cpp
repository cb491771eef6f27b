#include "cli/Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "adapter/TextTool.h"
#include "adapter/Textlogger.h"
#include "cli/Outcome.h"
#include "data/CarriedFirmware.h"
#include "drivers/Bustools.h"
#include "platform/Files.h"
#include "serial/PortNames.h"
#include "serial/TraceBackend.h"
#include "settings/Settings.h"
#include "settings/VersionFile.h"
#include "threads/MainThread.h"

namespace zo {

namespace {

// A device named by its path reports this port number; it is never used to open anything.
constexpr std::uint8_t PathPortNumber = 255;
// The longest wait for the bus thread to park: it parks after its current transaction, and a
// detection it runs meanwhile is served by the pumping.
constexpr long long PauseWaitMs = 10000;
constexpr int Command4Tries = 3;

}  // namespace

bool StopRequested() {
  return Interrupted() || !TraceWriteFailure().empty();
}

TSession::TSession(TTerminalUi& Ui, const TOptions& Options) : ui_(Ui), options_(Options) {}

TSession::~TSession() {
  if (bus_ != nullptr) {
    // Cancels its synchronised calls, waits for its end (serving the main thread meanwhile) and
    // frees it; it stops its driver, which frees the port.
    bus_->SafeTerminate(true, true, true);
    bus_ = nullptr;
  }
  if (settings_built_) DoneSettings();
}

int TSession::LoadVersions() {
  std::string error;
  InitSettings(error);
  settings_built_ = true;
  if (!error.empty()) {
    ShowMessageBox(error, TMsgDlgType::mtError);
    const std::string path = VersionFilePath(ExecutableFolder());
    ui_.Context("Looked at: " + path);
    if (error == CannotFindVersionFileText) ui_.Context(WhyUnreadable(path));
    return ExitFile;
  }
  SetLogSize(256);
  return ExitOk;
}

void TSession::StartBusThread() {
  firmware_.SetBinarySourceContents(CarriedFirmwareImage());
  firmware_.Tag = CarriedFirmwareVersion();
  bus_ = new TBusThread(&MonitorList, &firmware_.Stream(), firmware_.Tag);
}

bool TSession::PumpUntil(const std::function<bool()>& Done, long long Ms) {
  const TimePoint deadline = DeadlineAfter(Ms);
  MainThread& main = TheMainThread();
  for (;;) {
    main.ProcessMessages();
    if (Done()) return true;
    if (StopRequested() || Now() >= deadline) return false;
    main.WaitForMessages(20);
  }
}

long long TSession::TimeLeftMs() const {
  const TimePoint now = Now();
  if (now >= deadline_) return 0;
  return static_cast<long long>(MillisecondsBetween(now, deadline_));
}

bool TSession::AcquireBus() {
  bus_->SetPauseRequested(true);
  if (PumpUntil([this] { return bus_->Paused(); }, PauseWaitMs)) return true;
  if (!StopRequested())
    ui_.Note("The bus thread did not pause for the command.", TMsgDlgType::mtError);
  return false;
}

int TSession::Stopped(const std::string& Done) {
  const std::string trace_failure = TraceWriteFailure();
  if (!trace_failure.empty()) {
    ui_.Note("Cannot write the trace file " + options_.Trace + ": " + trace_failure,
             TMsgDlgType::mtError);
  } else {
    ui_.Note("Interrupted.", TMsgDlgType::mtError);
  }
  if (!Done.empty()) ui_.Context(Done);
  return trace_failure.empty() ? ExitCommunication : ExitFile;
}

std::string TSession::NothingDone() const {
  switch (options_.Command) {
    case TCommand::Write:
      return "Nothing was sent to the device.";
    case TCommand::UpdateFirmware:
      return "Nothing was programmed.";
    case TCommand::Read:
      return options_.Out.empty() && options_.Text.empty() ? "" : "Nothing was saved.";
    default:
      return "";
  }
}

void TSession::ReleaseBus() {
  bus_->SetPauseRequested(false);
}

int TSession::OpenPort() {
  TPortTarget target;
  std::string error;
  ParsePort(options_.Port, target, error);  // checked with the command line

  // The trace file first: a file that cannot be created must not cost a detection.
  std::FILE* trace = nullptr;
  if (!options_.Trace.empty()) {
    trace = OpenFile(options_.Trace, "w");
    if (trace == nullptr) {
      const int error = errno;
      ui_.Note("Cannot create trace file: " + options_.Trace, TMsgDlgType::mtError);
      ui_.Context(std::strerror(error));
      return ExitFile;
    }
  }

  std::unique_ptr<SerialBackend> backend;
  std::uint8_t number = target.Number;
  if (number != 0) {
    std::string why;
    backend = OpenSerialDevice(number, why);
    port_name_ = "COM" + std::to_string(number);
    if (!backend) {
      if (trace != nullptr) std::fclose(trace);
      if (!why.empty()) LogText("Cannot open port " + port_name_ + ": " + why);
      ShowMessageBox("Cannot open port: " + port_name_, TMsgDlgType::mtError);
      if (!why.empty()) ui_.Context(why);
      return ExitCommunication;
    }
    port_name_ += " (" + backend->Describe() + ")";
  } else {
    number = PathPortNumber;
    int error_number = 0;
    backend = OpenSerialPath(target.Path, error_number);
    port_name_ = target.Path;
    if (!backend) {
      if (trace != nullptr) std::fclose(trace);
      ShowMessageBox("Cannot open port: " + target.Path, TMsgDlgType::mtError);
      ui_.Context(ExplainOpenFailure(target.Path, error_number));
      return ExitCommunication;
    }
  }
  if (trace != nullptr) {
    backend = std::make_unique<TTraceBackend>(std::move(backend), trace);
    // Its first line is written: a file that takes nothing (a full disk) ends the run here.
    if (!TraceWriteFailure().empty()) return Stopped(NothingDone());
  }

  // Detection runs now, on this thread, and may ask about the DL2's firmware.
  if (!bus_->OpenPortBackend(std::move(backend), number)) {
    ShowMessageBox("Cannot open port: " + port_name_, TMsgDlgType::mtError);
    ui_.Context("the line settings could not be programmed");
    return ExitCommunication;
  }
  return ExitOk;
}

int TSession::OpenAdapter() {
  StartBusThread();
  deadline_ = DeadlineAfter(options_.TimeoutMs);
  if (!AcquireBus()) return StopRequested() ? Stopped(NothingDone()) : ExitCommunication;
  const int declined_before = ui_.QuestionsDeclined();
  const int opened = OpenPort();
  if (opened != ExitOk) return opened;

  std::string log;
  GetLogText(log);
  adapter_ = AdapterFromLog(log);
  // The bus thread resumes; while it has no driver it detects again every 100 ms or so. A
  // question declined (a badly programmed DL2 that is not to be reprogrammed) would only be asked
  // again, and a reprogram wants the device switched off and on first: both end the wait.
  ReleaseBus();
  if (Driver() == nullptr && !adapter_.ReprogramStarted) {
    PumpUntil(
        [&] {
          if (Driver() != nullptr || ui_.QuestionsDeclined() != declined_before) return true;
          GetLogText(log);
          return AdapterFromLog(log).ReprogramStarted;
        },
        TimeLeftMs());
    GetLogText(log);
    adapter_ = AdapterFromLog(log);
  }
  if (Driver() != nullptr && !StopRequested()) return ExitOk;
  if (adapter_.ReprogramStarted && !adapter_.ReprogramStopped) {
    // The caller (update-firmware) reports the reprogram, and a stop held over during it.
  } else if (StopRequested()) {
    // A stop before programming leaves the DL2's firmware out.
    const int status = Stopped(NothingDone());
    if (adapter_.ReprogramStopped)
      ui_.Context("If the DL2 does not answer now, switch the device off and on.");
    return status;
  } else if (adapter_.Kind == "badly programmed DL2") {
    ui_.Note("No usable interface adapter on " + port_name_ +
                 ": the DL2 is badly programmed (zocfg update-firmware --yes reprograms it).",
             TMsgDlgType::mtError);
  } else {
    ui_.Note("No interface adapter answered on " + port_name_ + ".", TMsgDlgType::mtError);
  }
  return ExitCommunication;
}

int TSession::ConnectTarget() {
  if (!PumpUntil([this] { return bus_->EffectiveVersion() > 0; }, TimeLeftMs())) {
    if (StopRequested()) return Stopped(NothingDone());
    ui_.Note("No target: the device behind the " + adapter_.Kind + " on " + port_name_ +
                 " does not answer (no software version).",
             TMsgDlgType::mtError);
    return ExitCommunication;
  }
  target_version_ = bus_->EffectiveVersion();
  if (!AcquireBus()) return StopRequested() ? Stopped(NothingDone()) : ExitCommunication;
  TBusDriver* driver = Driver();

  if (!SelectVersion(target_version_)) {
    ShowMessageBox("Software version: " + std::to_string(target_version_) + " is not supported!",
                   TMsgDlgType::mtError);
    return ExitCommunication;
  }
  ui_.Busy("Target found!\rRetrieving data.");
  bool sent = false;
  const std::uint8_t access = DeviceFamily() == 14 ? 160 : 0;
  for (int attempt = 0; attempt < Command4Tries && !sent; ++attempt)
    sent = SendCommand4(*driver, access);
  TSettingsSteps steps;
  steps.Stop = StopRequested;
  const bool ok = sent && !StopRequested() && ReadSettings(driver, steps);
  GetDeviceTypeName(device_type_);
  if (StopRequested()) return Stopped(NothingDone());
  if (!ok) {
    ShowMessageBox("Error during communication!", TMsgDlgType::mtError);
    if (!sent)
      ui_.Context("Command 4: not sent after " + std::to_string(Command4Tries) + " tries");
    else
      ui_.Context(LastLogLine("Read settings:"));
    return ExitCommunication;
  }
  return ExitOk;
}

}  // namespace zo
