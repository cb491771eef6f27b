#include "serial/PortNames.h"

namespace zo {

std::vector<TPortInfo> EnumerateSerialPorts() {
  return {};
}

std::string PortDevicePath(std::uint8_t) {
  return {};
}

std::unique_ptr<SerialBackend> OpenSerialDevice(std::uint8_t, std::string& Why) {
  Why = "no serial backend yet";
  return nullptr;
}

}  // namespace zo
