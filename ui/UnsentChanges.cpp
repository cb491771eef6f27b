#include "ui/UnsentChanges.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <utility>

#include "settings/Settings.h"
#include "threads/UiServices.h"
#include "ui/Unit1.h"

namespace zo {

namespace {

// The width a control had before it was marked: bold text may need more, and unmarking gives
// back the design's width.
constexpr const char* DesignWidthProperty = "zoDesignWidth";
constexpr const char* MarkedProperty = "zoUnsent";

void SetBold(QWidget* Control, bool On) {
  QFont font = Control->font();
  font.setBold(On);
  Control->setFont(font);
}

}  // namespace

TUnsentChanges::TUnsentChanges(TForm1& F) : QObject(&F), form_(F) {
  setObjectName(QStringLiteral("UnsentChanges"));
  items_ = {
      {0, FlagFrequency60Hz, {F.RadioButton50Hz, F.RadioButton60Hz}},
      {SettingSlaves, 0, {F.NrOfSlavesComboBox}},
      {SettingInverterOutput, 0, {F.InvOutputEdit}},
      {SettingDCShutDown, 0, {F.DCLowShutDownEdit}},
      {SettingDCRestart, 0, {F.DCLowRestartEdit}},
      {0, FlagAESOff, {F.AESCheckBox}},
      {0, FlagPeakFeed, {F.AssistCheckBox}},
      {SettingPhaseMode,
       FlagMultiPhase,
       {F.SinglephaseRadioButton, F.ThreePhaseRadioButton, F.DualPhase180RadioButton,
        F.DualPhase120RadioButton}},
      {0, FlagLeader, {F.LeaderCheckBox}},
      {0, FlagGroundRelayOff, {F.GroundRelayCheckBox}},
      {0, FlagWaveShapeOff, {F.WaveShapeCheckBox}},
      {0, FlagChargerOff, {F.EnableChargerCheckBox}},
      {SettingChargeCharacteristic, 0, {F.ChargeCharacteristicComboBox}},
      {SettingAbsorptionVoltage, 0, {F.AbsorptionVoltageEdit}},
      {SettingFloatVoltage, 0, {F.FloatVoltageEdit}},
      {SettingChargeCurrent, 0, {F.IBatBulkEdit}},
      {SettingShoreCurrent, 0, {F.ShoreCurrentEdit}},
      {SettingRepeatedAbsorptionTime, 0, {F.RepeatedAbsorptionTimeEdit}},
      {SettingRepeatedAbsorptionInterval, 0, {F.RepeatedAbsorptionIntervalTimeEdit}},
      {SettingAbsorptionTime, 0, {F.AbsorptionTimeEdit}},
      {0, FlagStopAfterBulk, {F.StopAfter10HrBulkCheckBox}},
      {0, FlagStorageMode, {F.ReducedFloatCheckBox}},
      {SettingLowBatteryAlarm, 0, {F.UBatAlarmLowEdit}},
      {SettingHighBatteryAlarm, 0, {F.UBatAlarmHighEdit}},
      {0, FlagAlarmRelayPolarity, {F.AlarmRelayPolarityComboBox}},
      {0, FlagLowRippleOff, {F.LowRippleCheckBox}},
      {0, FlagHighRippleOff, {F.HighRippleCheckBox}},
      {0, FlagAbsorptionFromBulk, {F.AbsorptionCalculationComboBox}},
  };
  // Connected after the window's own handlers, so the model has changed when Update runs.
  for (const TItem& item : items_)
    for (QWidget* control : item.Controls) {
      if (auto* edit = qobject_cast<QLineEdit*>(control))
        connect(edit, &QLineEdit::textChanged, this, [this] { Update(); });
      else if (auto* button = qobject_cast<QAbstractButton*>(control))
        connect(button, &QAbstractButton::toggled, this, [this] { Update(); });
      else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this] { Update(); });
        connect(combo, &QComboBox::activated, this, [this] { Update(); });
      }
    }
}

