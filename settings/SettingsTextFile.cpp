#include "settings/SettingsTextFile.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string_view>

#include "adapter/TextTool.h"
#include "settings/AtomicFile.h"
#include "settings/SettingTexts.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"

namespace zo {

namespace {

const char HeaderLine[] = "# ZO configure settings";
const char DeviceTypeName[] = "Device type";
const char VersionName[] = "Software version";
const char VoltageName[] = "System voltage";

// The settings a text holds: those a settings file stores.
bool Stored(int Number) {
  return Number >= SettingAbsorptionVoltage && Number <= SettingPhaseMode &&
         Number != SettingDeviceKind;
}

bool StoredFlag(int Item) {
  return Item >= FlagMultiPhase && Item <= FlagGroundRelayOff && Item != FlagMultiPhaseCapable;
}

std::string Trim(const std::string& Text) {
  const std::size_t first = Text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const std::size_t last = Text.find_last_not_of(" \t\r");
  return Text.substr(first, last - first + 1);
}

bool SameText(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

std::string Quoted(const std::string& Text) {
  return "\"" + Text + "\"";
}

// A number followed by an optional unit: "28.80 V".
bool SplitQuantity(const std::string& Value, std::string& Number, std::string& Unit) {
  const std::size_t space = Value.find_first_of(" \t");
  Number = Value.substr(0, space);
  Unit = space == std::string::npos ? "" : Trim(Value.substr(space));
  return !Number.empty();
}

// One "Name = value" line (comment and blanks already removed) into `Parsed`; "" or the error.
std::string ParseLine(const std::string& Name, const std::string& Value, TSettingsText& Parsed,
                      std::vector<std::string>& Seen) {
  for (const std::string& s : Seen)
    if (SameText(s, Name)) return Quoted(Name) + " is given twice";
  Seen.push_back(Name);

  if (SameText(Name, DeviceTypeName)) {
    Parsed.DeviceType = Value;
    return "";
  }
  if (SameText(Name, VersionName)) {
    std::int32_t version = 0;
    if (!TryStrToInt(Value, version) || version <= 0)
      return "bad software version " + Quoted(Value);
    Parsed.Version = version;
    return "";
  }
  std::string number, unit;
  if (SameText(Name, VoltageName)) {
    if (SplitQuantity(Value, number, unit) && (number == "12" || number == "24") &&
        SameText(unit, "V")) {
      Parsed.Volts = number == "12" ? 12 : 24;
      return "";
    }
    return "the system voltage is 12 V or 24 V, not " + Quoted(Value);
  }
  for (const TSettingText& t : SettingTexts()) {
    if (!Stored(t.Number) || !SameText(Name, t.Name)) continue;
    long double x = 0;
    if (!SplitQuantity(Value, number, unit) || !TryStrToFloat(number, x))
      return "bad number " + Quoted(number) + " for " + t.Name;
    if (!SameText(unit, t.Unit))
      return std::string(t.Name) + " is in " + (*t.Unit ? Quoted(t.Unit) : "no unit") + ", not " +
             Quoted(unit);
    Parsed.Values.emplace_back(t.Number, x);
    return "";
  }
  for (const TFlagText& f : FlagTexts()) {
    if (!StoredFlag(f.Item) || !SameText(Name, f.Name)) continue;
    if (SameText(Value, f.SetText))
      Parsed.Flags.emplace_back(f.Item, true);
    else if (SameText(Value, f.ClearText))
      Parsed.Flags.emplace_back(f.Item, false);
    else
      return std::string(f.Name) + " is " + Quoted(f.SetText) + " or " + Quoted(f.ClearText) +
             ", not " + Quoted(Value);
    return "";
  }
  return "unknown setting " + Quoted(Name);
}

}  // namespace

std::string SettingsText() {
  if (CurrentVersion == nullptr) return "";
  std::string type;
  GetDeviceTypeName(type);
  std::string out = std::string(HeaderLine) + "\n";
  out += std::string(DeviceTypeName) + " = " + type + "\n";
  out +=
      std::string(VersionName) + " = " + std::to_string(CurrentVersion->Items(ItemVersion)) + "\n";
  out += std::string(VoltageName) + " = " + (Is12VoltSystem ? "12" : "24") + " V\n\n";
  for (const TSettingText& t : SettingTexts()) {
    const TSetting& s = SettingTable[t.Number];
    if (!Stored(t.Number) || !s.IsPresent()) continue;
    std::string line = std::string(t.Name) + " = " + s.TextOfRaw(s.Value);
    if (*t.Unit != '\0') line += std::string(" ") + t.Unit;
    const std::string choice = ChoiceText(t.Number, s.Value);
    if (!choice.empty()) line += "  # " + choice;
    out += line + "\n";
  }
  out += "\n# Options\n";
  for (const TFlagText& f : FlagTexts()) {
    if (!StoredFlag(f.Item) || CurrentVersion->Items(f.Item) == -1) continue;
    out += std::string(f.Name) + " = " +
           (GetFlag(static_cast<std::uint8_t>(f.Item)) ? f.SetText : f.ClearText) + "\n";
  }
  return out;
}

void SaveSettingsText(const std::string& FileName, std::string& Message, std::string* Why) {
  if (AtomicWriteFile(FileName, SettingsText(), Why))
    Message.clear();
  else
    Message = "Error creating file: " + FileName;
}

bool ParseSettingsText(const std::string& Text, TSettingsText& Parsed, std::string& Error) {
  Parsed = TSettingsText{};
  Error.clear();
  // Editors on Windows begin a UTF-8 file with a byte order mark.
  const std::string_view bom = "\xEF\xBB\xBF";
  std::istringstream in(Text.compare(0, bom.size(), bom) == 0 ? Text.substr(bom.size()) : Text);
  std::string line;
  std::vector<std::string> seen;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (line.empty()) continue;
    const std::size_t eq = line.find('=');
    const std::string name = eq == std::string::npos ? "" : Trim(line.substr(0, eq));
    std::string why;
    if (name.empty())
      why = "expected \"Name = value\", not " + Quoted(line);
    else
      why = ParseLine(name, Trim(line.substr(eq + 1)), Parsed, seen);
    if (!why.empty()) {
      Error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
  }
  return true;
}

bool IsSettingsText(const std::string& Data) {
  return !Data.empty() && Data.find('\0') == std::string::npos;
}

void ApplySettingsText(const TSettingsText& Parsed, std::string& Message, bool Clamp) {
  for (const auto& [number, value] : Parsed.Values) {
    TSetting& setting = SettingTable[number];
    setting.SetEngineeringValue(value);
    setting.Value = ConvertVoltage(number, setting.Value, Parsed.Volts);
  }
  for (const auto& [item, set] : Parsed.Flags)
    SetFlag(static_cast<std::uint8_t>(item), set);
  Message.clear();
  if (Clamp) ClampLoadedSettings(Message);
}

void LoadSettingsText(const std::string& FileName, std::string& Message, bool Clamp) {
  Message.clear();
  std::string data;
  const TReadResult read = ReadWholeFile(FileName, MaxSettingsTextBytes, data);
  if (read == TReadResult::CannotOpen) {
    Message = "ECannot open file: " + FileName;
    return;
  }
  if (read == TReadResult::TooLarge) {
    Message = "E" + FileName + " is too large for a settings text.";
    return;
  }
  TSettingsText parsed;
  std::string error;
  if (!ParseSettingsText(data, parsed, error)) {
    Message = "E" + FileName + ", " + error;
    return;
  }
  ApplySettingsText(parsed, Message, Clamp);
}

void LoadAnySettingsFile(const std::string& FileName, std::string& Message, bool Clamp) {
  std::string start;
  if (ReadFileStart(FileName, SettingsFileBytes, start) == TReadResult::Ok && IsSettingsText(start))
    LoadSettingsText(FileName, Message, Clamp);
  else
    LoadSettingsFile(FileName, Message, Clamp);
}

}  // namespace zo
