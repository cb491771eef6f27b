// The program's main window: start-up, the port menu, the half-second supervision of the
// connection, the settings pages of the connected target, the target operations, defaults,
// settings files, the target overrule and the orderly shutdown.
//
// Everything here runs on the main thread. The device is reached only through the bus thread and,
// while that thread is paused (AcquireBus), through its driver directly.
#pragma once

#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapter/Includebinary.h"
#include "connection/LiveHistory.h"
#include "settings/Settings.h"
#include "ui/Decoration.h"
#include "ui/Showing.h"

class QPainter;

namespace zo {

class TBusThread;
class TStatusLine;
class TUnsentChanges;
class TLiveChartForm;
class TCompareDialog;

// A status value label: the bus thread's monitor values are written into it on the main thread.
class TStatusValueLabel final : public QLabel, public TValueLabel {
 public:
  explicit TStatusValueLabel(QWidget* Parent) : QLabel(Parent) {}
  void SetCaption(const std::string& Text) override;
};

// The paint box of the charge curve: its paint requests run OnPaint.
class TPaintBox final : public QWidget {
 public:
  explicit TPaintBox(QWidget* Parent) : QWidget(Parent) {}
  std::function<void(QPainter&)> OnPaint;

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

// Draws the charge curve into a paint area of W x H pixels: the bulk rise, absorption, float, the
// stage after float at level 50 (StorageStage) or 40, two repeated absorptions, and the axes.
// `CharacteristicIndex` 2 ("Adaptive + CellGuard") rises slowly into absorption.
void PaintChargeCurve(QPainter& Canvas, int W, int H, int CharacteristicIndex, bool StorageStage);

// Enables or greys one status row; the value shows "- - -" either way.
void EnableStatusRow(bool Enabled, QLabel* NameLabel, QLabel* ValueLabel, QLabel* UnitLabel);

class TForm1 final : public QMainWindow {
 public:
  // A handler that needs the bus; re-run with its Sender once the bus thread has paused.
  using TAction = void (TForm1::*)(QObject* Sender);

  // Runs Init. `Parameters` are the program's parameters (without the program's name); only the
  // first is looked at ("/v<number>" overrules the target's version).
  explicit TForm1(const QStringList& Parameters = {}, QWidget* Parent = nullptr);
  // CleanUp.
  ~TForm1() override;

  // --- Start-up, port selection, supervision, shutdown ---
  void Init(const QStringList& Parameters);
  // Stops the bus thread (pumping events while it ends) and frees the settings model. Once.
  void CleanUp();
  // "&Exit": shows a pending fatal message, then closes the window.
  void DoMyClose(QObject* Sender = nullptr);
  void ComClick(QObject* Sender);
  void OtherComClick(QObject* Sender = nullptr);
  // Every 500 ms: notices a change of the target's effective software version.
  void CheckConnection();
  void About1Click();

  // True when the bus thread is paused; otherwise arranges that Action runs again with Sender
  // once it has paused (unless another action already waits) and returns False.
  bool AcquireBus(QObject* Sender, TAction Action);
  // Runs the pending action; Done False asks to be called again soon.
  void ApplicationIdle(bool& Done);
  void SetPanelActive(bool Active);
  // Replaces the busy window; an empty text only removes it.
  void ShowBusyMessage(const std::string& Text);

  // --- The target and its settings ---
  void TargetChanged(QObject* Sender = nullptr);
  void AdaptToTarget();
  void ShowSettings();
  void SetOption(std::uint8_t Item, bool Value);
  void EnableChildren(QWidget* Container, bool Enabled);

  void Getsettings1Click(QObject* Sender = nullptr);
  void Sendsettings1Click(QObject* Sender = nullptr);
  void Getsoftwareversion1Click();
  // With the bus acquired: sends the settings as "&Send settings" does; false (after the error
  // box) when that failed.
  bool SendChanges();
  // True when the settings shown could be sent now: a target shown, not overruled, an adapter.
  bool CanSend() const;
  // With the bus acquired, before unsent changes would be lost: asks, and sends them when the
  // user chooses "Send". True when the caller may go on (nothing unsent, discarded, or sent).
  bool ChangesSettled();
  // With the bus acquired, before the port closes: SendChanges, then waits until the device has
  // taken the settings.
  bool SendBeforeLeaving();
  // Sends the unsent changes, then closes the window ("Send" when closing).
  void SendAndClose(QObject* Sender = nullptr);

