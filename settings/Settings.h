// The settings model: everything the program knows about the connected device.
//
// - SettingTable: the 25 device quantities, numbered 1 to 25. 1 to 7 are the live monitor values,
//   8 to 23 the user settings, 24 and 25 the two flag bytes that hold the option bits.
// - MonitorList: the monitor values in the order the bus thread polls them.
// - VersionList: the supported device software versions read from VERSION.DAT; CurrentVersion:
//   the version of the connected (or overruled) target, with the rules it brings: which
//   quantities exist and where, where each option bit lives, bounds, defaults and capabilities.
//
// Everything here runs on the user-interface thread. The one exception: the bus thread calls
// ReadFrom on the settings of MonitorList and hands their texts to the user-interface thread
// (TMonitorSetting::ShowValue) through a synchronised call. SelectVersion, ReadSettings and
// WriteSettings run only while the bus thread is paused. There are no locks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivers/ExtendedBusdrv.h"
#include "settings/variable.h"

namespace zo {

// Setting numbers.
enum : int {
  SettingUMains = 1,
  SettingIMains = 2,
  SettingUInverter = 3,
  SettingIInverter = 4,
  SettingUdc = 5,
  SettingUdcRipple = 6,
  SettingIdc = 7,
  SettingAbsorptionVoltage = 8,
  SettingFloatVoltage = 9,
  SettingChargeCurrent = 10,
  SettingInverterOutput = 11,
  SettingShoreCurrent = 12,
  SettingRepeatedAbsorptionTime = 13,
  SettingRepeatedAbsorptionInterval = 14,
  SettingLowBatteryAlarm = 15,
  SettingHighBatteryAlarm = 16,
  SettingAbsorptionTime = 17,
  SettingChargeCharacteristic = 18,
  SettingDeviceKind = 19,
  SettingDCShutDown = 20,
  SettingDCRestart = 21,
  SettingSlaves = 22,
  SettingPhaseMode = 23,
  SettingFlagsA = 24,
  SettingFlagsB = 25,
};

// Items of a version record: 0 the version number, 1 to 25 the settings' addresses, 26 to 40 the
// option flags (named here), then the markers and limits.
enum : int {
  ItemVersion = 0,
  FlagMultiPhase = 26,
  FlagLeader = 27,
  FlagFrequency60Hz = 28,
  FlagStopAfterBulk = 29,
  FlagPeakFeed = 30,
  FlagChargerOff = 31,
  FlagAlarmRelayPolarity = 32,
  FlagMultiPhaseCapable = 33,
  FlagWaveShapeOff = 34,
  FlagAESOff = 35,
  FlagLowRippleOff = 36,
  FlagHighRippleOff = 37,
  FlagStorageMode = 38,
  FlagAbsorptionFromBulk = 39,
  FlagGroundRelayOff = 40,
  ItemMultiPhaseRule = 41,
  ItemMultiPhaseGroup = 42,
  ItemPeakFeed = 43,
  ItemChargeCharacteristics = 44,
  ItemStorageStage = 45,
  ItemMaxChargeCurrent = 46,
};

// A device quantity of the settings model. A setting is present when its Address is not $FFFF;
// reading or writing one that is not present succeeds at once without bus traffic.
class TSetting : public TVariable {
 public:
  // As TVariable, but ReadFailed starts False (a setting that was never read shows its value).
  explicit TSetting(const std::string& Definition);

  bool IsPresent() const { return Address != 0xFFFF; }
  bool ReadFrom(TBusDriver* Driver) override;
  bool WriteTo(TBusDriver* Driver) override;
};

// Where a monitor value is shown: the window's status label or a command-line line.
class TValueLabel {
 public:
  virtual ~TValueLabel() = default;
  virtual void SetCaption(const std::string& Text) = 0;
};

// One monitor value the bus thread polls, and the label that shows it. Owns neither.
class TMonitorSetting {
 public:
  TMonitorSetting(TSetting* Setting, TValueLabel* ValueLabel, std::string LabelName);

  // User-interface thread: puts Setting's AsText into ValueLabel; dropped while none is bound.
  void ShowValue() const;

  TValueLabel* ValueLabel;
  TSetting* Setting;
  std::string LabelName;  // the window label's name, such as "UBatRippleStatusLabel"
};

// One supported software version: one VERSION.DAT record of 47 signed 32-bit items (-1 marks what
// the version lacks).
class TVersion {
 public:
  static constexpr int ItemCount = 47;
  using TRecord = std::array<std::int32_t, ItemCount>;

  TVersion() = default;
  explicit TVersion(const TRecord& Record);

  // Item I; the index is reduced modulo 128. Indices 47 to 127 hold no file data: they read 0
  // unless written.
  std::int32_t& Items(int I) { return items_[static_cast<unsigned>(I) % 128u]; }
  std::int32_t Items(int I) const { return items_[static_cast<unsigned>(I) % 128u]; }

  // Items 0 to 46, in file order.
  TRecord Record() const;

 private:
  std::array<std::int32_t, 128> items_{};
};

// The 25 settings, numbered 1 to 25 (built by InitSettings, freed by DoneSettings).
class TSettingTable {
 public:
  static constexpr int Count = 25;

