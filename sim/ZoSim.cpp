// zo-sim: a simulated DL2 adapter with a simulated device behind it, served on a
// pseudo-terminal. It prints the terminal's path and runs until SIGINT or SIGTERM, so that zocfg
// and the window talk to it through their real serial code:
//
//   build/bin/zo-sim --device 1711104 &      # prints /dev/pts/N
//   build/bin/zocfg detect --port /dev/pts/N
//   ZO_COM7=/dev/pts/N build/bin/zoconfigure
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapter/TextTool.h"
#include "data/VersionTable.h"
#include "serial/SimLine.h"
#include "sim/PtyBridge.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "threads/Priority.h"

namespace {

using namespace zo;
using namespace zo::sim;

struct TSimOptions {
  std::int32_t Device = 1711104;
  std::int32_t Kind = 130;
  std::map<int, std::int32_t> Values;
  std::int32_t Turnaround = 5;
  std::int32_t Mode = 1;
  std::int32_t Firmware = 1130118;
  TDL2Variant Variant = TDL2Variant::NewBootblock;
  bool Traffic = false;
  std::int32_t SilentAfter = -1;
  bool SilentAfterCommit = false;
  std::int32_t DeafAfter = -1;
  double Garble = 0;
  std::int32_t Seed = 1;
  std::string State, Link;
  bool List = false;
};

// The help as it has always read: the usage, what zo-sim does, its options, the signals.
class THelpFormatter : public CLI::Formatter {
 public:
  THelpFormatter() { column_width(21); }

  // The long name only: -h stays an unlisted shorthand of --help.
  std::string make_option_name(const CLI::Option* Option, bool) const override {
    return "--" + Option->get_lnames().front();
  }

