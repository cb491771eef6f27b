// A simulated inverter/charger on the device bus: what the program relies on of a real device.
//
// - Requests 5 and 6 are answered with the low ($82) and high ($83) word of the software version;
//   request 2 with the LED state ($81); request 7 [7, address low, address high] with $84 and the
//   two bytes of memory at that address and the next (a live monitor value where the version puts
//   one).
// - Write frames change memory: $08 (page 0), $09 (page 1) and $10 + page for pages $02 to $20
//   write one byte at [page, data low]; $0A writes one bit in page 0 or 1; $0B writes are held
//   until the commit frame [$0B, $FF, $FF] applies them to page $21. Writes get no reply.
// - Commands 3 and 4 are accepted and do nothing visible.
// The settings live at the addresses a version record gives (items 1 to 25; on family 17 the
// items of settings 8 to 25 except 19 are offsets into page $21), the option bits in the two flag
// bytes at the addresses of settings 24 and 25.
//
// Thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "threads/Clock.h"

namespace zo::sim {

using TVersionRecord = std::array<std::int32_t, 47>;
using TReplyBytes = std::array<std::uint8_t, 3>;

struct TSimDeviceConfig {
  // The version record: item 0 is the software version, items 1 to 25 the settings' addresses
  // (-1 absent), items 26 to 40 the option descriptors.
  TVersionRecord Record{};
  std::uint8_t Address = 0;       // the device's bus address (the DL2 addresses requests)
  int TurnaroundMs = 5;           // time between the end of a request and the start of the reply
  bool ReportVersionBcd = false;  // report the version as binary-coded decimal ($1715104)
  std::int32_t DeviceKindCode = 130;  // setting 19: 120 to 136 is a device with a charger
  // Raw values of settings 8 to 25 at start; settings not named get the usual factory values.
  std::map<int, std::int32_t> InitialValues;
  // False: the monitor values (settings 1 to 7) stay at what SetSettingValue stored (0 at
  // first) instead of drifting, so that a test knows every value the device can answer.
  bool LiveMonitors = true;
};

class SimDevice {
 public:
  explicit SimDevice(const TSimDeviceConfig& Config);

  // A request that reached the device. `Address` is the bus address it was sent to (the DL1 bus
  // carries none: pass the device's own). The reply bytes, or nothing (not addressed to this
  // device, a write, a command without reply, or the device is silent).
  std::optional<TReplyBytes> Handle(std::uint8_t Address, const TReplyBytes& Request);

  std::uint8_t BusAddress() const;
  int TurnaroundMs() const;
  void SetTurnaroundMs(int Ms);
  void SetSilent(bool Value);  // a device that no longer answers
  bool Silent() const;
  // A device that still answers but no longer takes writes (nor commits).
  void SetDeafToWrites(bool Value);
  // A device that stops answering once it has applied a commit frame: a write that reached the
  // device whose read-back fails, however many requests the program needed to get there.
  void SetSilentAfterCommit(bool Value);

  // The raw value of setting n (1 to 25) as the device holds it now (monitor values: the live
  // value). -1 when the version lacks it.
  std::int32_t SettingValue(int Setting) const;
  void SetSettingValue(int Setting, std::int32_t Value);
  // The device memory address of setting n (with the family-17 page), or -1.
  std::int32_t SettingAddress(int Setting) const;
  std::uint8_t Memory(std::uint16_t Address) const;
  void SetMemory(std::uint16_t Address, std::uint8_t Value);
  void SetLedState(std::uint16_t Value);

  // How many frames of each command code reached the device (tests count writes and commits).
  int FramesSeen(std::uint8_t Command) const;
  // $0B writes waiting for their commit.
  int PendingCommitWrites() const;

  const TVersionRecord& Record() const { return config_.Record; }
  int Family() const { return config_.Record[0] / 100000; }
  int Model() const { return config_.Record[0] / 1000 % 100; }

  // Whether setting n is a 16-bit word (else a byte) in the device's memory.
  static bool IsWordSetting(int Setting);

 private:
  std::int32_t LiveMonitorValue(int Setting) const;
  std::uint16_t ReadWord(std::uint16_t Address) const;
  void StoreSetting(int Setting, std::int32_t Value);
  int MonitorAt(std::uint16_t Address) const;

  mutable std::mutex mutex_;
  TSimDeviceConfig config_;
  std::vector<std::uint8_t> memory_;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> pending_commit_;
  std::map<std::uint8_t, int> frames_seen_;
  std::uint16_t led_state_ = 0x0021;
  bool silent_ = false;
  bool deaf_to_writes_ = false;
  bool silent_after_commit_ = false;
  TimePoint start_;
};

// The raw factory value of setting n for a device of this version (the values a new device comes
// with: 14.40 V absorption on 12 V models, doubled on 24 V models, and so on).
std::int32_t FactoryValue(const TVersionRecord& Record, int Setting);

}  // namespace zo::sim
