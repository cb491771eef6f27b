#include <windows.h>

#include "platform/WindowsText.h"
#include "serial/PortNames.h"
#include "serial/Win32Backend.h"
#include "serial/WindowsPorts.h"

namespace zo {

std::vector<TPortInfo> EnumerateSerialPorts() {
  std::vector<TPortInfo> ports;
  for (const TWindowsPort& p : ListWindowsPorts())
    ports.push_back({p.Number, "\\\\.\\" + p.Name, p.FriendlyName});
  return ports;
}

std::string SystemPortPath(std::uint8_t Port) {
  // Windows numbers its ports itself; a port it does not list may still open (a port that a
  // driver adds without announcing it).
  return "\\\\.\\COM" + std::to_string(Port);
}

std::unique_ptr<SerialBackend> OpenSerialPath(const std::string& Path, int& Error) {
  return Win32Backend::Open(Path, Error);
}

std::string ExplainOpenFailure(const std::string& Path, int Error) {
  switch (static_cast<DWORD>(Error)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Path + " does not exist (is the adapter plugged in?)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return Path + " is in use by another program";
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return Path + " has no device behind it (is the adapter plugged in?)";
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return Path + " is not a serial port";
    default:
      return Path + ": " + SystemErrorText(static_cast<DWORD>(Error));
  }
}

}  // namespace zo
