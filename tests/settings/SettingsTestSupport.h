// Helpers of the settings tests: a driver with scripted, immediate results, a temporary folder,
// file helpers, and the settings model built on a chosen VERSION.DAT.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/VersionTable.h"
#include "drivers/ExtendedBusdrv.h"
#include "settings/AtomicFile.h"
#include "settings/Settings.h"
#include "settings/VersionFile.h"
#include "sim/SimDevice.h"
#include "tests/support/FakeDriver.h"

namespace zo::test {

// A driver whose Send and Request answer at once from functions, recording every frame in order.
// Its thread never runs, so a failure costs no time-out.
class ScriptDriver final : public TBusDriver {
 public:
  struct Traffic {
    bool IsRequest;
    TBusFrame Frame;
  };
  // The reply to a request (bytes 0 to 2 are copied), or nothing: the request fails.
  std::function<std::optional<TBusFrame>(const TBusFrame&)> OnRequest;
  // The result of a Send; all succeed while unset.
  std::function<bool(const TBusFrame&)> OnSend;
  std::vector<Traffic> Log;
  std::uint8_t Default = 0;

  ScriptDriver() : TBusDriver(true) {}

  bool Send(TBusFrame& Frame) override {
    Log.push_back({false, Frame});
    return OnSend ? OnSend(Frame) : true;
  }
  bool Request(TBusFrame& Frame) override {
    Log.push_back({true, Frame});
    const std::optional<TBusFrame> reply = OnRequest ? OnRequest(Frame) : std::nullopt;
    if (!reply) return false;
    for (int i = 0; i < 3; ++i)
      Frame[i] = (*reply)[i];
    return true;
  }
  bool PutFrame(const TBusFrame&) override { return false; }
  bool GetFrame(TBusFrame&) override { return false; }
  std::uint8_t GetPortNumber() override { return 1; }
  std::uint8_t GetAddress() override { return Default; }
  void SetAddress(std::uint8_t Value) override { Default = Value; }

  std::vector<TBusFrame> Sent() const {
    std::vector<TBusFrame> frames;
    for (const Traffic& t : Log)
      if (!t.IsRequest) frames.push_back(t.Frame);
    return frames;
  }
  int CommitFrames() const {
    int n = 0;
    for (const TBusFrame& f : Sent())
      if (f[0] == 0x0B && f[1] == 0xFF && f[2] == 0xFF) ++n;
    return n;
  }

 protected:
  void Execute() override {}
};

// A fresh folder under the system's temporary folder, removed with its files afterwards (also
// files and a folder made read-only).
class TempFolder {
 public:
  TempFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    for (unsigned n = static_cast<unsigned>(std::rand()); path_.empty(); ++n) {
      const fs::path folder = base / ("zo-settings-" + std::to_string(n % 1000000));
      if (fs::create_directory(folder, ec)) path_ = folder.generic_string();
      if (ec) break;
    }
  }
  ~TempFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const std::string& f : Files())
      fs::permissions(File(f), fs::perms::owner_read | fs::perms::owner_write,
                      fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // The names in the folder, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
      names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

// Makes AtomicWriteFile fail at `Step`, as an I/O error would. A failing Create also fails the
// in-place write that would follow it, so that the whole save fails.
inline void FailAtomicStep(TAtomicStep Step) {
  SetAtomicWriteFailureHook([Step](TAtomicStep At) {
    return At != Step && !(Step == TAtomicStep::Create && At == TAtomicStep::InPlace);
  });
}

inline void WriteBytes(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// The bytes of a regular file; empty for anything else (a pipe would block).
inline std::string ReadBytes(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return "";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<TVersion::TRecord> BuiltInRecords() {
  const auto& table = BuiltInVersionRecords();
  return {table.begin(), table.end()};
}

// A record that lacks everything but its version number.
inline TVersion::TRecord BareRecord(std::int32_t version) {
  TVersion::TRecord r;
  r.fill(-1);
  r[0] = version;
  return r;
}

// A built-in record by version number (the test fails when the table lacks it).
inline TVersion::TRecord BuiltIn(std::int32_t version) {
  const auto* r = FindBuiltInVersion(version);
  if (r == nullptr) {
    ADD_FAILURE() << "the version table lacks " << version;
    return BareRecord(version);
  }
  return *r;
}

// The older kind of a VERSION.DAT listing `Records`: its check record is the plain column sum.
inline std::string OlderKind(const std::vector<TVersion::TRecord>& Records) {
  std::string data = EncodeVersionFile(Records);
  for (std::size_t j = 0; j < static_cast<std::size_t>(TVersion::ItemCount); ++j) {
    std::uint32_t v = 0;
    for (int b = 3; b >= 0; --b)
      v = (v << 8) | static_cast<std::uint8_t>(data[4 * j + static_cast<std::size_t>(b)]);
    --v;
    for (int b = 0; b < 4; ++b)
      data[4 * j + static_cast<std::size_t>(b)] = static_cast<char>((v >> (8 * b)) & 0xFF);
  }
  return data;
}

// Builds the settings model on a VERSION.DAT in its own folder. The folder setting is restored
// and the model freed at the end.
class SettingsModel {
 public:
  explicit SettingsModel(const std::vector<TVersion::TRecord>& records = BuiltInRecords()) {
    WriteBytes(VersionFile(), EncodeVersionFile(records));
    SetVersionFileFolder(folder_.Path());
    InitSettings(error_);
  }
  ~SettingsModel() {
    DoneSettings();
    SetVersionFileFolder("");
  }
  const std::string& Error() const { return error_; }
  std::string VersionFile() const { return folder_.File("VERSION.DAT"); }
  const TempFolder& Folder() const { return folder_; }

  // Selects `version` and names the device, as the window does after a read.
  static void Select(std::int32_t version) {
    SelectVersion(version);
    std::string name;
    GetDeviceTypeName(name);
  }

 private:
  TempFolder folder_;
  std::string error_;
};

// A FakeDriver whose device is a simulated device (its thread really transmits).
class SimBus {
 public:
  explicit SimBus(const sim::TSimDeviceConfig& config)
      : device_(config), driver_(new FakeDriver([this](const TBusFrame& f) {
          const auto reply = device_.Handle(f[3], {f[0], f[1], f[2]});
          return reply ? std::optional<TBusFrame>(
                             TBusFrame{(*reply)[0], (*reply)[1], (*reply)[2], f[3]})
                       : std::nullopt;
        })) {}
  ~SimBus() { driver_->Stop(); }
  sim::SimDevice& Device() { return device_; }
  FakeDriver* Driver() { return driver_; }

 private:
  sim::SimDevice device_;
  FakeDriver* driver_;
};

}  // namespace zo::test
