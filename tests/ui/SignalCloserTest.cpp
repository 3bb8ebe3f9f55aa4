#include "SignalCloser.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QTest>
#include <vector>

namespace kvel {
namespace {

volatile sig_atomic_t g_previousCalls = 0;
void PreviousHandler(int) {
  g_previousCalls = g_previousCalls + 1;
}

TEST(SignalCloserTest, SignalsBecomeOneCallInTheEventLoopAndTheOldActionsReturn) {
  struct sigaction old {};
  struct sigaction mine {};
  mine.sa_handler = PreviousHandler;
  ::sigemptyset(&mine.sa_mask);
  ASSERT_EQ(::sigaction(SIGHUP, &mine, &old), 0);
  std::vector<int> calls;
  {
    const SignalCloser closer([&calls](int signal) { calls.push_back(signal); });
    ASSERT_EQ(::raise(SIGHUP), 0);
    // Nothing happens inside the handler itself: the call comes from the event loop.
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(QTest::qWaitFor([&calls] { return !calls.empty(); }, 5000));
    ASSERT_EQ(::raise(SIGTERM), 0);
    QTest::qWait(50);
    EXPECT_EQ(calls, std::vector<int>{SIGHUP});
    EXPECT_EQ(g_previousCalls, 0);
  }
  ASSERT_EQ(::raise(SIGHUP), 0);
  EXPECT_EQ(g_previousCalls, 1);
  ::sigaction(SIGHUP, &old, nullptr);
}

}  // namespace
}  // namespace kvel
