// The settings model of the fuzz targets that need one: built once per process on the built-in
// table of versions, written as VERSION.DAT into the process's folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/VersionTable.h"
#include "fuzz/FuzzSupport.h"
#include "settings/Settings.h"
#include "settings/VersionFile.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

namespace zo::fuzz {

inline void BuildSettingsModel() {
  static const bool built = [] {
    static PlainMainThread main_thread;
    SetMainThread(&main_thread);
    test::VirtualClock clock;
    const auto& table = BuiltInVersionRecords();
    const std::string file =
        EncodeVersionFile(std::vector<TVersion::TRecord>(table.begin(), table.end()));
    SetVersionFileFolder(Folder());
    WriteFile(File("VERSION.DAT"), file.data(), file.size());
    std::string error;
    InitSettings(error);
    if (!error.empty() || VersionList.empty()) std::abort();
    return true;
  }();
  (void)built;
}

// Builds the model and makes current the version that the input's first two bytes choose (an
// index into the table), named as the window names it.
inline void SelectInputVersion(const std::uint8_t* Data) {
  BuildSettingsModel();
  const std::size_t index = (Data[0] | (Data[1] << 8)) % VersionList.size();
  SelectVersion(VersionList[index]->Items(0));
  std::string name;
  GetDeviceTypeName(name);
}

}  // namespace zo::fuzz
