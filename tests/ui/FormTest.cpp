#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "Form.h"

namespace kvel {
namespace {

TEST(FormControls, CarryTheirNamesCaptionsAndPlaces) {
  QWidget form;
  FixForm(&form, "Form9", 300, 120);
  EXPECT_EQ(form.objectName(), QStringLiteral("Form9"));
  EXPECT_EQ(form.minimumSize(), QSize(300, 120));
  EXPECT_EQ(form.maximumSize(), QSize(300, 120));
  EXPECT_EQ(form.font().family(), QStringLiteral("Arial"));

  // Captions are the program's 8-bit texts: byte 0x80 shows as the euro sign.
  QLabel* label = AddLabel(&form, "Label1", "<b>\x80 5</b>", QRect(8, 10, 48, 16));
  EXPECT_EQ(label->text(), QStringLiteral("<b>\u20AC 5</b>"));
  EXPECT_EQ(label->textFormat(), Qt::PlainText);
  EXPECT_EQ(label->geometry(), QRect(8, 10, 48, 16));
  EXPECT_TRUE(AddLabel(&form, nullptr, "1  2", QRect())->objectName().isEmpty());

  QPushButton* button = AddButton(&form, "KiesEditor", "..", QRect(1, 2, 28, 21), "Choose editor");
  EXPECT_EQ(button->toolTip(), QStringLiteral("Choose editor"));
  EXPECT_FALSE(button->autoDefault());
  QComboBox* list = AddComboBox(&form, "ComboBox1", {"Block", "Underline"}, QRect(0, 0, 9, 9));
  EXPECT_EQ(list->count(), 2);
  EXPECT_EQ(list->itemText(1), QStringLiteral("Underline"));
  EXPECT_FALSE(list->isEditable());
  EXPECT_EQ(form.findChild<QPushButton*>(QStringLiteral("KiesEditor")), button);
  EXPECT_EQ(AddCheckBox(AddPanel(&form, "Panel1", QRect(8, 18, 244, 22)), "CheckBox8", "Input 1",
                        QRect(4, 1, 60, 20))
                ->parentWidget()
                ->objectName(),
            QStringLiteral("Panel1"));
}

TEST(FormControls, DefaultButtonAcceptsOnEnterAndCancelRejects) {
  QDialog dialog;
  QLineEdit* edit = AddEdit(&dialog, "Edit1", QRect(0, 0, 50, 20));
  QPushButton* ok = AddDefaultButton(&dialog, "Button1", "OK", QRect(0, 30, 75, 25));
  QPushButton* cancel = AddCancelButton(&dialog, "Button2", "Cancel", QRect(80, 30, 75, 25));
  EXPECT_TRUE(ok->isDefault());
  EXPECT_FALSE(cancel->isDefault());

  QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(edit, Qt::Key_Return); });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  QTimer::singleShot(0, &dialog, [&] { cancel->click(); });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}

TEST(FormPlacement, CentresOverTheOwnerWithHalvesTruncated) {
  QWidget owner;
  owner.setGeometry(100, 50, 301, 201);
  QWidget window;
  window.resize(100, 50);
  CentreOver(&window, &owner, 20);
  const QRect frame = owner.frameGeometry();
  EXPECT_EQ(window.pos(), QPoint(frame.left() + (frame.width() - 100) / 2,
                                 frame.top() + (frame.height() - 50) / 2 + 20));
  const QPoint before = window.pos();
  CentreOver(&window, nullptr, 0);
  EXPECT_EQ(window.pos(), before);
}

TEST(RadioGroup, FillsColumnByColumnAndCanSelectNone) {
  QWidget form;
  TRadioGroup* group = AddRadioGroup(&form, "BaudSelect", " Baud Rate ",
                                     {"300", "1200", "2400", "9600", "19200", "38400"}, 2,
                                     QRect(144, 60, 132, 72), 3);
  EXPECT_EQ(group->objectName(), QStringLiteral("BaudSelect"));
  EXPECT_EQ(group->title(), QStringLiteral(" Baud Rate "));
  EXPECT_EQ(group->ItemIndex(), 3);
  EXPECT_TRUE(group->Item(3)->isChecked());
  // Three items a column: the fourth starts the second column at the top.
  EXPECT_EQ(group->Item(3)->y(), group->Item(0)->y());
  EXPECT_GT(group->Item(3)->x(), group->Item(2)->x());
  EXPECT_GT(group->Item(2)->y(), group->Item(1)->y());

  group->Item(5)->click();
  EXPECT_EQ(group->ItemIndex(), 5);
  group->SetItemIndex(-1);
  EXPECT_EQ(group->ItemIndex(), -1);
  for (int i = 0; i < group->Count(); ++i) EXPECT_FALSE(group->Item(i)->isChecked()) << i;
  group->SetItemIndex(6);  // outside the list: none as well
  EXPECT_EQ(group->ItemIndex(), -1);
  // Exclusive again after selecting none.
  group->Item(0)->click();
  group->Item(1)->click();
  EXPECT_FALSE(group->Item(0)->isChecked());
  EXPECT_EQ(group->ItemIndex(), 1);
}

}  // namespace
}  // namespace kvel
