#pragma once

#include <QDialog>
#include <QGroupBox>
#include <array>
#include <string>
#include <vector>

#include "ui/Form.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TForm1;

// "Unit Setup": edits the editor path, the terminal log file, the port, the baud rate, the
// emulation and the ten keyboard macros of the selected unit type.
class TMacroForm : public QDialog {
  Q_OBJECT

 public:
  explicit TMacroForm(TForm1* owner);

  QLabel* Label1 = nullptr;  // "Editor"
  QLineEdit* Edit1 = nullptr;
  QPushButton* KiesEditor = nullptr;
  QLabel* Label18 = nullptr;  // "LogFile "
  QLineEdit* Edit3 = nullptr;
  QPushButton* KiesLogFile = nullptr;
  kvel::TRadioGroup* COMSelect = nullptr;
  // Every port the program lists (and the stored one), each with its device in its text;
  // the item's value is the COM number the settings store. Kept in step with COMSelect.
  QComboBox* PortChoice = nullptr;
  kvel::TRadioGroup* BaudSelect = nullptr;
  kvel::TRadioGroup* EmuSelect = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  std::array<QLabel*, 10> AltLabels{};   // "Alt 0" ... "Alt 9"
  std::array<QLabel*, 10> TextLabels{};  // the macro texts
  QLineEdit* Edit2 = nullptr;            // the in-place editor over the current row
  QPushButton* Button2 = nullptr;        // "OK"
  QPushButton* Button3 = nullptr;        // "Cancel"
  // Which device the selected COM item stands for ("COM2 = /dev/ttyUSB0 (...)").
  QLabel* PortDevice = nullptr;

  int CurrentRow() const { return row_; }
  // The COM number chosen, 0 for none.
  int ChosenPort() const;

  void EditToLabel();
  void LabelToEdit();
  void FormCreate();
  void FormShow();
  void FormActivate();
  // Any label of the macro group: its tag is its row.
  void Label5Click(const QLabel* sender);
  // True when the key was consumed.
  bool Edit2KeyDown(int key);
  bool Edit2KeyPress(QChar key);
  void KiesEditorClick();
  void KiesLogFileClick();
  void Button2Click();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaceEditor();
  void ShowPortDevice();
  void FillPortChoice();
  void PortChoicePicked(int index);
  void ComItemToggled(int item, bool checked);
  // Says at OK when the terminal log file named cannot be written, and why.
  void ReportLogFileProblem();

  TForm1* owner_;
  int row_ = 0;
};

// The baud rates of the unit setup, by item of its group.
inline constexpr std::array<int, 6> kMacroBaudRates{300, 1200, 2400, 9600, 19200, 38400};

// A log file name as the unit setup stores it: ".LOG" appended when it has no extension.
std::string LogFileNameWithExtension(const std::string& name);
