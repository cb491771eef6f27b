#include "cli/Commands.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adapter/Textlogger.h"
#include "cli/CommandSupport.h"
#include "cli/Monitor.h"
#include "cli/Outcome.h"
#include "cli/PortCommands.h"
#include "cli/SendSettings.h"
#include "cli/Session.h"
#include "data/CarriedFirmware.h"
#include "platform/Files.h"
#include "serial/TraceBackend.h"
#include "settings/AtomicFile.h"
#include "settings/SettingTexts.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsTextFile.h"

namespace zo {

// ---- output helpers (shared with the commands of their own files: CommandSupport.h) ----

namespace {

// errno of the first write to a command's output that failed; 0 while none has.
int output_error = 0;

}  // namespace

void Print(std::FILE* Out, const std::string& Text) {
  errno = 0;
  // Written whole, whatever bytes the text holds (a NUL does not end it).
  const bool failed =
      std::fwrite(Text.data(), 1, Text.size(), Out) != Text.size() || std::fflush(Out) != 0;
  if (failed && output_error == 0) output_error = errno != 0 ? errno : EIO;
}

bool OutputFailed() {
  return output_error != 0;
}

std::string Pad(const std::string& Text, std::size_t Width) {
  // Column widths count characters, not bytes ("°" takes two bytes).
  std::size_t chars = 0;
  for (unsigned char c : Text)
    if ((c & 0xC0) != 0x80) ++chars;
  return chars >= Width ? Text + " " : Text + std::string(Width - chars, ' ');
}

void JsonAdapter(TJson& J, const TSession& S) {
  const TAdapterInfo& a = S.Adapter();
  TJson& adapter = J["adapter"];
  adapter["kind"] = a.Kind;
  if (a.Kind == "DL2") {
    adapter["mode"] = a.Mode;
    adapter["firmware_version"] = a.Firmware;
    adapter["bootblock"] = a.Bootblock;
  }
}

void JsonTarget(TJson& J, const TSession& S) {
  TJson& target = J["target"];
  if (S.TargetVersion() <= 0) return;  // null while no target answers
  target["software_version"] = S.TargetVersion();
  target["family"] = S.TargetVersion() / 100000;
  target["model"] = S.TargetVersion() / 1000 % 100;
  target["supported"] = CurrentVersion != nullptr;
  if (CurrentVersion != nullptr) {
    target["device_type"] = S.DeviceType();
    target["inverter_only"] = IsInverterOnly;
    target["system_voltage"] = Is12VoltSystem ? 12 : 24;
  }
}

std::string AdapterLines(const TSession& S) {
  const TAdapterInfo& a = S.Adapter();
  std::string out = Pad("Port:", 19) + S.PortName() + "\n" + Pad("Adapter:", 19) + a.Kind + "\n";
  if (a.Kind == "DL2") {
    out += Pad("DL2 mode:", 19) + a.Mode + "\n";
    out += Pad("DL2 firmware:", 19) + std::to_string(a.Firmware) + "\n";
    out += Pad("Bootblock:", 19) + a.Bootblock + "\n";
  }
  return out;
}

std::string TargetLines(const TSession& S) {
  if (S.TargetVersion() <= 0) return "";
  std::string out = Pad("Software version:", 19) + std::to_string(S.TargetVersion()) + "\n";
  if (CurrentVersion != nullptr) out += Pad("Device type:", 19) + S.DeviceType() + "\n";
  return out;
}

int CheckSettingsInput(const std::string& File, TTerminalUi& Ui, TSettingsText& Parsed,
                       bool& IsText) {
  IsText = false;
  std::string data;
  TReadResult read = ReadFileStart(File, SettingsFileBytes, data);
  if (read == TReadResult::Ok && IsSettingsText(data)) {
    IsText = true;
    read = ReadWholeFile(File, MaxSettingsTextBytes, data);
  }
  if (read == TReadResult::CannotOpen) {
    ShowMessageBox("Cannot open file: " + File, TMsgDlgType::mtError);
    Ui.Context(WhyUnreadable(File));
    return ExitFile;
  }
  if (read == TReadResult::TooLarge) {
    ShowMessageBox(File + " is too large for a settings text.", TMsgDlgType::mtError);
    Ui.Context("A settings text holds at most 1 MB.");
    return ExitFile;
  }
  std::string error;
  if (IsText && !ParseSettingsText(data, Parsed, error)) {
    ShowMessageBox(File + ", " + error, TMsgDlgType::mtError);
    return ExitFile;
  }
  if (!IsText && !SettingsFileIntact(data)) {
    ShowMessageBox("File corrupted!", TMsgDlgType::mtError);
    return ExitFile;
  }
  return ExitOk;
}

int Connect(TSession& S) {
  int status = S.LoadVersions();
  if (status == ExitOk) status = S.OpenAdapter();
  if (status == ExitOk) status = S.ConnectTarget();
  return status;
}

namespace {

// ---- detect ----

int Detect(const TOptions& O, TTerminalUi& Ui, std::FILE* Out) {
  TSession s(Ui, O);
  int status = s.LoadVersions();
  if (status == ExitOk) status = s.OpenAdapter();
  if (status != ExitOk) return status;
  status = s.ConnectTarget();
  // What was found is printed even when the target failed: the adapter is worth knowing.
  if (O.Json) {
    TJson j = SucceededDocument();
    j["port"] = s.PortName();
    JsonAdapter(j, s);
    JsonTarget(j, s);
    j["settings_read"] = status == ExitOk;
    Print(Out, JsonText(j));
  } else {
    Print(Out, AdapterLines(s) + TargetLines(s));
  }
  return status;
}

// ---- read ----

void PrintSettingsTable(std::FILE* Out) {
  std::string out = " No  " + Pad("Setting", 34) + Pad("Value", 26) + Pad("Unit", 6) +
                    Pad("Min", 8) + Pad("Max", 8) + "Default\n";
  for (const TSettingText& t : SettingTexts()) {
    TSetting& setting = SettingTable[t.Number];
    if (!setting.IsPresent()) continue;
    std::string line = (t.Number < 10 ? "  " : " ") + std::to_string(t.Number) + "  " +
                       Pad(t.Name, 34) + Pad(ValueText(t.Number), 26) + Pad(t.Unit, 6);
    GetBounds(static_cast<std::uint8_t>(t.Number));
    if (BoundMin != 0 || BoundMax != 0)
      line += Pad(setting.TextOfRaw(BoundMin), 8) + Pad(setting.TextOfRaw(BoundMax), 8) +
              setting.TextOfRaw(BoundDefault);
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    out += line + "\n";
  }
  out += "\n No  Option\n";
  for (const TFlagText& f : FlagTexts()) {
    if (CurrentVersion == nullptr || CurrentVersion->Items(f.Item) == -1) continue;
    out += " " + std::to_string(f.Item) + "  " + Pad(f.Name, 34) +
           (GetFlag(static_cast<std::uint8_t>(f.Item)) ? f.SetText : f.ClearText) + "\n";
  }
  Print(Out, out);
}

void JsonSettings(TJson& J) {
  TJson& settings = J["settings"] = TJson::array();
  for (const TSettingText& t : SettingTexts()) {
    TSetting& setting = SettingTable[t.Number];
    if (!setting.IsPresent()) continue;
    TJson entry;
    entry["number"] = t.Number;
    entry["key"] = t.Key;
    entry["name"] = t.Name;
    entry["raw"] = setting.Value;
    entry["value"] = NumberOrText(setting.AsText());
    const std::string choice = ChoiceText(t.Number, setting.Value);
    if (!choice.empty()) entry["text"] = choice;
    entry["unit"] = t.Unit;
    GetBounds(static_cast<std::uint8_t>(t.Number));
    const bool bounded = BoundMin != 0 || BoundMax != 0;
    for (const auto& [name, raw] :
         {std::pair{"min", BoundMin}, {"max", BoundMax}, {"default", BoundDefault}})
      entry[name] = bounded ? NumberOrText(setting.TextOfRaw(raw)) : TJson(nullptr);
    settings.push_back(std::move(entry));
  }
  TJson& options = J["options"] = TJson::array();
  for (const TFlagText& f : FlagTexts()) {
    if (CurrentVersion == nullptr || CurrentVersion->Items(f.Item) == -1) continue;
    const bool set = GetFlag(static_cast<std::uint8_t>(f.Item));
    options.push_back({{"item", f.Item},
                       {"key", f.Key},
                       {"name", f.Name},
                       {"set", set},
                       {"text", set ? f.SetText : f.ClearText}});
  }
}

int Read(const TOptions& O, TTerminalUi& Ui, std::FILE* Out) {
  TSession s(Ui, O);
  const int status = Connect(s);
  if (status != ExitOk) return status;
  // Only a complete, uninterrupted read reaches this point, so a failed read never touches the
  // files.
  if (StopRequested()) return s.Stopped(s.NothingDone());
  for (const std::string* file : {&O.Out, &O.Text}) {
    if (file->empty()) continue;
    std::string message, why;
    if (file == &O.Out)
      SaveSettingsFile(*file, message, &why);
    else
      SaveSettingsText(*file, message, &why);
    if (!message.empty()) {
      ShowMessageBox(message, TMsgDlgType::mtError);
      if (!why.empty()) Ui.Context(why);
      return ExitFile;
    }
  }
  if (O.Json) {
    TJson j = SucceededDocument();
    j["port"] = s.PortName();
    JsonAdapter(j, s);
    JsonTarget(j, s);
    JsonSettings(j);
    j["file"] = TextOrNull(O.Out);
    Print(Out, JsonText(j));
  } else {
    Print(Out, s.DeviceType() + " (software version " + std::to_string(s.TargetVersion()) +
                   ") on " + s.PortName() + "\n\n");
    PrintSettingsTable(Out);
    if (!O.Out.empty()) Print(Out, "\nSaved to " + O.Out + "\n");
    if (!O.Text.empty()) Print(Out, "\nSaved as text to " + O.Text + "\n");
  }
  return ExitOk;
}

// ---- write ----

struct TChange {
  std::string Key, Name, From, To;
};

struct TSnapshot {
  std::array<std::int32_t, TSettingTable::Count + 1> Values{};
  std::array<bool, 41> Flags{};
};

TSnapshot Snapshot() {
  TSnapshot s;
  for (int n = 1; n <= TSettingTable::Count; ++n)
    s.Values[static_cast<std::size_t>(n)] = SettingTable[n].Value;
  for (const TFlagText& f : FlagTexts())
    s.Flags[static_cast<std::size_t>(f.Item)] = GetFlag(static_cast<std::uint8_t>(f.Item));
  return s;
}

// What the loaded file changes of the settings the device has and the options the file carries.
std::vector<TChange> Changes(const TSnapshot& Before) {
  std::vector<TChange> changes;
  for (const TSettingText& t : SettingTexts()) {
    // The device kind is never written; the flag bytes change through their options.
    if (t.Number == SettingDeviceKind || t.Number >= SettingFlagsA) continue;
    TSetting& setting = SettingTable[t.Number];
    const std::int32_t before = Before.Values[static_cast<std::size_t>(t.Number)];
    if (!setting.IsPresent() || setting.Value == before) continue;
    changes.push_back(
        {t.Key, t.Name, QuantityText(t.Number, before), QuantityText(t.Number, setting.Value)});
  }
  for (const TFlagText& f : FlagTexts()) {
    if (f.Item == FlagMultiPhaseCapable || CurrentVersion->Items(f.Item) == -1) continue;
    const bool before = Before.Flags[static_cast<std::size_t>(f.Item)];
    const bool now = GetFlag(static_cast<std::uint8_t>(f.Item));
    if (before == now) continue;
    changes.push_back(
        {f.Key, f.Name, before ? f.SetText : f.ClearText, now ? f.SetText : f.ClearText});
  }
  return changes;
}

// What a settings text names that the device is not: empty, or the warning.
std::string ForeignText(const std::string& File, const TSettingsText& Parsed, const TSession& S) {
  const bool version = Parsed.Version > 0 && Parsed.Version != S.TargetVersion();
  const bool type = !Parsed.DeviceType.empty() && Parsed.DeviceType != S.DeviceType();
  if (!version && !type) return "";
  const auto describe = [](std::int32_t Version, const std::string& Type) {
    std::string text = Version > 0 ? "software version " + std::to_string(Version) : "";
    if (!Type.empty()) text += Version > 0 ? " (" + Type + ")" : "device type " + Type;
    return text;
  };
  return File + " names " + describe(Parsed.Version, Parsed.DeviceType) + "; the device on " +
         S.PortName() + " is " + describe(S.TargetVersion(), S.DeviceType()) +
         ".\rIts settings are loaded against the device's version.";
}

int Write(const TOptions& O, TTerminalUi& Ui, std::FILE* Out) {
  // The whole file is checked before the device is touched (the loader would say the same after
  // reading the device).
  TSettingsText parsed;
  bool is_text = false;
  if (CheckSettingsInput(O.File, Ui, parsed, is_text) != ExitOk) {
    Ui.Context("Nothing was sent to the device.");
    return ExitFile;
  }
  TSession s(Ui, O);
  const int status = Connect(s);
  if (status != ExitOk) return status;

  std::vector<std::string> warnings;
  if (is_text) {
    const std::string foreign = ForeignText(O.File, parsed, s);
    if (!foreign.empty()) {
      Ui.Note(foreign, TMsgDlgType::mtWarning);
      warnings.push_back(foreign.substr(0, foreign.find('\r')));
    }
  }

  const TSnapshot before = Snapshot();
  std::string message;
  LoadAnySettingsFile(O.File, message);
  std::string information;
  if (!message.empty()) {
    // The kind letter is not shown; a box shows at most 255 characters.
    const std::string text = message.substr(1, 255);
    if (message[0] == 'E') {
      // The file changed since it was checked; the defaults it left are not sent.
      ShowMessageBox(text.substr(0, text.find('\r')), TMsgDlgType::mtError);
      Ui.Context("Nothing was sent to the device.");
      return ExitFile;
    }
    ShowMessageBox(text, TMsgDlgType::mtInformation);
    information = text;
  }
  const std::vector<TChange> changes = Changes(before);

  bool sent = false;
  bool failed = false;
  bool checked = false;
  std::vector<int> sent_settings;
  std::vector<TDifference> differences;
  if (!O.DryRun) {
    if (StopRequested()) return s.Stopped(s.NothingDone());
    Ui.Busy("Sending data!");
    sent = SendSettings(s.Driver(), sent_settings);
    failed = !sent;
    if (failed && StopRequested()) {
      const std::vector<std::string> account = SentAccount(sent_settings);
      const int stopped = s.Stopped(account.front());
      for (std::size_t i = 1; i < account.size(); ++i)
        Ui.Context(account[i]);
      return stopped;
    }
    if (sent && !O.NoVerify) {
      Ui.Busy("Reading the settings back.");
      checked = VerifySettings(s.Driver(), differences);
      if (!checked && StopRequested())
        return s.Stopped("Every setting was sent; the read-back was not completed.");
    }
  }

  if (O.Json) {
    TJson j = SucceededDocument();
    j["port"] = s.PortName();
    JsonAdapter(j, s);
    JsonTarget(j, s);
    j["file"] = O.File;
    j["message"] = TextOrNull(information);
    j["warnings"] = warnings;
    TJson& listed = j["changes"] = TJson::array();
    for (const TChange& c : changes)
      listed.push_back({{"key", c.Key}, {"name", c.Name}, {"from", c.From}, {"to", c.To}});
    j["dry_run"] = O.DryRun;
    j["sent"] = sent;
    // null when nothing was read back
    j["verified"] = O.DryRun || O.NoVerify ? TJson(nullptr) : TJson(checked && differences.empty());
    Print(Out, JsonText(j));
  } else {
    std::string out;
    if (changes.empty()) {
      out = "No setting changes.\n";
    } else {
      out = "Changes:\n";
      for (const TChange& c : changes)
        out += "  " + c.Name + ": " + c.From + " -> " + c.To + "\n";
    }
    if (O.DryRun)
      out += "Dry run: nothing was sent.\n";
    else if (sent)
      out += "Settings sent to " + s.DeviceType() + " on " + s.PortName() + ".\n";
    if (checked && differences.empty()) out += "Read back: the device holds every setting sent.\n";
    Print(Out, out);
  }
  if (failed) {
    Ui.Note("Sending the settings failed; the settings after the failed one were not sent.",
            TMsgDlgType::mtError);
    const std::string why = LastLogLine("Write settings:");
    if (!why.empty()) Ui.Context(why);
    for (const std::string& line : SentAccount(sent_settings))
      Ui.Context(line);
    return ExitCommunication;
  }
  if (sent && !O.NoVerify && !checked) {
    Ui.Note("The settings were sent but could not be read back to check them.",
            TMsgDlgType::mtError);
    const std::string why = LastLogLine("Read settings:");
    if (!why.empty()) Ui.Context(why);
    return ExitCommunication;
  }
  if (!differences.empty()) {
    Ui.Note("The device does not hold every setting sent.", TMsgDlgType::mtError);
    for (const TDifference& d : differences)
      Ui.Context(d.Name + ": sent " + d.Sent + ", the device holds " + d.Read);
    return ExitCommunication;
  }
  return ExitOk;
}

// ---- update-firmware ----

int UpdateFirmware(const TOptions& O, TTerminalUi& Ui, std::FILE* Out) {
  TSession s(Ui, O);
  int status = s.LoadVersions();
  if (status != ExitOk) return status;
  const int errors_before = Ui.ErrorsShown();
  const int declined_before = Ui.QuestionsDeclined();
  status = s.OpenAdapter();
  const std::int32_t carried = CarriedFirmwareVersion();

  if (s.Adapter().ReprogramStarted && !s.Adapter().ReprogramStopped) {
    if (Ui.ErrorsShown() != errors_before) return ExitCommunication;  // the box said why
    // A Ctrl+C held over while the DL2 was being programmed ends the run now.
    if (StopRequested()) return s.Stopped("The DL2 was programmed; switch the device off and on.");
    // The bus thread detects the adapter anew once the device has been switched off and on.
    s.PumpUntil([&] { return s.Driver() != nullptr; }, O.TimeoutMs);
    std::string log;
    if (s.Driver() != nullptr) {
      GetLogText(log);
      const TAdapterInfo now = AdapterFromLog(log);
      Print(Out, "DL2 programmed; its firmware is now " + std::to_string(now.Firmware) + ".\n");
    } else {
      Print(Out, "DL2 programmed with firmware " + std::to_string(carried) +
                     "; it has not answered since (switch the device off and on).\n");
    }
    return ExitOk;
  }
  if (status != ExitOk) return status;

  const TAdapterInfo& a = s.Adapter();
  if (a.Kind != "DL2") {
    Print(Out, "The " + a.Kind + " on " + s.PortName() + " has no firmware to update.\n");
    return ExitOk;
  }
  std::string text = "DL2 firmware " + std::to_string(a.Firmware) + ", carried firmware " +
                     std::to_string(carried) + ": ";
  if (Ui.QuestionsDeclined() != declined_before)
    text += "not updated (run with --yes to update).\n";
  else if (a.Firmware == carried)
    text += "up to date.\n";
  else
    text += "no update offered for this firmware.\n";
  Print(Out, text);
  return ExitOk;
}

// ---- versions ----

int Versions(const TOptions& O, TTerminalUi& Ui, std::FILE* Out) {
  TSession s(Ui, O);
  const int status = s.LoadVersions();
  if (status != ExitOk) return status;

  TJson j = SucceededDocument();
  TJson& listed = j["versions"] = TJson::array();
  std::string out;
  if (!O.Json) out = Pad("Version", 10) + Pad("Family", 8) + Pad("Model", 7) + "Device type\n";
  std::vector<std::int32_t> seen;
  for (const auto& version : VersionList) {
    const std::int32_t number = version->Items(ItemVersion);
    const bool first = std::find(seen.begin(), seen.end(), number) == seen.end();
    seen.push_back(number);
    // The device type as the window names it; families 15 and 17 name devices without a charger
    // otherwise.
    CurrentVersion = version.get();
    IsInverterOnly = false;
    std::string name, inverter_name;
    GetDeviceTypeName(name);
    const bool inverter_family = DeviceFamily() == 15 || DeviceFamily() == 17;
    if (inverter_family) {
      IsInverterOnly = true;
      GetDeviceTypeName(inverter_name);
    }
    if (O.Json) {
      listed.push_back(
          {{"software_version", number},
           {"family", DeviceFamily()},
           {"model", DeviceModel()},
           {"device_type", name},
           {"device_type_without_charger", inverter_family ? TJson(inverter_name) : TJson(nullptr)},
           {"system_voltage", Is12VoltSystem ? 12 : 24},
           {"used", first}});
    } else {
      std::string line = Pad(std::to_string(number), 10) + Pad(std::to_string(DeviceFamily()), 8) +
                         Pad(std::to_string(DeviceModel()), 7) + (name.empty() ? "-" : name);
      if (inverter_family && inverter_name != name)
        line += " (without charger: " + inverter_name + ")";
      if (!first) line += " (repeats an earlier record, which is the one used)";
      out += line + "\n";
    }
  }
  CurrentVersion = nullptr;
  IsInverterOnly = false;
  if (O.Json) out = JsonText(j);
  Print(Out, out);
  return ExitOk;
}

int Dispatch(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out) {
  switch (Options.Command) {
    case TCommand::Detect:
      return Detect(Options, Ui, Out);
    case TCommand::Read:
      return Read(Options, Ui, Out);
    case TCommand::Write:
      return Write(Options, Ui, Out);
    case TCommand::Monitor:
      return RunMonitor(Options, Ui, Out);
    case TCommand::UpdateFirmware:
      return UpdateFirmware(Options, Ui, Out);
    case TCommand::Versions:
      return Versions(Options, Ui, Out);
    case TCommand::Diff:
      return RunDiff(Options, Ui, Out);
    case TCommand::Decode:
      return RunDecode(Options, Ui, Out);
    case TCommand::Ports:
      return ListPorts(Options, Ui, Out);
    case TCommand::CheckPort:
      return CheckPort(Options, Ui, Out);
    case TCommand::None:
      break;
  }
  return ExitUsage;
}

}  // namespace

int RunCommand(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out) {
  // With --json the command's document is held back: a failure replaces it by one of its own.
  std::unique_ptr<THeldOutput> output = Options.Json ? std::make_unique<THeldOutput>() : nullptr;
  std::FILE* held = output ? output->Stream() : nullptr;
  int status = Dispatch(Options, Ui, held != nullptr ? held : Out);
  // The trace file is closed with the session: a failure up to its close is a file error.
  const std::string trace_failure = TraceWriteFailure();
  if (!trace_failure.empty() && status != ExitFile) {
    Ui.Note("Cannot write the trace file " + Options.Trace + ": " + trace_failure,
            TMsgDlgType::mtError);
    status = ExitFile;
  }
  if (held != nullptr) {
    const std::string document = output->Take();
    // diff answers "different" with status 1, as diff does: that is its result, not a failure.
    const bool answered = status == ExitOk || (Options.Command == TCommand::Diff &&
                                               status == ExitCommunication && !document.empty());
    if (answered) {
      Print(Out, document);
    } else {
      const std::string message = Ui.ErrorText().empty() ? "The command failed with exit status " +
                                                               std::to_string(status) + "."
                                                         : Ui.ErrorText();
      Print(Out, FailureDocument(Options.Command, status, message));
    }
  }
  // What the command printed must have reached its output: a full disk or a closed pipe makes a
  // run that succeeded (or a diff that answered) a file error.
  if (std::fflush(Out) != 0 || std::ferror(Out)) {
    const int code = output_error != 0 ? output_error : EIO;
    Ui.Note(std::string("Cannot write file: standard output (") + std::strerror(code) + ")",
            TMsgDlgType::mtError);
    const bool answered =
        status == ExitOk || (Options.Command == TCommand::Diff && status == ExitCommunication);
    if (answered) status = ExitFile;
  }
  return status;
}

}  // namespace zo
