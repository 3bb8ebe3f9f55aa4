#include "KVELUnit1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "KVELIndexerHost.h"
#include "KVELIoTestHost.h"
#include "KVEL_Events.h"
#include "KVEL_Help.h"
#include "KVEL_Shutdown.h"
#include "KVEL_Var.h"
#include "serial/PortKeeper.h"
#include "terminal/CPortCtl.h"
#include "ui/BlockedClose.h"
#include "ui/Clock.h"
#include "ui/Convert.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"
#include "ui/HelpViewer.h"
#include "ui/IniFile.h"
#include "ui/StatusPanel.h"

TForm1* Form1 = nullptr;

namespace {

constexpr int kClientWidth = 657;
constexpr int kClientHeight = 412;
constexpr int kGridColumns = 3;
constexpr int kGridRows = 17;

void Log(const char* text) {
  DiagLog(kErrorLogName, text, true);
}

std::string MessageOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return {};
  }
}

bool SameMessage(const std::exception_ptr& first, const std::exception_ptr& second) {
  return MessageOf(first) == MessageOf(second);
}

// Runs a handler of the window; an exception it raises goes to the default error display.
template <typename Handler>
auto Guard(TForm1* form, Handler handler) {
  return [form, handler] { kvel::Guarded([form, handler] { (form->*handler)(); }); };
}

// Each action runs its handler, guarded as above.
void ConnectActions(TForm1* form,
                    std::initializer_list<std::pair<QAction*, void (TForm1::*)()>> commands) {
  for (const auto& [action, handler] : commands) {
    QObject::connect(action, &QAction::triggered, form, Guard(form, handler));
  }
}

QAction* AddItem(QWidget* owner, const char* name, const char* caption,
                 const QKeySequence& shortcut, int helpContext) {
  auto* action = new QAction(kvel::ToQt(caption), owner);
  action->setObjectName(kvel::ToQt(name));
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  if (helpContext != 0) action->setProperty(kHelpContextProperty, helpContext);
  owner->addAction(action);
  return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* title, int helpContext) {
  QMenu* menu = bar->addMenu(kvel::ToQt(title));
  menu->setObjectName(kvel::ToQt(name));
  if (helpContext != 0) menu->menuAction()->setProperty(kHelpContextProperty, helpContext);
  return menu;
}

