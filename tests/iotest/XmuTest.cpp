#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "Indexer.h"
#include "IoTestSupport.h"
#include "KVEL_Var.h"
#include "KVEL_XMU_IO.h"
#include "ui/Dialogs.h"

namespace {

using kvel::sim::Indexer;

// The XMU test window shown against a simulated indexer, in virtual time.
class XmuTest : public ::testing::Test {
 protected:
  void Open(const std::string& statements) {
    form_.reset();
    rig_.reset();  // one virtual clock at a time
    rig_ = std::make_unique<IoRig>(statements);
    UnitType = 5;
    form_ = std::make_unique<TXMU_IO_Form>(rig_->host);
    form_->show();
    rig_->TakeSent();
  }
  std::int64_t Now() const { return rig_->clock.NowMs(); }
  std::vector<Sent> SentFrom(std::int64_t start, std::vector<std::pair<int, std::string>> rows) {
    std::vector<Sent> sent;
    for (auto& [offset, bytes] : rows) sent.push_back({start + offset, bytes});
    return sent;
  }
  std::string Label2() const { return form_->Label2->text().toStdString(); }
  std::string Label1() const { return form_->Label1->text().toStdString(); }

  std::unique_ptr<IoRig> rig_;
  std::unique_ptr<TXMU_IO_Form> form_;
};

struct OutputRow {
  int box;  // 1 ... 7
  int tag;
  std::uint32_t bit;  // what the indexer holds afterwards
};

class XmuOutputs : public XmuTest, public ::testing::WithParamInterface<OutputRow> {};

TEST_P(XmuOutputs, EachBoxSwitchesItsOutputWithLfCrAndWaits300Ms) {
  Open("indexer 1 xmu");
  QCheckBox* boxes[] = {form_->CheckBox1, form_->CheckBox2, form_->CheckBox3, form_->CheckBox4,
                        form_->CheckBox5, form_->CheckBox6, form_->CheckBox7};
  QCheckBox* box = boxes[GetParam().box - 1];
  const std::string z = "Z" + std::to_string(GetParam().tag);
  const std::int64_t start = Now();
  box->click();
  EXPECT_EQ(Now(), start + 300);
  EXPECT_EQ(rig_->UnitAt<Indexer>(0).Outputs(), GetParam().bit);
  box->click();
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, z + " 1\n\r"}, {300, z + " 0\n\r"}}));
  EXPECT_EQ(rig_->UnitAt<Indexer>(0).Outputs(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, XmuOutputs,
                         ::testing::Values(OutputRow{1, 97, 1u}, OutputRow{2, 96, 2u},
                                           OutputRow{3, 95, 4u}, OutputRow{4, 94, 8u},
                                           OutputRow{5, 93, 16u}, OutputRow{6, 92, 32u},
                                           OutputRow{7, 91, 64u}));

TEST_F(XmuTest, OffClearsTheBoxesSilentlyAndSendsTheSevenOffCommands) {
  Open("indexer 1 xmu");
  form_->CheckBox1->click();
  form_->CheckBox6->click();
  rig_->TakeSent();
  const std::int64_t start = Now();
  form_->AllOutOFF->click();
  EXPECT_FALSE(form_->CheckBox1->isChecked());
  EXPECT_FALSE(form_->CheckBox6->isChecked());
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z91 0\r"},
                                               {10, "Z92 0\r"},
                                               {20, "Z93 0\r"},
                                               {30, "Z94 0\r"},
                                               {40, "Z95 0\r"},
                                               {50, "Z96 0\r"},
                                               {60, "Z97 0\r"}}));
  EXPECT_EQ(Now(), start + 70);
  EXPECT_EQ(rig_->UnitAt<Indexer>(0).Outputs(), 0u);
  // The boxes answer clicks again afterwards.
  form_->CheckBox2->click();
  EXPECT_EQ(rig_->TakeBytes(), "Z96 1\n\r");
}

