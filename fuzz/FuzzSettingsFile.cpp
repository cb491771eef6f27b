// LoadSettingsFile on any bytes, against a version of the built-in table: the message has its
// kind letter, every value ends within its bounds unless the file could not be opened, and saving
// what was loaded and loading it again gives the same values without a message.
//
// Input: two bytes choosing the version (an index into the table), then the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzModel.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"

using namespace zo;

namespace {

constexpr int kStored[] = {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 2) return 0;
  fuzz::SelectInputVersion(Data);

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
