#include "settings/Settings.h"

#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace zo::test {
namespace {

class RecordingLabel final : public TValueLabel {
 public:
  void SetCaption(const std::string& Text) override { Captions.push_back(Text); }
  std::vector<std::string> Captions;
};

TEST(SettingsModel, BuiltFromTheTableBesideTheProgram) {
  // The program's own VERSION.DAT (generated from data/versions.txt) holds the built-in records.
  std::string error;
  InitSettings(error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(VersionList.size(), BuiltInVersionRecords().size());
  for (std::size_t i = 0; i < VersionList.size(); ++i)
    EXPECT_EQ(VersionList[i]->Record(), BuiltInVersionRecords()[i]);
  EXPECT_EQ(CurrentVersion, nullptr);

  // Settings start present-less, readable, and with the kinds and scales of their definitions.
  for (int n = 1; n <= 25; ++n) {
    EXPECT_FALSE(SettingTable[n].IsPresent()) << n;
    EXPECT_FALSE(SettingTable[n].ReadFailed) << n;
  }
  EXPECT_EQ(SettingTable[SettingIdc].Kind, TVariable::KindSignedWord);
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Kind, TVariable::KindWord);
  EXPECT_EQ(SettingTable[SettingRepeatedAbsorptionTime].Scale, 0.25L);
  EXPECT_EQ(SettingTable[SettingShoreCurrent].Scale, 0.1L);
  EXPECT_THROW(SettingTable[0], std::out_of_range);
  EXPECT_THROW(SettingTable[26], std::out_of_range);

  std::vector<int> order;
  std::vector<std::string> labels;
  for (const auto& m : MonitorList) {
    for (int n = 1; n <= 7; ++n)
      if (m->Setting == &SettingTable[n]) order.push_back(n);
    labels.push_back(m->LabelName);
    EXPECT_EQ(m->ValueLabel, nullptr);
  }
  EXPECT_EQ(order, (std::vector<int>{6, 1, 4, 5, 2, 3, 7}));
  EXPECT_EQ(labels.front(), "UBatRippleStatusLabel");
  EXPECT_EQ(labels.back(), "IBatStatusLabel");
  DoneSettings();
  EXPECT_FALSE(SettingTable.Built());
  EXPECT_TRUE(VersionList.empty());
}

TEST(SettingsModel, MonitorLabelsBindAndNullDropsUpdates) {
  SettingsModel model;
  RecordingLabel label;
  MonitorList[0]->ShowValue();  // no label bound: dropped
  EXPECT_TRUE(BindMonitorLabel("UBatStatusLabel", &label));
  EXPECT_FALSE(BindMonitorLabel("NoSuchLabel", &label));
  SettingTable[SettingUdc].Value = 1342;
  for (const auto& m : MonitorList)
    m->ShowValue();
  EXPECT_EQ(label.Captions, std::vector<std::string>{"13.4"});
  EXPECT_TRUE(BindMonitorLabel("UBatStatusLabel", nullptr));
  for (const auto& m : MonitorList)
    m->ShowValue();
  EXPECT_EQ(label.Captions.size(), 1u);
}

TEST(SettingsVersions, SelectAppliesAddressesAndTheFirstDuplicateWins) {
  SettingsModel model;
  SettingTable[SettingSlaves].Value = 3;
  SettingTable[SettingAbsorptionVoltage].Value = 1500;

  // 1711104 occurs twice; the first record (70 A) wins over the later one (50 A).
  ASSERT_TRUE(SelectVersion(1711104));
  EXPECT_EQ(CurrentVersion, VersionList[0].get());
  EXPECT_EQ(CurrentVersion->Items(ItemMaxChargeCurrent), 70);
  EXPECT_EQ(DeviceFamily(), 17);
  EXPECT_EQ(DeviceModel(), 11);
  const TVersion::TRecord r = BuiltIn(1711104);
  // Family 17: settings 8 to 25 except 19 in page $21; monitors and 19 as the record says.
  for (int n = 1; n <= 25; ++n) {
    const bool paged = n >= 8 && n != 19;
    EXPECT_EQ(SettingTable[n].Address, (r[n] + (paged ? 0x2100 : 0)) & 0xFFFF) << n;
  }
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 0);  // present: zeroed
  EXPECT_EQ(SettingTable[SettingDeviceKind].Value, 128);