TEST_F(XmuTest, StrobesAreLabelledRightToLeftAndSendTheirNumberPlusOne) {
  Open("indexer 1 xmu");
  EXPECT_EQ(form_->RadioButtons[0]->text().toStdString(), "0");
  EXPECT_GT(form_->RadioButtons[0]->x(), form_->RadioButtons[7]->x());
  std::int64_t start = Now();
  form_->RadioButtons[0]->click();
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 0\n\r"}, {100, "Z90 1\n\r"}}));
  EXPECT_EQ(rig_->UnitAt<Indexer>(0).Strobe(), 1);
  start = Now();
  form_->RadioButtons[7]->click();
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 0\n\r"}, {100, "Z90 8\n\r"}}));
  EXPECT_EQ(Now(), start + 200);
  EXPECT_TRUE(form_->RadioButtons[7]->isChecked());

  start = Now();
  form_->StrobesON->click();
  for (QRadioButton* radio : form_->RadioButtons) EXPECT_FALSE(radio->isChecked());
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 9\n\r"}}));
  EXPECT_EQ(Now(), start + 300);
  // The group stays exclusive.
  form_->RadioButtons[2]->click();
  form_->RadioButtons[3]->click();
  EXPECT_FALSE(form_->RadioButtons[2]->isChecked());
}

struct InputRow {
  const char* name;
  const char* statements;
  bool input1, input2, input3, input4;
};

class XmuInputs : public XmuTest, public ::testing::WithParamInterface<InputRow> {};

TEST_P(XmuInputs, ReadShowsTheLowestFourBitsInputOneRightmost) {
  Open(GetParam().statements);
  form_->CheckBox8->setChecked(true);  // left over from an earlier read
  const std::int64_t start = Now();
  form_->ReadInput->click();
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "H21 \n\r"}}));
  EXPECT_EQ(Now(), start + 100);
  EXPECT_EQ(form_->CheckBox8->isChecked(), GetParam().input1);
  EXPECT_EQ(form_->CheckBox9->isChecked(), GetParam().input2);
  EXPECT_EQ(form_->CheckBox10->isChecked(), GetParam().input3);
  EXPECT_EQ(form_->CheckBox11->isChecked(), GetParam().input4);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, XmuInputs,
    ::testing::Values(
        // "=1010" CR LF: padded to 00001010.
        InputRow{"ShortReply", "indexer 1 xmu input-reply=1010", false, true, false, true},
        InputRow{"HighBitsOnly", "indexer 1 xmu inputs=11110000", false, false, false, false},
        InputRow{"AllFour", "indexer 1 xmu inputs=00001111", true, true, true, true},
        InputRow{"Silent", "indexer 1 xmu\nfault 1 silent", false, false, false, false},
        InputRow{"AnswersNoMore", "indexer 1 xmu inputs=00001111 silent-after=0", false, false,
                 false, false}),
    RowName<InputRow>);

TEST_F(XmuTest, InputBoxesCannotBeChangedByTheOperator) {
  Open("indexer 1 xmu");
  EXPECT_FALSE(form_->InputPanel->isEnabled());
  QTest::mouseClick(form_->CheckBox9, Qt::LeftButton);
  EXPECT_FALSE(form_->CheckBox9->isChecked());
  EXPECT_EQ(rig_->TakeBytes(), "");
}

struct AutoRow {
  const char* name;
  const char* statements;
  const char* result;  // Label2 after the third click
  int code;
};

class XmuAutoTest : public XmuTest, public ::testing::WithParamInterface<AutoRow> {};

