#include "ui/Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QTime>
#include <cmath>

#include "adapter/TextTool.h"
#include "adapter/Textlogger.h"
#include "connection/BusThread.h"
#include "data/CarriedFirmware.h"
#include "drivers/Bustools.h"
#include "serial/PortNames.h"
#include "serial/SimLine.h"
#include "settings/SettingsFile.h"
#include "threads/UiServices.h"
#include "ui/AbtForm.h"
#include "ui/CompareDialog.h"
#include "ui/FileNames.h"
#include "ui/Fitting.h"
#include "ui/Inputunit.h"
#include "ui/LiveChart.h"
#include "ui/QtUiServices.h"
#include "ui/Showing.h"
#include "ui/StatusLine.h"
#include "ui/UnsentChanges.h"

namespace zo {

TForm1* Form1 = nullptr;

namespace {

constexpr const char* NoValueText = "- - -";
constexpr int ClientWidth = 632;
constexpr int ClientHeight = 434;

// The two texts of UserActionLabel: its room is the longer one's.
const char* const SelectPortText = "Please select a communications port";
const char* const ConnectText = "Connect cable and switch on device";

// The height of a row with an edit: a label of the row has it too, its text centred on the
// row, so that caption, value and unit line up.
constexpr int RowHeight = 20;

// A label of the room the design leaves it up to the next control of its row (W x H).
QLabel* NewLabel(QWidget* Parent, const char* Name, const char* Text, int X, int Y, int W,
                 int H = RowHeight) {
  auto* label = new QLabel(QString::fromUtf8(Text), Parent);
  label->setObjectName(QString::fromLatin1(Name));
  label->setGeometry(X, Y, W, H);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QLineEdit* NewEdit(QWidget* Parent, const char* Name, const char* Text, int X, int Y, int W) {
  auto* edit = new QLineEdit(QString::fromUtf8(Text), Parent);
  edit->setObjectName(QString::fromLatin1(Name));
  edit->setGeometry(X, Y, W, RowHeight);
  edit->setReadOnly(true);
  edit->setAlignment(Qt::AlignRight);
  return edit;
}

QCheckBox* NewCheckBox(QWidget* Parent, const char* Name, const char* Text, int X, int Y, int W,
                       int H, bool Checked) {
  auto* box = new QCheckBox(QString::fromUtf8(Text), Parent);
  box->setObjectName(QString::fromLatin1(Name));
  box->setGeometry(X, Y, W, H);
  box->setChecked(Checked);
  return box;
}

QRadioButton* NewRadio(QWidget* Parent, const char* Name, const char* Text, int X, int Y, int W,
                       int H, bool Checked) {
  auto* radio = new QRadioButton(QString::fromUtf8(Text), Parent);
  radio->setObjectName(QString::fromLatin1(Name));
  radio->setGeometry(X, Y, W, H);
  radio->setChecked(Checked);
  return radio;
}

QComboBox* NewCombo(QWidget* Parent, const char* Name, const QStringList& Items, int X, int Y,
                    int W) {
  auto* combo = new QComboBox(Parent);
  combo->setObjectName(QString::fromLatin1(Name));
  combo->addItems(Items);
  combo->setGeometry(X, Y, W, 21);
  combo->setCurrentIndex(Items.isEmpty() ? -1 : 0);
  return combo;
}

QAction* NewItem(QMenu* Menu, const char* Name, const char* Caption) {
  QAction* action = Menu->addAction(QString::fromUtf8(Caption));
  action->setObjectName(QString::fromLatin1(Name));
  return action;
}

QAction* NewSeparator(QMenu* Menu, const char* Name) {
  QAction* action = Menu->addSeparator();
  action->setObjectName(QString::fromLatin1(Name));
  return action;
}

// The text of setting `Number` shown in an edit.
QString SettingText(int Number) {
  return ToQt(SettingTable[Number].AsText());
}

}  // namespace

void TStatusValueLabel::SetCaption(const std::string& Text) {
  setText(ToQt(Text));
}

void TPaintBox::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  if (OnPaint) OnPaint(canvas);
}

void EnableStatusRow(bool Enabled, QLabel* NameLabel, QLabel* ValueLabel, QLabel* UnitLabel) {
  NameLabel->setEnabled(Enabled);
  ValueLabel->setEnabled(Enabled);
  UnitLabel->setEnabled(Enabled);
  ValueLabel->setText(QString::fromLatin1(NoValueText));
}

void PaintChargeCurve(QPainter& Canvas, int W, int H, int CharacteristicIndex, bool StorageStage) {
  const int S = StorageStage ? 50 : 40;
  Canvas.save();
  Canvas.setRenderHint(QPainter::Antialiasing, false);
  Canvas.fillRect(QRect(0, 0, W, H), QColor(255, 255, 255));
  Canvas.setBrush(Qt::NoBrush);
  Canvas.setPen(QPen(QColor(255, 0, 0), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));

  QPainterPath curve;
  curve.moveTo(10, 155);
  curve.lineTo(70, 35);                                // bulk rise
  if (CharacteristicIndex != 2) curve.lineTo(75, 25);  // steep final rise
  curve.lineTo(110, 25);
  curve.lineTo(160, 25);  // absorption
  curve.lineTo(160, 40);
  curve.lineTo(220, 40);  // float
  curve.lineTo(220, S);
  curve.lineTo(270, S);  // storage, or continued float
  curve.lineTo(270, 24);
  curve.moveTo(270, 25);
  curve.lineTo(280, 25);
  curve.lineTo(280, S);  // first repeated absorption
  curve.lineTo(380, S);
  curve.lineTo(380, 24);
  curve.moveTo(380, 25);
  curve.lineTo(390, 25);
  curve.lineTo(390, S);  // second repeated absorption
  curve.lineTo(W - 10, S);
  Canvas.drawPath(curve);

  Canvas.setPen(QPen(QColor(0, 0, 0), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  Canvas.drawLine(10, H - 10, 10, 10);
  Canvas.drawLine(10, H - 10, W - 10, H - 10);
  Canvas.restore();
}

// ---------------------------------------------------------------------------------------------
// Construction

TForm1::TForm1(const QStringList& Parameters, QWidget* Parent) : QMainWindow(Parent) {
  Form1 = this;
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("ZO configure"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  ClientArea = new QWidget;
  ClientArea->setObjectName(QStringLiteral("ClientArea"));
  ClientArea->setFixedSize(ClientWidth, ClientHeight);
  ScreenFitArea = new TScreenFitArea(ClientArea, this);
  setCentralWidget(ScreenFitArea);

  UserActionLabel = new QLabel(QString::fromLatin1(SelectPortText), ClientArea);
  UserActionLabel->setObjectName(QStringLiteral("UserActionLabel"));
  QFont narrow = UserActionLabel->font();
  narrow.setStretch(QFont::SemiCondensed);
  UserActionLabel->setFont(narrow);
  SetDesignFont(UserActionLabel, 30);
  UserActionLabel->setGeometry(88, 128, 401, 35);

  Image2 = new TDecoration(ClientArea);
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setGeometry(0, 200, 640, 233);

  MasterPanel = new QFrame(ClientArea);
  MasterPanel->setObjectName(QStringLiteral("MasterPanel"));
  MasterPanel->setGeometry(0, 0, 640, 440);
  MasterPanel->setFrameShape(QFrame::NoFrame);
  MasterPanel->setAutoFillBackground(true);
  MasterPanel->hide();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(500);
  idle_timer_ = new QTimer(this);
  idle_timer_->setObjectName(QStringLiteral("IdleTimer"));
  idle_timer_->setInterval(0);

  DL2FWXFile.SetBinarySourceFile("1130118.fwx");
  DL2FWXFile.SetBinarySourceContents(CarriedFirmwareImage());
  DL2FWXFile.Tag = CarriedFirmwareVersion();

  CreateMenus();
  CreatePanel();
  ConnectHandlers();
  ScaleToFont(ClientArea, [this](double) { FitSelfSizedControls(); });

  auto* bar = new QStatusBar(this);
  bar->setSizeGripEnabled(false);
  setStatusBar(bar);
  UnsentChanges = new TUnsentChanges(*this);
  StatusLine = new TStatusLine(*this, *UnsentChanges, bar);
  bar->addWidget(StatusLine, 1);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  Init(Parameters);
}

TForm1::~TForm1() {
  CleanUp();
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateMenus() {
  QMenuBar* bar = menuBar();
  File1 = bar->addMenu(QStringLiteral("&File"));
  File1->setObjectName(QStringLiteral("File1"));
  File1->menuAction()->setObjectName(QStringLiteral("File1"));
  Savesettings1 = NewItem(File1, "Savesettings1", "&Save settings");
  Savesettings1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  Loadsettings1 = NewItem(File1, "Loadsettings1", "&Load settings");
  N1 = NewSeparator(File1, "N1");
  Exit1 = NewItem(File1, "Exit1", "&Exit");

  Port1 = bar->addMenu(QStringLiteral("&Port selection"));
  Port1->setObjectName(QStringLiteral("Port1"));
  Port1->menuAction()->setObjectName(QStringLiteral("Port1"));
  Port1->setToolTipsVisible(true);
  PortGroup = new QActionGroup(this);
  PortGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  Com11 = NewItem(Port1, "Com11", "Com &1");
  Com21 = NewItem(Port1, "Com21", "Com &2");
  Com31 = NewItem(Port1, "Com31", "Com &3");
  Com41 = NewItem(Port1, "Com41", "Com &4");
  ComOther1 = NewItem(Port1, "ComOther1", "&Other");
  int tag = 1;
  for (QAction* item : {Com11, Com21, Com31, Com41, ComOther1}) {
    item->setCheckable(true);
    PortGroup->addAction(item);
    if (item != ComOther1) item->setData(tag++);
  }
  ComOther1->setData(0);

  Target1 = bar->addMenu(QStringLiteral("&Target"));
  Target1->setObjectName(QStringLiteral("Target1"));
  Target1->menuAction()->setObjectName(QStringLiteral("Target1"));
  Getsettings1 = NewItem(Target1, "Getsettings1", "&Get settings");
  Sendsettings1 = NewItem(Target1, "Sendsettings1", "&Send settings");
  N3 = NewSeparator(Target1, "N3");
  Getsoftwareversion1 = NewItem(Target1, "Getsoftwareversion1", "&Read software version");

  Defaults1 = bar->addMenu(QStringLiteral("&Defaults"));
  Defaults1->setObjectName(QStringLiteral("Defaults1"));
  Defaults1->menuAction()->setObjectName(QStringLiteral("Defaults1"));
  Setcompletedefault1 = NewItem(Defaults1, "Setcompletedefault1", "Set &all settings to default");
  N2 = NewSeparator(Defaults1, "N2");
  Setgelbattery1 = NewItem(Defaults1, "Setgelbattery1", "&Gel battery");
  settractionbattery1 = NewItem(Defaults1, "settractionbattery1", "&Traction battery");
  Setsemitractionbattery1 = NewItem(Defaults1, "Setsemitractionbattery1", "&Semi-traction battery");
  Setmarlobattery1 = NewItem(Defaults1, "Setmarlobattery1", "&Marlo battery");

  Special1 = bar->addMenu(QStringLiteral("Specia&l"));
  Special1->setObjectName(QStringLiteral("Special1"));
  Special1->menuAction()->setObjectName(QStringLiteral("Special1"));
  Overrulesoftwareversion1 = NewItem(Special1, "Overrulesoftwareversion1", "&Overrule target");
  Livechart1 = NewItem(Special1, "Livechart1", "Live &chart...");
  Comparewithdevice1 = NewItem(Special1, "Comparewithdevice1", "Compare with &device...");

  About1 = bar->addAction(QStringLiteral("&About"));
  About1->setObjectName(QStringLiteral("About1"));
  UpdatePortTips();
}

void TForm1::CreatePanel() {
  QWidget* P = MasterPanel;
  SystemFrequencyLabel = NewLabel(P, "SystemFrequencyLabel", "System f&requency", 16, 4, 92, 18);
  RadioButton50Hz = NewRadio(P, "RadioButton50Hz", "50 Hz", 112, 4, 52, 18, true);
  RadioButton60Hz = NewRadio(P, "RadioButton60Hz", "60 Hz", 168, 4, 96, 18, false);
  SystemFrequencyLabel->setBuddy(RadioButton50Hz);
  NrOfSlavesLabel = NewLabel(P, "NrOfSlavesLabel", "&Number of slaves", 272, 4, 92, 18);
  NrOfSlavesComboBox = NewCombo(P, "NrOfSlavesComboBox", {"0", "1", "2", "3", "4"}, 368, 0, 34);
  NrOfSlavesComboBox->setMinimumContentsLength(1);
  NrOfSlavesLabel->setBuddy(NrOfSlavesComboBox);

  InverterGroupBox = new QGroupBox(QStringLiteral("&Inverter"), P);
  InverterGroupBox->setObjectName(QStringLiteral("InverterGroupBox"));
  InverterGroupBox->setGeometry(8, 24, 225, 121);
  QWidget* G = InverterGroupBox;
  InvOutputLabel = NewLabel(G, "InvOutputLabel", "AC voltage", 8, 22, 148);
  InvOutputEdit = NewEdit(G, "InvOutputEdit", "230", 160, 22, 41);
  InvOutputUnitLabel = NewLabel(G, "InvOutputUnitLabel", "V", 208, 22, 15);
  DCLowShutDownLabel = NewLabel(G, "DCLowShutDownLabel", "DC low shut-down", 8, 46, 148);
  DCLowShutDownEdit = NewEdit(G, "DCLowShutDownEdit", "9.00", 160, 46, 41);
  DCLowShutDownUnitLabel = NewLabel(G, "DCLowShutDownUnitLabel", "V", 208, 46, 15);
  DCLowRestartLabel = NewLabel(G, "DCLowRestartLabel", "DC low restart", 8, 70, 148);
  DCLowRestartEdit = NewEdit(G, "DCLowRestartEdit", "11.00", 160, 70, 41);
  DCLowRestartUnitLabel = NewLabel(G, "DCLowRestartUnitLabel", "V", 208, 70, 15);
  AESCheckBox = NewCheckBox(G, "AESCheckBox", "AES", 8, 97, 70, 19, true);
  AssistCheckBox = NewCheckBox(G, "AssistCheckBox", "PeakFeed", 80, 97, 140, 19, true);

  MultiPhaseGroupBox = new QGroupBox(QStringLiteral("Single p&hase / 2-3 phase"), P);
  MultiPhaseGroupBox->setObjectName(QStringLiteral("MultiPhaseGroupBox"));
  MultiPhaseGroupBox->setGeometry(248, 24, 201, 121);
  QWidget* M = MultiPhaseGroupBox;
  SinglephaseRadioButton =
      NewRadio(M, "SinglephaseRadioButton", "Single phase", 8, 18, 189, 19, true);
  ThreePhaseRadioButton = NewRadio(M, "ThreePhaseRadioButton", "3 phase", 8, 37, 189, 19, false);
  DualPhase180RadioButton =
      NewRadio(M, "DualPhase180RadioButton", "Split phase 180\u00B0", 8, 56, 189, 19, false);
  DualPhase120RadioButton =
      NewRadio(M, "DualPhase120RadioButton", "Two leg 3 phase 120\u00B0 ", 8, 75, 189, 19, false);
  LeaderCheckBox = NewCheckBox(M, "LeaderCheckBox", "Leader", 8, 97, 189, 19, false);
  LeaderCheckBox->setEnabled(false);

  GroundRelayCheckBox =
      NewCheckBox(P, "GroundRelayCheckBox", "Ground relay", 16, 160, 432, 16, true);
  WaveShapeCheckBox =
      NewCheckBox(P, "WaveShapeCheckBox", "Fast input voltage detection", 16, 176, 432, 16, true);

  CreateStatusPanel();
  CreateChargerGroup();

  AlarmRelayGroupBox = new QGroupBox(QStringLiteral("Alarm &relay"), P);
  AlarmRelayGroupBox->setObjectName(QStringLiteral("AlarmRelayGroupBox"));
  AlarmRelayGroupBox->setGeometry(464, 202, 161, 101);
  QWidget* A = AlarmRelayGroupBox;
  NewLabel(A, "UBatAlarmLowLabel", "low DC voltage", 8, 22, 84);
  UBatAlarmLowEdit = NewEdit(A, "UBatAlarmLowEdit", "11.00", 96, 22, 41);
  NewLabel(A, "UBatAlarmLowUnitLabel", "V", 144, 22, 15);
  NewLabel(A, "UBatAlarmHighLabel", "high DC voltage", 8, 46, 84);
  UBatAlarmHighEdit = NewEdit(A, "UBatAlarmHighEdit", "15.00", 96, 46, 41);
  NewLabel(A, "UBatAlarmHighUnitLabel", "V", 144, 46, 15);
  AlarmRelayPolarityComboBox =
      NewCombo(A, "AlarmRelayPolarityComboBox", {"Activated when alarm", "Activated when no alarm"},
               8, 70, 145);

  GetSettingsButton = new QPushButton(QStringLiteral("&Get settings"), P);
  GetSettingsButton->setObjectName(QStringLiteral("GetSettingsButton"));
  GetSettingsButton->setGeometry(504, 320, 81, 41);
  SendSettingsButton = new QPushButton(QStringLiteral("&Send settings"), P);
  SendSettingsButton->setObjectName(QStringLiteral("SendSettingsButton"));
  SendSettingsButton->setGeometry(504, 368, 81, 41);

  // Below the visible client area: they take part in adapting and showing, out of the user's
  // reach.
  LowRippleCheckBox = NewCheckBox(ClientArea, "LowRippleCheckBox", "1.5 V ripple protection", 16,
                                  480, 300, 16, true);
  HighRippleCheckBox = NewCheckBox(ClientArea, "HighRippleCheckBox", "2.5 V ripple protection", 16,
                                   496, 300, 16, true);
  Label49 = NewLabel(ClientArea, "Label49", "Derive absorption time from", 16, 524, 140, 21);
  AbsorptionCalculationComboBox = NewCombo(ClientArea, "AbsorptionCalculationComboBox",
                                           {"Bulk time", "Bulk charge"}, 160, 524, 100);
  for (QWidget* w : std::initializer_list<QWidget*>{LowRippleCheckBox, HighRippleCheckBox, Label49,
                                                    AbsorptionCalculationComboBox}) {
    w->setEnabled(false);
    w->hide();
  }

  setting_edits_ = {
      InvOutputEdit,         DCLowShutDownEdit,          DCLowRestartEdit,
      AbsorptionVoltageEdit, FloatVoltageEdit,           IBatBulkEdit,
      ShoreCurrentEdit,      RepeatedAbsorptionTimeEdit, RepeatedAbsorptionIntervalTimeEdit,
      AbsorptionTimeEdit,    UBatAlarmLowEdit,           UBatAlarmHighEdit};
  for (QLineEdit* edit : setting_edits_)
    edit->installEventFilter(this);
}

void TForm1::CreateStatusPanel() {
  Panel1 = new QFrame(MasterPanel);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(464, 0, 161, 193);
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Sunken);
  // Room for two lines above the first row: a long device type name wraps.
  DeviceTypeLabel =
      NewLabel(Panel1, "DeviceTypeLabel", "Corvane Inverter 230Vac 24H", 8, 2, 150, 28);
  DeviceTypeLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  DeviceTypeLabel->setWordWrap(true);
  struct Row {
    QLabel** Name;
    TStatusValueLabel** Value;
    QLabel** Unit;
    const char* NameObject;
    const char* ValueObject;
    const char* UnitObject;
    const char* Caption;
    const char* UnitText;
    int Y;
  };
  const Row rows[] = {
      {&UMainsLabel, &UMainsStatusLabel, &UMainsUnitLabel, "UMainsLabel", "UMainsStatusLabel",
       "UMainsUnitLabel", "UMains", "V", 32},
      {&IMainsLabel, &IMainsStatusLabel, &IMainsUnitLabel, "IMainsLabel", "IMainsStatusLabel",
       "IMainsUnitLabel", "IMains", "A", 48},
      {&UInverterLabel, &UInverterStatusLabel, &UInverterUnitLabel, "UInverterLabel",
       "UInverterStatusLabel", "UInverterUnitLabel", "UInverter", "V", 69},
      {&IInverterLabel, &IInverterStatusLabel, &IInverterUnitLabel, "IInverterLabel",
       "IInverterStatusLabel", "IInverterUnitLabel", "IInverter", "A", 85},
      {&UBatLabel, &UBatStatusLabel, &UBatUnitLabel, "UBatLabel", "UBatStatusLabel",
       "UBatUnitLabel", "Udc", "V", 106},
      {&UBatRippleLabel, &UBatRippleStatusLabel, &UBatRippleUnitLabel, "UBatRippleLabel",
       "UBatRippleStatusLabel", "UBatRippleUnitLabel", "Udc ripple", "V", 122},
      {&IBatLabel, &IBatStatusLabel, &IBatUnitLabel, "IBatLabel", "IBatStatusLabel",
       "IBatUnitLabel", "Idc", "A", 138},
  };
  // Name, value and unit share the row: the value is right-aligned up to the unit and takes the
  // room the longest name leaves.
  constexpr int ValueLeft = 86, ValueRight = 102 + 21, RowH = 14;
  for (const Row& row : rows) {
    *row.Name = NewLabel(Panel1, row.NameObject, row.Caption, 26, row.Y, ValueLeft - 2 - 26, RowH);
    SetDesignFont(*row.Name, 11, true);
    auto* value = new TStatusValueLabel(Panel1);
    value->setObjectName(QString::fromLatin1(row.ValueObject));
    SetDesignFont(value, 11, true);
    value->setText(QString::fromLatin1(NoValueText));
    value->setGeometry(ValueLeft, row.Y, ValueRight - ValueLeft, RowH);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    *row.Value = value;
    *row.Unit = NewLabel(Panel1, row.UnitObject, row.UnitText, 126, row.Y, 20, RowH);
    SetDesignFont(*row.Unit, 11, true);
  }
}

void TForm1::CreateChargerGroup() {
  ChargerGroupBox = new QGroupBox(MasterPanel);
  ChargerGroupBox->setObjectName(QStringLiteral("ChargerGroupBox"));
  ChargerGroupBox->setGeometry(8, 204, 441, 224);
  PageControl1 = new QTabWidget(ChargerGroupBox);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(6, 18, 429, 201);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(TabSheet1, QStringLiteral("Charge parameters"));
  PageControl1->addTab(TabSheet2, QStringLiteral("Charge curve"));

  QWidget* T = TabSheet1;
  ChargeCharacteristicLabel =
      NewLabel(T, "ChargeCharacteristicLabel", "Charge characteristic", 8, 4, 100, 21);
  ChargeCharacteristicComboBox =
      NewCombo(T, "ChargeCharacteristicComboBox", {"Fixed", "Adaptive", "Adaptive + CellGuard"},
               112, 4, 145);
  AbsorptionVoltageLabel = NewLabel(T, "AbsorptionVoltageLabel", "Absorption voltage", 8, 38, 100);
  AbsorptionVoltageEdit = NewEdit(T, "AbsorptionVoltageEdit", "14.8", 112, 38, 41);
  NewLabel(T, "AbsorptionVoltageUnitLabel", "V", 160, 38, 28);
  FloatVoltageLabel = NewLabel(T, "FloatVoltageLabel", "Float voltage", 8, 62, 100);
  FloatVoltageEdit = NewEdit(T, "FloatVoltageEdit", "13.8", 112, 62, 41);
  NewLabel(T, "FloatVoltageUnitLabel", "V", 160, 62, 28);
  IBatBulkLabel = NewLabel(T, "IBatBulkLabel", "Charge current", 8, 86, 100);
  IBatBulkEdit = NewEdit(T, "IBatBulkEdit", "120", 112, 86, 41);
  NewLabel(T, "IBatBulkUnitLabel", "A", 160, 86, 28);
  ShoreCurrentLabel = NewLabel(T, "ShoreCurrentLabel", "Shore current limit", 8, 110, 100);
  ShoreCurrentEdit = NewEdit(T, "ShoreCurrentEdit", "16", 112, 110, 41);
  ShoreCurrentUnitLabel = NewLabel(T, "ShoreCurrentUnitLabel", "A", 160, 110, 28);

  RepeatedAbsorptionTimeLabel =
      NewLabel(T, "RepeatedAbsorptionTimeLabel", "Repeated absorption time", 192, 38, 140);
  RepeatedAbsorptionTimeEdit = NewEdit(T, "RepeatedAbsorptionTimeEdit", "40.00", 336, 38, 41);
  NewLabel(T, "RepeatedAbsorptionTimeUnitLabel", "Hr", 384, 38, 36);
  RepeatedAbsorptionIntervalLabel =
      NewLabel(T, "RepeatedAbsorptionIntervalLabel", "Repeated absorption interval", 192, 62, 140);
  RepeatedAbsorptionIntervalTimeEdit =
      NewEdit(T, "RepeatedAbsorptionIntervalTimeEdit", "1", 336, 62, 41);
  NewLabel(T, "RepeatedAbsorptionIntervalUnitLabel", "Days", 384, 62, 36);
  AbsorptionTimeLabel = NewLabel(T, "AbsorptionTimeLabel", "Maximum absorption time", 192, 86, 140);
  AbsorptionTimeEdit = NewEdit(T, "AbsorptionTimeEdit", "4", 336, 86, 41);
  NewLabel(T, "AbsorptionTimeUnitLabel", "Hr", 384, 86, 36);
  StopAfter10HrBulkCheckBox =
      NewCheckBox(T, "StopAfter10HrBulkCheckBox", "Stop after 10 Hr bulk", 264, 120, 157, 20, true);
  ReducedFloatCheckBox =
      NewCheckBox(T, "ReducedFloatCheckBox", "Storage mode", 264, 144, 157, 20, true);

  ChargeCurvePaintBox = new TPaintBox(TabSheet2);
  ChargeCurvePaintBox->setObjectName(QStringLiteral("ChargeCurvePaintBox"));
  ChargeCurvePaintBox->setGeometry(4, 4, 413, 165);
  ChargeCurvePaintBox->OnPaint = [this](QPainter& Canvas) { PaintChargeCurve(Canvas); };

  // Lies on the top edge of the charger group and serves as its caption (sized to its text by
  // FitSelfSizedControls).
  EnableChargerCheckBox =
      NewCheckBox(MasterPanel, "EnableChargerCheckBox", "Enable &charger", 24, 202, 0, 0, true);
  EnableChargerCheckBox->setAutoFillBackground(true);
  EnableChargerCheckBox->raise();
}

void TForm1::FitSelfSizedControls() {
  // The heading takes the room of its longer text, as far as the client area reaches.
  const QFontMetrics heading = UserActionLabel->fontMetrics();
  const int text = std::max(heading.horizontalAdvance(QString::fromLatin1(SelectPortText)),
                            heading.horizontalAdvance(QString::fromLatin1(ConnectText)));
  UserActionLabel->resize(
      std::min(std::max(Scaled(this, 401), text + 4), ClientArea->width() - UserActionLabel->x()),
      UserActionLabel->height());
  NrOfSlavesComboBox->resize(std::max(Scaled(this, 34), NrOfSlavesComboBox->sizeHint().width()),
                             NrOfSlavesComboBox->height());
  EnableChargerCheckBox->adjustSize();
  EnableChargerCheckBox->move(Scaled(this, 24),
                              Scaled(this, 202) - EnableChargerCheckBox->height() / 2 + 2);
}

void TForm1::ConnectHandlers() {
  connect(Timer1, &QTimer::timeout, this, [this] { CheckConnection(); });
  connect(idle_timer_, &QTimer::timeout, this, [this] { IdleTick(); });

  connect(Savesettings1, &QAction::triggered, this, [this] { Savesettings1Click(); });
  connect(Loadsettings1, &QAction::triggered, this, [this] { Loadsettings1Click(); });
  connect(Exit1, &QAction::triggered, this, [this] { DoMyClose(Exit1); });
  for (QAction* item : {Com11, Com21, Com31, Com41})
    connect(item, &QAction::triggered, this, [this, item] {
      RestorePortChecks();
      ComClick(item);
    });
  connect(ComOther1, &QAction::triggered, this, [this] {
    RestorePortChecks();
    OtherComClick(ComOther1);
  });
  connect(Port1, &QMenu::aboutToShow, this, [this] { UpdatePortTips(); });
  connect(Getsettings1, &QAction::triggered, this, [this] { Getsettings1Click(Getsettings1); });
  connect(Sendsettings1, &QAction::triggered, this, [this] { Sendsettings1Click(Sendsettings1); });
  connect(Getsoftwareversion1, &QAction::triggered, this, [this] { Getsoftwareversion1Click(); });
  connect(Setcompletedefault1, &QAction::triggered, this, [this] { Setcompletedefault1Click(); });
  for (QAction* item :
       {Setgelbattery1, settractionbattery1, Setsemitractionbattery1, Setmarlobattery1})
    connect(item, &QAction::triggered, this, [this, item] { BatteryDefaultClick(item); });
  connect(Overrulesoftwareversion1, &QAction::triggered, this,
          [this] { Overrulesoftwareversion1Click(); });
  connect(Livechart1, &QAction::triggered, this, [this] { Livechart1Click(); });
  connect(Comparewithdevice1, &QAction::triggered, this,
          [this] { Comparewithdevice1Click(Comparewithdevice1); });
  Panel1->installEventFilter(this);  // a double-click on the status panel opens the live chart
  connect(About1, &QAction::triggered, this, [this] { About1Click(); });

  connect(GetSettingsButton, &QPushButton::clicked, this,
          [this] { Getsettings1Click(GetSettingsButton); });
  connect(SendSettingsButton, &QPushButton::clicked, this,
          [this] { Sendsettings1Click(SendSettingsButton); });

  // Check boxes and radio buttons react to every change of state, also from code, as the
  // design's click handlers do; drop-down lists only to the user's choice.
  for (QRadioButton* radio : {RadioButton50Hz, RadioButton60Hz})
    connect(radio, &QRadioButton::toggled, this, [this](bool On) {
      if (On) FrequencyClick();
    });
  connect(NrOfSlavesComboBox, &QComboBox::activated, this, [this] { NrOfSlavesComboBoxChange(); });
  connect(AESCheckBox, &QCheckBox::toggled, this, [this] { AESCheckBoxClick(); });
  connect(AssistCheckBox, &QCheckBox::toggled, this, [this] { AssistCheckBoxClick(); });
  connect(LeaderCheckBox, &QCheckBox::toggled, this, [this] { LeaderCheckBoxClick(); });
  connect(GroundRelayCheckBox, &QCheckBox::toggled, this, [this] { GroundRelayCheckBoxClick(); });
  connect(WaveShapeCheckBox, &QCheckBox::toggled, this, [this] { WaveShapeCheckBoxClick(); });
  connect(EnableChargerCheckBox, &QCheckBox::toggled, this,
          [this] { EnableChargerCheckBoxClick(); });
  for (QRadioButton* radio : {SinglephaseRadioButton, ThreePhaseRadioButton,
                              DualPhase180RadioButton, DualPhase120RadioButton})
    connect(radio, &QRadioButton::toggled, this, [this, radio](bool On) {
      if (On) MultiPhaseRadioButtonClick(radio);
    });
  connect(ChargeCharacteristicComboBox, &QComboBox::activated, this,
          [this] { ChargeCharacteristicComboBoxChange(); });
  connect(AlarmRelayPolarityComboBox, &QComboBox::activated, this,
          [this] { AlarmRelayPolarityComboBoxChange(); });
  connect(StopAfter10HrBulkCheckBox, &QCheckBox::toggled, this,
          [this] { StopAfter10HrBulkCheckBoxClick(); });
  connect(ReducedFloatCheckBox, &QCheckBox::toggled, this, [this] { ReducedFloatCheckBoxClick(); });
  connect(LowRippleCheckBox, &QCheckBox::toggled, this, [this] { LowRippleCheckBoxClick(); });
  connect(HighRippleCheckBox, &QCheckBox::toggled, this, [this] { HighRippleCheckBoxClick(); });
  connect(AbsorptionCalculationComboBox, &QComboBox::activated, this,
          [this] { AbsorptionCalculationComboBoxChange(); });
}

// ---------------------------------------------------------------------------------------------
// Start-up, port selection, supervision, shutdown

void TForm1::Init(const QStringList& Parameters) {
  std::string error;
  InitSettings(error);
  FatalMessage_ = error;
  // The status labels exist before the model: bind them to the monitor list just built.
  for (TStatusValueLabel* label :
       {UMainsStatusLabel, IMainsStatusLabel, UInverterStatusLabel, IInverterStatusLabel,
        UBatStatusLabel, UBatRippleStatusLabel, IBatStatusLabel})
    BindMonitorLabel(FromQt(label->objectName()), label);
  PendingAction = nullptr;
  PendingSender = nullptr;
  SetLogSize(256);
  DL2FWXFile.Stream().clear();
  DL2FWXFile.Stream().seekg(0);
  BusThread_ = new TBusThread(&MonitorList, &DL2FWXFile.Stream(), DL2FWXFile.Tag);
  BusThread_->SetLiveHistory(LiveHistory_.get());
  SetPanelActive(false);
  TargetVersion_ = -1;
  Timer1->start();
  ShowBusyMessage("");
  Updating_ = false;

  if (!Parameters.isEmpty()) {
    const std::string first = FromQt(Parameters.front());
    if (first.size() >= 2 && first[0] == '/' && (first[1] == 'v' || first[1] == 'V')) {
      std::int32_t version = 0;
      if (TryStrToInt(first.substr(2), version) && version > 0)
        BusThread_->SetOverruledVersion(version);
    }
  }
  // The fatal message is shown at the first idle moment.
  if (!FatalMessage_.empty()) StartIdle(0);
}

void TForm1::CleanUp() {
  if (cleaned_up_) return;
  cleaned_up_ = true;
  Timer1->stop();
  idle_timer_->stop();
  ShowBusyMessage("");
  if (BusThread_) {
    TBusThread* thread = BusThread_;
    BusThread_ = nullptr;
    thread->SafeTerminate(true, true, true);
  }
  for (TStatusValueLabel* label :
       {UMainsStatusLabel, IMainsStatusLabel, UInverterStatusLabel, IInverterStatusLabel,
        UBatStatusLabel, UBatRippleStatusLabel, IBatStatusLabel})
    BindMonitorLabel(FromQt(label->objectName()), nullptr);
  DoneSettings();
}

void TForm1::closeEvent(QCloseEvent* Event) {
  const TUnsentChanges::TDecision decision = UnsentChanges->AskBeforeDiscard(CanSend());
  // Sending needs the bus, which an action borrows: the window closes once they are sent.
  if (decision == TUnsentChanges::TDecision::Send)
    QTimer::singleShot(0, this, [this] { SendAndClose(this); });
  if (decision != TUnsentChanges::TDecision::Proceed) {
    Event->ignore();
    return;
  }
  // CloseForm: closing the main window ends the program; nothing is added here.
  closed_ = true;
  Timer1->stop();
  QMainWindow::closeEvent(Event);
}

void TForm1::DoMyClose(QObject*) {
  const std::string message = FatalMessage_;
  Timer1->stop();
  FatalMessage_.clear();
  if (!message.empty()) ShowMessageBox(message, TMsgDlgType::mtError);
  // The user may keep the window for changes not yet sent.
  if (close()) closed_ = true;
  if (!closed_) Timer1->start();
}

void TForm1::StartIdle(int IntervalMs) {
  idle_timer_->setInterval(IntervalMs);
  if (!idle_timer_->isActive()) idle_timer_->start();
}

void TForm1::IdleTick() {
  if (in_idle_) return;  // a modal box inside an action pumps events: no second action then
  in_idle_ = true;
  bool done = true;
  ApplicationIdle(done);
  in_idle_ = false;
  if (done && !PendingAction && FatalMessage_.empty()) {
    idle_timer_->stop();
  } else {
    // The bus thread finishes its transaction (up to about a second): look again shortly,
    // without burning a core meanwhile.
    StartIdle(done ? 0 : 5);
  }
}

bool TForm1::AcquireBus(QObject* Sender, TAction Action) {
  if (PendingAction) return false;
  if (BusThread_->Paused()) return true;
  BusThread_->SetPauseRequested(true);
  Timer1->stop();
  PendingAction = Action;
  PendingSender = Sender;
  StartIdle(0);
  return false;
}

void TForm1::ApplicationIdle(bool& Done) {
  if (!FatalMessage_.empty()) {
    PendingAction = &TForm1::DoMyClose;
    PendingSender = this;
  }
  if (PendingAction) {
    const TAction action = PendingAction;
    QObject* sender = PendingSender.data();
    PendingAction = nullptr;
    PendingSender = nullptr;
    (this->*action)(sender);
    if (PendingAction) {
      Done = false;
    } else {
      Done = true;
      if (BusThread_) BusThread_->SetPauseRequested(false);
      if (!closed_) Timer1->start();
    }
    return;
  }
  Done = true;
}

std::vector<QAction*> TForm1::AllMenuItems() const {
  std::vector<QAction*> items;
  for (QMenu* menu : {File1, Port1, Target1, Defaults1, Special1}) {
    items.push_back(menu->menuAction());
    for (QAction* item : menu->actions())
      items.push_back(item);
  }
  items.push_back(About1);
  return items;
}

void TForm1::SetPanelActive(bool Active) {
  PanelActive_ = Active;
  MasterPanel->setVisible(Active);
  for (QAction* item : AllMenuItems())
    item->setEnabled(Active);
  for (QAction* item : {File1->menuAction(), Exit1, Port1->menuAction(), Com11, Com21, Com31, Com41,
                        ComOther1, About1, Special1->menuAction(), Overrulesoftwareversion1})
    item->setEnabled(true);
  // The menus themselves too: a menu re-enabled with its window (the progress dialog disables the
  // window while a DL2 is programmed) would otherwise offer "Target" with no target shown.
  for (QMenu* menu : {File1, Port1, Target1, Defaults1, Special1})
    menu->setEnabled(menu->menuAction()->isEnabled());
  if (Active) GetSettingsButton->setFocus();
}

void TForm1::ShowBusyMessage(const std::string& Text) {
  if (BusyMessage_) {
    BusyMessage_->hide();
    delete BusyMessage_.data();
  }
  BusyMessage_ = nullptr;
  if (Text.empty()) return;
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("ZO configure"), ToQt(Text),
                              QMessageBox::NoButton, this);
  box->setObjectName(QStringLiteral("BusyMessage"));
  box->setStandardButtons(QMessageBox::NoButton);
  box->setModal(false);
  box->setWindowModality(Qt::NonModal);
  BusyMessage_ = box;
  // The caller blocks the main thread next: the box must be on the screen before.
  ShowPainted(box);
}

void TForm1::UpdatePortTips() {
  // For Linux users: which device each port number reaches, and the adapter's name where the
  // system knows it.
  std::vector<TPortInfo> ports;
  try {
    ports = EnumerateSerialPorts();
  } catch (...) {
  }
  auto tip = [&ports](int Number) -> QString {
    if (Number < 1 || Number > 255) return {};
    if (auto line = SimPortRegistry::Find(static_cast<std::uint8_t>(Number)))
      return QStringLiteral("Simulated: ") + QString::fromStdString(line->Name());
    const std::string path = PortDevicePath(static_cast<std::uint8_t>(Number));
    if (path.empty()) return QStringLiteral("No device for COM%1").arg(Number);
    QString text = QString::fromStdString(path);
    for (const TPortInfo& port : ports)
      if (port.Path == path && !port.Description.empty())
        text += QStringLiteral(" (") + QString::fromStdString(port.Description) + ')';
    return text;
  };
  for (QAction* item : {Com11, Com21, Com31, Com41, ComOther1}) {
    // "&Other" keeps the last chosen port number, also a fixed one's: it names its own port
    // only while it is the chosen item.
    const bool own = item != ComOther1 || checked_port_ == ComOther1;
    const QString text = own ? tip(item->data().toInt()) : QString();
    item->setToolTip(text.isEmpty() ? item->text().remove('&') : text);
    item->setStatusTip(text);
  }
}

void TForm1::RestorePortChecks() {
  for (QAction* item : PortGroup->actions())
    item->setChecked(item == checked_port_);
}

void TForm1::OtherComClick(QObject*) {
  std::string text;
  if (!Ui().InputQuery("Other COM port", "COM port number:", text)) return;
  std::int32_t number = 0;
  // A port number is one byte: a larger number would open another port than the one typed.
  if (!TryStrToInt(text, number) || number < 1 || number > 255) {
    ShowMessageBox("Cannot interpret \"" + text + "\" as a COM port number!", TMsgDlgType::mtError);
    return;
  }
  ComOther1->setData(number);
  ComClick(ComOther1);
}

void TForm1::ComClick(QObject* Sender) {
  if (!AcquireBus(Sender, &TForm1::ComClick)) return;
  if (!ChangesSettled()) return;
  BusThread_->ResetVersion();
  // Whatever the port reaches is a new target, also a device of the version just shown (the same
  // port again, or identical units on two adapters): nothing of the previous device stays shown,
  // and the timer sees its version as a change and has it read.
  TargetVersion_ = -1;
  ForgetTarget();
  SetCaptionFromTarget();
  ComOther1->setText(QStringLiteral("&Other"));
  auto* item = qobject_cast<QAction*>(Sender);
  if (item && item != ComOther1 && item->data().toInt() >= 1) ComOther1->setData(item->data());
  const int port = ComOther1->data().toInt();
  // Detection, a firmware question and an update run inside OpenPort: the status line names
  // this port meanwhile.
  StatusLine->PortOpening(port);
  const bool opened =
      port >= 1 && port <= 255 && BusThread_->OpenPort(static_cast<std::uint8_t>(port));
  if (opened) {
    UserActionLabel->setText(QStringLiteral("Connect cable and switch on device"));
    QAction* checked = ComOther1;
    if (port >= 1 && port <= 4)
      checked = std::vector<QAction*>{Com11, Com21, Com31, Com41}[port - 1];
    if (checked == ComOther1) ComOther1->setText(QStringLiteral("&Other (Com %1)").arg(port));
    checked_port_ = checked;
  } else {
    UserActionLabel->setText(QStringLiteral("Please select a communications port"));
    checked_port_ = nullptr;
  }
  RestorePortChecks();
  UpdatePortTips();
  StatusLine->PortChosen(opened ? port : 0);
}

void TForm1::CheckConnection() {
  if (!BusThread_) return;
  const std::int32_t version = BusThread_->EffectiveVersion();
  if (version != TargetVersion_) {
    TargetVersion_ = version;
    TargetChanged(this);
  }
}

void TForm1::About1Click() {
  TAboutBox box(this);
  box.exec();
}

// ---------------------------------------------------------------------------------------------
// The target and its settings

void TForm1::SetCaptionFromTarget() {
  if (TargetVersion_ < 1 || !PanelActive_)
    setWindowTitle(QStringLiteral("ZO configure"));
  else
    setWindowTitle(QStringLiteral("ZO configure (") + DeviceTypeLabel->text() + ')');
}

void TForm1::ForgetTarget() {
  SetPanelActive(false);
  // No version selected: the bus thread reads no monitor value with addresses the window has not
  // chosen for the device it shows.
  SelectVersion(-1);
  UnsupportedVersion_ = -1;
  LiveHistory_->DeviceChanged("", Now());
}

std::string TForm1::TargetName() const {
  std::string name = FromQt(DeviceTypeLabel->text()) + " (" + std::to_string(TargetVersion_);
  if (BusThread_->OverruledVersion() == TargetVersion_) name += ", overruled";
  name += ")";
  if (checked_port_) name += " on COM" + std::to_string(ComOther1->data().toInt());
  return name;
}

void TForm1::TargetChanged(QObject* Sender) {
  if (!AcquireBus(Sender, &TForm1::TargetChanged)) return;
  ForgetTarget();
  repaint();
  if (TargetVersion_ > 0) {
    if (SelectVersion(TargetVersion_)) {
      bool ok = true;
      if (BusThread_->OverruledVersion() == -1) {
        ShowBusyMessage("Target found!\rRetrieving data.");
        TBusDriver* driver = BusThread_->Driver();
        bool access = false;
        const std::uint8_t value = DeviceFamily() == 14 ? 160 : 0;
        for (int attempt = 0; attempt < 3 && !access && driver; ++attempt)
          access = SendCommand4(*driver, value);
        ok = access && ReadSettings(driver);
        AdaptToTarget();
        ShowBusyMessage("");
        if (!ok) {
          SelectVersion(-1);
          ShowMessageBox("Error during communication!", TMsgDlgType::mtError);
          TargetVersion_ = -1;
        }
      } else {
        AdaptToTarget();
        SetDefaults();
      }
      if (ok) {
        ShowSettings();
        SetPanelActive(true);
        LiveHistory_->DeviceChanged(TargetName(), Now());
      }
      StatusLine->Finished(BusThread_->OverruledVersion() == -1
                               ? TStatusLine::TOperation::Read
                               : TStatusLine::TOperation::OverruleDefaults,
                           ok);
    } else {
      UnsupportedVersion_ = TargetVersion_;
      ShowMessageBox("Software version: " + std::to_string(TargetVersion_) + " is not supported!",
                     TMsgDlgType::mtError);
      if (BusThread_->OverruledVersion() != -1) BusThread_->SetOverruledVersion(-1);
    }
  }
  // An unsupported version shows no target, so the caption names none.
  SetCaptionFromTarget();
}

void TForm1::AdaptToTarget() {
  EnableStatusRow(HasCharger() && SettingTable[SettingUMains].IsPresent(), UMainsLabel,
                  UMainsStatusLabel, UMainsUnitLabel);
  EnableStatusRow(HasCharger() && SettingTable[SettingIMains].IsPresent(), IMainsLabel,
                  IMainsStatusLabel, IMainsUnitLabel);
  EnableStatusRow(SettingTable[SettingUInverter].IsPresent(), UInverterLabel, UInverterStatusLabel,
                  UInverterUnitLabel);
  EnableStatusRow(SettingTable[SettingIInverter].IsPresent(), IInverterLabel, IInverterStatusLabel,
                  IInverterUnitLabel);
  EnableStatusRow(SettingTable[SettingUdc].IsPresent(), UBatLabel, UBatStatusLabel, UBatUnitLabel);
  EnableStatusRow(SettingTable[SettingIdc].IsPresent(), IBatLabel, IBatStatusLabel, IBatUnitLabel);
  EnableStatusRow(SettingTable[SettingUdcRipple].IsPresent(), UBatRippleLabel,
                  UBatRippleStatusLabel, UBatRippleUnitLabel);

  std::string name;
  GetDeviceTypeName(name);
  DeviceTypeLabel->setText(ToQt(name));

  auto show = [](std::initializer_list<QWidget*> Widgets, bool Visible) {
    for (QWidget* w : Widgets)
      w->setVisible(Visible);
  };
  show({SystemFrequencyLabel, RadioButton50Hz, RadioButton60Hz}, HasFrequency());
  show({DCLowShutDownLabel, DCLowShutDownEdit, DCLowShutDownUnitLabel, DCLowRestartLabel,
        DCLowRestartEdit, DCLowRestartUnitLabel},
       HasDCLowLevels());
  show({InverterGroupBox}, HasInverter());
  show({ChargerGroupBox}, HasCharger());
  {
    // Checked with its click effects, but flag 31 stays as it is.
    const QSignalBlocker block(EnableChargerCheckBox);
    EnableChargerCheckBox->setChecked(true);
  }
  EnableChildren(ChargerGroupBox, true);
  PageControl1->setCurrentIndex(0);
  show({EnableChargerCheckBox}, HasChargerSwitch());
  show({AESCheckBox}, HasAES());
  show({AssistCheckBox}, HasPeakFeed());
  show({NrOfSlavesLabel, NrOfSlavesComboBox}, HasSlaveCount());
  show({MultiPhaseGroupBox}, HasMultiPhase());
  DualPhase180RadioButton->setEnabled(HasPhaseModes());
  DualPhase120RadioButton->setEnabled(HasPhaseModes());
  show({GroundRelayCheckBox}, HasGroundRelay());
  show({WaveShapeCheckBox}, HasWaveShape());
  show({ShoreCurrentLabel, ShoreCurrentUnitLabel, ShoreCurrentEdit}, HasShoreCurrent());
  show({StopAfter10HrBulkCheckBox}, HasStopAfterBulk());
  show({ReducedFloatCheckBox}, HasStorageMode());
  show({AlarmRelayGroupBox}, HasAlarmRelay());
  ChargeCharacteristicComboBox->clear();
  if (HasCellGuard())
    ChargeCharacteristicComboBox->addItems({"Fixed", "Adaptive", "Adaptive + CellGuard"});
  else
    ChargeCharacteristicComboBox->addItems({"Fixed", "Adaptive"});
  ChargeCharacteristicComboBox->setCurrentIndex(0);
  show({LowRippleCheckBox}, HasLowRippleProtection());
  show({HighRippleCheckBox}, HasHighRippleProtection());
  show({AbsorptionCalculationComboBox}, HasAbsorptionCalculation());
}

void TForm1::ShowSettings() {
  Updating_ = true;
  if (GetFlag(FlagFrequency60Hz))
    RadioButton60Hz->setChecked(true);
  else
    RadioButton50Hz->setChecked(true);
  NrOfSlavesComboBox->setCurrentIndex(SettingTable[SettingSlaves].Value);
  InvOutputEdit->setText(SettingText(SettingInverterOutput));
  DCLowShutDownEdit->setText(SettingText(SettingDCShutDown));
  {
    TSetting& restart = SettingTable[SettingDCRestart];
    const std::int32_t amount = restart.Value;
    restart.Value = amount + SettingTable[SettingDCShutDown].Value;
    DCLowRestartEdit->setText(ToQt(restart.AsText()));
    restart.Value = amount;
  }
  AESCheckBox->setChecked(!GetFlag(FlagAESOff));
  AssistCheckBox->setChecked(GetFlag(FlagPeakFeed));
  LeaderCheckBox->setChecked(GetFlag(FlagLeader));
  if (GetFlag(FlagMultiPhase)) {
    ThreePhaseRadioButton->setChecked(true);
    if (SettingTable[SettingPhaseMode].IsPresent()) {
      const std::int32_t mode = SettingTable[SettingPhaseMode].Value;
      if (mode == 1)
        DualPhase180RadioButton->setChecked(true);
      else if (mode == 2 || mode == 3)
        DualPhase120RadioButton->setChecked(true);
    }
  } else {
    SinglephaseRadioButton->setChecked(true);
  }
  GroundRelayCheckBox->setChecked(!GetFlag(FlagGroundRelayOff));
  WaveShapeCheckBox->setChecked(!GetFlag(FlagWaveShapeOff));
  EnableChargerCheckBox->setChecked(!GetFlag(FlagChargerOff));
  ChargeCharacteristicComboBox->setCurrentIndex(SettingTable[SettingChargeCharacteristic].Value -
                                                1);
  ChargeCharacteristicComboBoxChange();
  AbsorptionVoltageEdit->setText(SettingText(SettingAbsorptionVoltage));
  FloatVoltageEdit->setText(SettingText(SettingFloatVoltage));
  IBatBulkEdit->setText(SettingText(SettingChargeCurrent));
  ShoreCurrentEdit->setText(SettingText(SettingShoreCurrent));
  RepeatedAbsorptionTimeEdit->setText(SettingText(SettingRepeatedAbsorptionTime));
  RepeatedAbsorptionIntervalTimeEdit->setText(SettingText(SettingRepeatedAbsorptionInterval));
  AbsorptionTimeEdit->setText(SettingText(SettingAbsorptionTime));
  StopAfter10HrBulkCheckBox->setChecked(!GetFlag(FlagStopAfterBulk));
  ReducedFloatCheckBox->setChecked(GetFlag(FlagStorageMode));
  UBatAlarmLowEdit->setText(SettingText(SettingLowBatteryAlarm));
  UBatAlarmHighEdit->setText(SettingText(SettingHighBatteryAlarm));
  AlarmRelayPolarityComboBox->setCurrentIndex(GetFlag(FlagAlarmRelayPolarity) ? 0 : 1);
  LowRippleCheckBox->setChecked(!GetFlag(FlagLowRippleOff));
  HighRippleCheckBox->setChecked(!GetFlag(FlagHighRippleOff));
  AbsorptionCalculationComboBox->setCurrentIndex(GetFlag(FlagAbsorptionFromBulk) ? 1 : 0);
  if (PanelActive_) GetSettingsButton->setFocus();
  Updating_ = false;
  ChargeCurvePaintBox->update();
}

void TForm1::SetOption(std::uint8_t Item, bool Value) {
  if (!Updating_) SetFlag(Item, Value);
}

void TForm1::EnableChildren(QWidget* Container, bool Enabled) {
  for (QWidget* child : Container->findChildren<QWidget*>())
    child->setEnabled(Enabled);
}

void TForm1::Getsettings1Click(QObject* Sender) {
  if (!AcquireBus(Sender, &TForm1::Getsettings1Click)) return;
  TBusDriver* driver = BusThread_->Driver();
  if (!driver) {
    // An overruled version without an interface: there is nothing to read from.
    ShowMessageBox("Error during communication!", TMsgDlgType::mtError);
    StatusLine->Finished(TStatusLine::TOperation::Read, false);
    return;
  }
  if (!ChangesSettled()) return;
  ShowBusyMessage("Retrieving data!");
  const bool ok = ReadSettings(driver);
  ShowSettings();
  ShowBusyMessage("");
  StatusLine->Finished(TStatusLine::TOperation::Read, ok);
}

void TForm1::Sendsettings1Click(QObject* Sender) {
  if (BusThread_->OverruledVersion() > 0) {
    ShowMessageBox("Version number overruled!\rSending to device is disabled!",
                   TMsgDlgType::mtError);
    return;
  }
  if (!AcquireBus(Sender, &TForm1::Sendsettings1Click)) return;
  SendChanges();
}

bool TForm1::SendChanges() {
  ShowBusyMessage("Sending data!");
  const bool ok = WriteSettings(BusThread_->Driver());
  ShowBusyMessage("");
  StatusLine->Finished(TStatusLine::TOperation::Send, ok);
  // A failed send must not look like a success.
  if (!ok) ShowMessageBox("Error during communication!", TMsgDlgType::mtError);
  return ok;
}

bool TForm1::CanSend() const {
  return PanelActive_ && BusThread_ && BusThread_->OverruledVersion() <= 0 &&
         BusThread_->Driver() != nullptr;
}

bool TForm1::ChangesSettled() {
  switch (UnsentChanges->AskBeforeDiscard(CanSend())) {
    case TUnsentChanges::TDecision::Proceed:
      return true;
    case TUnsentChanges::TDecision::Send:
      return SendBeforeLeaving();
    case TUnsentChanges::TDecision::Keep:
      break;
  }
  return false;
}

bool TForm1::SendBeforeLeaving() {
  if (!SendChanges()) return false;
  // The settings go out without replies, and the adapter may drop what it still holds when the
  // port closes: a request answered after them shows that the device has taken them.
  ReadSoftwareVersion(*BusThread_->Driver());
  return true;
}

void TForm1::SendAndClose(QObject* Sender) {
  if (!AcquireBus(Sender, &TForm1::SendAndClose)) return;
  if (SendBeforeLeaving()) DoMyClose(Sender);
}

void TForm1::Getsoftwareversion1Click() {
  if (TargetVersion_ < 0)
    ShowMessageBox("Error reading software version", TMsgDlgType::mtError);
  else
    ShowMessageBox("Software version: " + std::to_string(TargetVersion_),
                   TMsgDlgType::mtInformation);
}

void TForm1::FrequencyClick() {
  SetOption(FlagFrequency60Hz, RadioButton60Hz->isChecked());
}

void TForm1::NrOfSlavesComboBoxChange() {
  if (!Updating_) SettingTable[SettingSlaves].Value = NrOfSlavesComboBox->currentIndex();
}

void TForm1::AESCheckBoxClick() {
  SetOption(FlagAESOff, !AESCheckBox->isChecked());
}

void TForm1::AssistCheckBoxClick() {
  SetOption(FlagPeakFeed, AssistCheckBox->isChecked());
}

void TForm1::LeaderCheckBoxClick() {
  SetOption(FlagLeader, LeaderCheckBox->isChecked());
}

void TForm1::GroundRelayCheckBoxClick() {
  SetOption(FlagGroundRelayOff, !GroundRelayCheckBox->isChecked());
}

void TForm1::WaveShapeCheckBoxClick() {
  SetOption(FlagWaveShapeOff, !WaveShapeCheckBox->isChecked());
}

void TForm1::EnableChargerCheckBoxClick() {
  SetOption(FlagChargerOff, !EnableChargerCheckBox->isChecked());
  EnableChildren(ChargerGroupBox, EnableChargerCheckBox->isChecked());
  PageControl1->setCurrentIndex(0);
}

void TForm1::MultiPhaseRadioButtonClick(QRadioButton* Sender) {
  LeaderCheckBox->setEnabled(!SinglephaseRadioButton->isChecked());
  if (Updating_) return;
  std::int32_t mode = 0;
  bool multi = true;
  if (Sender == SinglephaseRadioButton)
    multi = false;
  else if (Sender == DualPhase180RadioButton)
    mode = 1;
  else if (Sender == DualPhase120RadioButton)
    mode = 2;
  SettingTable[SettingPhaseMode].Value = mode;
  SetFlag(FlagMultiPhase, multi);
}

void TForm1::ChargeCharacteristicComboBoxChange() {
  const int index = ChargeCharacteristicComboBox->currentIndex();
  AbsorptionTimeLabel->setText(index == 0 ? QStringLiteral("Absorption time")
                                          : QStringLiteral("Maximum absorption time"));
  if (Updating_) return;
  SettingTable[SettingChargeCharacteristic].Value = index + 1;
  const bool fixed = index == 0;
  SettingTable[SettingRepeatedAbsorptionTime].Value = fixed ? 2 : 4;
  SettingTable[SettingRepeatedAbsorptionInterval].Value = fixed ? 1 : 7;
  SetFlag(FlagStorageMode, !fixed);
  Updating_ = true;
  RepeatedAbsorptionTimeEdit->setText(SettingText(SettingRepeatedAbsorptionTime));
  RepeatedAbsorptionIntervalTimeEdit->setText(SettingText(SettingRepeatedAbsorptionInterval));
  ReducedFloatCheckBox->setChecked(GetFlag(FlagStorageMode));
  Updating_ = false;
  ChargeCurvePaintBox->update();
}

void TForm1::AlarmRelayPolarityComboBoxChange() {
  SetOption(FlagAlarmRelayPolarity, AlarmRelayPolarityComboBox->currentIndex() == 0);
}

void TForm1::StopAfter10HrBulkCheckBoxClick() {
  SetOption(FlagStopAfterBulk, !StopAfter10HrBulkCheckBox->isChecked());
}

void TForm1::ReducedFloatCheckBoxClick() {
  SetOption(FlagStorageMode, ReducedFloatCheckBox->isChecked());
  ChargeCurvePaintBox->update();
}

void TForm1::LowRippleCheckBoxClick() {
  SetOption(FlagLowRippleOff, !LowRippleCheckBox->isChecked());
}

void TForm1::HighRippleCheckBoxClick() {
  SetOption(FlagHighRippleOff, !HighRippleCheckBox->isChecked());
}

void TForm1::AbsorptionCalculationComboBoxChange() {
  SetOption(FlagAbsorptionFromBulk, AbsorptionCalculationComboBox->currentIndex() == 1);
}

void TForm1::ChangementRequested(QLineEdit* Sender) {
  if (!InputForm) return;
  InputForm->Prepare(Sender);
  InputForm->exec();
}

void TForm1::KeyPressedInEditField(QLineEdit* Sender) {
  ChangementRequested(Sender);
}

bool TForm1::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == Panel1 && Event->type() == QEvent::MouseButtonDblClick) {
    Livechart1Click();
    return true;
  }
  auto* edit = qobject_cast<QLineEdit*>(Watched);
  if (edit &&
      std::find(setting_edits_.begin(), setting_edits_.end(), edit) != setting_edits_.end()) {
    if (Event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
      // Open the dialog once the press has been handled, not inside it.
      QTimer::singleShot(0, this, [this, edit] { ChangementRequested(edit); });
      return true;
    }
    if (Event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(Event);
      // Focus keys move on as usual; any key that types something opens the dialog.
      if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab && !key->text().isEmpty() &&
          !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        KeyPressedInEditField(edit);
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}

void TForm1::PaintChargeCurve(QPainter& Canvas) {
  // The curve is drawn in the design's pixels, scaled with the window.
  const double factor = DesignScale(this);
  Canvas.scale(factor, factor);
  zo::PaintChargeCurve(Canvas, static_cast<int>(std::lround(ChargeCurvePaintBox->width() / factor)),
                       static_cast<int>(std::lround(ChargeCurvePaintBox->height() / factor)),
                       ChargeCharacteristicComboBox->currentIndex(), CurveHasStorageStage());
}

void TForm1::Comparewithdevice1Click(QObject* Sender) {
  if (!AcquireBus(Sender, &TForm1::Comparewithdevice1Click)) return;
  // The device found now is not (yet) the one the window shows: the window takes it up at the
  // next tick of its timer, and a comparison would read it with another version's addresses.
  if (BusThread_->EffectiveVersion() != TargetVersion_ || !PanelActive_) return;
  TSettingsDiff diff;
  ShowBusyMessage("Retrieving data!");
  const bool read = CompareWithDevice(BusThread_->Driver(), diff);
  ShowBusyMessage("");
  if (!read) {
    ShowMessageBox("Error during communication!", TMsgDlgType::mtError);
    return;
  }
  // One comparison at a time: a new one replaces the last.
  if (CompareDialog_) CompareDialog_->close();
  CompareDialog_ =
      new TCompareDialog(diff, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), this);
  CompareDialog_->show();
}

TCompareDialog* TForm1::CompareDialog() const {
  return CompareDialog_.data();
}

TLiveChartForm* TForm1::LiveChart() const {
  return LiveChart_.data();
}

void TForm1::Livechart1Click() {
  if (!LiveChart_) LiveChart_ = new TLiveChartForm(LiveHistory_, this);
  LiveChart_->show();
  LiveChart_->raise();
  LiveChart_->activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Defaults, files, overrule

void TForm1::Setcompletedefault1Click() {
  SetDefaults();
  ShowSettings();
  StatusLine->Finished(TStatusLine::TOperation::Defaults, true);
}

void TForm1::BatteryDefaultClick(QObject* Sender) {
  std::uint8_t type = 0;
  if (Sender == settractionbattery1)
    type = 1;
  else if (Sender == Setsemitractionbattery1)
    type = 2;
  else if (Sender == Setmarlobattery1)
    type = 3;
  SetBatteryDefaults(type);
  Updating_ = true;
  AbsorptionVoltageEdit->setText(SettingText(SettingAbsorptionVoltage));
  FloatVoltageEdit->setText(SettingText(SettingFloatVoltage));
  AbsorptionTimeEdit->setText(SettingText(SettingAbsorptionTime));
  Updating_ = false;
  StatusLine->Finished(TStatusLine::TOperation::BatteryDefaults, true);
}

void TForm1::Loadsettings1Click() {
  std::string file_name;
  if (!Ui().OpenSettingsFileDialog(file_name)) return;
  std::string message;
  LoadSettingsFile(file_name, message);
  if (!message.empty()) {
    const std::string text = message.substr(1, 255);
    if (message[0] == 'E')
      ShowMessageBox(text, TMsgDlgType::mtError);
    else if (message[0] == 'I')
      ShowMessageBox(text, TMsgDlgType::mtInformation);
  }
  ShowSettings();
  StatusLine->Finished(TStatusLine::TOperation::Load, message.empty() || message[0] != 'E',
                       ToQt(file_name));
}

void TForm1::Savesettings1Click() {
  std::string file_name =
      FromQt(SuggestedSettingsFileName(DeviceTypeLabel->text(), QDate::currentDate()));
  if (!Ui().SaveSettingsFileDialog(file_name)) return;
  std::string message;
  SaveSettingsFile(file_name, message);
  if (!message.empty()) ShowMessageBox(message, TMsgDlgType::mtError);
  StatusLine->Finished(TStatusLine::TOperation::Save, message.empty(), ToQt(file_name));
}

void TForm1::Overrulesoftwareversion1Click() {
  TModalResult answer;
  if (BusThread_->OverruledVersion() == -1)
    answer = Ui().MessageDlg(
        "Use with care!\rReading from device might result in improper values!\rDo you want to "
        "continue?",
        TMsgDlgType::mtConfirmation, mbYes | mbNo);
  else
    answer = Ui().MessageDlg(
        "Target already overruled.\rDo you want to specify another software version?\r(pressing "
        "No will remove the overruling)",
        TMsgDlgType::mtConfirmation, mbYes | mbNo | mbCancel);
  if (answer == TModalResult::mrNo) {
    BusThread_->SetOverruledVersion(-1);
  } else if (answer == TModalResult::mrYes) {
    std::string text;
    if (!Ui().InputQuery("Overrule version", "Give software version", text)) text.clear();
    std::int32_t version = 0;
    if (text.empty())
      BusThread_->SetOverruledVersion(-1);
    else if (!TryStrToInt(text, version) || version < 0)
      ShowMessageBox("Cannot interpret: " + text, TMsgDlgType::mtError);
    else
      BusThread_->SetOverruledVersion(version);
  }
}

}  // namespace zo
