#include "ui/LiveChart.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "threads/UiServices.h"
#include "ui/QtUiServices.h"

namespace zo {

namespace {

struct TSpan {
  const char* Caption;
  int Minutes;  // 0: all that is held
};

constexpr TSpan Spans[] = {
    {"1 minute", 1}, {"5 minutes", 5}, {"15 minutes", 15}, {"60 minutes", 60}, {"All", 0}};

// The value axis of value `Index`: the DC voltages have their own.
int AxisOf(int Index) {
  const TLiveValueInfo& info = LiveValues()[static_cast<std::size_t>(Index)];
  if (std::strcmp(info.Unit, "V") != 0) return 2;
  return std::strncmp(info.Name, "Udc", 3) == 0 ? 1 : 0;
}

QPixmap Swatch(const QColor& Colour) {
  QPixmap pixmap(12, 12);
  pixmap.fill(Colour);
  return pixmap;
}

// Every value axis has this many intervals, so that their ticks fall on the one grid.
constexpr int ValueIntervals = 5;

// The smallest step of 1, 2, 2.5 or 5 times a power of ten of at least `Least`.
double NiceStep(double Least) {
  if (!(Least > 0)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(Least)));
  for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (factor * power >= Least * (1 - 1e-9)) return factor * power;
  return 10 * power;
}

// A value axis over [Low, High] with a little room, ValueIntervals round steps, and a sensible
// range without values. Values that are all positive keep the axis at or above zero.
void FitAxis(QValueAxis* Axis, double Low, double High, bool Any) {
  double low = 0, high = 1;
  if (Any) {
    const double room = std::max((High - Low) * 0.05, 0.5);
    low = Low >= 0 ? std::max(0.0, Low - room) : Low - room;
    high = High + room;
  }
  double step = NiceStep((high - low) / ValueIntervals);
  double first = std::floor(low / step) * step;
  while (first + ValueIntervals * step < high) {
    step = NiceStep(step * 1.01);
    first = std::floor(low / step) * step;
  }
  Axis->setTickCount(ValueIntervals + 1);
  Axis->setRange(first, first + ValueIntervals * step);
}

// Steps of the time ticks, in seconds.
constexpr int TimeSteps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                             600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};

// The chart view draws the markers and "Paused" over the plot.
class TLiveChartView final : public QChartView {
 public:
  TLiveChartView(QChart* Chart, QWidget* Parent, std::function<void(QPainter&)> Over)
      : QChartView(Chart, Parent), over_(std::move(Over)) {}

 protected:
  void drawForeground(QPainter* Painter, const QRectF& Rect) override {
    QChartView::drawForeground(Painter, Rect);
    Painter->save();
    over_(*Painter);
    Painter->restore();
  }

 private:
  std::function<void(QPainter&)> over_;
};

}  // namespace

