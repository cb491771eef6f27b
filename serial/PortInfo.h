// What the system tells about its serial ports, for port diagnostics (zocfg ports).
//
// Everything comes from sysfs, /dev and /proc: no port is opened, so listing the ports never
// changes a modem line or disturbs a device or a program that uses one.
#pragma once

#include <string>
#include <vector>

namespace zo {

// Where the system's folders are and whose access is judged; tests point the folders at a
// copy of their layout and choose the user.
struct TPortSystem {
  std::string SysClassTty = "/sys/class/tty";
  std::string Dev = "/dev";
  std::string ById = "/dev/serial/by-id";
  std::string Proc = "/proc";
  unsigned Uid = 0;
  std::vector<unsigned> Groups;  // the groups of this login session, the primary one included
  std::string UserName;

  // The live folders and this process's user.
  static TPortSystem Live();
};

// How a port suits the DL1, whose frames start with a byte that only a per-byte parity error
// marks.
enum class TDl1Verdict {
  Suits,                // the driver flags parity errors on single bytes
  SuitsWithLowLatency,  // byte-exact only with the 1 ms latency timer (low-latency mode)
  Unsuitable,           // the driver is known not to flag single bytes
  NotKnown,             // run check-port with a loopback plug
};

// "suits", "suits with low latency", "unsuitable", "not known": also the JSON values.
inline const char* Dl1VerdictName(TDl1Verdict Verdict) {
  switch (Verdict) {
    case TDl1Verdict::Suits:
      return "suits";
    case TDl1Verdict::SuitsWithLowLatency:
      return "suits with low latency";
    case TDl1Verdict::Unsuitable:
      return "unsuitable";
    case TDl1Verdict::NotKnown:
      break;
  }
  return "not known";
}

struct TPortHolder {
  long Pid = 0;
  std::string Command;  // /proc/<pid>/comm
};

struct TPortDetails {
  int Number = 0;         // the COM number, as the port menu numbers it
  std::string Name;       // ttyUSB0
  std::string Path;       // /dev/ttyUSB0
  std::string ById;       // its name in the by-id folder, empty when none
  std::string UsbVendor;  // idVendor and idProduct (4 hex digits), empty when not on USB
  std::string UsbProduct;
  std::string Product;                 // the USB product string, empty when none
  std::string Driver;                  // the kernel driver, empty when sysfs does not name one
  bool MayOpen = false;                // this user may open it now
  std::vector<std::string> Obstacles;  // why not, or what may get in the way; in words
  std::vector<TPortHolder> Holders;    // processes that have it open (as far as readable)
  bool ModemManagerMayProbe = false;
  std::string LowLatency;   // "yes", "not needed", "unknown"
  int LatencyTimerMs = -1;  // ftdi_sio's latency timer, -1 when not known
  TDl1Verdict Dl1 = TDl1Verdict::NotKnown;
  std::string Dl1Reason;
};

struct TPortReport {
  std::vector<TPortDetails> Ports;
  // Things found that belong to no port (a by-id link pointing nowhere, processes whose open
  // files could not be read).
  std::vector<std::string> Notes;
};

// Every serial port of EnumerateSerialPortsIn, numbered as there, with its details. Missing or
// odd sysfs files leave the fields they feed empty (or -1).
TPortReport GatherPortDetails(const TPortSystem& System);

// The DL1 verdict for a driver (`Family` is the port's name without its number: ttyS, ttyUSB,
// ttyACM), with the kernel release from /proc/sys/kernel/osrelease (such as "6.1.0-18-amd64")
// and ftdi_sio's latency timer (-1 when not known).
TDl1Verdict Dl1VerdictFor(const std::string& Family, const std::string& Driver,
                          const std::string& KernelRelease, int LatencyTimerMs,
                          std::string& Reason);

// True for the slave side of a pseudo-terminal (by its device number; false when it cannot be
// told).
bool IsPseudoTerminal(const std::string& Path);

}  // namespace zo
