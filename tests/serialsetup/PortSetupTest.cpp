// The port-setting selectors and the port setup dialog, on in-memory lines and on a
// pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PtyPair.h"
#include "serial/CPortSetup.h"
#include "serial/MemoryLine.h"
#include "serial/Termios2.h"
#include "terminal/CPortCtlSelect.h"

namespace {

using kvel::TComComboBox;

// A port that records the line settings its device holds after every apply, and counts the
// whole-settings applies.
class WatchedPort : public TComPort {
 public:
  std::shared_ptr<kvel::MemoryLine> line;
  std::vector<kvel::Dcb> seen;
  int allApplies = 0;
  int opens = 0;

 protected:
  void ApplyLineSettings() override {
    TComPort::ApplyLineSettings();
    if (line != nullptr && line->IsOpen()) seen.push_back(line->LastDcb());
  }
  void ApplyAllSettings() override {
    ++allApplies;
    TComPort::ApplyAllSettings();
  }
  void DoAfterOpen() override {
    ++opens;
    TComPort::DoAfterOpen();
  }
};

void Pick(QComboBox* list, const char* text) {
  // A port's item shows its device beside the name; the name is the item's value.
  int target = list->findData(QString::fromLatin1(text));
  if (target < 0) target = list->findText(QString::fromLatin1(text));
  ASSERT_GE(target, 0) << text;
  if (list->currentIndex() < 0) QTest::keyClick(list, Qt::Key_Home);
  while (list->currentIndex() < target) QTest::keyClick(list, Qt::Key_Down);
  while (list->currentIndex() > target) QTest::keyClick(list, Qt::Key_Up);
}

class PortSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"COM7", "COM8"}) {
      lines_.push_back(std::make_shared<kvel::MemoryLine>());
      kvel::RegisterMemoryLine(name, lines_.back());
    }
    port_.line = lines_[0];
    port_.SetPort("COM7");
  }
  void TearDown() override {
    port_.ClosePort();
    kvel::UnregisterMemoryLine("COM7");
    kvel::UnregisterMemoryLine("COM8");
  }

  // Runs ShowPortSetup; `step` sees the dialog once it is up and closes it.
  void Run(const std::function<void(TComSetupFrm&)>& step) {
    bool ran = false;
    auto* timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [&, timer, tries] {
      auto* dialog = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
      if (dialog == nullptr && ++*tries < 400) return;
      timer->stop();
      timer->deleteLater();
      if (dialog == nullptr) return;
      ran = true;
      step(*dialog);
    });
    timer->start(5);
    ShowPortSetup(port_);
    EXPECT_TRUE(ran);
  }
  static std::vector<std::string> Texts(const TComSetupFrm& d) {
    std::vector<std::string> texts;
    for (const TComComboBox* combo : d.Combos()) texts.push_back(combo->Text());
    return texts;
  }

  std::vector<std::shared_ptr<kvel::MemoryLine>> lines_;
  WatchedPort port_;
};

TEST_F(PortSetup, ShowsThePortsSettingsAndTheDialogLayout) {
  port_.FlowControl().SetFlowControl(fcNone);
  port_.OpenPort();
  Run([](TComSetupFrm& d) {
    EXPECT_EQ(Texts(d), (std::vector<std::string>{"COM7", "9600", "8", "1", "None", "None"}));
    EXPECT_EQ(d.windowTitle().toStdString(), "Setup");
    EXPECT_EQ(d.size(), QSize(231, 216));
    EXPECT_EQ(d.Combo2->count(), 16);
    EXPECT_EQ(d.Combo2->itemText(0).toStdString(), "Custom");
    EXPECT_EQ(d.Combo4->itemText(1).toStdString(), "1.5");
    EXPECT_EQ(d.Combo6->itemText(3).toStdString(), "Custom");
    EXPECT_EQ(d.Combo1->toolTip().toStdString(), "in-memory line");
    // Every listed port, its device in the visible text; the name is what the port takes.
    const int com8 = d.Combo1->findData(QStringLiteral("COM8"));
    ASSERT_GE(com8, 0);
    EXPECT_EQ(d.Combo1->itemText(com8).toStdString(), "COM8 = in-memory line");
    EXPECT_EQ(d.Combo1->currentText().toStdString(), "COM7 = in-memory line");
    EXPECT_TRUE(d.Button1->isDefault());
    for (const QWidget* child : d.findChildren<QWidget*>()) {
      if (child->parentWidget() == nullptr || !child->isVisible()) continue;
      EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
          << child->objectName().toStdString();
    }
    QTest::mouseClick(d.Button2, Qt::LeftButton);
  });
}