  // 1701102 lacks settings 22 and 23: they stay absent (also on family 17) and keep their value.
  SettingTable[SettingSlaves].Value = 3;
  ASSERT_TRUE(SelectVersion(1701102));
  EXPECT_EQ(SettingTable[SettingSlaves].Address, 0xFFFF);
  EXPECT_FALSE(SettingTable[SettingSlaves].IsPresent());
  EXPECT_EQ(SettingTable[SettingSlaves].Value, 3);

  // Another family: addresses unpaged.
  ASSERT_TRUE(SelectVersion(1510009));
  EXPECT_EQ(SettingTable[SettingDCShutDown].Address, BuiltIn(1510009)[20]);

  // An unknown version: none, every address $FFFF, values kept.
  SettingTable[SettingFloatVoltage].Value = 1380;
  EXPECT_FALSE(SelectVersion(1799999));
  EXPECT_EQ(CurrentVersion, nullptr);
  EXPECT_EQ(DeviceFamily(), -1);
  EXPECT_EQ(DeviceModel(), -1);
  for (int n = 1; n <= 25; ++n)
    EXPECT_FALSE(SettingTable[n].IsPresent()) << n;
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 1380);
}

TEST(SettingsVersions, AbsentSettingsNeedNoTraffic) {
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(1401003));  // a charger that reports no live values
  ScriptDriver driver;
  for (int n = 1; n <= 7; ++n) {
    SettingTable[n].ReadFailed = false;
    EXPECT_TRUE(SettingTable[n].ReadFrom(&driver));
  }
  EXPECT_TRUE(SettingTable[SettingInverterOutput].WriteTo(&driver));
  EXPECT_TRUE(driver.Log.empty());
}

TEST(SettingsFlags, DescriptorsSelectByteAndBit) {
  TVersion::TRecord r = BareRecord(1510001);
  r[SettingFlagsA] = 0x0050;
  r[SettingFlagsB] = 0x0051;
  r[FlagLeader] = 0x00010003;  // byte B, bit 3
  r[FlagStopAfterBulk] = 3;    // byte A, bit 3
  r[FlagChargerOff] = 35;      // byte A, bit 35 mod 32 = 3
  r[FlagAESOff] = 0x00020007;  // any other byte selector: byte B
  SettingsModel model({r});
  EXPECT_FALSE(GetFlag(FlagLeader));  // no current version
  ASSERT_TRUE(SelectVersion(1510001));

  SettingTable[SettingFlagsB].Value = 0x08;
  EXPECT_TRUE(GetFlag(FlagLeader));
  EXPECT_FALSE(GetFlag(FlagStopAfterBulk));
  SettingTable[SettingFlagsA].Value = 0x08;
  SettingTable[SettingFlagsB].Value = 0;
  EXPECT_TRUE(GetFlag(FlagStopAfterBulk));
  EXPECT_TRUE(GetFlag(FlagChargerOff));
  EXPECT_FALSE(GetFlag(FlagLeader));

  SetFlag(FlagAESOff, true);
  EXPECT_EQ(SettingTable[SettingFlagsB].Value, 0x80);
  SetFlag(FlagChargerOff, false);
  EXPECT_EQ(SettingTable[SettingFlagsA].Value, 0);
  // Options the version lacks, and numbers that are no option, are ignored.
  SetFlag(FlagGroundRelayOff, true);
  SetFlag(SettingFlagsA, true);
  EXPECT_FALSE(GetFlag(FlagGroundRelayOff));
  EXPECT_FALSE(GetFlag(SettingFlagsA));
  EXPECT_EQ(SettingTable[SettingFlagsA].Value, 0);
  EXPECT_EQ(SettingTable[SettingFlagsB].Value, 0x80);
}

