#include "cli/SendSettings.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "cli/Session.h"
#include "cli/SettingTexts.h"
#include "settings/Settings.h"

namespace zo {

namespace {

// The settings WriteSettings sends to this version, in its order.
std::vector<int> Written() {
  std::vector<int> numbers;
  for (int n = SettingAbsorptionVoltage; n <= SettingFlagsB; ++n)
    if (n != SettingDeviceKind && SettingTable[n].IsPresent()) numbers.push_back(n);
  return numbers;
}

std::string Names(const std::vector<int>& Numbers) {
  std::string text;
  for (int n : Numbers) {
    const TSettingText* t = FindSettingText(n);
    if (!text.empty()) text += "; ";
    text += t != nullptr ? t->Name : "setting " + std::to_string(n);
  }
  return text.empty() ? "none" : text;
}

std::string RawText(int Number, std::int32_t Raw) {
  if (Number == SettingFlagsA || Number == SettingFlagsB) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%02X", static_cast<unsigned>(Raw) & 0xFFu);
    return hex;
  }
  const TSettingText* t = FindSettingText(Number);
  std::string text = SettingTable[Number].TextOfRaw(Raw);
  const std::string choice = ChoiceText(Number, Raw);
  if (!choice.empty()) text += " (" + choice + ")";
  if (t != nullptr && *t->Unit != '\0') text += std::string(" ") + t->Unit;
  return text;
}

}  // namespace

bool SendSettings(TBusDriver* Driver, std::vector<int>& Sent) {
  Sent.clear();
  TSettingsSteps steps;
  steps.Stop = StopRequested;
  steps.Done = [&Sent](int Number) { Sent.push_back(Number); };
  return WriteSettings(Driver, steps);
}

std::vector<std::string> SentAccount(const std::vector<int>& Sent) {
  std::vector<int> missing;
  const std::vector<int> all = Written();
  for (int n : all)
    if (std::find(Sent.begin(), Sent.end(), n) == Sent.end()) missing.push_back(n);
  std::vector<std::string> lines{"Sent: " + Names(Sent) + " (" + std::to_string(Sent.size()) +
                                 " of " + std::to_string(all.size()) + " settings)."};
  if (!missing.empty()) lines.push_back("Not sent: " + Names(missing) + ".");
  if (DeviceFamily() == 17 && !missing.empty())
    lines.push_back("The commit frame that follows the last setting was not sent.");
  return lines;
}

bool VerifySettings(TBusDriver* Driver, std::vector<TDifference>& Differences) {
  Differences.clear();
  std::array<std::int32_t, TSettingTable::Count + 1> sent{};
  const std::vector<int> numbers = Written();
  for (int n : numbers)
    sent[static_cast<std::size_t>(n)] = SettingTable[n].Value;
  TSettingsSteps steps;
  steps.Stop = StopRequested;
  if (!ReadSettings(Driver, steps)) return false;
  for (int n : numbers) {
    const std::int32_t want = sent[static_cast<std::size_t>(n)];
    const std::int32_t got = SettingTable[n].Value;
    if (want == got) continue;
    const TSettingText* t = FindSettingText(n);
    Differences.push_back({n, t != nullptr ? t->Key : "", t != nullptr ? t->Name : "",
                           RawText(n, want), RawText(n, got)});
  }
  return true;
}

}  // namespace zo
