// Reading and writing settings through a driver and a simulated device: the only settings tests
// that run the driver's thread beside the test's own.
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include "adapter/Textlogger.h"
#include "tests/settings/SettingsTestSupport.h"

namespace zo::test {
namespace {

TEST(SettingsTransfer, ReadsAndWritesASimulatedDevice) {
  SettingsModel model;
  sim::TSimDeviceConfig config;
  config.Record = BuiltIn(1711107);
  config.InitialValues = {{SettingAbsorptionVoltage, 2860}, {SettingSlaves, 2}, {24, 0x41}};
  SimBus bus(config);
  ASSERT_TRUE(SelectVersion(1711107));
  ASSERT_TRUE(ReadSettings(bus.Driver()));
  for (int n = 8; n <= 25; ++n)
    EXPECT_EQ(SettingTable[n].Value, bus.Device().SettingValue(n)) << n;
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2860);
  EXPECT_FALSE(IsInverterOnly);  // device-kind code 130: a charger is present
  EXPECT_TRUE(GetFlag(FlagMultiPhase));
  EXPECT_TRUE(GetFlag(FlagAlarmRelayPolarity));

  SettingTable[SettingAbsorptionVoltage].Value = 2900;
  SettingTable[SettingDCRestart].Value = 400;
  SetFlag(FlagStorageMode, true);
  ASSERT_TRUE(WriteSettings(bus.Driver()));
  EXPECT_EQ(bus.Device().PendingCommitWrites(), 0);
  EXPECT_EQ(bus.Device().SettingValue(SettingAbsorptionVoltage), 2900);
  EXPECT_EQ(bus.Device().SettingValue(SettingDCRestart), 400);
  EXPECT_EQ(bus.Device().SettingValue(SettingFlagsB) & 0x10, 0x10);
  EXPECT_EQ(bus.Device().SettingValue(SettingDeviceKind), 130);  // never written
  EXPECT_TRUE(CommitAfterWrite);
}

TEST(SettingsTransfer, InverterOnlyFollowsTheDeviceKindCode) {
  SettingsModel model;
  struct Case {
    std::int32_t Version, Kind;
    bool InverterOnly;
  } cases[] = {{1510009, 130, false}, {1510009, 100, true}, {1510009, 120, false},
               {1510009, 137, true},  {1711104, 10, true},  {1400012, 10, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Version * 1000 + c.Kind);
    ASSERT_TRUE(SelectVersion(c.Version));
    ScriptDriver driver;
    const auto kind_address = SettingTable[SettingDeviceKind].Address;
    driver.OnRequest = [&](const TBusFrame& f) {
      const bool kind = (f[1] | (f[2] << 8)) == kind_address;
      return TBusFrame{0x84, static_cast<std::uint8_t>(kind ? c.Kind : 1), 0, 0};
    };
    EXPECT_TRUE(ReadSettings(&driver));
    EXPECT_EQ(IsInverterOnly, c.InverterOnly);
    EXPECT_EQ(HasCharger(), !c.InverterOnly);
  }
}

TEST(SettingsTransfer, ReadStopsAtTheFirstSettingThatFailsFourTimes) {
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(1510009));
  SettingTable[SettingRepeatedAbsorptionTime].Value = 77;
  SettingTable[SettingDeviceKind].Value = 100;
  ScriptDriver driver;
  const auto failing = SettingTable[SettingShoreCurrent].Address;
  int tries = 0;
  driver.OnRequest = [&](const TBusFrame& f) -> std::optional<TBusFrame> {
    if ((f[1] | (f[2] << 8)) != failing) return TBusFrame{0x84, 5, 0, 0};
    // Fails three times, then answers: a retry succeeds.
    if (++tries <= 3) return std::nullopt;
    return TBusFrame{0x84, 80, 0, 0};
  };
  EXPECT_TRUE(ReadSettings(&driver));
  EXPECT_EQ(tries, 4);
  EXPECT_EQ(SettingTable[SettingShoreCurrent].Value, 80);

