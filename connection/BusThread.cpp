#include "connection/BusThread.h"

#include "adapter/DlxTools.h"
#include "adapter/Textlogger.h"
#include "drivers/Bustools.h"
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
  TBusDriver* driver = DetectInterface(port_.get(), true, FirmwareStream, FirmwareVersion);
  if (driver != nullptr) {
    port_.release();  // the driver owns the port now
    driver_.store(driver);
  }
}

void TBusThread::UpdateMonitorLabel() {
  (*MonitorList)[static_cast<std::size_t>(MonitorIndex)]->ShowValue();
}

bool TBusThread::OpenPort(std::uint8_t PortNumber) {
  if (!Paused()) return false;
  StopDriver();
  port_ = std::make_unique<TRS232o>();
  port_->Open(PortNumber, 1200, 'N', 1024, 1024);
  if (port_->PortNumber != 0) {
    CreateDriver();
    return true;
  }
  if (!port_->OpenFailure().empty())
    LogText("Cannot open port COM" + std::to_string(PortNumber) + ": " + port_->OpenFailure());
  ShowMessageBox("Cannot open port: COM" + std::to_string(PortNumber), TMsgDlgType::mtError);
  return false;
}

bool TBusThread::OpenPortBackend(std::unique_ptr<SerialBackend> Backend, std::uint8_t PortNumber) {
  if (!Paused()) return false;
  StopDriver();
  port_ = std::make_unique<TRS232o>();
  if (!port_->OpenBackend(std::move(Backend), PortNumber, 1200, 'N', 1024, 1024)) return false;
  CreateDriver();
  return true;
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
    TBusDriver* driver = driver_.load();
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
    if (MonitorList != nullptr && MonitorIndex < static_cast<std::int32_t>(MonitorList->size())) {
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
