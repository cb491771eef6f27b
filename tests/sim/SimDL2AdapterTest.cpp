// The simulated DL2 adapter, on its own and end to end with the DL2 drivers, on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "drivers/Bustools.h"
#include "drivers/DL2DRV.h"
#include "drivers/SimpleDL2Drv.h"
#include "serial/SimLine.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "tests/support/VirtualClock.h"

namespace zo::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int32_t kVersion = 2600008;

TSimDeviceConfig DeviceConfig() {
  TSimDeviceConfig c;
  c.Record.fill(-1);
  c.Record[0] = kVersion;
  c.TurnaroundMs = 5;
  return c;
}

class SimDL2 : public ::testing::Test {
 protected:
  // Powers the adapter on with the PC's port open at 2400 baud, DTR asserted.
  void Start(TSimDL2Config Config = {}) {
    line_ = SimLine::Create("dl2-sim-test");
    port_ = new TRS232o;
    ASSERT_TRUE(port_->OpenBackend(line_->OpenPortSide(), 1, DL2Baud, 'N', 1024, 1024));
    port_->SetDtrCleared(false);
    port_->SetReadTimeout(150);
    adapter_ = std::make_unique<SimDL2Adapter>(line_, &device_, Config);
    adapter_->Start();
  }
  void TearDown() override { Stop(); }
  void Stop() {
    if (driver_) driver_->SafeTerminate(true, true, true);  // frees the port
    delete port_;
    adapter_.reset();
    driver_ = nullptr;
    port_ = nullptr;
  }
  // Hands the port to a driver once the application runs, as detection would.
  template <class Driver = TSimpleDL2Driver>
  Driver* Connect(std::uint8_t Mode) {
    EXPECT_TRUE(WaitUntil([&] { return adapter_->State() == TDL2SimState::Application; }));
    port_->SetReadTimeout(50);  // let the power-on announcement pass, as detection would
    while (!ReadBytes(1).empty()) {
    }
    auto* d = new Driver(port_, Mode);
    driver_ = d;
    port_ = nullptr;  // the driver owns it
    return d;
  }
  template <class Pred>
  static bool WaitUntil(Pred Condition, int Ms = 2000) {
    for (int i = 0; i < Ms / 5 && !Condition(); ++i)
      Delay(5);
    return Condition();
  }
  Bytes ReadBytes(int Count) {
    Bytes out(static_cast<std::size_t>(Count));
    out.resize(static_cast<std::size_t>(std::max(0, port_->Read(out.data(), Count))));
    return out;
  }

  test::VirtualClock clock_{60};  // first: it outlives every thread of the test
  SimDevice device_{DeviceConfig()};
  std::shared_ptr<SimLine> line_;
  TRS232o* port_ = nullptr;
  TBusDriver* driver_ = nullptr;
  std::unique_ptr<SimDL2Adapter> adapter_;
};

TEST_F(SimDL2, SoftwareVersionThroughTheSimpleDriverInBothModes) {
  for (bool nine_bit : {false, true}) {
    TSimDL2Config config;
    config.NineBit = nine_bit;
    config.LedBytesEvery = 1;
    Start(config);
    TSimpleDL2Driver* d = Connect(nine_bit ? 2 : 1);
    EXPECT_EQ(ReadSoftwareVersion(*d), kVersion) << "9-bit " << nine_bit;
    EXPECT_EQ(adapter_->RequestsPassed(), 2);
    if (!nine_bit) {
      EXPECT_EQ(d->LedOn(), 0x21);  // carried by the replies
    }
    Stop();
  }
}

TEST_F(SimDL2, PanelCommandsReachTheAdapter) {
  Start();
  adapter_->SetLeds(0x00, 0x20);
  TSimpleDL2Driver* d = Connect(1);
  EXPECT_EQ(d->GetLedState(), 1);
  EXPECT_EQ(d->GetLedState(), 0);
  EXPECT_TRUE(d->SetLevel(80));
  EXPECT_EQ(adapter_->LastStateCommand(), (Bytes{0x04, 0x80, 0x10, 0x01, 0x0A, 0x00}));
}

TEST_F(SimDL2, EchoThatPassesThePlainChecksumIsNotTheReply) {
  Start();
  device_.SetMemory(9, 0x34);
  device_.SetMemory(10, 0x12);
  TDL2Driver* d = Connect<TDL2Driver>(1);
  for (int i = 0; i < 6; ++i) {
    TBusFrame f{5, 0, 0, 0xFF};
    ASSERT_TRUE(d->Request(f));
  }
  TBusFrame read{7, 0x09, 0x00, 0xFF};  // sequence number 7
  ASSERT_TRUE(d->Request(read));
  EXPECT_EQ(d->GetRequestSeq(), 7);
  EXPECT_EQ((Bytes{read[0], read[1], read[2]}), (Bytes{0x84, 0x34, 0x12}));
}

