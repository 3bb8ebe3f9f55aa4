#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "DopjeNew.h"
#include "Indexer.h"
#include "IoTestSupport.h"
#include "KVEL_QN4KIO.h"
#include "KVEL_Var.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

namespace {

const QColor kYellow(255, 255, 0);
const QColor kMaroon(128, 0, 0);

// The QN4100I test window shown against a simulated indexer; the start-up runs as at the
// window's activation.
class Qn4kTest : public ::testing::Test {
 protected:
  void Open(const std::string& statements) {
    form_.reset();
    rig_.reset();  // one virtual clock at a time
    rig_ = std::make_unique<IoRig>(statements);
    UnitType = 4;
    form_ = std::make_unique<TQN4K_IO_Form>(rig_->host);
    form_->show();
    // At every message step: note the status shown and ask whether Close is pressed now.
    rig_->clock.AddMessageHook([this] {
      const std::string status = form_->Label5->text().toStdString();
      if (!status.empty() && (statuses_.empty() || statuses_.back() != status)) {
        statuses_.push_back(status);
      }
      if (pressed_ || !close_ || !close_()) return;
      pressed_ = true;
      form_->Button1->click();
    });
  }
  // Runs the start-up as the window's activation does; `close` tells when the operator
  // presses Close. Returns the status texts in the order they were shown.
  std::vector<std::string> StartUp(std::function<bool()> close) {
    statuses_.clear();
    pressed_ = false;
    close_ = std::move(close);
    form_->FormActivate();
    close_ = nullptr;
    const std::string last = form_->Label5->text().toStdString();
    if (statuses_.empty() || statuses_.back() != last) statuses_.push_back(last);
    return statuses_;
  }
  int Count(const std::string& what) {
    const std::string all = rig_->AllBytes();
    int n = 0;
    for (std::size_t at = all.find(what); at != std::string::npos; at = all.find(what, at + 1)) {
      ++n;
    }
    return n;
  }
  std::string Lamps() const {
    std::string lit;
    for (TDopjeNew* lamp : form_->OPTO_IN) lit += lamp->BackColor() == kYellow ? '1' : '0';
    return lit;
  }
  std::string Status() const { return form_->Label5->text().toStdString(); }

