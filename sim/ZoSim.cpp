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

namespace {

using namespace zo;
using namespace zo::sim;

const char HelpText[] =
    "Usage: zo-sim [options]\n"
    "\n"
    "Serves a simulated DL2 interface adapter, with a simulated device behind it, on a\n"
    "pseudo-terminal. Prints the terminal's path (/dev/pts/N) on the first line of standard\n"
    "output and runs until stopped (Ctrl+C, SIGTERM).\n"
    "\n"
    "  --device VERSION   the device's software version, from the table of versions\n"
    "                     (default 1711104; --list shows them)\n"
    "  --kind CODE        the device kind code (setting 19): 120 to 136 has a charger (130)\n"
    "  --set N=RAW        start setting N (8 to 25) with the raw value RAW; repeatable\n"
    "  --turnaround MS    the device's reply delay (5)\n"
    "  --mode 1|2         the DL2's mode: 1 ZOBus (default), 2 ZO 9 bit\n"
    "  --firmware N       the DL2's firmware version (1130118)\n"
    "  --bootblock KIND   new (default), old (echoes until started), or bad (a badly\n"
    "                     programmed DL2)\n"
    "  --traffic          other stations' frames pass now and then\n"
    "  --silent-after N   the device stops answering after N requests (0: silent at once)\n"
    "  --deaf-after N     the device still answers but takes no writes after N requests\n"
    "  --garble P         each byte to the program gets a flipped bit with probability P\n"
    "  --seed N           seed of the garbling and of the adapter's choices (1)\n"
    "  --state FILE       on exit and on SIGUSR1, write the device's settings and frame\n"
    "                     counts to FILE\n"
    "  --link PATH        also make PATH a symbolic link to the terminal (removed on exit);\n"
    "                     only where nothing is, or over a link an earlier zo-sim left\n"
    "  --list             list the versions of the table and exit\n"
    "  --help             this text\n";

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
  std::int32_t DeafAfter = -1;
  double Garble = 0;
  std::int32_t Seed = 1;
  std::string State, Link;
  bool List = false, Help = false;
};

bool Number(const std::string& Text, std::int32_t& Value) {
  return TryStrToInt(Text, Value);
}

bool Parse(int argc, char** argv, TSimOptions& O, std::string& Error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i], value;
    const std::size_t eq = name.find('=');
    const bool has_value = eq != std::string::npos && name.compare(0, 2, "--") == 0;
    if (has_value) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    auto need = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) {
        Error = name + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto number = [&](std::int32_t& target, std::int32_t min) -> bool {
      if (!need()) return false;
      if (!Number(value, target) || target < min) {
        Error = name + ": cannot use \"" + value + "\"";
        return false;
      }
      return true;
    };
    if (name == "--help" || name == "-h") {
      O.Help = true;
    } else if (name == "--list") {
      O.List = true;
    } else if (name == "--traffic") {
      O.Traffic = true;
    } else if (name == "--device") {
      if (!number(O.Device, 1)) return false;
    } else if (name == "--kind") {
      if (!number(O.Kind, 0)) return false;
    } else if (name == "--turnaround") {
      if (!number(O.Turnaround, 0)) return false;
    } else if (name == "--firmware") {
      if (!number(O.Firmware, 0)) return false;
    } else if (name == "--silent-after") {
      if (!number(O.SilentAfter, 0)) return false;
    } else if (name == "--deaf-after") {
      if (!number(O.DeafAfter, 0)) return false;
    } else if (name == "--seed") {
      if (!number(O.Seed, 0)) return false;
    } else if (name == "--mode") {
      if (!number(O.Mode, 1)) return false;
      if (O.Mode != 1 && O.Mode != 2) {
        Error = "--mode is 1 (ZOBus) or 2 (ZO 9 bit)";
        return false;
      }
    } else if (name == "--bootblock") {
      if (!need()) return false;
      if (value == "new") {
        O.Variant = TDL2Variant::NewBootblock;
      } else if (value == "old") {
        O.Variant = TDL2Variant::OldBootblock;
      } else if (value == "bad") {
        O.Variant = TDL2Variant::BadlyProgrammed;
      } else {
        Error = "--bootblock is new, old or bad";
        return false;
      }
    } else if (name == "--garble") {
      if (!need()) return false;
      long double p = 0;
      if (!TryStrToFloat(value, p) || !(p >= 0 && p <= 1)) {
        Error = "--garble needs a probability from 0 to 1";
        return false;
      }
      O.Garble = static_cast<double>(p);
    } else if (name == "--set") {
      if (!need()) return false;
      const std::size_t at = value.find('=');
      std::int32_t n = 0, raw = 0;
      if (at == std::string::npos || !Number(value.substr(0, at), n) ||
          !Number(value.substr(at + 1), raw) || n < 8 || n > 25 || n == 19) {
        Error = "--set needs N=RAW with a setting N from 8 to 25 (not 19)";
        return false;
      }
      O.Values[n] = raw;
    } else if (name == "--state") {
      if (!need()) return false;
      O.State = value;
    } else if (name == "--link") {
      if (!need()) return false;
      O.Link = value;
    } else {
      Error = "unknown option " + name;
      return false;
    }
  }
  return true;
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

// True for the link an earlier zo-sim left behind: one to a pseudo-terminal.
bool OwnLink(const std::string& Target) {
  const std::string prefix = "/dev/pts/";
  if (Target.size() <= prefix.size() || Target.compare(0, prefix.size(), prefix) != 0) return false;
  for (std::size_t i = prefix.size(); i < Target.size(); ++i)
    if (Target[i] < '0' || Target[i] > '9') return false;
  return true;
}

// Makes `Path` a link to `Terminal`: where nothing is, or over a link an earlier zo-sim made.
// Anything else at `Path` (a file, a folder, a device, another link) is left alone.
bool MakeLink(const std::string& Path, const std::string& Terminal, std::string& Error) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode) || !OwnLink(LinkTarget(Path))) {
      Error = "--link " + Path + ": something else is there already; it is left as it is";
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
  std::string error;
  if (!Parse(argc, argv, o, error)) {
    std::fprintf(stderr, "zo-sim: %s\nTry \"zo-sim --help\".\n", error.c_str());
    return 2;
  }
  if (o.Help) {
    std::fputs(HelpText, stdout);
    return 0;
  }
  if (o.List) {
    ListVersions();
    return 0;
  }
  const auto* record = FindBuiltInVersion(o.Device);
  if (record == nullptr) {
    std::fprintf(stderr, "zo-sim: version %d is not in the table of versions (see --list)\n",
                 o.Device);
    return 2;
  }

  // SIGINT and SIGTERM (stop) and SIGUSR1 (write the state) are taken by sigwait below; every
  // thread started from here on inherits the blocked mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  TSimDeviceConfig device_config;
  device_config.Record = *record;
  device_config.DeviceKindCode = o.Kind;
  device_config.InitialValues = o.Values;
  device_config.TurnaroundMs = o.Turnaround;
  SimDevice device(device_config);
  if (o.SilentAfter == 0) device.SetSilent(true);

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
    if (signal_number != SIGUSR1) break;
    if (!o.State.empty()) WriteState(o.State, device, adapter);
  }

  bridge->Stop();
  adapter.Stop();
  // Only the link made above, if it still stands as it was made.
  if (!o.Link.empty() && LinkTarget(o.Link) == bridge->SlavePath()) ::unlink(o.Link.c_str());
  int status = 0;
  if (!o.State.empty() && !WriteState(o.State, device, adapter)) {
    std::fprintf(stderr, "zo-sim: cannot write %s\n", o.State.c_str());
    status = 1;
  }
  return status;
}
