#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <regex>
#include <sstream>

#include "AppTestSupport.h"
#include "KVEL_Var.h"
#include "terminal/CPortCtl.h"
#include "ui/IniFile.h"

namespace {

std::string Tail(const std::vector<std::string>& lines, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < lines.size(); ++i) text += lines[i] + "|";
  return text;
}

std::string Join(const std::vector<std::string>& lines) {
  return Tail(lines, 0);
}

std::string ScreenText(const kvel::TComTerminal& terminal) {
  std::ostringstream out;
  terminal.WriteScreenText(out);
  return out.str();
}

using MainWindowTest = AppTest;

TEST_F(MainWindowTest, StartWithoutIniUsesEveryDefaultAndWritesNoIni) {
  TForm1& form = Start();
  EXPECT_EQ(UnitType, 4);
  EXPECT_EQ(ComPortNumber, 1);
  EXPECT_EQ(BaudValue, 9600);
  for (std::size_t n = 0; n < MacroText.size(); ++n)
    EXPECT_EQ(MacroText[n], "Alt" + std::to_string(n));
  EXPECT_EQ(RepeatDelay, 1000);
  EXPECT_EQ(EmulationIndex, 1);
  EXPECT_EQ(EditorPath, " Choose editor");
  EXPECT_EQ(LogFileName, "KVEL.LOG");
  EXPECT_EQ(SelectedUnit, 100);
  EXPECT_EQ(IniPath, IniPathInFolder());

  EXPECT_EQ(Caption(), " KVEL      QN4100I");
  EXPECT_EQ(Panel(0), " COM1 9600 8 None 1");
  EXPECT_EQ(Panel(1), " EXT PGM");
  EXPECT_TRUE(std::regex_match(Panel(2), std::regex("COM Ports: (\\S+ )*"))) << Panel(2);
  EXPECT_NE(ScreenText(*form.ComTerminal1).find("COM Ports:"), std::string::npos);
  EXPECT_TRUE(form.QN4100I1->isChecked());
  EXPECT_TRUE(form.IOButton2->isEnabled());
  EXPECT_TRUE(form.SpeedButton1->isEnabled());
  EXPECT_EQ(form.SpeedButton3->toolTip().toStdString(), "Log file = KVEL.LOG");
  EXPECT_TRUE(line_->IsOpen());
  EXPECT_EQ(line_->LastDcb().baudRate, 9600u);
  EXPECT_EQ(line_->InputSize(), 2048u);
  EXPECT_TRUE(form.ComTerminal1->LocalEcho());
  EXPECT_TRUE(form.ComTerminal1->WrapLines());
  EXPECT_EQ(form.ComTerminal1->Emulation(), kvel::teVT100orANSI);  // "Terminal Emulation" 1
  EXPECT_EQ(form.ComTerminal1->CursorRow(), form.ComTerminal1->Rows());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(IniExists());
}

TEST_F(MainWindowTest, PortIsConfiguredWithoutHandshake) {
  Start();
  const kvel::Dcb dcb = line_->LastDcb();
  EXPECT_EQ(dcb.byteSize, 8);
  EXPECT_EQ(dcb.parity, 0);
  EXPECT_EQ(dcb.stopBits, 0);
  EXPECT_EQ(dcb.flags & (kvel::kDcbOutxCtsFlow | kvel::kDcbOutxDsrFlow | kvel::kDcbOutX |
                         kvel::kDcbInX | kvel::kDcbDtrControlMask | kvel::kDcbRtsControlMask),
            0u);
  EXPECT_EQ(form_->ComPort1.Events(), kAllComEvents);
  EXPECT_EQ(form_->ComPort1.Name(), "ComPort1");  // the section its stored settings go in
}

TEST_F(MainWindowTest, StartAndCloseWriteTheDiagnosticLinesInOrder) {
  Start();
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 2u + kStartLines.size());
  EXPECT_EQ(lines[0], " ");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex("KVEL Startup : \\S+ \\S+.*"))) << lines[1];
  EXPECT_EQ(Tail(lines, 2), Join(kStartLines));

  form_->MUXMU1->trigger();
  lines = LogLines();
  EXPECT_EQ(Tail(lines, 2 + kStartLines.size()), Join(kUnitTypeLines));

  const std::size_t before = lines.size();
  form_->close();
  lines = LogLines();
  ASSERT_EQ(lines.size(), before + 2);
  EXPECT_TRUE(std::regex_match(lines[before], std::regex("KVEL closing : \\S+ \\S+.*")))
      << lines[before];
  EXPECT_EQ(lines[before + 1], " ");
}

