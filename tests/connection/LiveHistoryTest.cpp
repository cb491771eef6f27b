// The live history's bounds, on injected time: a day of values at most, a bounded row buffer,
// and a long span reduced for drawing without losing its extremes or its gaps.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "connection/LiveHistory.h"

namespace zo {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(LiveHistory, KeepsADayAndDrawsALongSpanWithItsExtremesAndGaps) {
  const TimePoint start{};
  TLiveHistory history(start);
  // 25 hours of one-second cycles; Udc peaks once and fails to read once in the last hour.
  const int cycles = 25 * 3600;
  for (int k = 0; k < cycles; ++k) {
    const TimePoint at = start + seconds(k);
    for (const TLiveValueInfo& value : LiveValues()) {
      const bool udc = std::string(value.Name) == "Udc";
      if (udc && k == cycles - 1000)
        history.ValueRead(value.LabelName, false, "", at);
      else
        history.ValueRead(value.LabelName, true, udc && k == cycles - 2000 ? "31.25" : "27.1",
                          at + milliseconds(100));
    }
    history.CycleEnded(at + milliseconds(900));
  }
  const TimePoint last = start + seconds(cycles - 1) + milliseconds(100);
  EXPECT_EQ(history.SampleCount(), static_cast<std::size_t>(LiveValueCount) * (24 * 3600 + 1));
  EXPECT_EQ(history.Oldest(), last - hours(24));
  EXPECT_EQ(history.RowCount(), static_cast<std::uint64_t>(cycles));
  std::uint64_t next = 0, skipped = 0;
  const std::vector<TLiveRow> rows = history.RowsAfter(next, &skipped);
  EXPECT_EQ(rows.size(), TLiveHistory::RowBuffer);
  EXPECT_EQ(skipped, static_cast<std::uint64_t>(cycles) - TLiveHistory::RowBuffer);
  EXPECT_EQ(rows.back().Values[4], "27.1");
  EXPECT_EQ(rows[TLiveHistory::RowBuffer - 1000].Values[4], "");  // the failed read
  EXPECT_EQ(rows[TLiveHistory::RowBuffer - 1000].Values[3], "27.1");

  std::vector<TLiveSample> drawn;
  const int udc = LiveValueIndex("UBatStatusLabel");
  history.Samples(udc, history.Oldest(), 3000, drawn);
  ASSERT_LE(drawn.size(), 3000u);
  ASSERT_GE(drawn.size(), 1000u);
  float high = 0;
  int gaps = 0;
  for (std::size_t i = 0; i < drawn.size(); ++i) {
    if (i > 0) {
      EXPECT_LE(drawn[i - 1].Time, drawn[i].Time);
    }
    if (std::isnan(drawn[i].Value))
      ++gaps;
    else
      high = std::max(high, drawn[i].Value);
  }
  EXPECT_EQ(high, 31.25f);
  EXPECT_EQ(gaps, 1);

  // Idle: the unfinished row at once, then an empty row every second.
  history.ValueRead("IBatStatusLabel", true, "-3.5", last + seconds(1));
  history.Idle(last + seconds(1));
  history.Idle(last + milliseconds(1500));
  history.Idle(last + seconds(2));
  const std::vector<TLiveRow> idle = history.RowsAfter(next);
  ASSERT_EQ(idle.size(), 2u);
  EXPECT_EQ(idle[0].Values[6], "-3.5");
  EXPECT_EQ(idle[1].Values, (std::array<std::string, LiveValueCount>{}));
}

// A polling run ends where the bus thread cannot poll or the device shown changes: each line gets
// one gap there, the values read before are completed into a row of the device they came from,
// and a marker names the next device.
TEST(LiveHistory, ARunEndsAtIdleAndAtADeviceChange) {
  const TimePoint start{};
  TLiveHistory history(start);
  history.DeviceChanged("Charger (1400012) on COM2", start);
  history.ValueRead("UBatStatusLabel", true, "13.4", start + seconds(1));
  history.Idle(start + seconds(2));
  history.Idle(start + milliseconds(2500));
  history.ValueRead("UBatStatusLabel", true, "13.5", start + seconds(4));
  history.DeviceChanged("", start + seconds(5));
  history.DeviceChanged("Multi (1711107) on COM1", start + seconds(6));
  history.ValueRead("UBatStatusLabel", true, "26.8", start + seconds(7));
  history.CycleEnded(start + seconds(8));

  std::vector<TLiveSample> udc;
  history.Samples(LiveValueIndex("UBatStatusLabel"), start, 0, udc);
  ASSERT_EQ(udc.size(), 5u);  // 13.4, gap, 13.5, gap, 26.8
  EXPECT_TRUE(std::isnan(udc[1].Value) && std::isnan(udc[3].Value));
  EXPECT_EQ(udc[3].Time, start + seconds(5));
  std::uint64_t next = 0;
  const std::vector<TLiveRow> rows = history.RowsAfter(next);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].Values[4], "13.5");
  EXPECT_EQ(rows[1].Device, "Charger (1400012) on COM2");
  EXPECT_EQ(rows[2].Device, "Multi (1711107) on COM1");
  const std::vector<TLiveMarker> markers = history.Markers(start + seconds(1));
  ASSERT_EQ(markers.size(), 1u);
  EXPECT_EQ(markers[0].Time, start + seconds(6));
}

// Weeks of polling: the times held stay exact after the offsets of the samples were moved on.
TEST(LiveHistory, TimesStayExactAfterWeeks) {
  const TimePoint start{};
  TLiveHistory history(start);
  const TimePoint times[] = {start + hours(24 * 41), start + hours(24 * 41) + milliseconds(1),
                             start + hours(24 * 60) + milliseconds(7)};
  for (const TimePoint at : times)
    history.ValueRead("UBatStatusLabel", true, "27.1", at);
  std::vector<TLiveSample> samples;
  history.Samples(4, start, 0, samples);
  ASSERT_EQ(samples.size(), 1u);  // a day is kept
  EXPECT_EQ(samples[0].Time, times[2]);
  history.Samples(4, times[2] - hours(24), 0, samples);
  EXPECT_EQ(samples.size(), 1u);
}

}  // namespace
}  // namespace zo
