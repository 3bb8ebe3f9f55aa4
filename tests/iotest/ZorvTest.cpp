#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <clocale>
#include <cstdlib>
#include <iostream>

#include "DopjeNew.h"
#include "Drive.h"
#include "Gauges.h"
#include "IoTestSupport.h"
#include "KVEL_Var.h"
#include "ZorvIOTest.h"
#include "ui/Dialogs.h"
#include "ui/HelpViewer.h"

namespace {

using kvel::sim::Drive;

const QColor kYellow(255, 255, 0);
const QColor kMaroon(128, 0, 0);

std::vector<std::string> Commands(const std::vector<Sent>& sent) {
  std::vector<std::string> commands;
  for (const Sent& s : sent) commands.push_back(s.bytes);
  return commands;
}

std::vector<std::string> Queries(int first, int last) {
  std::vector<std::string> queries;
  for (int n = first; n <= last; ++n) queries.push_back("IN(" + std::to_string(n) + ")\r");
  return queries;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// The drive test window of unit type 6 or 7, shown against a simulated drive.
class ZorvTest : public ::testing::Test {
 protected:
  void Open(int unitType, const std::string& statements) {
    form_.reset();
    rig_.reset();
    hooked_ = false;
    rig_ = std::make_unique<IoRig>(statements);
    UnitType = unitType;
    form_ = std::make_unique<TZorvIOForm>(rig_->host);
    form_->show();
  }
  Drive& TheDrive() { return rig_->UnitAt<Drive>(0); }
  std::string Text(const QLabel* label) const { return label->text().toStdString(); }
  // Starts the loop; `stop` runs at every message step and returns true when the operator
  // presses Stop. The loop is stopped anyway after a minute of virtual time.
  void RunUntil(std::function<bool()> stop) {
    pressed_ = false;
    stop_ = std::move(stop);
    limit_ = rig_->clock.NowMs() + 60'000;
    if (!hooked_) {
      hooked_ = true;
      rig_->clock.AddMessageHook([this] {
        if (pressed_ || !stop_ || !form_->Running) return;
        if (stop_() || rig_->clock.NowMs() > limit_) {
          pressed_ = true;
          form_->Button2->click();
        }
      });
    }
    form_->Button2->click();
    stop_ = nullptr;
    ASSERT_TRUE(pressed_);
    ASSERT_LT(rig_->clock.NowMs(), limit_ + 5000);
  }
  int Count(const std::string& what) {
    const std::string all = rig_->AllBytes();
    int n = 0;
    for (std::size_t at = all.find(what); at != std::string::npos; at = all.find(what, at + 1)) {
      ++n;
    }
    return n;
  }

  std::unique_ptr<IoRig> rig_;
  std::unique_ptr<TZorvIOForm> form_;
  std::function<bool()> stop_;
  std::int64_t limit_ = 0;
  bool pressed_ = false;
  bool hooked_ = false;
};

TEST_F(ZorvTest, GrvOpeningAppliesItsLayoutAndReadsTheOutputs) {
  Open(6, "drive grv outputs=100001");
  EXPECT_EQ(form_->windowTitle().toStdString(), " GRV I/O Test ");
  EXPECT_EQ(form_->InputCount, 19);
  EXPECT_EQ(form_->OutputCount, 8);
  EXPECT_TRUE(form_->IN[8]->isVisible());
  EXPECT_TRUE(form_->IN[9]->isVisible());
  EXPECT_EQ(form_->OptoIn->width(), 212);
  EXPECT_FALSE(form_->OUT[2]->isVisibleTo(form_.get()));
  EXPECT_FALSE(form_->OUT[3]->isVisibleTo(form_.get()));
  EXPECT_FALSE(form_->ENC2->isHidden());
  EXPECT_TRUE(form_->AnalogOut->isEnabled());
  EXPECT_EQ(form_->BCDOutNumbers->text().toStdString(), "3    4    5    6");
  EXPECT_EQ(form_->BCDInNumbers->text().toStdString(), "11   12  13   14   15  16   17   18");
  // Boxes 5 ... 8 are outputs 3 ... 6 of a GRV.
  EXPECT_EQ(rig_->TakeSent(), (std::vector<Sent>{{0, "\r"},
                                                 {20, "out(1)\r"},
                                                 {70, "out(2)\r"},
                                                 {120, "out(3)\r"},
                                                 {170, "out(4)\r"},
                                                 {220, "out(3)\r"},
                                                 {270, "out(4)\r"},
                                                 {320, "out(5)\r"},
                                                 {370, "out(6)\r"}}));
  std::string ticked;
  for (QCheckBox* box : form_->OUT) ticked += box->isChecked() ? '1' : '0';
  EXPECT_EQ(ticked, "10000001");
  for (TDopjeNew* lamp : form_->IN) {
    EXPECT_EQ(lamp->PinShape(), TPinShape::Circle);
    EXPECT_EQ(lamp->BackColor(), kMaroon);
  }
  EXPECT_EQ(Text(form_->Label2), " +0000000 ");
  EXPECT_TRUE(form_->BCDswitch->isVisible());
  for (QWidget* page :
       {static_cast<QWidget*>(form_->BCDBox), static_cast<QWidget*>(form_->BCDOut),
        static_cast<QWidget*>(form_->AnalogIn), static_cast<QWidget*>(form_->AnalogOut),
        static_cast<QWidget*>(form_->encoderbox)}) {
    EXPECT_FALSE(page->isVisible()) << page->objectName().toStdString();
  }
  EXPECT_TRUE(form_->StopBtn->isEnabled());
  EXPECT_EQ(Text(form_->RunLabel), "  Stopped  ");
  EXPECT_FALSE(form_->RunLabel->isEnabled());
}

TEST_F(ZorvTest, ZorvDriveOpeningHidesTheGrvItems) {
  Open(7, "drive zorv outputs=00000101");
  EXPECT_EQ(form_->windowTitle().toStdString(), " ZorvDrive I/O Test ");
  EXPECT_EQ(form_->InputCount, 17);
  EXPECT_FALSE(form_->IN[8]->isVisibleTo(form_.get()));
  EXPECT_FALSE(form_->OptoInNumbers910->isVisibleTo(form_.get()));
  EXPECT_EQ(form_->OptoIn->width(), 172);
  EXPECT_TRUE(form_->OUT[3]->isVisibleTo(form_.get()));
  EXPECT_TRUE(form_->ENC2->isHidden());
  EXPECT_TRUE(form_->ENC2Label->isHidden());
  EXPECT_FALSE(form_->AnalogOut->isEnabled());
  EXPECT_EQ(form_->BCDInNumbers->text().toStdString(), "  9   10  11   12   13  14   15   16");
  EXPECT_EQ(Commands(rig_->TakeSent()),
            (std::vector<std::string>{"\r", "out(1)\r", "out(2)\r", "out(3)\r", "out(4)\r",
                                      "out(5)\r", "out(6)\r", "out(7)\r", "out(8)\r"}));
  EXPECT_TRUE(form_->OUT[0]->isChecked());
  EXPECT_FALSE(form_->OUT[1]->isChecked());
  EXPECT_TRUE(form_->OUT[2]->isChecked());
  // The lamp of each input.
  EXPECT_EQ(form_->InputLamp(9), form_->IN[10]);
  EXPECT_EQ(form_->InputLamp(16), form_->IN[17]);
  EXPECT_EQ(form_->InputLamp(17), form_->IN[18]);
}

struct OutputRow {
  const char* name;
  int unitType;
  const char* statements;
  int box;
  const char* command;
};

class ZorvOutputs : public ZorvTest, public ::testing::WithParamInterface<OutputRow> {};

TEST_P(ZorvOutputs, ABoxClickIsSentOnceByTheNextCycleWithItsFinalState) {
  Open(GetParam().unitType, GetParam().statements);
  rig_->TakeSent();
  form_->Running = true;  // as inside the loop
  form_->BCDOut->setEnabled(true);
  QCheckBox* box = form_->OUT[static_cast<std::size_t>(GetParam().box - 1)];
  box->click();
  box->click();
  box->click();
  EXPECT_EQ(form_->OutputPending[static_cast<std::size_t>(GetParam().box - 1)], '1');
  EXPECT_EQ(rig_->TakeSent(), std::vector<Sent>{});
  const std::int64_t start = rig_->clock.NowMs();
  form_->ApplyOutputs();
  EXPECT_EQ(rig_->TakeSent(), (std::vector<Sent>{{start, GetParam().command}}));
  EXPECT_EQ(rig_->clock.NowMs(), start + 50);
  EXPECT_EQ(rig_->host.traced, "00000000\r\n");
  form_->ApplyOutputs();
  EXPECT_EQ(rig_->TakeSent(), std::vector<Sent>{});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZorvOutputs,
    ::testing::Values(
        OutputRow{"GrvBcdBoxUnderThree", 6, "drive grv", 5, "OUT(3) = 1\r"},
        OutputRow{"ZorvBcdBoxUnderFive", 7, "drive zorv", 5, "OUT(5) = 1\r"},
        OutputRow{"GrvLastBcdBox", 6, "drive grv", 8, "OUT(6) = 1\r"},
        OutputRow{"OptoBoxTwo", 7, "drive zorv", 2, "OUT(2)= 1\r"},
        // Ticked at opening because the drive holds it on: the click switches
        // it off.
        OutputRow{"TickedAtOpening", 7, "drive zorv outputs=00010000", 5, "OUT(5) = 0\r"},
        OutputRow{"GrvOptoTickedAtOpening", 6, "drive grv outputs=000001", 1, "OUT(1)= 0\r"}),
    RowName<OutputRow>);

TEST_F(ZorvTest, InputQueryTakesTheFirstZeroOrOneAndStartsFromZero) {
  Open(7, "drive zorv inputs=11");
  form_->Running = true;
  rig_->TakeSent();
  form_->ReadInput(1);
  EXPECT_EQ(form_->InputStates[0], '1');
  // A drive whose answer comes after the first round reads as "0". (The loop purges between
  // queries; without it the line feed left of the last answer would be the current byte.)
  rig_->host.port.PurgeBuffers(true, true);
  TheDrive().SetReplyDelayUs(25'000);
  form_->ReadInput(2);
  EXPECT_EQ(form_->InputStates[1], '0');
  EXPECT_EQ(Commands(rig_->TakeSent()), (std::vector<std::string>{"IN(1)\r", "IN(2)\r"}));
  // A silent drive: 51 rounds of 5 ms after the 15 ms wait, and the state read as "0".
  form_->InputStates[2] = '1';
  TheDrive().faults().silent = true;
  rig_->clock.Wait(50);
  rig_->host.port.PurgeBuffers(true, true);
  const std::int64_t start = rig_->clock.NowMs();
  form_->ReadInput(3);
  EXPECT_EQ(rig_->clock.NowMs(), start + 15 + 51 * 5);
  EXPECT_EQ(form_->InputStates[2], '0');
  // Not running: the query goes out, one byte is read, nothing changes.
  TheDrive().faults().silent = false;
  TheDrive().SetReplyDelayUs(-1);
  form_->Running = false;
  form_->InputStates[0] = '0';
  const std::int64_t stopped = rig_->clock.NowMs();
  form_->ReadInput(1);
  EXPECT_EQ(rig_->clock.NowMs(), stopped + 20);
  EXPECT_EQ(form_->InputStates[0], '0');
}

struct BcdRow {
  const char* name;
  const char* statements;
  const char* shown;
};

class ZorvBcd : public ZorvTest, public ::testing::WithParamInterface<BcdRow> {};

TEST_P(ZorvBcd, SwitchValueShowsSignAndSevenDigits) {
  Open(7, GetParam().statements);
  form_->Label2->setText(QStringLiteral(" +1111111 "));
  const std::int64_t start = rig_->clock.NowMs();
  form_->ReadBcd();
  EXPECT_EQ(rig_->clock.NowMs(), start + 120);
  EXPECT_EQ(Text(form_->Label2), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZorvBcd,
    ::testing::Values(BcdRow{"Negative", "drive zorv bcd=-123", " -0000123 "},
                      BcdRow{"Positive", "drive zorv bcd=1234", " +0001234 "},
                      // Eight bytes or fewer: nothing changes.
                      BcdRow{"Short", "drive zorv bcd-reply=123.00", " +1111111 "},
                      BcdRow{"Silent", "drive zorv\nfault drive silent", " +1111111 "}),
    RowName<BcdRow>);

struct AnalogRow {
  const char* name;
  const char* statements;
  const char* value;
  const char* sign;
  int gauge;
};

class ZorvAnalog : public ZorvTest, public ::testing::WithParamInterface<AnalogRow> {};

TEST_P(ZorvAnalog, AnalogInputShowsThreeDecimalsSignAndGauge) {
  Open(6, GetParam().statements);
  form_->BtAnalogIO->click();
  form_->ReadAnalog();
  EXPECT_EQ(Text(form_->Label1), GetParam().value);
  EXPECT_EQ(Text(form_->Label3), GetParam().sign);
  EXPECT_EQ(form_->Analog->Progress(), GetParam().gauge);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZorvAnalog,
    ::testing::Values(
        AnalogRow{"LongNegative", "drive grv analog=-2.5", " -2.500 ", "-", 25},
        // 72.5 tenths: halves go to the even neighbour.
        AnalogRow{"Positive", "drive grv analog=7.25", " +7.250 ", "+", 72},
        AnalogRow{"Rounded", "drive grv analog=7.26", " +7.260 ", "+", 73},
        AnalogRow{"Zero", "drive grv analog=0", " +0.000 ", "+", 0},
        AnalogRow{"AboveTenVolts", "drive grv analog-reply=+12.0000", " +12.000 ", "+", 100},
        AnalogRow{"Short", "drive grv analog-reply=-2.5", " error ", "+", 0},
        AnalogRow{"NotANumber", "drive grv analog-reply=ABCDEFGHIJ", " error ", "+", 0},
        AnalogRow{"Infinity", "drive grv analog-reply=infinity", " error ", "+", 0},
        AnalogRow{"Silent", "drive grv\nfault drive silent", " error ", "+", 0}),
    RowName<AnalogRow>);

// A German number format, in Qt and, where the machine has the locale (or the build made
// it), in the C library; the old settings come back at the end of the scope.
class GermanNumbers {
 public:
  GermanNumbers() : before_(std::setlocale(LC_ALL, nullptr)) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
      if (std::setlocale(LC_ALL, name) != nullptr) {
        inC_ = true;
        return;
      }
    }
#ifdef KVEL_TEST_LOCALE_DIR
    // The locale made by the build: the C library looks for it where LOCPATH says.
    const char* path = std::getenv("LOCPATH");
    const std::string oldPath = path != nullptr ? path : "";
    setenv("LOCPATH", KVEL_TEST_LOCALE_DIR, 1);
    inC_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (path != nullptr) {
      setenv("LOCPATH", oldPath.c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
#endif
  }
  ~GermanNumbers() {
    std::setlocale(LC_ALL, before_.c_str());
    QLocale::setDefault(QLocale::c());
  }
  GermanNumbers(const GermanNumbers&) = delete;
  GermanNumbers& operator=(const GermanNumbers&) = delete;
  // Whether the C library writes commas now.
  bool InC() const {
    return inC_;
  }

 private:
  std::string before_;
  bool inC_ = false;
};

TEST_F(ZorvTest, NumbersOfTheDriveKeepTheirPointOnAMachineThatWritesCommas) {
  // Replies as a drive sends them, whatever the PC's format.
  Open(6, "drive grv analog-reply=-1.25000\nreply drive \"EP\" \"-17.250000\"");
  const GermanNumbers german;
  if (!german.InC()) std::cout << "[  NOTE    ] no German locale in the C library here\n";
  form_->BtAnalogIO->click();
  form_->ReadAnalog();
  form_->BtEncoder->click();
  form_->ReadEncoder();
  form_->UpDown1->SetPosition(10);
  form_->UpDown1->UpButton->click();
  EXPECT_EQ(Text(form_->Label1), " -1.250 ") << german.InC();
  EXPECT_EQ(Text(form_->ENC1), " -000017.250000 ") << german.InC();
  EXPECT_EQ(Text(form_->VoltOut), "0.10") << german.InC();
  EXPECT_EQ(form_->TorqueValue, 20);
}

TEST_F(ZorvTest, EncoderShowsSixAndSixDigitsAndErrorStays) {
  Open(7, "drive zorv encoder=123.456");
  form_->BtEncoder->click();
  form_->ReadEncoder();
  EXPECT_EQ(Text(form_->ENC1), " +000123.456000 ");
  EXPECT_EQ(Text(form_->Label13), " Enc1");
  TheDrive().faults().silent = true;
  form_->ReadEncoder();
  EXPECT_EQ(Text(form_->Label13), " error ");
  EXPECT_EQ(Text(form_->ENC1), " +000123.456000 ");
  TheDrive().faults().silent = false;
  form_->ReadEncoder();
  EXPECT_EQ(Text(form_->Label13), " error ");  // stays
}

TEST_F(ZorvTest, UpDownShowsTheValueBeforeTheChange) {
  Open(6, "drive grv");
  form_->UpDown1->UpButton->click();
  EXPECT_EQ(Text(form_->VoltOut), "0.00");
  EXPECT_EQ(form_->TorqueValue, 0);
  form_->UpDown1->UpButton->click();
  EXPECT_EQ(Text(form_->VoltOut), "0.05");
  EXPECT_EQ(form_->TorqueValue, 10);
  form_->UpDown1->SetPosition(-500);
  form_->UpDown1->DownButton->click();
  EXPECT_EQ(Text(form_->VoltOut), "-5.00");
  EXPECT_EQ(form_->TorqueValue, -1024);
  EXPECT_EQ(form_->UpDown1->Position(), -500);
  // 1.25 V is 256 counts; 0.25 V is 51.2 counts, 51.
  form_->UpDown1->SetPosition(25);
  form_->UpDown1->UpButton->click();
  EXPECT_EQ(form_->TorqueValue, 51);
}

TEST_F(ZorvTest, PagesAndTheirHelp) {
  kvel::HelpViewer::Instance().SetHeadless(true);
  Open(7, "drive zorv");
  const std::pair<QToolButton*, const char*> pages[] = {{form_->BtBCDIO, "context 4400"},
                                                        {form_->BtAnalogIO, "context 4500"},
                                                        {form_->BtEncoder, "context 4600"},
                                                        {form_->BtBCD, "context 4300"}};
  for (const auto& [button, help] : pages) {
    button->click();
    form_->SpeedButton3->click();
    EXPECT_EQ(kvel::HelpViewer::Instance().LastRequest(), help);
  }
  // F1: the help of the focused control's group, else the window's.
  form_->OUT[0]->setFocus();
  QTest::keyClick(form_.get(), Qt::Key_F1);
  EXPECT_EQ(kvel::HelpViewer::Instance().LastRequest(), "context 200");
  form_->BtEncoder->setFocus();
  QTest::keyClick(form_.get(), Qt::Key_F1);
  EXPECT_EQ(kvel::HelpViewer::Instance().LastRequest(), "context 100");

  form_->BtBCDIO->click();
  EXPECT_TRUE(form_->BcdIoMode);
  EXPECT_TRUE(form_->BCDBox->isVisible());
  EXPECT_TRUE(form_->BCDOut->isVisible());
  form_->BtAnalogIO->click();
  EXPECT_FALSE(form_->BcdIoMode);
  EXPECT_TRUE(form_->AnalogIn->isVisible());
  EXPECT_FALSE(form_->AnalogOut->isVisible());  // a ZorvDrive has none
  // The "BCD" page shows the BCD output boxes unticked.
  form_->OUT[5]->setChecked(true);
  form_->BtBCD->click();
  EXPECT_FALSE(form_->OUT[5]->isChecked());
  EXPECT_TRUE(form_->BCDswitch->isVisible());
  EXPECT_EQ(rig_->TakeBytes().find("OUT("), std::string::npos);
}

TEST_F(ZorvTest, ZorvCycleOrderAndStopDuringTheSecondCycle) {
  Open(7, "drive zorv inputs=10100000000000101 bcd=-123");
  rig_->TakeSent();
  rig_->host.traced.clear();
  form_->OUT[1]->click();  // pending before the start: sent by the first cycle
  RunUntil([this] {
    if (Count("IN(9)") < 3) return false;  // read at the start and in each cycle
    // The drive's inputs change now; what is read after the Stop must not be taken.
    TheDrive().Setup().inputs = 0x1FFFF;
    return true;
  });
  std::vector<std::string> expected = Queries(1, 17);
  Append(expected, {"BCD\r", "ledtest\r", "ledtest\r"});
  Append(expected, Queries(1, 10));
  Append(expected, Queries(16, 17));
  Append(expected, {"OUT(2)= 1\r", "BCD\r", "ledtest\r"});
  Append(expected, Queries(1, 10));  // Stop during IN(9)
  Append(expected, Queries(16, 17));
  Append(expected, {"BCD\r", "TORQUE=0\r", "SERVOOUT=1\r", "TORQUE=0\r", "WNDGS=0\r"});
  EXPECT_EQ(Commands(rig_->TakeSent()), expected);
  // What was read before the Stop; input 1 is the rightmost bit of the drive's setting.
  EXPECT_EQ(form_->InputStates.substr(0, 17), "10100000000000101");
  EXPECT_TRUE(TheDrive().Output(2));
  EXPECT_EQ(Text(form_->Label2), " -0000123 ");
  EXPECT_EQ(form_->IN[0]->BackColor(), kYellow);
  EXPECT_EQ(form_->IN[1]->BackColor(), kMaroon);
  EXPECT_EQ(form_->IN[18]->BackColor(), kYellow);  // input 17
  EXPECT_EQ(Text(form_->RunLabel), "  Stopped  ");
  EXPECT_FALSE(form_->RunLabel->isEnabled());
  EXPECT_EQ(form_->Button2->text().toStdString(), "Start");
  EXPECT_TRUE(form_->StopBtn->isEnabled());
  EXPECT_FALSE(form_->BCDOut->isEnabled());
  // Trace lines: the inputs after each group 1-7, the pending outputs after each cycle.
  EXPECT_EQ(rig_->host.traced,
            "10100000000000000\r\n"
            "10100000000000101\r\n"
            "00000000\r\n"
            "10100000000000101\r\n"
            "00000000\r\n");
}

// The commands of the program other than input queries, in order.
std::vector<std::string> NonInputCommands(const std::vector<Sent>& sent) {
  std::vector<std::string> commands;
  for (const Sent& s : sent) {
    if (!s.bytes.starts_with("IN(")) commands.push_back(s.bytes);
  }
  return commands;
}

TEST_F(ZorvTest, GrvAnalogOutputIsSwitchedOnAndOffByTheLoop) {
  Open(6, "drive grv analog=1.5");
  form_->BtAnalogIO->click();
  form_->UpDown1->UpButton->click();
  form_->UpDown1->UpButton->click();  // TorqueValue 10
  form_->AnOutOff->click();
  EXPECT_EQ(form_->AnOutOff->text().toStdString(), "Off");
  EXPECT_EQ(form_->AnalogOutState, 1);
  rig_->TakeSent();
  bool switchedOff = false;
  RunUntil([this, &switchedOff] {
    const int cycles = Count("ledtest") - 1;
    if (cycles == 3 && !switchedOff) {
      switchedOff = true;
      form_->AnOutOff->click();
    }
    return cycles == 4;
  });
  EXPECT_EQ(form_->AnalogOutState, 0);
  EXPECT_EQ(form_->AnOutOff->text().toStdString(), "On");
  EXPECT_EQ(
      NonInputCommands(rig_->TakeSent()),
      (std::vector<std::string>{
          "BCD\r", "ledtest\r",
          // cycle 1: switched on, its value at once
          "ledtest\r", "SERVOOUT=1\r", "SERVOOUT=0\r", "WNDGS=1\r", "TORQUE=10\r", "BCD\r", "AN\r",
          // cycle 2
          "ledtest\r", "TORQUE=10\r", "BCD\r", "AN\r",
          // cycle 3: switched off during it
          "ledtest\r", "TORQUE=0\r", "SERVOOUT=1\r", "TORQUE=0\r", "BCD\r", "AN\r",
          // cycle 4: Stop
          "ledtest\r", "BCD\r", "AN\r", "TORQUE=0\r", "SERVOOUT=1\r", "TORQUE=0\r", "WNDGS=0\r"}));
  EXPECT_EQ(Text(form_->Label1), " +1.500 ");
  EXPECT_EQ(form_->Analog->Progress(), 15);
  EXPECT_EQ(TheDrive().Windings(), 0);
}

TEST_F(ZorvTest, BcdIoPageReadsTheBcdInputsAndNotTheSwitch) {
  Open(6, "drive grv inputs=0000111110000000000");
  form_->BtBCDIO->click();
  rig_->TakeSent();
  RunUntil([this] { return Count("ledtest") == 3; });
  std::vector<std::string> expected = Queries(1, 19);
  Append(expected, {"BCD\r", "ledtest\r", "ledtest\r"});
  Append(expected, Queries(1, 19));
  Append(expected, {"ledtest\r"});
  Append(expected, Queries(1, 19));
  Append(expected, {"TORQUE=0\r", "SERVOOUT=1\r", "TORQUE=0\r", "WNDGS=0\r"});
  EXPECT_EQ(Commands(rig_->TakeSent()), expected);
  // Inputs 11 ... 15 light IN11 ... IN15 of a GRV.
  for (int n = 1; n <= 19; ++n) {
    EXPECT_EQ(form_->InputLamp(n)->BackColor(), n >= 11 && n <= 15 ? kYellow : kMaroon) << n;
  }
}

TEST_F(ZorvTest, DriveThatStopsAnsweringMidLoopReadsAsOffAndTheLoopStillStops) {
  // It answers the opening, the start and the first cycle, then falls silent.
  Open(7, "drive zorv inputs=00000000000000011 bcd=77 silent-after=56");
  std::vector<std::int64_t> cycleStarts;
  RunUntil([this, &cycleStarts] {
    const int ledtests = Count("ledtest");
    if (static_cast<int>(cycleStarts.size()) < ledtests) cycleStarts.push_back(rig_->clock.NowMs());
    if (ledtests == 3) {
      EXPECT_EQ(form_->InputStates.substr(0, 2), "11");
      EXPECT_EQ(form_->IN[0]->BackColor(), kYellow);
    }
    return ledtests == 5;
  });
  // Queries nobody answers read as "0" (the current byte starts as "0"); each takes its
  // 51 rounds, so a silent cycle is slower but ends.
  EXPECT_EQ(form_->InputStates.substr(0, 17), "00000000000000000");
  EXPECT_EQ(form_->IN[0]->BackColor(), kMaroon);
  EXPECT_EQ(Text(form_->Label2), " +0000077 ");
  ASSERT_EQ(cycleStarts.size(), 5u);
  EXPECT_GT(cycleStarts[4] - cycleStarts[3], 12 * (15 + 51 * 5));
  EXPECT_EQ(Text(form_->RunLabel), "  Stopped  ");
  EXPECT_TRUE(form_->StopBtn->isEnabled());
}

// A port error ends the loop: the window shows it stopped, as after "Stop", the error is
// shown once, and both "Exit" and the main window's close can close it.
TEST_F(ZorvTest, PortErrorEndsTheLoopVisiblyAndTheWindowCanBeLeft) {
  for (const bool byExit : {true, false}) {
    Open(7, "drive zorv");
    std::vector<std::string> boxes;
    std::string captionAtBox;
    kvel::SetMessageBoxHook([this, &boxes, &captionAtBox](const kvel::MessageBoxRequest& request) {
      boxes.push_back(request.text);
      captionAtBox = form_->Button2->text().toStdString();
      return kvel::MsgResult::Ok;
    });
    auto broken = std::make_shared<bool>(false);
    rig_->clock.AddMessageHook([this, broken] {
      if (*broken || Count("ledtest") < 2) return;
      *broken = true;
      rig_->host.port.ClosePort();  // the next port call raises
    });
    form_->Button2->click();  // returns when the error has ended the loop
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(captionAtBox, "Start");
    EXPECT_FALSE(form_->Running);
    EXPECT_TRUE(form_->StopBtn->isEnabled());
    EXPECT_FALSE(form_->BCDOut->isEnabled());
    EXPECT_FALSE(form_->RunLabel->isHidden());
    EXPECT_FALSE(form_->RunLabel->isEnabled());
    EXPECT_EQ(Text(form_->RunLabel), "  Stopped  ");
    EXPECT_TRUE(form_->isVisible());
    if (byExit) {
      form_->StopBtn->click();
    } else {
      form_->CloseForHost();
    }
    kvel::SetMessageBoxHook({});
    EXPECT_FALSE(form_->isVisible()) << byExit;
    EXPECT_EQ(boxes.size(), 1u);
  }
}

// The program's end while the loop runs is "Exit": the loop ends at its next check, leaving
// the rest of the cycle out, switches the drive off, and the window closes. With no loop
// running the window closes at once.
TEST_F(ZorvTest, ProgramEndDuringTheLoopSwitchesTheDriveOffAndCloses) {
  for (const EndBy how : {EndBy::Reject, EndBy::Shutdown, EndBy::RequestOnly, EndBy::RunFlagOnly}) {
    Open(6, "drive grv");
    RunFlag = 1;  // as under the main window's receive poll
    form_->BtAnalogIO->click();
    form_->AnOutOff->click();  // the analog output on: switched off by the end
    rig_->TakeSent();
    auto ended = std::make_shared<std::int64_t>(-1);
    auto stopped = std::make_shared<bool>(false);
    std::vector<Sent> before;
    rig_->clock.AddMessageHook([this, how, ended, stopped, &before] {
      if (*ended < 0 && Count("ledtest") == 3) {
        *ended = rig_->clock.NowMs();
        before = rig_->TakeSent();
        EndProgram(*form_, how);
      } else if (*ended >= 0 && !*stopped && rig_->clock.NowMs() > *ended + 5000) {
        *stopped = true;  // the window went on: Stop ends the test
        form_->Button2->click();
      }
    });
    form_->Button2->click();
    const std::vector<Sent> after = rig_->TakeSent();
    EXPECT_GE(*ended, 0);
    EXPECT_FALSE(*stopped) << EndByName(how);
    EXPECT_FALSE(form_->isVisible()) << EndByName(how);
    EXPECT_FALSE(form_->Running);
    EXPECT_EQ(NonInputCommands(after),
              (std::vector<std::string>{"TORQUE=0\r", "SERVOOUT=1\r", "TORQUE=0\r", "WNDGS=0\r"}))
        << EndByName(how);
    EXPECT_EQ(TheDrive().Windings(), 0);
  }
  for (const EndBy how : {EndBy::Reject, EndBy::Shutdown}) {
    Open(7, "drive zorv");
    rig_->TakeSent();
    EndProgram(*form_, how);
    EXPECT_FALSE(form_->isVisible()) << EndByName(how);
    EXPECT_EQ(rig_->TakeSent(), std::vector<Sent>{});
  }
}

TEST_F(ZorvTest, ExitClosesOnlyWhenStopped) {
  Open(7, "drive zorv");
  form_->Running = true;
  form_->close();
  EXPECT_TRUE(form_->isVisible());
  form_->Running = false;
  form_->close();  // not through "Exit"
  EXPECT_TRUE(form_->isVisible());
  form_->StopBtn->click();
  EXPECT_FALSE(form_->isVisible());
}

// The opening (layout, lamps, the outputs read from the drive) runs at the first show only;
// a window shown again after it closed can be left again.
TEST_F(ZorvTest, OpeningRunsOnceAndAWindowShownAgainCanBeLeftAgain) {
  Open(7, "drive zorv");
  ASSERT_FALSE(rig_->TakeSent().empty());
  form_->StopBtn->click();
  ASSERT_FALSE(form_->isVisible());
  rig_->TakeSent();
  form_->show();
  ASSERT_TRUE(form_->isVisible());
  EXPECT_EQ(rig_->TakeSent(), std::vector<Sent>{});
  form_->reject();
  EXPECT_FALSE(form_->isVisible());
}

}  // namespace
