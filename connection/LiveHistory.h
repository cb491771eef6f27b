// The live values over time: what the bus thread polls, kept with the moment each was read.
//
// The bus thread hands every monitor read to the history as it happens (ValueRead, with the text
// the status panel shows, or a failed read), marks the end of each polling cycle (CycleEnded)
// and, while it cannot poll (no interface, no target, the bus lent to the window), calls Idle.
// Whoever shows the device names it (DeviceChanged) when it starts or stops showing one.
// Nothing here touches the bus: the history only watches the polling that runs anyway.
//
// Two views of the same values:
// - samples per value (the chart): a time and a number, NaN for a read that failed and where a
//   polling run ended (Idle, DeviceChanged), so that a line joins only readings of one run and
//   a lost value is a gap, never a zero. At most `Span` (24 hours) is kept; older samples are
//   dropped as new ones arrive. A marker names each device from the moment it is shown.
// - rows per polling cycle (the recordings): the texts of the cycle's values, an empty text for a
//   value that was not read, and the device they came from. While the bus thread cannot poll,
//   an empty row is completed every IdleRowPeriod, so that a recording shows the time the target
//   was gone. The last RowBuffer rows are kept for the readers that take them (RowsAfter).
//
// Thread safety: every member may be called from any thread (one lock inside).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "threads/Clock.h"

namespace zo {

// The seven live values in the status panel's order.
constexpr int LiveValueCount = 7;

struct TLiveValueInfo {
  const char* Name;       // as the status panel names it: "UMains", "Udc ripple", ...
  const char* Unit;       // "V" or "A"
  const char* LabelName;  // the monitor entry's label name, such as "UBatRippleStatusLabel"
};

const std::array<TLiveValueInfo, LiveValueCount>& LiveValues();

// The value's index in LiveValues() for a monitor entry's label name; -1 for another name.
int LiveValueIndex(const std::string& LabelName);

struct TLiveSample {
  TimePoint Time;  // to the millisecond
  float Value;     // NaN: the read failed
};

struct TLiveRow {
  TimePoint Time;  // when the cycle ended (or the idle row was made)
  std::array<std::string, LiveValueCount> Values;  // empty: not read in this cycle
  std::string Device;  // the device shown when the row was completed; empty: none
};

// The moment a device began to be shown, and its name.
struct TLiveMarker {
  TimePoint Time;
  std::string Device;
};

class TLiveHistory {
 public:
  static constexpr Duration DefaultSpan = std::chrono::hours(24);
  static constexpr Duration IdleRowPeriod = std::chrono::seconds(1);
  static constexpr std::size_t RowBuffer = 4096;

  // `Start` is the moment seconds are counted from; `WallStart` the wall-clock time at `Start`
  // (for the recordings' time stamps).
  explicit TLiveHistory(
      TimePoint Start = Now(),
      std::chrono::system_clock::time_point WallStart = std::chrono::system_clock::now(),
      Duration Span = DefaultSpan);

  // ---- the bus thread's side ----
  // One read of the monitor entry `LabelName`: `Ok` with the status panel's text of the value,
  // or a failed read (a gap). A text that is not a plain number counts as a failed read.
  void ValueRead(const std::string& LabelName, bool Ok, const std::string& Text, TimePoint At);
  // The polling cycle ended (the keep-alive frame): completes the row of its values.
  void CycleEnded(TimePoint At);
  // The bus thread cannot poll now: ends every line, completes the unfinished row at once, else
  // an empty row once IdleRowPeriod has passed since the last row.
  void Idle(TimePoint At);

  // ---- the side that shows the device ----
  // The values come from `Device` from now on (empty: no device is shown). Completes the row of
  // the values read before, ends every line and, for a device, sets a marker.
  void DeviceChanged(const std::string& Device, TimePoint At);

  // ---- the readers' side ----
  TimePoint Start() const { return start_; }
  // Milliseconds since the epoch (wall clock) of `At`.
  std::int64_t WallMs(TimePoint At) const;
  // Value `Index`'s samples from `From` on (oldest first) into `Out` (replaced). When there are
  // more than `MaxPoints` (0: no limit), consecutive samples are merged into buckets of which the
  // smallest and largest value are kept, in time order, so the drawn outline stays the same; a
  // bucket of failed reads only stays a gap.
  void Samples(int Index, TimePoint From, std::size_t MaxPoints,
               std::vector<TLiveSample>& Out) const;
  // The markers from `From` on (oldest first).
  std::vector<TLiveMarker> Markers(TimePoint From) const;
  // Samples held (all values together) and the oldest time of a sample or marker held (Start()
  // while none).
  std::size_t SampleCount() const;
  TimePoint Oldest() const;
  // Counts every change, so that a reader can tell whether anything arrived since it last looked.
  std::uint64_t Revision() const;

  // Rows completed so far (numbered from 0).
  std::uint64_t RowCount() const;
  // The rows numbered `Next` and later that are still kept; `Next` becomes RowCount(). Rows
  // dropped from the buffer before they were taken are skipped; `Skipped` (when given) counts them.
  std::vector<TLiveRow> RowsAfter(std::uint64_t& Next, std::uint64_t* Skipped = nullptr) const;

 private:
  // Samples are kept in 8 bytes: milliseconds after base_ and the value.
  struct TStored {
    std::uint32_t Ms;
    float Value;
  };
  void CompleteRow(TimePoint At);
  void EndLines(TimePoint At);
  void Drop(TimePoint At);
  std::uint32_t Stored(TimePoint At);
  TimePoint TimeOf(const TStored& S) const { return base_ + std::chrono::milliseconds(S.Ms); }

  mutable std::mutex mutex_;
  const TimePoint start_;
  const std::chrono::system_clock::time_point wall_start_;
  const Duration span_;
  TimePoint base_;  // moves on (every sample rewritten) before the offsets could overflow
  std::array<std::deque<TStored>, LiveValueCount> samples_;
  std::array<std::string, LiveValueCount> current_;
  bool current_used_ = false;
  std::string device_;
  std::deque<TLiveMarker> markers_;
  TimePoint last_row_;
  std::deque<TLiveRow> rows_;
  std::uint64_t row_count_ = 0;
  std::uint64_t revision_ = 0;
};

}  // namespace zo
