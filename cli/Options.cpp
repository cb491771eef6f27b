#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>

#include "adapter/TextTool.h"

namespace zo {

namespace {

// The help of the program and of each command: what CLI11 cannot know about them.
struct TCommandInfo {
  TCommand Command;
  const char* Name;
  const char* Summary;      // its line in the program's list of commands
  const char* Usage;        // after "Usage: "
  const char* Explanation;  // what it does, below the usage
  const char* Note;         // after its own options (exit statuses, file errors); may be empty
};

constexpr TCommandInfo Program = {
    TCommand::None,
    "zocfg",
    "",
    "zocfg <command> [options]",
    "Configures inverter and charger devices through a DL1 or DL2 interface adapter,\n"
    "as the ZO configure window does.\n",
    "\"zocfg <command> --help\" describes a command.\n"};

constexpr TCommandInfo Commands[] = {
    {TCommand::Detect, "detect", "find the adapter and the device",
     "zocfg detect --port P [--json]",
     "Finds the interface adapter on the port and the device behind it, as the\n"
     "window does when a port is chosen, and reads the device's settings as a new\n"
     "target's are read. Prints the adapter (DL1 or DL2; for a DL2 its mode, firmware\n"
     "version and bootblock), the device's software version and its device type.\n",
     ""},
    {TCommand::Read, "read", "read every setting; save them to a settings file",
     "zocfg read --port P [--out FILE.zsf] [--text FILE] [--json]",
     "Reads every setting of the device, as \"&Get settings\" does after a new target\n"
     "is found, and prints each with its name, value, unit and bounds, and the option\n"
     "switches by name.\n",
     ""},
    {TCommand::Write, "write", "send a settings file to the device",
     "zocfg write --port P FILE.zsf [--dry-run] [--no-verify] [--json]",
     "Sends a settings file (.zsf) or a settings text (as read --text writes it,\n"
     "told apart by content) to the device. First reads every setting of the device\n"
     "(so option bits that a file does not carry keep the device's values), then\n"
     "loads the file against the device's software version as \"&Load settings\"\n"
     "does (values out of bounds are corrected and reported), prints what will\n"
     "change, and sends the settings as \"&Send settings\" does. The device does not\n"
     "answer writes, so the settings are then read back and compared: a setting\n"
     "that differs is named and gives exit status 1.\n",
     "A settings file that cannot be opened or is corrupted, or a settings text over\n"
     "1 MB or with a line that is not understood, gives exit status 3, and nothing is\n"
     "sent (the whole file is checked before the device is). A text that names another\n"
     "software version or device type than the device's is loaded with a warning.\n"},
    {TCommand::Monitor, "monitor", "print the live values",
     "zocfg monitor --port P [--count N] [--json] [--csv FILE]\n"
     "                    [--exit-on-loss]",
     "Prints the live values (mains, inverter and DC voltages and currents, DC\n"
     "ripple) as the device is polled, one line per polling cycle, until stopped\n"
     "with Ctrl+C or after N cycles. When the target is lost, says so and goes on\n"
     "with empty values until it answers again.\n",
     ""},
    {TCommand::UpdateFirmware, "update-firmware", "check and reprogram the DL2's firmware",
     "zocfg update-firmware --port P [--yes]",
     "Checks the DL2 adapter's firmware against the image this program carries and\n"
     "reprograms it, as the window does, when it is badly programmed or older than\n"
     "the image. Without --yes the offer to update is declined, so the command only\n"
     "checks. A progress bar shows the reprogram.\n",
     "Ctrl+C before programming starts stops the command with nothing programmed\n"
     "(status 1); once it runs, programming is never interrupted.\n"},
    {TCommand::Versions, "versions", "list the supported device software versions",
     "zocfg versions [--json]",
     "Lists the device software versions in VERSION.DAT (beside the program) with\n"
     "their device type names.\n",
     ""},
    {TCommand::Diff, "diff", "compare settings: device, files, defaults",
     "zocfg diff --port P FILE      (the device against a file)\n"
     "       zocfg diff FILE1 FILE2 [--version V]\n"
     "       zocfg diff (--port P | FILE) --defaults",
     "Compares two sets of settings: the device's (read as \"&Get settings\" reads\n"
     "them), a settings file's (.zsf) or a settings text's (as read --text writes\n"
     "it), or the defaults of the version, as \"Set all settings to default\" sets\n"
     "them. Each file is loaded as \"&Load settings\" loads it, against the version\n"
     "that gives its names, units and bounds (--version V, else the version a text\n"
     "names, else the other side's), but its values are compared as stored. Prints\n"
     "one line per setting or option that differs, after warnings about different\n"
     "versions, voltage classes and values outside the bounds of their own version\n"
     "or of the other side's.\n",
     "Exit status: 0 equal, 1 different, 2 usage error, 3 file error, 4 the device\n"
     "could not be read.\n"},
    {TCommand::Decode, "decode", "decode a trace written by --trace", "zocfg decode TRACE [--json]",
     "Reads a trace written by --trace (by zocfg or the window) and prints one line\n"
     "per frame: time, direction, line settings, the frame's bytes and its meaning.\n"
     "Checksum failures, unmatched replies, repeated requests, short hold-offs and\n"
     "late replies are flagged on their lines and counted in a summary at the end;\n"
     "lines of the trace that cannot be read are warned about with their numbers.\n",
     "Exit status: 0 decoded, 2 usage error, 3 the trace cannot be read.\n"},
    {TCommand::Ports, "ports", "list the serial ports and how they suit the adapters",
     "zocfg ports [--json]",
     "Lists the serial ports, one line each: COM number, device path, stable name in\n"
     "/dev/serial/by-id, USB vendor:product and product name, kernel driver, whether\n"
     "you may open it (and if not, why: group, another program holding it,\n"
     "ModemManager), whether low-latency mode is available, and how the driver suits\n"
     "the DL1 (per-byte parity errors). Reads sysfs and /proc only, opens no port.\n",
     ""},
    {TCommand::CheckPort, "check-port", "check a port through a loopback plug",
     "zocfg check-port --port P --loopback [--json]",
     "With the port's TX and RX bridged (a loopback plug or a jumper), checks\n"
     "what the adapters need: bytes back intact at each line setting, mark and\n"
     "space parity, a parity error flagged on exactly the byte that carries it,\n"
     "break, RTS and DTR, and the round trip of single bytes against the DL1's\n"
     "16 ms echo window; then a verdict per use (DL1, DL2, DL2 firmware update).\n"
     "On a pseudo-terminal it says which checks a pseudo-terminal cannot show.\n",
     "Exit status 0 only when every use passes; 1 when a use fails or cannot be\n"
     "shown, or the port cannot be opened or vanishes during the check.\n"},
};

const char OwnOptions[] = "Options";
const char CommonOptions[] = "Options of every command";

const char CommonNotes[] =
    "Exit status: 0 success; 1 communication failure (no adapter, no target, a read or write\n"
    "that failed); 2 usage error; 3 file error (VERSION.DAT, settings file, trace file,\n"
    "standard output that cannot be written).\n"
    "Ctrl+C (or SIGTERM, SIGHUP, SIGQUIT) ends a command before its next frame with status\n"
    "1 and says what was done (monitor: ends it normally, status 0); a second one ends it at\n"
    "once, except while the DL2 is being programmed, which cannot be interrupted.\n"
    "Messages go to standard error; with --json standard output holds one JSON document,\n"
    "with \"ok\": false, \"status\" and \"message\" when the command failed.\n";

const TCommandInfo* FindCommand(const std::string& Name) {
  for (const TCommandInfo& c : Commands)
    if (Name == c.Name) return &c;
  return nullptr;
}

const TCommandInfo& Info(TCommand Command) {
  for (const TCommandInfo& c : Commands)
    if (c.Command == Command) return c;
  return Program;
}

// Lays the help out as usage, explanation, the command's own options (or the program's
// commands), its note, the options every command takes and the notes on all of them.
class THelpFormatter : public CLI::Formatter {
 public:
  THelpFormatter() { column_width(20); }

