#include "cli/Options.h"

#include <cmath>
#include <vector>

#include "adapter/TextTool.h"

namespace zo {

namespace {

struct TCommandInfo {
  TCommand Command;
  const char* Name;
};

constexpr TCommandInfo Commands[] = {
    {TCommand::Detect, "detect"},
    {TCommand::Read, "read"},
    {TCommand::Write, "write"},
    {TCommand::Monitor, "monitor"},
    {TCommand::UpdateFirmware, "update-firmware"},
    {TCommand::Versions, "versions"},
    {TCommand::Diff, "diff"},
    {TCommand::Decode, "decode"},
    {TCommand::Ports, "ports"},
    {TCommand::CheckPort, "check-port"},
};

TCommand FindCommand(const std::string& Name) {
  for (const TCommandInfo& c : Commands)
    if (Name == c.Name) return c.Command;
  return TCommand::None;
}

// The options a command takes besides --help, --trace, --timeout and --yes.
bool Allows(TCommand Command, const std::string& Option) {
  if (Option == "--port")
    return Command != TCommand::Versions && Command != TCommand::Decode &&
           Command != TCommand::Ports;
  if (Option == "--json")
    return Command == TCommand::Detect || Command == TCommand::Read || Command == TCommand::Write ||
           Command == TCommand::Monitor || Command == TCommand::Versions ||
           Command == TCommand::Diff || Command == TCommand::Decode || Command == TCommand::Ports ||
           Command == TCommand::CheckPort;
  if (Option == "--version" || Option == "--defaults") return Command == TCommand::Diff;
  if (Option == "--loopback") return Command == TCommand::CheckPort;
  if (Option == "--out" || Option == "--text") return Command == TCommand::Read;
  if (Option == "--dry-run" || Option == "--no-verify") return Command == TCommand::Write;
  if (Option == "--count" || Option == "--csv" || Option == "--exit-on-loss")
    return Command == TCommand::Monitor;
  return Option == "--trace" || Option == "--timeout" || Option == "--yes";
}

bool TakesValue(const std::string& Option) {
  return Option == "--port" || Option == "--trace" || Option == "--timeout" || Option == "--out" ||
         Option == "--count" || Option == "--text" || Option == "--version" || Option == "--csv";
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

bool Known(const std::string& Option) {
  return TakesValue(Option) || Option == "--json" || Option == "--dry-run" ||
         Option == "--no-verify" || Option == "--yes" || Option == "--help" ||
         Option == "--defaults" || Option == "--exit-on-loss" || Option == "--loopback";
}

}  // namespace

const char* CommandName(TCommand Command) {
  for (const TCommandInfo& c : Commands)
    if (c.Command == Command) return c.Name;
  return "zocfg";
}

bool ParseOptions(int Argc, const char* const* Argv, TOptions& Options, std::string& Error) {
  Options = TOptions{};
  struct TGiven {
    std::string Name, Value;
  };
  std::vector<TGiven> given;
  std::vector<std::string> positional;
  std::string command_text;
  for (int i = 0; i < Argc; ++i) {
    const std::string arg = Argv[i];
    if (arg == "-h" || arg == "--help") {
      Options.Help = true;
      continue;
    }
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      std::string name = arg, value;
      const std::size_t eq = arg.find('=');
      const bool inline_value = eq != std::string::npos;
      if (inline_value) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
      }
      if (!Known(name)) {
        Error = "unknown option " + name;
        return false;
      }
      if (TakesValue(name)) {
        if (!inline_value) {
          if (i + 1 >= Argc) {
            Error = name + " needs a value";
            return false;
          }
          value = Argv[++i];
        }
      } else if (inline_value) {
        Error = name + " takes no value";
        return false;
      }
      for (const TGiven& g : given)
        if (g.Name == name) {
          Error = name + " is given more than once";
          return false;
        }
      given.push_back({name, value});
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      Error = "unknown option " + arg;
      return false;
    }
    if (command_text.empty()) {
      command_text = arg;
      if (arg == "help") {
        Options.Help = true;
        command_text.clear();
        // "zocfg help read" asks for the help of read.
        if (i + 1 < Argc) {
          Options.Command = FindCommand(Argv[i + 1]);
          if (Options.Command == TCommand::None) {
            Error = std::string("unknown command \"") + Argv[i + 1] + "\"";
            return false;
          }
        }
        return true;
      }
    } else {
      positional.push_back(arg);
    }
  }

