#include "serial/PortInfo.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>

#include "serial/PortNames.h"

namespace zo {

namespace fs = std::filesystem;

namespace {

// Major numbers of pseudo-terminal slaves (UNIX98_PTY_SLAVE_MAJOR and the seven after it).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

int ReadInt(const fs::path& File) {
  const std::string text = ReadSysfsLine(File);
  if (text.empty() || text.size() > 6 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c) != 0; }))
    return -1;
  return std::stoi(text);
}

// The port's name without its number: ttyUSB0 -> ttyUSB.
std::string Family(const std::string& Name) {
  std::size_t end = Name.size();
  while (end > 0 && std::isdigit(static_cast<unsigned char>(Name[end - 1])))
    --end;
  return Name.substr(0, end);
}

// Major and minor of a kernel release such as "6.1.0-18-amd64"; false when it does not start so.
bool KernelVersion(const std::string& Release, int& Major, int& Minor) {
  return std::sscanf(Release.c_str(), "%d.%d", &Major, &Minor) == 2;
}

std::string GroupName(gid_t Gid) {
  if (const group* g = ::getgrgid(Gid)) return g->gr_name;
  return "number " + std::to_string(Gid);
}

// Whether the group database lists `User` in group `Gid` (as primary or supplementary group).
bool InGroupDatabase(const std::string& User, gid_t Gid) {
  if (User.empty()) return false;
  if (const passwd* pw = ::getpwnam(User.c_str()); pw && pw->pw_gid == Gid) return true;
  if (const group* g = ::getgrgid(Gid)) {
    for (char** m = g->gr_mem; m && *m; ++m)
      if (User == *m) return true;
  }
  return false;
}

