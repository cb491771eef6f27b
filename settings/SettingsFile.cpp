#include "settings/SettingsFile.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "settings/AtomicFile.h"
#include "settings/Settings.h"

namespace zo {

namespace {

constexpr std::int32_t FlagSet = 0xAAAA;
constexpr std::int32_t FlagClear = 0x5555;
constexpr std::int32_t Marker12Volt = 0xAAAA;
constexpr std::int32_t Marker24Volt = 0x5555;

// Records 1 to 15, in file order.
constexpr int StoredSettings[] = {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23};
// Records 16 to 29.
constexpr int StoredFlags[] = {26, 27, 28, 29, 30, 31, 32, 34, 35, 36, 37, 38, 39, 40};
// The settings a voltage-class conversion halves or doubles.
constexpr int VoltageSettings[] = {8, 9, 15, 16, 20, 21};

// Sums in 32-bit two's-complement arithmetic.
std::int32_t WrappingSum(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

class TRecordWriter {
 public:
  void Put(std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
      data_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    sum_ = WrappingSum(sum_, value);
  }
  void PutSum() { Put(sum_); }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  std::int32_t sum_ = 0;
};

class TRecordReader {
 public:
  explicit TRecordReader(const std::string& data) : data_(data) {}
  std::int32_t Get() {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = (v << 8) | static_cast<std::uint8_t>(data_[pos_ + static_cast<std::size_t>(i)]);
    pos_ += 4;
    sum_ = WrappingSum(sum_, static_cast<std::int32_t>(v));
    return static_cast<std::int32_t>(v);
  }
  std::int32_t Sum() const { return sum_; }

 private:
  const std::string& data_;
  std::size_t pos_ = 0;
  std::int32_t sum_ = 0;
};

}  // namespace

// A short file or a wrong checksum: nothing of the file is taken.
bool SettingsFileIntact(const std::string& Data) {
  if (Data.size() < SettingsFileBytes) return false;
  TRecordReader reader(Data);
  for (int r = 0; r < 30; ++r)
    reader.Get();
  const std::int32_t sum = reader.Sum();
  return reader.Get() == sum;
}

void SaveSettingsFile(const std::string& FileName, std::string& Message, std::string* Why) {
  TRecordWriter writer;
  for (int n : StoredSettings)
    writer.Put(SettingTable[n].Value);
  for (int item : StoredFlags)
    writer.Put(GetFlag(static_cast<std::uint8_t>(item)) ? FlagSet : FlagClear);
  writer.Put(Is12VoltSystem ? Marker12Volt : Marker24Volt);
  writer.PutSum();
  if (AtomicWriteFile(FileName, writer.Data(), Why))
    Message.clear();
  else
    Message = "Error creating file: " + FileName;
}

void LoadSettingsFile(const std::string& FileName, std::string& Message, bool Clamp) {
  Message.clear();
  std::string data;
  const TReadResult read = ReadFileStart(FileName, SettingsFileBytes, data);
  if (read == TReadResult::CannotOpen) {
    Message = "ECannot open file: " + FileName;
    return;
  }
  if (!SettingsFileIntact(data)) {
    Message = "EFile corrupted!\rSettings set to default!";
    SetDefaults();
    return;
  }

  TRecordReader reader(data);
  for (int n : StoredSettings)
    SettingTable[n].Value = reader.Get();
  for (int item : StoredFlags)
    SetFlag(static_cast<std::uint8_t>(item), reader.Get() == FlagSet);
  const std::int32_t marker = reader.Get();
  const int source_volts = marker == Marker12Volt ? 12 : marker == Marker24Volt ? 24 : 0;
  for (int n : VoltageSettings)
    SettingTable[n].Value = ConvertVoltage(n, SettingTable[n].Value, source_volts);
  if (Clamp) ClampLoadedSettings(Message);
}

std::int32_t ConvertVoltage(int Number, std::int32_t Raw, int SourceVolts) {
  if (std::find(std::begin(VoltageSettings), std::end(VoltageSettings), Number) ==
      std::end(VoltageSettings))
    return Raw;
  const bool halve = Is12VoltSystem && SourceVolts == 24;
  const bool twice = !Is12VoltSystem && SourceVolts == 12;
  if (!halve && !twice) return Raw;
  // A value beyond the device word is brought to the word's limit first: doubled, it would no
  // longer fit and come out as a small or negative number, clamped to the minimum instead of
  // the maximum. Within the word, the bounds check after the conversion sees the true value.
  const TVariable& setting = SettingTable[Number];
  const std::int32_t low = setting.Kind == TVariable::KindSignedWord ? -32768 : 0;
  const std::int32_t high = setting.Kind == TVariable::KindSignedWord ? 32767
                            : setting.Kind == TVariable::KindByte     ? 255
                                                                      : 65535;
  const std::int32_t word = std::clamp(Raw, low, high);
  return halve ? word >> 1 : word * 2;
}

void ClampLoadedSettings(std::string& Message) {
  Message.clear();
  // Every value is brought within its bounds, but only settings the version has are reported:
  // the others are never shown or sent, and a file saved from this very device must load back
  // without a complaint.
  int count = 0;
  for (int n = SettingAbsorptionVoltage; n <= SettingPhaseMode; ++n) {
    if (n == SettingDeviceKind) continue;
    GetBounds(static_cast<std::uint8_t>(n));
    std::int32_t& value = SettingTable[n].Value;
    const int counted = SettingTable[n].IsPresent() ? 1 : 0;
    if (value < BoundMin) {
      value = BoundMin;
      count += counted;
    }
    if (value > BoundMax) {
      value = BoundMax;
      count += counted;
    }
  }
  if (count == 1)
    Message = "IThere was 1 setting out of bounds.\rThis setting is changed to a valid value.";
  else if (count > 1)
    Message = "IThere were " + std::to_string(count) +
              " settings out of bounds.\rThese settings are changed to valid values.";
}

}  // namespace zo