  // Setting `Number` (1 to 25). Throws std::out_of_range for another number or while the table
  // is not built.
  TSetting& operator[](int Number) const;
  bool Built() const { return settings_[0] != nullptr; }

 private:
  friend void InitSettings(std::string& ErrorText);
  friend void DoneSettings();
  std::array<std::unique_ptr<TSetting>, Count> settings_;
};

extern TSettingTable SettingTable;
extern std::vector<std::unique_ptr<TMonitorSetting>> MonitorList;
extern std::vector<std::unique_ptr<TVersion>> VersionList;  // in file order
extern TVersion* CurrentVersion;  // an entry of VersionList, or nullptr (none)
extern bool IsInverterOnly;       // family 15 or 17 without charger; set by ReadSettings
extern bool Is12VoltSystem;       // set by GetDeviceTypeName
extern std::int32_t BoundMin, BoundMax, BoundDefault;  // raw, left by the last GetBounds

// The folder InitSettings reads VERSION.DAT (or version.dat) from; empty (the default) means the
// folder of the running executable. For tests and tools.
void SetVersionFileFolder(const std::string& Folder);

// Builds SettingTable, MonitorList (labels unbound) and VersionList, and reads VERSION.DAT.
// ErrorText is empty on success (also after converting an older file, which shows an information
// box), otherwise one of the "Fatal error:" texts, which end the program. CurrentVersion is none
// afterwards. Calling it again first frees what an earlier call built.
void InitSettings(std::string& ErrorText);

// Frees the settings, MonitorList and VersionList; CurrentVersion becomes none. After the bus
// thread has ended.
void DoneSettings();

// Binds the label of the monitor entry whose LabelName is `Name` (nullptr unbinds). False when no
// entry has that name.
bool BindMonitorLabel(const std::string& Name, TValueLabel* Label);

// Makes the first record with version number `Number` current (none when there is no such record)
// and applies its addresses: a present setting gets its item's address (plus $2100 for settings 8
// to 25 except 19 on family 17) and Value 0 (setting 19: 128); a setting the version lacks gets
// $FFFF and keeps its value. True when a record was found.
bool SelectVersion(std::int32_t Number);

// What a caller may add to ReadSettings and WriteSettings (the command line's Ctrl+C): `Stop`,
// asked before each setting and before the commit frame, ends the sequence there exactly as a
// failure would (logged as "stopped before ..."); `Done` hears of each present setting whose
// read or write succeeded, in order.
struct TSettingsSteps {
  std::function<bool()> Stop;
  std::function<void(int Setting)> Done;
};

// Reads settings 8 to 25, up to 4 tries each (each up to 500 ms); the first setting that fails 4
// times ends the read. Then sets IsInverterOnly from setting 19. True when all were read.
bool ReadSettings(TBusDriver* Driver, const TSettingsSteps& Steps = {});

// Writes settings 8 to 24 except 19, then 25 with the commit, up to 4 tries each (each frame up to
// 500 ms); the first failure ends the sequence. On family 17 the commit frame goes out once, after
// the last setting (also when the version lacks setting 25). True when every write succeeded.
bool WriteSettings(TBusDriver* Driver, const TSettingsSteps& Steps = {});

// Option flags 26 to 40. Without CurrentVersion, for an option the version lacks, or for another
// item number, GetFlag is False and SetFlag does nothing.
bool GetFlag(std::uint8_t Item);
void SetFlag(std::uint8_t Item, bool Value);

// From item 0 of CurrentVersion (decimal digits FF MM xxx); -1 without CurrentVersion.
std::int32_t DeviceFamily();
std::int32_t DeviceModel();

// Capability tests of the current version; False without one unless noted.
bool HasFrequency();
bool HasInverter();
bool HasCharger();  // also True without CurrentVersion
bool HasChargerSwitch();
bool HasAES();
bool HasPeakFeed();
bool HasSlaveCount();
bool HasMultiPhase();
bool HasPhaseModes();
bool HasGroundRelay();
bool HasWaveShape();
bool HasCellGuard();
bool HasShoreCurrent();
bool HasStopAfterBulk();
bool HasStorageMode();
bool HasAlarmRelay();
bool HasDCLowLevels();
bool HasLowRippleProtection();
bool HasHighRippleProtection();
bool HasAbsorptionCalculation();
bool CurveHasStorageStage();

// Fills BoundMin, BoundMax and BoundDefault (raw) for setting `Setting`; 0, 0, 0 for a number
// without bounds. The limits from the version record (settings 10 and 18) are 0 without
// CurrentVersion. Expects GetDeviceTypeName to have run for the current version.
void GetBounds(std::uint8_t Setting);

// Every setting (8 to 23 except 19) and option to its default; nothing without CurrentVersion.
void SetDefaults();

// Battery presets: 0 gel, 1 traction, 2 semi-traction, 3 Marlo (absorption and float voltage,
// absorption time; the voltages doubled on 24 V models). Other types change nothing.
void SetBatteryDefaults(std::uint8_t BatteryType);

// The device type text of the current version, such as "Corvane Inverter 230Vac 24H" (empty when
// nothing matches). With a current version it also sets Is12VoltSystem and the scale of setting
// 12 (0.1, or 0.2 on models 30 to 32 and 40 to 42). Run after ReadSettings.
void GetDeviceTypeName(std::string& Name);

}  // namespace zo