// Why `System`'s user may not read and write the device node, or empty when it may.
std::string PermissionObstacle(const TPortSystem& System, const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return Path + " does not exist";
  if (System.Uid == 0) return {};
  const mode_t mode = st.st_mode;
  const bool in_group =
      std::find(System.Groups.begin(), System.Groups.end(), st.st_gid) != System.Groups.end();
  bool allowed;
  if (st.st_uid == System.Uid) {
    allowed = (mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR);
  } else if (in_group) {
    allowed = (mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  } else {
    allowed = (mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
  }
  if (allowed) return {};
  const bool group_would = (mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (!in_group && group_would) {
    const std::string name = GroupName(st.st_gid);
    if (InGroupDatabase(System.UserName, st.st_gid))
      return "in group " + name + ", but not yet in this login session: log out and in again";
    return "not in group " + name + ": sudo usermod -a -G " + name +
           " $USER, then log out and in again";
  }
  return "no permission to read and write " + Path;
}

// The processes and what they have open, from /proc.
struct TProcesses {
  std::map<std::string, std::vector<TPortHolder>> ByFile;  // open file -> its holders
  bool ModemManager = false;
  int Unreadable = 0;  // processes whose open files could not be listed
};

TProcesses ScanProcesses(const std::string& Proc) {
  TProcesses found;
  std::error_code ec;
  for (fs::directory_iterator it(Proc, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string pid_text = it->path().filename().string();
    if (pid_text.empty() || pid_text.size() > 9 ||
        !std::all_of(pid_text.begin(), pid_text.end(), [](char c) { return std::isdigit(c); }))
      continue;
    const TPortHolder holder{std::stol(pid_text), ReadSysfsLine(it->path() / "comm")};
    if (holder.Command == "ModemManager") found.ModemManager = true;
    std::error_code fd_ec;
    fs::directory_iterator fds(it->path() / "fd", fd_ec);
    if (fd_ec) {
      if (fs::exists(it->path(), fd_ec)) ++found.Unreadable;  // not one that just ended
      continue;
    }
    for (fs::directory_iterator end_fd; !fd_ec && fds != end_fd; fds.increment(fd_ec)) {
      std::error_code link_ec;
      const fs::path target = fs::read_symlink(fds->path(), link_ec);
      if (link_ec) continue;
      auto& holders = found.ByFile[target.string()];
      if (holders.empty() || holders.back().Pid != holder.Pid) holders.push_back(holder);
    }
  }
  return found;
}

// The by-id folder: each link's target -> its name. Links pointing nowhere become notes.
std::map<std::string, std::string> ScanById(const std::string& ById,
                                            std::vector<std::string>& Notes) {
  std::map<std::string, std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(ById, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code link_ec;
    const fs::path target = fs::canonical(it->path(), link_ec);
    if (link_ec) {
      std::error_code read_ec;
      const fs::path link = fs::read_symlink(it->path(), read_ec);
      Notes.push_back(it->path().string() + " points to " +
                      (read_ec ? std::string("nothing readable") : link.string()) +
                      ", which does not exist (an adapter pulled out?)");
      continue;
    }
    names[target.string()] = it->path().filename().string();
  }
  return names;
}

void ReadUsb(const fs::path& SysEntry, TPortDetails& Port) {
  const fs::path usb = UsbDeviceFolder(SysEntry);
  if (usb.empty()) return;
  Port.UsbVendor = ReadSysfsLine(usb / "idVendor");
  Port.UsbProduct = ReadSysfsLine(usb / "idProduct");
  Port.Product = ReadSysfsLine(usb / "product");
}

// The driver of the device behind the tty. Since Linux 6.5 a serial port's device belongs to
// the serial core's own bus (serial-base, drivers "port" and "ctrl"): the UART's driver sits
// on an ancestor.
std::string DriverName(const fs::path& SysEntry) {
  std::error_code ec;
  fs::path dir = fs::canonical(SysEntry / "device", ec);
  for (int level = 0; !ec && level < 4 && dir.has_relative_path(); ++level) {
    std::error_code link_ec;
    const fs::path link = fs::read_symlink(dir / "driver", link_ec);
    if (!link_ec && link.parent_path().parent_path().filename() != "serial-base")
      return link.filename().string();
    dir = dir.parent_path();
  }
  return {};
}

}  // namespace

TPortSystem TPortSystem::Live() {
  TPortSystem s;
  s.Uid = ::getuid();
  s.Groups.push_back(::getgid());
  const int n = ::getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
      s.Groups.push_back(groups[i]);
  }
  if (const passwd* pw = ::getpwuid(s.Uid)) s.UserName = pw->pw_name;
  return s;
}

TDl1Verdict Dl1VerdictFor(const std::string& Family, const std::string& Driver,
                          const std::string& KernelRelease, int LatencyTimerMs,
                          std::string& Reason) {
  if (Family == "ttyS") {
    Reason = "an 8250/16550 UART flags parity errors on single bytes";
    return TDl1Verdict::Suits;
  }
  if (Driver == "cp210x") {
    int major = 0, minor = 0;
    if (!KernelVersion(KernelRelease, major, minor)) {
      Reason =
          "cp210x flags single bytes since Linux 5.9, and the kernel's release is not known; "
          "run check-port";
      return TDl1Verdict::NotKnown;
    }
    if (major > 5 || (major == 5 && minor >= 9)) {
      Reason = "cp210x flags parity errors on single bytes since Linux 5.9";
      return TDl1Verdict::Suits;
    }
    Reason = "cp210x flags parity errors on single bytes only since Linux 5.9 (this is " +
             KernelRelease + ")";
    return TDl1Verdict::Unsuitable;
  }
  if (Driver == "ftdi_sio") {
    if (LatencyTimerMs == 1) {
      Reason = "ftdi_sio flags errors per USB packet, one byte with the 1 ms latency timer now set";
      return TDl1Verdict::Suits;
    }
    Reason =
        "ftdi_sio flags errors per USB packet: byte-exact only with the 1 ms latency timer "
        "of low-latency mode";
    return TDl1Verdict::SuitsWithLowLatency;
  }
  Reason = Driver.empty() ? "driver not known, run check-port" : "not known, run check-port";
  return TDl1Verdict::NotKnown;
}

TPortReport GatherPortDetails(const TPortSystem& System) {
  TPortReport report;
  const std::map<std::string, std::string> by_id = ScanById(System.ById, report.Notes);
  const TProcesses processes = ScanProcesses(System.Proc);
  const std::string release = ReadSysfsLine(fs::path(System.Proc) / "sys" / "kernel" / "osrelease");

  for (const TPortInfo& p : EnumerateSerialPortsIn(System.SysClassTty, System.Dev, System.ById)) {
    TPortDetails d;
    d.Number = p.Number;
    d.Path = p.Path;
    d.Name = fs::path(p.Path).filename().string();
    const fs::path entry = fs::path(System.SysClassTty) / d.Name;
    const std::string family = Family(d.Name);

    std::error_code ec;
    const fs::path real = fs::canonical(d.Path, ec);
    if (!ec) {
      if (const auto it = by_id.find(real.string()); it != by_id.end()) d.ById = it->second;
    }
    ReadUsb(entry, d);
    d.Driver = DriverName(entry);
    d.LatencyTimerMs = ReadInt(entry / "device" / "latency_timer");
    if (d.Driver == "ftdi_sio")
      d.LowLatency = "yes";
    else if (family == "ttyS")
      d.LowLatency = "not needed";
    else
      d.LowLatency = "unknown";
    d.Dl1 = Dl1VerdictFor(family, d.Driver, release, d.LatencyTimerMs, d.Dl1Reason);

    if (std::string why = PermissionObstacle(System, d.Path); !why.empty())
      d.Obstacles.push_back(why);
    for (const std::string& file : {d.Path, ec ? std::string() : real.string()}) {
      const auto it = processes.ByFile.find(file);
      if (file.empty() || it == processes.ByFile.end()) continue;
      for (const TPortHolder& h : it->second) {
        const bool listed = std::any_of(d.Holders.begin(), d.Holders.end(),
                                        [&](const TPortHolder& o) { return o.Pid == h.Pid; });
        if (listed) continue;
        d.Holders.push_back(h);
        d.Obstacles.push_back("held by " + (h.Command.empty() ? "a process" : h.Command) +
                              " (pid " + std::to_string(h.Pid) + ")");
      }
    }
    d.MayOpen = d.Obstacles.empty();
    d.ModemManagerMayProbe = processes.ModemManager && (family == "ttyUSB" || family == "ttyACM");
    if (d.ModemManagerMayProbe)
      d.Obstacles.push_back("ModemManager is running and may probe it after plug-in");
    report.Ports.push_back(d);
  }
  if (processes.Unreadable > 0) {
    report.Notes.push_back("the open files of " + std::to_string(processes.Unreadable) +
                           " processes of other users could not be read: a port they hold is "
                           "not named (run as root to see them)");
  }
  return report;
}

bool IsPseudoTerminal(const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = ::major(st.st_rdev);
  return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

}  // namespace zo