// An adapter that echoes the PC's adapter commands once the mode is known: the echo of a mode-2
// 'W' is never taken for the device's reply, and the echo of an 'L' neither ends the wait for
// the answer nor changes the LED state.
TEST_F(SimDL2, EchoedAdapterCommandsAreNeitherRepliesNorLedStates) {
  TSimDL2Config config;
  config.EchoAdapterCommands = true;
  config.NineBit = true;
  Start(config);
  TSimpleDL2Driver* d = Connect(2);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ReadSoftwareVersion(*d), kVersion);
  Stop();
  config.NineBit = false;
  Start(config);
  adapter_->SetLeds(0x21, 0x00);
  d = Connect(1);
  EXPECT_EQ(d->GetLedState(), 0x21);
  adapter_->SetLeds(0x40, 0x00);
  EXPECT_EQ(d->GetLedState(), 0x02);
  EXPECT_EQ(d->LedOn(), 0x40);
  EXPECT_EQ(adapter_->CommandsAnswered('L'), 2);
}

TEST_F(SimDL2, OtherStationsTrafficIsNotQueued) {
  TSimDL2Config config;
  config.BusTraffic = true;
  config.TrafficIntervalMs = 100;
  Start(config);
  TSimpleDL2Driver* d = Connect(1);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(ReadSoftwareVersion(*d), kVersion);
  EXPECT_GT(adapter_->TrafficFrames(), 2);
}

TEST_F(SimDL2, OldBootblockEchoesHUntilTheStartSequenceWakesTheApplication) {
  TSimDL2Config config;
  config.Variant = TDL2Variant::OldBootblock;
  config.FirmwareVersion = 0x01020304;
  Start(config);
  const std::uint8_t h = 'H';
  port_->Write(&h, 1);
  EXPECT_EQ(ReadBytes(1), (Bytes{'H'}));
  RunDL2StartSequence(*port_);
  port_->SetLine(DL2Baud, 'N');
  port_->Purge();
  // The application announces itself without being asked.
  EXPECT_EQ(ReadBytes(8), (Bytes{0x06, 0xFF, 'V', 0x04, 0x03, 0x02, 0x01, 0x9B}));
  EXPECT_EQ(adapter_->State(), TDL2SimState::Application);
  port_->Write(&h, 1);
  EXPECT_TRUE(ReadBytes(1).empty());
}

TEST_F(SimDL2, BadlyProgrammedSendsXonAt19200AndNothingElse) {
  TSimDL2Config config;
  config.Variant = TDL2Variant::BadlyProgrammed;
  Start(config);
  port_->SetLine(19200, 'N');
  EXPECT_EQ(ReadBytes(1), (Bytes{0x11}));
  port_->SetLine(DL2Baud, 'N');
  port_->Purge();
  const std::uint8_t h = 'H';
  port_->Write(&h, 1);
  const Bytes heard = ReadBytes(1);  // the 0x11 at the wrong speed, never an echo
  EXPECT_TRUE(heard.empty() || heard[0] != 'H');
  RunDL2StartSequence(*port_);
  EXPECT_EQ(adapter_->State(), TDL2SimState::BadFirmware);
}

TEST_F(SimDL2, LostAdapterIsRestartedAndTheDriverFollowsItsAnnouncement) {
  Start();
  TSimpleDL2Driver* d = Connect(1);
  ASSERT_EQ(ReadSoftwareVersion(*d), kVersion);
  adapter_->HangApplication();
  ASSERT_TRUE(WaitUntil([&] { return d->GetMode() == 3; }, 10000));  // about 5 s of silence
  TBusFrame f{5, 0, 0, 0xFF};
  EXPECT_FALSE(d->Request(f));  // restarted: mode 0 until the adapter speaks
  EXPECT_TRUE(WaitUntil([&] { return d->GetMode() == 1; }));
  EXPECT_EQ(adapter_->ApplicationStarts(), 2);
  EXPECT_EQ(ReadSoftwareVersion(*d), kVersion);
}

TEST_F(SimDL2, SilentAdapterAnswersNothing) {
  Start();
  TSimpleDL2Driver* d = Connect(1);
  adapter_->SetSilent(true);
  EXPECT_EQ(ReadSoftwareVersion(*d), -1);
  adapter_->SetSilent(false);
  EXPECT_EQ(ReadSoftwareVersion(*d), kVersion);
}

}  // namespace
}  // namespace zo::sim
