// Settings texts on any bytes, against a version of the built-in table: a text that is understood
// leaves every value within its bounds, and writing the result as text and reading it back gives
// the same settings without a message; one that is not understood changes nothing.
//
// Input: two bytes choosing the version (an index into the table), then the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzModel.h"
#include "settings/Settings.h"
#include "settings/SettingsTextFile.h"

using namespace zo;

namespace {

// Settings 8 to 23 and the options, as they stand.
std::vector<std::int32_t> State() {
  std::vector<std::int32_t> state;
  for (int n = SettingAbsorptionVoltage; n <= SettingPhaseMode; ++n)
    state.push_back(SettingTable[n].Value);
  for (int f = FlagMultiPhase; f <= FlagGroundRelayOff; ++f)
    state.push_back(GetFlag(static_cast<std::uint8_t>(f)));
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 2) return 0;
  fuzz::SelectInputVersion(Data);
  SetDefaults();

  const std::vector<std::int32_t> before = State();
  const std::string text(reinterpret_cast<const char*>(Data + 2), Size - 2);
  TSettingsText parsed;
  std::string error, message;
  if (!ParseSettingsText(text, parsed, error)) {
    if (error.rfind("line ", 0) != 0) std::abort();
    if (State() != before) std::abort();
    return 0;
  }
  ApplySettingsText(parsed, message);
  if (!message.empty() && message[0] != 'I') std::abort();
  for (int n = SettingAbsorptionVoltage; n <= SettingPhaseMode; ++n) {
    if (n == SettingDeviceKind) continue;
    GetBounds(static_cast<std::uint8_t>(n));
    if (SettingTable[n].Value < BoundMin || SettingTable[n].Value > BoundMax) std::abort();
  }

  const std::vector<std::int32_t> loaded = State();
  if (!ParseSettingsText(SettingsText(), parsed, error)) std::abort();
  ApplySettingsText(parsed, message);
  if (!message.empty() || State() != loaded) std::abort();
  return 0;
}