TEST(SettingsCapabilities, MultiPhaseRules) {
  SettingsModel model;
  EXPECT_FALSE(HasMultiPhase());
  struct Case {
    std::int32_t Version;
    bool Expected;
  } cases[] = {
      {1711104, true},   // item 41 = 1
      {1701102, false},  // item 41 = 0
      {1501004, true},   // decided by item 42 = 1
      {1512003, true},   // items 41, 33, 42 all absent: 1512003 - 12000 = 1500003
      {1542001, false},  // item 41 = 2 and the capability flag clear
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SelectVersion(c.Version));
    EXPECT_EQ(HasMultiPhase(), c.Expected) << c.Version;
  }
  ASSERT_TRUE(SelectVersion(1510009));  // item 41 = 2: the capability flag decides
  EXPECT_FALSE(HasMultiPhase());
  SetFlag(FlagMultiPhaseCapable, true);
  EXPECT_TRUE(HasMultiPhase());
}

TEST(SettingsCapabilities, FollowTheVersionRecord) {
  SettingsModel model;
  // Without a version only HasCharger holds.
  EXPECT_TRUE(HasCharger());
  EXPECT_FALSE(HasInverter() || HasFrequency() || HasAES() || HasPeakFeed() || HasSlaveCount() ||
               HasPhaseModes() || HasGroundRelay() || HasWaveShape() || HasCellGuard() ||
               HasShoreCurrent() || HasStopAfterBulk() || HasStorageMode() || HasAlarmRelay() ||
               HasDCLowLevels() || HasLowRippleProtection() || HasHighRippleProtection() ||
               HasAbsorptionCalculation() || HasChargerSwitch() || CurveHasStorageStage());

  ASSERT_TRUE(SelectVersion(1712105));
  EXPECT_TRUE(HasPeakFeed());
  EXPECT_TRUE(HasInverter() && HasAlarmRelay() && HasCellGuard() && HasSlaveCount());
  ASSERT_TRUE(SelectVersion(1711104));
  EXPECT_FALSE(HasPeakFeed());  // model 11
  EXPECT_FALSE(HasGroundRelay());
  ASSERT_TRUE(SelectVersion(1542001));
  EXPECT_FALSE(HasPeakFeed());  // family 15 never

  ASSERT_TRUE(SelectVersion(1701102));
  EXPECT_FALSE(HasAES() || HasLowRippleProtection() || HasCellGuard() || HasSlaveCount() ||
               HasPhaseModes() || HasStorageMode());

  ASSERT_TRUE(SelectVersion(1400012));
  EXPECT_FALSE(HasInverter() || HasAlarmRelay() || HasDCLowLevels() || HasShoreCurrent());
  EXPECT_TRUE(HasCharger() && HasStopAfterBulk() && HasAbsorptionCalculation());

  // The charger switch, wave shape and ground relay go with the charger.
  ASSERT_TRUE(SelectVersion(1711107));
  IsInverterOnly = false;
  EXPECT_TRUE(HasChargerSwitch() && HasWaveShape() && HasGroundRelay());
  IsInverterOnly = true;
  EXPECT_FALSE(HasChargerSwitch() || HasWaveShape() || HasGroundRelay() || HasCharger());
}

TEST(SettingsCapabilities, StorageStageOfTheChargeCurve) {
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(1711104));  // storage mode option present: the flag decides
  SetFlag(FlagStorageMode, false);
  EXPECT_FALSE(CurveHasStorageStage());
  SetFlag(FlagStorageMode, true);
  EXPECT_TRUE(CurveHasStorageStage());

  TVersion::TRecord r = BuiltIn(1510009);
  r[0] = 1510010;
  r[FlagStorageMode] = -1;  // no option: a fixed characteristic has no storage stage
  TVersion::TRecord no_stage = BuiltIn(1510009);
  no_stage[0] = 1510011;
  no_stage[ItemStorageStage] = -1;
  SettingsModel other({r, no_stage});
  ASSERT_TRUE(SelectVersion(1510010));
  SettingTable[SettingChargeCharacteristic].Value = 1;
  EXPECT_FALSE(CurveHasStorageStage());
  SettingTable[SettingChargeCharacteristic].Value = 2;
  EXPECT_TRUE(CurveHasStorageStage());
  ASSERT_TRUE(SelectVersion(1510011));
  SetFlag(FlagStorageMode, true);
  EXPECT_FALSE(CurveHasStorageStage());
}