QToolButton* AddButton(QToolBar* bar, const char* name, const char* caption) {
  auto* button = new QToolButton(bar);
  button->setObjectName(kvel::ToQt(name));
  button->setText(kvel::ToQt(caption));
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->addWidget(button);
  return button;
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint) {
  Form1 = this;
  setObjectName(kvel::ToQt("Form1"));
  setWindowTitle(kvel::ToQt("KVEL"));
  QFont windowFont = font();
  windowFont.setFamily(kvel::ToQt("Arial"));
  windowFont.setPointSize(8);
  setFont(windowFont);

  ComPort1.SetName("ComPort1");
  ComPort1.SetPort("COM1");
  ComPort1.SetBaudRate(br9600);
  ComPort1.SetDataBits(dbEight);
  ComPort1.Parity().SetBits(prNone);
  ComPort1.SetStopBits(sbOneStopBit);
  ComPort1.Buffer().SetInputSize(2048);
  TComFlowControl& flow = ComPort1.FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrDisable);
  flow.SetControlRTS(rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  ComPort1.SetEvents(kAllComEvents);
  portKeeper_ = std::make_unique<kvel::PortKeeper>(ComPort1);
  pollWaker_ = std::make_unique<WaitWaker>();
  closer_ = std::make_unique<ProgramCloser>(*this, [this] { ForceEnd(); });
  kvel::WatchCloseWhileBlocked(*this);

  CreateMenus();
  CreateToolBar();
  CreateClientArea();
  CreateStatusBar();
  CreateLineIndicators();
  RegisterHelpPages();

  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  if (const QScreen* desktop = screen()) {
    const QRect area = desktop->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName(kvel::ToQt("Timer1"));
  Timer1->setInterval(kPollStartMs);
  Timer1->start();

  ConnectCommands();
  ConnectSetupCommands();
  ConnectStatusTexts();
  // Key preview: the window sees every typed character before the control with the focus.
  if (QCoreApplication::instance() != nullptr)
    QCoreApplication::instance()->installEventFilter(this);

  {
    // A tick that comes while a start step shows a message (the operator may take longer
    // than the timer's second to read it) would start the receive poll inside that message,
    // before the window is shown and the port opened. It is dropped; the next tick starts it.
    const QSignalBlocker holdPoll(Timer1);
    kvel::Guarded([this] { FormCreate(); });
  }
  ConnectIoTests();
}

TForm1::~TForm1() {
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeEventFilter(this);
  }
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateMenus() {
  QMenuBar* bar = menuBar();

  Exit1 = AddItem(this, "Exit1", "Exit", QKeySequence(Qt::ALT | Qt::Key_X), 1000);
  bar->addAction(Exit1);
  connect(Exit1, &QAction::triggered, this, Guard(this, &TForm1::Exit1Click));

  Edit1 = AddMenu(bar, "Edit1", "Edit", 1100);
  Copy1 = AddItem(Edit1, "Copy1", "Copy to clipboard", QKeySequence(Qt::CTRL | Qt::Key_C), 1100);
  // Both "Clear screen" items show Alt+C; a shortcut owned twice fires neither in Qt, so only
  // the item of the "Commands" menu owns it.
  Clearscreen1 = AddItem(Edit1, "Clearscreen1", "Clear screen\tAlt+C", {}, 1100);
  connect(Clearscreen1, &QAction::triggered, this, Guard(this, &TForm1::Clearscreen2Click));

  Setup1 = AddMenu(bar, "Setup1", "Setup", 1200);
  Editmacros1 =
      AddItem(Setup1, "Editmacros1", "Unit setup", QKeySequence(Qt::ALT | Qt::Key_M), 1210);
  RepSetup = AddItem(Setup1, "RepSetup", "Repeat Setup", QKeySequence(Qt::ALT | Qt::Key_W), 1220);
  Terminal1 = AddItem(Setup1, "Terminal1", "Terminal", {}, 1230);
  SetCom1 = AddItem(Setup1, "SetCom1", "Communication", QKeySequence(Qt::Key_F2), 1240);

  UnitSelect1 = AddMenu(bar, "UnitSelect1", "Unit Select", 1300);
  const std::array<QAction**, kUnitTypeCount> unitItems{
      &RQMKQB11, &RQMKQB21, &HLVX1, &QN4100I1, &MUXMU1, &GRV1, &ZorvDrive1, &Ostrav24Emulator1};
  const std::array<const char*, kUnitTypeCount> unitCaptions{
      "RQM / KQB&1", "RQM / KQB&2", "&HLVX",      "&QN4100I",
      "&MU / XMU",   "&GRV",        "&ZorvDrive", "&Ostrav24 Emulator"};
  for (std::size_t i = 0; i < unitItems.size(); ++i) {
    const UnitTypeInfo* info = FindUnitType(static_cast<int>(i) + 1);
    QAction* item = AddItem(UnitSelect1, info->menuItem, unitCaptions[i], {}, 0);
    item->setCheckable(true);
    *unitItems[i] = item;
  }
  HLVX1->setEnabled(false);
  Ostrav24Emulator1->setEnabled(false);
  // F9 opens the "Unit Select" menu.
  QAction* unitSelectKey =
      AddItem(this, "UnitSelectKey", "Unit Select", QKeySequence(Qt::Key_F9), 0);
  connect(unitSelectKey, &QAction::triggered, this,
          [this] { menuBar()->setActiveAction(UnitSelect1->menuAction()); });

  Commands1 = AddMenu(bar, "Commands1", "Commands", 1400);
  HEXMode1 = AddItem(Commands1, "HEXMode1", "&HEX Mode", QKeySequence(Qt::ALT | Qt::Key_H), 1400);
  HEXMode1->setCheckable(true);
  Clearscreen2 =
      AddItem(Commands1, "Clearscreen2", "&Clear screen", QKeySequence(Qt::ALT | Qt::Key_C), 1400);
  connect(Clearscreen2, &QAction::triggered, this, Guard(this, &TForm1::Clearscreen2Click));
  Scanforindexer1 = AddItem(Commands1, "Scanforindexer1", "Scan for indexer",
                            QKeySequence(Qt::ALT | Qt::Key_S), 1410);
  IDXtpoPC = Commands1->addMenu(kvel::ToQt("IDX tpoPC"));
  IDXtpoPC->setObjectName(kvel::ToQt("IDXtpoPC"));
  ReadLParameters1 =
      AddItem(IDXtpoPC, "ReadLParameters1", "Parameters", QKeySequence(Qt::Key_F4), 1420);
  IDXtpoPC1 = AddItem(IDXtpoPC, "IDXtpoPC1", "Program", {}, 1430);
  ProgPar1 = AddItem(IDXtpoPC, "ProgPar1", "Prog + Par", QKeySequence(Qt::Key_F6), 1440);
  VerifyProgram1 = AddItem(IDXtpoPC, "VerifyProgram1", "Verify program...", {}, 1430);
  KVEL1 = AddItem(Commands1, "KVEL1", "Send Program", QKeySequence(Qt::Key_F5), 0);
  Viewlogfile1 =
      AddItem(Commands1, "Viewlogfile1", "View log file", QKeySequence(Qt::ALT | Qt::Key_V), 1460);

  Help1 = AddMenu(bar, "Help1", "Help", 0);
  Contents1 = AddItem(Help1, "Contents1", "&Contents", {}, 0);
  helpIndex1 = AddItem(Help1, "helpIndex1", "&Index", {}, 0);
  About1 = AddItem(Help1, "About1", "&About", {}, 0);
  connect(Contents1, &QAction::triggered, this, Guard(this, &TForm1::Contents1Click));
  connect(helpIndex1, &QAction::triggered, this, Guard(this, &TForm1::helpIndex1Click));
  connect(About1, &QAction::triggered, this, Guard(this, &TForm1::About1Click));

  // Never shown; Qt fires no shortcut of an invisible action, so these stay visible on the
  // window itself and out of every menu.
  for (std::size_t n = 0; n < MacroItems.size(); ++n) {
    const std::string name = "N" + std::to_string(n) + "1";
    const std::string caption = std::to_string(n);
    QAction* item =
        AddItem(this, name.c_str(), caption.c_str(),
                QKeySequence(Qt::ALT | static_cast<Qt::Key>(Qt::Key_0 + static_cast<int>(n))), 0);
    item->setData(static_cast<int>(n));
    MacroItems[n] = item;
  }
  N101 = AddItem(this, "N101", "10", QKeySequence(Qt::ALT | Qt::Key_T), 0);
  Autorepeat1 =
      AddItem(this, "Autorepeat1", "Auto repeat", QKeySequence(Qt::ALT | Qt::Key_Q), 1450);
  Repeat1 = AddItem(this, "Repeat1", "Repeat", QKeySequence(Qt::ALT | Qt::Key_R), 1400);

  QAction* helpKey = AddItem(this, "HelpKey", "Help", QKeySequence(Qt::Key_F1), 0);
  connect(helpKey, &QAction::triggered, this, Guard(this, &TForm1::Contents1Click));

  for (QMenu* menu : {Edit1, Setup1, UnitSelect1, Commands1, IDXtpoPC, Help1}) {
    menu->installEventFilter(this);
  }
}

void TForm1::CreateToolBar() {
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(kvel::ToQt("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->toggleViewAction()->setEnabled(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  addToolBar(Qt::TopToolBarArea, ToolBar1);

  SpeedButton1 = AddButton(ToolBar1, "SpeedButton1", "Parameters");
  connect(SpeedButton1, &QToolButton::clicked, this, Guard(this, &TForm1::SpeedButton1Click));
  IOButton2 = AddButton(ToolBar1, "IOButton2", "I / O Test");
  SpeedButton3 = AddButton(ToolBar1, "SpeedButton3", "Log is OFF");
  SpeedButton3->setToolTip(kvel::ToQt("Log file = KVEL.LOG"));

  ComboBox1 = new QComboBox(ToolBar1);
  ComboBox1->setObjectName(kvel::ToQt("ComboBox1"));
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->setMaxVisibleItems(16);
  ComboBox1->setMinimumWidth(150);
  QFont bufferFont = ComboBox1->font();
  bufferFont.setFamily(kvel::ToQt("Courier New"));
  ComboBox1->setFont(bufferFont);
  ComboBox1->setEditText(kvel::ToQt("Command buffer"));
  ComboBox1->setToolTip(kvel::ToQt("Command buffer"));
  ToolBar1->addWidget(ComboBox1);

  RepeatButton4 = AddButton(ToolBar1, "RepeatButton4", "R");
  RepeatButton4->setToolTip(kvel::ToQt("Repeat last command"));
  QFont repeatFont = RepeatButton4->font();
  repeatFont.setBold(true);
  repeatFont.setItalic(true);
  RepeatButton4->setFont(repeatFont);
  SpeedButton5 = AddButton(ToolBar1, "SpeedButton5", "H23");
  SpeedButton6 = AddButton(ToolBar1, "SpeedButton6", "");
  SpeedButton6->setMinimumWidth(23);
  // Blank and without action, but a stop on the keyboard path: a screen reader says so.
  SpeedButton6->setAccessibleName(kvel::ToQt("Blank"));

  ComboBox2 = new QComboBox(ToolBar1);
  ComboBox2->setObjectName(kvel::ToQt("ComboBox2"));
  ComboBox2->setMaxVisibleItems(16);
  ComboBox2->setMinimumWidth(150);
  // The rest of the tool bar: the units' identification texts are long.
  ComboBox2->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  ComboBox2->setPlaceholderText(kvel::ToQt("Units "));
  ToolBar1->addWidget(ComboBox2);
}

void TForm1::CreateClientArea() {
  auto* area = new QWidget(this);
  area->setObjectName(kvel::ToQt("ClientArea"));
  setCentralWidget(area);

  // The grid and its labels lie beneath the terminal and show when it is hidden.
  Label1 = new QLabel(kvel::ToQt("L Parameters "), area);
  Label1->setObjectName(kvel::ToQt("Label1"));
  Label1->setGeometry(8, 4, 600, 16);
  Label1->hide();
  StringGrid1 = new QTableWidget(kGridRows, kGridColumns, area);
  StringGrid1->setObjectName(kvel::ToQt("StringGrid1"));
  StringGrid1->horizontalHeader()->hide();
  StringGrid1->verticalHeader()->hide();
  StringGrid1->horizontalHeader()->setMinimumSectionSize(1);
  StringGrid1->verticalHeader()->setMinimumSectionSize(1);
  for (int col = 0; col < kGridColumns; ++col) StringGrid1->setColumnWidth(col, 200);
  for (int row = 0; row < kGridRows; ++row) StringGrid1->setRowHeight(row, 16);
  StringGrid1->setGeometry(8, 22, 3 * 200 + 4, kGridRows * 16 + 4);
  StringGrid1->hide();
  Label2 = new QLabel(kvel::ToQt("Info : "), area);
  Label2->setObjectName(kvel::ToQt("Label2"));
  Label2->setGeometry(8, 22 + kGridRows * 16 + 8, 600, 16);

  ComTerminal1 = new kvel::TComTerminal(area);
  ComTerminal1->setObjectName(kvel::ToQt("ComTerminal1"));
  ComTerminal1->SetColor(Qt::white);
  ComTerminal1->SetFontColor(QColor(0, 0, 128));
  QFont terminalFont(kvel::ToQt("Courier New"));
  terminalFont.setPixelSize(12);
  ComTerminal1->SetTermFont(terminalFont);
  ComTerminal1->SetScrollBars(kvel::ssBoth);
  // A device that streams is drawn a frame at a time, not once for every round that read some.
  ComTerminal1->SetFrameInterval(kTerminalFrameMs);
  auto* layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ComTerminal1);
}

void TForm1::CreateStatusBar() {
  StatusBar1 = statusBar();
  StatusBar1->setObjectName(kvel::ToQt("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  const std::array<int, 3> widths{115, 70, 300};
  const std::array<const char*, 3> texts{" COM1 9600 8 None 1", " EXT *.PGM", ""};
  // The port panel grows with a longer text (a port state, a custom rate); the information
  // panel gives up room to it and cuts its own text, which stays whole in its hint.
  const std::array<int, 3> maxWidths{kPortPanelMaxWidth, 70, 300};
  const std::array<int, 3> minWidths{115, 70, 150};
  for (std::size_t i = 0; i < Panels.size(); ++i) {
    auto* panel = new kvel::StatusPanel(kvel::ToQt(texts[i]), widths[i], maxWidths[i], minWidths[i],
                                        StatusBar1);
    panel->setObjectName(kvel::ToQt(("StatusPanel" + std::to_string(i)).c_str()));
    StatusBar1->addWidget(panel);
    Panels[i] = panel;
  }
}

void TForm1::FormCreate() {
  Log(" ");
  DiagLog(kErrorLogName, "KVEL Startup : " + kvel::DateTimeStamp(), true);
  Log("form create start");
  LogOn = false;
  AutoRepeat = false;
  ComTerminal1->SetLocalEcho(true);
  ComTerminal1->SetWrapLines(true);
  ComTerminal1->SetEmulation(kvel::teNone);
  IniPath = ResolveIniPath(QCoreApplication::applicationDirPath().toStdString());
  RegisterHelpPages();  // the About page names the settings file in use
  const kvel::IniFile ini(IniPath);
  const std::string typeText = ini.ReadString(kMainSection, kControlTypeKey, "4");
  ReportIniReadError(ini.ReadError());
  UnitType = kvel::StrToInt(typeText);
  SelectedUnit = 100;
  Log("form create end");
}

void TForm1::FormShow() {
  Log("form show start");
  Clearscreen2Click();
  kvel::Wait(100);
  ListSerialPorts(PortList);
  std::string ports = "COM Ports: ";
  for (const std::string& name : PortList) ports += name + " ";
  ComTerminal1->PutText(ports);
  Panels[2]->setText(kvel::ToQt(ports));
  CaptionPrefix = " KVEL    ";
  // Reads the unit type's section, whose stored emulation is then in force from the start,
  // as the unit setup shows it checked.
  PutContrSpec();
  SpeedButton3->setToolTip(kvel::ToQt("Log file = " + LogFileName));
  Log("form show end");
}

void TForm1::PutContrSpec() {
  if (ParamView) SpeedButton1Click();
  Log("Procedure TForm1.PutContrSpec");
  for (int type = 1; type <= kUnitTypeCount; ++type) UnitItem(type)->setChecked(false);
  SpeedButton1->setEnabled(false);
  if (const UnitTypeInfo* info = FindUnitType(UnitType)) {
    ProgramExt = info->programExt;
    if (UnitType != 8) UnitItem(UnitType)->setChecked(true);
    UnitCaption = info->caption;
    IOButton2->setEnabled(info->ioTest);
    SpeedButton1->setEnabled(info->parameters);
  }
  ConfigSection.clear();
  for (const char c : UnitCaption) {
    if (c != ' ') ConfigSection += c;
  }
  try {
    ReadConfig();
  } catch (const EComPort&) {
    // The unit type is applied all the same: only its port did not open (and says so).
    Panels[1]->setText(kvel::ToQt(" EXT " + ProgramExt));
    setWindowTitle(kvel::ToQt(CaptionPrefix + UnitCaption));
    throw;
  }
  Panels[1]->setText(kvel::ToQt(" EXT " + ProgramExt));
  setWindowTitle(kvel::ToQt(CaptionPrefix + UnitCaption));
  if (ComTerminal1->isVisible()) ComTerminal1->setFocus();
}

void TForm1::ReadConfig() {
  std::vector<BadConfigValue> bad;
  {
    const kvel::IniFile ini(IniPath);
    bad = ReadConfigValues(ini, ConfigSection);
    ReportIniReadError(ini.ReadError());
  }
  if (!bad.empty()) {
    // Shown, and the unit type is applied all the same with the default in its place.
    kvel::Guarded(
        [&bad] { throw kvel::EConvertError(BadConfigMessage(bad, ConfigSection, IniPath)); });
  }
  SpeedButton3->setToolTip(kvel::ToQt("Log file = " + LogFileName));
  Log("rest OK");
  // Each unit type keeps its own emulation: a change of type (or the first show) brings it
  // into force before the port is re-opened, so a port that fails to open does not keep the
  // previous type's emulation on the terminal.
  ApplyEmulationIndex();
  ApplyPortSettings();
  Log("comport updated, end of INI file");
}

void TForm1::ApplyEmulationIndex() {
  switch (EmulationIndex) {
    case 0:
      ComTerminal1->SetEmulation(kvel::teNone);
      break;
    case 1:
    case 3:
      ComTerminal1->SetEmulation(kvel::teVT100orANSI);
      break;
    case 2:
      ComTerminal1->SetEmulation(kvel::teVT52);
      break;
    default:
      break;
  }
}

void TForm1::ReportIniReadError(const std::string& error) {
  if (error.empty() || iniReadErrorShown_) return;
  iniReadErrorShown_ = true;
  kvel::ShowMessageBox(this, error + "\nThe program goes on with the default settings.", "KVEL",
                       kvel::MsgIcon::Warning);
}

void TForm1::WriteConfig() {
  std::exception_ptr failure;
  try {
    StoreConfig();
  } catch (...) {
    failure = std::current_exception();
  }
  // The chosen port and baud rate are in memory and shown: the port takes them also when
  // the file could not be written.
  try {
    ApplyPortSettings();
  } catch (...) {
    if (failure) kvel::Guarded([&failure] { std::rethrow_exception(failure); });
    throw;
  }
  if (failure) std::rethrow_exception(failure);
}

void TForm1::StoreConfig() {
  SpeedButton3->setToolTip(kvel::ToQt("Log file = " + LogFileName));
  kvel::IniFile ini(IniPath);
  WriteConfigValues(ini, ConfigSection);
}

void TForm1::ApplyPortSettings() {
  ComPort1.ClosePort();
  ComPort1.SetPort("COM" + std::to_string(ComPortNumber));
  ComPort1.SetBaudRate(TextToBaudRate(std::to_string(BaudValue)));
  try {
    ComPort1.OpenPort();
  } catch (const EComPort& error) {
    failedPort_ = ComPort1.Port();
    portKeeper_->OpenFailed(error.SystemError());
    SyncPortWatch();
    ShowPortState();
    throw;
  } catch (...) {
    failedPort_ = ComPort1.Port();
    if (ComPort1.Connected()) {
      portKeeper_->Opened();
    } else {
      portKeeper_->OpenFailed(-1);
    }
    SyncPortWatch();
    ShowPortState();
    throw;
  }
  failedPort_.clear();
  portKeeper_->Opened();
  SyncPortWatch();
  ShowPortState();
}

std::string TForm1::PortSettingsText() const {
  return " " + ComPort1.Port() + " " + BaudRateText(ComPort1.BaudRate()) + " " +
         DataBitsText(ComPort1.DataBits()) + " " + ParityText(ComPort1.Parity().Bits()) + " " +
         StopBitsText(ComPort1.StopBits());
}

void TForm1::FormCloseQuery() {
  RunFlag = 0;
  // A running auto-repeat would go on sending, into the port closed below, while the
  // program ends.
  AutoRepeat = false;
  Timer1->stop();
  // Whatever the save meets (a port that no longer opens, a file that cannot be written),
  // every step is taken: the section and the unit type are stored and the port is closed
  // before the errors are shown, each different one once.
  std::vector<std::exception_ptr> failures;
  const auto step = [&failures](const std::function<void()>& action) {
    try {
      action();
    } catch (...) {
      failures.push_back(std::current_exception());
    }
  };
  step([this] { StoreConfig(); });
  // A port whose opening failed has been reported; opening it again only to close it would
  // repeat that error as the program ends.
  if (failedPort_ != "COM" + std::to_string(ComPortNumber)) step([this] { ApplyPortSettings(); });
  if (ComPort1.Connected()) step([this] { ComPort1.ClosePort(); });
  step([] {
    kvel::IniFile(IniPath).WriteString(kMainSection, kControlTypeKey, std::to_string(UnitType));
  });
  std::vector<std::exception_ptr> distinct;
  for (const std::exception_ptr& failure : failures) {
    bool seen = false;
    for (const std::exception_ptr& earlier : distinct) seen = seen || SameMessage(earlier, failure);
    if (!seen) distinct.push_back(failure);
  }
  if (distinct.empty()) return;
  for (std::size_t i = 0; i + 1 < distinct.size(); ++i) {
    kvel::Guarded([&failure = distinct[i]] { std::rethrow_exception(failure); });
  }
  std::rethrow_exception(distinct.back());
}

void TForm1::FormClose() {
  DiagLog(kErrorLogName, "KVEL closing : " + kvel::DateTimeStamp(), true);
  Log(" ");
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_ || event->spontaneous()) return;
  shown_ = true;
  // The show steps wait 100 ms and open the port; the window is mapped and painted first, so
  // the user sees it at once. They run right after the first exposure has been painted (see
  // eventFilter), or after a while on a platform that never exposes the window.
  formShowPending_ = true;
  QTimer::singleShot(kShowWithoutExposeMs, this, [this] { RunFormShow(); });
}

void TForm1::RunFormShow() {
  if (!formShowPending_) return;
  formShowPending_ = false;
  {
    // As at creation: the receive poll starts only after the show steps, port opened.
    const QSignalBlocker holdPoll(Timer1);
    kvel::Guarded([this] { FormShow(); });
  }
  formShowDone_ = true;
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (HoldCloseForIoTest()) {
    event->ignore();
    return;
  }
  // A dialogue runs beneath (the window is disabled, or a modal window is up): closing now
  // would close its port under it. It is stopped as its Cancel does; the close follows.
  if (!closed_ && (!isEnabled() || QApplication::activeModalWidget() != nullptr)) {
    event->ignore();
    EndProgram();
    return;
  }
  event->accept();
  if (closed_) return;
  // Closed before the first paint: the show steps run first, so that the close stores the
  // configuration that was loaded and not the defaults.
  RunFormShow();
  closed_ = true;
  kvel::Guarded([this] { FormCloseQuery(); });
  kvel::Guarded([this] { FormClose(); });
}

void TForm1::EndProgram() {
  closer_->Request();
}

void TForm1::ForceEnd() {
  if (!closed_) {
    closed_ = true;
    kvel::Guarded([this] { FormCloseQuery(); });
    kvel::Guarded([this] { FormClose(); });
  }
  std::fflush(nullptr);
  // The stack beneath still holds the dialogue that did not return: nothing may unwind into it.
  if (OnForcedExit) {
    OnForcedExit(kForcedExitStatus);
  } else {
    std::_Exit(kForcedExitStatus);
  }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (PreviewKey(watched, event)) return true;
  if (formShowPending_ && event->type() == QEvent::Expose && watched == windowHandle()) {
    // The window paints itself while it handles this event; the show steps follow it.
    QTimer::singleShot(0, this, [this] { RunFormShow(); });
  }
  // F1 on a highlighted menu item opens the help page of that item (or of its menu).
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
    if (auto* menu = qobject_cast<QMenu*>(watched)) {
      const QAction* item = menu->activeAction();
      QVariant context = item != nullptr ? item->property(kHelpContextProperty) : QVariant();
      if (!context.isValid()) context = menu->menuAction()->property(kHelpContextProperty);
      menu->close();
      if (context.isValid()) {
        kvel::HelpViewer::Instance().ShowContext(this, context.toInt());
      } else {
        kvel::HelpViewer::Instance().ShowContents(this);
      }
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::Exit1Click() {
  const kvel::MsgResult answer =
      kvel::ShowMessageBox(this, "You want really stop this program ?", "Stop this program",
                           kvel::MsgIcon::Question, kvel::MsgButtons::OkCancel);
  if (answer != kvel::MsgResult::Ok) return;
  RunFlag = 0;
  kvel::Wait(50);
  ComPort1.ClosePort();
  close();
}

void TForm1::Contents1Click() {
  kvel::HelpViewer::Instance().ShowContents(this);
}

void TForm1::helpIndex1Click() {
  kvel::HelpViewer::Instance().ShowIndex(this);
}

void TForm1::About1Click() {
  kvel::HelpViewer::Instance().ShowContext(this, kAboutHelpContext);
}

void TForm1::SelectUnitType(int type) {
  UnitType = type;
  PutContrSpec();
}

void TForm1::RQMKQB11Click() {
  SelectUnitType(1);
}
void TForm1::RQMKQB21Click() {
  SelectUnitType(2);
}
void TForm1::HLVX1Click() {
  SelectUnitType(3);
}
void TForm1::QN4100I1Click() {
  SelectUnitType(4);
  PollReceive();
}
void TForm1::MUXMU1Click() {
  SelectUnitType(5);
  PollReceive();
}
void TForm1::GRV1Click() {
  SelectUnitType(6);
  PollReceive();
}
void TForm1::ZorvDrive1Click() {
  SelectUnitType(7);
  PollReceive();
}

QAction* TForm1::UnitItem(int type) const {
  const std::array<QAction*, kUnitTypeCount> items{
      RQMKQB11, RQMKQB21, HLVX1, QN4100I1, MUXMU1, GRV1, ZorvDrive1, Ostrav24Emulator1};
  return items[static_cast<std::size_t>(type - 1)];
}

void TForm1::SpeedButton1Click() {
  ParamView = !ParamView;
  StringGrid1->setVisible(ParamView);
  Label1->setVisible(ParamView);
  if (ParamView) {
    ComTerminal1->hide();
    SpeedButton1->setText(kvel::ToQt("Terminal"));
  } else {
    ComTerminal1->show();
    ComTerminal1->setFocus();
    SpeedButton1->setText(kvel::ToQt("Parameters"));
  }
}

void TForm1::Clearscreen2Click() {
  ComTerminal1->ClearScreen();
  ComTerminal1->MoveCursor(1, ComTerminal1->Rows());
}

bool TForm1::RaiseForOtherStart() {
  const bool minimised = isMinimized();
  if (minimised) showNormal();
  raise();
  activateWindow();
  return minimised;
}

void TForm1::ConnectCommands() {
  PopupMenu1 = new QMenu(ComboBox1);
  PopupMenu1->setObjectName(kvel::ToQt("PopupMenu1"));
  Save1 = PopupMenu1->addAction(kvel::ToQt("Save"));
  Save1->setObjectName(kvel::ToQt("Save1"));
  Load1 = PopupMenu1->addAction(kvel::ToQt("Load"));
  Load1->setObjectName(kvel::ToQt("Load1"));
  ClearAll1 = PopupMenu1->addAction(kvel::ToQt("Clear All"));
  ClearAll1->setObjectName(kvel::ToQt("ClearAll1"));
  ConnectActions(this, {{Save1, &TForm1::Save1Click},
                        {Load1, &TForm1::Load1Click},
                        {ClearAll1, &TForm1::ClearAll1Click}});
  // Leaving the edit field would make Qt select the entry matching its text: only the
  // user's choice in the list changes the entry that "R" and auto-repeat send.
  QObject::disconnect(ComboBox1->lineEdit(), &QLineEdit::editingFinished, ComboBox1, nullptr);
  for (QWidget* part :
       {static_cast<QWidget*>(ComboBox1), static_cast<QWidget*>(ComboBox1->lineEdit())}) {
    part->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(part, &QWidget::customContextMenuRequested, this,
            [this, part](const QPoint& at) { PopupMenu1->popup(part->mapToGlobal(at)); });
  }

  connect(Timer1, &QTimer::timeout, this, Guard(this, &TForm1::Timer1Timer));
  connect(RepeatButton4, &QToolButton::clicked, this, Guard(this, &TForm1::RepeatButton4Click));
  ConnectActions(this, {{RQMKQB11, &TForm1::RQMKQB11Click},
                        {RQMKQB21, &TForm1::RQMKQB21Click},
                        {HLVX1, &TForm1::HLVX1Click},
                        {QN4100I1, &TForm1::QN4100I1Click},
                        {MUXMU1, &TForm1::MUXMU1Click},
                        {GRV1, &TForm1::GRV1Click},
                        {ZorvDrive1, &TForm1::ZorvDrive1Click},
                        {Repeat1, &TForm1::RepeatButton4Click},
                        {Autorepeat1, &TForm1::Autorepeat1Click},
                        {RepSetup, &TForm1::RepSetupClick},
                        {HEXMode1, &TForm1::HEXMode1Click},
                        {Viewlogfile1, &TForm1::Viewlogfile1Click},
                        {Copy1, &TForm1::Copy1Click},
                        {N101, &TForm1::IOButton2Click}});
  for (QAction* item : MacroItems) {
    connect(item, &QAction::triggered, this,
            [this, item] { kvel::Guarded([this, item] { N01Click(item); }); });
  }

  connect(SpeedButton3, &QToolButton::clicked, this, Guard(this, &TForm1::SpeedButton3Click));

  connect(IOButton2, &QToolButton::clicked, this, Guard(this, &TForm1::IOButton2Click));
  connect(ComboBox2, &QComboBox::activated, this, Guard(this, &TForm1::ComboBox2Change));
  connect(StringGrid1, &QTableWidget::cellClicked, this, [this](int row, int column) {
    kvel::Guarded([this, row, column] { StringGrid1Click(row, column); });
  });
  ConnectIndexerCommands();
}