  // The long name only: -h stays an unlisted shorthand of --help.
  std::string make_option_name(const CLI::Option* Option, bool) const override {
    return "--" + Option->get_lnames().front();
  }

  std::string make_help(const CLI::App* App, std::string, CLI::AppFormatMode) const override {
    const TCommandInfo* info = FindCommand(App->get_name());
    if (info == nullptr) info = &Program;
    std::string text = std::string("Usage: ") + info->Usage + "\n\n" + info->Explanation;
    text += Group(App, OwnOptions);
    text += make_subcommands(App, CLI::AppFormatMode::Normal);
    if (*info->Note != '\0') text += std::string("\n") + info->Note;
    text += Group(App, CommonOptions);
    return text + "\n" + CommonNotes;
  }

 private:
  std::string Group(const CLI::App* App, const char* Name) const {
    const auto options = App->get_options(
        [Name](const CLI::Option* o) { return o->nonpositional() && o->get_group() == Name; });
    return options.empty() ? std::string() : make_group(Name, false, options);
  }
};

// The program and its commands as CLI11 reads them. A command knows only its own options, so
// the options of another command are left over and refused after parsing, by name. Values are
// taken as text and checked after parsing too, so that a --help anywhere wins over a wrong one.
class TCommandLine {
 public:
  TCommandLine();

