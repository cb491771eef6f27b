// A whole bench on the virtual clock: a simulated line bound to a port number, a simulated DL1 or
// DL2 adapter on it and a simulated device behind that, for tests that run complete exchanges
// (detection, reading all settings, polling, reprogramming) and inject faults into them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "adapter/DlxTools.h"
#include "data/VersionTable.h"
#include "drivers/Bustools.h"
#include "drivers/DL1Drv.h"
#include "drivers/DL2DRV.h"
#include "serial/RS232o.h"
#include "serial/SimLine.h"
#include "sim/SimDL1Adapter.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/VirtualClock.h"
#include "threads/UiServices.h"

namespace zo::test {

enum class TRigAdapter { DL2, DL2NineBit, DL2OldBootblock, DL2BadlyProgrammed, DL1 };

// Wire time of one byte: start bit, 8 data bits, parity bit where used, stop bit.
constexpr double DL2ByteMs = 10.0 * 1000.0 / DL2Baud;
constexpr double DL1ByteMs = 11.0 * 1000.0 / DL1Baud;

struct TRigOptions {
  TRigAdapter Adapter = TRigAdapter::DL2;
  std::int32_t Version = 1711104;  // a version of the built-in table
  int TurnaroundMs = 0;            // the device answers at once: timings show the protocol alone
  int LedBytesEvery = 0;           // DL2: no LED bytes on replies unless asked for
  std::uint32_t Seed = 1;
  std::uint8_t PortNumber = 7;
  bool LiveMonitors = true;                // false: monitor values stay as the test stores them
  bool BusTraffic = false;                 // DL2: other stations' frames about once a second
  int TrafficIntervalMs = 1000;            // DL2: their mean interval, with 30 % jitter
  std::int32_t FirmwareVersion = 1130118;  // DL2: the firmware in its flash
  sim::TSimBootblockConfig Bootblock{};    // DL2: faults of its bootblock
  int WatchdogSeconds = 60;                // see VirtualClock
  bool Announce = true;                    // DL2: announces itself with 'V' when it starts
};

class VirtualRig {
 public:
  explicit VirtualRig(const TRigOptions& Options = {})
      : clock_(Options.WatchdogSeconds), options_(Options) {
    sim::TSimDeviceConfig device;
    const auto* record = FindBuiltInVersion(Options.Version);
    if (record != nullptr) {
      device.Record = *record;
    } else {
      ADD_FAILURE() << "the version table lacks " << Options.Version;
      device.Record.fill(-1);
      device.Record[0] = Options.Version;
    }
    device.TurnaroundMs = Options.TurnaroundMs;
    device.LiveMonitors = Options.LiveMonitors;
    device_ = std::make_shared<sim::SimDevice>(device);
    line_ = SimLine::Create("rig");
    SimPortRegistry::Bind(Options.PortNumber, line_);
    if (Options.Adapter == TRigAdapter::DL1) {
      sim::TSimDL1Config config;
      config.Seed = Options.Seed;
      dl1_ = std::make_unique<sim::SimDL1Adapter>(line_, device_, config);
      dl1_->Start();
    } else {
      sim::TSimDL2Config config;
      config.NineBit = Options.Adapter == TRigAdapter::DL2NineBit;
      if (Options.Adapter == TRigAdapter::DL2OldBootblock)
        config.Variant = sim::TDL2Variant::OldBootblock;
      if (Options.Adapter == TRigAdapter::DL2BadlyProgrammed)
        config.Variant = sim::TDL2Variant::BadlyProgrammed;
      config.LedBytesEvery = Options.LedBytesEvery;
      config.BusTraffic = Options.BusTraffic;
      config.TrafficIntervalMs = Options.TrafficIntervalMs;
      config.FirmwareVersion = Options.FirmwareVersion;
      config.Bootblock = Options.Bootblock;
      config.Seed = Options.Seed;
      config.AnnounceOnStart = Options.Announce;
      dl2_ = std::make_unique<sim::SimDL2Adapter>(line_, device_.get(), config);
      dl2_->Start();
    }
    // Let the power-on announcement pass: detection starts on a quiet line. Not a multiple of the
    // simulators' periods, so that no two events fall on the same virtual instant by chance.
    Delay(475);
  }

  ~VirtualRig() {
    StopDriver();
    delete port_;
    if (dl2_) dl2_->Stop();
    if (dl1_) dl1_->Stop();
    SimPortRegistry::Unbind(options_.PortNumber);
  }

  VirtualRig(const VirtualRig&) = delete;
  VirtualRig& operator=(const VirtualRig&) = delete;

  VirtualClock& Clock() { return clock_; }
  SimLine& Line() { return *line_; }
  const std::shared_ptr<SimLine>& LinePtr() { return line_; }
  sim::SimDevice& Device() { return *device_; }
  sim::SimDL2Adapter* DL2() { return dl2_.get(); }
  sim::SimDL1Adapter* DL1() { return dl1_.get(); }
  std::uint8_t PortNumber() const { return options_.PortNumber; }

  // Opens the port as the bus thread does (1200 baud, no parity, 1024-byte queues) and runs
  // detection without a firmware image. The driver, or nullptr.
  TBusDriver* Detect() {
    StopDriver();
    delete port_;
    port_ = new TRS232o;
    if (!port_->Open(options_.PortNumber, 1200, 'N', 1024, 1024)) {
      ADD_FAILURE() << "the simulated port did not open";
      return nullptr;
    }
    driver_ = DetectInterface(port_, true, nullptr, 0);
    if (driver_ != nullptr) port_ = nullptr;  // the driver owns it
    return driver_;
  }

  TBusDriver* Driver() { return driver_; }

  void StopDriver() {
    if (driver_ != nullptr) driver_->SafeTerminate(true, true, true);
    driver_ = nullptr;
  }

 private:
  VirtualClock clock_;  // first: it outlives every thread of the rig
  TRigOptions options_;
  std::shared_ptr<sim::SimDevice> device_;
  std::shared_ptr<SimLine> line_;
  std::unique_ptr<sim::SimDL2Adapter> dl2_;
  std::unique_ptr<sim::SimDL1Adapter> dl1_;
  TRS232o* port_ = nullptr;
  TBusDriver* driver_ = nullptr;
};

// Scripted UI services whose user switches the simulated DL2 off and on when asked to.
inline void PowerCycleWhenAsked(ScriptedUi& Ui, sim::SimDL2Adapter* Adapter) {
  Ui.OnMessage("Please switch the device off and on", [Adapter] {
    if (Adapter != nullptr) Adapter->PowerCycle();
  });
}

// Virtual milliseconds that `Body` takes.
template <class Body>
double VirtualMs(Body body) {
  const TimePoint start = Now();
  body();
  return MillisecondsBetween(start, Now());
}

}  // namespace zo::test
