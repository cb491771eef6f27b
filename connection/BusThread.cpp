#include "connection/BusThread.h"

#include <algorithm>
#include <chrono>

#include "adapter/DlxTools.h"
#include "adapter/Textlogger.h"
#include "drivers/Bustools.h"
#include "serial/PortNames.h"
#include "threads/UiServices.h"

namespace zo {

TBusThread::TBusThread(TMonitorList* MonitorList_, std::istream* FirmwareStream_,
                       std::int32_t FirmwareVersion_)
    : TSafeThread(true),
      FirmwareStream(FirmwareStream_),
      FirmwareVersion(FirmwareVersion_),
      MonitorList(MonitorList_),
      port_(std::make_unique<TRS232o>()) {
  SetPriority(tpHighest);
  Resume();
}

TBusThread::~TBusThread() {
  StopDriver();
  port_.reset();
}

void TBusThread::StopDriver() {
  scheduling_logged_for_ = nullptr;
  TBusDriver* driver = driver_.exchange(nullptr);
  if (driver) driver->SafeTerminate(true, true, true);
}

std::int32_t TBusThread::EffectiveVersion() const {
  const std::int32_t overruled = overruled_version_.load();
  return overruled >= 0 ? overruled : detected_version_.load();
}

void TBusThread::SetPauseRequested(bool Value) {
  std::lock_guard<std::mutex> lock(pause_mutex_);
  pause_requested_ = Value;
}

bool TBusThread::PauseRequested() const {
  std::lock_guard<std::mutex> lock(pause_mutex_);
  return pause_requested_;
}

bool TBusThread::PauseAcknowledged() const {
  std::lock_guard<std::mutex> lock(pause_mutex_);
  return pause_acknowledged_;
}

bool TBusThread::Paused() const {
  std::lock_guard<std::mutex> lock(pause_mutex_);
  return pause_requested_ && pause_acknowledged_;
}

TBusState TBusThread::State() const {
  if (Paused()) return TBusState::Paused;
  if (driver_.load() == nullptr) return TBusState::NoInterface;
  if (detected_version_.load() < 0) return TBusState::NoTarget;
  return TBusState::Monitoring;
}

void TBusThread::CreateDriver() {
  TBusDriver* driver =
      DetectInterface(port_.get(), true, FirmwareStream, FirmwareVersion, &bad_dl2_declined_);
  if (driver != nullptr) {
    port_.release();  // the driver owns the port now
    driver_.store(driver);
  }
}

bool TBusThread::VersionSelected() const {
  return CurrentVersion != nullptr && CurrentVersion->Items(ItemVersion) == EffectiveVersion();
}

void TBusThread::UpdateMonitorLabel() {
  (*MonitorList)[static_cast<std::size_t>(MonitorIndex)]->ShowValue();
}

bool TBusThread::OpenPort(std::uint8_t PortNumber) {
  if (!Paused()) return false;
  StopDriver();
  port_gone_.store(false);
  bad_dl2_declined_ = false;
  port_ = std::make_unique<TRS232o>();
  port_->Open(PortNumber, 1200, 'N', 1024, 1024);
  if (port_->PortNumber != 0) {
    // Only the same device, should the port number reach another one by then.
    PortOpened([PortNumber, device = port_->DeviceName()](std::string& Why) {
      std::unique_ptr<SerialBackend> backend = OpenSerialDevice(PortNumber, Why);
      if (backend && backend->Describe() != device) {
        Why = "COM" + std::to_string(PortNumber) + " now reaches " + backend->Describe();
        backend.reset();
      }
      return backend;
    });
    CreateDriver();
    return true;
  }
  if (!port_->OpenFailure().empty())
    LogText("Cannot open port COM" + std::to_string(PortNumber) + ": " + port_->OpenFailure());
  ShowMessageBox("Cannot open port: COM" + std::to_string(PortNumber), TMsgDlgType::mtError);
  return false;
}

bool TBusThread::OpenPortBackend(std::unique_ptr<SerialBackend> Backend, std::uint8_t PortNumber,
                                 TReopenDevice Reopen) {
  if (!Paused()) return false;
  StopDriver();
  port_gone_.store(false);
  bad_dl2_declined_ = false;
  port_ = std::make_unique<TRS232o>();
  if (!port_->OpenBackend(std::move(Backend), PortNumber, 1200, 'N', 1024, 1024)) return false;
  PortOpened(std::move(Reopen));
  CreateDriver();
  return true;
}

void TBusThread::PortOpened(TReopenDevice Reopen) {
  port_number_ = port_->PortNumber;
  port_device_ = port_->DeviceName();
  reopen_ = std::move(Reopen);
  const std::string note = port_->OpenNote();
  if (!note.empty()) LogText(PortLabel() + ": " + note);
}

std::string TBusThread::PortLabel() const {
  return "COM" + std::to_string(port_number_) + " (" + port_device_ + ")";
}

bool TBusThread::PortVanished() {
  if (port_gone_.load()) return false;
  TBusDriver* driver = driver_.load();
  if (driver != nullptr) return driver->PortVanished();
  return port_ && port_->PortNumber != 0 && port_->Vanished();
}

void TBusThread::ClosePortGone() {
  LogText(PortLabel() + " has vanished (adapter unplugged?)");
  StopDriver();
  port_ = std::make_unique<TRS232o>();
  detected_version_.store(-1);
  port_gone_.store(true);
  next_reopen_ = Now();
  if (reopen_) {
    LogText(PortLabel() + ": port closed; opening it again when it is back");
  } else {
    LogText(PortLabel() + ": port closed");
  }
}

void TBusThread::TryReopen() {
  // Short steps, so that a pause request is still answered within one.
  constexpr long long kStepMs = 100;
  const TimePoint now = Now();
  if (!reopen_) {
    Delay(kStepMs);
    return;
  }
  if (now < next_reopen_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_reopen_ - now);
    Delay(static_cast<std::uint32_t>(std::clamp<long long>(left.count(), 1, kStepMs)));
    return;
  }
  next_reopen_ = now + std::chrono::milliseconds(ReopenIntervalMs);
  std::string why;
  std::unique_ptr<SerialBackend> backend = reopen_(why);
  if (!backend) return;
  auto port = std::make_unique<TRS232o>();
  if (!port->OpenBackend(std::move(backend), port_number_, 1200, 'N', 1024, 1024)) return;
  port_ = std::move(port);
  port_gone_.store(false);
  LogText(PortLabel() + " is back: port opened again");
  const std::string note = port_->OpenNote();
  if (!note.empty()) LogText(PortLabel() + ": " + note);
}

