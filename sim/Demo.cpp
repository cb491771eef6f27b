#include "sim/Demo.h"

#include <stdexcept>

#include "data/VersionTable.h"
#include "serial/SimLine.h"
#include "sim/SimDL1Adapter.h"
#include "sim/SimDL2Adapter.h"

namespace zo::sim {

TSimDeviceConfig DemoDeviceConfig(std::int32_t Version) {
  const auto* record = FindBuiltInVersion(Version);
  if (!record) throw std::invalid_argument("no built-in version record " + std::to_string(Version));
  TSimDeviceConfig config;
  config.Record = *record;
  config.TurnaroundMs = 5;
  return config;
}

TDemo::TDemo() {
  devices_.resize(4);
  dl2_.resize(4);
  for (int port = 1; port <= 4; ++port) {
    const std::int32_t version = port == 2 ? DemoChargerVersion : DemoInverterVersion;
    devices_[port - 1] = std::make_shared<SimDevice>(DemoDeviceConfig(version));
    auto line = SimLine::Create("COM" + std::to_string(port) + " (simulated)");
    SimPortRegistry::Bind(static_cast<std::uint8_t>(port), line);
    if (port == 2) {
      dl1_ = std::make_unique<SimDL1Adapter>(line, devices_[1]);
      dl1_->Start();
      continue;
    }
    TSimDL2Config config;
    if (port == 3) config.FirmwareVersion = DemoOldDL2Firmware;
    if (port == 4) config.Variant = TDL2Variant::BadlyProgrammed;
    config.Seed = static_cast<std::uint32_t>(port);
    dl2_[port - 1] = std::make_unique<SimDL2Adapter>(line, devices_[port - 1].get(), config);
    dl2_[port - 1]->Start();
  }
  power_cycler_ = std::thread([this] {
    auto line = SimPortRegistry::Find(4);
    int held = 0;  // polls with the break held on the badly programmed adapter
    while (!stop_.WaitFor(50)) {
      const bool bad = dl2_[3]->State() == TDL2SimState::BadFirmware;
      held = bad && line && line->PortBreak() ? held + 1 : 0;
      if (held >= 6) {
        dl2_[3]->PowerCycle();
        held = 0;
      }
    }
  });
}

TDemo::~TDemo() {
  stop_.Set();
  power_cycler_.join();
  for (auto& adapter : dl2_)
    if (adapter) adapter->Stop();
  if (dl1_) dl1_->Stop();
  for (int port = 1; port <= 4; ++port)
    SimPortRegistry::Unbind(static_cast<std::uint8_t>(port));
}

SimDevice& TDemo::Device(int Port) const {
  return *devices_.at(static_cast<std::size_t>(Port - 1));
}

SimDL2Adapter* TDemo::DL2(int Port) const {
  return dl2_.at(static_cast<std::size_t>(Port - 1)).get();
}

}  // namespace zo::sim