TLiveChartForm::TLiveChartForm(std::shared_ptr<TLiveHistory> History, QWidget* Parent)
    : QWidget(Parent, Qt::Window), history_(std::move(History)) {
  setObjectName(QStringLiteral("LiveChartForm"));
  setWindowTitle(QStringLiteral("Live chart"));
  resize(900, 520);

  chart_ = new QChart;
  chart_->legend()->hide();
  chart_->setMargins(QMargins(4, 4, 4, 4));
  time_axis_ = new QCategoryAxis;
  time_axis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  time_axis_->setTitleText(QStringLiteral("Time"));
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  const char* titles[AxisCount] = {"AC voltage (V)", "DC voltage (V)", "Current (A)"};
  for (int a = 0; a < AxisCount; ++a) {
    auto* axis = new QValueAxis;
    axis->setTitleText(QString::fromLatin1(titles[a]));
    axis->setLabelFormat(QStringLiteral("%g"));
    // One grid: the time axis' lines and those of the first value axis.
    axis->setGridLineVisible(a == AcAxis);
    axis->setMinorGridLineVisible(false);
    chart_->addAxis(axis, a == AmpAxis ? Qt::AlignRight : Qt::AlignLeft);
    value_axes_[static_cast<std::size_t>(a)] = axis;
  }
  ChartView = new TLiveChartView(chart_, this, [this](QPainter& P) { DrawOverPlot(P); });
  ChartView->setObjectName(QStringLiteral("LiveChartView"));
  ChartView->setRenderHint(QPainter::Antialiasing);
  ChartView->setMinimumSize(240, 160);

  auto* values = new QVBoxLayout;
  for (int i = 0; i < LiveValueCount; ++i) {
    const TLiveValueInfo& info = LiveValues()[static_cast<std::size_t>(i)];
    // The first piece of each line takes the chart theme's colour for it; later pieces copy it.
    QLineSeries* first = Piece(i, 0);
    // The theme has fewer colours than there are values: a repeated one is made darker.
    for (int k = 0; k < i; ++k)
      if (pieces_[static_cast<std::size_t>(k)].front()->color() == first->color())
        first->setColor(first->color().darker(170));
    auto* box = new QCheckBox(QString::fromLatin1(info.Name) + " (" + info.Unit + ")", this);
    box->setObjectName(QString::fromLatin1(info.Name).remove(' ') + "ShowCheckBox");
    box->setIcon(Swatch(first->color()));
    box->setChecked(true);
    connect(box, &QCheckBox::toggled, this, [this] {
      drawn_revision_ = ~std::uint64_t{0};
      Redraw();
    });
    ShowCheckBoxes[static_cast<std::size_t>(i)] = box;
    values->addWidget(box);
  }
  values->addSpacing(12);
  auto* span_label = new QLabel(QStringLiteral("Time &span:"), this);
  values->addWidget(span_label);
  SpanComboBox = new QComboBox(this);
  span_label->setBuddy(SpanComboBox);
  SpanComboBox->setObjectName(QStringLiteral("SpanComboBox"));
  for (const TSpan& span : Spans)
    SpanComboBox->addItem(QString::fromLatin1(span.Caption), span.Minutes);
  SpanComboBox->setCurrentIndex(1);
  connect(SpanComboBox, &QComboBox::activated, this, [this] {
    drawn_revision_ = ~std::uint64_t{0};
    Redraw();
  });
  values->addWidget(SpanComboBox);
  PauseButton = new QPushButton(QStringLiteral("&Pause"), this);
  PauseButton->setObjectName(QStringLiteral("PauseButton"));
  connect(PauseButton, &QPushButton::clicked, this, [this] { SetPaused(!paused_); });
  values->addWidget(PauseButton);
  RecordButton = new QPushButton(QStringLiteral("&Record..."), this);
  RecordButton->setObjectName(QStringLiteral("RecordButton"));
  connect(RecordButton, &QPushButton::clicked, this, [this] { RecordClick(); });
  values->addWidget(RecordButton);
  RecordLabel = new QLabel(this);
  RecordLabel->setObjectName(QStringLiteral("RecordLabel"));
  RecordLabel->setWordWrap(true);
  RecordLabel->setMaximumWidth(170);
  values->addWidget(RecordLabel);
  values->addStretch(1);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(ChartView, 1);
  layout->addLayout(values);

  AskRecordFile = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Record live values"), QString(),
                                        QStringLiteral("CSV files (*.csv);;All files (*)"));
  };
  timer_ = new QTimer(this);
  timer_->setInterval(RedrawIntervalMs);
  connect(timer_, &QTimer::timeout, this, [this] { Tick(); });
}

TLiveChartForm::~TLiveChartForm() {
  StopRecording();
}