void TUnsentChanges::Baseline() {
  valid_ = SettingTable.Built();
  if (valid_) {
    for (int n = SettingAbsorptionVoltage; n <= SettingPhaseMode; ++n)
      values_[n] = SettingTable[n].Value;
    for (int f = FlagMultiPhase; f <= FlagGroundRelayOff; ++f)
      flags_[f] = GetFlag(static_cast<std::uint8_t>(f));
  }
  Update();
}

bool TUnsentChanges::Differs(const TItem& Item) const {
  if (Item.Setting != 0 && SettingTable[Item.Setting].IsPresent() &&
      SettingTable[Item.Setting].Value != values_[Item.Setting])
    return true;
  return Item.Flag != 0 && GetFlag(static_cast<std::uint8_t>(Item.Flag)) != flags_[Item.Flag];
}

void TUnsentChanges::Update() {
  const bool comparable = valid_ && SettingTable.Built() && CurrentVersion != nullptr;
  int count = 0;
  for (const TItem& item : items_) {
    const bool differs = comparable && Differs(item);
    if (differs) ++count;
    for (QWidget* control : item.Controls) {
      // Of a group of radio buttons, the one now chosen carries the mark.
      const auto* radio = qobject_cast<QRadioButton*>(control);
      Mark(control, differs && (radio == nullptr || radio->isChecked()));
    }
  }
  const bool changed = count != count_;
  count_ = count;
  if (changed && OnChange) OnChange();
}

bool TUnsentChanges::Marked(const QWidget* Control) const {
  return Control->property(MarkedProperty).toBool();
}

void TUnsentChanges::Mark(QWidget* Control, bool On) {
  if (Marked(Control) == On) return;
  Control->setProperty(MarkedProperty, On);
  SetBold(Control, On);
  // Buttons and lists keep their left edge; bold text takes the room it needs up to the edge of
  // their parent, so that it is not cut off.
  if (qobject_cast<QAbstractButton*>(Control) == nullptr &&
      qobject_cast<QComboBox*>(Control) == nullptr)
    return;
  if (!Control->property(DesignWidthProperty).isValid())
    Control->setProperty(DesignWidthProperty, Control->width());
  const int design = Control->property(DesignWidthProperty).toInt();
  int width = design;
  if (On && Control->parentWidget() != nullptr) {
    const int room = Control->parentWidget()->width() - Control->x() - 2;
    width = std::max(design, std::min(Control->sizeHint().width(), room));
  }
  // Where even that room is too little, bold text would hide the end of the value ("Activated
  // when no al..."): the platform's highlight marks the control instead.
  const bool highlight = On && Control->sizeHint().width() > width;
  if (highlight) {
    SetBold(Control, false);
    width = design;
    QPalette palette = Control->palette();
    for (const auto& [back, text] : {std::pair{QPalette::Button, QPalette::ButtonText},
                                     std::pair{QPalette::Base, QPalette::Text},
                                     std::pair{QPalette::Window, QPalette::WindowText}}) {
      palette.setColor(back, palette.color(QPalette::Highlight));
      palette.setColor(text, palette.color(QPalette::HighlightedText));
    }
    Control->setPalette(palette);
  } else if (!On) {
    Control->setPalette(QPalette());  // the parent's again
  }
  Control->resize(width, Control->height());
}

TUnsentChanges::TDecision TUnsentChanges::AskBeforeDiscard(bool CanSend) {
  if (!form_.PanelActive() || count_ == 0) return TDecision::Proceed;
  const TModalResult answer = Ui().MessageDlg(
      "Settings were changed but not sent to the device. Discard the changes?",
      TMsgDlgType::mtConfirmation, (CanSend ? unsigned{mbSend} : 0u) | mbDiscard | mbCancel);
  if (answer == TModalResult::mrDiscard) return TDecision::Proceed;
  if (CanSend && answer == TModalResult::mrSend) return TDecision::Send;
  return TDecision::Keep;
}

}  // namespace zo
