#include "CPortTrmSet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "CPortCtl.h"

namespace kvel {
namespace {

constexpr int kClientWidth = 295;
constexpr int kClientHeight = 287;

QCheckBox* AddCheckBox(QWidget* parent, const char* name, const char* text, int top) {
  auto* box = new QCheckBox(QString::fromLatin1(text), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(10, top, 262, 18);
  return box;
}

QLabel* AddLabel(QWidget* parent, const char* name, const char* text, const QRect& geometry) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  return label;
}

QComboBox* AddList(QWidget* parent, const char* name, const QStringList& items,
                   const QRect& geometry) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setEditable(false);  // pick-only
  list->addItems(items);
  list->setGeometry(geometry);
  return list;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, const QRect& geometry) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(geometry);
  return edit;
}

// A list position from an ordinal; -1 (no selection) for an ordinal the list does not have.
void SelectOrdinal(QComboBox* list, int ordinal) {
  list->setCurrentIndex(ordinal >= 0 && ordinal < list->count() ? ordinal : -1);
}

}  // namespace

TComTrmSetForm::TComTrmSetForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("ComTrmSetForm"));
  setWindowTitle(QStringLiteral("Setup"));
  // The program's face: its texts fit the fixed layout in it.
  QFont formFont = font();
  formFont.setFamily(QStringLiteral("Arial"));
  formFont.setPointSize(8);
  setFont(formFont);
  setFixedSize(kClientWidth, kClientHeight);

  GroupBox1 = new QGroupBox(QStringLiteral(" ASCII Settings "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 6, 279, 112);
  CheckBox1 = AddCheckBox(GroupBox1, "CheckBox1", "Echo typed charachters locally", 16);
  CheckBox2 = AddCheckBox(GroupBox1, "CheckBox2", "Send line feeds with carriage return", 34);
  CheckBox3 = AddCheckBox(GroupBox1, "CheckBox3", "Wrap lines that exceed terminal width", 52);
  CheckBox4 = AddCheckBox(GroupBox1, "CheckBox4", "Force incoming data to 7 bit ASCII", 70);
  CheckBox5 =
      AddCheckBox(GroupBox1, "CheckBox5", "Append line feeds to incoming carriage return", 88);

  GroupBox2 = new QGroupBox(QStringLiteral(" Terminal Settings "), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(8, 122, 279, 124);
  Label1 = AddLabel(GroupBox2, "Label1", "Caret", QRect(10, 16, 120, 16));
  ComboBox1 =
      AddList(GroupBox2, "ComboBox1", {QStringLiteral("Block"), QStringLiteral("Underline")},
              QRect(10, 32, 130, 21));
  Label2 = AddLabel(GroupBox2, "Label2", "Emulation", QRect(10, 56, 120, 16));
  ComboBox2 =
      AddList(GroupBox2, "ComboBox2",
              {QStringLiteral("ANSI/VT100"), QStringLiteral("VT52"), QStringLiteral("None")},
              QRect(10, 72, 130, 21));
  Label3 = AddLabel(GroupBox2, "Label3", "Columns", QRect(160, 16, 100, 16));
  Edit1 = AddEdit(GroupBox2, "Edit1", QRect(160, 32, 64, 21));
  Label4 = AddLabel(GroupBox2, "Label4", "Rows", QRect(160, 56, 100, 16));
  Edit2 = AddEdit(GroupBox2, "Edit2", QRect(160, 72, 64, 21));
  Label5 = AddLabel(GroupBox2, "Label5", "Cursor keys", QRect(10, 99, 70, 16));
  ComboBox3 =
      AddList(GroupBox2, "ComboBox3",
              {QStringLiteral("Act as terminal keys"), QStringLiteral("Act as windows keys")},
              QRect(82, 97, 187, 21));
  Label1->setBuddy(ComboBox1);
  Label2->setBuddy(ComboBox2);
  Label3->setBuddy(Edit1);
  Label4->setBuddy(Edit2);
  Label5->setBuddy(ComboBox3);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(62, 254, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(158, 254, 75, 25);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  const QWidget* order[] = {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, ComboBox1,
                            ComboBox2, ComboBox3, Edit1,     Edit2,     Button1,   Button2};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
  }

  if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
    const QRect area = desktop->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
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
