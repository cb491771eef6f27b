// The command line of zocfg: the command, its options, and the help texts.
//
//   zocfg <command> [options]     zocfg --help     zocfg <command> --help
//
// Options may stand before or after the command, as "--name value" or "--name=value".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zo {

// Exit statuses of zocfg.
enum TExitStatus : int {
  ExitOk = 0,
  ExitCommunication = 1,  // no adapter, no target, a read or write that failed
  ExitUsage = 2,          // the command line was wrong
  ExitFile = 3,           // VERSION.DAT, a settings file or the trace file
};

enum class TCommand {
  None,
  Detect,
  Read,
  Write,
  Monitor,
  UpdateFirmware,
  Versions,
  Diff,
  Decode,
  Ports,
  CheckPort
};

struct TOptions {
  TCommand Command = TCommand::None;
  bool Help = false;               // --help: print the help of the program or the command
  std::string Port;                // --port, as given
  std::string Trace;               // --trace FILE
  long long TimeoutMs = 5000;      // --timeout SECONDS: wait for the adapter and the target
  bool Yes = false;                // --yes: answer Yes to the questions
  bool Json = false;               // --json
  std::string Out;                 // read --out FILE
  std::string Text;                // read --text FILE
  std::string File;                // write FILE
  bool DryRun = false;             // write --dry-run
  bool NoVerify = false;           // write --no-verify: no read-back after sending
  std::int32_t Count = 0;          // monitor --count N; 0 runs until stopped
  std::vector<std::string> Files;  // diff FILE [FILE], decode TRACE
  std::int32_t Version = 0;        // diff --version V; 0 when not given
  bool Defaults = false;           // diff --defaults
  std::string Csv;                 // monitor --csv FILE ("-": standard output)
  bool ExitOnLoss = false;         // monitor --exit-on-loss
  bool Loopback = false;           // check-port --loopback
};

// Where --port leads: a port number (1 to 255, mapped as the window maps it, ZO_COM<n>
// included) or a device path.
struct TPortTarget {
  std::uint8_t Number = 0;  // 0 when a path is given
  std::string Path;
};

// Parses the arguments after the program name. False with `Error` set on a usage error. A
// --help anywhere makes the rest of the line count for nothing but choosing the help text.
bool ParseOptions(int Argc, const char* const* Argv, TOptions& Options, std::string& Error);

// A port number by the rule for typed numbers (1 to 255), else a path containing "/" or "\"
// (\\.\COM3 on Windows). False with `Error` set otherwise.
bool ParsePort(const std::string& Text, TPortTarget& Target, std::string& Error);

// The help text of the program (TCommand::None) or of one command.
std::string HelpText(TCommand Command);

const char* CommandName(TCommand Command);

}  // namespace zo