QLineSeries* TLiveChartForm::Piece(int Index, std::size_t Number) {
  auto& pieces = pieces_[static_cast<std::size_t>(Index)];
  while (pieces.size() <= Number) {
    auto* series = new QLineSeries;
    chart_->addSeries(series);
    series->attachAxis(time_axis_);
    series->attachAxis(value_axes_[static_cast<std::size_t>(AxisOf(Index))]);
    if (!pieces.empty()) series->setColor(pieces.front()->color());
    pieces.push_back(series);
  }
  return pieces[Number];
}

void TLiveChartForm::FitToScreen() {
  QWidget* anchor = parentWidget() ? parentWidget()->window() : this;
  QScreen* screen = anchor->screen();
  if (screen == nullptr) return;
  const QRect room = screen->availableGeometry();
  // The frame is not known before the window is shown: leave room for a title bar and borders.
  const QSize frame(16, 48);
  const QSize size = QSize(900, 520)
                         .boundedTo(room.size() - frame)
                         .expandedTo(minimumSizeHint())
                         .boundedTo(room.size());
  resize(size);
  QRect place(QPoint(0, 0), size + frame);
  place.moveCenter(anchor->frameGeometry().center());
  place.moveLeft(std::clamp(place.left(), room.left(),
                            std::max(room.left(), room.right() + 1 - place.width())));
  place.moveTop(std::clamp(place.top(), room.top(),
                           std::max(room.top(), room.bottom() + 1 - place.height())));
  move(place.topLeft());
}

void TLiveChartForm::showEvent(QShowEvent* Event) {
  if (!fitted_) {
    fitted_ = true;
    FitToScreen();
  }
  QWidget::showEvent(Event);
  timer_->start();
  drawn_revision_ = ~std::uint64_t{0};
  Redraw();
}

void TLiveChartForm::closeEvent(QCloseEvent* Event) {
  // The recording belongs to the open chart.
  WritePendingRows();
  StopRecording();
  timer_->stop();
  QWidget::closeEvent(Event);
}

void TLiveChartForm::Tick() {
  WritePendingRows();
  if (!paused_ && history_->Revision() != drawn_revision_) Redraw();
}

