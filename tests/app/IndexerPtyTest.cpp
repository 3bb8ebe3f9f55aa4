// The indexer commands of the real main window, headless, in real time over a
// pseudo-terminal with kvel-sim at the far end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "SimProcess.h"
#include "TestFiles.h"
#include "indexer/PCtoIDX.h"
#include "indexer/ScanIDX.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

namespace {

class IndexerPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(Folder());
    ::setenv("KVEL_INI_DIR", Folder().c_str(), 1);
    ::setenv("HOME", Folder().c_str(), 1);
    ResetProcessState();
    kvel::SetMessageBoxHook([this](const kvel::MessageBoxRequest& request) {
      boxes_.push_back(request.caption + ": " + request.text);
      return kvel::MsgResult::Ok;
    });
    kvel::SetBeepHook([this] { ++beeps_; });
    kvel::SetFileDialogHook([this](const kvel::FileDialogRequest&) { return saveAs_; });
  }
  void TearDown() override {
    form_.reset();
    kvel::SetMessageBoxHook({});
    kvel::SetBeepHook({});
    kvel::SetFileDialogHook({});
    std::filesystem::current_path(previous_);
    ::unsetenv("KVEL_INI_DIR");
    ::unsetenv("KVEL_COM1");
  }
  std::string Folder() const { return folder_.path().toStdString(); }

  // Sends `file` with the download dialog ("Send File" pressed as soon as it shows).
  void Download(const std::string& file) {
    // Looks for the dialog until it shows, then presses "Send File".
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [this, file, &press] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<TToIDX_Form*>(w);
        if (dialog == nullptr || !dialog->isVisible()) continue;
        press.stop();
        if (!dialog->Button1->isEnabled()) {
          // The unit was not recognised: say what the dialog showed instead of waiting.
          boxes_.push_back("not recognised: " + dialog->Label2->text().toStdString());
          dialog->reject();
          return;
        }
        dialog->Edit1->setText(QString::fromStdString(file));
        dialog->Button1->click();
        return;
      }
    });
    press.start(20);
    form_->KVEL1Click();
  }
  std::string Upload(bool withParameters, const std::string& name) {
    saveAs_ = Folder() + "/" + name;
    if (withParameters) {
      form_->ProgPar1Click();
    } else {
      form_->IDXtpoPC1Click();
    }
    return ReadFile(*saveAs_);
  }

  QTemporaryDir folder_;
  std::filesystem::path previous_;
  std::unique_ptr<TForm1> form_;
  std::vector<std::string> boxes_;
  int beeps_ = 0;
  std::optional<std::string> saveAs_;
};

TEST_F(IndexerPtyTest, ScanDownloadAndUploadWithAndWithoutParameters) {
  kvel::sim::test::SimProcess sim({"--transcript", Folder() + "/sim.log", "-e", "line COM1", "-e",
                                   "indexer 2 xmu probe=busy", "-e", "indexer 5 mu"});
  std::string pty;
  for (std::string line = sim.ReadLine(20000); !line.empty(); line = sim.ReadLine(2000)) {
    if (line.rfind("KVEL_COM1=", 0) == 0) {
      pty = kvel::sim::test::ValueOf(line);
      break;
    }
  }
  ASSERT_FALSE(pty.empty());
  ::setenv("KVEL_COM1", pty.c_str(), 1);

  form_ = std::make_unique<TForm1>();
  form_->show();
  form_->Timer1->stop();
  ASSERT_TRUE(QTest::qWaitFor([this] { return form_->FormShowDone(); }, 5000));
  ASSERT_TRUE(form_->ComPort1.Connected());

  // The scan ends by starting the receive poll; end it once the scan has given the window back.
  QTimer endPoll;
  QObject::connect(&endPoll, &QTimer::timeout, [this] {
    if (form_->isEnabled() && ScanForm == nullptr) RunFlag = 0;
  });
  endPoll.start(50);
  form_->Scanforindexer1Click();
  endPoll.stop();
  EXPECT_EQ(SelectedUnit, 5);
  EXPECT_EQ(form_->Panels[2]->text().toStdString(), " Unit : I MU VORTAN V1.7");

  const std::string program =
      "N001 G01 F2000 X4000\r\nN002 G04 F500\r\nN003 G01 X-4000\r\nN004 G25 N001\r\n";
  std::ofstream(Folder() + "/job.PGM", std::ios::binary) << program;
  Download("job.PGM");
  EXPECT_EQ(beeps_, 3);

  const std::string plain = Upload(false, "plain.PGM");
  EXPECT_EQ(plain, program);
  const std::string both = Upload(true, "both.PGM");
  std::string parameters;
  for (const std::string& line : LParamList) parameters += line + "\r\n";
  EXPECT_GT(LParamList.size(), 40u);
  EXPECT_EQ(ReadFile(Folder() + "/LPARAM.TXT"), parameters);
  EXPECT_EQ(both, parameters + program);

  // The file with parameters downloads again and leaves the same program in the unit.
  Download("both.PGM");
  EXPECT_EQ(beeps_, 6);
  EXPECT_EQ(Upload(false, "again.PGM"), program);
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  form_->close();
  if (HasFailure()) {
    // What went over the line, as the simulator saw it, without the probes of the scan.
    std::istringstream transcript(ReadFile(Folder() + "/sim.log"));
    for (std::string line; std::getline(transcript, line);) {
      if (line.find("? ") == std::string::npos) std::fprintf(stderr, "%s\n", line.c_str());
    }
  }
}

}  // namespace
