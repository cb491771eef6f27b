#include "ui/StatusLine.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QFrame>
#include <QTime>

#include "adapter/AdapterLog.h"
#include "adapter/DlxTools.h"
#include "adapter/Textlogger.h"
#include "connection/BusThread.h"
#include "drivers/DL1Drv.h"
#include "drivers/DL2DRV.h"
#include "serial/PortNames.h"
#include "serial/SimLine.h"
#include "ui/Unit1.h"
#include "ui/UnsentChanges.h"

namespace zo {

namespace {

constexpr int RefreshMs = 500;
const QChar Ellipsis(0x2026);

QFrame* NewStatusSeparator(QWidget* Parent) {
  auto* line = new QFrame(Parent);
  line->setFrameShape(QFrame::VLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TStatusField::TStatusField(QWidget* Parent, bool Elidable) : QLabel(Parent), elidable_(Elidable) {
  setSizePolicy(Elidable ? QSizePolicy::Preferred : QSizePolicy::Minimum, QSizePolicy::Fixed);
  setTextFormat(Qt::PlainText);
}

void TStatusField::SetFullText(const QString& Text) {
  if (Text == full_) return;
  full_ = Text;
  updateGeometry();
  Elide();
}

QSize TStatusField::sizeHint() const {
  const QMargins m = contentsMargins();
  // A pixel or two to spare: elidedText rounds differently from horizontalAdvance.
  return {fontMetrics().horizontalAdvance(full_) + m.left() + m.right() + 2 * margin() + 2,
          QLabel::sizeHint().height()};
}

QSize TStatusField::minimumSizeHint() const {
  if (!elidable_) return sizeHint();
  const QMargins m = contentsMargins();
  return {fontMetrics().horizontalAdvance(QString(3, QLatin1Char('W'))) + m.left() + m.right(),
          QLabel::minimumSizeHint().height()};
}

void TStatusField::resizeEvent(QResizeEvent* Event) {
  QLabel::resizeEvent(Event);
  Elide();
}

void TStatusField::Elide() {
  const int room = contentsRect().width() - 2 * margin();
  QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, room);
  if (shown.isEmpty() && !full_.isEmpty()) shown = Ellipsis;
  if (shown != text()) QLabel::setText(shown);
  setToolTip(shown == full_ ? QString() : full_);
}

// ---------------------------------------------------------------------------------------------

TStatusLine::TStatusLine(TForm1& Form, TUnsentChanges& Unsent, QWidget* Parent)
    : QWidget(Parent), form_(Form), unsent_(Unsent) {
  setObjectName(QStringLiteral("StatusLine"));
  // Its width is the window's: long texts are shortened rather than widening the window.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(2, 0, 2, 0);
  rows->setSpacing(0);
  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  auto* bottom = new QHBoxLayout;
  rows->addLayout(top);
  rows->addLayout(bottom);
  auto field = [this](const char* Name, bool Elidable = true) {
    auto* f = new TStatusField(this, Elidable);
    f->setObjectName(QString::fromLatin1(Name));
    return f;
  };
  // A long device path gives way; the adapter and the device are always read whole.
  PortField = field("StatusPortField");
  AdapterField = field("StatusAdapterField", false);
  DeviceField = field("StatusDeviceField", false);
  OperationField = field("StatusOperationField");
  UnsentField = field("StatusUnsentField", false);
  UnsentField->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  // First row: port | adapter | device, then free room. Second row: the last operation, the
  // unsent count at the right edge.
  top->addWidget(PortField);
  top->addWidget(NewStatusSeparator(this));
  top->addWidget(AdapterField);
  top->addWidget(NewStatusSeparator(this));
  top->addWidget(DeviceField);
  top->addStretch(1);
  bottom->addWidget(OperationField, 1);
  bottom->addWidget(UnsentField);

  timer_ = new QTimer(this);
  timer_->setInterval(RefreshMs);
  connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
  timer_->start();
  unsent_.OnChange = [this] { Refresh(); };
  Refresh();
}

void TStatusLine::PortOpening(int Port) {
  port_ = Port;
  opening_ = true;
  firmware_driver_ = nullptr;  // a new detection: the log's entry is read again
  OperationField->SetFullText(QString());
  Refresh();
}

void TStatusLine::PortChosen(int Port) {
  port_ = Port;
  opening_ = false;
  firmware_driver_ = nullptr;
  Refresh();
}

void TStatusLine::Finished(TOperation Operation, bool Ok, const QString& File) {
  const QString at = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  const QString name = QFileInfo(File).fileName();
  QString text;
  switch (Operation) {
    case TOperation::Read:
      text = Ok ? QStringLiteral("Settings read at ") + at : QStringLiteral("Reading failed");
      unsent_.Baseline();
      break;
    case TOperation::Send:
      text = Ok ? QStringLiteral("Settings sent at ") + at : QStringLiteral("Sending failed");
      if (Ok) unsent_.Baseline();
      break;
    case TOperation::Load:
      text = Ok ? QStringLiteral("Settings loaded from %1 at %2").arg(name, at)
                : QStringLiteral("Loading %1 failed").arg(name);
      break;
    case TOperation::Save:
      text = Ok ? QStringLiteral("Settings saved to %1 at %2").arg(name, at)
                : QStringLiteral("Saving %1 failed").arg(name);
      break;
    case TOperation::Defaults:
      text = QStringLiteral("Defaults set at ") + at;
      break;
    case TOperation::BatteryDefaults:
      text = QStringLiteral("Battery defaults set at ") + at;
      break;
    case TOperation::OverruleDefaults:
      text = QStringLiteral("Defaults of the overruled version shown at ") + at;
      unsent_.Baseline();
      break;
  }
  OperationField->SetFullText(text);
  Refresh();
}

QString TStatusLine::AdapterText() {
  TBusThread* bus = form_.BusThread();
  TBusDriver* driver = bus ? bus->Driver() : nullptr;
  if (opening_) return QStringLiteral("Detecting adapter");
  if (driver == nullptr) return QStringLiteral("No adapter");
  if (dynamic_cast<TDL1Driver*>(driver) != nullptr) return QStringLiteral("DL1");
  auto* dl2 = dynamic_cast<TDL2Driver*>(driver);
  if (dl2 == nullptr) return QStringLiteral("Adapter");
  if (firmware_driver_ != driver) {
    // Detection logged the firmware version of the adapter it just found; the log only tries its
    // lock, so an empty answer is tried again at the next refresh.
    std::string log;
    GetLogText(log);
    if (!log.empty()) {
      const TAdapterInfo info = AdapterFromLog(log);
      firmware_ = info.Kind == "DL2" ? info.Firmware : -1;
      firmware_driver_ = driver;
    }
  }
  std::string mode;
  DL2ModeName(dl2->GetMode(), mode);
  QString text = QStringLiteral("DL2 ") + QString::fromStdString(mode);
  if (firmware_driver_ == driver && firmware_ >= 0)
    text += QStringLiteral(", firmware %1").arg(firmware_);
  return text;
}

QString TStatusLine::DeviceText() const {
  const std::int32_t version = form_.TargetVersion();
  if (version < 0) return QStringLiteral("No device");
  QString text = QStringLiteral("Software version %1").arg(version);
  TBusThread* bus = form_.BusThread();
  if (bus && bus->OverruledVersion() >= 0 && bus->OverruledVersion() == version)
    text += QStringLiteral(" (overruled)");
  else if (version > 0 && version == form_.UnsupportedVersion())
    text += QStringLiteral(" (not supported)");
  return text;
}

void TStatusLine::Refresh() {
  QString port = QStringLiteral("No port");
  if (port_ > 0) {
    const auto number = static_cast<std::uint8_t>(port_);
    if (auto line = SimPortRegistry::Find(number)) {
      port = QString::fromStdString(line->Name());
    } else {
      port = QStringLiteral("COM%1").arg(port_);
      const std::string path = PortDevicePath(number);
      if (!path.empty()) port += QStringLiteral(" (") + QString::fromStdString(path) + ')';
    }
  }
  PortField->SetFullText(port);
  AdapterField->SetFullText(AdapterText());
  DeviceField->SetFullText(DeviceText());
  const int count = form_.PanelActive() ? unsent_.Count() : 0;
  QString unsent;
  if (count == 1)
    unsent = QStringLiteral("1 unsent change");
  else if (count > 1)
    unsent = QStringLiteral("%1 unsent changes").arg(count);
  else if (form_.PanelActive())
    unsent = QStringLiteral("No unsent changes");
  UnsentField->SetFullText(unsent);
}

}  // namespace zo
