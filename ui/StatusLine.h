// The status line below the main window: where the technician stands at a glance.
//
//   first row   the port (COM number and the device behind it), the adapter (DL1, or DL2 with
//               its mode and firmware version), the device's software version and whether it is
//               overruled;
//   second row  the result and time of the last operation ("Settings read at 12:03:41",
//               "Settings sent at 12:04:10", "Sending failed", ...) and the count of unsent
//               changes.
//
// The window tells it which port it opened and how each operation ended; the adapter and the
// device it looks up itself every half second (the bus thread may find them at any time). The
// desktop's theme applies: no colours of its own. Main thread only.
#pragma once

#include <QLabel>
#include <QString>
#include <QTimer>
#include <cstdint>

namespace zo {

class TForm1;
class TUnsentChanges;

// A label that shows as much of its text as fits, with "..." for the rest and the whole text as
// its tool tip, so that a long device path never runs into the field beside it. A field that must
// be read whole (`Elidable` false) never gets narrower than its text.
class TStatusField final : public QLabel {
 public:
  explicit TStatusField(QWidget* Parent, bool Elidable = true);
  // The whole text (what the user should read); text() is what is shown.
  void SetFullText(const QString& Text);
  const QString& FullText() const { return full_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void Elide();
  QString full_;
  bool elidable_;
};

class TStatusLine final : public QWidget {
 public:
  // The operations whose end the line reports.
  enum class TOperation { Read, Send, Load, Save, Defaults, BatteryDefaults, OverruleDefaults };

  TStatusLine(TForm1& Form, TUnsentChanges& Unsent, QWidget* Parent);

  // ComClick opens `Port` now: the line names it, and no adapter, device or operation of the
  // previous port, while detection, a firmware question or an update run.
  void PortOpening(int Port);
  // The port ComClick opened, 0 when it opened none.
  void PortChosen(int Port);
  // An operation ended: shows its result with the time, and the name of the file `File` a load or
  // save used. A read (also a failed one: the window now shows what came back), a successful
  // send and the overruled version's defaults are what the device holds from now on, so the
  // unsent changes are counted from them.
  void Finished(TOperation Operation, bool Ok, const QString& File = {});
  // Looks up the adapter and the device and shows every field anew.
  void Refresh();

  TStatusField* PortField;
  TStatusField* AdapterField;
  TStatusField* DeviceField;
  TStatusField* OperationField;
  TStatusField* UnsentField;

 private:
  QString AdapterText();
  QString DeviceText() const;

  TForm1& form_;
  TUnsentChanges& unsent_;
  QTimer* timer_;
  int port_ = 0;
  bool opening_ = false;
  // The firmware version read from the text log for the current driver (which it cannot tell).
  const void* firmware_driver_ = nullptr;
  std::int32_t firmware_ = -1;
};

}  // namespace zo
