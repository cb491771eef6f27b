// The live chart on the simulated inverter/charger: opened by a double-click on the status panel
// and from its menu item, its lines hold the values the bus thread's polling delivered, a hidden
// value draws nothing, and "Record..." writes them while the chart is open.
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTime>
#include <cmath>

#include "tests/ui/WindowTestSupport.h"
#include "ui/LiveChart.h"

namespace zo::test {
namespace {

class LiveChart : public WindowTest {
 protected:
  void SetUp() override { StartDemo(); }
};

TEST_F(LiveChart, OpensFromTheStatusPanelDrawsWhatWasPolledAndRecords) {
  Start();
  ASSERT_TRUE(Connect(1));
  QTest::mouseDClick(form_->Panel1, Qt::LeftButton);
  TLiveChartForm* chart = form_->LiveChart();
  ASSERT_NE(chart, nullptr);
  EXPECT_TRUE(chart->isVisible());

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("live.csv"));
  chart->AskRecordFile = [&] { return path; };
  QTest::mouseClick(chart->RecordButton, Qt::LeftButton);
  ASSERT_TRUE(chart->Recording());
  const TLiveHistory& history = *form_->LiveHistory();
  const std::uint64_t rows = history.RowCount();
  ASSERT_TRUE(WaitFor([&] { return history.RowCount() >= rows + 2; }));

  // Paused, the view holds what had arrived; it is every value delivered, in order.
  chart->SpanComboBox->setCurrentIndex(chart->SpanComboBox->count() - 1);  // all
  QTest::mouseClick(chart->PauseButton, Qt::LeftButton);
  ASSERT_TRUE(chart->Paused());
  for (int i = 0; i < LiveValueCount; ++i) {
    const std::vector<QPointF> points = chart->Points(i);
    std::vector<TLiveSample> samples;
    history.Samples(i, history.Start(), 0, samples);
    ASSERT_GE(points.size(), 2u) << LiveValues()[static_cast<std::size_t>(i)].Name;
    samples.erase(std::remove_if(samples.begin(), samples.end(),
                                 [](const TLiveSample& s) { return std::isnan(s.Value); }),
                  samples.end());
    ASSERT_GE(samples.size(), points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
      EXPECT_EQ(points[k].x(), static_cast<double>(history.WallMs(samples[k].Time)));
      EXPECT_EQ(points[k].y(), static_cast<double>(samples[k].Value));
    }
  }
  chart->ShowCheckBoxes[4]->setChecked(false);
  EXPECT_TRUE(chart->Points(4).empty());

  // Closing the chart ends the recording; the menu item shows the chart again.
  // Opened inside the screen (the offscreen screen is smaller than the chart would like).
  EXPECT_TRUE(chart->screen()->availableGeometry().contains(chart->frameGeometry()));

  chart->close();
  EXPECT_FALSE(chart->Recording());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines[0].toStdString() + "\n", TLiveCsvWriter::HeaderText());
  EXPECT_EQ(lines[1].count(','), 9);
  form_->Livechart1->trigger();
  EXPECT_EQ(form_->LiveChart(), chart);
  EXPECT_TRUE(chart->isVisible());
}

// The target changes from the 24 V inverter/charger on COM1 to the 12 V charger on COM2 while
// the chart records. No value is drawn or recorded that was not read from the device shown with
// its own addresses (the previous version's addresses read plain memory, 0, from the next device);
// the lines break between the two devices; a marker names each; every row names its device; the
// time ticks fall on round steps; and a file name without extension gets ".csv".
TEST_F(LiveChart, ADeviceChangeIsMarkedAndBreaksTheLinesWithoutFalseValues) {
  Start();
  ASSERT_TRUE(Connect(1));
  form_->Livechart1->trigger();
  TLiveChartForm* chart = form_->LiveChart();
  ASSERT_NE(chart, nullptr);
  QTemporaryDir dir;
  chart->AskRecordFile = [&] { return dir.filePath(QStringLiteral("switch")); };
  QTest::mouseClick(chart->RecordButton, Qt::LeftButton);
  ASSERT_TRUE(chart->Recording());
  const TLiveHistory& history = *form_->LiveHistory();
  std::uint64_t rows = history.RowCount();
  ASSERT_TRUE(WaitFor([&] { return history.RowCount() >= rows + 2; }));

  form_->Com21->trigger();
  ASSERT_TRUE(WaitFor([&] {
    return form_->Com21->isChecked() && form_->PanelActive() && !form_->ActionPending();
  }));
  rows = history.RowCount();
  ASSERT_TRUE(WaitFor([&] { return history.RowCount() >= rows + 3; }));
  chart->SpanComboBox->setCurrentIndex(chart->SpanComboBox->count() - 1);  // all
  chart->Redraw();

  // COM1's device, then COM2's. A busy machine may lose and find COM1's device again, which is
  // marked as well: every marker before the last names COM1's device.
  const std::vector<TLiveMarker> markers = history.Markers(history.Start());
  ASSERT_GE(markers.size(), 2u);
  for (std::size_t i = 0; i + 1 < markers.size(); ++i)
    EXPECT_TRUE(QString::fromStdString(markers[i].Device)
                    .endsWith(QStringLiteral(" (%1) on COM1").arg(sim::DemoInverterVersion)))
        << markers[i].Device;
  const TLiveMarker& change = markers.back();
  EXPECT_EQ(change.Device, form_->DeviceTypeLabel->text().toStdString() + " (" +
                               std::to_string(sim::DemoChargerVersion) + ") on COM2");
  ASSERT_EQ(chart->Markers().size(), markers.size());
  EXPECT_EQ(chart->Markers().back().Device.toStdString(), change.Device);

  // Udc: 24 V readings, a gap, then 12 V readings; never a value read with the wrong addresses.
  const int udc = LiveValueIndex("UBatStatusLabel");
  std::vector<TLiveSample> samples;
  history.Samples(udc, history.Start(), 0, samples);
  bool gap = false, before = false, after = false;
  for (const TLiveSample& s : samples) {
    if (std::isnan(s.Value)) {
      gap = gap || (before && !after);
      continue;
    }
    const bool second = s.Time >= change.Time;
    EXPECT_NEAR(s.Value, second ? 13.4 : 26.8, 1.0);
    (second ? after : before) = true;
  }
  EXPECT_TRUE(before && gap && after);
  EXPECT_GE(chart->PieceCount(udc), 2);

  const QStringList ticks = chart->TimeTicks();
  ASSERT_GE(ticks.size(), 2);
  const int step = QTime::fromString(ticks[0]).secsTo(QTime::fromString(ticks[1]));
  for (const QString& tick : ticks)
    EXPECT_EQ(QTime::fromString(tick).msecsSinceStartOfDay() % (step * 1000), 0)
        << tick.toStdString();

  chart->close();
  QFile file(dir.filePath(QStringLiteral("switch.csv")));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  int named[2] = {0, 0};
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QList<QByteArray> fields = lines[i].split(',');
    if (fields.size() < 10) continue;
    const QByteArray device = fields[9];
    const bool values = !fields[2 + udc].isEmpty();
    if (values) {
      EXPECT_FALSE(device.isEmpty()) << lines[i].toStdString();
    }
    if (device.endsWith("on COM1")) ++named[0];
    if (device.endsWith("on COM2")) {
      ++named[1];
      if (values) {
        EXPECT_NEAR(fields[2 + udc].toDouble(), 13.4, 1.0) << lines[i].toStdString();
      }
    }
  }
  EXPECT_GT(named[0], 0);
  EXPECT_GT(named[1], 0);
}

}  // namespace
}  // namespace zo::test
