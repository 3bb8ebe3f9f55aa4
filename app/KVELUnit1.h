#pragma once

#include <QMainWindow>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "KVEL_Var.h"
#include "serial/CPort.h"

class QAction;
class QComboBox;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QMenu;
class QSocketNotifier;
class QStatusBar;
class QTableWidget;
class QTimer;
class QToolBar;
class QToolButton;
class KVELIndexerHost;
class KVELIoTestHost;
class KVELProgramFiles;
class ProgramCloser;
class WaitWaker;
namespace kvel {
class PortKeeper;
class TComTerminal;
}  // namespace kvel

// The main window: tool bar, terminal, status bar and menu; it applies the selected unit type,
// loads and stores its configuration and owns the one serial port of the program.
class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Tool bar.
  QToolBar* ToolBar1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;  // "Parameters"
  QToolButton* IOButton2 = nullptr;     // "I / O Test"
  QToolButton* SpeedButton3 = nullptr;  // terminal log on / off
  QComboBox* ComboBox1 = nullptr;       // command buffer
  QToolButton* RepeatButton4 = nullptr;
  QToolButton* SpeedButton5 = nullptr;  // "H23"
  QToolButton* SpeedButton6 = nullptr;
  QComboBox* ComboBox2 = nullptr;  // units found by the scan

  // Client area.
  kvel::TComTerminal* ComTerminal1 = nullptr;
  QTableWidget* StringGrid1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;

  QStatusBar* StatusBar1 = nullptr;
  std::array<QLabel*, 3> Panels{};
  // After the three: the port's modem inputs, and its line errors once one is counted.
  QLabel* ModemPanel = nullptr;
  QLabel* ErrorPanel = nullptr;

  QTimer* Timer1 = nullptr;
  TComPort ComPort1;

  // Menu bar.
  QAction* Exit1 = nullptr;
  QMenu* Edit1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* Clearscreen1 = nullptr;  // "Edit" / "Clear screen"
  QMenu* Setup1 = nullptr;
  QAction* Editmacros1 = nullptr;  // "Unit setup"
  QAction* RepSetup = nullptr;
  QAction* Terminal1 = nullptr;
  QAction* SetCom1 = nullptr;
  QMenu* UnitSelect1 = nullptr;
  QAction* RQMKQB11 = nullptr;
  QAction* RQMKQB21 = nullptr;
  QAction* HLVX1 = nullptr;
  QAction* QN4100I1 = nullptr;
  QAction* MUXMU1 = nullptr;
  QAction* GRV1 = nullptr;
  QAction* ZorvDrive1 = nullptr;
  QAction* Ostrav24Emulator1 = nullptr;
  QMenu* Commands1 = nullptr;
  QAction* HEXMode1 = nullptr;
  QAction* Clearscreen2 = nullptr;  // "Commands" / "&Clear screen"
  QAction* Scanforindexer1 = nullptr;
  QMenu* IDXtpoPC = nullptr;
  QAction* ReadLParameters1 = nullptr;
  QAction* IDXtpoPC1 = nullptr;  // "Program"
  QAction* ProgPar1 = nullptr;
  QAction* VerifyProgram1 = nullptr;  // "Verify program...": read back and compare
  QAction* KVEL1 = nullptr;           // "Send Program"
  QMenu* RecentPrograms1 = nullptr;   // beside "Send Program": the programs sent last
  QAction* Viewlogfile1 = nullptr;
  QAction* DTR1 = nullptr;        // "DTR on", checked while DTR is on
  QAction* RTS1 = nullptr;        // "RTS on"
  QAction* SendBreak1 = nullptr;  // "Send break"
  QMenu* Help1 = nullptr;
  QAction* Contents1 = nullptr;
  QAction* helpIndex1 = nullptr;
  QAction* About1 = nullptr;
  // Items that are never shown but whose shortcuts work: they live on the window itself.
  std::array<QAction*, 10> MacroItems{};  // "0" ... "9", Alt+0 ... Alt+9, tag = index
  QAction* N101 = nullptr;                // "10", Alt+T: I/O test
  QAction* Autorepeat1 = nullptr;
  QAction* Repeat1 = nullptr;
  // Pop-up menu of the command buffer.
  QMenu* PopupMenu1 = nullptr;
  QAction* Save1 = nullptr;
  QAction* Load1 = nullptr;
  QAction* ClearAll1 = nullptr;

  bool ParamView = false;
  bool LogOn = false;
  bool AutoRepeat = false;
  bool HexMode = false;
  std::string CommandLine;  // the line typed so far in the terminal area
  bool LineSent = false;    // Enter was typed: the next other key starts a new line

  // Seams for the units that come later: the indexer and drive error reports run on a
  // typed "ERR", the parameter names fill the info line. Empty: no report runs, the info
  // line shows the key only.
  std::function<void()> OnXmuErrorReport;
  std::function<void()> OnDriveErrorReport;
  std::function<std::string(int)> LParamName;
  // Sees every text that DisplayText shows, for measurements and tests.
  std::function<void(const std::string&)> DisplayTap;

  void FormCreate();
  void FormShow();
  // True once FormShow has run after the first show (it follows the first paint).
  bool FormShowDone() const { return formShowDone_; }
  // A round of the receive poll that finds this much waiting is followed by the next one
  // without the wait, a wait ends as soon as this much has arrived, and for one poll period
  // after such a round the waits last 10 ms instead of 100.
  static constexpr std::size_t kPollBacklogBytes = 16 * 1024;
  // The longest a shown change of a streaming device waits to be drawn: some 25 frames a
  // second. The poll gathers a frame's worth per round while a device streams.
  static constexpr int kTerminalFrameMs = 40;
  void FormCloseQuery();
  void FormClose();
  void PutContrSpec();
  void ReadConfig();
  // Gives the terminal the emulation of EmulationIndex (0 TTY, 1 ANSI, 2 VT52, 3 VT100);
  // any other value leaves it as it is.
  void ApplyEmulationIndex();
  void WriteConfig();
  // Stores the configuration values into the section of the current unit type (the part of
  // WriteConfig that touches the file).
  void StoreConfig();
  void ApplyPortSettings();
  // Says once per run which settings file could not be read (`error` empty: nothing to say).
  void ReportIniReadError(const std::string& error);
  // Appends to the terminal log. A failure switches the log off; the first one after the log
  // was switched on is shown.
  void LogWrite(const std::string& text, bool appendLineEnd);
  // The log flag and the button's caption "Log is OFF".
  void SetLogOff();
  // "Cannot write the terminal log file '<name>': <reason>", then `consequence`.
  void ShowLogFailure(const std::string& reason, const std::string& consequence);
  // " COM1 9600 8 None 1": the port's current settings as status panel 0 shows them.
  std::string PortSettingsText() const;

  // The port across the loss of its device (KVELUnit1Port.cpp). Panel 0 shows the settings
  // while the port is open, and otherwise what the port is: closed and why, unplugged and
  // waiting for its device, reconnecting.
  void ShowPortState();
  // What the receive poll reads in one round (RxCount); a device that has gone makes the port
  // wait for it instead of failing the poll, and a device back is opened again.
  std::int32_t ReadPort(std::string& received);
  // The open port's device has gone: the port waits for it, without a message box.
  void PortLost();
  // Looks for the device of a waiting port when a look is due; reopens it when it is back.
  void ServePort();
  // Sends typed keys; false when they were not sent because the port waits for its device
  // (the status bar says so, once while it waits).
  bool SendTypedKeys(const std::string& text);
  const kvel::PortKeeper& PortKeeping() const { return *portKeeper_; }

  void Exit1Click();
  void Contents1Click();
  void helpIndex1Click();
  void About1Click();
  void RQMKQB11Click();
  void RQMKQB21Click();
  void HLVX1Click();
  void QN4100I1Click();
  void MUXMU1Click();
  void GRV1Click();
  void ZorvDrive1Click();
  void SpeedButton1Click();
  void Clearscreen2Click();

  // Keyboard and command buffer. FormKeyPress sees every character typed in the window
  // before `target` (the control with the focus) does; true when the key was consumed.
  bool FormKeyPress(QWidget* target, std::uint8_t key);
  bool ComboBox1KeyPress(std::uint8_t key);
  void ComboBox1KeyDown(int key);
  void ClearAll1Click();
  void Save1Click();
  void Load1Click();
  void AddToHistory(const std::string& line);
  void RepeatButton4Click();
  void Autorepeat1Click();
  void Timer1Timer();
  void N01Click(const QAction* sender);
  void SendMacro(int n);
  void RepSetupClick();

  // The setup dialogs: unit setup (Alt+M), terminal setup, port setup (F2).
  void Editmacros1Click();
  void Terminal1Click();
  void SetCom1Click();

  // Received data, hex mode and the terminal log.
  void DisplayText(const std::string& text);
  // Reads the port every 100 ms until RunFlag drops or the unit type changes. Asked for while
  // it runs, it does not nest: the running poll goes on for the unit type now selected.
  void PollReceive();
  void HEXMode1Click();
  void SpeedButton3Click();
  void Viewlogfile1Click();
  void Copy1Click();

  // The port's output lines: DTR and RTS on or off, a break of kBreakMs on the line.
  void DTR1Click();
  void RTS1Click();
  void SendBreak1Click();
  static constexpr int kBreakMs = 250;
  // Checks and enabled states of those commands from the port as it is now.
  void UpdateLineCommands();
  // The modem and error panels from the port as it is now.
  void ShowLineState();

  // Views, units list and I/O test.
  void StringGrid1Click(int row, int column);
  void ComboBox2Change();
  void IOButton2Click();
  void ShowNoControlSelected();
  // What the I/O test windows use of this window (KVELUnit1IoTest.cpp).
  KVELIoTestHost& IoTests() { return *ioTests_; }
  // Cell k of the L-parameter grid: column k div 17, row k mod 17.
  void SetGridCell(int k, const std::string& text);

  // Indexer commands (the transfers themselves live in indexer/).
  void SpeedButton5Click();
  void Scanforindexer1Click();
  void ReadLParameters1Click();
  void IDXtpoPC1Click();
  void ProgPar1Click();
  void VerifyProgram1Click();
  void KVEL1Click();
  // The window as the indexer dialogues reach it.
  KVELIndexerHost& Indexer();
  // The download dialog offering `path` (a recent or dropped program) instead of its proposal.
  void SendProgramFile(const std::string& path);
  KVELProgramFiles& ProgramFiles() { return *programFiles_; }

  // Status panel 2 says how a transfer ended; the hint holds `detail` (the whole path).
  void ShowStatusResult(const std::string& text, const std::string& detail);
  // While auto-repeat runs, status panel 2 says what it sends and how it is stopped; when it
  // stops, the panel gets back what it showed before.
  void ShowAutoRepeatState();
  // What the panel says while auto-repeat runs (empty when it does not); `shortened`: a long
  // command is cut, as the panel shows it.
  std::string AutoRepeatText(bool shortened = true) const;

  // A later start of the program asks this one to come forward; returns true when the
  // window was minimised and has been restored.
  bool RaiseForOtherStart();

  // Ends the program from wherever it stands (a termination signal, or a close while a
  // dialogue runs): the running dialogue stops as its Cancel does, then the window closes.
  void EndProgram();
  // The close steps where the program stands, then the end of the process: for a window that
  // does not return when the program must end. Tests replace the end of the process.
  void ForceEnd();
  std::function<void(int status)> OnForcedExit;
  ProgramCloser& Closer() { return *closer_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // A program file dropped on the window opens the download dialog with it.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateToolBar();
  void CreateClientArea();
  void CreateStatusBar();
  void CreateMenus();
  void CreateLineIndicators();
  void ScheduleLineState();
  void SelectUnitType(int type);
  QAction* UnitItem(int type) const;
  void ConnectCommands();
  void ConnectSetupCommands();
  bool PreviewKey(QObject* watched, QEvent* event);
  // False for a key that a menu, a dialog or another window of the program takes.
  bool OwnKey(const QWidget* widget) const;
  // Which control of this window a key for `widget` belongs to (nullptr: not this window).
  QWidget* KeyOwner(QWidget* widget) const;
  std::string SelectedEntry() const;
  void StartAutoRepeatTimer();
  void RunFormShow();
  static constexpr int kShowWithoutExposeMs = 500;
  void ConnectIndexerCommands();
  void CreateRecentProgramsMenu();
  void ConnectStatusTexts();
  void ConnectIoTests();
  // A close asked for while a test window runs waits for that window (true: held back).
  bool HoldCloseForIoTest();

  int* pollType_ = nullptr;  // the unit type of the running receive poll, nullptr when none runs
  const QEvent* passedKey_ = nullptr;  // a key let through, seen again while it propagates
  const QWidget* passedTo_ = nullptr;  // the control it was let through to

  void NoteKeysNotSent();
  void SyncPortWatch();
  void RestartPollAfterReturn();

  std::unique_ptr<kvel::PortKeeper> portKeeper_;
  QTimer* portTimer_ = nullptr;              // looks for a waiting port's device each second
  QSocketNotifier* portNotifier_ = nullptr;  // the device folders changed
  bool keysNotSentNoted_ = false;            // since the port began to wait
  std::string portPanelText_;

  std::unique_ptr<KVELIndexerHost> indexerHost_;
  KVELProgramFiles* programFiles_ = nullptr;  // owned by the window
  bool repeatShown_ = false;                  // status panel 2 shows the auto-repeat state
  QString panelBeforeRepeat_;
  QString repeatText_;
  bool iniReadErrorShown_ = false;
  // The port whose last opening by ApplyPortSettings failed (shown then); empty once one opens.
  std::string failedPort_;
  bool logFailureShown_ = false;  // since the terminal log was last switched on
  HeldAppendFile logFile_;        // the terminal log's file while the log is on
  bool pollStarted_ = false;      // the first tick of Timer1 has started the receive poll
  bool shown_ = false;
  bool formShowPending_ = false;  // shown, FormShow not run yet
  bool formShowDone_ = false;
  bool closed_ = false;
  bool lineStatePending_ = false;  // a refresh of the line panels is queued
  std::unique_ptr<KVELIoTestHost> ioTests_;
  std::unique_ptr<WaitWaker> pollWaker_;
  std::unique_ptr<ProgramCloser> closer_;
};

// The main window while the program runs (nullptr before and after).
extern TForm1* Form1;

// The exit status when the program had to end without waiting for a window that did not return.
inline constexpr int kForcedExitStatus = 1;

// Timer1's interval from creation to the tick that starts the receive poll.
inline constexpr int kPollStartMs = 1000;

// The widest the port panel grows to show its text whole.
inline constexpr int kPortPanelMaxWidth = 280;

// The help context stored on every menu item and menu that has one.
inline constexpr const char* kHelpContextProperty = "helpContext";
