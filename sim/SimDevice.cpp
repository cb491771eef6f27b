#include "sim/SimDevice.h"

#include <cmath>

namespace zo::sim {

namespace {

bool Is24Volt(int model) {
  return (model >= 10 && model <= 12) || (model >= 40 && model <= 42);
}
bool Is120Volt(int model) {
  return model >= 30 && model <= 49;
}

// The device's memory address of setting n: the record's item, in page $21 for settings 8 to 25
// (except the read-only 19) on family 17.
std::int32_t AddressOf(const TVersionRecord& record, int setting) {
  const std::int32_t item = record[setting];
  if (item == -1) return -1;
  const int family = record[0] / 100000;
  if (family == 17 && setting >= 8 && setting != 19) return (item + 0x2100) & 0xFFFF;
  return item & 0xFFFF;
}

}  // namespace

std::int32_t FactoryValue(const TVersionRecord& Record, int Setting) {
  const int family = Record[0] / 100000;
  const int model = Record[0] / 1000 % 100;
  const int volt = Is24Volt(model) ? 2 : 1;
  switch (Setting) {
    case 8:
      return 1440 * volt;
    case 9:
      return 1380 * volt;
    case 10:
      return family == 14 ? Record[46] : Record[46] * 3 / 4;
    case 11:
      return Is120Volt(model) ? 120 : 230;
    case 12:
      return Is120Volt(model) ? 150 : 160;
    case 13:
      return 4;
    case 14:
      return 7;
    case 15:
      return 1175 * volt;
    case 16:
      return 1600 * volt;
    case 17:
      return 4;
    case 18:
      return Record[44] > 0 ? Record[44] : 2;
    case 20:
      return 900 * volt;
    case 21:
      return 190 * volt;
    default:
      return 0;
  }
}

bool SimDevice::IsWordSetting(int Setting) {
  return (Setting >= 1 && Setting <= 9) || Setting == 15 || Setting == 16 || Setting == 20 ||
         Setting == 21;
}

SimDevice::SimDevice(const TSimDeviceConfig& Config)
    : config_(Config), memory_(0x10000, 0), start_(Now()) {
  for (int n = 8; n <= 25; ++n) {
    if (n == 19) continue;
    auto it = config_.InitialValues.find(n);
    StoreSetting(n,
                 it != config_.InitialValues.end() ? it->second : FactoryValue(Config.Record, n));
  }
  StoreSetting(19, Config.DeviceKindCode);
}

std::uint8_t SimDevice::BusAddress() const {
  return config_.Address;
}

int SimDevice::TurnaroundMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_.TurnaroundMs;
}

void SimDevice::SetTurnaroundMs(int Ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.TurnaroundMs = Ms;
}

void SimDevice::SetSilent(bool Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_ = Value;
}

bool SimDevice::Silent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return silent_;
}

std::int32_t SimDevice::SettingAddress(int Setting) const {
  if (Setting < 1 || Setting > 25) return -1;
  return AddressOf(config_.Record, Setting);
}

void SimDevice::StoreSetting(int Setting, std::int32_t Value) {
  const std::int32_t a = AddressOf(config_.Record, Setting);
  if (a < 0) return;
  const auto address = static_cast<std::uint16_t>(a);
  memory_[address] = static_cast<std::uint8_t>(Value);
  if (IsWordSetting(Setting)) {
    // The high byte lives at the next address of the same page.
    const auto high = static_cast<std::uint16_t>((address & 0xFF00) | ((address + 1) & 0xFF));
    memory_[high] = static_cast<std::uint8_t>(Value >> 8);
  }
}

std::uint16_t SimDevice::ReadWord(std::uint16_t Address) const {
  const auto high = static_cast<std::uint16_t>((Address & 0xFF00) | ((Address + 1) & 0xFF));
  return static_cast<std::uint16_t>(memory_[Address] | (memory_[high] << 8));
}

int SimDevice::MonitorAt(std::uint16_t Address) const {
  for (int n = 1; n <= 7; ++n)
    if (AddressOf(config_.Record, n) == Address) return n;
  return 0;
}

