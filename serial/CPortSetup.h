#pragma once

#include <QDialog>
#include <array>

#include "CPort.h"

class QGroupBox;
class QLabel;
class QPushButton;
namespace kvel {
class TComComboBox;
}

// "Setup": the port, baud rate, data bits, stop bits, parity and flow control of a port,
// each in a selector bound to it.
class TComSetupFrm : public QDialog {
  Q_OBJECT

 public:
  explicit TComSetupFrm(QWidget* parent = nullptr);

  QGroupBox* GroupBox1 = nullptr;
  std::array<QLabel*, 6> Labels{};
  kvel::TComComboBox* Combo1 = nullptr;  // port
  kvel::TComComboBox* Combo2 = nullptr;  // baud rate
  kvel::TComComboBox* Combo3 = nullptr;  // data bits
  kvel::TComComboBox* Combo4 = nullptr;  // stop bits
  kvel::TComComboBox* Combo5 = nullptr;  // parity
  kvel::TComComboBox* Combo6 = nullptr;  // flow control
  QPushButton* Button1 = nullptr;        // "OK"
  QPushButton* Button2 = nullptr;        // "Cancel"

  std::array<kvel::TComComboBox*, 6> Combos() const {
    return {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6};
  }
};

// Runs the setup dialog for `port`. OK writes the six settings inside one settings change,
// so a new port name reopens the port first and the rest reaches the device once, at the
// end; Cancel changes nothing. Raises EComPort 23 when the port list cannot be read.
void ShowPortSetup(TCustomComPort& port);
