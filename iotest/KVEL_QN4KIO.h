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
class TDopjeNew;

// The QN4100I I/O test: checks that a unit of the brand answers, then polls it: writes the
// eight opto outputs, reads the sixteen opto inputs into lamps and checks the unit again,
// until Close.
class TQN4K_IO_Form : public IoTestDialog {
  Q_OBJECT

 public:
  explicit TQN4K_IO_Form(IoTestHost& host, QWidget* parent = nullptr);

  QGroupBox* OptoBox = nullptr;          // " Opto I/O "
  std::array<TDopjeNew*, 16> OPTO_IN{};  // index 0 = OPTO_IN1
  std::array<QCheckBox*, 16> OUT{};      // index 0 = OUT1; OUT9 ... OUT16 are in " BCD I/O "
  QGroupBox* BcdBox = nullptr;           // " BCD I/O "
  std::array<TDopjeNew*, 8> BCD_IN{};
  std::array<TDopjeNew*, 8> TopLamps{};  // DopjeNew9 ... DopjeNew16
  QGroupBox* StatusBox = nullptr;        // " Status "
  QLabel* Label5 = nullptr;
  QPushButton* Button1 = nullptr;  // "Close"
  QPushButton* Button2 = nullptr;  // "Info"
  QPushButton* Button3 = nullptr;  // hidden; its click is the polling loop

  void FormShow() override;
  // Runs at every activation: the start-up, unless one already runs beneath.
  void FormActivate();
  void StartUp();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  // Asks the unit for its identification until the brand answers: the number of attempts
  // (1 to 6), or 10 when Close stopped it.
  int UnitCheck();

  bool RunningFlag() const { return running_; }

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void ShownAnew() override;

 private:
  void CreateControls();
  void ShowCheckResult(int attempts);
  // Handles pending window messages inside the start-up; a program that is ending closes
  // the window as Close does.
  void Pump();
  // Every way of closing but "Close" itself (Esc too): with a start-up on the stack, its
  // loops end at their next check and the window closes once they have ended; else at once.
  void Leave() override;

  IoTestHost& host_;
  bool running_ = false;
  bool probing_ = false;
  bool activeStartUp_ = false;
  bool closed_ = false;       // "Close" was pressed: nothing starts any more
  bool leaveWanted_ = false;  // the window closes when the start-up has ended
  bool failed_ = false;       // a port error stopped the test: nothing starts any more
  bool inClose_ = false;      // "Close" runs
  bool finished_ = false;     // "Close" has closed the window
  EndingWatch ending_;
};
