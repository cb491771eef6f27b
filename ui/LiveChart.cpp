#include "ui/LiveChart.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
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

bool IsVoltage(int Index) {
  return std::strcmp(LiveValues()[static_cast<std::size_t>(Index)].Unit, "V") == 0;
}

QPixmap Swatch(const QColor& Colour) {
  QPixmap pixmap(12, 12);
  pixmap.fill(Colour);
  return pixmap;
}

// A value axis around [Low, High] with a little room, and a sensible range without values.
void FitAxis(QValueAxis* Axis, double Low, double High, bool Any) {
  if (!Any) {
    Axis->setRange(0, 1);
    return;
  }
  const double room = std::max((High - Low) * 0.05, 0.5);
  // Values that are all positive keep the axis at or above zero.
  const double low = Low >= 0 ? std::max(0.0, Low - room) : Low - room;
  Axis->setRange(std::floor(low), std::ceil(High + room));
  Axis->applyNiceNumbers();
}

}  // namespace

TLiveChartForm::TLiveChartForm(std::shared_ptr<TLiveHistory> History, QWidget* Parent)
    : QWidget(Parent, Qt::Window), history_(std::move(History)) {
  setObjectName(QStringLiteral("LiveChartForm"));
  setWindowTitle(QStringLiteral("Live chart"));
  resize(900, 520);

  chart_ = new QChart;
  chart_->legend()->hide();
  chart_->setMargins(QMargins(4, 4, 4, 4));
  time_axis_ = new QDateTimeAxis;
  time_axis_->setFormat(QStringLiteral("HH:mm:ss"));
  time_axis_->setTitleText(QStringLiteral("Time"));
  volt_axis_ = new QValueAxis;
  volt_axis_->setTitleText(QStringLiteral("Voltage (V)"));
  volt_axis_->setLabelFormat(QStringLiteral("%g"));
  amp_axis_ = new QValueAxis;
  amp_axis_->setTitleText(QStringLiteral("Current (A)"));
  amp_axis_->setLabelFormat(QStringLiteral("%g"));
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  chart_->addAxis(volt_axis_, Qt::AlignLeft);
  chart_->addAxis(amp_axis_, Qt::AlignRight);
  ChartView = new QChartView(chart_, this);
  ChartView->setObjectName(QStringLiteral("LiveChartView"));
  ChartView->setRenderHint(QPainter::Antialiasing);

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
    series->attachAxis(IsVoltage(Index) ? volt_axis_ : amp_axis_);
    if (!pieces.empty()) series->setColor(pieces.front()->color());
    pieces.push_back(series);
  }
  return pieces[Number];
}

void TLiveChartForm::showEvent(QShowEvent* Event) {
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
  double volt_low = 0, volt_high = 0, amp_low = 0, amp_high = 0;
  bool volts = false, amps = false;
  for (int i = 0; i < LiveValueCount; ++i) {
    if (IsVoltage(i))
      DrawValue(i, from, volt_low, volt_high, volts);
    else
      DrawValue(i, from, amp_low, amp_high, amps);
  }
  time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(history_->WallMs(from)),
                       QDateTime::fromMSecsSinceEpoch(history_->WallMs(to)));
  FitAxis(volt_axis_, volt_low, volt_high, volts);
  FitAxis(amp_axis_, amp_low, amp_high, amps);
}

void TLiveChartForm::DrawValue(int Index, TimePoint From, double& Low, double& High, bool& Any) {
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
  // Failed reads split the line into pieces; beyond MaxGapsPerValue the oldest pieces are joined.
  std::vector<QList<QPointF>> pieces(1);
  for (const TLiveSample& s : samples_) {
    if (std::isnan(s.Value)) {
      if (!pieces.back().isEmpty()) pieces.emplace_back();
      continue;
    }
    pieces.back().append(QPointF(static_cast<qreal>(history_->WallMs(s.Time)), s.Value));
    if (!Any || s.Value < Low) Low = s.Value;
    if (!Any || s.Value > High) High = s.Value;
    Any = true;
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
  const QString path = AskRecordFile ? AskRecordFile() : QString();
  if (!path.isEmpty()) StartRecording(path);
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
