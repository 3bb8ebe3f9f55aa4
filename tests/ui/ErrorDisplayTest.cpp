#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <string>
#include <vector>

#include "Convert.h"
#include "Dialogs.h"
#include "ErrorDisplay.h"

namespace kvel {
namespace {

class ErrorDisplayTest : public testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxHook([this](const MessageBoxRequest& request) {
      shown_.push_back(request);
      return MsgResult::Ok;
    });
  }
  void TearDown() override { SetMessageBoxHook({}); }

  std::vector<MessageBoxRequest> shown_;
};

TEST_F(ErrorDisplayTest, ExceptionInAHandlerOfANestedLoopIsShownAndBothLoopsGoOn) {
  std::vector<std::string> trace;
  QTimer inner;
  inner.setSingleShot(true);
  QObject::connect(&inner, &QTimer::timeout, [&] {
    trace.push_back("inner handler");
    StrToInt("COM1");  // raises the conversion error
    trace.push_back("inner handler went on");
  });
  QTimer later;
  later.setSingleShot(true);
  QObject::connect(&later, &QTimer::timeout, [&] { trace.push_back("later handler"); });

  QEventLoop outerLoop;
  QTimer outer;
  outer.setSingleShot(true);
  QObject::connect(&outer, &QTimer::timeout, [&] {
    trace.push_back("outer handler");
    inner.start(0);
    later.start(20);
    // A poll loop on the GUI thread, as the receive poll runs one.
    QElapsedTimer elapsed;
    elapsed.start();
    while (trace.back() != "later handler" && elapsed.elapsed() < 3000) {
      QCoreApplication::processEvents();
      QThread::msleep(1);
    }
    trace.push_back("outer handler went on");
    outerLoop.quit();
  });
  outer.start(0);
  QTimer::singleShot(5000, &outerLoop, &QEventLoop::quit);
  outerLoop.exec();

  EXPECT_EQ(trace, (std::vector<std::string>{"outer handler", "inner handler", "later handler",
                                             "outer handler went on"}));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "'COM1' is not a valid integer value");
  EXPECT_EQ(shown_[0].caption, "KVEL");
  EXPECT_EQ(shown_[0].icon, MsgIcon::Error);
  EXPECT_EQ(shown_[0].buttons, MsgButtons::Ok);
}

TEST_F(ErrorDisplayTest, AnythingThrownIsShownAsUnknownError) {
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [] { throw 42; });
  timer.start(0);
  QElapsedTimer elapsed;
  elapsed.start();
  while (shown_.empty() && elapsed.elapsed() < 3000) QCoreApplication::processEvents();
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "Unknown error");
}

TEST_F(ErrorDisplayTest, GuardedShowsWhatEscapesADirectCall) {
  bool after = false;
  Guarded([] { throw std::runtime_error("Unable to open com port"); });
  Guarded([&] { after = true; });
  EXPECT_TRUE(after);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "Unable to open com port");
}

}  // namespace
}  // namespace kvel
