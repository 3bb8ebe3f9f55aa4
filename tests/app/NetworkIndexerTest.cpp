// The indexer commands of the real main window, headless, in real time over a network port:
// kvel-sim on a pseudo-terminal behind a real ser2net on 127.0.0.1, opened as
// rfc2217://127.0.0.1:PORT.
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
#include "NetworkTestServers.h"
#include "SimProcess.h"
#include "TestFiles.h"
#include "indexer/PCtoIDX.h"
#include "indexer/ScanIDX.h"
#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

namespace {

class NetworkIndexerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kvel::test::Ser2net::Program().empty())
      GTEST_SKIP() << "ser2net is not installed (tools/deps.sh)";
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
    if (previous_.empty()) return;
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
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [this, file, &press] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<TToIDX_Form*>(w);
        if (dialog == nullptr || !dialog->isVisible()) continue;
        press.stop();
        if (!dialog->Button1->isEnabled()) {
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

  QTemporaryDir folder_;
  std::filesystem::path previous_;
  std::unique_ptr<TForm1> form_;
  std::vector<std::string> boxes_;
  int beeps_ = 0;
  std::optional<std::string> saveAs_;
};

TEST_F(NetworkIndexerTest, ScanDownloadAndUploadOverRfc2217AndTheServerGoingAwayMidDialogue) {
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
  kvel::test::Ser2net server(Folder(), {{true, pty, 0}});
  ASSERT_TRUE(server.Running()) << server.Error();
  ::setenv("KVEL_COM1", server.Url(0).c_str(), 1);

  form_ = std::make_unique<TForm1>();
  form_->show();
  form_->Timer1->stop();
  ASSERT_TRUE(QTest::qWaitFor([this] { return form_->FormShowDone(); }, 5000));
  ASSERT_TRUE(form_->ComPort1.Connected());

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
  saveAs_ = Folder() + "/back.PGM";
  form_->IDXtpoPC1Click();
  EXPECT_EQ(ReadFile(*saveAs_), program);  // byte for byte, as over a local line
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();

  // The server goes away while a long program is being sent: the dialogue ends with the
  // port's message for a device that has gone, and the window is usable again.
  std::string longProgram;
  for (int n = 1; n <= 400; ++n) {
    char line[32];
    std::snprintf(line, sizeof line, "N%03d G01 X%d\r\n", n % 1000, n);
    longProgram += line;
  }
  std::ofstream(Folder() + "/long.PGM", std::ios::binary) << longProgram;
  QTimer kill;
  kill.setSingleShot(true);
  QObject::connect(&kill, &QTimer::timeout, [&server] { server.Kill(); });
  kill.start(1500);
  // After the port error the dialog says that it stopped and closes by itself.
  const std::size_t before = boxes_.size();
  Download("long.PGM");
  ASSERT_FALSE(server.Running());
  // What the dialogue could not finish is said once, by the window's error display.
  ASSERT_EQ(boxes_.size(), before + 1);
  EXPECT_NE(boxes_.back().find("the device has gone"), std::string::npos) << boxes_.back();
  for (QWidget* w : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(qobject_cast<TToIDX_Form*>(w) != nullptr && w->isVisible());
  }
  EXPECT_TRUE(form_->isEnabled());
  form_->close();
  if (HasFailure()) {
    std::istringstream transcript(ReadFile(Folder() + "/sim.log"));
    for (std::string line; std::getline(transcript, line);) {
      if (line.find("? ") == std::string::npos) std::fprintf(stderr, "%s\n", line.c_str());
    }
  }
}

}  // namespace
