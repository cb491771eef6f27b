#include "serial/WindowsPorts.h"

#include <windows.h>
// After windows.h; initguid.h makes devguid.h define the class GUIDs it names.
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/WindowsText.h"

namespace zo {

namespace {

// The number of "COM<n>"; 0 for any other name.
int ComNumber(const std::string& Name) {
  if (Name.size() < 4 || Name.size() > 6) return 0;
  std::string prefix = Name.substr(0, 3);
  std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (prefix != "COM") return 0;
  int number = 0;
  for (std::size_t i = 3; i < Name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(Name[i]))) return 0;
    number = number * 10 + (Name[i] - '0');
  }
  return number >= 1 && number <= 255 ? number : 0;
}

// The names in SERIALCOMM: its values' data are the port names.
std::vector<std::string> SerialCommNames() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD index = 0;; ++index) {
    wchar_t value[256];
    DWORD value_size = 256;
    wchar_t data[256] = {};
    DWORD data_size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r = RegEnumValueW(key, index, value, &value_size, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data), &data_size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_SUCCESS && type == REG_SZ) names.push_back(Utf8Of(data));
  }
  RegCloseKey(key);
  return names;
}

std::string DeviceProperty(HDEVINFO Devices, SP_DEVINFO_DATA& Device, DWORD Property) {
  wchar_t buffer[1024] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(Devices, &Device, Property, nullptr,
                                         reinterpret_cast<BYTE*>(buffer),
                                         sizeof buffer - sizeof(wchar_t), nullptr))
    return {};
  return Utf8Of(buffer);  // a multi-string's first entry
}

// The installed devices of the Ports class, by port name.
std::map<int, TWindowsPort> InstalledPorts() {
  std::map<int, TWindowsPort> ports;
  HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return ports;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    const int number = named ? ComNumber(Utf8Of(name)) : 0;
    if (number == 0) continue;
    TWindowsPort& port = ports[number];
    port.FriendlyName = DeviceProperty(devices, device, SPDRP_FRIENDLYNAME);
    port.HardwareId = DeviceProperty(devices, device, SPDRP_HARDWAREID);
    port.Service = DeviceProperty(devices, device, SPDRP_SERVICE);
  }
  SetupDiDestroyDeviceInfoList(devices);
  return ports;
}

}  // namespace

std::vector<TWindowsPort> ListWindowsPorts() {
  const std::map<int, TWindowsPort> installed = InstalledPorts();
  std::map<int, TWindowsPort> found;
  for (const std::string& name : SerialCommNames()) {
    const int number = ComNumber(name);
    if (number == 0 || found.count(number) != 0) continue;
    const auto it = installed.find(number);
    TWindowsPort port = it != installed.end() ? it->second : TWindowsPort{};
    port.Number = number;
    port.Name = "COM" + std::to_string(number);
    found[number] = port;
  }
  std::vector<TWindowsPort> ports;
  for (const auto& [number, port] : found)
    ports.push_back(port);
  return ports;
}

std::string HardwareIdField(const std::string& HardwareId, const std::string& Field) {
  std::string upper = HardwareId;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const auto at = upper.find(Field + "_");
  if (at == std::string::npos || at + Field.size() + 5 > upper.size()) return {};
  std::string digits = HardwareId.substr(at + Field.size() + 1, 4);
  for (char& c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return digits;
}

}  // namespace zo
