// Interface detection end to end on the simulated adapters, and the DL2 frame routines it uses,
// on the virtual clock: the probes' windows hold exactly however busy the machine is.
#include <gtest/gtest.h>

#include <random>

#include "adapter/DlxTools.h"
#include "drivers/Bustools.h"
#include "drivers/DL1Drv.h"
#include "drivers/SimpleDL2Drv.h"
#include "tests/adapter/SimRig.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

using sim::TDL2Variant;
using test::SimRig;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kImageVersion = 1130118;
constexpr std::int32_t kOldFirmware = 1130110;  // older than the image: with one, it would ask

struct Case {
  const char* Name;
  std::function<void(SimRig&)> Start;
  const char* LogEntry;  // "" when nothing is logged
  bool DriverExpected;
  std::uint8_t Mode;  // of a DL2 driver
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.Name;
}

sim::TSimDL2Config Hanging() {
  sim::TSimDL2Config c = test::DL2Of(kOldFirmware, TDL2Variant::OldBootblock);
  c.ApplicationHangs = true;
  return c;
}

sim::TSimDL2Config OldBootblockBadFlash() {
  sim::TSimDL2Config c = test::DL2Of(kOldFirmware, TDL2Variant::OldBootblock);
  c.FlashBad = true;
  return c;
}

class Detection : public ::testing::TestWithParam<Case> {};

// Without a firmware image nothing is ever asked, whatever the adapter's firmware; the driver
// made reads the device's version.
TEST_P(Detection, ClassifiesLogsAndCreatesTheDriver) {
  test::VirtualClock clock(60);
  const Case& c = GetParam();
  test::ScriptedUi ui;
  SimRig rig;
  c.Start(rig);
  auto port = rig.OpenPort();
  ASSERT_NE(port->PortNumber, 0);
  TBusDriver* driver = DetectInterface(port.get(), true, nullptr, kImageVersion);
  EXPECT_TRUE(ui.Messages().empty());
  if (*c.LogEntry != '\0') {
    EXPECT_TRUE(test::LogHas(c.LogEntry)) << test::Log();
  } else {
    EXPECT_EQ(test::Log(), "");
  }
  ASSERT_EQ(driver != nullptr, c.DriverExpected);
  if (driver == nullptr) return;
  port.release();  // the driver owns it
  if (auto* dl2 = dynamic_cast<TSimpleDL2Driver*>(driver)) {
    EXPECT_EQ(dl2->GetMode(), c.Mode);
  } else {
    EXPECT_NE(dynamic_cast<TDL1Driver*>(driver), nullptr);
  }
  EXPECT_EQ(ReadSoftwareVersion(*driver), rig.Device().Record()[0]);
  driver->SafeTerminate(true, true, true);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, Detection,
    ::testing::Values(
        Case{"Nothing", [](SimRig&) {}, "", false, 0},
        Case{"DL1", [](SimRig& r) { r.StartDL1(); }, "  DL1 detected", true, 0},
        Case{"BadDL2", [](SimRig& r) { r.StartDL2(test::DL2Of(0, TDL2Variant::BadlyProgrammed)); },
             "  Badly programmed DL2 detected", false, 0},
        Case{"NewBootblockZOBus",
             [](SimRig& r) { r.StartDL2(test::DL2Of(kOldFirmware, TDL2Variant::NewBootblock)); },
             "  DL2 detected\r    Version: 1130110\r    mode: ZOBus\r    New bootblock", true, 1},
        Case{"NewBootblockNineBit",
             [](SimRig& r) {
               r.StartDL2(test::DL2Of(kImageVersion, TDL2Variant::NewBootblock, true));
             },
             "  DL2 detected\r    Version: 1130118\r    mode: ZO 9 bit\r    New bootblock", true,
             2},
        Case{"OldBootblockZOBus",
             [](SimRig& r) { r.StartDL2(test::DL2Of(kOldFirmware, TDL2Variant::OldBootblock)); },
             "  DL2 detected\r    Version: 1130110\r    mode: ZOBus\r    Old bootblock", true, 1},
        Case{"OldBootblockNineBit",
             [](SimRig& r) {
               r.StartDL2(test::DL2Of(kImageVersion, TDL2Variant::OldBootblock, true));
             },
             "  DL2 detected\r    Version: 1130118\r    mode: ZO 9 bit\r    Old bootblock", true,
             2},
        // The XON probe runs first, so an adapter that also echoes is still a bad DL2.
        Case{"XonWhileEchoing",
             [](SimRig& r) {
               r.Line().SetBusMode(true);  // every byte the PC sends comes back to it
               r.StartDL2(test::DL2Of(0, TDL2Variant::BadlyProgrammed));
             },
             "  Badly programmed DL2 detected", false, 0},
        // Echoes, and sends 0x11 once the start sequence has started its application.
        Case{"XonAfterTheStartSequence", [](SimRig& r) { r.StartDL2(OldBootblockBadFlash()); },
             "  Badly programmed DL2 detected", false, 0},
        // Echoes, and falls silent after the start sequence.
        Case{"SilentAfterTheStartSequence", [](SimRig& r) { r.StartDL2(Hanging()); }, "", false,
             0}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST(DetectionPort, AClosedPortGivesNoDriverAtOnce) {
  TRS232o closed;
  EXPECT_EQ(DetectInterface(&closed, true, nullptr, kImageVersion), nullptr);
  EXPECT_EQ(DetectInterface(nullptr, true, nullptr, kImageVersion), nullptr);
}

TEST(DetectionPort, WithoutTheSimpleDriverADL2GetsTheAddressedDriver) {
  test::VirtualClock clock(60);
  SimRig rig;
  rig.StartDL2(test::DL2Of(kImageVersion, TDL2Variant::NewBootblock));
  auto port = rig.OpenPort();
  TBusDriver* driver = DetectInterface(port.get(), false, nullptr, kImageVersion);
  ASSERT_NE(driver, nullptr);
  port.release();
  EXPECT_EQ(dynamic_cast<TSimpleDL2Driver*>(driver), nullptr);
  EXPECT_NE(dynamic_cast<TDL2Driver*>(driver), nullptr);
  driver->SafeTerminate(true, true, true);
}

// The PC side of a bare simulated line, the peer played by the test.
class Frames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.OpenBackend(line_->OpenPortSide(), 1, 2400, 'N', 1024, 1024));
    line_->PeerSetLine(2400, 'N');
  }
  Bytes PeerReceived() {
    Bytes out;
    TSimByte b;
    while (line_->PeerRead(b, DeadlineAfter(30)))
      out.push_back(b.Value);
    return out;
  }
  test::VirtualClock clock_{60};
  std::shared_ptr<SimLine> line_ = SimLine::Create("frames");
  TRS232o port_;
};