std::int32_t SimDevice::LiveMonitorValue(int Setting) const {
  if (!config_.LiveMonitors) {
    const std::int32_t a = AddressOf(config_.Record, Setting);
    return a < 0 ? 0 : ReadWord(static_cast<std::uint16_t>(a));
  }
  // Values drift slowly around plausible operating points, as on a device under changing load.
  const double t = MillisecondsBetween(start_, Now()) / 1000.0;
  const int model = config_.Record[0] / 1000 % 100;
  const double volt = Is24Volt(model) ? 2.0 : 1.0;
  const double mains = Is120Volt(model) ? 120.0 : 230.0;
  double v = 0;
  switch (Setting) {
    case 1:
      v = mains + 2.0 * std::sin(t / 7.0);
      break;  // UMains
    case 2:
      v = 4.0 + 1.5 * std::sin(t / 5.0);
      break;  // IMains
    case 3:
      v = mains + 0.8 * std::sin(t / 3.0);
      break;  // UInverter
    case 4:
      v = 2.5 + 2.0 * std::sin(t / 4.0) * std::sin(t / 4.0);
      break;  // IInverter
    case 5:
      v = 13.4 * volt + 0.3 * std::sin(t / 6.0);
      break;  // Udc
    case 6:
      v = 0.05 + 0.04 * std::fabs(std::sin(t / 2.0));
      break;  // Udc ripple
    case 7:
      v = 12.0 * std::sin(t / 9.0);
      break;  // Idc, signed
  }
  return static_cast<std::int32_t>(std::lround(v * 100.0));
}

std::int32_t SimDevice::SettingValue(int Setting) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::int32_t a = AddressOf(config_.Record, Setting);
  if (a < 0) return -1;
  if (Setting <= 7) return LiveMonitorValue(Setting);
  const auto address = static_cast<std::uint16_t>(a);
  return IsWordSetting(Setting) ? ReadWord(address) : memory_[address];
}

void SimDevice::SetSettingValue(int Setting, std::int32_t Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  StoreSetting(Setting, Value);
}

std::uint8_t SimDevice::Memory(std::uint16_t Address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return memory_[Address];
}

void SimDevice::SetMemory(std::uint16_t Address, std::uint8_t Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  memory_[Address] = Value;
}

void SimDevice::SetLedState(std::uint16_t Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  led_state_ = Value;
}

int SimDevice::FramesSeen(std::uint8_t Command) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = frames_seen_.find(Command);
  return it == frames_seen_.end() ? 0 : it->second;
}

int SimDevice::PendingCommitWrites() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(pending_commit_.size());
}

void SimDevice::SetDeafToWrites(bool Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  deaf_to_writes_ = Value;
}

void SimDevice::SetSilentAfterCommit(bool Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_after_commit_ = Value;
}

std::optional<TReplyBytes> SimDevice::Handle(std::uint8_t Address, const TReplyBytes& Request) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (silent_ || Address != config_.Address) return std::nullopt;
  const std::uint8_t cmd = Request[0], lo = Request[1], hi = Request[2];
  ++frames_seen_[cmd];
  const auto version = static_cast<std::uint32_t>(config_.Record[0]);
  auto word_reply = [](std::uint8_t code, std::uint32_t w) {
    return TReplyBytes{code, static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)};
  };
  if (cmd == 2) return word_reply(0x81, led_state_);
  if (cmd == 5 || cmd == 6) {
    std::uint32_t v = version;
    if (config_.ReportVersionBcd) {
      std::uint32_t bcd = 0;
      for (int shift = 0; v != 0; shift += 4, v /= 10)
        bcd |= (v % 10) << shift;
      v = bcd;
    }
    return cmd == 5 ? word_reply(0x82, v & 0xFFFF) : word_reply(0x83, v >> 16);
  }
  if (cmd == 7) {
    const auto address = static_cast<std::uint16_t>(lo | (hi << 8));
    const int monitor = MonitorAt(address);
    if (monitor != 0)
      return word_reply(0x84, static_cast<std::uint16_t>(LiveMonitorValue(monitor)));
    return word_reply(0x84, ReadWord(address));
  }
  if (deaf_to_writes_) return std::nullopt;
  if (cmd == 0x08 || cmd == 0x09) {
    memory_[static_cast<std::uint16_t>(((cmd - 0x08) << 8) | lo)] = hi;
  } else if (cmd >= 0x12 && cmd <= 0x30) {
    memory_[static_cast<std::uint16_t>(((cmd - 0x10) << 8) | lo)] = hi;
  } else if (cmd == 0x0A) {
    const int page = hi & 1, set = (hi & 0x10) != 0, bit = (hi >> 1) & 7;
    std::uint8_t& byte = memory_[static_cast<std::uint16_t>((page << 8) | lo)];
    byte = static_cast<std::uint8_t>(set ? (byte | (1 << bit)) : (byte & ~(1 << bit)));
  } else if (cmd == 0x0B) {
    if (lo == 0xFF && hi == 0xFF) {
      for (auto [offset, data] : pending_commit_)
        memory_[static_cast<std::uint16_t>(0x2100 | offset)] = data;
      pending_commit_.clear();
      if (silent_after_commit_) silent_ = true;
    } else {
      pending_commit_.emplace_back(lo, hi);
    }
  }
  return std::nullopt;
}

}  // namespace zo::sim