  void FrequencyClick();
  void NrOfSlavesComboBoxChange();
  void AESCheckBoxClick();
  void AssistCheckBoxClick();
  void LeaderCheckBoxClick();
  void GroundRelayCheckBoxClick();
  void WaveShapeCheckBoxClick();
  void EnableChargerCheckBoxClick();
  void MultiPhaseRadioButtonClick(QRadioButton* Sender);
  void ChargeCharacteristicComboBoxChange();
  void AlarmRelayPolarityComboBoxChange();
  void StopAfter10HrBulkCheckBoxClick();
  void ReducedFloatCheckBoxClick();
  void LowRippleCheckBoxClick();
  void HighRippleCheckBoxClick();
  void AbsorptionCalculationComboBoxChange();
  // A click or a key press in a setting's edit opens the value entry dialog for it.
  void ChangementRequested(QLineEdit* Sender);
  void KeyPressedInEditField(QLineEdit* Sender);
  void PaintChargeCurve(QPainter& Canvas);

  // --- Defaults, files, overrule ---
  void Setcompletedefault1Click();
  void BatteryDefaultClick(QObject* Sender);
  void Loadsettings1Click();
  void Savesettings1Click();
  void Overrulesoftwareversion1Click();
  // Opens (or raises) the live chart; the status panel's double-click does the same.
  void Livechart1Click();
  // Reads the device's settings now and lists every one the window shows differently (nothing is
  // sent, and the window keeps its values and unsent changes); an error box when it cannot read.
  void Comparewithdevice1Click(QObject* Sender = nullptr);

  // --- State, for the program and its tests ---
  TBusThread* BusThread() const { return BusThread_; }
  std::int32_t TargetVersion() const { return TargetVersion_; }
  bool PanelActive() const { return PanelActive_; }
  bool ActionPending() const { return PendingAction != nullptr; }
  bool Closed() const { return closed_; }
  const std::string& FatalMessage() const { return FatalMessage_; }
  bool Updating() const { return Updating_; }
  // The version TargetChanged found missing from the version table; -1 when none.
  std::int32_t UnsupportedVersion() const { return UnsupportedVersion_; }
  QWidget* BusyMessage() const { return BusyMessage_.data(); }
  TLiveChartForm* LiveChart() const;
  // The last comparison's window while it is open.
  TCompareDialog* CompareDialog() const;
  // The live values over time, fed by the bus thread's polling.
  const std::shared_ptr<TLiveHistory>& LiveHistory() const { return LiveHistory_; }

  // --- Components (object names as the design names them) ---
  // The design's client area, scaled to the font; it scrolls within ScreenFitArea when the screen
  // is too small for it.
  QWidget* ClientArea;
  TScreenFitArea* ScreenFitArea;
  QLabel* UserActionLabel;
  TDecoration* Image2;
  QFrame* MasterPanel;
  QTimer* Timer1;
  TBinaryIncluder DL2FWXFile;

  QMenu* File1;
  QAction* Savesettings1;
  QAction* Loadsettings1;
  QAction* N1;
  QAction* Exit1;
  QMenu* Port1;
  QActionGroup* PortGroup;
  QAction* Com11;
  QAction* Com21;
  QAction* Com31;
  QAction* Com41;
  QAction* ComOther1;
  QMenu* Target1;
  QAction* Getsettings1;
  QAction* Sendsettings1;
  QAction* N3;
  QAction* Getsoftwareversion1;
  QMenu* Defaults1;
  QAction* Setcompletedefault1;
  QAction* N2;
  QAction* Setgelbattery1;
  QAction* settractionbattery1;
  QAction* Setsemitractionbattery1;
  QAction* Setmarlobattery1;
  QMenu* Special1;
  QAction* Overrulesoftwareversion1;
  QAction* Livechart1;
  QAction* Comparewithdevice1;
  QAction* About1;

