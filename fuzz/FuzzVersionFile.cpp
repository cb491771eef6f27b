// VERSION.DAT on any bytes: reading (with the in-place conversion of an older file), then every
// use of the records it lists: selecting each version, naming it, its bounds, defaults, flags and
// capabilities. A file that was read without error reads without error again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "settings/Settings.h"
#include "settings/VersionFile.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;

namespace {

void UseCurrentVersion() {
  std::string name;
  GetDeviceTypeName(name);
  for (int s = 1; s <= 25; ++s)
    GetBounds(static_cast<std::uint8_t>(s));
  SetDefaults();
  for (int b = 0; b < 4; ++b)
    SetBatteryDefaults(static_cast<std::uint8_t>(b));
  for (int item = 26; item <= 40; ++item) {
    SetFlag(static_cast<std::uint8_t>(item), true);
    (void)GetFlag(static_cast<std::uint8_t>(item));
  }
  (void)(HasFrequency() + HasInverter() + HasCharger() + HasChargerSwitch() + HasAES() +
         HasPeakFeed() + HasSlaveCount() + HasMultiPhase() + HasPhaseModes() + HasGroundRelay() +
         HasWaveShape() + HasCellGuard() + HasShoreCurrent() + HasStopAfterBulk() +
         HasStorageMode() + HasAlarmRelay() + HasDCLowLevels() + HasLowRippleProtection() +
         HasHighRippleProtection() + HasAbsorptionCalculation() + CurveHasStorageStage());
  for (int s = 1; s <= 25; ++s)
    (void)SettingTable[s].AsText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static PlainMainThread main_thread;
  SetMainThread(&main_thread);
  test::VirtualClock clock;  // the read's 10 ms pause passes at once
  SetVersionFileFolder(fuzz::Folder());
  const std::string path = fuzz::File("VERSION.DAT");
  fuzz::WriteFile(path, Data, Size);
  std::string error;
  InitSettings(error);
  if (error.empty()) {
    std::size_t used = 0;
    for (const auto& version : VersionList) {
      if (++used > 64) break;
      SelectVersion(version->Items(0));
      UseCurrentVersion();
    }
    SelectVersion(-1);
    InitSettings(error);
    if (!error.empty()) std::abort();  // converted or valid: the next start reads it cleanly
  }
  DoneSettings();
  return 0;
}
