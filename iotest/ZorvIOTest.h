#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "IoTestDialog.h"
#include "IoTestHost.h"
#include "WindowSupport.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;
class TDopjeNew;
class TGauge;

// An up-down control: two arrow buttons that step a position within bounds. OnChanging
// runs before every step, while the position still has its old value.
class TUpDown : public QWidget {
  Q_OBJECT

 public:
  explicit TUpDown(QWidget* parent = nullptr);

  int Position() const { return position_; }
  void SetPosition(int value);
  void SetRange(int min, int max);
  void SetIncrement(int value) { increment_ = value; }
  // One click on an arrow: +1 up, -1 down.
  void Click(int direction);

  QToolButton* UpButton = nullptr;
  QToolButton* DownButton = nullptr;

 Q_SIGNALS:
  void OnChanging();

 private:
  int position_ = 0;
  int min_ = 0;
  int max_ = 100;
  int increment_ = 1;
};

// The ZorvDrive / GRV I/O test: the drive's opto, BCD and enable inputs as lamps, its
// outputs as boxes, BCD switch, encoder and analog input, and for GRV an analog output,
// all over one polling loop that the operator starts and stops. It also decodes the
// drive's reply to "ERR".
class TZorvIOForm : public IoTestDialog {
  Q_OBJECT

 public:
  explicit TZorvIOForm(IoTestHost& host, QWidget* parent = nullptr);

  // Mode buttons, one down at a time, and the help button.
  QToolButton* BtBCD = nullptr;
  QToolButton* BtBCDIO = nullptr;
  QToolButton* BtAnalogIO = nullptr;
  QToolButton* BtEncoder = nullptr;
  QToolButton* SpeedButton3 = nullptr;  // "Help"

  QGroupBox* OptoIn = nullptr;
  QLabel* OptoInNumbers = nullptr;     // "1    2 ... 8"
  QLabel* OptoInNumbers910 = nullptr;  // "9    10"
  QGroupBox* OptoOut = nullptr;
  QLabel* OptoOutNumbers12 = nullptr;  // "1    2 "
  QLabel* OptoOutNumbers34 = nullptr;  // "3    4 "
  QGroupBox* BCDBox = nullptr;
  QLabel* BCDInNumbers = nullptr;
  QGroupBox* BCDOut = nullptr;
  QLabel* BCDOutNumbers = nullptr;
  QGroupBox* BCDswitch = nullptr;
  QLabel* Label2 = nullptr;  // BCD switch value
  QGroupBox* AnalogIn = nullptr;
  TGauge* Analog = nullptr;
  QLabel* Label1 = nullptr;  // analog value
  QLabel* Label3 = nullptr;  // analog sign
  QLabel* VoltLabel = nullptr;
  QGroupBox* AnalogOut = nullptr;
  QLabel* VoltOut = nullptr;
  TUpDown* UpDown1 = nullptr;
  QPushButton* AnOutOff = nullptr;
  QGroupBox* encoderbox = nullptr;
  QLabel* Label13 = nullptr;    // " Enc1"
  QLabel* ENC2Label = nullptr;  // " Enc2"
  QLabel* ENC1 = nullptr;
  QLabel* ENC2 = nullptr;
  QGroupBox* DrvReadyBox = nullptr;
  QLabel* Label12 = nullptr;  // "Status"
  QLabel* RunLabel = nullptr;
  QPushButton* StopBtn = nullptr;  // "Exit"
  QPushButton* Button2 = nullptr;  // "Start" / "Stop"

  // IN1 ... IN19 (index 0 = IN1) and OUT1 ... OUT8 (index 0 = OUT1, tag = index + 1).
  std::array<TDopjeNew*, 19> IN{};
  std::array<QCheckBox*, 8> OUT{};

  // State of the window.
  std::string InputStates;    // character n - 1: last read state of input n
  std::string OutputPending;  // character k - 1: "1" while box k has a change not yet sent
  int InputCount = 0;
  int OutputCount = 0;
  bool Running = false;
  bool BcdIoMode = false;
  bool AnalogOutOn = false;
  int AnalogOutState = 0;  // 0 idle, 1 switch-on pending, 2 switch-off pending, 9 on
  int TorqueValue = 0;

  // Opening: the unit-type layout, the lamps, the outputs as the drive holds them.
  void FormShow() override;
  void ReadInput(int n);
  void ReadInputGroup(int first, int last);
  void ShowInputs();
  void OutputClick(int k);
  void ApplyOutputs();
  void SendOutput(int k);
  void ReadOutputs();
  void ReadBcd();
  void ReadEncoder();
  void ReadAnalog();
  void UpDown1Changing();
  void AnOutOffClick();
  void HideAllPages();
  void BtBCDClick();
  void BtBCDIOClick();
  void BtAnalogIOClick();
  void BtEncoderClick();
  void SpeedButton3Click();
  void Button2Click();
  void RunLoop();
  void StopBtnClick();

  // The drive's answer to the "ERR" just sent, decoded into the terminal. Uses no state of
  // the window, so it runs on a window that is never shown.
  void ReportDriveError();

  bool IsGrv() const { return grv_; }
  // The lamp of input n (1-based) for the unit type shown.
  TDopjeNew* InputLamp(int n) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void ShownAnew() override;

 private:
  void CreateControls();
  void ApplyUnitType();
  std::string Drain();
  // Sends `command` and reads the decimal value of the reply 100 ms later; without one it
  // shows " error " in `errorLabel` and returns false.
  bool ReadDecimal(const char* command, QLabel* errorLabel, double* value);
  int OutputNumber(int k) const;
  void RunCycle();
  // Handles pending window messages; a program that is ending closes the window as "Exit"
  // does. False when the window must close, so the cycle ends here.
  bool Pump();
  // "Stop": the controls of a stopped window.
  void ShowStopping();
  // The status after the loop.
  void ShowStopped();
  // Every way of closing but "Exit" itself (Esc too, as "Exit"): stops a running loop and
  // closes once it has switched the drive off, else closes at once.
  void Leave() override;

  IoTestHost& host_;
  bool grv_ = false;
  bool exiting_ = false;         // "Exit" (or the main window) closes the window
  bool closeRequested_ = false;  // a close came while the loop ran
  bool closed_ = false;          // the window has been closed
  int loops_ = 0;                // polling loops on the stack
  EndingWatch ending_;
};

// The message of a drive error number.
std::string DriveErrorText(int number);
