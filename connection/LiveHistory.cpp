#include "connection/LiveHistory.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace zo {

namespace {

constexpr std::array<TLiveValueInfo, LiveValueCount> Values = {{
    {"UMains", "V", "UMainsStatusLabel"},
    {"IMains", "A", "IMainsStatusLabel"},
    {"UInverter", "V", "UInverterStatusLabel"},
    {"IInverter", "A", "IInverterStatusLabel"},
    {"Udc", "V", "UBatStatusLabel"},
    {"Udc ripple", "V", "UBatRippleStatusLabel"},
    {"Idc", "A", "IBatStatusLabel"},
}};

constexpr float Gap = std::numeric_limits<float>::quiet_NaN();

// A plain decimal number: an optional minus, digits, optionally a dot and more digits.
bool PlainNumber(const std::string& Text, float& Value) {
  std::size_t i = Text.empty() || Text[0] != '-' ? 0 : 1;
  std::size_t digits = 0;
  bool dot = false;
  for (; i < Text.size(); ++i) {
    if (Text[i] >= '0' && Text[i] <= '9')
      ++digits;
    else if (Text[i] == '.' && !dot)
      dot = true;
    else
      return false;
  }
  if (digits == 0) return false;
  return std::from_chars(Text.data(), Text.data() + Text.size(), Value).ec == std::errc{};
}

}  // namespace

const std::array<TLiveValueInfo, LiveValueCount>& LiveValues() {
  return Values;
}

int LiveValueIndex(const std::string& LabelName) {
  for (int i = 0; i < LiveValueCount; ++i)
    if (LabelName == Values[static_cast<std::size_t>(i)].LabelName) return i;
  return -1;
}

TLiveHistory::TLiveHistory(TimePoint Start, std::chrono::system_clock::time_point WallStart,
                           Duration Span)
    : start_(Start), wall_start_(WallStart), span_(Span), base_(Start), last_row_(Start) {}

std::uint32_t TLiveHistory::Stored(TimePoint At) {
  using std::chrono::milliseconds;
  if (At < base_) At = base_;  // the clock is monotonic: only a caller's own times go back
  // An offset must stay far below 2^32 ms (49 days): move the base to the oldest sample held.
  if (At - base_ > std::chrono::hours(24 * 40)) {
    TimePoint oldest = At;
    for (const auto& samples : samples_)
      if (!samples.empty()) oldest = std::min(oldest, TimeOf(samples.front()));
    const auto shift = static_cast<std::uint32_t>(
        std::chrono::duration_cast<milliseconds>(oldest - base_).count());
    for (auto& samples : samples_)
      for (TStored& s : samples)
        s.Ms -= shift;
    base_ += milliseconds(shift);
  }
  return static_cast<std::uint32_t>(std::chrono::duration_cast<milliseconds>(At - base_).count());
}

void TLiveHistory::ValueRead(const std::string& LabelName, bool Ok, const std::string& Text,
                             TimePoint At) {
  const int index = LiveValueIndex(LabelName);
  if (index < 0) return;
  float value = Gap;
  if (Ok && !PlainNumber(Text, value)) Ok = false;
  std::lock_guard<std::mutex> lock(mutex_);
  Drop(At);
  samples_[static_cast<std::size_t>(index)].push_back({Stored(At), Ok ? value : Gap});
  current_[static_cast<std::size_t>(index)] = Ok ? Text : std::string();
  current_used_ = true;
  ++revision_;
}

void TLiveHistory::CycleEnded(TimePoint At) {
  std::lock_guard<std::mutex> lock(mutex_);
  CompleteRow(At);
}

void TLiveHistory::Idle(TimePoint At) {
  std::lock_guard<std::mutex> lock(mutex_);
  Drop(At);
  EndLines(At);
  if (current_used_ || At - last_row_ >= IdleRowPeriod) CompleteRow(At);
}

void TLiveHistory::DeviceChanged(const std::string& Device, TimePoint At) {
  std::lock_guard<std::mutex> lock(mutex_);
  Drop(At);
  EndLines(At);
  if (current_used_) CompleteRow(At);
  device_ = Device;
  if (!Device.empty()) markers_.push_back({At, Device});
  ++revision_;
}