  if (!command_text.empty()) {
    Options.Command = FindCommand(command_text);
    if (Options.Command == TCommand::None) {
      Error = "unknown command \"" + command_text + "\"";
      return false;
    }
  }
  if (Options.Help) return true;
  if (Options.Command == TCommand::None) {
    Error = "no command given";
    return false;
  }

  for (const TGiven& g : given) {
    if (!Allows(Options.Command, g.Name)) {
      Error = std::string(CommandName(Options.Command)) + " takes no " + g.Name;
      return false;
    }
    if (g.Name == "--port") {
      Options.Port = g.Value;
    } else if (g.Name == "--trace") {
      if (g.Value.empty()) {
        Error = "--trace needs a file name";
        return false;
      }
      Options.Trace = g.Value;
    } else if (g.Name == "--timeout") {
      long double seconds = 0;
      // No time at all would fail every command before the adapter could answer.
      if (!TryStrToFloat(g.Value, seconds) || !(seconds > 0) || seconds > 3600) {
        Error = "--timeout needs a number of seconds above 0, up to 3600, not \"" + g.Value + "\"";
        return false;
      }
      Options.TimeoutMs = std::llround(static_cast<double>(seconds) * 1000.0);
    } else if (g.Name == "--yes") {
      Options.Yes = true;
    } else if (g.Name == "--json") {
      Options.Json = true;
    } else if (g.Name == "--out") {
      if (g.Value.empty()) {
        Error = "--out needs a file name";
        return false;
      }
      Options.Out = g.Value;
    } else if (g.Name == "--text") {
      if (g.Value.empty()) {
        Error = "--text needs a file name";
        return false;
      }
      Options.Text = g.Value;
    } else if (g.Name == "--dry-run") {
      Options.DryRun = true;
    } else if (g.Name == "--loopback") {
      Options.Loopback = true;
    } else if (g.Name == "--no-verify") {
      Options.NoVerify = true;
    } else if (g.Name == "--count") {
      std::int32_t count = 0;
      if (!TryStrToInt(g.Value, count) || count < 1) {
        Error = "--count needs a whole number of at least 1, not \"" + g.Value + "\"";
        return false;
      }
      Options.Count = count;
    } else if (g.Name == "--version") {
      if (!TryStrToInt(g.Value, Options.Version) || Options.Version <= 0) {
        Error = "--version needs a software version number, not \"" + g.Value + "\"";
        return false;
      }
    } else if (g.Name == "--defaults") {
      Options.Defaults = true;
    } else if (g.Name == "--csv") {
      if (g.Value.empty()) {
        Error = "--csv needs a file name (or - for standard output)";
        return false;
      }
      Options.Csv = g.Value;
    } else if (g.Name == "--exit-on-loss") {
      Options.ExitOnLoss = true;
    }
  }
  if (Options.Json && Options.Csv == "-") {
    Error = "--json and --csv - both need standard output";
    return false;
  }
  if (Options.Command == TCommand::Diff || Options.Command == TCommand::Decode) {
    Options.Files = positional;
    positional.clear();
    if (!CheckFiles(Options, Error)) return false;
  }

