// The support tools of zocfg end to end: settings as text, diff and decode, against zo-sim.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "settings/SettingTexts.h"
#include "settings/SettingsTextFile.h"

#include "tests/cli/ZocfgFixture.h"

namespace zo::test {
namespace {

TEST_F(ZocfgEndToEnd, ReadTextIsAcceptedByWriteAndABadLineSendsNothing) {
  SimProcess sim(folder_, {"--device", "1711104", "--traffic"});
  const std::string text = folder_.File("van.txt"), trace = folder_.File("trace.txt");
  RunResult r = Zocfg(folder_, {"read", "--port", sim.Path(), "--text", text, "--trace", trace});
  ASSERT_EQ(r.Status, 0) << r.Err;

  // The trace of the whole read decodes with names and values. Its stamps are those of the
  // program's reads on this machine, later than the bytes came when the machine is busy: the
  // flags that timing can raise (hold-offs, late replies, repeated requests) are checked on traces
  // made on the virtual clock (TraceDecoderTest), here only those it cannot.
  r = Zocfg(folder_, {"decode", trace});
  EXPECT_EQ(r.Status, 0) << r.Err;
  for (const char* part :
       {"adapter answer 'V': DL2 firmware 1130118, mode ZOBus",
        "software version 1711104 (Corvane Multi 230Vac 24H)", "read $2110 (Absorption voltage)",
        ": Absorption voltage = 28.80 V", "echo of the PC's frame", "; 0 lines not understood\n"})
    EXPECT_TRUE(Contains(r.Out, part)) << part << "\n" << r.Out;
  r = Zocfg(folder_, {"decode", trace, "--json"});
  const auto decoded = nlohmann::json::parse(r.Out, nullptr, false);
  EXPECT_EQ(decoded["software_version"], 1711104) << r.Out;
  for (const char* flag : {"checksum_failures", "unmatched_replies", "stray_bytes"})
    EXPECT_EQ(decoded["summary"][flag], 0) << flag << "\n" << r.Out;
  std::string data = ReadFile(text);
  for (const char* part :
       {"Device type = Corvane Multi 230Vac 24H\n", "Software version = 1711104\n",
        "Absorption voltage = 28.80 V\n", "Charger = on\n"})
    EXPECT_TRUE(Contains(data, part)) << part << "\n" << data;

  data.replace(data.find("28.80 V"), 7, "29.60 V");
  WriteFile(text, data);
  r = Zocfg(folder_, {"write", "--port", sim.Path(), text, "--dry-run"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Changes:\n  Absorption voltage: 28.80 V -> 29.60 V\nDry run: nothing was sent.\n");

  // A byte order mark is skipped; a text naming another software version is loaded with a
  // warning. A text over 1 MB is refused before the device is asked anything.
  std::string foreign = "\xEF\xBB\xBF" + data;
  foreign.replace(foreign.find("1711104"), 7, "1501004");
  WriteFile(folder_.File("foreign.txt"), foreign);
  r = Zocfg(folder_, {"write", "--port", sim.Path(), folder_.File("foreign.txt"), "--dry-run"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Changes:\n  Absorption voltage: 28.80 V -> 29.60 V\nDry run: nothing was sent.\n");
  EXPECT_TRUE(Contains(r.Err, "warning: " + folder_.File("foreign.txt") +
                                  " names software version 1501004 (Corvane Multi 230Vac 24H); "
                                  "the device on " +
                                  sim.Path() +
                                  " is software version 1711104 (Corvane Multi 230Vac 24H).\n"))
      << r.Err;
  WriteFile(folder_.File("big.txt"), data + std::string(1 << 20, '#'));
  r = Zocfg(folder_, {"write", "--port", "/dev/null", folder_.File("big.txt")});
  EXPECT_EQ(r.Status, 3) << r.Err;  // not 1: the port was never opened
  EXPECT_TRUE(Contains(r.Err, "big.txt is too large for a settings text.")) << r.Err;

  // The device against the edited text, as diff sees it.
  r = Zocfg(folder_, {"diff", "--port", sim.Path(), text, "--json"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "\"first\": \"28.80 V\",\n      \"second\": \"29.60 V\"")) << r.Out;

  WriteFile(text, data + "Float voltage = 27.6 A\n");
  r = Zocfg(folder_, {"write", "--port", sim.Path(), text});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "line ")) << r.Err;
  EXPECT_EQ(sim.Stop().count("frames 0B"), 0u);
}

TEST_F(ZocfgEndToEnd, DiffOfFilesAndDefaultsOnEveryVersion) {
  std::set<std::int32_t> done;
  for (const auto& record : BuiltInVersionRecords()) {
    if (!done.insert(record[0]).second) continue;
    const std::string v = std::to_string(record[0]);
    ASSERT_TRUE(SelectVersion(record[0]));
    std::string name, message;
    GetDeviceTypeName(name);
    SetDefaults();
    const std::string defaults = SaveModel(v + ".zsf");
    const std::int32_t time = SettingTable[SettingAbsorptionTime].Value;
    SetFlag(FlagStorageMode, false);
    SettingTable[SettingAbsorptionTime].Value = time + 1;
    const std::string changed = folder_.File(v + ".txt");
    SaveSettingsText(changed, message);

    RunResult r = Zocfg(folder_, {"diff", defaults, "--defaults", "--version", v});
    EXPECT_EQ(r.Status, 0) << v << r.Out << r.Err;
    EXPECT_EQ(r.Out, "") << v;
    const auto changes = [&](bool Forward) {
      const std::string a = QuantityText(SettingAbsorptionTime, time),
                        b = QuantityText(SettingAbsorptionTime, time + 1);
      std::string text = "Absorption time: " + (Forward ? a + " -> " + b : b + " -> " + a) + "\n";
      if (CurrentVersion->Items(FlagStorageMode) != -1)
        text += Forward ? "Storage mode: on -> off\n" : "Storage mode: off -> on\n";
      return text;
    };
    // The .zsf names no version: the text's applies to both.
    r = Zocfg(folder_, {"diff", defaults, changed});
    EXPECT_EQ(r.Status, 1) << v << r.Err;
    EXPECT_EQ(r.Out, changes(true)) << v;
    r = Zocfg(folder_, {"diff", changed, "--defaults"});
    EXPECT_EQ(r.Status, 1) << v << r.Err;
    EXPECT_EQ(r.Out, changes(false)) << v;
  }

  const std::string zsf = folder_.File("1711104.zsf");
  EXPECT_EQ(Zocfg(folder_, {"diff", zsf, zsf}).Status, 2);  // no version anywhere
  EXPECT_EQ(Zocfg(folder_, {"diff", zsf, folder_.File("missing.zsf")}).Status, 3);
  WriteFile(folder_.File("bad.txt"), "Absorption voltage = 28.80 V\nColour = red\n");
  RunResult r = Zocfg(folder_, {"diff", folder_.File("bad.txt"), "--defaults"});
  EXPECT_EQ(r.Status, 3);
  EXPECT_TRUE(Contains(r.Err, "line 2: unknown setting \"Colour\"")) << r.Err;

  // A value above the other version's maximum is named, with that version's bounds.
  WriteFile(folder_.File("a.txt"), "Software version = 1712105\nCharge current = 45 A\n");
  WriteFile(folder_.File("b.txt"), "Software version = 1742102\n");
  r = Zocfg(folder_, {"diff", folder_.File("a.txt"), folder_.File("b.txt")});
  EXPECT_EQ(r.Status, 1) << r.Err;
  const std::size_t at = r.Out.find("Charge current: 45 A");
  EXPECT_TRUE(at != std::string::npos &&
              Contains(r.Out.substr(at, r.Out.find('\n', at) - at), "(0 A to 40 A)"))
      << r.Out;

  // Values are compared as stored: one out of bounds differs from the bound, and is named.
  ASSERT_TRUE(SelectVersion(1711104));
  std::string name;
  GetDeviceTypeName(name);
  SetDefaults();
  GetBounds(SettingAbsorptionVoltage);
  const std::int32_t min = BoundMin, max = BoundMax;
  SettingTable[SettingAbsorptionVoltage].Value = max;
  const std::string at_max = SaveModel("max.zsf");
  SettingTable[SettingAbsorptionVoltage].Value = max + 100;
  const std::string above = SaveModel("above.zsf");
  r = Zocfg(folder_, {"diff", above, at_max, "--version", "1711104"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  const auto q = [](std::int32_t Raw) { return QuantityText(SettingAbsorptionVoltage, Raw); };
  EXPECT_EQ(r.Out, "Warning: Absorption voltage: " + q(max + 100) + " of " + above +
                       " lies outside the bounds of software version 1711104 (" + q(min) + " to " +
                       q(max) + ")\nAbsorption voltage: " + q(max + 100) + " -> " + q(max) + "\n");
}

}  // namespace
}  // namespace zo::test