void TLiveHistory::EndLines(TimePoint At) {
  for (auto& samples : samples_)
    if (!samples.empty() && !std::isnan(samples.back().Value)) {
      samples.push_back({Stored(At), Gap});
      ++revision_;
    }
}

void TLiveHistory::CompleteRow(TimePoint At) {
  rows_.push_back({At, current_, device_});
  if (rows_.size() > RowBuffer) rows_.pop_front();
  ++row_count_;
  for (std::string& text : current_)
    text.clear();
  current_used_ = false;
  last_row_ = At;
  ++revision_;
}

void TLiveHistory::Drop(TimePoint At) {
  for (auto& samples : samples_)
    while (!samples.empty() && At - TimeOf(samples.front()) > span_)
      samples.pop_front();
  while (!markers_.empty() && At - markers_.front().Time > span_)
    markers_.pop_front();
}

std::vector<TLiveMarker> TLiveHistory::Markers(TimePoint From) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<TLiveMarker> markers;
  for (const TLiveMarker& marker : markers_)
    if (marker.Time >= From) markers.push_back(marker);
  return markers;
}

std::int64_t TLiveHistory::WallMs(TimePoint At) const {
  const auto wall =
      wall_start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(At - start_);
  return std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
}

void TLiveHistory::Samples(int Index, TimePoint From, std::size_t MaxPoints,
                           std::vector<TLiveSample>& Out) const {
  Out.clear();
  if (Index < 0 || Index >= LiveValueCount) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& samples = samples_[static_cast<std::size_t>(Index)];
  const auto first = std::partition_point(samples.begin(), samples.end(),
                                          [&](const TStored& s) { return TimeOf(s) < From; });
  const std::size_t count = static_cast<std::size_t>(samples.end() - first);
  if (MaxPoints == 0 || count <= MaxPoints) {
    Out.reserve(count);
    for (auto it = first; it != samples.end(); ++it)
      Out.push_back({TimeOf(*it), it->Value});
    return;
  }
  // Up to three points per bucket (smallest, largest, first gap), so buckets of a third.
  const std::size_t buckets = std::max<std::size_t>(1, MaxPoints / 3);
  Out.reserve(buckets * 3);
  for (std::size_t b = 0; b < buckets; ++b) {
    const auto begin = first + static_cast<std::ptrdiff_t>(count * b / buckets);
    const auto end = first + static_cast<std::ptrdiff_t>(count * (b + 1) / buckets);
    auto low = end, high = end, gap = end;
    for (auto it = begin; it != end; ++it) {
      if (std::isnan(it->Value)) {
        if (gap == end) gap = it;
        continue;
      }
      if (low == end || it->Value < low->Value) low = it;
      if (high == end || it->Value > high->Value) high = it;
    }
    std::array<decltype(low), 3> picked{low, high, gap};
    std::sort(picked.begin(), picked.end());
    for (std::size_t i = 0; i < picked.size(); ++i)
      if (picked[i] != end && (i == 0 || picked[i] != picked[i - 1]))
        Out.push_back({TimeOf(*picked[i]), picked[i]->Value});
  }
}

std::size_t TLiveHistory::SampleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t count = 0;
  for (const auto& samples : samples_)
    count += samples.size();
  return count;
}

TimePoint TLiveHistory::Oldest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  TimePoint oldest = TimePoint::max();
  for (const auto& samples : samples_)
    if (!samples.empty()) oldest = std::min(oldest, TimeOf(samples.front()));
  if (!markers_.empty()) oldest = std::min(oldest, markers_.front().Time);
  return oldest == TimePoint::max() ? start_ : oldest;
}

std::uint64_t TLiveHistory::Revision() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return revision_;
}

std::uint64_t TLiveHistory::RowCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return row_count_;
}

std::vector<TLiveRow> TLiveHistory::RowsAfter(std::uint64_t& Next, std::uint64_t* Skipped) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t first_kept = row_count_ - rows_.size();
  if (Skipped != nullptr) *Skipped = Next < first_kept ? first_kept - Next : 0;
  const std::uint64_t from = std::max(Next, first_kept);
  std::vector<TLiveRow> rows;
  if (from < row_count_)
    rows.assign(rows_.begin() + static_cast<std::ptrdiff_t>(from - first_kept), rows_.end());
  Next = row_count_;
  return rows;
}

}  // namespace zo