  tries = -100;  // now it never answers
  SelectVersion(1510009);
  SettingTable[SettingRepeatedAbsorptionTime].Value = 77;
  SettingTable[SettingDeviceKind].Value = 100;
  driver.Log.clear();
  SetLogSize(16);
  EXPECT_FALSE(ReadSettings(&driver));
  std::string log;
  GetLogText(log);
  SetLogSize(0);
  EXPECT_NE(log.find("Read settings: shore current limit (setting 12)"), std::string::npos);
  // 8 to 11 once, 12 four times, nothing after it.
  EXPECT_EQ(driver.Log.size(), 4u + 4u);
  EXPECT_TRUE(SettingTable[SettingShoreCurrent].ReadFailed);
  EXPECT_FALSE(SettingTable[SettingInverterOutput].ReadFailed);
  EXPECT_EQ(SettingTable[SettingRepeatedAbsorptionTime].Value, 77);
  EXPECT_TRUE(IsInverterOnly);  // decided from setting 19 whatever the outcome
}

TEST(SettingsTransfer, WriteCommitsOnceAfterTheLastSetting) {
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(1711104));
  ScriptDriver driver;
  driver.Default = 0x04;
  driver.OnRequest = [](const TBusFrame&) { return TBusFrame{0x84, 1, 0, 0}; };
  ASSERT_TRUE(ReadSettings(&driver));  // device address taken from the driver
  ASSERT_TRUE(WriteSettings(&driver));
  const auto sent = driver.Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(driver.CommitFrames(), 1);
  EXPECT_EQ(sent.back(), (TBusFrame{0x0B, 0xFF, 0xFF, 0x04}));
  EXPECT_EQ(sent[sent.size() - 2], (TBusFrame{0x0B, 0x31, 0x01, 0x04}));  // setting 25
  // Setting 19 is never written.
  const auto kind_low = static_cast<std::uint8_t>(SettingTable[SettingDeviceKind].Address);
  for (const TBusFrame& f : sent)
    EXPECT_FALSE(f[0] == 0x08 && f[1] == kind_low);
  EXPECT_TRUE(CommitAfterWrite);
}

TEST(SettingsTransfer, WriteFailureEndsTheSequenceWithoutCommit) {
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(1711104));
  ScriptDriver driver;
  const auto failing = static_cast<std::uint8_t>(SettingTable[SettingInverterOutput].Address);
  int failures = 0;
  driver.OnSend = [&](const TBusFrame& f) {
    if (f[1] != failing) return true;
    ++failures;
    return false;
  };
  EXPECT_FALSE(WriteSettings(&driver));
  EXPECT_EQ(failures, 4);
  EXPECT_EQ(driver.CommitFrames(), 0);
  EXPECT_EQ(driver.Sent().back()[1], failing);
  EXPECT_TRUE(CommitAfterWrite);
  EXPECT_FALSE(WriteSettings(nullptr));
}

TEST(SettingsTransfer, CommitIsSentWhenTheVersionLacksSetting25) {
  // 1702103 is a family-17 version without flag byte B: the writes held by the device still get
  // their commit.
  SettingsModel model;
  sim::TSimDeviceConfig config;
  config.Record = BuiltIn(1702103);
  ASSERT_EQ(config.Record[SettingFlagsB], -1);
  SimBus bus(config);
  ASSERT_TRUE(SelectVersion(1702103));
  ASSERT_TRUE(ReadSettings(bus.Driver()));
  SettingTable[SettingFloatVoltage].Value = 1350;
  ASSERT_TRUE(WriteSettings(bus.Driver()));
  EXPECT_EQ(bus.Device().PendingCommitWrites(), 0);
  EXPECT_EQ(bus.Device().SettingValue(SettingFloatVoltage), 1350);

  ScriptDriver driver;
  ASSERT_TRUE(WriteSettings(&driver));
  EXPECT_EQ(driver.CommitFrames(), 1);
  EXPECT_EQ(driver.Sent().back()[0], 0x0B);

  // A family without the committed page sends no commit.
  ASSERT_TRUE(SelectVersion(1510009));
  driver.Log.clear();
  ASSERT_TRUE(WriteSettings(&driver));
  EXPECT_EQ(driver.CommitFrames(), 0);
}

}  // namespace
}  // namespace zo::test
