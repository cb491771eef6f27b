// Settings files (".zsf"): the user-changeable settings and option flags, so that they can be
// loaded again later, also into a device of another voltage class.
//
// 31 signed 32-bit integers, little-endian, 124 bytes, no header: the raw values of settings 8 to
// 18 and 20 to 23; the flags 26 to 32 and 34 to 40 as $AAAA (set) or $5555 (clear, also when the
// version lacks the option); the voltage-class marker ($AAAA written for a 12 V model, $5555 for a
// 24 V model); and the wrapping sum of the 30 records before it. No software version is stored: a
// file is interpreted against the version current when it is loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zo {

constexpr std::size_t SettingsFileBytes = 124;

// Writes the settings of the current version to `FileName`. The new file replaces an existing one
// in one step, so a failed save leaves the old file as it was. `Message` is empty on success,
// otherwise "Error creating file: " + FileName (shown as an error); `Why` (when given) then says
// why in the system's words ("No such file or directory", ...).
void SaveSettingsFile(const std::string& FileName, std::string& Message,
                      std::string* Why = nullptr);

// True when `Data` (a file's first bytes) is a whole settings file whose checksum matches: what
// LoadSettingsFile takes rather than calling the file corrupted.
bool SettingsFileIntact(const std::string& Data);

// Reads `FileName` (opened read-only, never changed) into the settings model, converts the
// voltages between 12 V and 24 V files, and clamps every value to the current version's bounds.
// `Message` is empty, or a kind letter ('E' error box, 'I' information box) and the text:
// "ECannot open file: " + name (settings unchanged); "EFile corrupted!\rSettings set to default!"
// for a wrong checksum or a file shorter than 124 bytes (settings set to defaults); or the
// information that n settings were out of bounds. Bytes after the first 124 are ignored. With
// `Clamp` false the values stay as stored (converted to the voltage class; what diff compares),
// and no information comes.
void LoadSettingsFile(const std::string& FileName, std::string& Message, bool Clamp = true);

// The steps of loading shared by settings files and settings texts.
// The raw value of setting `Number` from a 12 V or 24 V source (`SourceVolts` 12 or 24; 0 converts
// nothing) in the current version's voltage class: settings 8, 9, 15, 16, 20 and 21 are halved or
// doubled (a value beyond the device word first brought to the word's limit, so that it ends at
// the bound it went beyond), the others returned as they are.
std::int32_t ConvertVoltage(int Number, std::int32_t Raw, int SourceVolts);
// Clamps every setting to its bounds. `Message` is empty or the 'I' information that n settings
// were out of bounds.
void ClampLoadedSettings(std::string& Message);

}  // namespace zo