  if (Options.Command == TCommand::Write) {
    if (positional.empty()) {
      Error = "write needs the settings file to send";
      return false;
    }
    Options.File = positional.front();
    positional.erase(positional.begin());
  }
  if (!positional.empty()) {
    Error = "unexpected argument \"" + positional.front() + "\"";
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
  if (Text.find('/') != std::string::npos) {
    Target.Path = Text;
    return true;
  }
  Error = "Cannot interpret \"" + Text + "\" as a COM port number!";
  return false;
}

std::string HelpText(TCommand Command) {
  static const char common[] =
      "Options of every command:\n"
      "  --port P          the port: a number (1 to 255, as in the window's port menu; ZO_COM<n>\n"
      "                    in the environment names the device of port n) or a device path such\n"
      "                    as /dev/ttyUSB0 or /dev/pts/3\n"
      "  --trace FILE      write every byte on the line, with a millisecond time stamp, its\n"
      "                    direction and the line settings, to FILE\n"
      "  --timeout SECONDS how long to wait for the adapter and the target (default 5)\n"
      "  --yes             answer Yes to questions (the offer to update the DL2's firmware);\n"
      "                    without it every question is answered No\n"
      "  --help            this text\n"
      "\n"
      "Exit status: 0 success; 1 communication failure (no adapter, no target, a read or write\n"
      "that failed); 2 usage error; 3 file error (VERSION.DAT, settings file, trace file).\n"
      "Ctrl+C ends a command before its next frame with status 1 and says what was done\n"
      "(monitor: ends it normally, status 0); a second Ctrl+C ends it at once, except while\n"
      "the DL2 is being programmed, which cannot be interrupted.\n"
      "Messages go to standard error; with --json standard output holds one JSON document,\n"
      "with \"ok\": false, \"status\" and \"message\" when the command failed.\n";
  switch (Command) {
    case TCommand::Detect:
      return std::string(
                 "Usage: zocfg detect --port P [--json]\n"
                 "\n"
                 "Finds the interface adapter on the port and the device behind it, as the\n"
                 "window does when a port is chosen, and reads the device's settings as a new\n"
                 "target's are read. Prints the adapter (DL1 or DL2; for a DL2 its mode, firmware\n"
                 "version and bootblock), the device's software version and its device type.\n"
                 "\n") +
             common;
    case TCommand::Read:
      return std::string(
                 "Usage: zocfg read --port P [--out FILE.zsf] [--text FILE] [--json]\n"
                 "\n"
                 "Reads every setting of the device, as \"&Get settings\" does after a new target\n"
                 "is found, and prints each with its name, value, unit and bounds, and the option\n"
                 "switches by name.\n"
                 "  --out FILE.zsf    also save the settings to a settings file, byte for byte as\n"
                 "                    \"&Save settings\" would; only after a complete read (a\n"
                 "                    failed read leaves no file and keeps an existing one)\n"
                 "  --text FILE       also save them as readable text: \"Name = value unit\"\n"
                 "                    lines and the options by name, which write accepts too\n"
                 "  --json            print one JSON document instead of the table\n"
                 "\n") +
             common;
    case TCommand::Write:
      return std::string(
                 "Usage: zocfg write --port P FILE.zsf [--dry-run] [--no-verify] [--json]\n"
                 "\n"
                 "Sends a settings file (.zsf) or a settings text (as read --text writes it,\n"
                 "told apart by content) to the device. First reads every setting of the device\n"
                 "(so option bits that a file does not carry keep the device's values), then\n"
                 "loads the file against the device's software version as \"&Load settings\"\n"
                 "does (values out of bounds are corrected and reported), prints what will\n"
                 "change, and sends the settings as \"&Send settings\" does. The device does not\n"
                 "answer writes, so the settings are then read back and compared: a setting\n"
                 "that differs is named and gives exit status 1.\n"
                 "  --dry-run         show what would change, send nothing\n"
                 "  --no-verify       do not read the settings back after sending\n"
                 "  --json            print the changes as one JSON document\n"
                 "A settings file that cannot be opened or is corrupted, or a settings text with\n"
                 "a line that is not understood, gives exit status 3, and nothing is sent (the\n"
                 "file is checked before the device is).\n"
                 "\n") +
             common;
    case TCommand::Monitor:
      return std::string(
                 "Usage: zocfg monitor --port P [--count N] [--json] [--csv FILE]\n"
                 "                    [--exit-on-loss]\n"
                 "\n"
                 "Prints the live values (mains, inverter and DC voltages and currents, DC\n"
                 "ripple) as the device is polled, one line per polling cycle, until stopped\n"
                 "with Ctrl+C or after N cycles. When the target is lost, says so and goes on\n"
                 "with empty values until it answers again.\n"
                 "  --count N         stop after N cycles\n"
                 "  --json            print the cycles as one JSON document at the end\n"
                 "  --csv FILE        also record the cycles to FILE as comma-separated values\n"
                 "                    (- : to standard output instead of the lines), each row\n"
                 "                    flushed; a file that cannot be written gives status 3\n"
                 "  --exit-on-loss    end with status 1 when the target is lost\n"
                 "\n") +
             common;
    case TCommand::UpdateFirmware:
      return std::string(
                 "Usage: zocfg update-firmware --port P [--yes]\n"
                 "\n"
                 "Checks the DL2 adapter's firmware against the image this program carries and\n"
                 "reprograms it, as the window does, when it is badly programmed or older than\n"
                 "the image. Without --yes the offer to update is declined, so the command only\n"
                 "checks. A progress bar shows the reprogram.\n"
                 "\n") +
             common;
    case TCommand::Versions:
      return std::string(
                 "Usage: zocfg versions [--json]\n"
                 "\n"
                 "Lists the device software versions in VERSION.DAT (beside the program) with\n"
                 "their device type names.\n"
                 "\n") +
             common;
    case TCommand::Diff:
      return std::string(
                 "Usage: zocfg diff --port P FILE      (the device against a file)\n"
                 "       zocfg diff FILE1 FILE2 [--version V]\n"
                 "       zocfg diff (--port P | FILE) --defaults\n"
                 "\n"
                 "Compares two sets of settings: the device's (read as \"&Get settings\" reads\n"
                 "them), a settings file's (.zsf) or a settings text's (as read --text writes\n"
                 "it), or the defaults of the version, as \"Set all settings to default\" sets\n"
                 "them. Each file is loaded as \"&Load settings\" loads it, against the version\n"
                 "that gives its names, units and bounds: --version V, else the version a text\n"
                 "names, else the other side's. Prints one line per setting or option that\n"
                 "differs, after warnings about different versions, voltage classes and values\n"
                 "that the other side's bounds would correct.\n"
                 "  --version V       the device software version of the files\n"
                 "  --defaults        compare with the defaults of the version\n"
                 "  --json            print one JSON document (changed, only_in_first,\n"
                 "                    only_in_second, warnings)\n"
                 "Exit status: 0 equal, 1 different, 2 usage error, 3 file error, 4 the device\n"
                 "could not be read.\n"
                 "\n") +
             common;
    case TCommand::Decode:
      return std::string(
                 "Usage: zocfg decode TRACE [--json]\n"
                 "\n"
                 "Reads a trace written by --trace (by zocfg or the window) and prints one line\n"
                 "per frame: time, direction, line settings, the frame's bytes and its meaning.\n"
                 "Checksum failures, unmatched replies, repeated requests, short hold-offs and\n"
                 "late replies are flagged on their lines and counted in a summary at the end;\n"
                 "lines of the trace that cannot be read are warned about with their numbers.\n"
                 "  --json            print one JSON document instead\n"
                 "Exit status: 0 decoded, 2 usage error, 3 the trace cannot be read.\n"
                 "\n") +
             common;
    case TCommand::Ports:
      return std::string(
                 "Usage: zocfg ports [--json]\n"
                 "\n"
                 "Lists the serial ports, one line each: COM number, device path, stable name in\n"
                 "/dev/serial/by-id, USB vendor:product and product name, kernel driver, whether\n"
                 "you may open it (and if not, why: group, another program holding it,\n"
                 "ModemManager), whether low-latency mode is available, and how the driver suits\n"
                 "the DL1 (per-byte parity errors). Reads sysfs and /proc only, opens no port.\n"
                 "  --json            print one JSON document instead of the lines\n"
                 "\n") +
             common;
    case TCommand::CheckPort:
      return std::string(
                 "Usage: zocfg check-port --port P --loopback [--json]\n"
                 "\n"
                 "With the port's TX and RX bridged (a loopback plug or a jumper), checks\n"
                 "what the adapters need: bytes back intact at each line setting, mark and\n"
                 "space parity, a parity error flagged on exactly the byte that carries it,\n"
                 "break, RTS and DTR, and the round trip of single bytes against the DL1's\n"
                 "16 ms echo window; then a verdict per use (DL1, DL2, DL2 firmware update).\n"
                 "On a pseudo-terminal it says which checks a pseudo-terminal cannot show.\n"
                 "  --loopback        TX and RX are bridged (required)\n"
                 "  --json            print one JSON document instead of the table\n"
                 "Exit status 0 only when every use passes; 1 when a use fails or cannot be\n"
                 "shown, or the port cannot be opened or vanishes during the check.\n"
                 "\n") +
             common;
    case TCommand::None:
      break;
  }
  return std::string(
             "Usage: zocfg <command> [options]\n"
             "\n"
             "Configures inverter and charger devices through a DL1 or DL2 interface adapter,\n"
             "as the ZO configure window does.\n"
             "\n"
             "Commands:\n"
             "  detect           find the adapter and the device\n"
             "  read             read every setting; save them to a settings file\n"
             "  write            send a settings file to the device\n"
             "  monitor          print the live values\n"
             "  update-firmware  check and reprogram the DL2's firmware\n"
             "  versions         list the supported device software versions\n"
             "  diff             compare settings: device, files, defaults\n"
             "  decode           decode a trace written by --trace\n"
             "  ports            list the serial ports and how they suit the adapters\n"
             "  check-port       check a port through a loopback plug\n"
             "\n"
             "\"zocfg <command> --help\" describes a command.\n"
             "\n") +
         common;
}

}  // namespace zo
