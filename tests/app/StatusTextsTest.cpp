#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTest>

#include "AppTestSupport.h"
#include "KVEL_RepTime.h"
#include "KVEL_Var.h"
#include "terminal/CPortCtl.h"
#include "ui/StatusPanel.h"

namespace {

class StatusTextsTest : public AppTest {
 protected:
  // The window after the first tick, with unit type `type` and `entry` selected in the
  // command buffer.
  TForm1& StartRepeating(int type, const std::string& entry) {
    TForm1& form = Start();
    UnitType = type;
    form.Timer1Timer();  // the first tick: the receive poll runs one round
    if (!entry.empty()) form.AddToHistory(entry);
    line_->TakeReceived();
    return form;
  }
  kvel::StatusPanel& InfoPanel() const {
    return *qobject_cast<kvel::StatusPanel*>(form_->Panels[2]);
  }
  static void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }
};

TEST_F(StatusTextsTest, AutoRepeatSaysWhatItSendsAndHowItStops) {
  TForm1& form = StartRepeating(5, "H23");
  form.Panels[2]->setText(QStringLiteral(" Unit : E XMU VORTAN V2.1"));
  RepeatDelay = 250;
  form.Autorepeat1Click();
  EXPECT_EQ(Panel(2), " Auto repeat: H23 every 250 ms; a key typed in the terminal stops it");
  // Another entry chosen while it runs is what it sends now.
  form.AddToHistory("L48");
  EXPECT_EQ(Panel(2), " Auto repeat: L48 every 250 ms; a key typed in the terminal stops it");

  QTest::keyClick(form.ComTerminal1, 'x');
  EXPECT_FALSE(form.AutoRepeat);
  EXPECT_EQ(Panel(2), " Unit : E XMU VORTAN V2.1");  // what the panel showed before

  // A text the panel was given meanwhile stays when auto-repeat stops.
  form.Autorepeat1Click();
  form.Panels[2]->setText(QStringLiteral(" Unit : I MU VORTAN V1.7"));
  QTest::keyClick(form.ComTerminal1, 'y');
  EXPECT_EQ(Panel(2), " Unit : I MU VORTAN V1.7");
}

TEST_F(StatusTextsTest, AutoRepeatNamesTheStopThatWorksForTheUnitType) {
  TForm1& form = StartRepeating(2, "");
  RepeatDelay = 1000;
  form.Autorepeat1Click();
  // Keys typed for this unit type are not sent and do not stop it; only the scan does.
  EXPECT_EQ(Panel(2),
            " Auto repeat: an empty line every 1000 ms; Scan for indexer (Alt+S) stops it");
  EXPECT_EQ(form.Scanforindexer1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));
  QTest::keyClick(form.ComTerminal1, 'x');
  EXPECT_TRUE(form.AutoRepeat);

  // A repeat time of 0 ms never ticks: said instead of pretending to run.
  RepeatDelay = 0;
  form.Autorepeat1Click();
  EXPECT_EQ(Panel(2), " Auto repeat sends nothing: the repeat time is 0 ms (Setup / Repeat Setup)");
}

TEST_F(StatusTextsTest, ALongCommandIsShortenedInThePanelAndWholeInItsHint) {
  TForm1& form = StartRepeating(5, "L48 20 N001 L26 0 L49 0 L50 1 H16");
  RepeatDelay = 500;
  form.Autorepeat1Click();
  EXPECT_EQ(Panel(2),
            " Auto repeat: L48 20 N001 L26 0 L49... every 500 ms; a key typed in the terminal "
            "stops it");
  EXPECT_EQ(InfoPanel().Hint().toStdString(),
            " Auto repeat: L48 20 N001 L26 0 L49 0 L50 1 H16 every 500 ms; a key typed in the "
            "terminal stops it");
}

TEST_F(StatusTextsTest, AutoRepeatWaitsWhileATransferOrADialogOwnsTheLine) {
  TForm1& form = StartRepeating(5, "H23");
  RepeatDelay = 250;
  form.Autorepeat1Click();
  // An upload disables the window for its whole length.
  form.setEnabled(false);
  form.Timer1Timer();
  EXPECT_EQ(line_->TakeReceived(), "");
  form.setEnabled(true);
  form.Timer1Timer();
  EXPECT_EQ(line_->TakeReceived(), "H23\r\n");
  EXPECT_TRUE(form.AutoRepeat);  // it goes on after the transfer
}

// ---- texts that must not be cut ----

TEST_F(StatusTextsTest, ThePortPanelShowsItsLongestTextsWhole) {
  TForm1& form = Start();
  auto& port = *qobject_cast<kvel::StatusPanel*>(form.Panels[0]);
  EXPECT_GE(port.width(), 115);
  for (const char* text :
       {" COM1 9600 8 None 1", " COM1 Custom 8 None 1", " COM99 Custom 8 Space 1.5",
        " COM12 115200 7 Even 2", "COM1 closed: no permission on /dev/ttyUSB0"}) {
    port.setText(QString::fromLatin1(text));
    Settle();
    EXPECT_FALSE(port.Elided()) << text << " in " << port.width();
    EXPECT_LE(port.fontMetrics().horizontalAdvance(port.text()), port.contentsRect().width())
        << text;
    // The other panels stay in the window.
    const QWidget* info = form.Panels[2];
    EXPECT_LE(info->mapTo(&form, QPoint(info->width(), 0)).x(), form.width()) << text;
  }
}

TEST_F(StatusTextsTest, TheUnitsListShowsAScanEntryWhole) {
  TForm1& form = Start();
  form.ComboBox2->addItem(QStringLiteral("# 1 = E XMU VORTAN V2.1"));
  form.ComboBox2->addItem(QStringLiteral("# 12 = P QN4100I VORTAN V3.0"));
  for (int i = 0; i < form.ComboBox2->count(); ++i) {
    form.ComboBox2->setCurrentIndex(i);
    Settle();
    QStyleOptionComboBox option;
    option.initFrom(form.ComboBox2);
    option.currentText = form.ComboBox2->currentText();
    const QRect field = form.ComboBox2->style()->subControlRect(
        QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, form.ComboBox2);
    EXPECT_LE(form.ComboBox2->fontMetrics().horizontalAdvance(option.currentText), field.width())
        << option.currentText.toStdString();
    // A still longer entry is whole in the hint.
    EXPECT_EQ(form.ComboBox2->toolTip(), option.currentText);
  }
}

TEST_F(StatusTextsTest, TheRepeatSetupTitleHasRoomInItsTitleBar) {
  TForm1& form = Start();
  TForm2 dialog(&form);
  QFont title = dialog.font();
  title.setBold(true);
  title.setPointSizeF(title.pointSizeF() * 1.25);
  // The title beside an icon and two buttons of a common title bar.
  EXPECT_GE(dialog.width(), QFontMetrics(title).horizontalAdvance(dialog.windowTitle()) + 3 * 24);
  EXPECT_EQ(dialog.height(), 100);
  // The controls stay centred and inside.
  const int left = dialog.Button2->x();
  const int right = dialog.width() - (dialog.Button1->x() + dialog.Button1->width());
  EXPECT_NEAR(left, right, 1);
}

}  // namespace