  CLI::App App{"", Program.Name};

  // Where the command stands: the first word that is neither an option nor an option's value.
  std::size_t CommandIndex(const std::vector<std::string>& Args) const;
  // True for an option that some command takes.
  bool Known(const std::string& Name) const;
  CLI::App& Command(TCommand Command) const { return *App.get_subcommand(Info(Command).Name); }

  std::string Port, Trace, Timeout, Out, Text, Count, Version, Csv;
  std::vector<std::string> Words;  // the command's arguments that are not options

 private:
  CLI::App& Add(TCommand Command, bool TakesPort);
  void AddCommon(CLI::App& App, bool TakesPort);
  void Value(CLI::App& App, const char* Name, std::string& Target, const char* Shown,
             const char* Help, const char* Group = OwnOptions);
  void Flag(CLI::App& App, const char* Name, const char* Help, const char* Group = OwnOptions);
};

TCommandLine::TCommandLine() {
  App.formatter(std::make_shared<THelpFormatter>());
  App.set_help_flag();
  // CLI11 would take a word starting with "/" for an option on Windows; here options start with
  // "-" everywhere, and "/v1711104" or a path stays a value. The commands inherit it.
  App.allow_windows_style_options(false);
  // Options before the command are moved behind it before parsing; the program itself only
  // looks for --help when no command is given.
  App.allow_extras();
  App.require_subcommand(0, 1);  // after the command, a command's name is an argument
  // An option given twice is refused after parsing, with its name.
  App.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  AddCommon(App, true);

  Flag(Add(TCommand::Detect, true), "--json", "print one JSON document instead");

  CLI::App& read = Add(TCommand::Read, true);
  Value(read, "--out", Out, "FILE.zsf",
        "also save the settings to a settings file, byte for byte as\n"
        "\"&Save settings\" would; only after a complete read (a\n"
        "failed read leaves no file and keeps an existing one)");
  Value(read, "--text", Text, "FILE",
        "also save them as readable text: \"Name = value unit\"\n"
        "lines and the options by name, which write accepts too");
  Flag(read, "--json", "print one JSON document instead of the table");

  CLI::App& write = Add(TCommand::Write, true);
  Flag(write, "--dry-run", "show what would change, send nothing");
  Flag(write, "--no-verify", "do not read the settings back after sending");
  Flag(write, "--json", "print the changes as one JSON document");

  CLI::App& monitor = Add(TCommand::Monitor, true);
  Value(monitor, "--count", Count, "N", "stop after N cycles");
  Flag(monitor, "--json", "print the cycles as one JSON document at the end");
  Value(monitor, "--csv", Csv, "FILE",
        "also record the cycles to FILE as comma-separated values\n"
        "(- : to standard output instead of the lines), each row\n"
        "flushed; a file that cannot be written gives status 3");
  Flag(monitor, "--exit-on-loss", "end with status 1 when the target is lost");

  Add(TCommand::UpdateFirmware, true);
  Flag(Add(TCommand::Versions, false), "--json", "print one JSON document instead");

  CLI::App& diff = Add(TCommand::Diff, true);
  Value(diff, "--version", Version, "V", "the device software version of the files");
  Flag(diff, "--defaults", "compare with the defaults of the version");
  Flag(diff, "--json",
       "print one JSON document (changed, only_in_first,\n"
       "only_in_second, warnings)");

  Flag(Add(TCommand::Decode, false), "--json", "print one JSON document instead");
  Flag(Add(TCommand::Ports, false), "--json", "print one JSON document instead of the lines");

  CLI::App& check_port = Add(TCommand::CheckPort, true);
  Flag(check_port, "--loopback", "TX and RX are bridged (required)");
  Flag(check_port, "--json", "print one JSON document instead of the table");
}

CLI::App& TCommandLine::Add(TCommand Command, bool TakesPort) {
  const TCommandInfo& info = Info(Command);
  CLI::App& command = *App.add_subcommand(info.Name, info.Summary);
  command.group("Commands");
  command.set_help_flag();
  command.allow_extras();  // refused after parsing, with a clearer message than CLI11's
  command.add_option("words", Words);
  AddCommon(command, TakesPort);
  return command;
}

void TCommandLine::AddCommon(CLI::App& App, bool TakesPort) {
  if (TakesPort)
    Value(App, "--port", Port, "P",
          "the port: a number (1 to 255, as in the window's port menu; ZO_COM<n>\n"
          "in the environment names the device of port n) or a device path such\n"
          "as /dev/ttyUSB0 or /dev/pts/3",
          CommonOptions);
  Value(App, "--trace", Trace, "FILE",
        "write every byte on the line, with a millisecond time stamp, its\n"
        "direction and the line settings, to FILE",
        CommonOptions);
  Value(App, "--timeout", Timeout, "SECONDS",
        "how long to wait for the adapter and the target (default 5)", CommonOptions);
  Flag(App, "--yes",
       "answer Yes to questions (the offer to update the DL2's firmware);\n"
       "without it every question is answered No",
       CommonOptions);
  Flag(App, "-h,--help", "this text", CommonOptions);
}

// A value may be missing (CLI11 would throw with a message of its own): it is refused after
// parsing as empty.
void TCommandLine::Value(CLI::App& App, const char* Name, std::string& Target, const char* Shown,
                         const char* Help, const char* Group) {
  App.add_option(Name, Target, Help)->option_text(Shown)->expected(0, 1)->group(Group);
}

void TCommandLine::Flag(CLI::App& App, const char* Name, const char* Help, const char* Group) {
  App.add_flag(Name)->description(Help)->group(Group);
}

std::size_t TCommandLine::CommandIndex(const std::vector<std::string>& Args) const {
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg.size() < 2 || arg[0] != '-') return i;
    if (arg.find('=') != std::string::npos) continue;
    for (const CLI::App* command : App.get_subcommands({}))
      if (const CLI::Option* option = command->get_option_no_throw(arg)) {
        if (option->get_items_expected_max() > 0) ++i;
        break;
      }
  }
  return Args.size();
}

