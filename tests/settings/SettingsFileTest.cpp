#include "settings/SettingsFile.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace zo::test {
namespace {

const char* const Corrupted = "EFile corrupted!\rSettings set to default!";

std::vector<std::int32_t> Records(const std::string& data) {
  std::vector<std::int32_t> r;
  for (std::size_t i = 0; i + 4 <= data.size(); i += 4)
    r.push_back(static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[i])) |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[i + 1])) << 8 |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[i + 2])) << 16 |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[i + 3])) << 24));
  return r;
}

std::string Bytes(const std::vector<std::int32_t>& records) {
  std::string data;
  for (std::int32_t v : records)
    for (int i = 0; i < 4; ++i)
      data += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
  return data;
}

// Records 1 to 30 with a matching checksum.
std::string WithChecksum(std::vector<std::int32_t> records) {
  records.resize(30);
  std::uint32_t sum = 0;
  for (std::int32_t v : records)
    sum += static_cast<std::uint32_t>(v);
  records.push_back(static_cast<std::int32_t>(sum));
  return Bytes(records);
}

constexpr int Stored[] = {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23};

class SettingsFileTest : public ::testing::Test {
 protected:
  // A valid, in-bounds set of values for a 12 V 230 V model (records 1 to 15).
  std::vector<std::int32_t> Values12() const {
    return {1450, 1370, 40, 230, 120, 8, 10, 1100, 1550, 5, 2, 1000, 150, 1, 2};
  }
  std::string Load(const std::string& data) {
    WriteBytes(file, data);
    std::string message = "stale";
    LoadSettingsFile(file, message);
    return message;
  }
  std::vector<std::int32_t> StoredValues() const {
    std::vector<std::int32_t> v;
    for (int n : Stored)
      v.push_back(SettingTable[n].Value);
    return v;
  }

  SettingsModel model;
  std::string file = model.Folder().File("a.zsf");
};

TEST_F(SettingsFileTest, SavedBytesFollowTheLayout) {
  SettingsModel::Select(1701102);  // 12 V; lacks options 26, 27, 33, 35 to 37 and 38
  for (int i = 0; i < 15; ++i)
    SettingTable[Stored[i]].Value = 1000 + i;
  SettingTable[SettingDeviceKind].Value = 77;  // not stored
  SetFlag(FlagLeader, true);                   // lacking: written clear
  SetFlag(FlagFrequency60Hz, true);
  SetFlag(FlagAbsorptionFromBulk, true);
  std::string message = "stale";
  SaveSettingsFile(file, message);
  EXPECT_EQ(message, "");
  const std::string data = ReadBytes(file);
  ASSERT_EQ(data.size(), 124u);
  std::vector<std::int32_t> expected;
  for (int i = 0; i < 15; ++i)
    expected.push_back(1000 + i);
  for (int item : {26, 27, 28, 29, 30, 31, 32, 34, 35, 36, 37, 38, 39, 40})
    expected.push_back(item == 28 || item == 39 ? 0xAAAA : 0x5555);
  expected.push_back(0xAAAA);  // 12 V marker
  EXPECT_EQ(data, WithChecksum(expected));
  EXPECT_EQ(model.Folder().Files().size(), 2u);  // VERSION.DAT and a.zsf, no temporary

  SettingsModel::Select(1711104);  // 24 V marker
  SaveSettingsFile(file, message);
  EXPECT_EQ(Records(ReadBytes(file))[29], 0x5555);
}