TEST_F(MainWindowTest, ErrorLogOnlyGrows) {
  DiagLog("error.log", "earlier run", true);
  Start();
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "earlier run");
  EXPECT_EQ(lines[1], " ");
}

struct UnitRow {
  int type;
  const char* section;
  const char* caption;  // after " KVEL    "
  const char* panel1;
  const char* checkedItem;  // nullptr: none
  bool ioTest;
  bool parameters;
};

class PreparedIniTest : public AppTest, public ::testing::WithParamInterface<UnitRow> {};

TEST_P(PreparedIniTest, LoadsTheSectionOfTheStoredUnitType) {
  const UnitRow& row = GetParam();
  WriteIni("[MainSection]\r\nControl Type =" + std::to_string(row.type) + "\r\n[" + row.section +
           "]\r\nCOMPort=1\r\nBaudrate=19200\r\nAlt3 Macro=H23CR\r\nRepeat delay=250\r\n"
           "Terminal Emulation=3\r\nEditor=/usr/bin/vi\r\nTerminal Log File=T.LOG\r\n");
  TForm1& form = Start();
  EXPECT_EQ(UnitType, row.type);
  EXPECT_EQ(ConfigSection, row.section);
  EXPECT_EQ(BaudValue, 19200);
  EXPECT_EQ(MacroText[3], "H23CR");
  EXPECT_EQ(MacroText[4], "Alt4");
  EXPECT_EQ(RepeatDelay, 250);
  EXPECT_EQ(EmulationIndex, 3);
  EXPECT_EQ(EditorPath, "/usr/bin/vi");
  EXPECT_EQ(LogFileName, "T.LOG");
  EXPECT_EQ(form.SpeedButton3->toolTip().toStdString(), "Log file = T.LOG");
  EXPECT_EQ(Caption(), std::string(" KVEL    ") + row.caption);
  EXPECT_EQ(Panel(0), " COM1 19200 8 None 1");
  EXPECT_EQ(Panel(1), row.panel1);
  EXPECT_EQ(line_->LastDcb().baudRate, 19200u);
  EXPECT_EQ(form.IOButton2->isEnabled(), row.ioTest);
  EXPECT_EQ(form.SpeedButton1->isEnabled(), row.parameters);
  for (QAction* item : form.UnitSelect1->actions()) {
    const bool expected =
        row.checkedItem != nullptr && item->objectName() == QLatin1String(row.checkedItem);
    EXPECT_EQ(item->isChecked(), expected) << item->objectName().toStdString();
  }
  EXPECT_TRUE(boxes_.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryUnitType, PreparedIniTest,
    ::testing::Values(
        UnitRow{1, "KQB1/RQM1", "  KQB1 / RQM1", " EXT PRG", "RQMKQB11", false, false},
        UnitRow{2, "KQB2/RQM2", "  KQB2 / RQM2", " EXT PRG", "RQMKQB21", false, false},
        UnitRow{3, "HLVX", "  HLVX", " EXT SC", "HLVX1", false, false},
        UnitRow{4, "QN4100I", "  QN4100I", " EXT PGM", "QN4100I1", true, true},
        UnitRow{5, "MU/XMUIndexers", "  MU / XMU Indexers", " EXT PGM", "MUXMU1", true, true},
        UnitRow{6, "GRV", "  GRV", " EXT DMC", "GRV1", true, false},
        UnitRow{7, "Zorvdrive", "  Zorvdrive", " EXT DMC", "ZorvDrive1", true, false},
        UnitRow{8, "Ostrav24Emulator", "  Ostrav 24 Emulator", " EXT    ", nullptr, false, false},
        // Unknown types check nothing and keep caption, extension and "I / O Test" as they were.
        UnitRow{9, "", "", " EXT ", nullptr, true, false},
        UnitRow{0, "", "", " EXT ", nullptr, true, false}));

TEST_F(MainWindowTest, ControlTypeKeyKeepsItsTrailingBlank) {
  WriteIni("[MainSection]\r\nControl Type=6\r\n");
  Start();
  EXPECT_EQ(UnitType, 4);
}

// The emulation stored for the unit type used to be in force only after the unit setup was
// confirmed again; the terminal also answers nothing, being bound to no port.
TEST_F(MainWindowTest, TheStoredEmulationIsInForceFromTheStartAndAnswersNoQueries) {
  const std::pair<int, kvel::TTermEmulation> rows[] = {
      {0, kvel::teNone}, {1, kvel::teVT100orANSI}, {2, kvel::teVT52}, {3, kvel::teVT100orANSI}};
  for (const auto& [index, emulation] : rows) {
    WriteIni("[QN4100I]\r\nTerminal Emulation=" + std::to_string(index) + "\r\n");
    TForm1& form = Start();
    EXPECT_EQ(form.ComTerminal1->Emulation(), emulation) << index;
    EXPECT_EQ(form.ComTerminal1->ComPort(), nullptr);
    line_->TakeReceived();
    form.DisplayText("\033[6n\033[5n\033[c\033Z");
    EXPECT_EQ(line_->TakeReceived(), "") << index;
  }
}

// What the terminal makes of "ab", ESC D, "c": VT52 moves left (a c), VT100 goes down a row
// (ab, then c below the b), without one the ESC is dropped and its letter shows.
std::string AfterEscD(kvel::TComTerminal& terminal) {
  terminal.ClearScreen();
  terminal.PutText("ab\033Dc");
  return ScreenText(terminal);
}

// Each unit type keeps its own emulation: selecting a type brings it into force at once,
// as the first show does, not only after the unit setup is confirmed again.
TEST_F(MainWindowTest, ChangingTheUnitTypeAppliesThatTypesEmulation) {
  WriteIni(
      "[QN4100I]\r\nTerminal Emulation=0\r\n[GRV]\r\nTerminal Emulation=2\r\n"
      "[KQB2/RQM2]\r\nTerminal Emulation=3\r\n[Zorvdrive]\r\nTerminal Emulation=1\r\n"
      "[MU/XMUIndexers]\r\nTerminal Emulation=7\r\n");
  TForm1& form = Start();
  kvel::TComTerminal& terminal = *form.ComTerminal1;
  EXPECT_EQ(terminal.Emulation(), kvel::teNone);
  EXPECT_EQ(AfterEscD(terminal), "abDc");

  form.GRV1->trigger();
  EXPECT_EQ(terminal.Emulation(), kvel::teVT52);
  EXPECT_EQ(AfterEscD(terminal), "ac");

  form.QN4100I1->trigger();
  EXPECT_EQ(terminal.Emulation(), kvel::teNone);

  form.RQMKQB21->trigger();  // VT100
  EXPECT_EQ(terminal.Emulation(), kvel::teVT100orANSI);
  EXPECT_EQ(AfterEscD(terminal), "ab\r\n  c");

  form.GRV1->trigger();
  form.ZorvDrive1->trigger();  // ANSI
  EXPECT_EQ(terminal.Emulation(), kvel::teVT100orANSI);

  form.GRV1->trigger();
  form.RQMKQB11->trigger();  // no section: the default index 1, ANSI
  EXPECT_EQ(EmulationIndex, 1);
  EXPECT_EQ(terminal.Emulation(), kvel::teVT100orANSI);

  form.GRV1->trigger();
  form.MUXMU1->trigger();  // an index out of range leaves the emulation as it was
  EXPECT_EQ(EmulationIndex, 7);
  EXPECT_EQ(terminal.Emulation(), kvel::teVT52);
  EXPECT_TRUE(boxes_.empty());
}

// The emulation is applied before the port is opened again, so a port that cannot be opened
// does not leave the previous type's emulation on the terminal.
TEST_F(MainWindowTest, AUnitTypeWhosePortCannotBeOpenedStillGetsItsEmulation) {
  std::unique_ptr<kvel::SerialDevice> other;
  ASSERT_EQ(line_->Open(&other), 0);  // another program holds the line
  WriteIni("[QN4100I]\r\nTerminal Emulation=3\r\n[GRV]\r\nTerminal Emulation=2\r\n");
  TForm1& form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(form.ComTerminal1->Emulation(), kvel::teVT100orANSI);
  form.GRV1->trigger();
  EXPECT_EQ(boxes_.size(), 2u);
  EXPECT_FALSE(form.ComPort1.Connected());
  EXPECT_EQ(form.ComTerminal1->Emulation(), kvel::teVT52);
}

TEST_F(MainWindowTest, SwitchingUnitTypesLoadsEachOwnSectionAndOverwritesAllValues) {
  WriteIni(
      "[QN4100I]\r\nBaudrate=4800\r\nAlt0 Macro=Q\r\nRepeat delay=11\r\nTerminal Emulation=0\r\n"
      "Editor=qed\r\nTerminal Log File=Q.LOG\r\n"
      "[GRV]\r\nBaudrate=19200\r\nAlt0 Macro=G\r\nRepeat delay=22\r\nTerminal Emulation=2\r\n"
      "Editor=ged\r\nTerminal Log File=G.LOG\r\n");
  TForm1& form = Start();
  EXPECT_EQ(MacroText[0], "Q");
  EXPECT_EQ(Panel(0), " COM1 4800 8 None 1");

  form.SpeedButton1Click();  // the grid is shown; a unit-type change brings the terminal back
  ASSERT_TRUE(form.ParamView);
  form.GRV1->trigger();
  EXPECT_FALSE(form.ParamView);
  EXPECT_FALSE(form.ComTerminal1->isHidden());
  EXPECT_EQ(UnitType, 6);
  EXPECT_EQ(BaudValue, 19200);
  EXPECT_EQ(MacroText[0], "G");
  EXPECT_EQ(RepeatDelay, 22);
  EXPECT_EQ(EmulationIndex, 2);
  EXPECT_EQ(EditorPath, "ged");
  EXPECT_EQ(LogFileName, "G.LOG");
  EXPECT_EQ(Panel(0), " COM1 19200 8 None 1");
  EXPECT_EQ(Caption(), " KVEL      GRV");
  EXPECT_TRUE(form.GRV1->isChecked());
  EXPECT_FALSE(form.QN4100I1->isChecked());

  // A type without a section gets every default back.
  form.RQMKQB11->trigger();
  EXPECT_EQ(UnitType, 1);
  EXPECT_EQ(BaudValue, 9600);
  EXPECT_EQ(MacroText[0], "Alt0");
  EXPECT_EQ(RepeatDelay, 1000);
  EXPECT_EQ(EmulationIndex, 1);
  EXPECT_EQ(EditorPath, " Choose editor");
  EXPECT_EQ(LogFileName, "KVEL.LOG");
  EXPECT_FALSE(form.IOButton2->isEnabled());
  EXPECT_FALSE(form.SpeedButton1->isEnabled());

  form.QN4100I1->trigger();
  EXPECT_EQ(MacroText[0], "Q");
  EXPECT_EQ(line_->LastDcb().baudRate, 4800u);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(IniText().find("KQB1") != std::string::npos) << "a switch stores nothing";
}

struct BadKeyRow {
  const char* key;
  int baudValue;  // values after the start
  std::uint16_t repeatDelay;
  int emulationIndex;
};

class BadIntegerTest : public AppTest, public ::testing::WithParamInterface<BadKeyRow> {};

// A bad number costs only itself: every other key of the section is read, the unit type is
// applied, and the close writes no other unit type's values over the section.
TEST_P(BadIntegerTest, CostsOnlyItsOwnKey) {
  const BadKeyRow& row = GetParam();
  std::string ini =
      "[MainSection]\r\nControl Type =5\r\n"
      "[MU/XMUIndexers]\r\nBaudrate=19200\r\nAlt1 Macro=OTHER\r\nRepeat delay=500\r\n"
      "Terminal Emulation=2\r\n[QN4100I]\r\n";
  const std::vector<std::pair<std::string, std::string>> values{
      {"COMPort", "1"},        {"Baudrate", "38400"},       {"Alt1 Macro", "MINE"},
      {"Repeat delay", "250"}, {"Terminal Emulation", "3"}, {"Terminal Log File", "T.LOG"}};
  for (const auto& [key, value] : values) {
    ini += key + "=" + (key == row.key ? std::string("1x") : value) + "\r\n";
  }
  WriteIni(ini);
  TForm1& form = Start();
  ASSERT_TRUE(boxes_.empty());
  form.QN4100I1->trigger();

  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("'1x' is not a valid integer value\n", 0), 0u) << boxes_[0].text;
  EXPECT_NE(boxes_[0].text.find("\"" + std::string(row.key) + "\" in section [QN4100I]"),
            std::string::npos)
      << boxes_[0].text;
  EXPECT_EQ(boxes_[0].caption, "KVEL");
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Error);
  EXPECT_EQ(ComPortNumber, 1);
  EXPECT_EQ(BaudValue, row.baudValue);
  EXPECT_EQ(MacroText[1], "MINE");
  EXPECT_EQ(RepeatDelay, row.repeatDelay);
  EXPECT_EQ(EmulationIndex, row.emulationIndex);
  EXPECT_EQ(LogFileName, "T.LOG");
  EXPECT_TRUE(line_->IsOpen());
  EXPECT_EQ(Caption(), " KVEL      QN4100I");
  EXPECT_EQ(LogLines().back(), "comport updated, end of INI file");

  form.close();
  const std::string text = IniText();
  const std::string section = text.substr(text.find("[QN4100I]"));
  EXPECT_NE(section.find("Baudrate=" + std::to_string(row.baudValue) + "\r\n"), std::string::npos)
      << section;
  EXPECT_NE(section.find("Alt1 Macro=MINE\r\n"), std::string::npos) << section;
  EXPECT_EQ(section.find("19200"), std::string::npos) << section;
  EXPECT_EQ(section.find("OTHER"), std::string::npos) << section;
}