TEST(SettingsBounds, ByVersionModelAndVoltageClass) {
  SettingsModel model;
  auto bounds = [](int n) {
    GetBounds(static_cast<std::uint8_t>(n));
    return std::vector<std::int32_t>{BoundMin, BoundMax, BoundDefault};
  };
  SettingsModel::Select(1400012);  // family 14, 50 A
  EXPECT_EQ(bounds(SettingChargeCurrent), (std::vector<std::int32_t>{0, 50, 50}));
  EXPECT_EQ(bounds(SettingAbsorptionVoltage), (std::vector<std::int32_t>{1200, 1600, 1440}));
  SettingsModel::Select(1510009);  // family 15, 50 A, 24 V
  EXPECT_EQ(bounds(SettingChargeCurrent), (std::vector<std::int32_t>{0, 50, 37}));
  EXPECT_EQ(bounds(SettingAbsorptionVoltage), (std::vector<std::int32_t>{2400, 3200, 2880}));
  EXPECT_EQ(bounds(SettingDCRestart), (std::vector<std::int32_t>{0, 800, 380}));
  EXPECT_EQ(bounds(SettingLowBatteryAlarm), (std::vector<std::int32_t>{1000, 3200, 2350}));
  EXPECT_EQ(bounds(SettingRepeatedAbsorptionTime), (std::vector<std::int32_t>{1, 72, 4}));
  EXPECT_EQ(bounds(SettingInverterOutput), (std::vector<std::int32_t>{180, 245, 230}));
  EXPECT_EQ(bounds(SettingChargeCharacteristic), (std::vector<std::int32_t>{1, 3, 3}));
  EXPECT_EQ(bounds(SettingDeviceKind), (std::vector<std::int32_t>{0, 0, 0}));
  EXPECT_EQ(bounds(SettingFlagsA), (std::vector<std::int32_t>{0, 0, 0}));
  SettingsModel::Select(1731101);  // 120 V, 12 V
  EXPECT_EQ(bounds(SettingInverterOutput), (std::vector<std::int32_t>{94, 128, 120}));
  EXPECT_EQ(bounds(SettingShoreCurrent), (std::vector<std::int32_t>{10, 150, 150}));
  EXPECT_EQ(bounds(SettingDCShutDown), (std::vector<std::int32_t>{900, 1300, 900}));
  EXPECT_EQ(bounds(SettingChargeCurrent), (std::vector<std::int32_t>{0, 80, 60}));
}

// The table of bounds, per voltage class and mains voltage: {setting, min, max, default} for a
// 12 V model; a 24 V model doubles min, max and default of the six battery voltages.
TEST(SettingsBounds, TheTableForEachVoltageClass) {
  struct Row {
    int Setting;
    std::int32_t Min, Max, Default;
  };
  const std::vector<Row> common{{8, 1200, 1600, 1440}, {9, 1200, 1600, 1380}, {10, 0, 60, 45},
                                {13, 1, 72, 4},        {14, 1, 45, 7},        {15, 500, 1600, 1175},
                                {16, 500, 1600, 1600}, {17, 1, 8, 4},         {18, 1, 3, 3},
                                {20, 900, 1300, 900},  {21, 0, 400, 190},     {22, 0, 4, 0},
                                {23, 0, 3, 0},         {19, 0, 0, 0},         {24, 0, 0, 0}};
  const std::vector<Row> mains230{{11, 180, 245, 230}, {12, 10, 160, 160}};
  const std::vector<Row> mains120{{11, 94, 128, 120}, {12, 10, 150, 150}};
  std::vector<TVersion::TRecord> records;
  for (std::int32_t v : {1701001, 1711001, 1731001, 1741001, 1751001}) {
    TVersion::TRecord r = BareRecord(v);
    r[44] = 3;   // charge characteristics
    r[46] = 60;  // maximum charge current: default 0.75 of it outside family 14
    records.push_back(r);
  }
  SettingsModel model(records);
  for (std::int32_t v : {1701001, 1711001, 1731001, 1741001, 1751001}) {
    SettingsModel::Select(v);
    const int model_number = (v / 1000) % 100;
    const bool volts24 = model_number == 11 || model_number == 41;
    std::vector<Row> rows = common;
    const auto& mains = model_number >= 30 && model_number < 50 ? mains120 : mains230;
    rows.insert(rows.end(), mains.begin(), mains.end());
    for (const Row& row : rows) {
      const bool doubled = volts24 && (row.Setting == 8 || row.Setting == 9 || row.Setting == 15 ||
                                       row.Setting == 16 || row.Setting == 20 || row.Setting == 21);
      const std::int32_t k = doubled ? 2 : 1;
      GetBounds(static_cast<std::uint8_t>(row.Setting));
      EXPECT_EQ((std::vector<std::int32_t>{BoundMin, BoundMax, BoundDefault}),
                (std::vector<std::int32_t>{k * row.Min, k * row.Max, k * row.Default}))
          << "version " << v << ", setting " << row.Setting;
    }
  }
}

