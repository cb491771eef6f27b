// The simulated DL1 with a device behind it, driven by the real TDL1Driver, on the virtual clock.
#include <gtest/gtest.h>

#include <memory>

#include "drivers/Bustools.h"
#include "drivers/DL1Drv.h"
#include "serial/RS232o.h"
#include "serial/SimLine.h"
#include "sim/SimDL1Adapter.h"
#include "sim/SimDevice.h"
#include "tests/support/VirtualClock.h"
#include "threads/Clock.h"

namespace zo::sim {
namespace {

TSimDeviceConfig DeviceWithVersion(std::int32_t Version) {
  TSimDeviceConfig config;
  config.Record.fill(-1);
  config.Record[0] = Version;
  config.Record[8] = 0x0040;  // absorption voltage, a word setting
  config.TurnaroundMs = 2;
  return config;
}

// A line with the simulated DL1 and a device on it; the port opened as the bus thread opens it.
class DL1Bus : public ::testing::Test {
 protected:
  void Open(const TSimDeviceConfig& device_config, const TSimDL1Config& config = {}) {
    device_ = std::make_shared<SimDevice>(device_config);
    adapter_ = std::make_unique<SimDL1Adapter>(line_, device_, config);
    adapter_->Start();
    SimPortRegistry::Bind(5, line_);
    port_ = new TRS232o();
    ASSERT_TRUE(port_->Open(5, 1200, 'N', 1024, 1024));
  }
  void StartDriver() {
    driver_ = new TDL1Driver(port_);
    port_ = nullptr;
  }
  void TearDown() override {
    if (driver_) driver_->SafeTerminate(true, true, true);
    delete port_;
    if (adapter_) adapter_->Stop();
    SimPortRegistry::Unbind(5);
  }

  test::VirtualClock clock_{60};  // first: it outlives every thread of the test
  std::shared_ptr<SimLine> line_ = SimLine::Create("dl1-bus");
  std::shared_ptr<SimDevice> device_;
  std::unique_ptr<SimDL1Adapter> adapter_;
  TRS232o* port_ = nullptr;
  TDL1Driver* driver_ = nullptr;
};

TEST_F(DL1Bus, TheSoftwareVersionIsReadAndVariablesAreReadAndWritten) {
  Open(DeviceWithVersion(2600008));
  StartDriver();
  EXPECT_EQ(ReadSoftwareVersion(*driver_), 2600008);

  // A read of a word variable and a byte write to page 0, as the settings model sends them.
  device_->SetSettingValue(8, 1440);
  TBusFrame read{7, 0x40, 0x00, 0xFF};
  ASSERT_TRUE(driver_->Request(read));
  EXPECT_EQ(read[0], 0x84);
  EXPECT_EQ(read[1] | (read[2] << 8), 1440);
  TBusFrame write{0x08, 0x40, 0xA4, 0xFF};
  EXPECT_TRUE(driver_->Send(write));
  EXPECT_EQ(device_->Memory(0x0040), 0xA4);
  EXPECT_EQ(adapter_->RequestsSeen(), 4);
  EXPECT_EQ(adapter_->RepliesSent(), 3);
}

TEST_F(DL1Bus, AVersionAboveTheDecimalRangeIsReadBackFromItsHexDigits) {
  TSimDeviceConfig config = DeviceWithVersion(1715104);
  config.ReportVersionBcd = true;  // words $5104 and $0171
  Open(config);
  StartDriver();
  EXPECT_EQ(ReadSoftwareVersion(*driver_), 1715104);
}

TEST_F(DL1Bus, ACollisionAbortsTheFrameAndTheNextOneGoesThrough) {
  Open(DeviceWithVersion(2600008));
  StartDriver();
  TBusFrame f{4, 0, 0, 0xFF};
  // $00 wipes the PC's byte; $FF leaves its value and only the framing error shows.
  for (std::uint8_t other : {0x00, 0xFF}) {
    const int collisions = adapter_->CollisionsMade();
    adapter_->CollideWithNextTransmission(other);
    EXPECT_FALSE(driver_->Send(f)) << int(other);
    EXPECT_TRUE(driver_->TxFailed());
    EXPECT_FALSE(line_->PortRts());
    EXPECT_EQ(adapter_->CollisionsMade(), collisions + 1);
    EXPECT_EQ(adapter_->RequestsSeen(), 0);  // the device got no valid frame
    TBusFrame r{};
    EXPECT_FALSE(driver_->GetFrame(r));  // nothing of the wreck is queued
  }
  EXPECT_TRUE(driver_->Send(f));
  EXPECT_FALSE(driver_->TxFailed());
  EXPECT_EQ(ReadSoftwareVersion(*driver_), 2600008);
}

TEST_F(DL1Bus, AnotherStationsChatterIsQueuedAndNeverAnsweredByTheDevice) {
  TSimDL1Config config;
  config.Chatter = true;
  config.ChatterIntervalMs = 80;
  Open(DeviceWithVersion(2600008), config);
  StartDriver();
  for (int i = 0; i < 4; ++i) {
    TBusFrame f{};
    ASSERT_TRUE(driver_->WaitReceive(f));
    EXPECT_GE(f[0], 0xA0);
    EXPECT_LE(f[0], 0xBF);
  }
  adapter_->SetChatter(false);
  SleepFor(150);  // a frame of the station's that was under way has arrived by now
  EXPECT_EQ(adapter_->RequestsSeen(), 0);
  EXPECT_GE(adapter_->ChatterSent(), 4);
  // With the other station quiet again, requests get the device's replies.
  EXPECT_EQ(ReadSoftwareVersion(*driver_), 2600008);
}

TEST_F(DL1Bus, TheAdapterPassesAnyByteAtAnySpeedAndSendsNothingUnprompted) {
  Open(DeviceWithVersion(2600008));
  // The echo probe of detection: 'H' at 2400 baud with RTS asserted comes straight back.
  ASSERT_TRUE(port_->SetLine(2400, 'N'));
  port_->SetReadTimeout(150);
  port_->Purge();
  port_->SetRtsCleared(false);
  const std::uint8_t h = 'H';
  ASSERT_EQ(port_->Write(&h, 1), 1);
  std::uint8_t echo = 'A';
  EXPECT_EQ(port_->Read(&echo, 1), 1);
  port_->SetRtsCleared(true);
  EXPECT_EQ(echo, 'H');
  // The DL2 version request is only echoed (too short for a version answer), and only while RTS
  // switches the adapter's transmitter on; at 19200 baud nothing comes unprompted.
  ASSERT_TRUE(port_->SetLine(2400, 'N'));
  const std::uint8_t v[4] = {0x02, 0xFF, 0x56, 0xA9};
  std::uint8_t back[8] = {};
  ASSERT_EQ(port_->Write(v, 4), 4);
  EXPECT_EQ(port_->Read(back, 8), 0);  // RTS cleared: nothing reached the bus
  port_->SetRtsCleared(false);
  ASSERT_EQ(port_->Write(v, 4), 4);
  EXPECT_EQ(port_->Read(back, 8), 4);
  EXPECT_EQ(back[2], 0x56);
  port_->SetRtsCleared(true);
  ASSERT_TRUE(port_->SetLine(19200, 'N'));
  port_->SetReadTimeout(50);
  port_->Purge();
  EXPECT_EQ(port_->Read(back, 1), 0);
  EXPECT_EQ(adapter_->RequestsSeen(), 0);
  EXPECT_EQ(adapter_->RepliesSent(), 0);
}

}  // namespace
}  // namespace zo::sim