INSTANTIATE_TEST_SUITE_P(EveryIntegerKey, BadIntegerTest,
                         ::testing::Values(BadKeyRow{"COMPort", 38400, 250, 3},
                                           BadKeyRow{"Baudrate", 9600, 250, 3},
                                           BadKeyRow{"Repeat delay", 38400, 1000, 3},
                                           BadKeyRow{"Terminal Emulation", 38400, 250, 1}));

TEST_F(MainWindowTest, BadControlTypeLeavesNoUnitTypeAndNoSelectedUnit) {
  WriteIni("[MainSection]\r\nControl Type =x4\r\n");
  TForm1& form = Start();
  ASSERT_GE(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "'x4' is not a valid integer value");
  EXPECT_EQ(UnitType, 0);
  EXPECT_EQ(SelectedUnit, 100);
  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "form create end"), 0);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "form show end"), 1);
  // The program stays usable: a unit type can be chosen.
  form.MUXMU1->trigger();
  EXPECT_EQ(Caption(), " KVEL      MU / XMU Indexers");
}

TEST_F(MainWindowTest, PortThatCannotBeOpenedIsShownAndTheProgramStaysUsable) {
  std::unique_ptr<kvel::SerialDevice> other;
  ASSERT_EQ(line_->Open(&other), 0);  // another program holds the line
  WriteIni("[QN4100I]\r\nBaudrate=19200\r\n");
  TForm1& form = Start();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Unable to open com port", 0), 0u) << boxes_[0].text;
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Error);
  EXPECT_FALSE(form.ComPort1.Connected());
  // Panel 0 says what the port is; the unit type is applied all the same.
  EXPECT_EQ(Panel(0), " COM1 closed: busy");
  EXPECT_EQ(Caption(), " KVEL      QN4100I");
  EXPECT_EQ(Panel(1), " EXT PGM");

  other.reset();
  form.QN4100I1->trigger();
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(form.ComPort1.Connected());
  EXPECT_EQ(Panel(0), " COM1 19200 8 None 1");
  EXPECT_EQ(Caption(), " KVEL      QN4100I");
}

