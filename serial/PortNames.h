// Which device a port number reaches.
//
// On Linux the serial ports that exist are numbered from 1 (see EnumerateSerialPorts); on Windows
// port n is the system's own COMn (\\.\COMn). On both, a simulated line bound to the number and
// the environment variable ZO_COM<n> (a device path) come first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialBackend.h"

namespace zo {

// A serial port of the system, as numbered for the port menu.
struct TPortInfo {
  int Number = 0;           // 1, 2, ...
  std::string Path;         // /dev/ttyUSB0, \\.\COM3
  std::string Description;  // the adapter's name where the system knows it, else empty
};

// The serial ports that exist. Linux: numbered from 1, UART ports with hardware behind them, then
// /dev/ttyUSB*, then /dev/ttyACM*, each by its own number. Windows: the COM ports the system
// lists, by their numbers. ZO_COM<n> overrides do not appear.
std::vector<TPortInfo> EnumerateSerialPorts();

// The device of port `Port` in the system's numbering, without ZO_COM<n>; empty when none.
std::string SystemPortPath(std::uint8_t Port);

// Opens the serial device `Path` (a device path, \\.\COM3 on Windows). Null when it cannot be
// opened, with `Error` set to the system's error number (errno; on Windows GetLastError's code).
std::unique_ptr<SerialBackend> OpenSerialPath(const std::string& Path, int& Error);

// Linux only: EnumerateSerialPorts over the given folders (normally /sys/class/tty, /dev and
// /dev/serial/by-id). A port counts when its sysfs entry has a device behind it and is not a
// virtual terminal; a UART port also needs a known UART type (sysfs "type", else TIOCGSERIAL on
// the device; a port whose type cannot be read is kept). The description is the USB
// manufacturer and product, else the port's name in the by-id folder.
std::vector<TPortInfo> EnumerateSerialPortsIn(const std::string& SysClassTty,
                                              const std::string& DevDir,
                                              const std::string& ByIdDir);

// The first line of a sysfs file without trailing blanks; empty when it cannot be read.
std::string ReadSysfsLine(const std::filesystem::path& File);

// The USB device a tty's sysfs entry hangs from (the folder holding idVendor), or empty when
// it is not on USB.
std::filesystem::path UsbDeviceFolder(const std::filesystem::path& SysEntry);

// The device path of port `Port`: ZO_COM<n> when set, else the enumerated port; empty when none.
std::string PortDevicePath(std::uint8_t Port);

// Opens the device behind port `Port`: a simulated line bound to the number, else the device of
// PortDevicePath. Null when it cannot be opened; `Why` then tells the reason (for the text log).
std::unique_ptr<SerialBackend> OpenSerialDevice(std::uint8_t Port, std::string& Why);

// Why opening the device `Path` failed with the error number `Error` of OpenSerialPath, in words a
// user can act on (on Linux, for a lack of permission: whether the user is missing from the
// device's group, normally dialout, or only this login session is).
std::string ExplainOpenFailure(const std::string& Path, int Error);

}  // namespace zo
