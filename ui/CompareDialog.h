// "Compare with device...": what the window shows against what the device holds now.
//
// The device's settings are read into the settings model, taken down and compared with the
// window's (through the same comparison as zocfg diff), and the model then holds the window's
// values again: the window, its unsent changes and the device stay as they were; nothing is sent.
// The result is a window of its own listing every setting that differs, with its name and both
// values with their units. Main thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTreeWidget>
#include <string>

#include "settings/SettingsDiff.h"

namespace zo {

class TBusDriver;

// Reads the device through `Driver` (the bus acquired by the caller) and compares it with the
// settings model as the window shows it; the model is left as it was. False when the device
// could not be read in full (nothing is compared then).
bool CompareWithDevice(TBusDriver* Driver, TSettingsDiff& Result);

class TCompareDialog final : public QDialog {
 public:
  // Lists `Diff` (first side the window, second the device) as read at `ReadAt` ("12:03:41").
  TCompareDialog(const TSettingsDiff& Diff, const QString& ReadAt, QWidget* Parent);

  QLabel* SummaryLabel;
  // One row per setting that differs: name, the window's value, the device's.
  QTreeWidget* DifferenceList;
  QLabel* WarningLabel;
};

}  // namespace zo