bool TCommandLine::Known(const std::string& Name) const {
  for (const CLI::App* command : App.get_subcommands({}))
    if (command->get_option_no_throw(Name) != nullptr) return true;
  return false;
}

bool Given(const CLI::App& Command, const char* Name) {
  const CLI::Option* option = Command.get_option_no_throw(Name);
  return option != nullptr && option->count() > 0;
}

// False for an option that `App` left over and no command takes.
bool NoneUnknown(const TCommandLine& Line, const CLI::App& App, std::string& Error) {
  for (const std::string& extra : App.remaining()) {
    const std::string name = extra.substr(0, extra.find('='));
    if (name.size() > 1 && name[0] == '-' && !Line.Known(name)) {
      Error = "unknown option " + name;
      return false;
    }
  }
  return true;
}

// The options as given, each once and each a known one; --help found among them.
bool CheckGiven(const TCommandLine& Line, CLI::App& Command, TOptions& Options,
                std::string& Error) {
  if (!NoneUnknown(Line, Command, Error)) return false;
  for (const CLI::Option* option : Command.get_options()) {
    if (option->get_positional()) continue;
    if (option->count() > 1) {
      Error = option->get_name() + " is given more than once";
      return false;
    }
    // A flag given "--name=value" keeps the value instead of "true".
    if (option->get_items_expected_max() == 0 && option->count() == 1 &&
        option->results().front() != "true") {
      Error = option->get_name() + " takes no value";
      return false;
    }
  }
  Options.Help = Given(Command, "--help");
  if (Options.Help) return true;
  const std::vector<std::string> extras = Command.remaining();
  if (!extras.empty()) {
    const std::string& extra = extras.front();
    Error =
        std::string(CommandName(Options.Command)) + " takes no " + extra.substr(0, extra.find('='));
    return false;
  }
  return true;
}

