#include "ui/CompareDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cstdint>

#include "settings/Settings.h"
#include "ui/QtUiServices.h"

namespace zo {

namespace {

constexpr int FirstSetting = 8, LastSetting = 25;

// The raw values and read results of the user's settings and option bytes, and what a read
// derives from them.
struct TModelValues {
  std::array<std::int32_t, LastSetting + 1> Value{};
  std::array<bool, LastSetting + 1> ReadFailed{};
  bool InverterOnly = false;
};

TModelValues Keep() {
  TModelValues kept;
  kept.InverterOnly = IsInverterOnly;
  for (int n = FirstSetting; n <= LastSetting; ++n) {
    kept.Value[n] = SettingTable[n].Value;
    kept.ReadFailed[n] = SettingTable[n].ReadFailed;
  }
  return kept;
}

void Restore(const TModelValues& Kept) {
  IsInverterOnly = Kept.InverterOnly;
  for (int n = FirstSetting; n <= LastSetting; ++n) {
    SettingTable[n].Value = Kept.Value[n];
    SettingTable[n].ReadFailed = Kept.ReadFailed[n];
  }
}

QString Text(const TComparedSetting* Entry) {
  return Entry ? QString::fromStdString(Entry->Text) : QStringLiteral("-");
}

}  // namespace

bool CompareWithDevice(TBusDriver* Driver, TSettingsDiff& Result) {
  if (Driver == nullptr || CurrentVersion == nullptr) return false;
  const TSettingsSide shown = TakeDownSettings("the window");
  const TModelValues kept = Keep();
  const bool read = ReadSettings(Driver);
  const TSettingsSide device = TakeDownSettings("the device");
  Restore(kept);
  if (read) Result = CompareSettings(shown, device);
  return read;
}

TCompareDialog::TCompareDialog(const TSettingsDiff& Diff, const QString& ReadAt, QWidget* Parent)
    : QDialog(Parent) {
  setObjectName(QStringLiteral("CompareDialog"));
  setWindowTitle(QStringLiteral("Compare with device"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* layout = new QVBoxLayout(this);
  // Wrapped notes take the height their lines need.
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  const int count =
      static_cast<int>(Diff.Changed.size() + Diff.OnlyInFirst.size() + Diff.OnlyInSecond.size());
  QString summary;
  if (count == 0)
    summary =
        QStringLiteral("The window shows the settings the device holds (read at %1).").arg(ReadAt);
  else if (count == 1)
    summary = QStringLiteral("1 setting differs from the device (read at %1):").arg(ReadAt);
  else
    summary =
        QStringLiteral("%1 settings differ from the device (read at %2):").arg(count).arg(ReadAt);
  SummaryLabel = new QLabel(summary, this);
  SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
  layout->addWidget(SummaryLabel);

  DifferenceList = new QTreeWidget(this);
  DifferenceList->setObjectName(QStringLiteral("DifferenceList"));
  DifferenceList->setRootIsDecorated(false);
  DifferenceList->setSelectionMode(QAbstractItemView::NoSelection);
  DifferenceList->setFocusPolicy(Qt::NoFocus);
  DifferenceList->setHeaderLabels(
      {QStringLiteral("Setting"), QStringLiteral("Window"), QStringLiteral("Device")});
  auto add = [this](const TComparedSetting* Window, const TComparedSetting* Device) {
    const TComparedSetting* named = Window ? Window : Device;
    auto* row = new QTreeWidgetItem(DifferenceList,
                                    {QString::fromLatin1(named->Name), Text(Window), Text(Device)});
    row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  };
  for (const auto& [window, device] : Diff.Changed)
    add(&window, &device);
  for (const TComparedSetting& window : Diff.OnlyInFirst)
    add(&window, nullptr);
  for (const TComparedSetting& device : Diff.OnlyInSecond)
    add(nullptr, &device);
  // Room between the columns: two characters each.
  const int gap = 2 * fontMetrics().averageCharWidth();
  for (int column = 0; column < 3; ++column) {
    DifferenceList->resizeColumnToContents(column);
    DifferenceList->setColumnWidth(column, DifferenceList->columnWidth(column) + gap);
  }
  DifferenceList->setVisible(count > 0);
  layout->addWidget(DifferenceList, 1);

  QStringList warnings;
  for (const std::string& w : Diff.Warnings)
    warnings << QStringLiteral("Note: ") + QString::fromStdString(w);
  WarningLabel = new QLabel(warnings.join('\n'), this);
  WarningLabel->setObjectName(QStringLiteral("WarningLabel"));
  WarningLabel->setWordWrap(true);
  WarningLabel->setVisible(!warnings.isEmpty());
  layout->addWidget(WarningLabel);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  // Wide enough for every column, tall enough for ten rows; the list scrolls beyond.
  if (count > 0) {
    int width = DifferenceList->frameWidth() * 2 + 4;
    for (int column = 0; column < 3; ++column)
      width += DifferenceList->columnWidth(column);
    DifferenceList->setMinimumWidth(width);
    DifferenceList->setMinimumHeight(DifferenceList->header()->sizeHint().height() +
                                     DifferenceList->sizeHintForRow(0) * std::min(count, 10) +
                                     DifferenceList->frameWidth() * 2 + 4);
  }
  WarningLabel->setMinimumWidth(
      std::max(DifferenceList->minimumWidth(), 70 * fontMetrics().averageCharWidth()));
}

}  // namespace zo
