// A copy of the layout of /sys/class/tty, /dev, /dev/serial/by-id and /proc in a temporary
// folder, for the port enumeration and the port details.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/PortInfo.h"

namespace zo::test {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& Path, const std::string& Text) {
  fs::create_directories(Path.parent_path());
  std::ofstream(Path) << Text << "\n";
}

class FakeSystem {
 public:
  FakeSystem()
      : root_(fs::path(::testing::TempDir()) / ("zo_ports_" + std::to_string(::getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(Tty());
    fs::create_directories(Dev());
    fs::create_directories(ById());
    fs::create_directories(Proc());
  }
  ~FakeSystem() { fs::remove_all(root_); }

  // A class entry pointing into the device tree at `DevicePath`; `Hardware` adds its device link.
  fs::path AddTty(const std::string& Name, const std::string& DevicePath, bool Hardware) {
    const fs::path dir = root_ / "devices" / DevicePath / "tty" / Name;
    fs::create_directories(dir);
    if (Hardware) fs::create_directory_symlink(root_ / "devices" / DevicePath, dir / "device");
    fs::create_directory_symlink(dir, Tty() / Name);
    WriteFile(Dev() / Name, "");
    return dir;
  }

  // A process with its command name and the files it holds open.
  void AddProcess(long Pid, const std::string& Command, const std::vector<fs::path>& Files) {
    const fs::path dir = Proc() / std::to_string(Pid);
    WriteFile(dir / "comm", Command);
    fs::create_directories(dir / "fd");
    int fd = 3;
    for (const fs::path& f : Files)
      fs::create_symlink(f, dir / "fd" / std::to_string(fd++));
  }

  // The folders of this copy, judged for `Uid` in `Groups`.
  TPortSystem System(unsigned Uid = 0, std::vector<unsigned> Groups = {}) const {
    TPortSystem s;
    s.SysClassTty = Tty().string();
    s.Dev = Dev().string();
    s.ById = ById().string();
    s.Proc = Proc().string();
    s.Uid = Uid;
    s.Groups = std::move(Groups);
    return s;
  }

  fs::path Tty() const { return root_ / "class_tty"; }
  fs::path Dev() const { return root_ / "dev"; }
  fs::path ById() const { return root_ / "dev" / "serial_by_id"; }
  fs::path Devices() const { return root_ / "devices"; }
  fs::path Proc() const { return root_ / "proc"; }

 private:
  fs::path root_;
};

}  // namespace zo::test
