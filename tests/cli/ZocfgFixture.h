// The fixture of the zocfg end-to-end tests: a folder of its own, the settings model of the test
// process built on the VERSION.DAT beside the programs (it makes the files zocfg is given and
// compared with), and a reader of the frames in a --trace file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "data/VersionTable.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "sim/SimDevice.h"
#include "tests/cli/ProgramRunner.h"

namespace zo::test {

using Bytes = std::vector<std::uint8_t>;

// Every frame the program wrote, from a --trace file: the bytes of one write share a stamp.
inline std::vector<Bytes> SentFrames(const std::string& Trace) {
  std::vector<Bytes> frames;
  std::istringstream in(Trace);
  std::string stamp, direction, hex, last_stamp;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    if (!(words >> stamp >> direction >> hex) || direction != "PC>") continue;
    if (frames.empty() || stamp != last_stamp) frames.emplace_back();
    frames.back().push_back(static_cast<std::uint8_t>(std::stoi(hex, nullptr, 16)));
    last_stamp = stamp;
  }
  return frames;
}

inline bool Contains(const std::string& Text, const std::string& Part) {
  return Text.find(Part) != std::string::npos;
}

// The settings model of this test process, built on the VERSION.DAT beside the programs: it
// makes the files zocfg is compared with and the files it is given.
class ZocfgEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    SetVersionFileFolder(BinFolder());
    std::string error;
    InitSettings(error);
    ASSERT_EQ(error, "");
  }
  void TearDown() override { DoneSettings(); }

  // The model holding what a simulated device of this configuration holds, as a read would.
  void ModelOf(const sim::TSimDeviceConfig& Config) {
    ASSERT_TRUE(SelectVersion(Config.Record[0]));
    sim::SimDevice device(Config);
    for (int n = SettingAbsorptionVoltage; n <= SettingFlagsB; ++n)
      if (SettingTable[n].IsPresent()) SettingTable[n].Value = device.SettingValue(n);
    std::string name;
    GetDeviceTypeName(name);
  }

  std::string SaveModel(const std::string& Name) {
    const std::string path = folder_.File(Name);
    std::string message;
    SaveSettingsFile(path, message);
    EXPECT_EQ(message, "");
    return path;
  }

  static sim::TSimDeviceConfig Device(std::int32_t Version) {
    sim::TSimDeviceConfig c;
    c.Record = *FindBuiltInVersion(Version);
    return c;
  }

  TempFolder folder_;
};

}  // namespace zo::test
