// The unit setup dialog and the main window's steps around the three setup dialogs.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <memory>

#include "AppTestSupport.h"
#include "KVEL_Macro.h"
#include "KVEL_Var.h"
#include "serial/CPortSetup.h"
#include "terminal/CPortCtl.h"
#include "terminal/CPortCtlSelect.h"
#include "terminal/CPortTrmSet.h"
#include "ui/IniFile.h"

namespace {

// Runs `step` on the dialog of type D once it is up (its modal loop is running), and records
// that it ran; `step` closes the dialog.
template <typename D>
void WhenShown(bool* ran, std::function<void(D&)> step) {
  auto* timer = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, ran, step] {
    auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
    if (dialog == nullptr && ++*tries < 400) return;
    timer->stop();
    timer->deleteLater();
    if (dialog == nullptr) return;
    *ran = true;
    step(*dialog);
  });
  timer->start(5);
}

void Type(QWidget* target, int key) {
  QTest::keyClick(target, static_cast<Qt::Key>(key));
}

// Picks an item of a pick-only list with the arrow keys, as a person would.
void Pick(QComboBox* list, const char* text) {
  const int target = list->findText(QString::fromLatin1(text));
  ASSERT_GE(target, 0) << text;
  if (list->currentIndex() < 0) Type(list, Qt::Key_Home);
  while (list->currentIndex() < target) Type(list, Qt::Key_Down);
  while (list->currentIndex() > target) Type(list, Qt::Key_Up);
}

// Shortcuts reach only the active window.
void Activate(TForm1& form) {
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.ComTerminal1->setFocus();
}

class UnitSetupTest : public AppTest {
 protected:
  // Opens the unit setup with Alt+M and runs `step` in it.
  void RunUnitSetup(TForm1& form, const std::function<void(TMacroForm&)>& step) {
    bool ran = false;
    WhenShown<TMacroForm>(&ran, [&](TMacroForm& dialog) {
      EXPECT_FALSE(form.isEnabled());
      EXPECT_TRUE(dialog.Button2->isEnabled());
      step(dialog);
      if (dialog.isVisible()) dialog.reject();
    });
    Activate(form);
    QTest::keyClick(form.ComTerminal1, Qt::Key_M, Qt::AltModifier);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(form.isEnabled());
  }
};

