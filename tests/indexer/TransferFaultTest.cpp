// The transfers against units that answer late or slowly, files that cannot be read or
// saved, long lines, port errors and the program's end in the middle of a dialogue.
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>

#include "Indexer.h"
#include "IndexerRig.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "PCtoIDX.h"
#include "ScanIDX.h"
#include "Transcript.h"
#include "ui/Shutdown.h"

namespace {

using kvel::sim::Transcript;

class TransferFaultTest : public IndexerRig {
 protected:
  void SetUp() override {
    IndexerRig::SetUp();
    SelectedUnit = 1;
    RunFlag = 1;
  }
  void TearDown() override {
    kvel::ClearShutdownRequest();
    IndexerRig::TearDown();
  }
  kvel::sim::Indexer& Unit(int address = 1) {
    return *peer_->WithLine([address](kvel::sim::Line& line) {
      return static_cast<kvel::sim::Indexer*>(line.Find(address));
    });
  }
  void StoreProgram(int count) {
    for (int n = 1; n <= count; ++n) {
      peer_->WithLine([n](kvel::sim::Line& line) {
        char text[32];
        std::snprintf(text, sizeof text, "N%03d G01 X%d", n, n);
        return static_cast<kvel::sim::Indexer*>(line.Find(1))->StoreProgramLine(text);
      });
    }
  }
  static std::vector<std::string> Program(int count) {
    std::vector<std::string> lines;
    for (int n = 1; n <= count; ++n) {
      char text[32];
      std::snprintf(text, sizeof text, "N%03d G01 X%d", n, n);
      lines.push_back(text);
    }
    return lines;
  }
  static std::string CrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
  }
  // The bytes the program wrote, without times, from the first write equal to `from` on.
  std::vector<std::string> BytesFrom(const std::string& from) {
    std::vector<std::string> out;
    for (const std::string& w : WritesFrom(from)) out.push_back(w.substr(w.find(' ') + 1));
    return out;
  }
  // The times (ms) at which the unit's replies began, and when the program wrote `bytes`.
  std::vector<long long> ReplyTimes() {
    return peer_->WithLine([](kvel::sim::Line& line) {
      std::vector<long long> times;
      for (const Transcript::Entry& e : line.transcript().Entries()) {
        if (e.direction == Transcript::Direction::Sent) times.push_back(e.atUs / 1000);
      }
      return times;
    });
  }
  // Opens the download dialog, names `path` and presses "Send File".
  std::unique_ptr<TToIDX_Form> Download(const std::string& path) {
    auto form = std::make_unique<TToIDX_Form>(*this);
    form->show();
    form->Edit1->setText(QString::fromStdString(path));
    form->Button1Click();
    return form;
  }
};

// ---- late acknowledges of the uploads' own commands ----

class LateAcknowledge : public TransferFaultTest, public ::testing::WithParamInterface<int> {};

