// ZO configure: the program's main source. Creates the main window, the value entry dialog and
// the progress dialog, in this order, and runs the event loop until the main window closes.
//
// Parameters: "/v<number>" as the first parameter overrules the target's software version;
// "--simulate", anywhere, binds COM1 to COM4 to simulated adapters and devices; "--trace FILE"
// records every byte on the line to FILE, as zocfg --trace does (zocfg decode reads it).
#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <memory>

#include "serial/TraceBackend.h"
#include "sim/Demo.h"
#include "threads/MainThread.h"
#include "threads/UiServices.h"
#include "ui/Inputunit.h"
#include "ui/Progress.h"
#include "ui/QtMainThread.h"
#include "ui/QtUiServices.h"
#include "ui/Showing.h"
#include "ui/Unit1.h"

namespace {

// The window icon: a charge curve on a round plate in the theme's highlight colour.
QIcon WindowIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QApplication::palette().color(QPalette::Highlight));
  p.setPen(Qt::NoPen);
  p.drawEllipse(2, 2, 60, 60);
  p.setPen(QPen(QApplication::palette().color(QPalette::HighlightedText), 5, Qt::SolidLine,
                Qt::RoundCap, Qt::RoundJoin));
  const QPointF curve[] = {{12, 50}, {26, 18}, {38, 18}, {38, 28}, {52, 28}};
  p.drawPolyline(curve, 5);
  return QIcon(pixmap);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ZO configure"));
  QApplication::setDesktopFileName(QStringLiteral("zoconfigure"));
  QApplication::setWindowIcon(WindowIcon());

  QStringList parameters = QApplication::arguments();
  if (!parameters.isEmpty()) parameters.removeFirst();
  const bool simulate = parameters.removeAll(QStringLiteral("--simulate")) > 0;
  QString trace;
  if (const qsizetype at = parameters.indexOf(QStringLiteral("--trace"));
      at >= 0 && at + 1 < parameters.size()) {
    trace = parameters.at(at + 1);
    parameters.remove(at, 2);
  }

  zo::TQtMainThread main_thread;
  zo::SetMainThread(&main_thread);
  zo::TQtUiServices ui;
  zo::SetUi(&ui);
  if (!trace.isEmpty() && !zo::TraceOpenedPorts(trace.toStdString()))
    zo::ShowMessageBox("Cannot create trace file: " + trace.toStdString(),
                       zo::TMsgDlgType::mtError);
  std::unique_ptr<zo::sim::TDemo> demo;
  if (simulate) demo = std::make_unique<zo::sim::TDemo>();

  int result = 0;
  {
    auto* form = new zo::TForm1(parameters);
    ui.SetParentWindow(form);
    new zo::TInputForm(form);     // owned by the main window
    new zo::TProgressForm(form);  // owned by the main window
    zo::CentreOnScreen(form);
    form->show();
    result = QApplication::exec();
    delete form;  // CleanUp: the bus thread ends, the settings model is freed
  }
  demo.reset();
  zo::SetUi(nullptr);
  zo::SetMainThread(nullptr);
  return result;
}