TEST_F(SettingsFileTest, RoundTripReproducesValuesAndFlags) {
  SettingsModel::Select(1711107);
  SetDefaults();
  SettingTable[SettingAbsorptionVoltage].Value = 2900;
  SettingTable[SettingSlaves].Value = 3;
  for (int item : {26, 29, 34, 40})
    SetFlag(static_cast<std::uint8_t>(item), true);
  SetFlag(FlagStorageMode, false);
  SetFlag(FlagMultiPhaseCapable, true);
  const std::vector<std::int32_t> values = StoredValues();
  const std::int32_t flags_a = SettingTable[SettingFlagsA].Value;
  const std::int32_t flags_b = SettingTable[SettingFlagsB].Value;
  std::string message;
  SaveSettingsFile(file, message);
  ASSERT_EQ(message, "");

  SetBatteryDefaults(1);
  SettingTable[SettingSlaves].Value = 0;
  SettingTable[SettingFlagsB].Value = 0;
  SetFlag(FlagMultiPhase, false);
  LoadSettingsFile(file, message);
  EXPECT_EQ(message, "");
  EXPECT_EQ(StoredValues(), values);
  EXPECT_EQ(SettingTable[SettingFlagsA].Value, flags_a);  // flag 33 is not stored: kept
  EXPECT_EQ(SettingTable[SettingFlagsB].Value, flags_b);

  // The file carries no version: it loads into another of the same class.
  SettingsModel::Select(1712105);
  LoadSettingsFile(file, message);
  EXPECT_EQ(message, "");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2900);
}

TEST_F(SettingsFileTest, VoltageClassConversionAndClamping) {
  std::vector<std::int32_t> records = Values12();
  records[0] = 1440;  // absorption
  records[7] = 1175;  // low alarm
  records[12] = 190;  // restart amount
  records.resize(29, 0x5555);
  records.push_back(0xAAAA);       // written on a 12 V model
  SettingsModel::Select(1711104);  // loaded on a 24 V model: doubled
  EXPECT_EQ(Load(WithChecksum(records)), "");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2880);
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 2740);
  EXPECT_EQ(SettingTable[SettingLowBatteryAlarm].Value, 2350);
  EXPECT_EQ(SettingTable[SettingDCShutDown].Value, 2000);
  EXPECT_EQ(SettingTable[SettingDCRestart].Value, 380);
  EXPECT_EQ(SettingTable[SettingChargeCurrent].Value, 40);  // taken as it is

  // At and beyond the device word's limits a doubled value ends at the bound it went beyond.
  for (const std::int32_t high : {65535, 0x40000000, 0x7FFFFFFF}) {
    records[0] = high;
    records[1] = -1;
    EXPECT_EQ(Load(WithChecksum(records)),
              "IThere were 2 settings out of bounds.\rThese settings are changed to valid values.")
        << high;
    EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 3200) << high;
    EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 2400) << high;
  }

  // The reverse halves; values the conversion takes out of bounds are clamped and counted.
  std::vector<std::int32_t> from24 = {2880, 2760, 40, 230,  120, 8, 10, 2350,
                                      3200, 5,    2,  2000, 380, 1, 2};
  from24.resize(29, 0x5555);
  from24.push_back(0x5555);
  SettingsModel::Select(1701102);
  EXPECT_EQ(Load(WithChecksum(from24)), "");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1440);
  EXPECT_EQ(SettingTable[SettingHighBatteryAlarm].Value, 1600);

  from24[0] = 2200;  // 1100 after halving: below 1200
  EXPECT_EQ(Load(WithChecksum(from24)),
            "IThere was 1 setting out of bounds.\rThis setting is changed to a valid value.");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1200);

  // A marker of neither kind converts nothing: float, both alarms and the shut-down clamp.
  from24[29] = 7;
  from24[0] = 1300;
  EXPECT_EQ(Load(WithChecksum(from24)),
            "IThere were 4 settings out of bounds.\rThese settings are changed to valid values.");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1300);
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 1600);
}

TEST_F(SettingsFileTest, BoundsCountEveryClampedValue) {
  SettingsModel::Select(1701102);  // 12 V, 80 A, two characteristics
  std::vector<std::int32_t> records = Values12();
  records[2] = 200;  // charge current above 80
  records[10] = 0;   // charge characteristic below 1
  records[13] = 9;   // slaves above 4: the version lacks them, clamped but not reported
  records.resize(29, 0x5555);
  records.push_back(0xAAAA);
  EXPECT_EQ(Load(WithChecksum(records)),
            "IThere were 2 settings out of bounds.\rThese settings are changed to valid values.");
  EXPECT_EQ(SettingTable[SettingChargeCurrent].Value, 80);
  EXPECT_EQ(SettingTable[SettingChargeCharacteristic].Value, 1);
  EXPECT_EQ(SettingTable[SettingSlaves].Value, 4);
  EXPECT_FALSE(SettingTable[SettingSlaves].IsPresent());
}