void TLiveChartForm::SetPaused(bool Paused) {
  paused_ = Paused;
  if (paused_) paused_at_ = Now();
  PauseButton->setText(paused_ ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
  drawn_revision_ = ~std::uint64_t{0};
  Redraw();
}

void TLiveChartForm::Redraw() {
  const TimePoint to = paused_ ? paused_at_ : Now();
  const int minutes = SpanComboBox->currentData().toInt();
  const TimePoint from =
      minutes > 0 ? to - std::chrono::minutes(minutes) : std::min(history_->Oldest(), to);
  drawn_revision_ = history_->Revision();
  std::array<TRange, AxisCount> ranges{};
  for (int i = 0; i < LiveValueCount; ++i)
    DrawValue(i, from, ranges[static_cast<std::size_t>(AxisOf(i))]);
  from_ms_ = history_->WallMs(from);
  to_ms_ = std::max<qint64>(history_->WallMs(to), from_ms_ + 1);
  SetTimeTicks(from_ms_, to_ms_);
  FitValueAxes(ranges);
  markers_.clear();
  for (const TLiveMarker& marker : history_->Markers(from))
    if (marker.Time <= to) markers_.push_back({history_->WallMs(marker.Time), ToQt(marker.Device)});
  ChartView->viewport()->update();
}

void TLiveChartForm::FitValueAxes(const std::array<TRange, AxisCount>& Ranges) {
  // The grid belongs to the first axis that has values to show.
  int grid = -1;
  for (int a = 0; a < AxisCount; ++a) {
    const TRange& r = Ranges[static_cast<std::size_t>(a)];
    QValueAxis* axis = value_axes_[static_cast<std::size_t>(a)];
    FitAxis(axis, r.Low, r.High, r.Any);
    if (grid < 0 && r.Any) grid = a;
  }
  for (int a = 0; a < AxisCount; ++a)
    value_axes_[static_cast<std::size_t>(a)]->setGridLineVisible(a == std::max(grid, 0));
}

void TLiveChartForm::SetTimeTicks(qint64 FromMs, qint64 ToMs) {
  // As many ticks as their labels leave room for, at the smallest round step that gives no more.
  const QFontMetrics metrics(time_axis_->labelsFont());
  const int label = metrics.horizontalAdvance(QStringLiteral("00:00:00")) * 2;
  const qreal width = chart_->plotArea().width() > 0 ? chart_->plotArea().width() : 600;
  const int most = std::max(2, static_cast<int>(width / label));
  qint64 step = 0;
  for (const int seconds : TimeSteps) {
    step = qint64{seconds} * 1000;
    if ((ToMs - FromMs) / step <= most) break;
  }
  // Round in local time: whole minutes and hours of the clock on the wall.
  const qint64 offset = qint64{QDateTime::fromMSecsSinceEpoch(FromMs).offsetFromUtc()} * 1000;
  qint64 tick = ((FromMs + offset + step - 1) / step) * step - offset;
  const QString format = step < 60000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
  for (const QString& old : time_axis_->categoriesLabels())
    time_axis_->remove(old);
  time_axis_->setStartValue(static_cast<qreal>(FromMs));
  for (; tick <= ToMs; tick += step)
    if (tick > FromMs)
      time_axis_->append(QDateTime::fromMSecsSinceEpoch(tick).toString(format),
                         static_cast<qreal>(tick));
  time_axis_->setRange(static_cast<qreal>(FromMs), static_cast<qreal>(ToMs));
}

QStringList TLiveChartForm::TimeTicks() const {
  return time_axis_->categoriesLabels();
}

void TLiveChartForm::DrawOverPlot(QPainter& Painter) {
  const QRectF plot = chart_->plotArea();
  if (plot.width() <= 0 || plot.height() <= 0) return;
  const QColor ink = time_axis_->labelsBrush().color();
  const QColor paper(255, 255, 255, 220);
  Painter.setClipRect(plot);
  QFont font = time_axis_->labelsFont();
  // "Paused" at the top right; the device names below it.
  double top = plot.top() + 2;
  if (paused_) {
    QFont big = font;
    big.setBold(true);
    big.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 1.4 : 12);
    Painter.setFont(big);
    const QFontMetrics metrics(big);
    const QString text = QStringLiteral("Paused");
    QRectF box(0, 0, metrics.horizontalAdvance(text) + 16, metrics.height() + 8);
    box.moveTopRight(QPointF(plot.right() - 8, plot.top() + 8));
    Painter.fillRect(box, paper);
    Painter.setPen(QPen(ink, 1));
    Painter.drawRect(box);
    Painter.drawText(box, Qt::AlignCenter, text);
    top = box.bottom() + 6;
  }
  Painter.setFont(font);
  const QFontMetrics metrics(font);
  const double span = static_cast<double>(to_ms_ - from_ms_);
  for (std::size_t m = 0; m < markers_.size(); ++m) {
    const double x =
        plot.left() + static_cast<double>(markers_[m].Ms - from_ms_) / span * plot.width();
    Painter.setPen(QPen(ink, 1.5, Qt::DashLine));
    Painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    // The name beside the line, in the plot; markers that follow each other step down.
    const QString text = markers_[m].Device;
    const int w = metrics.horizontalAdvance(text) + 6;
    const double y = top + static_cast<double>(m % 3) * (metrics.height() + 4);
    QRectF box(x + 3, y, w, metrics.height() + 2);
    if (box.right() > plot.right() && x - 3 - w >= plot.left()) box.moveRight(x - 3);
    Painter.fillRect(box, paper);
    Painter.setPen(ink);
    Painter.drawText(box, Qt::AlignCenter, text);
  }
}

