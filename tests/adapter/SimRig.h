// Test rig of the adapter and connection tests: a simulated line bound to a port number with a
// simulated DL1 or DL2 and a device behind it, the text log, and user-interface services whose
// message boxes can act as the user does (switching the device off and on).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "adapter/Textlogger.h"
#include "data/VersionTable.h"
#include "serial/RS232o.h"
#include "serial/SimLine.h"
#include "sim/SimDL1Adapter.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "tests/support/ScriptedUi.h"
#include "threads/Clock.h"
#include "threads/MainThread.h"

namespace zo::test {

// Pumps the main thread's calls until `Pred` holds or `Ms` have passed; returns Pred().
template <class Pred>
bool PumpUntil(Pred Condition, int Ms = 5000) {
  const TimePoint deadline = DeadlineAfter(Ms);
  MainThread& main = TheMainThread();
  for (;;) {
    main.ProcessMessages();
    if (Condition()) return true;
    if (Now() >= deadline) return false;
    main.WaitForMessages(5);
  }
}

// A device of a built-in version with every monitor value, answering after 2 ms.
inline sim::TSimDeviceConfig DeviceOf(std::int32_t Version = 1711104) {
  sim::TSimDeviceConfig c;
  const auto* record = FindBuiltInVersion(Version);
  if (record != nullptr) {
    c.Record = *record;
  } else {
    c.Record.fill(-1);
    c.Record[0] = Version;
  }
  c.TurnaroundMs = 2;
  return c;
}

// A DL2 with the given firmware version and bootblock, in mode 1 or (NineBit) 2.
inline sim::TSimDL2Config DL2Of(std::int32_t Firmware, sim::TDL2Variant Variant,
                                bool NineBit = false) {
  sim::TSimDL2Config c;
  c.FirmwareVersion = Firmware;
  c.Variant = Variant;
  c.NineBit = NineBit;
  return c;
}

// A simulated line on port `Number`, with whatever adapter a test starts on it.
class SimRig {
 public:
  explicit SimRig(std::uint8_t Number = 7, const sim::TSimDeviceConfig& Device = DeviceOf())
      : number_(Number), device_(std::make_shared<sim::SimDevice>(Device)) {
    SimPortRegistry::Bind(number_, line_);
    SetLogSize(0);
    SetLogSize(256);
  }
  ~SimRig() {
    if (dl2_) dl2_->Stop();
    if (dl1_) dl1_->Stop();
    SimPortRegistry::Unbind(number_);
    SetLogSize(0);
  }

  sim::SimDL2Adapter& StartDL2(const sim::TSimDL2Config& Config) {
    dl2_ = std::make_unique<sim::SimDL2Adapter>(line_, device_.get(), Config);
    dl2_->Start();
    return *dl2_;
  }
  sim::SimDL1Adapter& StartDL1() {
    dl1_ = std::make_unique<sim::SimDL1Adapter>(line_, device_);
    dl1_->Start();
    return *dl1_;
  }

  // A port opened as the bus thread opens it (1200 baud, no parity, 1024-byte queues).
  std::unique_ptr<TRS232o> OpenPort() {
    auto port = std::make_unique<TRS232o>();
    port->Open(number_, 1200, 'N', 1024, 1024);
    return port;
  }

  std::uint8_t Number() const { return number_; }
  SimLine& Line() { return *line_; }
  const std::shared_ptr<SimLine>& LinePtr() { return line_; }
  sim::SimDevice& Device() { return *device_; }
  sim::SimDL2Adapter& DL2() { return *dl2_; }
  sim::SimDL1Adapter& DL1() { return *dl1_; }

 private:
  std::uint8_t number_;
  std::shared_ptr<SimLine> line_ = SimLine::Create("rig");
  std::shared_ptr<sim::SimDevice> device_;
  std::unique_ptr<sim::SimDL2Adapter> dl2_;
  std::unique_ptr<sim::SimDL1Adapter> dl1_;
};

// The text log as it reads ("\r" in a message starts a new line, ended by CR LF). The log gives
// an empty text while another thread is writing to it, so an empty text is asked for again (for
// up to a fifth of a second of real time) before it counts as the log's.
inline std::string Log() {
  std::string text;
  for (int attempt = 0; attempt < 200; ++attempt) {
    GetLogText(text);
    if (!text.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return text;
}

// Whether the log holds `Message` as the lines of one entry.
inline bool LogHas(const std::string& Message) {
  std::string lines;
  for (char c : Message)
    lines += c == '\r' ? std::string("\r\n") : std::string(1, c);
  return Log().find(lines + "\r\n") != std::string::npos;
}

}  // namespace zo::test
