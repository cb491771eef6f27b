// The live chart: the seven live values over time, from the history the bus thread fills as it
// polls (see connection/LiveHistory.h), with a recording to CSV while the window is open.
//
// One time axis with its ticks at round times; the AC voltages on the left axis, the DC voltages
// on a second left axis (27 V would be a flat line on the 230 V scale), the currents on the right
// one, their ticks on one grid. Each value can be shown or hidden; the time span is the last 1,
// 5, 15 or 60 minutes, or all that is held. "Pause" holds the view while values are still kept
// and recorded, and says so in the plot. A line joins only readings of one polling run: a failed
// read, the bus lent to the window, a port change or a lost device leave a gap. A dashed vertical
// marker names each device from the moment the window showed it. The chart redraws at most
// twice a second, and only when something arrived. The window opens inside the screen at any
// scale.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointF>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "connection/LiveCsv.h"
#include "connection/LiveHistory.h"

class QCategoryAxis;
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

namespace zo {

class TLiveChartForm final : public QWidget {
 public:
  // The longest span drawn in full; longer ones are reduced to each stretch's extremes.
  static constexpr std::size_t MaxPointsPerValue = 4000;
  static constexpr int RedrawIntervalMs = 500;
  static constexpr std::size_t MaxGapsPerValue = 64;

  explicit TLiveChartForm(std::shared_ptr<TLiveHistory> History, QWidget* Parent = nullptr);
  ~TLiveChartForm() override;

  // Asks for the recording's file name; empty: cancelled. A save dialog unless a test replaces it.
  std::function<QString()> AskRecordFile;

  // Draws what the history holds now (the timer calls it when something arrived).
  void Redraw();
  // Starts recording the rows completed from now on to `Path`; false (after the error box) when
  // the file cannot be created.
  bool StartRecording(const QString& Path);
  void StopRecording();
  bool Recording() const { return csv_.IsOpen(); }
  // Writes the rows completed since the last call to the recording.
  void WritePendingRows();

  void SetPaused(bool Paused);
  bool Paused() const { return paused_; }

  // The points value `Index` shows now, every line piece in time order (x: milliseconds since
  // the epoch).
  std::vector<QPointF> Points(int Index) const;
  // The line pieces value `Index` shows now.
  int PieceCount(int Index) const { return used_pieces_[static_cast<std::size_t>(Index)]; }

  // A device marker as drawn: its time (milliseconds since the epoch) and the device's name.
  struct TMarker {
    qint64 Ms;
    QString Device;
  };
  const std::vector<TMarker>& Markers() const { return markers_; }
  // The time axis' tick labels, left to right.
  QStringList TimeTicks() const;
  // Sizes and places the window inside the available room of its screen.
  void FitToScreen();

  QComboBox* SpanComboBox;
  QPushButton* PauseButton;
  QPushButton* RecordButton;
  QLabel* RecordLabel;
  std::array<QCheckBox*, LiveValueCount> ShowCheckBoxes{};
  QChartView* ChartView;

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

 private:
  // The value axes: AC voltage, DC voltage, current.
  enum { AcAxis, DcAxis, AmpAxis, AxisCount };
  struct TRange {
    double Low = 0, High = 0;
    bool Any = false;
  };

  void Tick();
  void RecordClick();
  void DrawValue(int Index, TimePoint From, TRange& Range);
  void SetTimeTicks(qint64 FromMs, qint64 ToMs);
  void FitValueAxes(const std::array<TRange, AxisCount>& Ranges);
  // Draws the device markers and "Paused" over the plot.
  void DrawOverPlot(QPainter& Painter);
  QLineSeries* Piece(int Index, std::size_t Number);

  std::shared_ptr<TLiveHistory> history_;
  QChart* chart_;
  QCategoryAxis* time_axis_;
  std::array<QValueAxis*, AxisCount> value_axes_{};
  qint64 from_ms_ = 0, to_ms_ = 1;
  std::vector<TMarker> markers_;
  bool fitted_ = false;
  std::array<std::vector<QLineSeries*>, LiveValueCount> pieces_;
  std::array<int, LiveValueCount> used_pieces_{};
  QTimer* timer_;
  bool paused_ = false;
  std::uint64_t drawn_revision_ = ~std::uint64_t{0};
  TimePoint paused_at_{};
  TLiveCsvWriter csv_;
  std::uint64_t next_row_ = 0;
  std::uint64_t rows_written_ = 0;
  std::vector<TLiveSample> samples_;  // reused by every redraw
};

}  // namespace zo
