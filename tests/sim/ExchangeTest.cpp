// Whole exchanges on the simulators under the virtual clock: each runs in milliseconds of real
// time, always takes the same virtual time, and never less than the waits the protocol mandates
// (a measured/floor ratio below 1.00 would mean a mandated wait was skipped).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "adapter/Updater.h"
#include "data/CarriedFirmware.h"
#include "drivers/SimpleDL2Drv.h"
#include "settings/Settings.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/sim/VirtualRig.h"

namespace zo::test {
namespace {

// "Get settings" as the window runs it: command 4 (up to 3 tries), then every setting.
bool GetSettings(TBusDriver& Driver) {
  const std::uint8_t value = DeviceFamily() == 14 ? 160 : 0;
  bool sent = false;
  for (int i = 0; i < 3 && !sent; ++i)
    sent = SendCommand4(Driver, value);
  return sent && ReadSettings(&Driver);
}

int PresentSettings() {
  int n = 0;
  for (int s = 8; s <= 25; ++s)
    if (SettingTable[s].IsPresent()) ++n;
  return n;
}

void ExpectSettingsAsTheDeviceHolds(sim::SimDevice& Device) {
  for (int s = 8; s <= 25; ++s) {
    if (!SettingTable[s].IsPresent()) continue;
    EXPECT_FALSE(SettingTable[s].ReadFailed) << "setting " << s;
    EXPECT_EQ(SettingTable[s].Value, Device.SettingValue(s)) << "setting " << s;
  }
}

void ExpectAtLeastTheFloor(const char* What, double Measured, double Floor, double Upper) {
  std::printf("%-34s virtual %9.2f ms  floor %9.2f ms  ratio %.3f\n", What, Measured, Floor,
              Measured / Floor);
  // The simulated line counts byte times in whole nanoseconds: allow for that rounding alone.
  EXPECT_GE(Measured, Floor - 0.001) << What << ": a wait the protocol mandates was skipped";
  // Far below a reply time-out per frame: a hidden time-out would show here.
  EXPECT_LE(Measured / Floor, Upper) << What;
}

// Detection on a fresh bench; the virtual time it took.
double DetectOnce(TRigAdapter Adapter) {
  VirtualRig rig({Adapter});
  TBusDriver* driver = nullptr;
  const double ms = VirtualMs([&] { driver = rig.Detect(); });
  EXPECT_NE(driver, nullptr);
  if (Adapter == TRigAdapter::DL1) {
    EXPECT_NE(dynamic_cast<TDL1Driver*>(driver), nullptr);
  } else if (auto* dl2 = dynamic_cast<TSimpleDL2Driver*>(driver)) {
    EXPECT_EQ(dl2->GetMode(), Adapter == TRigAdapter::DL2NineBit ? 2 : 1);
  } else {
    ADD_FAILURE() << "no simple DL2 driver";
  }
  return ms;
}

TEST(Exchange, DetectionTakesExactlyTheProbesWaitsEveryTime) {
  // New-bootblock DL2: ten silent 10 ms reads for the XON probe, three 150 ms echo probes, the
  // 20 ms drain and the 150 ms pause of the version request; the answer is then waiting.
  const double dl2_floor = 10 * 10 + 3 * 150 + 20 + 150;
  // DL1: the 'H' comes back at once, the start sequence's two 50 ms pauses, the second pass's
  // XON probe with the 150 ms time-out left by the echo probe, and the echo again.
  const double dl1_floor = 10 * 10 + DL2ByteMs + 100 + 10 * 150 + DL2ByteMs;
  const double dl2 = DetectOnce(TRigAdapter::DL2);
  ExpectAtLeastTheFloor("detection, DL2", dl2, dl2_floor, 1.01);
  EXPECT_EQ(DetectOnce(TRigAdapter::DL2), dl2) << "the same detection took another time";
  const double dl1 = DetectOnce(TRigAdapter::DL1);
  ExpectAtLeastTheFloor("detection, DL1", dl1, dl1_floor, 1.01);
  EXPECT_EQ(DetectOnce(TRigAdapter::DL1), dl1) << "the same detection took another time";
}

TEST(Exchange, DetectionKindsOfEveryAdapterVariant) {
  struct Case {
    TRigAdapter Adapter;
    TInterfaceKind Kind;
    std::uint8_t Mode;
  };
  for (const Case& c :
       {Case{TRigAdapter::DL2, ikDL2NewBootblock, 1},
        Case{TRigAdapter::DL2NineBit, ikDL2NewBootblock, 2},
        Case{TRigAdapter::DL2OldBootblock, ikDL2OldBootblock, 1},
        Case{TRigAdapter::DL2BadlyProgrammed, ikBadDL2, 0}, Case{TRigAdapter::DL1, ikDL1, 0}}) {
    double first = 0;
    for (int run = 0; run < 2; ++run) {
      VirtualRig rig({c.Adapter});
      TRS232o port;
      ASSERT_TRUE(port.Open(rig.PortNumber(), 1200, 'N', 1024, 1024));
      std::int32_t version = 0;
      std::uint8_t mode = 0;
      TInterfaceKind kind = ikNone;
      const double ms = VirtualMs([&] { kind = IdentifyInterface(port, version, mode); });
      EXPECT_EQ(kind, c.Kind) << static_cast<int>(c.Adapter);
      if (c.Kind == ikDL2NewBootblock || c.Kind == ikDL2OldBootblock) {
        EXPECT_EQ(version, 1130118);
        EXPECT_EQ(mode, c.Mode);
      }
      if (run == 0) first = ms;
      if (run == 1) {
        EXPECT_EQ(ms, first) << static_cast<int>(c.Adapter);
      }
    }
  }
}

// "Get settings" on a fresh bench after detection; the virtual time it took.
double GetSettingsOnce(TRigAdapter Adapter, int& Reads) {
  VirtualRig rig({Adapter});
  SettingsModel model;
  EXPECT_TRUE(model.Error().empty()) << model.Error();
  TBusDriver* driver = rig.Detect();
  if (driver == nullptr) {
    ADD_FAILURE() << "no adapter detected";
    return 0;
  }
  EXPECT_TRUE(SelectVersion(1711104));
  Reads = PresentSettings();
  bool ok = false;
  const double ms = VirtualMs([&] { ok = GetSettings(*driver); });
  EXPECT_TRUE(ok);
  ExpectSettingsAsTheDeviceHolds(rig.Device());
  return ms;
}

class GetSettingsExchange : public ::testing::TestWithParam<TRigAdapter> {};

TEST_P(GetSettingsExchange, ReadsEverySettingWithinTheProtocolsPace) {
  int reads = 0;
  const double ms = GetSettingsOnce(GetParam(), reads);
  ASSERT_GT(reads, 10);
  double floor = 0;
  if (GetParam() == TRigAdapter::DL1) {
    // Command 4: an idle tick, four bytes and the 60 ms pause after every Send (during which the
    // bus is quiet long enough for the next frame); each read: four bytes out and four back, and
    // an idle tick before every read but the first.
    floor = DL1ReadTimeoutMs + 4 * DL1ByteMs + DL1SendPauseMs + reads * 8 * DL1ByteMs +
            (reads - 1) * DL1ReadTimeoutMs;
  } else {
    // Command 4 and its echo (which fails the plain checksum, so the next frame waits 20 idle
    // ticks); each read: request, echo and reply of 7 bytes, one idle tick between reads.
    floor = 14 * DL2ByteMs + DL2HoldoffAfterByte * DL2ReadTimeoutMs + reads * 21 * DL2ByteMs +
            (reads - 1) * DL2ReadTimeoutMs;
  }
  ExpectAtLeastTheFloor(GetParam() == TRigAdapter::DL1 ? "Get settings, DL1" : "Get settings, DL2",
                        ms, floor, 1.10);
  // A driver thread that found itself parked on its first pass would wait one 50 ms pass before
  // the first frame: the DL2's exchange stays within 50 ms of its floor.
  if (GetParam() != TRigAdapter::DL1) {
    EXPECT_LT(ms, floor + 50) << "the driver thread parked first";
  }
  int again = 0;
  EXPECT_EQ(GetSettingsOnce(GetParam(), again), ms) << "the same exchange took another time";
}

INSTANTIATE_TEST_SUITE_P(Adapters, GetSettingsExchange,
                         ::testing::Values(TRigAdapter::DL2, TRigAdapter::DL1),
                         [](const ::testing::TestParamInfo<TRigAdapter>& Info) {
                           return Info.param == TRigAdapter::DL1 ? std::string("DL1")
                                                                 : std::string("DL2");
                         });

constexpr double kBootblockByteMs = 10.0 * 1000.0 / 19200.0;

// One reprogram run of the carried image on a fresh bench whose DL2's bootblock waits (the device
// was switched off and on with the break held); its virtual time and the boxes it showed.
double ReprogramOnce(const sim::TSimBootblockConfig& Bootblock, std::vector<std::string>& Boxes,
                     int& Completed) {
  TRigOptions options;
  options.FirmwareVersion = 1130110;
  options.Bootblock = Bootblock;
  VirtualRig rig(options);
  ScriptedUi ui;
  PowerCycleWhenAsked(ui, rig.DL2());
  TRS232o port;
  EXPECT_TRUE(port.Open(rig.PortNumber(), 1200, 'N', 1024, 1024));
  port.SetBreak(true);
  rig.DL2()->PowerCycle();
  Delay(50);
  std::istringstream image(CarriedFirmwareImage());
  const double ms = VirtualMs([&] { ReprogramInterface(port, image, "DL2"); });
  Boxes = ui.MessageTexts();
  Completed = rig.DL2()->ProgrammingsCompleted();
  return ms;
}

TEST(Exchange, AWholeReprogramRunAndItsLongTimeOutsOnVirtualTime) {
  std::vector<std::string> boxes;
  int completed = 0;
  const double ms = ReprogramOnce({}, boxes, completed);
  EXPECT_EQ(completed, 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("DL2 programmed.", 0), 0u) << boxes[0];
  // The pauses of the connection (100 ms after the break, 50 ms after the wake-up bytes, the
  // 250 ms of quiet that ends the version frame), then the program request, the version frame,
  // and every line with its one-byte answer at 19200 baud.
  const int lines = static_cast<int>((CarriedFirmwareImage().size() - 78) / FirmwareBlockSize);
  const double floor = 100 + 50 + 250 + (1 + 6) * kBootblockByteMs + lines * 77 * kBootblockByteMs;
  ExpectAtLeastTheFloor("reprogram run, DL2", ms, floor, 1.10);
  EXPECT_EQ(ReprogramOnce({}, boxes, completed), ms) << "the same run took another time";

  // A bootblock that never sends its version frame: 100 reads of 250 ms, 25 s in all.
  sim::TSimBootblockConfig silent;
  silent.VersionFrame = sim::TVersionFrameFault::Silent;
  const double connect_ms = ReprogramOnce(silent, boxes, completed);
  EXPECT_EQ(boxes,
            std::vector<std::string>{"Error establishing connection with DL2\rPlease retry."});
  ExpectAtLeastTheFloor("silent bootblock", connect_ms, 100 + 50 + 25000, 1.01);

  // A line that gets no answer: 18 s for its reply byte, counted from the moment the line was
  // handed to the port (its own wire time lies within the wait).
  sim::TSimBootblockConfig mute_line;
  mute_line.FaultLine = 3;
  mute_line.FaultSilent = true;
  const double line_ms = ReprogramOnce(mute_line, boxes, completed);
  EXPECT_EQ(boxes,
            std::vector<std::string>{
                "Reprogram failed\rPlease retry!\rSwitch the device off and on again to reset!"});
  ExpectAtLeastTheFloor("line without answer", line_ms,
                        100 + 50 + 250 + (1 + 6 + 3 * 76 + 3) * kBootblockByteMs + 18000, 1.01);
}

// "Send settings" of a family-17 device through the DL2: writes get no reply and their echoes are
// no sign of life, so without other stations on the bus the driver takes the adapter for lost
// part-way through the run and restarts it; the retries of the writes then go through once the
// adapter has announced itself again. With the usual traffic no restart happens at all. Either
// way every setting reaches the device and the held writes are committed.
TEST(Exchange, AFamily17WriteSurvivesTheAdapterRestartOfAQuietBus) {
  for (const bool traffic : {true, false}) {
    SCOPED_TRACE(traffic ? "with bus traffic" : "without bus traffic");
    TRigOptions options;
    options.BusTraffic = traffic;
    VirtualRig rig(options);
    SettingsModel model;
    ASSERT_TRUE(model.Error().empty()) << model.Error();
    TBusDriver* driver = rig.Detect();
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(SelectVersion(1711104));
    ASSERT_TRUE(ReadSettings(driver));
    SettingTable[SettingAbsorptionVoltage].Value += 20;
    SettingTable[SettingFloatVoltage].Value += 10;
    const int starts = rig.DL2()->ApplicationStarts();
    const int commits = rig.Device().FramesSeen(0x0B);
    ASSERT_TRUE(WriteSettings(driver));
    Delay(100);  // the last frame has been handed to the port, not yet carried over the wire
    for (int s = 8; s <= 25; ++s) {
      if (s == SettingDeviceKind || !SettingTable[s].IsPresent()) continue;
      EXPECT_EQ(rig.Device().SettingValue(s), SettingTable[s].Value) << "setting " << s;
    }
    EXPECT_EQ(rig.Device().PendingCommitWrites(), 0);
    EXPECT_GE(rig.Device().FramesSeen(0x0B) - commits, 18) << "a long run of page-$21 writes";
    if (traffic) {
      EXPECT_EQ(rig.DL2()->ApplicationStarts(), starts);
    } else {
      EXPECT_GT(rig.DL2()->ApplicationStarts(), starts);
    }
  }
}

}  // namespace
}  // namespace zo::test