TEST_P(LateAcknowledge, ProgramWithParametersSavesOnlyTheListedLinesAndDownloadsAsListed) {
  Build("indexer 1 mu\nfault 1 ack-delay=" + std::to_string(GetParam()));
  StoreProgram(3);
  saveAnswer_ = Folder() + "/MU-1.PGM";
  ReadProgram(*this, true);
  std::vector<std::string> saved = LParamList;
  for (const std::string& line : Program(3)) saved.push_back(line);
  EXPECT_EQ(ReadFile(*saveAnswer_), CrLf(saved));

  // The file goes back as it was listed: every line as saved, L26 as a blank.
  const auto form = Download(*saveAnswer_);
  EXPECT_EQ(beeps_, 3);
  std::vector<std::string> sent;
  for (const std::string& bytes : BytesFrom("N001\\n\\r")) {
    if (bytes.ends_with("\\r") && !bytes.ends_with("\\n\\r")) sent.push_back(bytes);
  }
  std::vector<std::string> expected;
  for (const std::string& line : saved) {
    expected.push_back((line.empty() || line.find("L26") != std::string::npos ? " " : line) +
                       "\\r");
  }
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(Unit().Program().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Delays, LateAcknowledge, ::testing::Values(0, 50, 150, 300));

TEST_F(TransferFaultTest, ALateAcknowledgeOfL26IsNotPartOfTheProgram) {
  // A unit that acknowledges "L26 0" itself, 150 ms late.
  Build("indexer 1 mu\nreply 1 \"L26 0\" \"=\" pause-at=0 pause=150");
  StoreProgram(2);
  saveAnswer_ = Folder() + "/plain.PGM";
  ReadProgram(*this, false);
  EXPECT_EQ(ReadFile(*saveAnswer_), CrLf(Program(2)));
}

// ---- a download to a unit slower than its waits ----

TEST_F(TransferFaultTest, ASlowUnitGetsEachLineOnlyAfterItsLastReply) {
  Build("indexer 1 mu\nfault 1 slow=100");
  WriteFile("slow.PGM", CrLf(Program(3)));
  const auto form = Download("slow.PGM");
  EXPECT_EQ(beeps_, 3);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(form->Edit1->text().toStdString(), "Line: N003 ");
  // Nothing the unit says about the program comes after the download has ended it.
  long long closing = -1;
  for (const std::string& w : Writes()) {
    if (w.ends_with(" L26 0\\n\\r")) closing = std::stoll(w.substr(0, w.find(' ')));
  }
  ASSERT_GE(closing, 0);
  EXPECT_LT(ReplyTimes().back(), closing);
  // Every line is acknowledged by its own "=": one per line and one per H13 reply.
  EXPECT_EQ(Unit().Program(), (std::map<int, std::string>{
                                  {1, "N001 G01 X1"}, {2, "N002 G01 X2"}, {3, "N003 G01 X3"}}));
}

TEST_F(TransferFaultTest, AUnitTooSlowForTheLineReadBackEndsWithTheMessage) {
  // The unit's current line never ends.
  Build("indexer 1 mu\nreply 1 H13 \"=N001 G01 X1\"");
  WriteFile("cut.PGM", CrLf(Program(3)));
  const auto form = Download("cut.PGM");
  EXPECT_EQ(beeps_, 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Communication error");
  const std::vector<std::string> bytes = BytesFrom("N001 G01 X1\\r");
  EXPECT_EQ(bytes, (std::vector<std::string>{"N001 G01 X1\\r", "H13\\n\\r", "L26 0\\n\\r",
                                             "L48 20 N001\\n\\r"}));
}

// ---- the scan and a unit that answers late ----

TEST_F(TransferFaultTest, ALateProbeReplyBelongsToItsOwnAddress) {
  Build("indexer 1 mu\nfault 1 slow=150\nindexer 5 xmu");
  ScanForIndexers(*this);
  EXPECT_EQ(units_,
            (std::vector<std::string>{"# 1 = I MU VORTAN V1.7", "# 5 = E XMU VORTAN V2.1"}));
  EXPECT_EQ(SelectedUnit, 5);
  EXPECT_EQ(Writes().back().substr(Writes().back().find(' ') + 1), "<5 ");
}

TEST_F(TransferFaultTest, ALateProbeReplyOfTheLastUnitSelectsIt) {
  Build("indexer 1 mu\nfault 1 slow=150");
  ScanForIndexers(*this);
  EXPECT_EQ(units_, std::vector<std::string>{"# 1 = I MU VORTAN V1.7"});
  EXPECT_EQ(SelectedUnit, 1);
  EXPECT_EQ(status_, " Unit : I MU VORTAN V1.7");
  EXPECT_EQ(Writes().back().substr(Writes().back().find(' ') + 1), "<1 ");
}

// ---- message boxes in front of the progress window ----

TEST_F(TransferFaultTest, TheUploadsMessageIsInFrontOfItsProgressWindow) {
  Build("indexer 1 mu\nfault 1 silent-after=3");
  StoreProgram(5);
  bool onTop = true;
  bool shown = false;
  kvel::SetMessageBoxHook([&](const kvel::MessageBoxRequest& request) {
    boxes_.push_back(request);
    shown = ScanForm != nullptr && ScanForm->isVisible();
    onTop = ScanForm == nullptr || ScanForm->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    return kvel::MsgResult::Ok;
  });
  ReadProgram(*this, false);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Communication Error");
  EXPECT_TRUE(shown);
  EXPECT_FALSE(onTop);
}

TEST_F(TransferFaultTest, TheProgressWindowStaysOnTopAgainAfterItsMessage) {
  Build("indexer 1 mu");
  TScanForm form(&window_);
  form.show();
  form.ShowMessage("text", "caption", kvel::MsgIcon::Warning);
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form.isVisible());
  // A close from outside acts as Cancel and leaves the window to its job.
  RunFlag = 1;
  EXPECT_FALSE(form.close());
  EXPECT_EQ(RunFlag, 0);
}

// ---- program files that cannot be sent ----

TEST_F(TransferFaultTest, ProgramFilesThatCannotBeReadAreRefusedWithTheReason) {
  Build("indexer 1 mu");
  WriteFile("file.PGM", "N001 G01\r\n");
  std::filesystem::create_directory("folder.PGM");
  ASSERT_EQ(::mkfifo("pipe.PGM", 0600), 0);
  const std::size_t before = Writes().size();
  struct Case {
    std::string path;
    std::string text;
  };
  const std::vector<Case> cases{
      {"folder.PGM", "The specified File folder.PGM is a folder, not a file."},
      {"pipe.PGM", "The specified File pipe.PGM is not a regular file (a pipe or a device)."},
      {"file.PGM/x.PGM", "The specified File file.PGM/x.PGM could not be opened: Not a directory"},
  };
  for (const Case& c : cases) {
    boxes_.clear();
    TToIDX_Form form(*this);
    form.show();
    const std::size_t queried = Writes().size();
    form.Edit1->setText(QString::fromStdString(c.path));
    form.Button1Click();
    ASSERT_EQ(boxes_.size(), 1u) << c.path;
    EXPECT_EQ(boxes_[0].text, c.text);
    EXPECT_EQ(boxes_[0].caption, "Error");
    EXPECT_EQ(Writes().size(), queried) << c.path;  // nothing sent
    // The dialog stays usable: another file can be chosen and sent.
    EXPECT_TRUE(form.isVisible()) << c.path;
    EXPECT_TRUE(form.Button1->isEnabled()) << c.path;
    EXPECT_TRUE(form.Button2->isEnabled()) << c.path;
    EXPECT_EQ(form.Edit1->text().toStdString(), c.path);
  }
  EXPECT_GT(Writes().size(), before);
}

// ---- a long line ----

class LongLineStop : public TransferFaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LongLineStop, ALongLineGoesInPiecesAndAStopEndsItMidLine) {
  const bool signal = GetParam();
  Build("indexer 1 mu");
  const std::string longLine = "N001 " + std::string(200'000, 'X');
  WriteFile("long.PGM", "N002 G01\r\n" + longLine + "\r\n");
  int messageSteps = 0;
  clock_.AddMessageHook([&messageSteps, signal] {
    if (++messageSteps != 400) return;
    if (signal) {
      kvel::RequestShutdown();
      return;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* form = qobject_cast<TToIDX_Form*>(w)) form->Button3->click();
    }
  });
  const auto form = Download("long.PGM");
  std::vector<std::string> bytes = BytesFrom("N002 G01\\r");
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], "N002 G01\\r");  // a short line in one write
  EXPECT_EQ(bytes[1], "H13\\n\\r");
  std::size_t sent = 0;
  for (std::size_t i = 2; i + 2 < bytes.size(); ++i) {
    EXPECT_LE(bytes[i].size(), 64u);
    sent += bytes[i].size();
  }
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, longLine.size());
  EXPECT_EQ(bytes[bytes.size() - 2], "L26 0\\n\\r");
  EXPECT_EQ(bytes.back(), "L48 20 N001\\n\\r");
  EXPECT_EQ(beeps_, 0);
}