TEST(SettingsDefaults, SettingsAndOptions) {
  SettingsModel model;
  SettingTable[SettingAbsorptionVoltage].Value = 1;
  SetDefaults();  // no version: nothing changes
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1);

  SettingsModel::Select(1742102);  // 120 V, 24 V
  SettingTable[SettingFlagsA].Value = 0xFF;
  SettingTable[SettingFlagsB].Value = 0xFF;
  SettingTable[SettingDeviceKind].Value = 125;
  SetDefaults();
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2880);
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 2760);
  EXPECT_EQ(SettingTable[SettingChargeCurrent].Value, 30);
  EXPECT_EQ(SettingTable[SettingInverterOutput].Value, 120);
  EXPECT_EQ(SettingTable[SettingShoreCurrent].Value, 150);
  EXPECT_EQ(SettingTable[SettingDCRestart].Value, 380);
  EXPECT_EQ(SettingTable[SettingDeviceKind].Value, 125);  // untouched
  EXPECT_TRUE(GetFlag(FlagStorageMode));
  EXPECT_TRUE(GetFlag(FlagFrequency60Hz));      // 120 V model
  EXPECT_TRUE(GetFlag(FlagMultiPhaseCapable));  // left as it was
  for (int item : {26, 27, 29, 30, 31, 32, 34, 35, 36, 37, 39, 40})
    EXPECT_FALSE(GetFlag(static_cast<std::uint8_t>(item))) << item;

  SettingsModel::Select(1711104);
  SetFlag(FlagFrequency60Hz, true);
  SetDefaults();
  EXPECT_FALSE(GetFlag(FlagFrequency60Hz));
}

TEST(SettingsDefaults, BatteryPresets) {
  SettingsModel model;
  SettingsModel::Select(1701102);  // 12 V
  SetBatteryDefaults(1);
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1500);
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 1380);
  EXPECT_EQ(SettingTable[SettingAbsorptionTime].Value, 6);
  SetBatteryDefaults(4);  // no such preset
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 1500);
  auto preset = [] {
    return std::vector<std::int32_t>{SettingTable[SettingAbsorptionVoltage].Value,
                                     SettingTable[SettingFloatVoltage].Value,
                                     SettingTable[SettingAbsorptionTime].Value};
  };
  SetBatteryDefaults(0);
  EXPECT_EQ(preset(), (std::vector<std::int32_t>{1440, 1380, 4}));
  SetBatteryDefaults(2);
  EXPECT_EQ(preset(), (std::vector<std::int32_t>{1440, 1400, 5}));
  SettingsModel::Select(1711104);  // 24 V: voltages doubled, time not
  SetBatteryDefaults(3);
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2960);
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, 2800);
  EXPECT_EQ(SettingTable[SettingAbsorptionTime].Value, 5);
}

