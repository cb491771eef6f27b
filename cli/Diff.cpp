// zocfg diff: two sets of settings side by side, each loaded into the settings model in turn (the
// device read as a new target's settings are read, a file as "&Load settings" loads it but with
// its values as stored, the defaults as "Set all settings to default" sets them) and taken down
// as texts, then compared.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Outcome.h"
#include "cli/Session.h"
#include "settings/AtomicFile.h"
#include "settings/Settings.h"
#include "settings/SettingsDiff.h"
#include "settings/SettingsTextFile.h"

namespace zo {

namespace {

// diff's own status beside 0 equal and 1 different: the device could not be read.
constexpr int ExitDeviceNotRead = 4;

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

// Loads `File` as it is stored: a value out of bounds is compared as it stands, and the comparison
// names it.
int LoadFile(const std::string& File, std::int32_t Version, TSettingsSide& Side) {
  if (!SelectDefaults(Version)) return ExitUsage;
  std::string message;
  LoadAnySettingsFile(File, message, false);
  if (!message.empty() && message[0] == 'E') {
    ShowMessageBox(message.substr(1, message.find('\r') - 1), TMsgDlgType::mtError);
    return ExitFile;
  }
  Side = TakeDownSettings(File);
  return ExitOk;
}

TJson JsonSide(const TSettingsSide& S) {
  return {{"source", S.Source},
          {"software_version", S.Version},
          {"device_type", S.DeviceType},
          {"system_voltage", S.Volts}};
}

TJson JsonOnly(const std::vector<TComparedSetting>& Entries) {
  TJson only = TJson::array();
  for (const TComparedSetting& e : Entries)
    only.push_back({{"key", e.Key}, {"name", e.Name}, {"value", e.Text}});
  return only;
}

std::string Report(const TSettingsSide& A, const TSettingsSide& B, const TSettingsDiff& D,
                   bool Json) {
  if (!Json) {
    std::string out;
    for (const std::string& w : D.Warnings)
      out += "Warning: " + w + "\n";
    for (const auto& [a, b] : D.Changed)
      out += std::string(a.Name) + ": " + a.Text + " -> " + b.Text + "\n";
    for (const TComparedSetting& e : D.OnlyInFirst)
      out += "Only in " + A.Source + ": " + e.Name + " = " + e.Text + "\n";
    for (const TComparedSetting& e : D.OnlyInSecond)
      out += "Only in " + B.Source + ": " + e.Name + " = " + e.Text + "\n";
    return out;
  }
  TJson j = SucceededDocument();
  j["first"] = JsonSide(A);
  j["second"] = JsonSide(B);
  j["warnings"] = D.Warnings;
  TJson& changed = j["changed"] = TJson::array();
  for (const auto& [a, b] : D.Changed)
    changed.push_back({{"key", a.Key}, {"name", a.Name}, {"first", a.Text}, {"second", b.Text}});
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
  // Every file is checked whole before the device is read.
  for (std::size_t i = 0; i < O.Files.size(); ++i) {
    TSettingsText parsed;
    bool is_text = false;
    status = CheckSettingsInput(O.Files[i], Ui, parsed, is_text);
    if (status != ExitOk) return status;
    if (versions[i] == 0 && is_text && parsed.Version > 0) versions[i] = parsed.Version;
    if (named == 0) named = versions[i];
  }

  std::vector<TSettingsSide> sides;
  if (!O.Port.empty()) {
    status = s.OpenAdapter();
    if (status == ExitOk) status = s.ConnectTarget();
    if (status != ExitOk) return ExitDeviceNotRead;
    sides.push_back(TakeDownSettings("the device on " + s.PortName()));
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
    sides.push_back(TakeDownSettings("the defaults"));
  }

  const TSettingsDiff d = CompareSettings(sides[0], sides[1]);
  Print(Out, Report(sides[0], sides[1], d, O.Json));
  return d.Equal() ? ExitOk : 1;
}

}  // namespace zo
