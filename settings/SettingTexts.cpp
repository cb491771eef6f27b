#include "settings/SettingTexts.h"

namespace zo {

const std::vector<TSettingText>& SettingTexts() {
  static const std::vector<TSettingText> texts = {
      {8, "absorption_voltage", "Absorption voltage", "V"},
      {9, "float_voltage", "Float voltage", "V"},
      {10, "charge_current", "Charge current", "A"},
      {11, "inverter_output_voltage", "Inverter AC voltage", "V"},
      {12, "shore_current_limit", "Shore current limit", "A"},
      {13, "repeated_absorption_time", "Repeated absorption time", "Hr"},
      {14, "repeated_absorption_interval", "Repeated absorption interval", "Days"},
      {15, "low_dc_alarm_voltage", "Alarm relay: low DC voltage", "V"},
      {16, "high_dc_alarm_voltage", "Alarm relay: high DC voltage", "V"},
      {17, "absorption_time", "Absorption time", "Hr"},
      {18, "charge_characteristic", "Charge characteristic", ""},
      {19, "device_kind", "Device kind (read only)", ""},
      {20, "dc_low_shutdown_voltage", "DC low shut-down", "V"},
      {21, "dc_low_restart_offset", "DC low restart, above shut-down", "V"},
      {22, "number_of_slaves", "Number of slaves", ""},
      {23, "phase_mode", "Phase mode", ""},
      {24, "flag_byte_a", "Option bits, byte A", ""},
      {25, "flag_byte_b", "Option bits, byte B", ""},
  };
  return texts;
}

const std::vector<TFlagText>& FlagTexts() {
  static const std::vector<TFlagText> texts = {
      {26, "multi_phase", "Single phase / 2-3 phase", "2-3 phase", "single phase"},
      {27, "leader", "Leader", "yes", "no"},
      {28, "frequency_60hz", "System frequency", "60 Hz", "50 Hz"},
      {29, "stop_after_10hr_bulk_off", "Stop after 10 Hr bulk", "off", "on"},
      {30, "peakfeed", "PeakFeed", "on", "off"},
      {31, "charger_off", "Charger", "off", "on"},
      {32, "alarm_relay_activated_when_alarm", "Alarm relay polarity", "Activated when alarm",
       "Activated when no alarm"},
      {33, "multi_phase_capable", "Multi-phase capability (read only)", "capable", "not capable"},
      {34, "fast_input_voltage_detection_off", "Fast input voltage detection", "off", "on"},
      {35, "aes_off", "AES", "off", "on"},
      {36, "ripple_protection_1v5_off", "1.5 V ripple protection", "off", "on"},
      {37, "ripple_protection_2v5_off", "2.5 V ripple protection", "off", "on"},
      {38, "storage_mode", "Storage mode", "on", "off"},
      {39, "absorption_time_from_bulk_charge", "Derive absorption time from", "Bulk charge",
       "Bulk time"},
      {40, "ground_relay_off", "Ground relay", "off", "on"},
  };
  return texts;
}

namespace {

const TSettingText* Find(const std::vector<TSettingText>& Texts, int Number) {
  for (const TSettingText& t : Texts)
    if (t.Number == Number) return &t;
  return nullptr;
}

}  // namespace

const TSettingText* FindSettingText(int Number) {
  return Find(SettingTexts(), Number);
}

const std::vector<TSettingText>& MonitorTexts() {
  static const std::vector<TSettingText> texts = {
      {1, "u_mains", "UMains", "V"},
      {2, "i_mains", "IMains", "A"},
      {3, "u_inverter", "UInverter", "V"},
      {4, "i_inverter", "IInverter", "A"},
      {5, "u_dc", "Udc", "V"},
      {6, "u_dc_ripple", "Udc ripple", "V"},
      {7, "i_dc", "Idc", "A"},
  };
  return texts;
}

const TSettingText* FindMonitorText(int Number) {
  return Find(MonitorTexts(), Number);
}

std::string ChoiceText(int Number, std::int32_t Raw) {
  switch (Number) {
    case SettingChargeCharacteristic:
      if (Raw == 1) return "Fixed";
      if (Raw == 2) return "Adaptive";
      if (Raw == 3) return "Adaptive + CellGuard";
      return "";
    case SettingDeviceKind:
      return Raw >= 120 && Raw <= 136 ? "with charger" : "without charger";
    case SettingPhaseMode:
      // Only while multi-phase operation is on; single phase otherwise.
      if (Raw == 1) return "Split phase 180°";
      if (Raw == 2 || Raw == 3) return "Two leg 3 phase 120°";
      return "3 phase";
    default:
      return "";
  }
}

std::string ValueText(int Number) {
  const TSetting& s = SettingTable[Number];
  std::string text = s.AsText();
  if (s.ReadFailed) return text;
  const std::string choice = ChoiceText(Number, s.Value);
  if (!choice.empty()) text += " (" + choice + ")";
  return text;
}

std::string QuantityText(int Number, std::int32_t Raw) {
  std::string text = SettingTable[Number].TextOfRaw(Raw);
  const std::string choice = ChoiceText(Number, Raw);
  if (!choice.empty()) text += " (" + choice + ")";
  const TSettingText* t = FindSettingText(Number);
  if (t != nullptr && *t->Unit != '\0') text += std::string(" ") + t->Unit;
  return text;
}

}  // namespace zo