TEST(SettingsDeviceType, NamesVoltageClassAndShoreCurrentScale) {
  std::vector<TVersion::TRecord> records;
  for (int v : {1711000, 1702001, 1502001, 1542001, 1410001, 1705001, 1731001, 1701001, 1499001,
                1612001, 1400001, 1411001, 1741001, 1401001})
    records.push_back(BareRecord(v));
  SettingsModel model(records);

  auto name = [](std::int32_t version, bool inverter_only) {
    SelectVersion(version);
    IsInverterOnly = inverter_only;
    std::string n = "stale";
    GetDeviceTypeName(n);
    return n;
  };
  EXPECT_EQ(name(1711000, false), "Corvane Multi 230Vac 24H");
  EXPECT_FALSE(Is12VoltSystem);
  EXPECT_EQ(name(1711000, true), "Corvane Inverter 230Vac 24H");
  EXPECT_EQ(name(1702001, false), "Corvane Multi+ 230Vac 12F");
  EXPECT_EQ(name(1502001, false), "Corvane Multi 230Vac 12F");
  EXPECT_EQ(name(1542001, false), "Corvane Multi+ 120Vac 24F");
  EXPECT_EQ(name(1741001, true), "Corvane Inverter 120Vac 24H");
  EXPECT_EQ(name(1410001, true), "Corvane Charger 24/25");  // never a prefix
  EXPECT_FALSE(Is12VoltSystem);
  EXPECT_EQ(name(1400001, false), "Corvane Charger 12/50");
  EXPECT_EQ(name(1411001, false), "Corvane Charger 24/16");
  EXPECT_EQ(name(1499001, false), "");  // charger model without a name
  EXPECT_EQ(name(1612001, false), "");  // unknown family
  EXPECT_EQ(name(1705001, false), "");
  EXPECT_TRUE(Is12VoltSystem);
  EXPECT_EQ(SettingTable[SettingShoreCurrent].Scale, 0.1L);

  EXPECT_EQ(name(1401001, false), "Corvane Charger 12/30");
  TSetting& shore = SettingTable[SettingShoreCurrent];
  name(1731001, false);
  shore.Value = 75;
  EXPECT_EQ(shore.Scale, 0.2L);
  EXPECT_EQ(shore.AsText(), "15.0");
  name(1701001, false);
  EXPECT_EQ(shore.AsText(), "7.5");

  // Without a current version: empty, and nothing else changes.
  name(1731001, false);
  SelectVersion(1);
  Is12VoltSystem = false;
  std::string n = "stale";
  GetDeviceTypeName(n);
  EXPECT_EQ(n, "");
  EXPECT_FALSE(Is12VoltSystem);
  EXPECT_EQ(shore.Scale, 0.2L);
}

// The suffix of every model that has one, in both families, as the table of names gives it.
TEST(SettingsDeviceType, EverySuffixOfFamilies15And17) {
  struct Row {
    int Model;
    const char* Family15;
    const char* Family17;
  };
  const std::vector<Row> rows{
      {0, " 230Vac 12F", " 230Vac 12F"},    {1, " 230Vac 12H", " 230Vac 12H"},
      {10, " 230Vac 24F", " 230Vac 24F"},   {12, " 230Vac 24F", "+ 230Vac 24F"},
      {30, " 120Vac 12F", " 120Vac 12F"},   {31, " 120Vac 12H", " 120Vac 12H"},
      {32, "+ 120Vac 12F", "+ 120Vac 12F"}, {40, " 120Vac 24F", " 120Vac 24F"}};
  std::vector<TVersion::TRecord> records;
  for (const Row& row : rows)
    for (int family : {15, 17})
      records.push_back(BareRecord(family * 100000 + row.Model * 1000 + 1));
  SettingsModel model(records);
  for (const Row& row : rows) {
    for (int family : {15, 17}) {
      SelectVersion(family * 100000 + row.Model * 1000 + 1);
      IsInverterOnly = false;
      std::string name;
      GetDeviceTypeName(name);
      EXPECT_EQ(name, std::string("Corvane Multi") + (family == 15 ? row.Family15 : row.Family17))
          << family << " " << row.Model;
    }
  }
}

}  // namespace
}  // namespace zo::test