void TLiveChartForm::DrawValue(int Index, TimePoint From, TRange& Range) {
  const std::size_t index = static_cast<std::size_t>(Index);
  samples_.clear();
  const bool shown = ShowCheckBoxes[index]->isChecked();
  if (shown) history_->Samples(Index, From, MaxPointsPerValue, samples_);
  if (paused_) {
    const TimePoint to = paused_at_;
    samples_.erase(std::find_if(samples_.begin(), samples_.end(),
                                [to](const TLiveSample& s) { return s.Time > to; }),
                   samples_.end());
  }
  // Gaps split the line into pieces; beyond MaxGapsPerValue the oldest pieces are joined.
  std::vector<QList<QPointF>> pieces(1);
  for (const TLiveSample& s : samples_) {
    if (std::isnan(s.Value)) {
      if (!pieces.back().isEmpty()) pieces.emplace_back();
      continue;
    }
    pieces.back().append(QPointF(static_cast<qreal>(history_->WallMs(s.Time)), s.Value));
    if (!Range.Any || s.Value < Range.Low) Range.Low = s.Value;
    if (!Range.Any || s.Value > Range.High) Range.High = s.Value;
    Range.Any = true;
  }
  if (pieces.size() > 1 && pieces.back().isEmpty()) pieces.pop_back();
  while (pieces.size() > MaxGapsPerValue + 1) {
    pieces[1] = pieces[0] + pieces[1];
    pieces.erase(pieces.begin());
  }
  for (std::size_t n = 0; n < pieces.size(); ++n) {
    QLineSeries* series = Piece(Index, n);
    // A lone reading between two gaps has no line: show it as a point.
    series->setPointsVisible(pieces[n].size() == 1);
    series->replace(pieces[n]);
    series->setVisible(shown);
  }
  for (std::size_t n = pieces.size(); n < pieces_[index].size(); ++n)
    if (pieces_[index][n]->count() > 0) pieces_[index][n]->clear();
  used_pieces_[index] = static_cast<int>(pieces.size());
}

std::vector<QPointF> TLiveChartForm::Points(int Index) const {
  std::vector<QPointF> points;
  const auto& pieces = pieces_[static_cast<std::size_t>(Index)];
  for (int n = 0; n < used_pieces_[static_cast<std::size_t>(Index)]; ++n) {
    const QList<QPointF> piece = pieces[static_cast<std::size_t>(n)]->points();
    points.insert(points.end(), piece.begin(), piece.end());
  }
  return points;
}

void TLiveChartForm::RecordClick() {
  if (Recording()) {
    WritePendingRows();
    StopRecording();
    return;
  }
  QString path = AskRecordFile ? AskRecordFile() : QString();
  if (path.isEmpty()) return;
  // A name without an extension is a CSV file, as the dialog's filter says.
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
  StartRecording(path);
}

bool TLiveChartForm::StartRecording(const QString& Path) {
  StopRecording();
  next_row_ = history_->RowCount();
  rows_written_ = 0;
  if (!csv_.Open(FromQt(Path))) {
    ShowMessageBox(csv_.Error(), TMsgDlgType::mtError);
    RecordLabel->clear();
    return false;
  }
  RecordButton->setText(QStringLiteral("Stop &recording"));
  RecordLabel->setText(QStringLiteral("Recording to ") + Path);
  return true;
}

void TLiveChartForm::StopRecording() {
  if (!csv_.IsOpen()) return;
  const bool closed = csv_.Close();
  if (RecordButton == nullptr) return;
  RecordButton->setText(QStringLiteral("&Record..."));
  RecordLabel->setText(QString::number(rows_written_) + " rows recorded to " + ToQt(csv_.Path()));
  if (!closed) ShowMessageBox(csv_.Error(), TMsgDlgType::mtError);
}

void TLiveChartForm::WritePendingRows() {
  if (!csv_.IsOpen()) return;
  for (const TLiveRow& row : history_->RowsAfter(next_row_)) {
    if (!csv_.Write(row, *history_)) {
      StopRecording();  // shows the error
      return;
    }
    ++rows_written_;
  }
}

}  // namespace zo
