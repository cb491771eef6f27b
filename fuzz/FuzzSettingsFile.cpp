// LoadSettingsFile on any bytes, against a version of the built-in table: the message has its
// kind letter, every value ends within its bounds unless the file could not be opened, and saving
// what was loaded and loading it again gives the same values without a message.
//
// Input: two bytes choosing the version (an index into the table), then the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/VersionTable.h"
#include "fuzz/FuzzSupport.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "settings/VersionFile.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;

namespace {

constexpr int kStored[] = {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23};

void BuildModel() {
  static PlainMainThread main_thread;
  SetMainThread(&main_thread);
  test::VirtualClock clock;
  const auto& table = BuiltInVersionRecords();
  const std::string file =
      EncodeVersionFile(std::vector<TVersion::TRecord>(table.begin(), table.end()));
  SetVersionFileFolder(fuzz::Folder());
  fuzz::WriteFile(fuzz::File("VERSION.DAT"), file.data(), file.size());
  std::string error;
  InitSettings(error);
  if (!error.empty() || VersionList.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const bool built = (BuildModel(), true);
  (void)built;
  if (Size < 2) return 0;
  const std::size_t index = (Data[0] | (Data[1] << 8)) % VersionList.size();
  SelectVersion(VersionList[index]->Items(0));
  std::string name;
  GetDeviceTypeName(name);

  const std::string path = fuzz::File("settings.zsf");
  fuzz::WriteFile(path, Data + 2, Size - 2);
  std::string message;
  LoadSettingsFile(path, message);
  if (!message.empty() && message[0] != 'E' && message[0] != 'I') std::abort();
  for (int s : kStored) {
    GetBounds(static_cast<std::uint8_t>(s));
    const std::int32_t v = SettingTable[s].Value;
    if (v < BoundMin || v > BoundMax) std::abort();
  }

  std::int32_t values[26] = {};
  bool flags[41] = {};
  for (int s : kStored)
    values[s] = SettingTable[s].Value;
  for (int f = 26; f <= 40; ++f)
    flags[f] = GetFlag(static_cast<std::uint8_t>(f));
  const std::string copy = fuzz::File("copy.zsf");
  SaveSettingsFile(copy, message);
  if (!message.empty()) std::abort();
  LoadSettingsFile(copy, message);
  if (!message.empty()) std::abort();
  for (int s : kStored)
    if (SettingTable[s].Value != values[s]) std::abort();
  for (int f = 26; f <= 40; ++f)
    if (f != 33 && GetFlag(static_cast<std::uint8_t>(f)) != flags[f]) std::abort();
  return 0;
}