TEST_F(MainWindowTest, CloseStoresTheSectionAndTheUnitType) {
  TForm1& form = Start();
  form.GRV1->trigger();
  BaudValue = 38400;
  RepeatDelay = 65535;
  MacroText[7] = "ESCREV";
  EXPECT_FALSE(IniExists());
  form.close();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_EQ(RunFlag, 0);

  const std::string text = IniText();
  EXPECT_NE(text.find("[MainSection]"), std::string::npos);
  EXPECT_NE(text.find("Control Type =6"), std::string::npos) << text;
  EXPECT_NE(text.find("[GRV]"), std::string::npos);
  EXPECT_EQ(text.find("[QN4100I]"), std::string::npos);
  const kvel::IniFile ini(IniPathInFolder());
  const std::vector<std::pair<std::string, std::string>> expected{
      {"COMPort", "1"},
      {"Baudrate", "38400"},
      {"Alt0 Macro", "Alt0"},
      {"Alt7 Macro", "ESCREV"},
      {"Repeat delay", "65535"},
      {"Terminal Emulation", "1"},
      {"Editor", " Choose editor"},
      {"Terminal Log File", "KVEL.LOG"}};
  for (const auto& [key, value] : expected) {
    EXPECT_EQ(ini.ReadString("GRV", key, "<missing>"), value) << key;
  }
}

