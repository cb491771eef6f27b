// Names, units and value texts of the settings and option flags, as zocfg prints them and the
// settings text files hold them.
//
// Names follow the window's labels; keys are the stable names of the --json output. Values are
// the settings model's own texts (each setting's definition scales and formats it), with the
// choices of the lists spelled out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/Settings.h"

namespace zo {

struct TSettingText {
  int Number;        // 8 to 25
  const char* Key;   // "absorption_voltage"
  const char* Name;  // "Absorption voltage"
  const char* Unit;  // "V", or "" for a count or a choice
};

struct TFlagText {
  int Item;               // 26 to 40
  const char* Key;        // what a set bit means: "charger_off"
  const char* Name;       // "Charger"
  const char* SetText;    // "off"
  const char* ClearText;  // "on"
};

// Settings 8 to 25 in number order.
const std::vector<TSettingText>& SettingTexts();
// Flags 26 to 40 in item order.
const std::vector<TFlagText>& FlagTexts();
const TSettingText* FindSettingText(int Number);
// The monitor values 1 to 7 with their names and units; FindMonitorText as FindSettingText.
const std::vector<TSettingText>& MonitorTexts();
const TSettingText* FindMonitorText(int Number);

// The meaning of a choice setting's raw value ("Adaptive" for charge characteristic 2); empty for
// settings that are plain quantities.
std::string ChoiceText(int Number, std::int32_t Raw);

// The setting's value as zocfg prints it: its display text, then the choice in brackets.
std::string ValueText(int Number);

// Raw value `Raw` of setting `Number` (8 to 25) with its unit, as a change is printed: the text in
// the setting's scale and format, the choice in brackets, the unit ("28.80 V", "2 (Adaptive)").
std::string QuantityText(int Number, std::int32_t Raw);

}  // namespace zo
