// Two sets of settings side by side: each taken down from the settings model while it held them
// (a device just read, a loaded file, the defaults), then compared setting by setting.
//
// A side records what the model showed: the names, units and texts of the settings the version
// has (8 to 23 except the device kind) and of its options (except the read-only multi-phase
// capability), with their engineering values and bounds. Sides are plain values: they outlive the
// model's later changes, so one side can be taken down, the model loaded anew, and the other taken
// down after it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zo {

// One setting or option of a side.
struct TComparedSetting {
  int Number = 0;         // setting 8 to 23, or option item 26 to 40
  const char* Key = "";   // "absorption_voltage", as --json names it
  const char* Name = "";  // "Absorption voltage"
  const char* Unit = "";  // "V"; "" for a count, a choice or an option
  std::string Text;       // "28.80 V", "2 (Adaptive)", "off"
  long double Value = 0;  // engineering value; 1 (set) or 0 for an option
  std::string Min, Max;   // the bounds as texts; empty for an option
  long double MinValue = 0, MaxValue = 0;
  bool IsOption() const { return Number >= 26; }
};

// One side as the settings model held it.
struct TSettingsSide {
  std::string Source;  // "the device on COM1", a file name, "the defaults"
  std::int32_t Version = 0;
  std::string DeviceType;  // empty when the table names none
  int Volts = 24;
  std::vector<TComparedSetting> Entries;  // settings in number order, then options
  std::vector<std::string> Warnings;      // what loading it reported, one line each

  const TComparedSetting* Find(int Number) const;
  // "<source> is software version <n> (<device type>)".
  std::string Describe() const;
};

// The settings and options of the current version as they stand now (runs GetBounds and
// GetDeviceTypeName). An empty side (version 0, no entries) without a current version.
TSettingsSide TakeDownSettings(const std::string& Source);

// What two sides differ in.
struct TSettingsDiff {
  // Different versions or voltage classes, each side's own warnings, the values of each side
  // outside the bounds of its own version, and the values of one side that the other's bounds
  // would correct (checked only within one voltage class: across classes every voltage would be
  // converted, not corrected). Values are compared as they stand, whatever their bounds.
  std::vector<std::string> Warnings;
  std::vector<std::pair<TComparedSetting, TComparedSetting>> Changed;  // first, second
  std::vector<TComparedSetting> OnlyInFirst, OnlyInSecond;
  bool Equal() const { return Changed.empty() && OnlyInFirst.empty() && OnlyInSecond.empty(); }
};

// Compares the engineering values of the settings both sides have (equal within the rounding of
// their arithmetic), in the order of `First`, then lists what only one side has.
TSettingsDiff CompareSettings(const TSettingsSide& First, const TSettingsSide& Second);

}  // namespace zo