TEST_F(PortSetup, OkWritesAllSettingsOnceAtTheEndWithoutReopening) {
  port_.OpenPort();
  const kvel::Dcb before = lines_[0]->LastDcb();
  port_.seen.clear();
  port_.allApplies = 0;
  port_.opens = 0;
  Run([](TComSetupFrm& d) {
    Pick(d.Combo2, "19200");
    Pick(d.Combo3, "7");
    Pick(d.Combo4, "2");
    Pick(d.Combo5, "Even");
    Pick(d.Combo6, "Software");
    QTest::mouseClick(d.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(port_.opens, 0);
  EXPECT_EQ(port_.allApplies, 1);
  ASSERT_FALSE(port_.seen.empty());
  for (std::size_t i = 0; i + 1 < port_.seen.size(); ++i)
    EXPECT_EQ(port_.seen[i].baudRate, before.baudRate) << "applied before the end";
  const kvel::Dcb after = lines_[0]->LastDcb();
  EXPECT_EQ(after.baudRate, 19200u);
  EXPECT_EQ(after.byteSize, 7);
  EXPECT_EQ(after.stopBits, 2);
  EXPECT_EQ(after.parity, 2);
  EXPECT_NE(after.flags & kvel::kDcbOutX, 0u);
  EXPECT_EQ(port_.FlowControl().FlowControl(), fcSoftware);
}

TEST_F(PortSetup, OkWithoutChangesWritesTheSameValuesOnce) {
  port_.OpenPort();
  const kvel::Dcb before = lines_[0]->LastDcb();
  port_.allApplies = 0;
  port_.opens = 0;
  Run([](TComSetupFrm& d) { QTest::keyClick(d.Combo3, Qt::Key_Return); });
  EXPECT_EQ(port_.opens, 0);
  EXPECT_EQ(port_.allApplies, 1);
  EXPECT_EQ(lines_[0]->LastDcb().baudRate, before.baudRate);
  EXPECT_EQ(lines_[0]->LastDcb().flags, before.flags);
  EXPECT_EQ(port_.Port(), "COM7");
}

TEST_F(PortSetup, CustomFlowControlIsShownAndKept) {
  port_.FlowControl().SetControlRTS(rtsEnable);
  port_.FlowControl().SetXonXoffIn(true);
  Run([](TComSetupFrm& d) {
    EXPECT_EQ(d.Combo6->Text(), "Custom");
    d.accept();
  });
  EXPECT_EQ(port_.FlowControl().ControlRTS(), rtsEnable);
  EXPECT_TRUE(port_.FlowControl().XonXoffIn());
  EXPECT_FALSE(port_.FlowControl().XonXoffOut());
}

TEST_F(PortSetup, CancelChangesNothing) {
  port_.OpenPort();
  port_.allApplies = 0;
  Run([](TComSetupFrm& d) {
    Pick(d.Combo1, "COM8");
    Pick(d.Combo2, "300");
    QTest::keyClick(d.Combo2, Qt::Key_Escape);
  });
  EXPECT_EQ(port_.Port(), "COM7");
  EXPECT_EQ(port_.BaudRate(), br9600);
  EXPECT_EQ(port_.allApplies, 0);
  EXPECT_TRUE(lines_[0]->IsOpen());
}

TEST_F(PortSetup, NewPortNameReopensOnTheNewDeviceBeforeTheRestIsApplied) {
  port_.OpenPort();
  kvel::Dcb atOpen;
  port_.OnAfterOpen = [&](TCustomComPort&) { atOpen = lines_[1]->LastDcb(); };
  Run([](TComSetupFrm& d) {
    Pick(d.Combo1, "COM8");
    Pick(d.Combo2, "38400");
    d.accept();
  });
  EXPECT_FALSE(lines_[0]->IsOpen());
  EXPECT_TRUE(lines_[1]->IsOpen());
  EXPECT_NE(atOpen.baudRate, 38400u);  // the new rate came at the end, not at the open
  EXPECT_EQ(lines_[1]->LastDcb().baudRate, 38400u);
}

TEST_F(PortSetup, AFailedReopenLeavesThePortClosedAndTheBracketClosed) {
  port_.OpenPort();
  bool raised = false;
  try {
    Run([this](TComSetupFrm& d) {
      Pick(d.Combo1, "COM8");
      Pick(d.Combo2, "38400");
      lines_[1]->Unplug();
      d.accept();
    });
  } catch (const EComPort& e) {
    raised = true;
    EXPECT_EQ(e.ErrorNumber(), 1);
  }
  EXPECT_TRUE(raised);
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(port_.BaudRate(), br9600);  // the later selectors were not applied
  // The settings-change counter is back at zero: a setter reaches an open device at once.
  port_.SetPort("COM7");
  port_.OpenPort();
  port_.SetBaudRate(br2400);
  EXPECT_EQ(lines_[0]->LastDcb().baudRate, 2400u);
}

TEST_F(PortSetup, AnUnlistedPortNameIsKept) {
  port_.SetPort("COM55");
  Run([](TComSetupFrm& d) {
    EXPECT_EQ(d.Combo1->currentIndex(), -1);
    EXPECT_EQ(d.Combo1->Text(), "");
    d.accept();
  });
  EXPECT_EQ(port_.Port(), "COM55");
}

TEST(ComComboBox, PropertyItemsTextAndAutoApply) {
  TComComboBox none;
  EXPECT_EQ(none.count(), 0);
  EXPECT_EQ(none.Text(), "");

  TComComboBox parity;
  parity.SetComProperty(kvel::cpParity);
  EXPECT_EQ(parity.Text(), "None");  // no port: the first item
  parity.SetText("even");
  EXPECT_EQ(parity.Text(), "Even");
  parity.SetText("bogus");
  EXPECT_EQ(parity.Text(), "Even");

  TComPort port;
  TComComboBox baud;
  baud.SetComProperty(kvel::cpBaudRate);
  baud.SetComPort(&port);
  EXPECT_EQ(baud.Text(), "9600");
  baud.SetAutoApply(true);
  int changes = 0;
  baud.OnChange = [&changes](TComComboBox&) { ++changes; };
  QTest::keyClick(&baud, Qt::Key_Down);
  EXPECT_EQ(port.BaudRate(), br14400);
  EXPECT_EQ(changes, 1);
  baud.SetAutoApply(false);
  QTest::keyClick(&baud, Qt::Key_Down);
  EXPECT_EQ(port.BaudRate(), br14400);
  baud.ApplySelection();
  EXPECT_EQ(port.BaudRate(), br19200);
}

TEST(ComComboBox, DestroyingTheBoundPortUnbindsAndSelectsTheFirstItem) {
  TComComboBox stop;
  {
    TComPort port;
    port.SetStopBits(sbTwoStopBits);
    stop.SetComProperty(kvel::cpStopBits);
    stop.SetComPort(&port);
    EXPECT_EQ(stop.Text(), "2");
  }
  EXPECT_EQ(stop.ComPort(), nullptr);
  EXPECT_EQ(stop.Text(), "1");
  stop.ApplySelection();  // no port: nothing to write
  // A selector destroyed first leaves the port nothing to call.
  TComPort port;
  {
    TComComboBox data;
    data.SetComProperty(kvel::cpDataBits);
    data.SetComPort(&port);
  }
}

TEST(PortSetupPty, NewBaudRateReachesThePseudoTerminal) {
  kvel::test::PtyPair pty;
  ::setenv("KVEL_COM9", pty.SlavePath().c_str(), 1);
  {
    TComPort port;
    port.SetPort("COM9");
    port.OpenPort();
    bool ran = false;
    QTimer::singleShot(50, [&ran] {
      auto* d = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
      if (d == nullptr) return;
      ran = true;
      EXPECT_EQ(d->Combo1->Text(), "COM9");
      EXPECT_EQ(d->Combo1->toolTip().toStdString().rfind("/dev/pts/", 0), 0u);
      Pick(d->Combo2, "38400");
      Pick(d->Combo5, "Odd");
      QTest::mouseClick(d->Button1, Qt::LeftButton);
    });
    ShowPortSetup(port);
    EXPECT_TRUE(ran);
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    kvel::TermiosSettings t;
    EXPECT_EQ(kvel::GetTermios2(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(t.speed, 38400u);
    port.SendText("ok");
    EXPECT_EQ(pty.Read(2), "ok");
  }
  ::unsetenv("KVEL_COM9");
}

}  // namespace
