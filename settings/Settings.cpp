#include "settings/Settings.h"

#include <cmath>
#include <stdexcept>

#include "adapter/Textlogger.h"
#include "settings/VersionFile.h"

namespace zo {

TSettingTable SettingTable;
std::vector<std::unique_ptr<TMonitorSetting>> MonitorList;
std::vector<std::unique_ptr<TVersion>> VersionList;
TVersion* CurrentVersion = nullptr;
bool IsInverterOnly = false;
bool Is12VoltSystem = false;
std::int32_t BoundMin = 0, BoundMax = 0, BoundDefault = 0;

namespace {

constexpr std::uint16_t Absent = 0xFFFF;
constexpr std::uint16_t CommittedPage = 0x2100;
constexpr int Tries = 4;
constexpr std::int32_t NotInVersion = -1;

// Settings 1 to 25: their definitions, and their names for the text log.
const struct {
  const char* Definition;
  const char* Name;
} Quantities[TSettingTable::Count] = {
    {"$FFFF W,S0.01,0", "mains voltage"},
    {"$FFFF W,S0.01,1", "mains current"},
    {"$FFFF W,S0.01,0", "inverter voltage"},
    {"$FFFF W,S0.01,1", "inverter current"},
    {"$FFFF W,S0.01,1", "DC voltage"},
    {"$FFFF W,S0.01,1", "DC ripple"},
    {"$FFFF I,S0.01,0", "DC current"},
    {"$FFFF W,S0.01,2", "absorption voltage"},
    {"$FFFF W,S0.01,2", "float voltage"},
    {"$FFFF 0", "charge current"},
    {"$FFFF 0", "inverter output"},
    {"$FFFF S0.1,1", "shore current limit"},
    {"$FFFF S0.25,2", "repeated absorption time"},
    {"$FFFF 0", "repeated absorption interval"},
    {"$FFFF W,S0.01,2", "low battery alarm"},
    {"$FFFF W,S0.01,2", "high battery alarm"},
    {"$FFFF 0", "absorption time"},
    {"$FFFF 0", "charge characteristic"},
    {"$FFFF 0", "device kind"},
    {"$FFFF W,S0.01,2", "DC shut-down"},
    {"$FFFF W,S0.01,2", "DC restart"},
    {"$FFFF 0", "number of slaves"},
    {"$FFFF 0", "phase mode"},
    {"$FFFF 0", "flag byte A"},
    {"$FFFF 0", "flag byte B"},
};

void LogFailure(const char* operation, int n) {
  LogText(std::string(operation) + ": " + Quantities[n - 1].Name + " (setting " +
          std::to_string(n) + "): no success after " + std::to_string(Tries) + " tries");
}

// Asks the caller's Stop before setting `n`; a stop is logged as a failure is.
bool Stopped(const TSettingsSteps& steps, const char* operation, int n) {
  if (!steps.Stop || !steps.Stop()) return false;
  LogText(std::string(operation) + ": stopped before " + Quantities[n - 1].Name + " (setting " +
          std::to_string(n) + ")");
  return true;
}

void Report(const TSettingsSteps& steps, int n) {
  if (steps.Done && SettingTable[n].IsPresent()) steps.Done(n);
}

// The polling order of the monitor values and the window labels that show them.
const struct {
  int Setting;
  const char* Label;
} MonitorOrder[] = {
    {SettingUdcRipple, "UBatRippleStatusLabel"},
    {SettingUMains, "UMainsStatusLabel"},
    {SettingIInverter, "IInverterStatusLabel"},
    {SettingUdc, "UBatStatusLabel"},
    {SettingIMains, "IMainsStatusLabel"},
    {SettingUInverter, "UInverterStatusLabel"},
    {SettingIdc, "IBatStatusLabel"},
};

// The settings whose bounds double on 24 V models.
bool IsVoltageSetting(int n) {
  return n == SettingAbsorptionVoltage || n == SettingFloatVoltage || n == SettingLowBatteryAlarm ||
         n == SettingHighBatteryAlarm || n == SettingDCShutDown || n == SettingDCRestart;
}

std::int32_t Item(int i) {
  return CurrentVersion != nullptr ? CurrentVersion->Items(i) : NotInVersion;
}

bool ItemPresent(int i) {
  return CurrentVersion != nullptr && CurrentVersion->Items(i) != NotInVersion;
}

bool IsInverterFamily() {
  const std::int32_t family = DeviceFamily();
  return family == 15 || family == 17;
}

bool Is120VoltModel() {
  const std::int32_t model = DeviceModel();
  return model >= 30 && model <= 49;
}

bool WithRetries(TSetting& setting, bool (TSetting::*operation)(TBusDriver*), TBusDriver* driver) {
  for (int attempt = 0; attempt < Tries; ++attempt)
    if ((setting.*operation)(driver)) return true;
  return false;
}

// The flag setting and bit mask of an option, or false when it does not apply.
bool FlagBit(std::uint8_t item, TSetting*& flags, std::uint32_t& mask) {
  if (item < FlagMultiPhase || item > FlagGroundRelayOff || !ItemPresent(item)) return false;
  const auto d = static_cast<std::uint32_t>(CurrentVersion->Items(item));
  mask = 1u << ((d & 0xFFFF) % 32);
  flags = &SettingTable[(d >> 16) == 0 ? SettingFlagsA : SettingFlagsB];
  return true;
}

}  // namespace

// ---- TSetting, TMonitorSetting, TVersion, TSettingTable ----

TSetting::TSetting(const std::string& Definition) : TVariable(Definition) {
  ReadFailed = false;
}

bool TSetting::ReadFrom(TBusDriver* Driver) {
  return !IsPresent() || TVariable::ReadFrom(Driver);
}

bool TSetting::WriteTo(TBusDriver* Driver) {
  return !IsPresent() || TVariable::WriteTo(Driver);
}

TMonitorSetting::TMonitorSetting(TSetting* Setting, TValueLabel* ValueLabel, std::string LabelName)
    : ValueLabel(ValueLabel), Setting(Setting), LabelName(std::move(LabelName)) {}

void TMonitorSetting::ShowValue() const {
  if (ValueLabel != nullptr && Setting != nullptr) ValueLabel->SetCaption(Setting->AsText());
}

TVersion::TVersion(const TRecord& Record) {
  for (int i = 0; i < ItemCount; ++i)
    items_[static_cast<std::size_t>(i)] = Record[static_cast<std::size_t>(i)];
}

TVersion::TRecord TVersion::Record() const {
  TRecord record{};
  for (int i = 0; i < ItemCount; ++i)
    record[static_cast<std::size_t>(i)] = items_[static_cast<std::size_t>(i)];
  return record;
}

TSetting& TSettingTable::operator[](int Number) const {
  if (Number < 1 || Number > Count || !settings_[static_cast<std::size_t>(Number - 1)])
    throw std::out_of_range("no setting " + std::to_string(Number));
  return *settings_[static_cast<std::size_t>(Number - 1)];
}

// ---- building and freeing ----

namespace {
std::string version_file_folder;
}

void SetVersionFileFolder(const std::string& Folder) {
  version_file_folder = Folder;
}

void InitSettings(std::string& ErrorText) {
  DoneSettings();
  IsInverterOnly = false;
  Is12VoltSystem = false;
  BoundMin = BoundMax = BoundDefault = 0;
  CommitAfterWrite = true;
  for (int n = 1; n <= TSettingTable::Count; ++n)
    SettingTable.settings_[static_cast<std::size_t>(n - 1)] =
        std::make_unique<TSetting>(Quantities[n - 1].Definition);
  for (const auto& entry : MonitorOrder)
    MonitorList.push_back(
        std::make_unique<TMonitorSetting>(&SettingTable[entry.Setting], nullptr, entry.Label));
  const std::string folder = version_file_folder.empty() ? ExecutableFolder() : version_file_folder;
  ReadVersionFile(VersionFilePath(folder), ErrorText);
}

void DoneSettings() {
  CurrentVersion = nullptr;
  MonitorList.clear();
  VersionList.clear();
  for (auto& setting : SettingTable.settings_)
    setting.reset();
}

bool BindMonitorLabel(const std::string& Name, TValueLabel* Label) {
  for (auto& entry : MonitorList) {
    if (entry->LabelName == Name) {
      entry->ValueLabel = Label;
      return true;
    }
  }
  return false;
}

// ---- versions ----

std::int32_t DeviceFamily() {
  if (CurrentVersion == nullptr) return -1;
  return CurrentVersion->Items(ItemVersion) / 100000;
}

std::int32_t DeviceModel() {
  if (CurrentVersion == nullptr) return -1;
  return CurrentVersion->Items(ItemVersion) / 1000 - 100 * DeviceFamily();
}

bool SelectVersion(std::int32_t Number) {
  CurrentVersion = nullptr;
  for (auto& version : VersionList) {
    if (version->Items(ItemVersion) == Number) {
      CurrentVersion = version.get();
      break;
    }
  }
  const bool paged = DeviceFamily() == 17;
  for (int n = 1; n <= TSettingTable::Count; ++n) {
    TSetting& setting = SettingTable[n];
    if (!ItemPresent(n)) {
      // Also on family 17: an absent setting stays absent rather than getting a page address.
      setting.Address = Absent;
      continue;
    }
    auto address = static_cast<std::uint16_t>(CurrentVersion->Items(n));
    if (paged && n >= SettingAbsorptionVoltage && n != SettingDeviceKind)
      address = static_cast<std::uint16_t>(address + CommittedPage);
    setting.Address = address;
    setting.Value = n == SettingDeviceKind ? 128 : 0;
  }
  return CurrentVersion != nullptr;
}

// ---- reading and writing ----

bool ReadSettings(TBusDriver* Driver, const TSettingsSteps& Steps) {
  bool all = true;
  for (int n = SettingAbsorptionVoltage; n <= SettingFlagsB && all; ++n) {
    if (Stopped(Steps, "Read settings", n)) return false;
    all = WithRetries(SettingTable[n], &TSetting::ReadFrom, Driver);
    if (!all) LogFailure("Read settings", n);
    if (all) Report(Steps, n);
  }
  const std::int32_t kind = SettingTable[SettingDeviceKind].Value;
  IsInverterOnly = IsInverterFamily() && !(kind >= 120 && kind <= 136);
  return all;
}

bool WriteSettings(TBusDriver* Driver, const TSettingsSteps& Steps) {
  CommitAfterWrite = false;
  bool all = true;
  const TSetting* held = nullptr;  // the last setting written to the committed page
  for (int n = SettingAbsorptionVoltage; n <= SettingFlagsA && all; ++n) {
    if (n == SettingDeviceKind) continue;
    if (Stopped(Steps, "Write settings", n)) {
      CommitAfterWrite = true;
      return false;
    }
    TSetting& setting = SettingTable[n];
    all = WithRetries(setting, &TSetting::WriteTo, Driver);
    if (!all) LogFailure("Write settings", n);
    if (all) Report(Steps, n);
    if (all && setting.IsPresent() && setting.Address >= CommittedPage) held = &setting;
  }
  CommitAfterWrite = true;
  if (!all) return false;
  TSetting& last = SettingTable[SettingFlagsB];
  if (Stopped(Steps, "Write settings", SettingFlagsB)) return false;
  if (!WithRetries(last, &TSetting::WriteTo, Driver)) {
    LogFailure("Write settings", SettingFlagsB);
    return false;
  }
  Report(Steps, SettingFlagsB);
  // The commit normally follows setting 25. A version without setting 25 in the committed page
  // still owes the device the commit of the writes it holds.
  if (held != nullptr && !(last.IsPresent() && last.Address >= CommittedPage)) {
    if (Steps.Stop && Steps.Stop()) {
      LogText("Write settings: stopped before the commit frame");
      return false;
    }
    for (int attempt = 0; attempt < Tries; ++attempt)
      if (held->WriteCommit(Driver)) return true;
    LogText("Write settings: the commit frame failed after " + std::to_string(Tries) + " tries");
    return false;
  }
  return true;
}

// ---- option flags ----

bool GetFlag(std::uint8_t Item) {
  TSetting* flags = nullptr;
  std::uint32_t mask = 0;
  if (!FlagBit(Item, flags, mask)) return false;
  return (static_cast<std::uint32_t>(flags->Value) & mask) != 0;
}

void SetFlag(std::uint8_t Item, bool Value) {
  TSetting* flags = nullptr;
  std::uint32_t mask = 0;
  if (!FlagBit(Item, flags, mask)) return;
  auto bits = static_cast<std::uint32_t>(flags->Value);
  bits = Value ? (bits | mask) : (bits & ~mask);
  flags->Value = static_cast<std::int32_t>(bits);
}

// ---- capabilities ----

bool HasFrequency() {
  return ItemPresent(FlagFrequency60Hz);
}

bool HasInverter() {
  return IsInverterFamily();
}

bool HasCharger() {
  return !(IsInverterFamily() && IsInverterOnly);
}

bool HasChargerSwitch() {
  return HasCharger() && ItemPresent(FlagChargerOff);
}

bool HasAES() {
  return ItemPresent(FlagAESOff);
}

bool HasPeakFeed() {
  const std::int32_t model = DeviceModel();
  return ItemPresent(ItemPeakFeed) && DeviceFamily() == 17 &&
         (model == 2 || model == 12 || model == 32 || model == 42);
}

bool HasSlaveCount() {
  return ItemPresent(SettingSlaves);
}

bool HasMultiPhase() {
  if (CurrentVersion == nullptr) return false;
  const std::int32_t rule = Item(ItemMultiPhaseRule);
  if (rule == 1) return true;
  if (rule == 0) return false;
  if (ItemPresent(FlagMultiPhaseCapable)) return GetFlag(FlagMultiPhaseCapable);
  if (Item(ItemMultiPhaseGroup) == 1) return true;
  // Early versions are recognised by number: revision 3 of family 15, any model.
  return static_cast<std::int64_t>(Item(ItemVersion)) - 1000 * std::int64_t{DeviceModel()} ==
         1500003;
}

bool HasPhaseModes() {
  return ItemPresent(SettingPhaseMode);
}

bool HasGroundRelay() {
  return CurrentVersion != nullptr && !IsInverterOnly && ItemPresent(FlagGroundRelayOff);
}

bool HasWaveShape() {
  return HasCharger() && ItemPresent(FlagWaveShapeOff);
}

bool HasCellGuard() {
  return CurrentVersion != nullptr && Item(ItemChargeCharacteristics) == 3;
}

bool HasShoreCurrent() {
  return ItemPresent(SettingShoreCurrent);
}

bool HasStopAfterBulk() {
  return ItemPresent(FlagStopAfterBulk);
}

bool HasStorageMode() {
  return ItemPresent(FlagStorageMode);
}

bool HasAlarmRelay() {
  return IsInverterFamily();
}

bool HasDCLowLevels() {
  return ItemPresent(SettingDCShutDown);
}

bool HasLowRippleProtection() {
  return ItemPresent(FlagLowRippleOff);
}

bool HasHighRippleProtection() {
  return ItemPresent(FlagHighRippleOff);
}

bool HasAbsorptionCalculation() {
  return ItemPresent(FlagAbsorptionFromBulk);
}

bool CurveHasStorageStage() {
  if (!ItemPresent(ItemStorageStage)) return false;
  if (ItemPresent(FlagStorageMode)) return GetFlag(FlagStorageMode);
  return SettingTable[SettingChargeCharacteristic].Value != 1;
}

// ---- bounds and defaults ----

void GetBounds(std::uint8_t Setting) {
  std::int32_t min = 0, max = 0, def = 0;
  switch (Setting) {
    case SettingAbsorptionVoltage:
      min = 1200, max = 1600, def = 1440;
      break;
    case SettingFloatVoltage:
      min = 1200, max = 1600, def = 1380;
      break;
    case SettingChargeCurrent:
      if (CurrentVersion != nullptr) {
        max = Item(ItemMaxChargeCurrent);
        def = DeviceFamily() == 14 ? max : static_cast<std::int32_t>(std::trunc(0.75L * max));
      }
      break;
    case SettingInverterOutput:
      if (Is120VoltModel())
        min = 94, max = 128, def = 120;
      else
        min = 180, max = 245, def = 230;
      break;
    case SettingShoreCurrent:
      if (Is120VoltModel())
        min = 10, max = 150, def = 150;
      else
        min = 10, max = 160, def = 160;
      break;
    case SettingRepeatedAbsorptionTime:
      min = 1, max = 72, def = 4;
      break;
    case SettingRepeatedAbsorptionInterval:
      min = 1, max = 45, def = 7;
      break;
    case SettingLowBatteryAlarm:
      min = 500, max = 1600, def = 1175;
      break;
    case SettingHighBatteryAlarm:
      min = 500, max = 1600, def = 1600;
      break;
    case SettingAbsorptionTime:
      min = 1, max = 8, def = 4;
      break;
    case SettingChargeCharacteristic:
      if (CurrentVersion != nullptr) {
        min = 1;
        max = def = Item(ItemChargeCharacteristics);
      }
      break;
    case SettingDCShutDown:
      min = 900, max = 1300, def = 900;
      break;
    case SettingDCRestart:
      min = 0, max = 400, def = 190;
      break;
    case SettingSlaves:
      min = 0, max = 4, def = 0;
      break;
    case SettingPhaseMode:
      min = 0, max = 3, def = 0;
      break;
    default:
      break;
  }
  if (!Is12VoltSystem && IsVoltageSetting(Setting)) {
    min *= 2;
    max *= 2;
    def *= 2;
  }
  BoundMin = min;
  BoundMax = max;
  BoundDefault = def;
}

void SetDefaults() {
  if (CurrentVersion == nullptr) return;
  for (int n = SettingAbsorptionVoltage; n <= SettingPhaseMode; ++n) {
    if (n == SettingDeviceKind) continue;
    GetBounds(static_cast<std::uint8_t>(n));
    SettingTable[n].Value = BoundDefault;
  }
  for (int item = FlagMultiPhase; item <= FlagGroundRelayOff; ++item) {
    if (item == FlagMultiPhaseCapable) continue;
    bool set = false;
    if (item == FlagStorageMode) set = true;
    if (item == FlagFrequency60Hz) set = Is120VoltModel();
    SetFlag(static_cast<std::uint8_t>(item), set);
  }
}

void SetBatteryDefaults(std::uint8_t BatteryType) {
  static const std::int32_t Presets[4][3] = {
      {1440, 1380, 4},  // gel
      {1500, 1380, 6},  // traction
      {1440, 1400, 5},  // semi-traction
      {1480, 1400, 5},  // Marlo
  };
  if (BatteryType > 3) return;
  const int factor = Is12VoltSystem ? 1 : 2;
  SettingTable[SettingAbsorptionVoltage].Value = Presets[BatteryType][0] * factor;
  SettingTable[SettingFloatVoltage].Value = Presets[BatteryType][1] * factor;
  SettingTable[SettingAbsorptionTime].Value = Presets[BatteryType][2];
}

// ---- device type names ----

namespace {

const char* ChargerName(std::int32_t model) {
  switch (model) {
    case 0:
      return "Corvane Charger 12/50";
    case 1:
      return "Corvane Charger 12/30";
    case 10:
      return "Corvane Charger 24/25";
    case 11:
      return "Corvane Charger 24/16";
    default:
      return "";
  }
}

// The suffix of an inverter name; nullptr for a model without one.
const char* InverterSuffix(std::int32_t family, std::int32_t model) {
  const bool plus = family == 17;  // models 2 and 12 carry the "+" only in family 17
  switch (model) {
    case 0:
      return " 230Vac 12F";
    case 1:
      return " 230Vac 12H";
    case 2:
      return plus ? "+ 230Vac 12F" : " 230Vac 12F";
    case 10:
      return " 230Vac 24F";
    case 11:
      return " 230Vac 24H";
    case 12:
      return plus ? "+ 230Vac 24F" : " 230Vac 24F";
    case 30:
      return " 120Vac 12F";
    case 31:
      return " 120Vac 12H";
    case 32:
      return "+ 120Vac 12F";
    case 40:
      return " 120Vac 24F";
    case 41:
      return " 120Vac 24H";
    case 42:
      return "+ 120Vac 24F";
    default:
      return nullptr;
  }
}

}  // namespace

void GetDeviceTypeName(std::string& Name) {
  Name.clear();
  if (CurrentVersion == nullptr) return;
  const std::int32_t family = DeviceFamily();
  const std::int32_t model = DeviceModel();
  const bool is24 = (model >= 10 && model <= 12) || (model >= 40 && model <= 42);
  Is12VoltSystem = !is24;
  const bool coarse_steps = (model >= 30 && model <= 32) || (model >= 40 && model <= 42);
  if (SettingTable.Built()) SettingTable[SettingShoreCurrent].Scale = coarse_steps ? 0.2L : 0.1L;
  if (family == 14) {
    Name = ChargerName(model);
  } else if (family == 15 || family == 17) {
    const char* suffix = InverterSuffix(family, model);
    if (suffix != nullptr)
      Name = std::string(IsInverterOnly ? "Corvane Inverter" : "Corvane Multi") + suffix;
  }
}

}  // namespace zo