  QLabel* SystemFrequencyLabel;
  QRadioButton* RadioButton50Hz;
  QRadioButton* RadioButton60Hz;
  QLabel* NrOfSlavesLabel;
  QComboBox* NrOfSlavesComboBox;
  QGroupBox* InverterGroupBox;
  QLabel* InvOutputLabel;
  QLineEdit* InvOutputEdit;
  QLabel* InvOutputUnitLabel;
  QLabel* DCLowShutDownLabel;
  QLineEdit* DCLowShutDownEdit;
  QLabel* DCLowShutDownUnitLabel;
  QLabel* DCLowRestartLabel;
  QLineEdit* DCLowRestartEdit;
  QLabel* DCLowRestartUnitLabel;
  QCheckBox* AESCheckBox;
  QCheckBox* AssistCheckBox;
  QGroupBox* MultiPhaseGroupBox;
  QRadioButton* SinglephaseRadioButton;
  QRadioButton* ThreePhaseRadioButton;
  QRadioButton* DualPhase180RadioButton;
  QRadioButton* DualPhase120RadioButton;
  QCheckBox* LeaderCheckBox;
  QCheckBox* GroundRelayCheckBox;
  QCheckBox* WaveShapeCheckBox;
  QFrame* Panel1;
  QLabel* DeviceTypeLabel;
  QLabel* UMainsLabel;
  TStatusValueLabel* UMainsStatusLabel;
  QLabel* UMainsUnitLabel;
  QLabel* IMainsLabel;
  TStatusValueLabel* IMainsStatusLabel;
  QLabel* IMainsUnitLabel;
  QLabel* UInverterLabel;
  TStatusValueLabel* UInverterStatusLabel;
  QLabel* UInverterUnitLabel;
  QLabel* IInverterLabel;
  TStatusValueLabel* IInverterStatusLabel;
  QLabel* IInverterUnitLabel;
  QLabel* UBatLabel;
  TStatusValueLabel* UBatStatusLabel;
  QLabel* UBatUnitLabel;
  QLabel* UBatRippleLabel;
  TStatusValueLabel* UBatRippleStatusLabel;
  QLabel* UBatRippleUnitLabel;
  QLabel* IBatLabel;
  TStatusValueLabel* IBatStatusLabel;
  QLabel* IBatUnitLabel;
  QCheckBox* EnableChargerCheckBox;
  QGroupBox* ChargerGroupBox;
  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QLabel* ChargeCharacteristicLabel;
  QComboBox* ChargeCharacteristicComboBox;
  QLabel* AbsorptionVoltageLabel;
  QLineEdit* AbsorptionVoltageEdit;
  QLabel* FloatVoltageLabel;
  QLineEdit* FloatVoltageEdit;
  QLabel* IBatBulkLabel;
  QLineEdit* IBatBulkEdit;
  QLabel* ShoreCurrentLabel;
  QLineEdit* ShoreCurrentEdit;
  QLabel* ShoreCurrentUnitLabel;
  QLabel* RepeatedAbsorptionTimeLabel;
  QLineEdit* RepeatedAbsorptionTimeEdit;
  QLabel* RepeatedAbsorptionIntervalLabel;
  QLineEdit* RepeatedAbsorptionIntervalTimeEdit;
  QLabel* AbsorptionTimeLabel;
  QLineEdit* AbsorptionTimeEdit;
  QCheckBox* StopAfter10HrBulkCheckBox;
  QCheckBox* ReducedFloatCheckBox;
  TPaintBox* ChargeCurvePaintBox;
  QGroupBox* AlarmRelayGroupBox;
  QLineEdit* UBatAlarmLowEdit;
  QLineEdit* UBatAlarmHighEdit;
  QComboBox* AlarmRelayPolarityComboBox;
  QPushButton* GetSettingsButton;
  QPushButton* SendSettingsButton;
  QCheckBox* LowRippleCheckBox;
  QCheckBox* HighRippleCheckBox;
  QLabel* Label49;
  QComboBox* AbsorptionCalculationComboBox;
  // Below the window: port, adapter, device, the last operation; and the marks of unsent changes.
  TUnsentChanges* UnsentChanges;
  TStatusLine* StatusLine;

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

 private:
  void CreateMenus();
  void CreatePanel();
  void CreateChargerGroup();
  void CreateStatusPanel();
  // The controls that size themselves to their text, after the design was scaled to the font.
  void FitSelfSizedControls();
  void ConnectHandlers();
  void UpdatePortTips();
  // Shows the port radio items as the last ComClick left them (Qt checks a clicked item at once).
  void RestorePortChecks();
  void StartIdle(int IntervalMs);
  void IdleTick();
  std::vector<QAction*> AllMenuItems() const;
  void SetCaptionFromTarget();
  // The window shows no target from now on (only while the bus is held).
  void ForgetTarget();
  // The shown target as the live values name it: "<device type> (<version>) on COM<n>".
  std::string TargetName() const;

  TBusThread* BusThread_ = nullptr;
  std::shared_ptr<TLiveHistory> LiveHistory_ = std::make_shared<TLiveHistory>();
  QPointer<TLiveChartForm> LiveChart_;
  QPointer<TCompareDialog> CompareDialog_;
  TAction PendingAction = nullptr;
  QPointer<QObject> PendingSender;
  std::string FatalMessage_;
  bool PanelActive_ = false;
  std::int32_t TargetVersion_ = -1;
  std::int32_t UnsupportedVersion_ = -1;
  QPointer<QMessageBox> BusyMessage_;
  bool Updating_ = false;

  QTimer* idle_timer_ = nullptr;
  bool in_idle_ = false;
  bool closed_ = false;
  bool cleaned_up_ = false;
  QAction* checked_port_ = nullptr;
  std::vector<QLineEdit*> setting_edits_;
};

// The one main window (null before it is created and after it is destroyed).
extern TForm1* Form1;

}  // namespace zo
