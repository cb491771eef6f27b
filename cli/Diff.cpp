// zocfg diff: two sets of settings side by side, each loaded into the settings model in turn (the
// device read as a new target's settings are read, a file as "&Load settings" loads it, the
// defaults as "Set all settings to default" sets them) and taken down as texts, then compared.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Outcome.h"
#include "cli/Session.h"
#include "settings/AtomicFile.h"
#include "settings/SettingTexts.h"
#include "settings/Settings.h"
#include "settings/SettingsTextFile.h"

namespace zo {

namespace {

// diff's own status beside 0 equal and 1 different: the device could not be read.
constexpr int ExitDeviceNotRead = 4;

struct TEntry {
  int Number;  // setting 8 to 23, or option item 26 to 40
  const char* Key;
  const char* Name;
  std::string Text;  // "28.80 V", "off"
  long double Value = 0;
  std::string Min, Max;  // the bounds as texts; empty for an option
  long double MinValue = 0, MaxValue = 0;
};

// One side as the settings model held it.
struct TSide {
  std::string Source;  // "the device on COM1", the file name, "the defaults"
  std::int32_t Version = 0;
  std::string DeviceType;
  int Volts = 24;
  std::vector<TEntry> Entries;
  std::vector<std::string> Warnings;  // what loading it reported
};

const TEntry* Find(const TSide& Side, int Number) {
  for (const TEntry& e : Side.Entries)
    if (e.Number == Number) return &e;
  return nullptr;
}

// The settings and options of the current version as they stand.
TSide TakeDown(const std::string& Source) {
  TSide side;
  side.Source = Source;
  side.Version = CurrentVersion->Items(ItemVersion);
  GetDeviceTypeName(side.DeviceType);
  side.Volts = Is12VoltSystem ? 12 : 24;
  for (const TSettingText& t : SettingTexts()) {
    TSetting& s = SettingTable[t.Number];
    if (t.Number == SettingDeviceKind || t.Number >= SettingFlagsA || !s.IsPresent()) continue;
    GetBounds(static_cast<std::uint8_t>(t.Number));
    const long double scale = s.Scale, offset = s.Offset;
    side.Entries.push_back({t.Number, t.Key, t.Name, QuantityText(t.Number, s.Value),
                            s.EngineeringValue(), QuantityText(t.Number, BoundMin),
                            QuantityText(t.Number, BoundMax), BoundMin * scale + offset,
                            BoundMax * scale + offset});
  }
  for (const TFlagText& f : FlagTexts()) {
    if (f.Item == FlagMultiPhaseCapable || CurrentVersion->Items(f.Item) == -1) continue;
    const bool set = GetFlag(static_cast<std::uint8_t>(f.Item));
    side.Entries.push_back(
        {f.Item, f.Key, f.Name, set ? f.SetText : f.ClearText, set ? 1.0L : 0.0L, "", "", 0, 0});
  }
  return side;
}

bool SameValue(long double A, long double B) {
  return std::fabs(A - B) <= 1e-9L * std::fmax(1.0L, std::fabs(A));
}

// The version a file names (a settings text's header), 0 when it names none; ExitFile after
// showing the message when the file cannot be read or the text is not understood.
int VersionOfFile(const std::string& File, std::int32_t& Version) {
  Version = 0;
  std::string data;
  if (ReadWholeFile(File, 1 << 20, data) == TReadResult::CannotOpen) {
    ShowMessageBox("Cannot open file: " + File, TMsgDlgType::mtError);
    return ExitFile;
  }
  if (!IsSettingsText(data)) return ExitOk;
  TSettingsText parsed;
  std::string error;
  if (!ParseSettingsText(data, parsed, error)) {
    ShowMessageBox(File + ", " + error, TMsgDlgType::mtError);
    return ExitFile;
  }
  Version = parsed.Version > 0 ? parsed.Version : 0;
  return ExitOk;
}

// Makes `Version` current with every setting at its default.
bool SelectDefaults(std::int32_t Version) {
  IsInverterOnly = false;
  if (!SelectVersion(Version)) {
    ShowMessageBox("Software version " + std::to_string(Version) + " is not in VERSION.DAT.",
                   TMsgDlgType::mtError);
    return false;
  }
  std::string name;
  GetDeviceTypeName(name);
  SetDefaults();
  return true;
}

int LoadFile(const std::string& File, std::int32_t Version, TSide& Side) {
  if (!SelectDefaults(Version)) return ExitUsage;
  std::string message;
  LoadAnySettingsFile(File, message);
  if (!message.empty() && message[0] == 'E') {
    ShowMessageBox(message.substr(1), TMsgDlgType::mtError);
    return ExitFile;
  }
  Side = TakeDown(File);
  if (!message.empty()) {
    std::string text = File + ": " + message.substr(1);
    for (char& c : text)
      if (c == '\r') c = ' ';
    Side.Warnings.push_back(text);
  }
  return ExitOk;
}

std::string Describe(const TSide& S) {
  return S.Source + " is software version " + std::to_string(S.Version) + " (" +
         (S.DeviceType.empty() ? "unknown device type" : S.DeviceType) + ")";
}

struct TDifferences {
  std::vector<std::string> Warnings;
  std::vector<std::pair<const TEntry*, const TEntry*>> Changed;
  std::vector<const TEntry*> OnlyInFirst, OnlyInSecond;
  bool Equal() const { return Changed.empty() && OnlyInFirst.empty() && OnlyInSecond.empty(); }
};

// The values of `A` that `B`'s bounds would correct.
void BoundWarnings(const TSide& A, const TSide& B, std::vector<std::string>& Warnings) {
  for (const TEntry& a : A.Entries) {
    const TEntry* b = Find(B, a.Number);
    if (b == nullptr || b->Min.empty()) continue;
    if (a.Value < b->MinValue - 1e-9L || a.Value > b->MaxValue + 1e-9L)
      Warnings.push_back(std::string(a.Name) + ": " + a.Text + " of " + A.Source +
                         " lies outside the bounds of " + B.Source + " (" + b->Min + " to " +
                         b->Max + ")");
  }
}

TDifferences Compare(const TSide& A, const TSide& B) {
  TDifferences d;
  if (A.Version != B.Version)
    d.Warnings.push_back("different versions: " + Describe(A) + ", " + Describe(B));
  if (A.Volts != B.Volts)
    d.Warnings.push_back("different voltage classes: " + A.Source + " is a " +
                         std::to_string(A.Volts) + " V system, " + B.Source + " a " +
                         std::to_string(B.Volts) + " V system");
  d.Warnings.insert(d.Warnings.end(), A.Warnings.begin(), A.Warnings.end());
  d.Warnings.insert(d.Warnings.end(), B.Warnings.begin(), B.Warnings.end());
  // Across voltage classes every voltage would be converted, not corrected.
  if (A.Volts == B.Volts) {
    BoundWarnings(A, B, d.Warnings);
    BoundWarnings(B, A, d.Warnings);
  }
  for (const TEntry& a : A.Entries) {
    const TEntry* b = Find(B, a.Number);
    if (b == nullptr)
      d.OnlyInFirst.push_back(&a);
    else if (!SameValue(a.Value, b->Value))
      d.Changed.emplace_back(&a, b);
  }
  for (const TEntry& b : B.Entries)
    if (Find(A, b.Number) == nullptr) d.OnlyInSecond.push_back(&b);
  return d;
}

TJson JsonSide(const TSide& S) {
  return {{"source", S.Source},
          {"software_version", S.Version},
          {"device_type", S.DeviceType},
          {"system_voltage", S.Volts}};
}

TJson JsonOnly(const std::vector<const TEntry*>& Entries) {
  TJson only = TJson::array();
  for (const TEntry* e : Entries)
    only.push_back({{"key", e->Key}, {"name", e->Name}, {"value", e->Text}});
  return only;
}

std::string Report(const TSide& A, const TSide& B, const TDifferences& D, bool Json) {
  if (!Json) {
    std::string out;
    for (const std::string& w : D.Warnings)
      out += "Warning: " + w + "\n";
    for (const auto& [a, b] : D.Changed)
      out += std::string(a->Name) + ": " + a->Text + " -> " + b->Text + "\n";
    for (const TEntry* e : D.OnlyInFirst)
      out += "Only in " + A.Source + ": " + e->Name + " = " + e->Text + "\n";
    for (const TEntry* e : D.OnlyInSecond)
      out += "Only in " + B.Source + ": " + e->Name + " = " + e->Text + "\n";
    return out;
  }
  TJson j = SucceededDocument();
  j["first"] = JsonSide(A);
  j["second"] = JsonSide(B);
  j["warnings"] = D.Warnings;
  TJson& changed = j["changed"] = TJson::array();
  for (const auto& [a, b] : D.Changed)
    changed.push_back(
        {{"key", a->Key}, {"name", a->Name}, {"first", a->Text}, {"second", b->Text}});
  j["only_in_first"] = JsonOnly(D.OnlyInFirst);
  j["only_in_second"] = JsonOnly(D.OnlyInSecond);
  j["equal"] = D.Equal();
  return JsonText(j);
}

}  // namespace

int RunDiff(const TOptions& O, TTerminalUi& Ui, std::FILE* Out) {
  TSession s(Ui, O);
  int status = s.LoadVersions();
  if (status != ExitOk) return status;

  // Each file's version: --version, else the one its text names, else the other side's.
  std::vector<std::int32_t> versions(O.Files.size(), O.Version);
  std::int32_t named = 0;
  for (std::size_t i = 0; i < O.Files.size(); ++i) {
    std::int32_t v = 0;
    status = VersionOfFile(O.Files[i], v);
    if (status != ExitOk) return status;
    if (versions[i] == 0) versions[i] = v;
    if (named == 0) named = versions[i];
  }

  std::vector<TSide> sides;
  if (!O.Port.empty()) {
    status = s.OpenAdapter();
    if (status == ExitOk) status = s.ConnectTarget();
    if (status != ExitOk) return ExitDeviceNotRead;
    sides.push_back(TakeDown("the device on " + s.PortName()));
    named = s.TargetVersion();
  }
  for (std::size_t i = 0; i < O.Files.size(); ++i) {
    const std::int32_t version = versions[i] != 0 ? versions[i] : named;
    if (version == 0) {
      Ui.Note("diff: " + O.Files[i] +
                  " names no software version; give the version of its device with --version",
              TMsgDlgType::mtError);
      return ExitUsage;
    }
    sides.emplace_back();
    status = LoadFile(O.Files[i], version, sides.back());
    if (status != ExitOk) return status;
  }
  if (O.Defaults) {
    if (!SelectDefaults(sides.front().Version)) return ExitUsage;
    sides.push_back(TakeDown("the defaults"));
  }

  const TDifferences d = Compare(sides[0], sides[1]);
  std::fputs(Report(sides[0], sides[1], d, O.Json).c_str(), Out);
  std::fflush(Out);
  return d.Equal() ? ExitOk : 1;
}

}  // namespace zo
