// A port's line events in a program that has a Qt application object and no widget (a
// command-line tool, a dialogue engine): its handlers run in the application's event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "CPort.h"
#include "MemoryLine.h"

namespace {

TEST(QtSynchronize, HandlersRunInTheEventLoopOfAnApplicationWithoutWidgets) {
  int argc = 1;
  char name[] = "serial_qt_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  auto line = std::make_shared<kvel::MemoryLine>();
  kvel::RegisterMemoryLine("COM9", line);
  std::vector<std::string> heard;
  bool onGuiThread = true;
  QEventLoop loop;
  {
    TComPort port;
    port.SetPort("COM9");
    port.OnRxChar = [&](TCustomComPort& p, std::int32_t n) {
      onGuiThread = onGuiThread && QThread::currentThread() == application.thread();
      std::string text;
      p.ReceiveText(text, n);
      heard.push_back(text);
      if (heard.size() == 2) loop.quit();
    };
    port.OpenPort();
    line->Send("first");
    // The second arrives once the first has been served, so it is a batch of its own.
    QTimer::singleShot(0, [&] {
      QTimer* next = new QTimer(&loop);
      QObject::connect(next, &QTimer::timeout, [&, next] {
        if (heard.size() == 1) {
          line->Send("second");
          next->stop();
        }
      });
      next->start(1);
    });
    // A bound that only ends a failing run; nothing here depends on how long it takes.
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    port.ClosePort();
  }
  kvel::UnregisterMemoryLine("COM9");
  EXPECT_EQ(heard, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(onGuiThread);
}

}  // namespace
