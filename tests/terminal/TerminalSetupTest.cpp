// The terminal setup dialog run on a terminal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "CPortCtl.h"
#include "CPortTrmSet.h"

namespace {

using kvel::TComTerminal;
using kvel::TComTrmSetForm;

class TerminalSetup : public ::testing::Test {
 protected:
  // Runs the dialog on the terminal; `step` sees it once it is up and closes it.
  void Run(const std::function<void(TComTrmSetForm&)>& step) {
    bool ran = false;
    auto* timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [&, timer, tries] {
      auto* dialog = qobject_cast<TComTrmSetForm*>(QApplication::activeModalWidget());
      if (dialog == nullptr && ++*tries < 400) return;
      timer->stop();
      timer->deleteLater();
      if (dialog == nullptr) return;
      ran = true;
      step(*dialog);
    });
    timer->start(5);
    term.RunSetupDialog();
    EXPECT_TRUE(ran);
  }
  static void SetText(QLineEdit* edit, const char* text) {
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }
  std::string Screen() const {
    std::ostringstream out;
    term.WriteScreenText(out);
    return out.str();
  }

  TComTerminal term;
};

TEST_F(TerminalSetup, ShowsTheTerminalsSettingsAndWritesThemBackOnOk) {
  term.SetLocalEcho(true);
  term.SetAppendLF(true);
  term.SetCaret(kvel::tcUnderline);
  term.SetEmulation(kvel::teVT52);
  term.SetArrowKeys(kvel::akWindows);
  term.SetColumns(100);
  term.SetRows(30);
  Run([](TComTrmSetForm& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "Setup");
    EXPECT_EQ(d.size(), QSize(295, 287));
    EXPECT_TRUE(d.CheckBox1->isChecked());
    EXPECT_FALSE(d.CheckBox2->isChecked());
    EXPECT_FALSE(d.CheckBox3->isChecked());
    EXPECT_FALSE(d.CheckBox4->isChecked());
    EXPECT_TRUE(d.CheckBox5->isChecked());
    EXPECT_EQ(d.ComboBox1->currentText().toStdString(), "Underline");
    EXPECT_EQ(d.ComboBox2->currentText().toStdString(), "VT52");
    EXPECT_EQ(d.ComboBox3->currentText().toStdString(), "Act as windows keys");
    EXPECT_EQ(d.Edit1->text().toStdString(), "100");
    EXPECT_EQ(d.Edit2->text().toStdString(), "30");
    EXPECT_EQ(d.CheckBox1->text().toStdString(), "Echo typed charachters locally");
    for (const QWidget* child : d.findChildren<QWidget*>()) {
      if (child->parentWidget() == nullptr || !child->isVisible()) continue;
      EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
          << child->objectName().toStdString();
    }
    QTest::mouseClick(d.CheckBox1, Qt::LeftButton);
    QTest::mouseClick(d.CheckBox2, Qt::LeftButton);
    QTest::mouseClick(d.CheckBox3, Qt::LeftButton);
    QTest::mouseClick(d.CheckBox4, Qt::LeftButton);
    QTest::keyClick(d.ComboBox1, Qt::Key_Up);
    QTest::keyClick(d.ComboBox2, Qt::Key_Up);
    QTest::keyClick(d.ComboBox3, Qt::Key_Up);
    QTest::keyClick(d.Edit2, Qt::Key_Return);  // OK is the default button
  });
  EXPECT_FALSE(term.LocalEcho());
  EXPECT_TRUE(term.SendLF());
  EXPECT_TRUE(term.WrapLines());
  EXPECT_TRUE(term.Force7Bit());
  EXPECT_TRUE(term.AppendLF());
  EXPECT_EQ(term.Caret(), kvel::tcBlock);
  EXPECT_EQ(term.Emulation(), kvel::teVT100orANSI);
  EXPECT_EQ(term.ArrowKeys(), kvel::akTerminal);
  EXPECT_EQ(term.Columns(), 100);
  EXPECT_EQ(term.Rows(), 30);
}

TEST_F(TerminalSetup, ColumnsAndRowsAreClampedOrFallBack) {
  const struct {
    const char* columns;
    const char* rows;
    int wantColumns;
    int wantRows;
  } rows[] = {{"0", "24", 2, 24}, {"1000", "1000", 256, 100}, {"abc", "x1", 80, 24},
              {"", "-5", 80, 2},  {" 40", "12", 40, 12},      {"99999999999", "50", 80, 50}};
  for (const auto& row : rows) {
    term.SetColumns(60);
    term.SetRows(20);
    Run([&](TComTrmSetForm& d) {
      SetText(d.Edit1, row.columns);
      if (*row.columns == '\0') d.Edit1->clear();
      SetText(d.Edit2, row.rows);
      QTest::mouseClick(d.Button1, Qt::LeftButton);
    });
    EXPECT_EQ(term.Columns(), row.wantColumns) << row.columns;
    EXPECT_EQ(term.Rows(), row.wantRows) << row.rows;
  }
}

TEST_F(TerminalSetup, OkWithoutChangesKeepsTheScreenAndAResizeBlanksIt) {
  term.PutText("kept text");
  Run([](TComTrmSetForm& d) { QTest::mouseClick(d.Button1, Qt::LeftButton); });
  EXPECT_NE(Screen().find("kept text"), std::string::npos);
  Run([](TComTrmSetForm& d) {
    SetText(d.Edit2, "25");
    QTest::mouseClick(d.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(Screen().find("kept text"), std::string::npos);
}

TEST_F(TerminalSetup, CancelAndEscChangeNothing) {
  term.PutText("kept");
  const std::function<void(TComTrmSetForm&)> closers[] = {
      [](TComTrmSetForm& d) { QTest::mouseClick(d.Button2, Qt::LeftButton); },
      [](TComTrmSetForm& d) { QTest::keyClick(d.Edit1, Qt::Key_Escape); }};
  for (const auto& close : closers) {
    Run([&](TComTrmSetForm& d) {
      QTest::mouseClick(d.CheckBox1, Qt::LeftButton);
      SetText(d.Edit1, "10");
      QTest::keyClick(d.ComboBox2, Qt::Key_End);
      close(d);
    });
    EXPECT_FALSE(term.LocalEcho());
    EXPECT_EQ(term.Columns(), 80);
    EXPECT_EQ(term.Emulation(), kvel::teVT100orANSI);
    EXPECT_NE(Screen().find("kept"), std::string::npos);
  }
}

TEST_F(TerminalSetup, NoneEmulationShowsSequencesAsText) {
  Run([](TComTrmSetForm& d) {
    QTest::keyClick(d.ComboBox2, Qt::Key_End);
    EXPECT_EQ(d.ComboBox2->currentText().toStdString(), "None");
    QTest::mouseClick(d.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(term.Emulation(), kvel::teNone);
  term.PutText("\033[2J<");
  EXPECT_NE(Screen().find("[2J<"), std::string::npos) << Screen();
}

TEST_F(TerminalSetup, CaretNoneShowsNoSelectionAndStaysNone) {
  term.SetCaret(kvel::tcNone);
  Run([](TComTrmSetForm& d) {
    EXPECT_EQ(d.ComboBox1->currentIndex(), -1);
    QTest::mouseClick(d.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(term.Caret(), kvel::tcNone);
}

}  // namespace
