// Settings as readable text: exact round trips on every version of the table, the bounds and
// voltage conversion of a settings file, and line-numbered errors that leave the settings alone.
#include <gtest/gtest.h>

#include <set>

#include "settings/SettingsFile.h"
#include "settings/SettingsTextFile.h"
#include "tests/settings/SettingsTestSupport.h"

namespace zo::test {
namespace {

struct TState {
  std::vector<std::int32_t> Values;
  std::vector<bool> Flags;
  bool operator==(const TState&) const = default;
};

TState State() {
  TState s;
  for (int n = SettingAbsorptionVoltage; n <= SettingPhaseMode; ++n)
    s.Values.push_back(
        n == SettingDeviceKind || !SettingTable[n].IsPresent() ? 0 : SettingTable[n].Value);
  for (int item = FlagMultiPhase; item <= FlagGroundRelayOff; ++item)
    s.Flags.push_back(item != FlagMultiPhaseCapable && GetFlag(static_cast<std::uint8_t>(item)));
  return s;
}

// Every stored setting to a value of its range chosen by `Pick`, every option by `Flag`.
void Fill(int Pick, bool Flag) {
  for (int n = SettingAbsorptionVoltage; n <= SettingPhaseMode; ++n) {
    if (n == SettingDeviceKind) continue;
    GetBounds(static_cast<std::uint8_t>(n));
    const std::int32_t span = BoundMax - BoundMin;
    SettingTable[n].Value = Pick == 0 ? BoundMin : Pick == 1 ? BoundMax : BoundMin + span / 3;
  }
  for (int item = FlagMultiPhase; item <= FlagGroundRelayOff; ++item)
    SetFlag(static_cast<std::uint8_t>(item), ((item % 2) == 0) == Flag);
}

TEST(SettingsText, WrittenAndReadBackGivesTheSameSettingsOnEveryVersion) {
  SettingsModel model;
  ASSERT_EQ(model.Error(), "");
  std::set<std::int32_t> done;
  for (const auto& record : BuiltInRecords()) {
    if (!done.insert(record[0]).second) continue;
    SettingsModel::Select(record[0]);
    for (int pick = 0; pick < 3; ++pick) {
      Fill(pick, pick == 1);
      const TState written = State();
      const std::string text = SettingsText();
      Fill((pick + 1) % 3, pick != 1);

      TSettingsText parsed;
      std::string error, message;
      ASSERT_TRUE(ParseSettingsText(text, parsed, error)) << record[0] << ": " << error;
      EXPECT_EQ(parsed.Version, record[0]);
      ApplySettingsText(parsed, message);
      EXPECT_EQ(message, "") << record[0];
      EXPECT_TRUE(State() == written) << record[0] << " pick " << pick << "\n" << text;
    }
  }
}

TEST(SettingsText, LoadsWithTheBoundsAndVoltageConversionOfASettingsFile) {
  SettingsModel model;
  SettingsModel::Select(1711104);  // 24 V
  SetDefaults();
  const std::int32_t float_voltage = SettingTable[SettingFloatVoltage].Value;
  const std::string file = model.Folder().File("van.txt");
  // A 12 V text: its voltages double (not those it does not name); an absorption time beyond the
  // bounds is corrected.
  WriteBytes(file,
             "# from the van\n\nSystem voltage = 12 V\nAbsorption voltage = 14.40 v  # gel\n"
             "Absorption time = 99 Hr\nCharger = OFF\n");
  std::string message;
  LoadAnySettingsFile(file, message);
  EXPECT_EQ(message,
            "IThere was 1 setting out of bounds.\rThis setting is changed to a valid value.");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2880);
  EXPECT_EQ(SettingTable[SettingFloatVoltage].Value, float_voltage);
  GetBounds(SettingAbsorptionTime);
  EXPECT_EQ(SettingTable[SettingAbsorptionTime].Value, BoundMax);
  EXPECT_TRUE(GetFlag(FlagChargerOff));

  // A settings file is still told apart and loaded as one.
  SaveSettingsFile(model.Folder().File("van.zsf"), message);
  SettingTable[SettingAbsorptionVoltage].Value = 2700;
  LoadAnySettingsFile(model.Folder().File("van.zsf"), message);
  EXPECT_EQ(message, "");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 2880);

  // A voltage far beyond the device word ends at the maximum, not wrapped by the doubling to a
  // small number and corrected to the minimum.
  WriteBytes(file, "System voltage = 12 V\nAbsorption voltage = 11000000 V\n");
  LoadAnySettingsFile(file, message);
  EXPECT_EQ(message,
            "IThere was 1 setting out of bounds.\rThis setting is changed to a valid value.");
  EXPECT_EQ(SettingTable[SettingAbsorptionVoltage].Value, 3200);
}

TEST(SettingsText, ALineThatIsNotUnderstoodIsAnErrorWithItsNumberAndChangesNothing) {
  SettingsModel model;
  SettingsModel::Select(1711104);
  const std::string file = model.Folder().File("bad.txt");
  const std::string good = "# ok\nFloat voltage = 27.00 V\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Absorption = 28.80 V", "line 3: unknown setting \"Absorption\""},
      {"Absorption voltage = 28,80 V", "line 3: bad number \"28,80\" for Absorption voltage"},
      {"Absorption voltage = 28.80 A", "line 3: Absorption voltage is in \"V\", not \"A\""},
      {"Absorption voltage = 28.80", "line 3: Absorption voltage is in \"V\", not \"\""},
      {"Charger = maybe", "line 3: Charger is \"off\" or \"on\", not \"maybe\""},
      {"Float voltage = 26 V", "line 3: \"Float voltage\" is given twice"},
      {"28.80 V", "line 3: expected \"Name = value\", not \"28.80 V\""},
      {"System voltage = 48 V", "line 3: the system voltage is 12 V or 24 V, not \"48 V\""},
  };
  for (const auto& [line, error] : cases) {
    WriteBytes(file, good + line + "\n");
    const TState before = State();
    std::string message;
    LoadAnySettingsFile(file, message);
    EXPECT_EQ(message, "E" + file + ", " + error) << line;
    EXPECT_TRUE(State() == before) << line;
  }
}

}  // namespace
}  // namespace zo::test
