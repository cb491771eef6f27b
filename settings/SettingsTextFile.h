// Settings as readable text: the user-changeable settings and option flags as lines that can be
// read, compared and kept in version control, and loaded again like a settings file.
//
//   # ZO configure settings
//   Device type = Corvane Multi 230Vac 24H
//   Software version = 1711104
//   System voltage = 24 V
//
//   Absorption voltage = 28.80 V
//   Charge characteristic = 2  # Adaptive
//   Charger = on
//
// One "Name = value unit" line per setting the version has (settings 8 to 23 except the device
// kind, by the names of SettingTexts), then one "Name = text" line per option flag the version
// has (except the read-only multi-phase capability), by the names and texts of FlagTexts. A '#'
// begins a comment, to the end of the line; blank lines are allowed. Names, units and option texts
// are matched without regard to case. A text holds no NUL byte, which every settings file (.zsf)
// does: that tells the two apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zo {

// The largest settings text that is read.
constexpr std::size_t MaxSettingsTextBytes = std::size_t{1} << 20;

// What a settings text says, before it is applied to a version.
struct TSettingsText {
  std::int32_t Version = -1;  // "Software version", -1 when the text names none
  std::string DeviceType;     // "Device type", as written (not checked)
  int Volts = 0;              // "System voltage": 12 or 24, 0 when the text names none
  std::vector<std::pair<int, long double>> Values;  // setting number, engineering value
  std::vector<std::pair<int, bool>> Flags;          // option item (26 to 40), set
};

// The settings of the current version as text (empty without a current version). Runs
// GetDeviceTypeName for the header.
std::string SettingsText();

// Writes SettingsText() to `FileName`, replacing an existing file in one step. `Message` is empty
// on success, otherwise "Error creating file: " + FileName; `Why` (when given) then says why in
// the system's words.
void SaveSettingsText(const std::string& FileName, std::string& Message,
                      std::string* Why = nullptr);

// Reads a settings text; a UTF-8 byte order mark before it is skipped. False at the first line that
// is not understood, with `Error` such as "line 7: unknown setting \"Absorption\"": a line without
// '=', an unknown name, a bad number, a unit that does not match, an option text that is neither of
// the option's two, a name given twice.
bool ParseSettingsText(const std::string& Text, TSettingsText& Parsed, std::string& Error);

// True when `Data` (the start of a file) is a settings text rather than a settings file: not
// empty and without a NUL byte.
bool IsSettingsText(const std::string& Data);

// Applies a parsed text to the settings model as loading a settings file does: each named setting
// from its engineering value (snapped to the nearest raw step), its voltage converted from the
// text's voltage class, and each named option; then every value clamped to the current version's
// bounds. Settings and options the text does not name keep their values. `Message` as for
// ClampLoadedSettings. With `Clamp` false the values stay as the text gives them (what diff
// compares), and `Message` stays empty.
void ApplySettingsText(const TSettingsText& Parsed, std::string& Message, bool Clamp = true);

// Reads `FileName` (opened read-only, at most 1 MB) and applies it. `Message` is empty, or a kind
// letter and the text: "ECannot open file: " + name, "E" + name + ", line n: ..." for a text that
// is not understood (the settings are then unchanged), or the information of ApplySettingsText.
void LoadSettingsText(const std::string& FileName, std::string& Message, bool Clamp = true);

// Loads `FileName` as a settings text or as a settings file, told apart by its content: the
// messages of LoadSettingsText or LoadSettingsFile. `Clamp` as for ApplySettingsText.
void LoadAnySettingsFile(const std::string& FileName, std::string& Message, bool Clamp = true);

}  // namespace zo
