#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

class SingleInstanceTest : public testing::Test {
 protected:
  void TearDown() override {
    for (auto& process : started_) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
      }
    }
  }

  QProcess& Start(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral(KVEL_SINGLE_INSTANCE_PROBE), QStringList{key_} + arguments);
    EXPECT_TRUE(process->waitForStarted(5000));
    started_.push_back(std::move(process));
    return *started_.back();
  }

  static std::string NextLine(QProcess& process) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!process.canReadLine() && elapsed.elapsed() < 10000) {
      if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning) break;
    }
    return process.readLine().trimmed().toStdString();
  }

  // A later start of the program: its printed outcome.
  std::string SecondStart() {
    QProcess& process = Start({QStringLiteral("once")});
    const std::string outcome = NextLine(process);
    EXPECT_TRUE(process.waitForFinished(10000));
    return outcome;
  }

  QString key_ = QStringLiteral("kvel-test-%1-%2").arg(getpid()).arg(counter_++);
  std::vector<std::unique_ptr<QProcess>> started_;
  static inline int counter_ = 0;
};

TEST_F(SingleInstanceTest, SecondStartLearnsWhetherTheFirstWasRestoredOrRaised) {
  for (const char* reply : {"restored", "raised"}) {
    SCOPED_TRACE(reply);
    QProcess& first = Start({QStringLiteral("serve"), QString::fromLatin1(reply)});
    ASSERT_EQ(NextLine(first), "First");
    EXPECT_EQ(SecondStart(), std::string(reply) == "restored" ? "OtherRestored" : "OtherRaised");
    EXPECT_EQ(NextLine(first), "asked");
    EXPECT_TRUE(first.waitForFinished(10000));
    // With the first one gone, the next start is the first again.
    QProcess& next = Start({QStringLiteral("once")});
    EXPECT_EQ(NextLine(next), "First");
    next.waitForFinished(10000);
  }
}

TEST_F(SingleInstanceTest, ASocketLeftByACrashedInstanceDoesNotBlockTheNextStart) {
  QProcess& crashed = Start({QStringLiteral("serve"), QStringLiteral("raised")});
  ASSERT_EQ(NextLine(crashed), "First");
  crashed.kill();  // SIGKILL: the socket file stays behind
  ASSERT_TRUE(crashed.waitForFinished(5000));
  EXPECT_EQ(SecondStart(), "First");
}

TEST_F(SingleInstanceTest, AStuckFirstInstanceDoesNotHangTheSecond) {
  QProcess& stuck = Start({QStringLiteral("stuck"), QStringLiteral("6000")});
  ASSERT_EQ(NextLine(stuck), "First");
  QElapsedTimer elapsed;
  elapsed.start();
  EXPECT_EQ(SecondStart(), "OtherRaised");
  EXPECT_LT(elapsed.elapsed(), 4500);
  // Once free again, the first one still handles the request, though nobody reads the reply.
  EXPECT_EQ(NextLine(stuck), "asked");
  ASSERT_TRUE(stuck.waitForFinished(10000));
  EXPECT_EQ(stuck.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(stuck.exitCode(), 0);
}

TEST_F(SingleInstanceTest, TwoSimultaneousStartsGiveExactlyOneFirst) {
  QProcess& a = Start({QStringLiteral("serve"), QStringLiteral("raised")});
  QProcess& b = Start({QStringLiteral("serve"), QStringLiteral("raised")});
  const std::string outcomes = NextLine(a) + "," + NextLine(b);
  EXPECT_TRUE(outcomes == "First,OtherRaised" || outcomes == "OtherRaised,First") << outcomes;
}

}  // namespace