  std::string make_help(const CLI::App* App, std::string, CLI::AppFormatMode) const override {
    return "Usage: zo-sim [options]\n\n" + make_description(App) +
           make_group("Options", false, App->get_options()) + App->get_footer() + "\n";
  }
};

// A whole-number option, by the rule for typed numbers, of at least `Min`.
void Number(CLI::App& App, const char* Name, const char* Shown, std::int32_t& Target,
            std::int32_t Min, const char* Help) {
  App.add_option_function<std::string>(
         Name,
         [Name, &Target, Min](const std::string& Value) {
           if (!TryStrToInt(Value, Target) || Target < Min)
             throw CLI::ValidationError(std::string(Name) + ": cannot use \"" + Value + "\"");
         },
         Help)
      ->type_name(Shown);
}

// The options of zo-sim. A value that cannot be used throws CLI::ValidationError with its
// message; an option given again overrides the earlier one, except --set, which adds up.
void AddOptions(CLI::App& App, TSimOptions& O) {
  App.formatter(std::make_shared<THelpFormatter>());
  App.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  App.description(
      "Serves a simulated DL2 interface adapter, with a simulated device behind it, on a\n"
      "pseudo-terminal. Prints the terminal's path (/dev/pts/N) on the first line of standard\n"
      "output and runs until stopped (Ctrl+C, SIGTERM).");
  App.footer("SIGUSR2 switches the device off (it stops answering) and on again.");
  Number(App, "--device", "VERSION", O.Device, 1,
         "the device's software version, from the table of versions\n"
         "(default 1711104; --list shows them)");
  Number(App, "--kind", "CODE", O.Kind, 0,
         "the device kind code (setting 19): 120 to 136 has a charger (130)");
  App.add_option_function<std::vector<std::string>>(
         "--set",
         [&O](const std::vector<std::string>& Values) {
           for (const std::string& value : Values) {
             const std::size_t at = value.find('=');
             std::int32_t n = 0, raw = 0;
             if (at == std::string::npos || !TryStrToInt(value.substr(0, at), n) ||
                 !TryStrToInt(value.substr(at + 1), raw) || n < 8 || n > 25 || n == 19)
               throw CLI::ValidationError(
                   "--set needs N=RAW with a setting N from 8 to 25 (not 19)");
             O.Values[n] = raw;
           }
         },
         "start setting N (8 to 25) with the raw value RAW; repeatable")
      ->type_name("N=RAW")
      ->option_text("N=RAW")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  Number(App, "--turnaround", "MS", O.Turnaround, 0, "the device's reply delay (5)");
  App.add_option_function<std::string>(
         "--mode",
         [&O](const std::string& Value) {
           if (!TryStrToInt(Value, O.Mode) || (O.Mode != 1 && O.Mode != 2))
             throw CLI::ValidationError("--mode is 1 (ZOBus) or 2 (ZO 9 bit)");
         },
         "the DL2's mode: 1 ZOBus (default), 2 ZO 9 bit")
      ->type_name("1|2");
  Number(App, "--firmware", "N", O.Firmware, 0, "the DL2's firmware version (1130118)");
  App.add_option_function<std::string>(
         "--bootblock",
         [&O](const std::string& Value) {
           if (Value == "new") {
             O.Variant = TDL2Variant::NewBootblock;
           } else if (Value == "old") {
             O.Variant = TDL2Variant::OldBootblock;
           } else if (Value == "bad") {
             O.Variant = TDL2Variant::BadlyProgrammed;
           } else {
             throw CLI::ValidationError("--bootblock is new, old or bad");
           }
         },
         "new (default), old (echoes until started), or bad (a badly\n"
         "programmed DL2)")
      ->type_name("KIND");
  App.add_flag("--traffic", O.Traffic, "other stations' frames pass now and then");
  Number(App, "--silent-after", "N", O.SilentAfter, 0,
         "the device stops answering after N requests (0: silent at once)");
  App.add_flag("--silent-after-commit", O.SilentAfterCommit,
               "the device stops answering once it has applied a commit frame");
  Number(App, "--deaf-after", "N", O.DeafAfter, 0,
         "the device still answers but takes no writes after N requests");
  App.add_option_function<std::string>(
         "--garble",
         [&O](const std::string& Value) {
           long double p = 0;
           if (!TryStrToFloat(Value, p) || !(p >= 0 && p <= 1))
             throw CLI::ValidationError("--garble needs a probability from 0 to 1");
           O.Garble = static_cast<double>(p);
         },
         "each byte to the program gets a flipped bit with probability P")
      ->type_name("P");
  Number(App, "--seed", "N", O.Seed, 0, "seed of the garbling and of the adapter's choices (1)");
  App.add_option("--state", O.State,
                 "on exit and on SIGUSR1, write the device's settings and frame\n"
                 "counts to FILE")
      ->type_name("FILE");
  App.add_option("--link", O.Link,
                 "also make PATH a symbolic link to the terminal (removed on exit);\n"
                 "only where nothing is, or over a link to a terminal that is gone")
      ->type_name("PATH");
  App.add_flag("--list", O.List, "list the versions of the table and exit");
  App.set_help_flag("-h,--help", "this text");
}

void ListVersions() {
  for (const auto& record : BuiltInVersionRecords())
    std::printf("%d  family %d, model %d\n", record[0], record[0] / 100000, record[0] / 1000 % 100);
}

// The device as the test or the technician finds it afterwards.
// Written to a temporary file renamed over `Path`, so a reader never sees half of it.
bool WriteState(const std::string& Path, const SimDevice& Device, const SimDL2Adapter& Adapter) {
  const std::string temporary = Path + ".new";
  std::FILE* f = std::fopen(temporary.c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f, "version %d\n", Device.Record()[0]);
  for (int n = 8; n <= 25; ++n)
    std::fprintf(f, "setting %d %d\n", n, Device.SettingValue(n));
  for (int command = 0; command < 256; ++command) {
    const int seen = Device.FramesSeen(static_cast<std::uint8_t>(command));
    if (seen != 0) std::fprintf(f, "frames %02X %d\n", command, seen);
  }
  std::fprintf(f, "pending_commit %d\n", Device.PendingCommitWrites());
  std::fprintf(f, "requests %d\n", Adapter.RequestsPassed());
  std::fprintf(f, "application_starts %d\n", Adapter.ApplicationStarts());
  if (std::fclose(f) != 0) return false;
  return std::rename(temporary.c_str(), Path.c_str()) == 0;
}

// Where the symbolic link `Path` points, or empty when `Path` is not a symbolic link.
std::string LinkTarget(const std::string& Path) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return "";
  std::vector<char> target(static_cast<std::size_t>(st.st_size) + 2);
  const ssize_t length = ::readlink(Path.c_str(), target.data(), target.size() - 1);
  if (length < 0) return "";
  return std::string(target.data(), static_cast<std::size_t>(length));
}

// True for a link target naming a pseudo-terminal, as zo-sim makes them.
bool PseudoTerminalPath(const std::string& Target) {
  const std::string prefix = "/dev/pts/";
  if (Target.size() <= prefix.size() || Target.compare(0, prefix.size(), prefix) != 0) return false;
  for (std::size_t i = prefix.size(); i < Target.size(); ++i)
    if (Target[i] < '0' || Target[i] > '9') return false;
  return true;
}

