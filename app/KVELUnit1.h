#pragma once

#include <QMainWindow>
#include <array>
#include <string>

#include "serial/CPort.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QStatusBar;
class QTableWidget;
class QTimer;
class QToolBar;
class QToolButton;
namespace kvel {
class TComTerminal;
}

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
  QAction* KVEL1 = nullptr;  // "Send Program"
  QAction* Viewlogfile1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* Contents1 = nullptr;
  QAction* helpIndex1 = nullptr;
  QAction* About1 = nullptr;
  // Items that are never shown but whose shortcuts work: they live on the window itself.
  std::array<QAction*, 10> MacroItems{};  // "0" ... "9", Alt+0 ... Alt+9, tag = index
  QAction* N101 = nullptr;                // "10", Alt+T: I/O test
  QAction* Autorepeat1 = nullptr;
  QAction* Repeat1 = nullptr;

  bool ParamView = false;
  bool LogOn = false;
  bool AutoRepeat = false;

  void FormCreate();
  void FormShow();
  void FormCloseQuery();
  void FormClose();
  void PutContrSpec();
  void ReadConfig();
  void WriteConfig();
  void ApplyPortSettings();
  // " COM1 9600 8 None 1": the port's current settings as status panel 0 shows them.
  std::string PortSettingsText() const;

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

  // A later start of the program asks this one to come forward; returns true when the
  // window was minimised and has been restored.
  bool RaiseForOtherStart();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateToolBar();
  void CreateClientArea();
  void CreateStatusBar();
  void CreateMenus();
  void SelectUnitType(int type);
  QAction* UnitItem(int type) const;

  bool shown_ = false;
  bool closed_ = false;
};

// The main window while the program runs (nullptr before and after).
extern TForm1* Form1;

// The help context stored on every menu item and menu that has one.
inline constexpr const char* kHelpContextProperty = "helpContext";
