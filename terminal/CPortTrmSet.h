#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kvel {

// "Setup" of a terminal: echo, line feeds, wrapping, 7-bit input, caret, emulation, size and
// cursor keys. TComTerminal::RunSetupDialog fills it and writes it back.
class TComTrmSetForm : public QDialog {
  Q_OBJECT

 public:
  explicit TComTrmSetForm(QWidget* parent = nullptr);

  QGroupBox* GroupBox1 = nullptr;  // " ASCII Settings "
  QCheckBox* CheckBox1 = nullptr;  // local echo
  QCheckBox* CheckBox2 = nullptr;  // send LF
  QCheckBox* CheckBox3 = nullptr;  // wrap lines
  QCheckBox* CheckBox4 = nullptr;  // force 7 bit
  QCheckBox* CheckBox5 = nullptr;  // append LF
  QGroupBox* GroupBox2 = nullptr;  // " Terminal Settings "
  QLabel* Label1 = nullptr;        // "Caret"
  QComboBox* ComboBox1 = nullptr;
  QLabel* Label2 = nullptr;  // "Emulation"
  QComboBox* ComboBox2 = nullptr;
  QLabel* Label3 = nullptr;  // "Columns"
  QLineEdit* Edit1 = nullptr;
  QLabel* Label4 = nullptr;  // "Rows"
  QLineEdit* Edit2 = nullptr;
  QLabel* Label5 = nullptr;  // "Cursor keys"
  QComboBox* ComboBox3 = nullptr;
  QPushButton* Button1 = nullptr;  // "OK"
  QPushButton* Button2 = nullptr;  // "Cancel"
};

}  // namespace kvel