TEST_F(MainWindowTest, CloseCompletesWhenThePortNoLongerOpens) {
  auto second = std::make_shared<kvel::MemoryLine>([this] { return clock_.NowMs(); });
  kvel::RegisterMemoryLine("COM2", second);
  std::unique_ptr<kvel::SerialDevice> other;
  ASSERT_EQ(second->Open(&other), 0);
  TForm1& form = Start();
  ComPortNumber = 2;  // as the unit setup would leave it
  std::string iniWhenShown;
  onBox_ = [&](const kvel::MessageBoxRequest&) { iniWhenShown = IniText(); };
  form.close();
  kvel::UnregisterMemoryLine("COM2");

  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Unable to open com port", 0), 0u) << boxes_[0].text;
  // The error is shown after everything has been stored.
  EXPECT_NE(iniWhenShown.find("Control Type =4"), std::string::npos) << iniWhenShown;
  EXPECT_NE(iniWhenShown.find("COMPort=2"), std::string::npos);
  EXPECT_TRUE(form.isHidden());
  EXPECT_TRUE(std::regex_match(LogLines().rbegin()[1], std::regex("KVEL closing : .*")));
}

TEST_F(MainWindowTest, ExitAsksFirstAndCancelKeepsRunning) {
  TForm1& form = Start();
  answer_ = kvel::MsgResult::Cancel;
  form.Exit1->trigger();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "You want really stop this program ?");
  EXPECT_EQ(boxes_[0].caption, "Stop this program");
  EXPECT_EQ(boxes_[0].icon, kvel::MsgIcon::Question);
  EXPECT_EQ(boxes_[0].buttons, kvel::MsgButtons::OkCancel);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(line_->IsOpen());
  EXPECT_FALSE(IniExists());

  answer_ = kvel::MsgResult::Ok;
  RunFlag = 1;
  clock_.ClearCalls();
  form.Exit1->trigger();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(RunFlag, 0);
  EXPECT_EQ(clock_.Calls(), std::vector<int>{50});
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_NE(IniText().find("Control Type =4"), std::string::npos);
}

}  // namespace

// The window appears before the show steps (their 100 ms wait and the port's opening) run;
// a close that comes before the first paint still stores the configuration that was loaded.
TEST_F(MainWindowTest, ShowStepsFollowTheFirstPaintAndAnEarlyCloseRunsThemFirst) {
  WriteIni(
      "[MainSection]\r\nControl Type =5\r\n[MU/XMUIndexers]\r\nCOMPort=1\r\nBaudrate=38400\r\n");
  form_ = std::make_unique<TForm1>();
  form_->Timer1->stop();
  form_->show();
  EXPECT_FALSE(form_->FormShowDone());
  EXPECT_FALSE(form_->ComPort1.Connected());
  form_->close();
  EXPECT_TRUE(form_->FormShowDone());
  EXPECT_NE(IniText().find("Baudrate=38400"), std::string::npos) << IniText();

  form_ = std::make_unique<TForm1>();
  form_->Timer1->stop();
  form_->show();
  ASSERT_TRUE(QTest::qWaitFor([this] { return form_->FormShowDone(); }, 5000));
  EXPECT_TRUE(form_->ComPort1.Connected());
  EXPECT_EQ(BaudValue, 38400);
}