void TBusThread::LogDriverScheduling(TBusDriver* Driver) {
  if (Driver == scheduling_logged_for_) return;
  const std::string report = Driver->SchedulingReport();
  if (report.empty()) return;  // the driver thread has not started yet
  scheduling_logged_for_ = Driver;
  LogText("Driver thread priority: " + report);
}

void TBusThread::Execute() {
  while (!Terminated()) {
    bool paused;
    {
      std::lock_guard<std::mutex> lock(pause_mutex_);
      pause_acknowledged_ = pause_requested_;
      paused = pause_requested_;
    }
    TLiveHistory* history = live_history_.load();
    if (paused) {
      if (history) history->Idle(Now());
      Delay(20);
      continue;
    }
    if (port_gone_.load()) {
      TryReopen();
      continue;
    }
    if (PortVanished()) {
      SafeSynchronize([this] { ClosePortGone(); });
      continue;
    }
    TBusDriver* driver = driver_.load();
    if (driver != nullptr) LogDriverScheduling(driver);
    if (driver == nullptr) {
      if (history) history->Idle(Now());
      SafeSynchronize([this] { CreateDriver(); });
      if (driver_.load() == nullptr) Delay(100);
      continue;
    }
    if (detected_version_.load() < 0) {
      detected_version_.store(ReadSoftwareVersion(*driver));
      ErrorCount = 0;
      if (history && detected_version_.load() < 0) history->Idle(Now());
      continue;
    }
    if (!VersionSelected()) {
      // The settings model holds another version's addresses (the window has not taken this
      // target yet): reading them from this device would give false values, so only keep-alives
      // go out, which still tell when the target is lost.
      MonitorIndex = 0;
      if (!driver->Send(KeepAliveFrame)) ++ErrorCount;
      if (history) history->Idle(Now());
    } else if (MonitorList != nullptr &&
               MonitorIndex < static_cast<std::int32_t>(MonitorList->size())) {
      TSetting& setting = *(*MonitorList)[static_cast<std::size_t>(MonitorIndex)]->Setting;
      if (setting.IsPresent()) {
        const bool read = setting.ReadFrom(driver);
        if (history) {
          const auto& entry = *(*MonitorList)[static_cast<std::size_t>(MonitorIndex)];
          history->ValueRead(entry.LabelName, read, read ? setting.AsText() : "", Now());
        }
        if (read) {
          SafeSynchronize([this] { UpdateMonitorLabel(); });
          ErrorCount = 0;
        } else {
          ++ErrorCount;
        }
      }
      ++MonitorIndex;
    } else {
      MonitorIndex = 0;
      KeepAliveFrame[0] = 3;
      KeepAliveFrame[1] = 3;
      if (!driver->Send(KeepAliveFrame)) ++ErrorCount;
      if (history) history->CycleEnded(Now());
    }
    if (ErrorCount > 10) detected_version_.store(-1);
  }
  std::lock_guard<std::mutex> lock(pause_mutex_);
  pause_acknowledged_ = true;
}

}  // namespace zo