// A file name that was given: "--name" alone or "--name=" names none.
bool FileName(const CLI::App& Command, const char* Name, const std::string& Value,
              const char* Missing, std::string& Target, std::string& Error) {
  if (!Given(Command, Name)) return true;
  if (Value.empty()) {
    Error = std::string(Name) + Missing;
    return false;
  }
  Target = Value;
  return true;
}

// The values, converted by the rule for typed numbers and checked against their ranges.
bool TakeValues(const TCommandLine& Line, const CLI::App& Command, TOptions& Options,
                std::string& Error) {
  Options.Port = Line.Port;
  if (Given(Command, "--port") && Line.Port.empty()) {
    Error = "--port needs a value";
    return false;
  }
  if (!FileName(Command, "--trace", Line.Trace, " needs a file name", Options.Trace, Error) ||
      !FileName(Command, "--out", Line.Out, " needs a file name", Options.Out, Error) ||
      !FileName(Command, "--text", Line.Text, " needs a file name", Options.Text, Error) ||
      !FileName(Command, "--csv", Line.Csv, " needs a file name (or - for standard output)",
                Options.Csv, Error))
    return false;
  if (Given(Command, "--timeout")) {
    long double seconds = 0;
    // No time at all would fail every command before the adapter could answer.
    if (!TryStrToFloat(Line.Timeout, seconds) || !(seconds > 0) || seconds > 3600) {
      Error =
          "--timeout needs a number of seconds above 0, up to 3600, not \"" + Line.Timeout + "\"";
      return false;
    }
    Options.TimeoutMs = std::llround(static_cast<double>(seconds) * 1000.0);
  }
  if (Given(Command, "--count") && (!TryStrToInt(Line.Count, Options.Count) || Options.Count < 1)) {
    Error = "--count needs a whole number of at least 1, not \"" + Line.Count + "\"";
    return false;
  }
  if (Given(Command, "--version") &&
      (!TryStrToInt(Line.Version, Options.Version) || Options.Version <= 0)) {
    Error = "--version needs a software version number, not \"" + Line.Version + "\"";
    return false;
  }
  Options.Yes = Given(Command, "--yes");
  Options.Json = Given(Command, "--json");
  Options.DryRun = Given(Command, "--dry-run");
  Options.NoVerify = Given(Command, "--no-verify");
  Options.Defaults = Given(Command, "--defaults");
  Options.ExitOnLoss = Given(Command, "--exit-on-loss");
  Options.Loopback = Given(Command, "--loopback");
  if (Options.Json && Options.Csv == "-") {
    Error = "--json and --csv - both need standard output";
    return false;
  }
  return true;
}

// The sides of a diff (the device, files, the defaults) and the trace of a decode.
bool CheckFiles(const TOptions& Options, std::string& Error) {
  if (Options.Command == TCommand::Decode) {
    if (Options.Files.size() == 1) return true;
    Error = Options.Files.empty() ? "decode needs the trace file" : "decode takes one trace file";
    return false;
  }
  const std::size_t sides =
      Options.Files.size() + (Options.Port.empty() ? 0 : 1) + (Options.Defaults ? 1 : 0);
  if (sides == 2) return true;
  Error =
      "diff compares two sides: --port P and FILE, FILE and FILE, or one of them and --defaults";
  return false;
}

