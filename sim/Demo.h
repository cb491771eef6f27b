// The demonstration wiring of `zoconfigure --simulate`: simulated adapters and devices bound to
// COM1 to COM4, so that the program can be tried without hardware.
//
//   COM1  DL2 (ZOBus mode, firmware as carried) with a family-17 24 V inverter/charger
//   COM2  DL1 with a family-14 charger
//   COM3  DL2 with firmware older than the carried image (1130110), so the update is offered
//   COM4  a badly programmed DL2 (only its bootblock can be reached)
//
// The demonstration plays the user's part where the program asks to switch the device off and
// on: when COM4's port has held the break for a moment while its adapter is badly programmed, the
// device is power-cycled, so its bootblock can be reached and the reprogram can run.
//
// The program's own code never includes a simulator; only its main source calls this, and only
// when --simulate is given.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "threads/Event.h"

#include "sim/SimDevice.h"

namespace zo::sim {

class SimDL1Adapter;
class SimDL2Adapter;

// The software versions of the demonstration devices (records of the built-in version table).
constexpr std::int32_t DemoInverterVersion = 1711107;  // Corvane Multi 230Vac 24H
constexpr std::int32_t DemoChargerVersion = 1400012;   // Corvane Charger 12/50
constexpr std::int32_t DemoOldDL2Firmware = 1130110;

class TDemo {
 public:
  // Creates the devices and adapters, binds COM1 to COM4 and powers the adapters on.
  TDemo();
  // Powers the adapters off and unbinds the four ports. After every port user has closed.
  ~TDemo();
  TDemo(const TDemo&) = delete;
  TDemo& operator=(const TDemo&) = delete;

  // The device behind COM `Port` (1 to 4).
  SimDevice& Device(int Port) const;
  SimDL2Adapter* DL2(int Port) const;  // null for COM2

 private:
  std::vector<std::shared_ptr<SimDevice>> devices_;  // index Port - 1
  std::vector<std::unique_ptr<SimDL2Adapter>> dl2_;  // index Port - 1, null for COM2
  std::unique_ptr<SimDL1Adapter> dl1_;
  TEvent stop_;
  std::thread power_cycler_;  // plays the user who switches COM4's device off and on
};

// The device configuration of a demonstration device of `Version` (its built-in record).
TSimDeviceConfig DemoDeviceConfig(std::int32_t Version);

}  // namespace zo::sim
