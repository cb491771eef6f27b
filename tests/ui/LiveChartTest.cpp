// The live chart on the simulated inverter/charger: opened by a double-click on the status panel
// and from its menu item, its lines hold the values the bus thread's polling delivered, a hidden
// value draws nothing, and "Record..." writes them while the chart is open.
#include <QFile>
#include <QTemporaryDir>

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
    ASSERT_GE(samples.size(), points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
      EXPECT_EQ(points[k].x(), static_cast<double>(history.WallMs(samples[k].Time)));
      EXPECT_EQ(points[k].y(), static_cast<double>(samples[k].Value));
    }
  }
  chart->ShowCheckBoxes[4]->setChecked(false);
  EXPECT_TRUE(chart->Points(4).empty());

  // Closing the chart ends the recording; the menu item shows the chart again.
  chart->close();
  EXPECT_FALSE(chart->Recording());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines[0].toStdString() + "\n", TLiveCsvWriter::HeaderText());
  EXPECT_EQ(lines[1].count(','), 8);
  form_->Livechart1->trigger();
  EXPECT_EQ(form_->LiveChart(), chart);
  EXPECT_TRUE(chart->isVisible());
}

}  // namespace
}  // namespace zo::test