TEST_F(UnitSetupTest, MacroRowsFollowEnterUpDownAndLabelClicks) {
  TForm1& form = Start();
  for (std::size_t n = 0; n < 10; ++n) MacroText[n] = "M" + std::to_string(n);
  MacroText[5] = "<5 H23";  // shown as text, not markup
  RunUnitSetup(form, [](TMacroForm& d) {
    EXPECT_EQ(d.Edit2->text().toStdString(), "M0");
    EXPECT_EQ(d.TextLabels[5]->text().toStdString(), "<5 H23");
    EXPECT_EQ(d.focusWidget(), d.Edit2);
    for (int i = 0; i < 3; ++i) Type(d.Edit2, Qt::Key_Down);
    EXPECT_EQ(d.CurrentRow(), 3);
    EXPECT_EQ(d.Edit2->y(), 20 + 14 * 3);
    EXPECT_EQ(d.Edit2->text().toStdString(), "M3");
    d.Edit2->selectAll();
    QTest::keyClicks(d.Edit2, QStringLiteral("1R"));
    Type(d.Edit2, Qt::Key_Return);
    EXPECT_EQ(d.CurrentRow(), 4);
    EXPECT_EQ(d.TextLabels[3]->text().toStdString(), "1R");
    EXPECT_EQ(d.Edit2->text().toStdString(), "M4");
    for (int i = 0; i < 6; ++i) Type(d.Edit2, Qt::Key_Up);
    EXPECT_EQ(d.CurrentRow(), 0);
    EXPECT_EQ(d.Edit2->y(), 20);
    QTest::keyClicks(d.Edit2, QStringLiteral("x"));
    QTest::mouseClick(d.AltLabels[7], Qt::LeftButton);  // "Alt 7"
    EXPECT_EQ(d.CurrentRow(), 7);
    EXPECT_EQ(d.Edit2->y(), 20 + 14 * 7);
    EXPECT_EQ(d.Edit2->height(), 15);
    EXPECT_EQ(d.TextLabels[0]->text().toStdString(), "M0x");
    QTest::keyClicks(d.Edit2, QStringLiteral("!"));
    QTest::mouseClick(d.TextLabels[9], Qt::LeftButton);
    EXPECT_EQ(d.CurrentRow(), 9);
    Type(d.Edit2, Qt::Key_Down);
    EXPECT_EQ(d.CurrentRow(), 9);
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  EXPECT_EQ(MacroText[0], "M0x");
  EXPECT_EQ(MacroText[3], "1R");
  EXPECT_EQ(MacroText[7], "M7!");
  EXPECT_EQ(MacroText[9], "M9");
  EXPECT_NE(IniText().find("Alt3 Macro=1R\r\n"), std::string::npos) << IniText();
}

TEST_F(UnitSetupTest, MacroTextsAreWindows1252FromFieldToIniAndLine) {
  TForm1& form = Start();
  MacroText[1] = "\x80\x81\x8D\x8F\x90\x9D\x9F";  // the five unassigned codes among them
  RunUnitSetup(form, [](TMacroForm& d) {
    EXPECT_EQ(d.TextLabels[1]->text(),
              QStringLiteral("\u20AC\u0081\u008D\u008F\u0090\u009D\u0178"));
    d.Edit2->clear();
    QTest::keyClicks(d.Edit2, QStringLiteral("5 "));
    // The test library types ASCII only; a euro key sends its character.
    QKeyEvent euro(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0x20AC)));
    QApplication::sendEvent(d.Edit2, &euro);
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  EXPECT_EQ(MacroText[0], "5 \x80");
  EXPECT_EQ(MacroText[1], "\x80\x81\x8D\x8F\x90\x9D\x9F");
  EXPECT_NE(IniText().find("Alt0 Macro=5 \x80\r\n"), std::string::npos) << IniText();
  EXPECT_NE(IniText().find("Alt1 Macro=\x80\x81\x8D\x8F\x90\x9D\x9F\r\n"), std::string::npos);
  line_->TakeReceived();
  form.SendMacro(0);
  EXPECT_EQ(line_->TakeReceived(), " 5 \x80");
}

TEST_F(UnitSetupTest, LayoutCaptionPlaceAndPresets) {
  TForm1& form = Start();
  form.move(120, 90);
  BaudValue = 4800;  // not offered: the preset 9600 stays
  EmulationIndex = 9;
  RunUnitSetup(form, [&](TMacroForm& d) {
    EXPECT_EQ(d.width(), 420);
    EXPECT_EQ(d.height(), 333);
    EXPECT_EQ(d.windowTitle().toStdString(), " Unit Setup -- " + UnitCaption);
    const QRect main = form.frameGeometry();
    EXPECT_EQ(d.pos(), QPoint(main.left() + (main.width() - 420) / 2,
                              main.top() + (main.height() - 333) / 2));
    EXPECT_EQ(d.Edit1->height(), 20);
    EXPECT_EQ(d.Edit2->width(), 341);
    EXPECT_EQ(d.BaudSelect->ItemIndex(), 3);
    EXPECT_EQ(d.EmuSelect->ItemIndex(), 3);
    EXPECT_EQ(d.KiesEditor->toolTip().toStdString(), "Choose editor");
    EXPECT_EQ(d.Button3->toolTip().toStdString(), "Cancel all changes");
    // No default button: Enter in the editor field leaves the dialog open.
    QTest::keyClick(d.Edit1, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    // Everything lies inside the client area.
    for (const QWidget* child : d.findChildren<QWidget*>()) {
      if (!child->isVisible() || child->parentWidget() != &d) continue;
      EXPECT_TRUE(d.rect().contains(child->geometry())) << child->objectName().toStdString();
    }
  });
}

TEST_F(UnitSetupTest, AbsentComItemsAreDisabledButAStoredOneStaysSelected) {
  TForm1& form = Start();
  PortList = {"COM1", "COM3"};
  const struct {
    int stored;
    int index;
    const char* device;
  } rows[] = {{4, 3, "COM4 = no device"},
              {0, -1, ""},
              {9, -1, "COM9 = no device"},  // beyond the four items: the full choice holds it
              {1, 0, "COM1 = in-memory line"}};
  for (const auto& row : rows) {
    ComPortNumber = row.stored;
    RunUnitSetup(form, [&](TMacroForm& d) {
      EXPECT_TRUE(d.COMSelect->Item(0)->isEnabled());
      EXPECT_FALSE(d.COMSelect->Item(1)->isEnabled());
      EXPECT_TRUE(d.COMSelect->Item(2)->isEnabled());
      EXPECT_FALSE(d.COMSelect->Item(3)->isEnabled());
      EXPECT_EQ(d.COMSelect->ItemIndex(), row.index) << row.stored;
      EXPECT_EQ(d.COMSelect->Item(0)->toolTip().toStdString(), "in-memory line");
      EXPECT_EQ(d.COMSelect->Item(3)->toolTip().toStdString(), "no device");
      EXPECT_EQ(d.PortDevice->text().toStdString(), row.device);
    });
  }
}

TEST_F(UnitSetupTest, EmulationItemsSetTerminalAndIniValue) {
  TForm1& form = Start();
  const struct {
    int item;
    kvel::TTermEmulation emulation;
  } rows[] = {
      {1, kvel::teVT100orANSI}, {3, kvel::teVT100orANSI}, {2, kvel::teVT52}, {0, kvel::teNone}};
  for (const auto& row : rows) {
    form.ComTerminal1->SetEmulation(row.emulation == kvel::teNone ? kvel::teVT52 : kvel::teNone);
    RunUnitSetup(form, [&](TMacroForm& d) {
      QTest::mouseClick(d.EmuSelect->Item(row.item), Qt::LeftButton);
      QTest::mouseClick(d.Button2, Qt::LeftButton);
    });
    EXPECT_EQ(form.ComTerminal1->Emulation(), row.emulation) << row.item;
    EXPECT_EQ(EmulationIndex, row.item);
    EXPECT_NE(IniText().find("Terminal Emulation=" + std::to_string(row.item) + "\r\n"),
              std::string::npos);
  }
}

TEST_F(UnitSetupTest, LogFileChooserAndExtension) {
  TForm1& form = Start();
  std::vector<kvel::FileDialogRequest> asked;
  std::string answer = Folder() + "/trace";
  kvel::SetFileDialogHook([&](const kvel::FileDialogRequest& request) {
    asked.push_back(request);
    return std::optional<std::string>(answer);
  });
  RunUnitSetup(form, [&](TMacroForm& d) {
    QTest::mouseClick(d.KiesLogFile, Qt::LeftButton);
    EXPECT_EQ(d.Edit3->text().toStdString(), answer);
    answer = "/usr/bin/editor";
    QTest::mouseClick(d.KiesEditor, Qt::LeftButton);
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  kvel::SetFileDialogHook({});
  ASSERT_EQ(asked.size(), 2u);
  // The log file need not exist (a new name is taken); the editor must.
  EXPECT_TRUE(asked[0].save);
  EXPECT_FALSE(asked[1].save);
  EXPECT_EQ(asked[0].filter, "terminal log files (*.LOG)|*.LOG");
  EXPECT_EQ(asked[0].defaultExt, "LOG");
  EXPECT_EQ(asked[1].filter, "Text Editor (*.EXE)|*.EXE");
  EXPECT_EQ(asked[1].defaultExt, "EXE");
  EXPECT_EQ(LogFileName, Folder() + "/trace.LOG");
  EXPECT_EQ(EditorPath, "/usr/bin/editor");
  EXPECT_EQ(form.SpeedButton3->toolTip().toStdString(), "Log file = " + LogFileName);
}

// The real chooser: a name that does not exist yet is taken as it is typed, with no
// "File not found." in between.
TEST_F(UnitSetupTest, LogFileChooserTakesANameThatDoesNotExistYet) {
  TForm1& form = Start();
  const std::string fresh = Folder() + "/fresh.LOG";
  std::vector<std::string> refusals;
  RunUnitSetup(form, [&](TMacroForm& d) {
    bool chosen = false;
    WhenShown<QFileDialog>(&chosen, [&](QFileDialog& files) {
      auto* name = files.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (name == nullptr) {
        ADD_FAILURE() << "no file name field";
        files.reject();
        return;
      }
      name->setText(QString::fromStdString(fresh));
      // A chooser for existing files only answers with a message box of its own.
      QTimer refusal;
      QObject::connect(&refusal, &QTimer::timeout, [&refusals] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          refusals.push_back(box->text().toStdString());
          box->reject();
        }
      });
      refusal.start(5);
      static_cast<QDialog&>(files).accept();  // QFileDialog checks the name here
      refusal.stop();
      if (files.isVisible()) files.reject();
    });
    QTest::mouseClick(d.KiesLogFile, Qt::LeftButton);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(d.Edit3->text().toStdString(), fresh);
  });
  EXPECT_TRUE(refusals.empty()) << refusals.front();
  EXPECT_FALSE(std::filesystem::exists(fresh));  // choosing creates nothing
}

// A log file in a folder that does not exist is said at OK; the name stays as typed, and a
// log that was on with the old name is switched off rather than shown on while it loses all.
TEST_F(UnitSetupTest, OkWithALogFileThatCannotBeWrittenSaysWhyAndKeepsTheName) {
  TForm1& form = Start();
  form.SpeedButton3Click();
  ASSERT_EQ(form.SpeedButton3->text().toStdString(), "Log is ON");
  RunUnitSetup(form, [](TMacroForm& d) {
    d.Edit3->setText(QStringLiteral("no/such/trace"));
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  EXPECT_EQ(LogFileName, "no/such/trace.LOG");
  EXPECT_NE(IniText().find("Terminal Log File=no/such/trace.LOG\r\n"), std::string::npos);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Cannot write the terminal log file 'no/such/trace.LOG': the "
                                 "folder 'no/such': No such file or directory\n",
                                 0),
            0u)
      << boxes_[0].text;
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Warning);
  EXPECT_FALSE(form.LogOn);
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is OFF");

  // A name that can be written says nothing.
  boxes_.clear();
  RunUnitSetup(form, [](TMacroForm& d) {
    d.Edit3->setText(QStringLiteral("trace"));
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
  EXPECT_EQ(LogFileName, "trace.LOG");
}

struct UnwritableIniRow {
  const char* name;
  bool folder;  // else a file that cannot be read
  const char* reason;
};

class UnwritableIniAtOkTest : public UnitSetupTest,
                              public ::testing::WithParamInterface<UnwritableIniRow> {};

// OK with a settings file that cannot be written: said as such (path and reason), and the
// chosen port and baud rate, which are in memory and shown, reach the port all the same.
TEST_P(UnwritableIniAtOkTest, SaysItCouldNotWriteAndStillAppliesThePort) {
  const QString ini = QString::fromStdString(IniPathInFolder());
  if (GetParam().folder) {
    ASSERT_TRUE(QDir().mkdir(ini));
  } else {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    WriteIni("[QN4100I]\r\nBaudrate=9600\r\n");
    QFile::setPermissions(ini, QFile::WriteOwner);
  }
  TForm1& form = Start();
  boxes_.clear();  // the warning of the start
  RunUnitSetup(form, [](TMacroForm& d) {
    QTest::mouseClick(d.BaudSelect->Item(4), Qt::LeftButton);  // 19200
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  if (!GetParam().folder) QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Cannot write the INI file '" + IniPathInFolder() + "': ", 0), 0u)
      << boxes_[0].text;
  EXPECT_NE(boxes_[0].text.find(GetParam().reason), std::string::npos) << boxes_[0].text;
  EXPECT_EQ(BaudValue, 19200);
  EXPECT_TRUE(form.ComPort1.Connected());
  EXPECT_EQ(line_->LastDcb().baudRate, 19200u);
  EXPECT_EQ(Panel(0), " COM1 19200 8 None 1");
  EXPECT_TRUE(form.isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Faults, UnwritableIniAtOkTest,
                         ::testing::Values(UnwritableIniRow{"AFolder", true, "Is a directory"},
                                           UnwritableIniRow{"Unreadable", false,
                                                            "Permission denied"}),
                         [](const ::testing::TestParamInfo<UnwritableIniRow>& row) {
                           return std::string(row.param.name);
                         });

TEST(LogFileNameTest, ExtensionAppendedOnlyWhenMissing) {
  const std::pair<const char*, const char*> rows[] = {{"KVEL", "KVEL.LOG"},
                                                      {"trace.txt", "trace.txt"},
                                                      {"dir.d/name", "dir.d/name.LOG"},
                                                      {"/tmp/a.b/c.log", "/tmp/a.b/c.log"},
                                                      {"name.", "name."},
                                                      {"", ".LOG"}};
  for (const auto& [given, stored] : rows) EXPECT_EQ(LogFileNameWithExtension(given), stored);
}

TEST_F(UnitSetupTest, OkWithoutChangesRewritesTheSectionAndReopensThePort) {
  TForm1& form = Start();
  kvel::IniFile(IniPathInFolder()).WriteString(ConfigSection, "COMPort", "01");
  int opens = 0;
  form.ComPort1.OnAfterOpen = [&opens](TCustomComPort&) { ++opens; };
  RunUnitSetup(form, [](TMacroForm& d) { QTest::keyClick(d.Button2, Qt::Key_Space); });
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(form.ComPort1.Connected());
  EXPECT_NE(IniText().find("COMPort=1\r\n"), std::string::npos) << IniText();
  EXPECT_EQ(Panel(0), " COM1 9600 8 None 1");
}

TEST_F(UnitSetupTest, CancelLeavesConfigurationAndIniFileUntouched) {
  TForm1& form = Start();
  form.WriteConfig();
  const std::string before = IniText();
  ASSERT_FALSE(before.empty());
  const auto macros = MacroText;
  int opens = 0;
  form.ComPort1.OnAfterOpen = [&opens](TCustomComPort&) { ++opens; };
  RunUnitSetup(form, [](TMacroForm& d) {
    QTest::keyClicks(d.Edit2, QStringLiteral("changed"));
    Type(d.Edit2, Qt::Key_Return);
    QTest::mouseClick(d.BaudSelect->Item(5), Qt::LeftButton);
    d.Edit3->setText(QStringLiteral("other"));
    Type(d.Edit2, Qt::Key_Escape);
  });
  EXPECT_EQ(IniText(), before);
  EXPECT_EQ(MacroText, macros);
  EXPECT_EQ(BaudValue, 9600);
  EXPECT_EQ(LogFileName, "KVEL.LOG");
  EXPECT_EQ(opens, 0);
}

TEST_F(UnitSetupTest, NoComItemStoresPortZeroAndReportsTheOpenFailure) {
  TForm1& form = Start();
  ComPortNumber = 0;
  RunUnitSetup(form, [](TMacroForm& d) {
    EXPECT_EQ(d.COMSelect->ItemIndex(), -1);
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
  EXPECT_NE(IniText().find("COMPort=0\r\n"), std::string::npos);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Unable to open com port", 0), 0u) << boxes_[0].text;
  EXPECT_FALSE(form.ComPort1.Connected());
  EXPECT_TRUE(form.isEnabled());
}

// ---- terminal setup from the main window --------------------------------------------------

TEST_F(AppTest, TerminalSetupSetsEmulationIndex) {
  TForm1& form = Start();
  const struct {
    const char* item;
    int index;
  } rows[] = {{"ANSI/VT100", 3}, {"VT52", 2}, {"None", 0}};
  for (const auto& row : rows) {
    bool ran = false;
    WhenShown<kvel::TComTrmSetForm>(&ran, [&](kvel::TComTrmSetForm& d) {
      Pick(d.ComboBox2, row.item);
      QTest::mouseClick(d.Button1, Qt::LeftButton);
    });
    form.Terminal1->trigger();
    EXPECT_TRUE(ran);
    EXPECT_EQ(EmulationIndex, row.index) << row.item;
  }
  // Reaches the INI file only with the next save.
  EXPECT_EQ(IniText().find("Terminal Emulation=0"), std::string::npos);
  form.WriteConfig();
  EXPECT_NE(IniText().find("Terminal Emulation=0\r\n"), std::string::npos);
}

// ---- port setup from the main window ------------------------------------------------------

TEST_F(AppTest, PortSetupReopensWithNewSettingsAndUpdatesStatusAndBaudValue) {
  TForm1& form = Start();
  ASSERT_TRUE(form.ComPort1.Connected());
  bool ran = false;
  WhenShown<TComSetupFrm>(&ran, [&](TComSetupFrm& d) {
    EXPECT_FALSE(form.ComPort1.Connected());  // closed while the dialog is up
    EXPECT_EQ(d.Combo1->Text(), "COM1");
    Pick(d.Combo2, "19200");
    Pick(d.Combo5, "Even");
    QTest::keyClick(d.Combo6, Qt::Key_Return);  // the default button
  });
  Activate(form);
  QTest::keyClick(form.ComTerminal1, Qt::Key_F2);
  ASSERT_TRUE(ran);
  EXPECT_TRUE(form.ComPort1.Connected());
  EXPECT_EQ(line_->LastDcb().baudRate, 19200u);
  EXPECT_EQ(line_->LastDcb().parity, 2u);
  EXPECT_EQ(Panel(0), " COM1 19200 8 Even 1");
  EXPECT_EQ(BaudValue, 19200);
  // The port name and the data format are not stored; the next save writes the baud rate.
  form.WriteConfig();
  EXPECT_NE(IniText().find("Baudrate=19200\r\n"), std::string::npos);
  EXPECT_EQ(form.ComPort1.Parity().Bits(), prEven);
}

TEST_F(AppTest, PortSetupOnAClosedPortOpensItOnlyDuringTheDialog) {
  TForm1& form = Start();
  form.ComPort1.ClosePort();
  bool ran = false;
  WhenShown<TComSetupFrm>(&ran, [&](TComSetupFrm& d) {
    EXPECT_TRUE(form.ComPort1.Connected());
    d.reject();
  });
  form.SetCom1Click();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(form.ComPort1.Connected());
  // Panel 0 shows settings only for an open port.
  EXPECT_EQ(Panel(0), " COM1 closed");
}

TEST_F(AppTest, PortSetupWithCustomBaudRateKeepsBaudValueAndSaysSo) {
  TForm1& form = Start();
  bool ran = false;
  WhenShown<TComSetupFrm>(&ran, [&](TComSetupFrm& d) {
    Pick(d.Combo2, "Custom");
    d.accept();
  });
  form.SetCom1->trigger();
  EXPECT_TRUE(ran);
  EXPECT_EQ(BaudValue, 9600);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "'Custom' is not a valid integer value");
  EXPECT_EQ(Panel(0), " COM1 Custom 8 None 1");
}

TEST_F(AppTest, PortSetupThatCannotOpenThePortShowsNoDialog) {
  TForm1& form = Start();
  form.ComPort1.ClosePort();
  kvel::UnregisterMemoryLine("COM1");
  form.ComPort1.SetPort("COM0");
  bool ran = false;
  WhenShown<TComSetupFrm>(&ran, [](TComSetupFrm& d) { d.reject(); });
  form.SetCom1->trigger();
  QTest::qWait(20);
  EXPECT_FALSE(ran);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Unable to open com port", 0), 0u);
}

}  // namespace
