#include "settings/SettingsDiff.h"

#include <cmath>

#include "settings/SettingTexts.h"
#include "settings/Settings.h"

namespace zo {

namespace {

bool SameValue(long double A, long double B) {
  return std::fabs(A - B) <= 1e-9L * std::fmax(1.0L, std::fabs(A));
}

bool Outside(const TComparedSetting& Value, const TComparedSetting& Bounds) {
  return Value.Value < Bounds.MinValue - 1e-9L || Value.Value > Bounds.MaxValue + 1e-9L;
}

// The values of `A` outside the bounds of its own version, and, when `Other` is set, those that
// `B`'s bounds would correct.
void BoundWarnings(const TSettingsSide& A, const TSettingsSide& B, bool Other,
                   std::vector<std::string>& Warnings) {
  for (const TComparedSetting& a : A.Entries) {
    if (a.IsOption()) continue;
    const TComparedSetting* b = B.Find(a.Number);
    if (Outside(a, a))
      Warnings.push_back(std::string(a.Name) + ": " + a.Text + " of " + A.Source +
                         " lies outside the bounds of software version " +
                         std::to_string(A.Version) + " (" + a.Min + " to " + a.Max + ")");
    else if (Other && b != nullptr && !b->IsOption() && Outside(a, *b))
      Warnings.push_back(std::string(a.Name) + ": " + a.Text + " of " + A.Source +
                         " lies outside the bounds of " + B.Source + " (" + b->Min + " to " +
                         b->Max + ")");
  }
}

}  // namespace

const TComparedSetting* TSettingsSide::Find(int Number) const {
  for (const TComparedSetting& e : Entries)
    if (e.Number == Number) return &e;
  return nullptr;
}

std::string TSettingsSide::Describe() const {
  return Source + " is software version " + std::to_string(Version) + " (" +
         (DeviceType.empty() ? "unknown device type" : DeviceType) + ")";
}

TSettingsSide TakeDownSettings(const std::string& Source) {
  TSettingsSide side;
  side.Source = Source;
  if (CurrentVersion == nullptr) return side;
  side.Version = CurrentVersion->Items(ItemVersion);
  GetDeviceTypeName(side.DeviceType);
  side.Volts = Is12VoltSystem ? 12 : 24;
  for (const TSettingText& t : SettingTexts()) {
    TSetting& s = SettingTable[t.Number];
    if (t.Number == SettingDeviceKind || t.Number >= SettingFlagsA || !s.IsPresent()) continue;
    GetBounds(static_cast<std::uint8_t>(t.Number));
    TComparedSetting e;
    e.Number = t.Number;
    e.Key = t.Key;
    e.Name = t.Name;
    e.Unit = t.Unit;
    e.Text = QuantityText(t.Number, s.Value);
    e.Value = s.EngineeringValue();
    e.Min = QuantityText(t.Number, BoundMin);
    e.Max = QuantityText(t.Number, BoundMax);
    e.MinValue = BoundMin * s.Scale + s.Offset;
    e.MaxValue = BoundMax * s.Scale + s.Offset;
    side.Entries.push_back(std::move(e));
  }
  for (const TFlagText& f : FlagTexts()) {
    if (f.Item == FlagMultiPhaseCapable || CurrentVersion->Items(f.Item) == -1) continue;
    const bool set = GetFlag(static_cast<std::uint8_t>(f.Item));
    TComparedSetting e;
    e.Number = f.Item;
    e.Key = f.Key;
    e.Name = f.Name;
    e.Text = set ? f.SetText : f.ClearText;
    e.Value = set ? 1.0L : 0.0L;
    side.Entries.push_back(std::move(e));
  }
  return side;
}

TSettingsDiff CompareSettings(const TSettingsSide& A, const TSettingsSide& B) {
  TSettingsDiff d;
  if (A.Version != B.Version)
    d.Warnings.push_back("different versions: " + A.Describe() + ", " + B.Describe());
  if (A.Volts != B.Volts)
    d.Warnings.push_back("different voltage classes: " + A.Source + " is a " +
                         std::to_string(A.Volts) + " V system, " + B.Source + " a " +
                         std::to_string(B.Volts) + " V system");
  d.Warnings.insert(d.Warnings.end(), A.Warnings.begin(), A.Warnings.end());
  d.Warnings.insert(d.Warnings.end(), B.Warnings.begin(), B.Warnings.end());
  // Across voltage classes every voltage would be converted, not corrected.
  BoundWarnings(A, B, A.Volts == B.Volts, d.Warnings);
  BoundWarnings(B, A, A.Volts == B.Volts, d.Warnings);
  for (const TComparedSetting& a : A.Entries) {
    const TComparedSetting* b = B.Find(a.Number);
    if (b == nullptr)
      d.OnlyInFirst.push_back(a);
    else if (!SameValue(a.Value, b->Value))
      d.Changed.emplace_back(a, *b);
  }
  for (const TComparedSetting& b : B.Entries)
    if (A.Find(b.Number) == nullptr) d.OnlyInSecond.push_back(b);
  return d;
}

}  // namespace zo