TEST_P(XmuAutoTest, FourClicksRunTheTestAndShowTheNumberedResult) {
  Open(GetParam().statements);
  EXPECT_EQ(Label1(), "Click on \"Start\"");
  EXPECT_EQ(form_->Button3->text().toStdString(), "Start");
  std::int64_t start = Now();
  form_->Button3->click();
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 0 \r"}}));
  EXPECT_EQ(Now(), start + 500);
  EXPECT_EQ(Label1(), "Switch to \"Z79\" position");
  EXPECT_EQ(form_->Button3->text().toStdString(), " Next");
  EXPECT_TRUE(form_->Button3->isEnabled());

  start = Now();
  form_->Button3->click();
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z79 \r"}}));
  EXPECT_EQ(Now(), start + 600);
  EXPECT_EQ(Label1(), "Switch to \"OFF\" position");

  start = Now();
  form_->Button3->click();
  EXPECT_EQ(rig_->TakeSent(), std::vector<Sent>{});
  EXPECT_EQ(Now(), start + 1000);
  EXPECT_EQ(Label1(), "Read the test result ");
  EXPECT_EQ(Label2(), GetParam().result);
  EXPECT_EQ(form_->ResultCode(), GetParam().code);
  EXPECT_EQ(form_->Button3->text().toStdString(), "Finish");

  start = Now();
  form_->Button3->click();
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 9 \r"}}));
  EXPECT_EQ(Now(), start + 600);
  EXPECT_EQ(form_->Step(), 0);
  EXPECT_EQ(form_->Button3->text().toStdString(), " Start");
  EXPECT_EQ(Label1(), "Click on \"Start\"");
  EXPECT_EQ(Label2(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, XmuAutoTest,
    ::testing::Values(
        AutoRow{"Good", "indexer 1 xmu autotest=0", "0 = I/O port is good.", 0},
        AutoRow{"Strobe2", "indexer 1 xmu autotest=3", "3 = Strobe 2 error", 3},
        AutoRow{"DigitsAmongText", "indexer 1 xmu autotest-reply=E1-6!", "16 = EEPROM error", 16},
        AutoRow{"UnknownCode", "indexer 1 xmu autotest=17", "17 = Communication error", 17},
        AutoRow{"NoDigits", "indexer 1 xmu autotest-reply=ERR", " = Communication error", 999},
        AutoRow{"Silent", "indexer 1 xmu\nfault 1 silent", " = Communication error", 999},
        // The result comes after the operator has read it: nothing to show yet.
        AutoRow{"SlowTest", "indexer 1 xmu autotest=3 autotest-time=5000", " = Communication error",
                999}),
    RowName<AutoRow>);

TEST_F(XmuTest, ExitAndEscSendTheExitSequenceTwiceAndClose) {
  for (const bool esc : {false, true}) {
    Open("indexer 1 xmu");
    form_->RadioButtons[4]->click();
    rig_->TakeSent();
    const std::int64_t start = Now();
    if (esc) {
      QTest::keyClick(form_.get(), Qt::Key_Escape);
    } else {
      form_->Button1->click();
    }
    EXPECT_FALSE(form_->isVisible()) << esc;
    EXPECT_FALSE(form_->RadioButtons[4]->isChecked());
    EXPECT_EQ(
        rig_->TakeSent(),
        SentFrom(start,
                 {{0, "Z90 9\n\r"}, {300, "Z90 9 \r"}, {500, "Z90 9\n\r"}, {800, "Z90 9 \r"}}))
        << esc;
    EXPECT_EQ(Now(), start + 1000);
    // The acknowledges of the commands have been purged; nothing comes after.
    rig_->clock.Wait(100);
    EXPECT_EQ(rig_->host.port.PendingInput(), 0);
  }
}

TEST_F(XmuTest, ShownCentredOverTheMainWindowTwentyPixelsLower) {
  rig_ = std::make_unique<IoRig>("indexer 1 xmu");
  QWidget main;
  main.setGeometry(100, 50, 657, 450);
  main.show();
  rig_->host.main = &main;
  form_ = std::make_unique<TXMU_IO_Form>(rig_->host);
  form_->show();
  const QRect frame = main.frameGeometry();
  EXPECT_EQ(form_->frameGeometry().left(),
            frame.left() + (frame.width() - form_->frameGeometry().width()) / 2);
  EXPECT_EQ(form_->frameGeometry().top(),
            frame.top() + (frame.height() - form_->frameGeometry().height()) / 2 + 20);
  EXPECT_EQ(form_->windowTitle().toStdString(), " (X)MU   I/O Test ");
}

constexpr EndBy kEnds[] = {EndBy::Reject, EndBy::Shutdown, EndBy::RequestOnly, EndBy::RunFlagOnly};

// reject() with no step running closes the window as its close does: the exit sequence
// first, so the strobe outputs are not left set. Asked again as the main window closes, the
// closed window sends nothing more.
TEST_F(XmuTest, RejectRunsTheExitSequenceAndCloses) {
  for (const EndBy how : {EndBy::Reject, EndBy::Shutdown}) {
    Open("indexer 1 xmu");
    form_->RadioButtons[4]->click();
    rig_->TakeSent();
    const std::int64_t start = Now();
    EndProgram(*form_, how);
    EXPECT_FALSE(form_->isVisible()) << EndByName(how);
    EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 9\n\r"}, {300, "Z90 9 \r"}}))
        << EndByName(how);
    EXPECT_EQ(rig_->UnitAt<Indexer>(0).Strobe(), 9) << EndByName(how);
    form_->CloseForHost();
    form_->reject();
    EXPECT_EQ(rig_->TakeSent(), std::vector<Sent>{});
  }
}

// A window shown again after it closed is a window like the first: Esc runs the exit
// sequence and closes it once more.
TEST_F(XmuTest, ShownAgainAfterItClosedItClosesAgain) {
  Open("indexer 1 xmu");
  form_->reject();
  ASSERT_FALSE(form_->isVisible());
  rig_->TakeSent();
  form_->show();
  ASSERT_TRUE(form_->isVisible());
  const std::int64_t start = Now();
  form_->reject();
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 9\n\r"}, {300, "Z90 9 \r"}}));
}

// The program's end during a step of the automatic test: the step ends at its next check,
// then the exit sequence goes out and the window closes.
TEST_F(XmuTest, ProgramEndDuringAnAutomaticTestStepEndsItThenRunsTheExitSequence) {
  for (const EndBy how : kEnds) {
    Open("indexer 1 xmu");
    RunFlag = 1;  // as under the main window's receive poll
    auto ended = std::make_shared<bool>(false);
    rig_->clock.AddMessageHook([this, how, ended] {
      if (*ended) return;
      *ended = true;
      EndProgram(*form_, how);
    });
    const std::int64_t start = Now();
    form_->Button3->click();
    EXPECT_TRUE(*ended);
    EXPECT_FALSE(form_->isVisible()) << EndByName(how);
    EXPECT_EQ(rig_->TakeSent(),
              SentFrom(start, {{0, "Z90 0 \r"}, {0, "Z90 9\n\r"}, {300, "Z90 9 \r"}}))
        << EndByName(how);
    EXPECT_EQ(Now(), start + 500) << EndByName(how);
  }
}

// "Exit" pressed during a step: the step ends, and the window closes after it.
TEST_F(XmuTest, ExitDuringAnAutomaticTestStepClosesAfterTheStep) {
  Open("indexer 1 xmu");
  auto pressed = std::make_shared<bool>(false);
  rig_->clock.AddMessageHook([this, pressed] {
    if (*pressed) return;
    *pressed = true;
    form_->Button1->click();
  });
  const std::int64_t start = Now();
  form_->Button3->click();
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(rig_->TakeSent(), SentFrom(start, {{0, "Z90 0 \r"},
                                               {0, "Z90 9\n\r"},
                                               {300, "Z90 9 \r"},
                                               {500, "Z90 9\n\r"},
                                               {800, "Z90 9 \r"}}));
}

// A port error in a step: the test is back at its start instead of a dead button, the error
// is shown once, and "Exit" still closes, showing its own error once.
TEST_F(XmuTest, PortErrorDuringTheAutomaticTestLeavesItAtItsStart) {
  Open("indexer 1 xmu");
  std::vector<std::string> boxes;
  kvel::SetMessageBoxHook([&boxes](const kvel::MessageBoxRequest& request) {
    boxes.push_back(request.text);
    return kvel::MsgResult::Ok;
  });
  form_->Button3->click();
  rig_->host.port.ClosePort();  // the next port call raises
  form_->Button3->click();
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(form_->Button3->isEnabled());
  EXPECT_EQ(form_->Button3->text().toStdString(), " Start");
  EXPECT_EQ(form_->Step(), 0);
  EXPECT_EQ(Label1(), "Click on \"Start\"");
  form_->Button1->click();
  kvel::SetMessageBoxHook({});
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(boxes.size(), 2u);
}

}  // namespace
