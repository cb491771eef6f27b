#include "serial/PortNames.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "serial/TermiosBackend.h"

namespace zo {

namespace fs = std::filesystem;

namespace {

// The port families in the order they are numbered.
constexpr const char* kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};

bool AllDigits(const std::string& Text) {
  return !Text.empty() && std::all_of(Text.begin(), Text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// The family index and number of a name such as ttyUSB3; false for any other name.
bool Classify(const std::string& Name, int& Family, long& Number) {
  for (int f = 0; f < 3; ++f) {
    const std::string prefix = kFamilies[f];
    if (Name.size() <= prefix.size() || Name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = Name.substr(prefix.size());
    if (digits.size() > 6 || !AllDigits(digits)) return false;
    Family = f;
    Number = std::stol(digits);
    return true;
  }
  return false;
}

// The UART type of a ttyS port: 0 (PORT_UNKNOWN) marks a node the kernel made without hardware.
// False when it cannot be told.
bool UartType(const fs::path& SysEntry, const fs::path& Device, int& Type) {
  const std::string text = ReadSysfsLine(SysEntry / "type");
  if (AllDigits(text)) {
    Type = std::stoi(text);
    return true;
  }
  const int fd = ::open(Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno != EIO) return false;
    Type = PORT_UNKNOWN;  // the serial core refuses to open a port without a UART
    return true;
  }
  serial_struct info{};
  const bool ok = ::ioctl(fd, TIOCGSERIAL, &info) == 0;
  ::close(fd);
  if (ok) Type = info.type;
  return ok;
}

// The USB manufacturer and product of the device a tty hangs from, or empty.
std::string UsbDescription(const fs::path& SysEntry) {
  const fs::path dir = UsbDeviceFolder(SysEntry);
  if (dir.empty()) return {};
  const std::string maker = ReadSysfsLine(dir / "manufacturer");
  const std::string product = ReadSysfsLine(dir / "product");
  if (maker.empty()) return product;
  if (product.empty() || product.compare(0, maker.size(), maker) == 0)
    return product.empty() ? maker : product;
  return maker + " " + product;
}

// The name under which the by-id folder lists `Device`, or empty.
std::string ByIdName(const fs::path& ByIdDir, const fs::path& Device) {
  std::error_code ec;
  const fs::path target = fs::canonical(Device, ec);
  if (ec) return {};
  for (fs::directory_iterator it(ByIdDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code link_ec;
    if (fs::canonical(it->path(), link_ec) == target && !link_ec)
      return it->path().filename().string();
  }
  return {};
}

std::string UserName() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : "this user";
}

// The group that owns the device, or dialout when it cannot be told.
std::string DeviceGroup(const std::string& Path, gid_t& Gid) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) == 0 && st.st_gid != 0) {
    if (const group* g = ::getgrgid(st.st_gid)) {
      Gid = st.st_gid;
      return g->gr_name;
    }
  }
  if (const group* g = ::getgrnam("dialout")) {
    Gid = g->gr_gid;
    return g->gr_name;
  }
  return {};
}

std::string ExplainPermission(const std::string& Path) {
  gid_t gid = 0;
  const std::string group_name = DeviceGroup(Path, gid);
  const std::string denied = "permission denied on " + Path;
  if (group_name.empty()) return denied;
  // In this login session: the process's groups.
  bool in_session = ::getgid() == gid || ::getegid() == gid;
  const int n = ::getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
      in_session = in_session || groups[i] == gid;
  }
  if (in_session) return denied + " although this session is in group " + group_name;
  // In the group database: the user may have been added after logging in.
  const std::string user = UserName();
  bool in_database = false;
  if (const passwd* pw = ::getpwuid(::getuid())) in_database = pw->pw_gid == gid;
  if (const group* g = ::getgrgid(gid)) {
    for (char** m = g->gr_mem; m && *m; ++m)
      in_database = in_database || user == *m;
  }
  if (in_database) {
    return denied + ": " + user + " is in group " + group_name +
           ", but this login session is not yet; log out and in again";
  }
  return denied + ": " + user + " is not in group " + group_name + "; run `sudo usermod -a -G " +
         group_name + " $USER`, then log out and in again";
}

}  // namespace

std::string ReadSysfsLine(const fs::path& File) {
  std::ifstream in(File);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

fs::path UsbDeviceFolder(const fs::path& SysEntry) {
  std::error_code ec;
  fs::path dir = fs::canonical(SysEntry / "device", ec);
  if (ec) return {};
  for (int level = 0; level < 6 && dir.has_relative_path(); ++level, dir = dir.parent_path())
    if (fs::exists(dir / "idVendor", ec)) return dir;
  return {};
}

std::vector<TPortInfo> EnumerateSerialPortsIn(const std::string& SysClassTty,
                                              const std::string& DevDir,
                                              const std::string& ByIdDir) {
  struct TFound {
    int Family;
    long Number;
    TPortInfo Info;
  };
  std::vector<TFound> found;
  std::error_code ec;
  for (fs::directory_iterator it(SysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    int family = 0;
    long number = 0;
    if (!Classify(name, family, number)) continue;
    std::error_code entry_ec;
    const fs::path real = fs::canonical(it->path(), entry_ec);
    if (entry_ec || real.string().find("/virtual/") != std::string::npos) continue;
    if (!fs::exists(it->path() / "device", entry_ec)) continue;
    const fs::path device = fs::path(DevDir) / name;
    int type = 0;
    if (family == 0 && UartType(it->path(), device, type) && type == PORT_UNKNOWN) continue;
    TPortInfo info;
    info.Path = device.string();
    info.Description = UsbDescription(it->path());
    if (info.Description.empty()) info.Description = ByIdName(ByIdDir, device);
    found.push_back({family, number, info});
  }
  std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
    return std::tie(a.Family, a.Number) < std::tie(b.Family, b.Number);
  });
  std::vector<TPortInfo> ports;
  for (TFound& f : found) {
    f.Info.Number = static_cast<int>(ports.size()) + 1;
    ports.push_back(f.Info);
  }
  return ports;
}

std::vector<TPortInfo> EnumerateSerialPorts() {
  return EnumerateSerialPortsIn("/sys/class/tty", "/dev", "/dev/serial/by-id");
}

std::string SystemPortPath(std::uint8_t Port) {
  for (const TPortInfo& p : EnumerateSerialPorts())
    if (p.Number == Port) return p.Path;
  return {};
}

std::unique_ptr<SerialBackend> OpenSerialPath(const std::string& Path, int& Error) {
  return TermiosBackend::Open(Path, Error);
}

std::string ExplainOpenFailure(const std::string& Path, int Error) {
  switch (Error) {
    case EACCES:
    case EPERM:
      return ExplainPermission(Path);
    case EBUSY:
      return Path + " is in use by another program";
    case ENOENT:
      return Path + " does not exist (is the adapter plugged in?)";
    case ENXIO:
    case ENODEV:
      return Path + " has no device behind it (is the adapter plugged in?)";
    case ENOTTY:
      return Path + " is not a serial port";
    case EISDIR:
      return Path + " is a folder, not a serial port";
    case EIO:
      return Path + ": input/output error (no hardware behind the port?)";
    default:
      return Path + ": " + std::strerror(Error);
  }
}

}  // namespace zo
