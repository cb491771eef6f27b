// The live values over time: the extra memory of 24 hours of values held with the last hour on
// the chart, and the extra CPU while values keep arriving, the chart redraws and a recording is
// written. The values arrive as the bus thread hands them over (seven reads and a cycle's end
// every 0.7 s, the DL1's polling cycle and so the most values a day can bring); the bus traffic
// itself is not counted, since polling runs anyway. Prints the figures as rows of the benchmark
// table ("ROW|operation|value|unit|note|target"); asserts nothing.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "connection/LiveHistory.h"
#include "threads/MainThread.h"
#include "threads/UiServices.h"
#include "ui/LiveChart.h"
#include "ui/QtMainThread.h"
#include "ui/QtUiServices.h"

namespace {

using namespace zo;

constexpr auto kCycle = std::chrono::milliseconds(700);

double ResidentMB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One polling cycle's values, varying so that the chart draws real lines.
void Cycle(TLiveHistory& History, TimePoint At, long Number) {
  static const char* texts[] = {"231", "5.4", "230", "4.3", "27.1", "0.1", "12"};
  static const char* others[] = {"232", "5.6", "229", "4.1", "27.3", "0.2", "-3"};
  for (int i = 0; i < LiveValueCount; ++i) {
    const bool other = (Number + i) % 3 == 0;
    History.ValueRead(LiveValues()[static_cast<std::size_t>(i)].LabelName, true,
                      other ? others[i] : texts[i], At + kCycle * i / 8);
  }
  History.CycleEnded(At + kCycle * 7 / 8);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  QApplication app(argc, argv);
  TQtMainThread main_thread;
  SetMainThread(&main_thread);
  TQtUiServices ui;
  SetUi(&ui);
  // The program already shows its main window: a window with widgets, shown and painted, is part
  // of the baseline, not of the extra.
  QWidget main_window;
  main_window.resize(640, 460);
  auto* layout = new QVBoxLayout(&main_window);
  layout->addWidget(new QLabel(QStringLiteral("UMains 232 V"), &main_window));
  layout->addWidget(new QPushButton(QStringLiteral("&Get settings"), &main_window));
  layout->addWidget(new QComboBox(&main_window));
  main_window.show();
  QTimer::singleShot(500, [] { QApplication::quit(); });
  QApplication::exec();
  const double base_mb = ResidentMB();
  int status = 0;
  {
    // A day of values, arrived before now.
    const auto day = std::chrono::hours(24);
    const long cycles = static_cast<long>(day / kCycle);
    const TimePoint now = Now();
    auto history = std::make_shared<TLiveHistory>(
        now - day, std::chrono::system_clock::now() - std::chrono::hours(24));
    long number = 0;
    for (; number < cycles; ++number)
      Cycle(*history, now - day + kCycle * number, number);
    const double held_mb = ResidentMB();

    auto* chart = new TLiveChartForm(history);
    chart->SpanComboBox->setCurrentIndex(3);  // 60 minutes
    chart->show();
    chart->StartRecording(QStringLiteral("/dev/null"));
    QTimer feed;
    feed.setInterval(static_cast<int>(kCycle.count()));
    QObject::connect(&feed, &QTimer::timeout, [&] { Cycle(*history, Now(), number++); });
    // Settle the first full redraw before measuring.
    QTimer::singleShot(1000, [] { QApplication::quit(); });
    QApplication::exec();
    feed.start();
    const double cpu0 = CpuSeconds();
    const TimePoint t0 = Now();
    QTimer::singleShot(seconds * 1000, [] { QApplication::quit(); });
    QApplication::exec();
    const double wall = MillisecondsBetween(t0, Now()) / 1000.0;
    const double share = 100.0 * (CpuSeconds() - cpu0) / wall;
    const double total_mb = ResidentMB();
    const std::size_t shown = chart->Points(0).size();
    feed.stop();
    delete chart;

    std::printf(
        "ROW|live chart: extra CPU (24 h, 1 h shown)|%.2f|%%|%s platform, %.0f s, "
        "%zu points per line, recording|< 1 %% of one core\n",
        share, qPrintable(QApplication::platformName()), wall, shown);
    std::printf("ROW|live values: extra memory (24 h held)|%.1f|MB|%ld cycles of 7 values|-\n",
                held_mb - base_mb, cycles);
    std::printf(
        "ROW|live values and chart: extra memory|%.1f|MB|24 h held, 1 h on screen|"
        "< 20 MB\n",
        total_mb - base_mb);
    if (shown == 0) status = 1;
  }
  SetUi(nullptr);
  SetMainThread(nullptr);
  return status;
}
