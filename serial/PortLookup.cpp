// Which device a port number reaches, on every platform: a simulated line, ZO_COM<n>, then the
// system's own numbering (PortNames<platform>.cpp).
#include <cstdlib>

#include "serial/PortNames.h"
#include "serial/SimLine.h"

namespace zo {

std::string PortDevicePath(std::uint8_t Port) {
  if (Port == 0) return {};
  const std::string variable = "ZO_COM" + std::to_string(Port);
  if (const char* value = std::getenv(variable.c_str()); value && *value) return value;
  return SystemPortPath(Port);
}

std::unique_ptr<SerialBackend> OpenSerialDevice(std::uint8_t Port, std::string& Why) {
  Why.clear();
  if (Port == 0) {
    Why = "there is no port 0";
    return nullptr;
  }
  if (std::shared_ptr<SimLine> line = SimPortRegistry::Find(Port)) {
    std::unique_ptr<SerialBackend> backend = line->OpenPortSide();
    if (!backend) {
      Why = "simulated line " + line->Name() +
            (line->Plugged() ? " is in use by another port" : " is unplugged");
    }
    return backend;
  }
  const std::string path = PortDevicePath(Port);
  if (path.empty()) {
    const std::string n = std::to_string(Port);
    Why = "COM" + n + ": no serial port has this number (" +
          std::to_string(EnumerateSerialPorts().size()) + " found); ZO_COM" + n +
          "=<device path> chooses one";
    return nullptr;
  }
  int error = 0;
  std::unique_ptr<SerialBackend> backend = OpenSerialPath(path, error);
  if (!backend) {
    Why = ExplainOpenFailure(path, error);
    return nullptr;
  }
  return backend;
}

}  // namespace zo