TEST_F(SettingsFileTest, FlagRecordsAndLackingOptions) {
  SettingsModel::Select(1701102);  // lacks option 27 (leader)
  std::vector<std::int32_t> records = Values12();
  for (int i = 0; i < 14; ++i)
    records.push_back(0xAAAA);
  records[15 + 2] = 1;  // flag 28 recorded as 1: clear
  records.push_back(0xAAAA);
  SettingTable[SettingFlagsA].Value = 0;
  EXPECT_EQ(Load(WithChecksum(records)), "");
  EXPECT_FALSE(GetFlag(FlagFrequency60Hz));
  EXPECT_TRUE(GetFlag(FlagStopAfterBulk));
  EXPECT_FALSE(GetFlag(FlagLeader));
  EXPECT_TRUE(GetFlag(FlagAbsorptionFromBulk));
}

TEST_F(SettingsFileTest, DamagedShortAndLongFiles) {
  SettingsModel::Select(1711104);
  std::vector<std::int32_t> records = {2900, 2740, 40, 230,  120, 8, 10, 2200,
                                       3100, 5,    2,  2000, 300, 1, 2};
  records.resize(29, 0x5555);
  records.push_back(0x5555);
  const std::string good = WithChecksum(records);

  std::string bad_sum = good;
  bad_sum[123] = static_cast<char>(bad_sum[123] ^ 1);
  EXPECT_EQ(Load(bad_sum), Corrupted);
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2880);  // the defaults
  EXPECT_TRUE(GetFlag(FlagStorageMode));

  // A short file (mended: reported as corrupted), with defaults rather than half the file.
  SettingTable[SettingAbsorptionVoltage].Value = 1;
  EXPECT_EQ(Load(good.substr(0, 123)), Corrupted);
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2880);
  EXPECT_EQ(Load(""), Corrupted);

  EXPECT_EQ(Load(good + "trailing bytes are ignored"), "");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2900);
}

TEST_F(SettingsFileTest, OpenAndCreateFailures) {
  SettingsModel::Select(1711104);
  SetDefaults();
  const std::vector<std::int32_t> before = StoredValues();
  std::string message;
  const std::string missing = model.Folder().File("missing.zsf");
  LoadSettingsFile(missing, message);
  EXPECT_EQ(message, "ECannot open file: " + missing);
  EXPECT_EQ(StoredValues(), before);
  LoadSettingsFile(model.Folder().Path(), message);
  EXPECT_EQ(message, "ECannot open file: " + model.Folder().Path());

  // A read-only file loads (mended: it is opened for reading only).
  SaveSettingsFile(file, message);
  ASSERT_EQ(message, "");
  chmod(file.c_str(), 0444);
  LoadSettingsFile(file, message);
  EXPECT_EQ(message, "");
  // ... and a save does not replace it, whoever runs the program.
  const std::string read_only_bytes = ReadBytes(file);
  SettingTable[SettingAbsorptionVoltage].Value += 10;
  SaveSettingsFile(file, message);
  EXPECT_EQ(message, "Error creating file: " + file);
  EXPECT_EQ(ReadBytes(file), read_only_bytes);
  chmod(file.c_str(), 0644);

  // A save that fails leaves the old file whole.
  const std::string old_bytes = ReadBytes(file);
  SettingTable[SettingAbsorptionVoltage].Value = 3000;
  SetAtomicWriteFailureHook([](TAtomicStep step) { return step != TAtomicStep::Write; });
  SaveSettingsFile(file, message);
  SetAtomicWriteFailureHook(nullptr);
  EXPECT_EQ(message, "Error creating file: " + file);
  EXPECT_EQ(ReadBytes(file), old_bytes);
  EXPECT_EQ(model.Folder().Files().size(), 2u);

  const std::string nowhere = model.Folder().File("no/such/folder.zsf");
  SaveSettingsFile(nowhere, message);
  EXPECT_EQ(message, "Error creating file: " + nowhere);
}

}  // namespace
}  // namespace zo::test
