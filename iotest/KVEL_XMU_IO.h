#pragma once

#include <array>
#include <string>

#include "IoTestDialog.h"
#include "IoTestHost.h"
#include "WindowSupport.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;

// The MU / XMU indexer I/O test: outputs one by one, strobes, the four inputs and the
// guided automatic test of the indexer's I/O port.
class TXMU_IO_Form : public IoTestDialog {
  Q_OBJECT

 public:
  explicit TXMU_IO_Form(IoTestHost& host, QWidget* parent = nullptr);

  // " (X)MU Outputs ": tags 97 ... 91 are the indexer's output numbers.
  QGroupBox* OutputsBox = nullptr;
  QCheckBox* CheckBox1 = nullptr;  // "Output 1"
  QCheckBox* CheckBox2 = nullptr;  // "Output 2"
  QCheckBox* CheckBox3 = nullptr;  // "DIR"
  QCheckBox* CheckBox4 = nullptr;  // "Busy"
  QCheckBox* CheckBox5 = nullptr;  // "AWO"
  QCheckBox* CheckBox6 = nullptr;  // "Boost"
  QCheckBox* CheckBox7 = nullptr;  // "Reduce"
  QPushButton* AllOutOFF = nullptr;
  // " Strobe test ": RadioButton1 ... RadioButton8, index = tag, labelled right to left.
  QGroupBox* StrobeBox = nullptr;
  std::array<QRadioButton*, 8> RadioButtons{};
  QPushButton* StrobesON = nullptr;
  // " Inputs ": read-only boxes on a disabled panel.
  QGroupBox* InputsBox = nullptr;
  QWidget* InputPanel = nullptr;
  QCheckBox* CheckBox8 = nullptr;   // "Input 1"
  QCheckBox* CheckBox9 = nullptr;   // "Input 2"
  QCheckBox* CheckBox10 = nullptr;  // "Input 3"
  QCheckBox* CheckBox11 = nullptr;  // "Input 4"
  QPushButton* ReadInput = nullptr;
  // " Automatic I/OTest ".
  QGroupBox* AutoTestBox = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button1 = nullptr;  // "Exit", also Esc
  QPushButton* Button2 = nullptr;  // "Info"

  void FormCreate();
  void FormShow() override;
  void CheckBox1Click(QCheckBox* box);
  void AllOutOFFClick();
  void RadioGroup1Click(QRadioButton* button);
  void StobesONClick();
  void ReadInputClick();
  void Button3Click();
  void Button1Click();
  void FormCloseQuery();
  void Button2Click();

  void CloseForHost() override;

  int Step() const { return step_; }
  int ResultCode() const { return resultCode_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void ShownAnew() override;
  // Esc: closes the window the way its close does (the exit sequence first); during a step
  // of the automatic test, once that step has ended.
  void Leave() override;

 private:
  void CreateControls();
  void Send(const std::string& text);
  void AutoTestStep();
  // Handles pending window messages within a step; false when the window must close, so the
  // step ends here.
  bool Pump();
  // The automatic test back at its start, as after "Finish".
  void ShowAutoTestStopped();
  // Closes the window if a close came while a step ran.
  void CloseIfWanted();

  IoTestHost& host_;
  bool updating_ = false;
  int step_ = 0;
  int resultCode_ = 0;
  int steps_ = 0;             // automatic-test steps on the stack
  bool closeWanted_ = false;  // a close came during a step
  bool exitFailed_ = false;   // "Exit" could not send the exit sequence
  bool closed_ = false;       // the window has been closed, after the exit sequence
  EndingWatch ending_;
};

// The error report of an MU / XMU (unit type 5) or QN4100I (unit type 4) indexer: reads the
// error registers H85, H86 and H87 and writes them, decoded, into the terminal.
void GetXmuError(IoTestHost& host);

// The text shown after the digits of an automatic-test result.
std::string AutoTestResultText(int code);