TEST_F(Frames, SendDL2FrameDrainsFirstAndAddsTheFiller) {
  line_->PeerWrite(Bytes{1, 2, 3});  // stale input, thrown away before sending
  SendDL2Frame(port_, {'V'});
  EXPECT_EQ(PeerReceived(), (Bytes{0x02, 0xFF, 0x56, 0xA9}));
  std::uint8_t b = 0;
  EXPECT_EQ(port_.Read(&b, 1), 0);
  SendDL2Frame(port_, {'S', 0, 0, 0, 0, 4});
  EXPECT_EQ(PeerReceived(), (Bytes{0x07, 0xFF, 0x53, 0, 0, 0, 0, 0x04, 0xA3}));
  SendDL2Frame(port_, {'W', 0x07, 0x01, 0xFF});
  EXPECT_EQ(PeerReceived(), (Bytes{0x06, 0xFF, 0x57, 0x07, 0x01, 0xFF, 0x00, 0x9D}));
}

TEST_F(Frames, ReceiveDL2FrameChecksEveryRule) {
  port_.SetReadTimeout(20);
  auto receive = [&](const Bytes& wire, std::uint8_t min_len, Bytes* body = nullptr) {
    port_.Purge();
    line_->PeerWrite(wire);
    std::uint8_t reply[10] = {};
    const bool ok = ReceiveDL2Frame(port_, reply, 10, min_len, 10);
    if (body) body->assign(reply + 1, reply + 1 + reply[0]);
    return ok;
  };
  Bytes body;
  EXPECT_TRUE(receive({0x02, 0xFF, 0x56, 0xA9}, 2, &body));
  EXPECT_EQ(body, (Bytes{0xFF, 0x56}));
  // LED bytes flagged by bit 7: the two LED bytes are read but not returned.
  EXPECT_TRUE(receive({0x84, 0xFF, 0x53, 0x21, 0x00, 0x09}, 2, &body));
  EXPECT_EQ(body, (Bytes{0xFF, 0x53}));
  EXPECT_FALSE(receive({0x02, 0xFF, 0x56, 0xAA}, 2));  // checksum
  EXPECT_FALSE(receive({0x02, 0xFE, 0x56, 0xAA}, 2));  // not an adapter answer
  EXPECT_FALSE(receive({0x02, 0xFF, 0x56, 0xA9}, 6));  // shorter than MinLen
  EXPECT_FALSE(receive({0x0A, 0xFF, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0x9F}, 2));  // above MaxLen
  EXPECT_FALSE(receive({0x04, 0xFF, 0x56}, 2));                                // bytes missing
  EXPECT_FALSE(receive({}, 2));                                                // nothing at all
}

// Noise must never crash the receiver, overrun the reply buffer, or pass as a frame that breaks
// the rules.
TEST_F(Frames, SeededNoiseNeverYieldsAFrameThatBreaksTheRules) {
  port_.SetLine(115200, 'N');
  line_->PeerSetLine(115200, 'N');
  port_.SetReadTimeout(5);
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes noise(4000);
  for (auto& b : noise)
    b = static_cast<std::uint8_t>(byte(random) % 4 == 0 ? byte(random) % 12 : byte(random));
  line_->PeerWrite(noise);
  const TimePoint end = line_->PeerTransmitEnd() + std::chrono::milliseconds(50);
  while (Now() < end) {
    std::uint8_t reply[12];
    std::fill(std::begin(reply), std::end(reply), 0xEE);
    if (!ReceiveDL2Frame(port_, reply, 10, 2, 10)) continue;
    EXPECT_GE(reply[0], 2);
    EXPECT_LE(reply[0], 9);
    EXPECT_EQ(reply[1], 0xFF);
    EXPECT_EQ(reply[10], 0xEE);  // never written beyond BufSize
  }
}

}  // namespace
}  // namespace zo