  std::unique_ptr<IoRig> rig_;
  std::unique_ptr<TQN4K_IO_Form> form_;
  std::vector<std::string> statuses_;
  std::function<bool()> close_;
  bool pressed_ = false;
};

TEST_F(Qn4kTest, PassesWriteOutputsReadInputsAndCheckTheUnit) {
  Open("indexer 3 qn4100i inputs=1000000000000011");
  EXPECT_EQ(form_->windowTitle().toStdString(), " QN4100I I/O Test");
  for (TDopjeNew* lamp : form_->findChildren<TDopjeNew*>()) {
    EXPECT_EQ(lamp->PinShape(), TPinShape::Circle);
    EXPECT_EQ(lamp->BackColor(), kMaroon);
  }
  form_->OUT[0]->setChecked(true);
  form_->OUT[7]->setChecked(true);
  form_->OUT[8]->setChecked(true);  // a BCD box: never sent
  std::string lampsAfterFirstPass;
  const std::vector<std::string> statuses = StartUp([this, &lampsAfterFirstPass] {
    if (Count("N000") == 2 && lampsAfterFirstPass.empty()) lampsAfterFirstPass = Lamps();
    return Count("N000") == 3;
  });
  EXPECT_EQ(lampsAfterFirstPass, "1100000000000001");  // inputs 1, 2 and 16
  EXPECT_EQ(statuses.front(), "Initializing....");
  EXPECT_EQ(statuses.at(1), "Running");
  EXPECT_FALSE(form_->isVisible());
  const std::vector<Sent> sent = rig_->TakeSent();
  ASSERT_GE(sent.size(), 7u);
  // 500 ms after the activation, the unit check; then one pass every 350 ms.
  EXPECT_EQ(sent[0], (Sent{500, "H23\r"}));
  EXPECT_EQ(sent[1], (Sent{600, "N000 G47 X10000001 H01\n\r"}));
  EXPECT_EQ(sent[2], (Sent{700, "H21 \n\r"}));
  EXPECT_EQ(sent[3], (Sent{850, "H23\r"}));
  EXPECT_EQ(sent[4], (Sent{950, "N000 G47 X10000001 H01\n\r"}));
  EXPECT_EQ(rig_->UnitAt<kvel::sim::Indexer>(0).Outputs(), 0x81u);
}

struct InputRow {
  const char* name;
  const char* statements;
  const char* lamps;  // OPTO_IN1 ... OPTO_IN16
};

class Qn4kInputs : public Qn4kTest, public ::testing::WithParamInterface<InputRow> {};

TEST_P(Qn4kInputs, LampsShowTheSixteenInputsInputOneRightmost) {
  Open(GetParam().statements);
  for (TDopjeNew* lamp : form_->OPTO_IN) lamp->SetBackColor(kYellow);
  std::string lamps;
  StartUp([this, &lamps] {
    if (Count("N000") < 2) return false;
    lamps = Lamps();
    return true;
  });
  EXPECT_EQ(lamps, GetParam().lamps);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Qn4kInputs,
    ::testing::Values(
        InputRow{"EqualsBlanksAndOneOnly", "indexer 3 qn4100i input-reply=\"  1000000000000000\"",
                 "0000000000000001"},
        InputRow{"Short", "indexer 3 qn4100i input-reply=101", "1010000000000000"},
        InputRow{"AllOn", "indexer 3 qn4100i inputs=1111111111111111", "1111111111111111"},
        InputRow{"Silent", "indexer 3 qn4100i silent-after=1", "0000000000000000"}),
    RowName<InputRow>);

struct CheckRow {
  const char* name;
  const char* statements;
  int checks;            // H23 requests before the first pass (or in all, without one)
  const char* statuses;  // the texts shown, separated by "|"
  bool polls;
};

class Qn4kCheck : public Qn4kTest, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(Qn4kCheck, TheUnitCheckDecidesWhetherThePollingStarts) {
  Open(GetParam().statements);
  const std::vector<std::string> statuses =
      StartUp([this] { return Count("N000") == 1 || rig_->clock.NowMs() > 5000; });
  std::string shown;
  for (const std::string& s : statuses) shown += (shown.empty() ? "" : "|") + s;
  EXPECT_EQ(shown, GetParam().statuses);
  const std::string all = rig_->AllBytes();
  const std::size_t firstPass = all.find("N000");
  EXPECT_EQ(firstPass != std::string::npos, GetParam().polls);
  int checks = 0;
  for (std::size_t at = all.find("H23"); at < firstPass && at != std::string::npos;
       at = all.find("H23", at + 1)) {
    ++checks;
  }
  EXPECT_EQ(checks, GetParam().checks);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Qn4kCheck,
    ::testing::Values(
        CheckRow{"First", "indexer 3 qn4100i", 1, "Initializing....|Running", true},
        CheckRow{"Third", "indexer 3 qn4100i\nfault 3 answer-after=2", 3,
                 "Initializing....|Initializing.....|Initializing......|Running", true},
        // Chosen: a unit found at the fifth attempt is polled like any other.
        CheckRow{"Fifth", "indexer 3 qn4100i\nfault 3 answer-after=4", 5,
                 "Initializing....|Initializing.....|Initializing......|Initializing.......|"
                 "Initializing........|Running",
                 true},
        // Not the brand: six attempts, then the error; the window stays open without polling.
        CheckRow{"OtherBrand", "indexer 3 qn4100i id=\"P QN4100I ACME V3\"", 6,
                 "Initializing....|Initializing.....|Initializing......|Initializing.......|"
                 "Initializing........|Initializing.........|Communcation error",
                 false},
        CheckRow{"Silent", "indexer 3 qn4100i\nfault 3 silent", 6,
                 "Initializing....|Initializing.....|Initializing......|Initializing.......|"
                 "Initializing........|Initializing.........|Communcation error",
                 false}),
    RowName<CheckRow>);

TEST_F(Qn4kTest, CommunicationErrorLeavesTheWindowOpenUntilClose) {
  Open("indexer 3 qn4100i\nfault 3 silent");
  StartUp([] { return false; });
  EXPECT_EQ(Status(), "Communcation error");
  EXPECT_TRUE(form_->isVisible());
  const std::int64_t start = rig_->clock.NowMs();
  form_->Button1->click();
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(rig_->clock.NowMs(), start + 500);
}

TEST_F(Qn4kTest, CloseDuringTheFirstCheckAbortsAndCloses) {
  Open("indexer 3 qn4100i");
  const std::vector<std::string> statuses = StartUp([this] { return Count("H23") == 1; });
  EXPECT_EQ(statuses.back(), "Aborted");
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(Count("H23"), 1);
  EXPECT_EQ(Count("N000"), 0);
}

TEST_F(Qn4kTest, UnitThatStopsAnsweringDuringThePollingShowsTheErrorAndPollingGoesOn) {
  Open("indexer 3 qn4100i inputs=1111111111111111 silent-after=4");
  std::string lamps;
  const std::vector<std::string> statuses = StartUp([this, &lamps] {
    if (Count("N000") < 4) return false;
    lamps = Lamps();
    return true;
  });
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Communcation error"), statuses.end());
  EXPECT_EQ(lamps, "0000000000000000");
  EXPECT_EQ(statuses.back(), "Communcation error");
}

TEST_F(Qn4kTest, ActivationWhileRunningDoesNotStartASecondLoop) {
  Open("indexer 3 qn4100i");
  std::int64_t before = -1;
  std::int64_t after = -1;
  StartUp([this, &before, &after] {
    if (Count("N000") == 2 && before < 0) {
      before = rig_->clock.NowMs();
      form_->FormActivate();
      after = rig_->clock.NowMs();
    }
    return Count("N000") == 3;
  });
  EXPECT_EQ(after, before);
}

// Close pressed before the window's activation has begun its start-up: neither the check nor
// the polling starts on the closed window (it would never end, and its caller with it).
TEST_F(Qn4kTest, CloseBeforeTheStartUpStartsNothing) {
  Open("indexer 3 qn4100i");
  StartUp([] { return true; });
  EXPECT_TRUE(pressed_);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(rig_->AllBytes(), "");
  form_->FormActivate();
  EXPECT_EQ(rig_->AllBytes(), "");
}

TEST_F(Qn4kTest, EscAndTheWindowsCloseGoThroughClose) {
  Open("indexer 3 qn4100i");
  const std::int64_t start = rig_->clock.NowMs();
  form_->reject();
  EXPECT_FALSE(form_->isVisible());
  EXPECT_FALSE(form_->RunningFlag());
  EXPECT_EQ(rig_->clock.NowMs(), start + 500);
}

struct EndRow {
  const char* name;
  const char* statements;
  const char* when;    // the request counted: the end comes at its second one
  const char* status;  // shown at the close
};

// The program's end while the unit check or the polling runs: they end at their next check
// and the window closes after them, once (one Close: 500 ms).
TEST_F(Qn4kTest, ProgramEndDuringTheCheckOrThePollingEndsThemThenCloses) {
  const EndRow rows[] = {{"Polling", "indexer 3 qn4100i", "N000", "Running"},
                         {"Check", "indexer 3 qn4100i\nfault 3 silent", "H23", "Aborted"}};
  for (const EndRow& row : rows) {
    for (const EndBy how :
         {EndBy::Reject, EndBy::Shutdown, EndBy::RequestOnly, EndBy::RunFlagOnly}) {
      const std::string name = std::string(row.name) + ", " + EndByName(how);
      Open(row.statements);
      RunFlag = 1;  // as under the main window's receive poll
      std::int64_t endedAt = -1;
      int requests = 0;
      StartUp([&] {
        if (endedAt < 0 && Count(row.when) == 2) {
          endedAt = rig_->clock.NowMs();
          requests = Count(row.when);
          EndProgram(*form_, how);
        }
        // Pressed only if the window did not close by itself.
        return endedAt >= 0 && rig_->clock.NowMs() > endedAt + 5000;
      });
      EXPECT_FALSE(pressed_) << name;
      EXPECT_FALSE(form_->isVisible()) << name;
      EXPECT_FALSE(form_->RunningFlag()) << name;
      EXPECT_EQ(Count(row.when), requests) << name;
      EXPECT_EQ(rig_->clock.NowMs(), endedAt + 500) << name;
      EXPECT_EQ(Status(), row.status) << name;
      // Asked again as the main window closes: it is closed already.
      form_->CloseForHost();
      EXPECT_EQ(rig_->clock.NowMs(), endedAt + 500) << name;
    }
  }
}

// A port error stops the polling: the window says so and lets the user leave; the error is
// shown once, also when the window is activated again.
TEST_F(Qn4kTest, PortErrorStopsThePollingVisiblyAndCloseStillWorks) {
  Open("indexer 3 qn4100i");
  std::vector<std::string> boxes;
  std::string statusAtBox;
  kvel::SetMessageBoxHook([this, &boxes, &statusAtBox](const kvel::MessageBoxRequest& request) {
    boxes.push_back(request.text);
    statusAtBox = Status();
    return kvel::MsgResult::Ok;
  });
  auto broken = std::make_shared<bool>(false);
  rig_->clock.AddMessageHook([this, broken] {
    if (*broken || Count("N000") < 2) return;
    *broken = true;
    rig_->host.port.ClosePort();  // the next port call raises
  });
  // As the window's activation runs it.
  kvel::Guarded([this] { form_->FormActivate(); });
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(statusAtBox, "Communcation error");
  EXPECT_FALSE(form_->RunningFlag());
  EXPECT_TRUE(form_->isVisible());
  kvel::Guarded([this] { form_->FormActivate(); });
  EXPECT_EQ(boxes.size(), 1u);
  form_->Button1->click();
  kvel::SetMessageBoxHook({});
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(boxes.size(), 1u);
}

}  // namespace