// Makes `Path` a link to `Terminal`: where nothing is, or over a link to a pseudo-terminal that
// is gone (one that an earlier zo-sim left). A link to a terminal in use (a running zo-sim's,
// another program's) and anything else at `Path` (a file, a folder, a device, another link) are
// left alone.
bool MakeLink(const std::string& Path, const std::string& Terminal, std::string& Error) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) == 0) {
    const std::string target = LinkTarget(Path);
    if (!S_ISLNK(st.st_mode) || !PseudoTerminalPath(target)) {
      Error = "--link " + Path + ": something else is there already; it is left as it is";
      return false;
    }
    // A pseudo-terminal's node exists only while some process holds it open.
    if (::stat(Path.c_str(), &st) == 0 || errno != ENOENT) {
      Error = "--link " + Path + ": it points at " + target +
              ", a terminal in use; it is left as it is";
      return false;
    }
    ::unlink(Path.c_str());
  }
  if (::symlink(Terminal.c_str(), Path.c_str()) != 0) {
    Error = "cannot make the link " + Path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TSimOptions o;
  CLI::App app("", "zo-sim");
  AddOptions(app, o);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "zo-sim: %s\nTry \"zo-sim --help\".\n", e.what());
    return 2;
  }
  if (o.List) {
    ListVersions();
    return 0;
  }
  std::string error;
  const auto* record = FindBuiltInVersion(o.Device);
  if (record == nullptr) {
    std::fprintf(stderr, "zo-sim: version %d is not in the table of versions (see --list)\n",
                 o.Device);
    return 2;
  }

  // SIGINT and SIGTERM (stop), SIGUSR1 (write the state) and SIGUSR2 (switch the device off or
  // on again) are taken by sigwait below; every thread started from here on inherits the blocked
  // mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  // The simulated adapter stands in for hardware, which never falls behind the program: its
  // threads (started below; they inherit it) get the scheduling of the program's driver threads
  // where the system allows it, so that a busy machine does not make it miss the protocol's
  // windows that real hardware keeps.
  RaiseTimeCritical(SystemSchedulingCalls(CurrentNativeThread()));

  TSimDeviceConfig device_config;
  device_config.Record = *record;
  device_config.DeviceKindCode = o.Kind;
  device_config.InitialValues = o.Values;
  device_config.TurnaroundMs = o.Turnaround;
  SimDevice device(device_config);
  if (o.SilentAfter == 0) device.SetSilent(true);
  device.SetSilentAfterCommit(o.SilentAfterCommit);

  auto line = SimLine::Create("zo-sim");
  std::unique_ptr<TPtyBridge> bridge = TPtyBridge::Create(line, error);
  if (!bridge) {
    std::fprintf(stderr, "zo-sim: cannot open a pseudo-terminal: %s\n", error.c_str());
    return 1;
  }
  TSimDL2Config adapter_config;
  adapter_config.Variant = o.Variant;
  adapter_config.BreakInvisible = true;  // a pseudo-terminal passes no break
  adapter_config.NineBit = o.Mode == 2;
  adapter_config.FirmwareVersion = o.Firmware;
  adapter_config.BusTraffic = o.Traffic;
  adapter_config.Seed = static_cast<std::uint32_t>(o.Seed);
  SimDL2Adapter adapter(line, &device, adapter_config);

  if (o.DeafAfter == 0) device.SetDeafToWrites(true);
  if (o.SilentAfter > 0 || o.DeafAfter > 0) {
    // Looked at before each of the program's requests reaches the adapter, so the request after
    // the N-th already meets a silent (or deaf) device.
    const int silent = o.SilentAfter, deaf = o.DeafAfter;
    bridge->SetBeforeForward([&device, &adapter, silent, deaf] {
      if (silent > 0 && adapter.RequestsPassed() >= silent) device.SetSilent(true);
      if (deaf > 0 && adapter.RequestsPassed() >= deaf) device.SetDeafToWrites(true);
    });
  }
  if (o.Garble > 0) bridge->SetGarble(o.Garble, static_cast<std::uint32_t>(o.Seed));

  adapter.Start();
  bridge->Start();
  if (!o.Link.empty()) {
    if (!MakeLink(o.Link, bridge->SlavePath(), error)) {
      std::fprintf(stderr, "zo-sim: %s\n", error.c_str());
      bridge->Stop();
      adapter.Stop();
      return 1;
    }
  }
  std::printf("%s\n", bridge->SlavePath().c_str());
  std::fflush(stdout);

  for (;;) {
    int signal_number = 0;
    sigwait(&signals, &signal_number);
    if (signal_number == SIGUSR2) {
      device.SetSilent(!device.Silent());
      continue;
    }
    if (signal_number != SIGUSR1) break;
    if (!o.State.empty()) WriteState(o.State, device, adapter);
  }

  // Only the link made above, if it still points at this process's own terminal (whose number
  // no other process can have while the bridge holds it open).
  if (!o.Link.empty() && LinkTarget(o.Link) == bridge->SlavePath()) ::unlink(o.Link.c_str());
  bridge->Stop();
  adapter.Stop();
  int status = 0;
  if (!o.State.empty() && !WriteState(o.State, device, adapter)) {
    std::fprintf(stderr, "zo-sim: cannot write %s\n", o.State.c_str());
    status = 1;
  }
  return status;
}
