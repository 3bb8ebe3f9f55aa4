#include "AppTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>

#include "KVEL_Var.h"
#include "ui/ErrorDisplay.h"
#include "ui/HelpViewer.h"

const std::vector<std::string> kUnitTypeLines{"Procedure TForm1.PutContrSpec",
                                              "INI file created",
                                              "Comport read OK",
                                              "Baudrate  read OK",
                                              "comport settings ",
                                              "macro settings",
                                              "rest OK",
                                              "comport updated, end of INI file"};

const std::vector<std::string> kStartLines = [] {
  std::vector<std::string> lines{"form create start", "form create end", "form show start"};
  lines.insert(lines.end(), kUnitTypeLines.begin(), kUnitTypeLines.end());
  lines.push_back("form show end");
  return lines;
}();

void AppTest::SetUp() {
  ASSERT_TRUE(folder_.isValid());
  previousFolder_ = std::filesystem::current_path();
  std::filesystem::current_path(Folder());
  ::setenv("KVEL_INI_DIR", Folder().c_str(), 1);
  ::setenv("HOME", Folder().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (Folder() + "/.config").c_str(), 1);
  // The recent programs and the dialogs' folders are kept here.
  ::setenv("XDG_STATE_HOME", (Folder() + "/.local/state").c_str(), 1);
  ResetProcessState();
  kvel::SetClock(&clock_);
  clock_.AddMessageHook([this] {
    if (endPolls_) RunFlag = 0;
  });
  line_ = std::make_shared<kvel::MemoryLine>([this] { return clock_.NowMs(); });
  kvel::RegisterMemoryLine("COM1", line_);
  kvel::SetMessageBoxHook([this](const kvel::MessageBoxRequest& request) {
    boxes_.push_back(request);
    if (onBox_) onBox_(request);
    return answer_;
  });
  kvel::HelpViewer::Instance().SetHeadless(true);
}

void AppTest::TearDown() {
  form_.reset();
  kvel::UnregisterMemoryLine("COM1");
  kvel::SetMessageBoxHook({});
  kvel::SetClock(nullptr);
  std::filesystem::current_path(previousFolder_);
  ::unsetenv("KVEL_INI_DIR");
}

TForm1& AppTest::Start() {
  form_ = std::make_unique<TForm1>();
  form_->show();
  // The first tick of Timer1 would start the receive poll in virtual time, which only a
  // test's own stop ends; tests start the poll themselves.
  form_->Timer1->stop();
  // The show steps follow the window's first paint.
  EXPECT_TRUE(QTest::qWaitFor([this] { return form_->FormShowDone(); }, 5000));
  return *form_;
}

void AppTest::WriteIni(const std::string& text) const {
  std::ofstream(IniPathInFolder(), std::ios::binary) << text;
}

std::string AppTest::IniText() const {
  return ReadFile(IniPathInFolder());
}

bool AppTest::IniExists() const {
  return std::filesystem::exists(IniPathInFolder());
}

std::vector<std::string> AppTest::LogLines() const {
  const std::string text = ReadFile(Folder() + "/error.log");
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find("\r\n"); end != std::string::npos;
       end = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string AppTest::Panel(int index) const {
  return form_->Panels[static_cast<std::size_t>(index)]->text().toStdString();
}

std::string AppTest::Caption() const {
  return form_->windowTitle().toStdString();
}