// The arguments that are not options, and what the command needs besides its options.
bool CheckArguments(std::vector<std::string> Words, TOptions& Options, std::string& Error) {
  if (Options.Command == TCommand::Diff || Options.Command == TCommand::Decode) {
    Options.Files = std::move(Words);
    Words.clear();
    if (!CheckFiles(Options, Error)) return false;
  }
  if (Options.Command == TCommand::Write) {
    if (Words.empty()) {
      Error = "write needs the settings file to send";
      return false;
    }
    Options.File = Words.front();
    Words.erase(Words.begin());
  }
  if (!Words.empty()) {
    Error = "unexpected argument \"" + Words.front() + "\"";
    return false;
  }
  if (Options.Command == TCommand::CheckPort && !Options.Loopback) {
    Error = "check-port needs --loopback (bridge the port's TX and RX first)";
    return false;
  }
  if (Options.Command != TCommand::Versions && Options.Command != TCommand::Decode &&
      Options.Command != TCommand::Ports &&
      !(Options.Command == TCommand::Diff && Options.Port.empty())) {
    if (Options.Port.empty()) {
      Error = std::string(CommandName(Options.Command)) + " needs --port";
      return false;
    }
    TPortTarget target;
    if (!ParsePort(Options.Port, target, Error)) return false;
  }
  return true;
}

}  // namespace

const char* CommandName(TCommand Command) {
  return Info(Command).Name;
}

bool ParseOptions(int Argc, const char* const* Argv, TOptions& Options, std::string& Error) {
  Options = TOptions{};
  std::vector<std::string> args(Argv, Argv + Argc);
  TCommandLine line;
  const std::size_t at = line.CommandIndex(args);
  if (at < args.size() && args[at] == "help") {
    // "zocfg help read" asks for the help of read.
    Options.Help = true;
    if (at + 1 < args.size()) {
      const TCommandInfo* command = FindCommand(args[at + 1]);
      if (command == nullptr) {
        Error = "unknown command \"" + args[at + 1] + "\"";
        return false;
      }
      Options.Command = command->Command;
    }
    return true;
  }
  if (at < args.size()) {
    const TCommandInfo* command = FindCommand(args[at]);
    if (command == nullptr) {
      Error = "unknown command \"" + args[at] + "\"";
      return false;
    }
    Options.Command = command->Command;
    // CLI11 reads a command's options after the command: those before it move behind it.
    std::rotate(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(at),
                args.begin() + static_cast<std::ptrdiff_t>(at) + 1);
  }
  try {
    line.App.parse(std::vector<std::string>(args.rbegin(), args.rend()));
  } catch (const CLI::ParseError& e) {
    Error = e.what();
    return false;
  }
  if (Options.Command == TCommand::None) {
    if (!NoneUnknown(line, line.App, Error)) return false;
    Options.Help = Given(line.App, "--help");
    if (!Options.Help) Error = "no command given";
    return Options.Help;
  }
  CLI::App& command = line.Command(Options.Command);
  if (!CheckGiven(line, command, Options, Error)) return false;
  if (Options.Help) return true;
  const std::vector<std::string> left = line.App.remaining();
  if (!left.empty()) {
    Error = "unexpected argument \"" + left.front() + "\"";
    return false;
  }
  return TakeValues(line, command, Options, Error) && CheckArguments(line.Words, Options, Error);
}

bool ParsePort(const std::string& Text, TPortTarget& Target, std::string& Error) {
  Target = TPortTarget{};
  std::int32_t number = 0;
  if (TryStrToInt(Text, number)) {
    if (number < 1 || number > 255) {
      Error = "COM port number " + Text + " is out of range (1 to 255)";
      return false;
    }
    Target.Number = static_cast<std::uint8_t>(number);
    return true;
  }
  if (Text.find_first_of("/\\") != std::string::npos) {
    Target.Path = Text;
    return true;
  }
  Error = "Cannot interpret \"" + Text + "\" as a COM port number!";
  return false;
}

std::string HelpText(TCommand Command) {
  const TCommandLine line;
  return Command == TCommand::None ? line.App.help() : line.Command(Command).help();
}

}  // namespace zo
