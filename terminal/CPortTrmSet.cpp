#include "CPortTrmSet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "CPortCtl.h"
#include "ui/Form.h"

namespace kvel {
namespace {

constexpr int kClientWidth = 295;
constexpr int kClientHeight = 287;

QCheckBox* AddOption(QWidget* parent, const char* name, const char* caption, int top) {
  return AddCheckBox(parent, name, caption, QRect(10, top, 262, 18));
}

// A list position from an ordinal; -1 (no selection) for an ordinal the list does not have.
void SelectOrdinal(QComboBox* list, int ordinal) {
  list->setCurrentIndex(ordinal >= 0 && ordinal < list->count() ? ordinal : -1);
}

}  // namespace

TComTrmSetForm::TComTrmSetForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Setup"));
  FixForm(this, "ComTrmSetForm", kClientWidth, kClientHeight);

  GroupBox1 = AddGroup(this, "GroupBox1", " ASCII Settings ", QRect(8, 6, 279, 112));
  CheckBox1 = AddOption(GroupBox1, "CheckBox1", "Echo typed charachters locally", 16);
  CheckBox2 = AddOption(GroupBox1, "CheckBox2", "Send line feeds with carriage return", 34);
  CheckBox3 = AddOption(GroupBox1, "CheckBox3", "Wrap lines that exceed terminal width", 52);
  CheckBox4 = AddOption(GroupBox1, "CheckBox4", "Force incoming data to 7 bit ASCII", 70);
  CheckBox5 =
      AddOption(GroupBox1, "CheckBox5", "Append line feeds to incoming carriage return", 88);

  GroupBox2 = AddGroup(this, "GroupBox2", " Terminal Settings ", QRect(8, 122, 279, 124));
  Label1 = AddLabel(GroupBox2, "Label1", "Caret", QRect(10, 16, 120, 16));
  ComboBox1 = AddComboBox(GroupBox2, "ComboBox1", {"Block", "Underline"}, QRect(10, 32, 130, 21));
  Label2 = AddLabel(GroupBox2, "Label2", "Emulation", QRect(10, 56, 120, 16));
  ComboBox2 =
      AddComboBox(GroupBox2, "ComboBox2", {"ANSI/VT100", "VT52", "None"}, QRect(10, 72, 130, 21));
  Label3 = AddLabel(GroupBox2, "Label3", "Columns", QRect(160, 16, 100, 16));
  Edit1 = AddEdit(GroupBox2, "Edit1", QRect(160, 32, 64, 21));
  Label4 = AddLabel(GroupBox2, "Label4", "Rows", QRect(160, 56, 100, 16));
  Edit2 = AddEdit(GroupBox2, "Edit2", QRect(160, 72, 64, 21));
  Label5 = AddLabel(GroupBox2, "Label5", "Cursor keys", QRect(10, 99, 70, 16));
  ComboBox3 = AddComboBox(GroupBox2, "ComboBox3", {"Act as terminal keys", "Act as windows keys"},
                          QRect(82, 97, 187, 21));
  Label1->setBuddy(ComboBox1);
  Label2->setBuddy(ComboBox2);
  Label3->setBuddy(Edit1);
  Label4->setBuddy(Edit2);
  Label5->setBuddy(ComboBox3);

  Button1 = AddDefaultButton(this, "Button1", "OK", QRect(62, 254, 75, 25));
  Button2 = AddCancelButton(this, "Button2", "Cancel", QRect(158, 254, 75, 25));
  SetTabOrder({CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, ComboBox1, ComboBox2,
               ComboBox3, Edit1, Edit2, Button1, Button2});
  CentreOnScreen(this);
}

void TComTerminal::RunSetupDialog() {
  auto dialog = std::make_unique<TComTrmSetForm>(window());
  dialog->CheckBox1->setChecked(LocalEcho());
  dialog->CheckBox2->setChecked(SendLF());
  dialog->CheckBox3->setChecked(WrapLines());
  dialog->CheckBox4->setChecked(Force7Bit());
  dialog->CheckBox5->setChecked(AppendLF());
  SelectOrdinal(dialog->ComboBox1, static_cast<int>(Caret()));
  SelectOrdinal(dialog->ComboBox2, static_cast<int>(Emulation()));
  SelectOrdinal(dialog->ComboBox3, static_cast<int>(ArrowKeys()));
  dialog->Edit1->setText(QString::number(Columns()));
  dialog->Edit2->setText(QString::number(Rows()));
  if (dialog->exec() != QDialog::Accepted) return;

  SetLocalEcho(dialog->CheckBox1->isChecked());
  SetSendLF(dialog->CheckBox2->isChecked());
  SetWrapLines(dialog->CheckBox3->isChecked());
  SetForce7Bit(dialog->CheckBox4->isChecked());
  SetAppendLF(dialog->CheckBox5->isChecked());
  // The caret list has no entry for tcNone: with nothing picked the caret stays as it is.
  if (const int caret = dialog->ComboBox1->currentIndex(); caret >= 0)
    SetCaret(static_cast<TTermCaret>(caret));
  if (const int emulation = dialog->ComboBox2->currentIndex(); emulation >= 0)
    SetEmulation(static_cast<TTermEmulation>(emulation));
  bool ok = false;
  const int columns = dialog->Edit1->text().toInt(&ok);
  SetColumns(ok ? columns : 80);
  const int rows = dialog->Edit2->text().toInt(&ok);
  SetRows(ok ? rows : 24);
  if (const int keys = dialog->ComboBox3->currentIndex(); keys >= 0)
    SetArrowKeys(static_cast<TArrowKeys>(keys));
}

}  // namespace kvel
