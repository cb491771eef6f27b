// The COM ports that Windows knows (Windows only): the registry's HARDWARE\DEVICEMAP\SERIALCOMM
// lists the ports that exist now, and SetupAPI's Ports class adds, where the device is installed,
// its name, hardware id (USB\VID_0403&PID_6001...) and driver service.
#pragma once

#include <string>
#include <vector>

namespace zo {

struct TWindowsPort {
  int Number = 0;            // 3 for COM3
  std::string Name;          // COM3
  std::string FriendlyName;  // "USB Serial Port (COM3)", empty when SetupAPI does not know it
  std::string HardwareId;    // "USB\VID_0403&PID_6001&REV_0600", empty when not known
  std::string Service;       // "FTDIBUS", "Serial", empty when not known
};

// The ports by number; none twice.
std::vector<TWindowsPort> ListWindowsPorts();

// The four hexadecimal digits after "VID_" or "PID_" in a hardware id, in lower case (as Linux
// shows them); empty when the id has none.
std::string HardwareIdField(const std::string& HardwareId, const std::string& Field);

}  // namespace zo