INSTANTIATE_TEST_SUITE_P(CancelOrSignal, LongLineStop, ::testing::Bool());

TEST_F(TransferFaultTest, ALongLineGoesOutWholeInPieces) {
  Build("indexer 1 mu");
  const std::string line = "N001 " + std::string(150, 'Y');
  WriteFile("long.PGM", line + "\r\n");
  const auto form = Download("long.PGM");
  const std::vector<std::string> bytes =
      BytesFrom("N001 YYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYYY");
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes[0] + bytes[1] + bytes[2], line + "\\r");
  EXPECT_EQ(bytes[0].size(), 64u);
}

// ---- saving to a full disk ----

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  void (*previous_)(int) = nullptr;
};

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(TransferFaultTest, ASaveThatDoesNotFitIsReportedAndKeepsThePreviousFile) {
  Build("indexer 1 mu");
  StoreProgram(40);
  WriteFile("LPARAM.TXT", "old parameters\r\n");
  WriteFile("up.PGM", "old program\r\n");
  saveAnswer_ = Folder() + "/up.PGM";
  {
    const FileSizeLimit limit(64);
    try {
      ReadLParameters(*this);
      ADD_FAILURE() << "a parameter file that did not fit was taken as saved";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("\"LPARAM.TXT\""), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("File too large"), std::string::npos) << e.what();
    }
    // The unit leaves parameter transfer although its file was not saved.
    EXPECT_EQ(Writes().back().substr(Writes().back().find(' ') + 1), "L50 0\\r");
    try {
      ReadProgram(*this, false);
      ADD_FAILURE() << "a program file that did not fit was taken as saved";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(*saveAnswer_), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(ReadFile("LPARAM.TXT"), "old parameters\r\n");
  EXPECT_EQ(ReadFile("up.PGM"), "old program\r\n");
  EXPECT_EQ(FolderEntries(Folder()), (std::vector<std::string>{"LPARAM.TXT", "up.PGM"}));
}

// ---- the program's end and the close box in a dialogue ----

TEST_F(TransferFaultTest, ASignalDuringTheScanStopsItWithoutStartingThePoll) {
  Build("indexer 3 mu\nindexer 40 xmu");
  clock_.ScheduleAt(2000, [] {
    kvel::RequestShutdown();
    RunFlag = 0;
  });
  ScanForIndexers(*this);
  EXPECT_EQ(units_, std::vector<std::string>{"# 3 = I MU VORTAN V1.7"});
  EXPECT_EQ(Writes().back().substr(Writes().back().find(' ') + 1), "<3 ");
  EXPECT_LT(clock_.NowMs(), 2200);
  EXPECT_EQ(pollStarts_, 0);
  EXPECT_EQ(enabled_, (std::vector<bool>{false, true}));
  EXPECT_EQ(ScanForm, nullptr);
  EXPECT_EQ(RunFlag, 0);
}

struct StopCase {
  const char* name;
  long long atMs;  // from the opening "N001"
  bool signal;     // a termination signal, else the close box (reject)
};

class DownloadStop : public TransferFaultTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(DownloadStop, SendsTheClosingCommandsAndCloses) {
  const StopCase& c = GetParam();
  Build("indexer 1 mu\nfault 1 no-ack-after-line=1");
  WriteFile("MU-1.PGM", CrLf(Program(3)));
  bool loopReturned = false;
  QTimer::singleShot(0, [&] {
    TToIDX_Form* form = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* f = qobject_cast<TToIDX_Form*>(w); f != nullptr && f->isVisible()) form = f;
    }
    ASSERT_NE(form, nullptr);
    clock_.ScheduleAt(clock_.NowMs() + c.atMs, [form, &c] {
      if (c.signal) kvel::RequestShutdown();
      RunFlag = 0;
      form->reject();
      // The shutdown asks again while the send unwinds.
      if (c.signal) form->reject();
    });
    form->Button1->click();
    loopReturned = true;
  });
  SendProgramDialog(*this);
  EXPECT_TRUE(loopReturned);
  const std::vector<std::string> bytes = BytesFrom("N001\\n\\r");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[bytes.size() - 2], "L26 0\\n\\r");
  EXPECT_EQ(bytes.back(), "L48 20 N001\\n\\r");
  EXPECT_EQ(beeps_, 0);
  EXPECT_EQ(RunFlag, c.signal ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Stops, DownloadStop,
                         ::testing::Values(StopCase{"CloseBoxDuringErase", 900, false},
                                           StopCase{"SignalDuringErase", 900, true},
                                           StopCase{"CloseBoxDuringALine", 1600, false},
                                           StopCase{"SignalDuringALine", 1600, true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(TransferFaultTest, TheCloseBoxOfTheDownloadDialogIsCancel) {
  Build("indexer 1 mu\nfault 1 no-ack-after-line=0");
  WriteFile("MU-1.PGM", CrLf(Program(2)));
  auto form = std::make_unique<TToIDX_Form>(*this);
  form->show();
  clock_.ScheduleAt(clock_.NowMs() + 1500, [&form] {
    QCloseEvent close;
    QCoreApplication::sendEvent(form.get(), &close);
    EXPECT_FALSE(close.isAccepted());  // the send closes the dialog when it has returned
  });
  form->Button1Click();
  const std::vector<std::string> bytes = BytesFrom("N001\\n\\r");
  EXPECT_EQ(bytes.back(), "L48 20 N001\\n\\r");
  EXPECT_LT(clock_.NowMs(), 600 + 2600);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(TransferFaultTest, ASignalDuringTheParameterPartEndsTheWholeUpload) {
  Build("indexer 1 mu");
  StoreProgram(3);
  saveAnswer_ = Folder() + "/none.PGM";
  clock_.ScheduleAt(700, [] {
    kvel::RequestShutdown();
    RunFlag = 0;
  });
  ReadProgram(*this, true);
  for (const std::string& w : Writes()) EXPECT_EQ(w.find("H13"), std::string::npos) << w;
  EXPECT_EQ(RunFlag, 0);
  EXPECT_EQ(ScanForm, nullptr);
  EXPECT_LT(clock_.NowMs(), 1000);
}

TEST_F(TransferFaultTest, ASignalDuringTheProgramLinesEndsTheUploadAtOnce) {
  Build("indexer 1 mu\nfault 1 silent-after=4");
  StoreProgram(10);
  clock_.ScheduleAt(100 + 3 * 45 + 10, [] {
    kvel::RequestShutdown();
    RunFlag = 0;
  });
  ReadProgram(*this, false);
  EXPECT_EQ(Writes().back().substr(Writes().back().find(' ') + 1), "N4 H13\\n\\r");
  EXPECT_LT(clock_.NowMs(), 1000);  // not the line wait of a silent unit
  EXPECT_EQ(RunFlag, 0);
}

// ---- a port error during the download ----

TEST_F(TransferFaultTest, APortErrorEndsTheDownloadAndClosesTheDialog) {
  Build("indexer 1 mu");
  WriteFile("MU-1.PGM", CrLf(Program(3)));
  auto form = std::make_unique<TToIDX_Form>(*this);
  form->show();
  peer_->WithLine([](kvel::sim::Line& line) {
    line.faults().goneAtUs = 1'200'000;
    return 0;
  });
  form->Edit1->setText(QStringLiteral("MU-1.PGM"));
  EXPECT_ANY_THROW(form->Button1Click());
  EXPECT_TRUE(form->Edit1->text().startsWith(QStringLiteral("Stopped: ")))
      << form->Edit1->text().toStdString();
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
