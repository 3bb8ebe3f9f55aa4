#include "PortKeeper.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "CPort.h"
#include "ComError.h"
#include "MemoryLine.h"
#include "PortErrors.h"
#include "PtyPair.h"
#include "Termios2.h"

using kvel::PortKeeper;
using kvel::test::PtyPair;
using kvel::test::WaitFor;
namespace fs = std::filesystem;

// Named, not anonymous: the fixtures below hold one, and a fixture is a class of its own.
namespace keeper_test {

// A folder of its own, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string name = (fs::temp_directory_path() / "kvel-keeper-XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr) path_ = name;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  bool Valid() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace keeper_test

using keeper_test::ScratchFolder;

namespace {

// Fails the port's next read as a device that has gone does, and hands the loss to the keeper.
bool NoticeLoss(TCustomComPort& port, PortKeeper& keeper, std::int64_t nowMs) {
  int code = 0;
  const bool gone = WaitFor([&] {
    return ErrorOf([&] { port.PendingInput(); }, &code) != 0 && kvel::IsDeviceGone(code);
  });
  if (gone) keeper.Lost(nowMs);
  return gone;
}

// Serves the keeper every 100 ms of (its own) time from `fromMs` to `toMs`; true once reopened.
bool ServeFor(PortKeeper& keeper, std::int64_t fromMs, std::int64_t toMs) {
  for (std::int64_t t = fromMs; t <= toMs; t += 100) {
    if (keeper.Serve(t)) return true;
  }
  return false;
}

std::uint32_t SlaveSpeed(const std::string& path) {
  kvel::TermiosSettings t;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  kvel::GetTermios2(fd, &t);
  ::close(fd);
  return t.speed;
}

void Relink(const std::string& link, const std::string& target) {
  fs::remove(link);
  fs::create_symlink(target, link);
}

}  // namespace

class MemoryLineKeeperTest : public testing::Test {
 protected:
  void SetUp() override {
    kvel::RegisterMemoryLine("COM61", line_);
    port_.SetPort("COM61");
    port_.SetBaudRate(br19200);
    port_.SetDataBits(dbSeven);
    port_.Parity().SetBits(prEven);
  }
  void TearDown() override { kvel::UnregisterMemoryLine("COM61"); }

  std::shared_ptr<kvel::MemoryLine> line_ = std::make_shared<kvel::MemoryLine>();
  TComPort port_;
  PortKeeper keeper_{port_};
};

TEST_F(MemoryLineKeeperTest, TheSameLineBackIsReopenedWithTheSettingsAndOnlyLookedForOnceASecond) {
  port_.OpenPort();
  keeper_.Opened();
  EXPECT_EQ(keeper_.Text(), "");
  line_->Unplug();
  ASSERT_TRUE(NoticeLoss(port_, keeper_, 0));
  EXPECT_FALSE(port_.Connected());
  EXPECT_TRUE(keeper_.Waiting());
  EXPECT_EQ(keeper_.Text(), "COM61 unplugged");

  // Ten seconds away, served every 100 ms: one look a second, no more.
  EXPECT_FALSE(ServeFor(keeper_, 0, 9999));
  EXPECT_EQ(keeper_.Looks(), 9u);
  EXPECT_EQ(keeper_.Text(), "COM61 unplugged");

  line_->Replug();
  EXPECT_FALSE(keeper_.Serve(9950));  // the next look is due at 10 s
  ASSERT_TRUE(keeper_.Serve(10000));
  EXPECT_TRUE(port_.Connected());
  EXPECT_FALSE(keeper_.Waiting());
  EXPECT_EQ(keeper_.Text(), "");
  const kvel::Dcb dcb = line_->LastDcb();
  EXPECT_EQ(dcb.baudRate, 19200u);
  EXPECT_EQ(dcb.byteSize, 7);
  EXPECT_EQ(dcb.parity, 2);
  port_.SendText("again");
  EXPECT_EQ(line_->TakeReceived(), "again");
  EXPECT_FALSE(keeper_.Serve(20000));  // an open port is left alone
}

TEST_F(MemoryLineKeeperTest, AHandleFromBeforeTheReturnStaysDeadAndDoesNotCloseTheNewOne) {
  std::unique_ptr<kvel::SerialDevice> old;
  ASSERT_EQ(line_->Open(&old), 0);
  line_->Unplug();
  line_->Replug();
  std::size_t written = 0;
  const std::uint8_t byte = 'x';
  EXPECT_EQ(old->Write(&byte, 1, &written), EIO);
  port_.OpenPort();
  old.reset();
  EXPECT_TRUE(line_->IsOpen());
  port_.SendText("y");
  EXPECT_EQ(line_->TakeReceived(), "y");
}

TEST_F(MemoryLineKeeperTest, ADeviceBackButHeldElsewhereIsReconnectingUntilItIsFree) {
  port_.OpenPort();
  keeper_.Opened();
  line_->Unplug();
  ASSERT_TRUE(NoticeLoss(port_, keeper_, 0));
  line_->Replug();
  std::unique_ptr<kvel::SerialDevice> other;
  ASSERT_EQ(line_->Open(&other), 0);
  EXPECT_FALSE(keeper_.Serve(1000));
  EXPECT_EQ(keeper_.GetState(), PortKeeper::State::kReconnecting);
  EXPECT_EQ(keeper_.Text(), "COM61 reconnecting: busy");
  other.reset();
  EXPECT_TRUE(keeper_.Serve(2000));
}

TEST_F(MemoryLineKeeperTest, ClosedStatesSayWhy) {
  std::unique_ptr<kvel::SerialDevice> other;
  ASSERT_EQ(line_->Open(&other), 0);
  int code = 0;
  ASSERT_EQ(ErrorOf([&] { port_.OpenPort(); }, &code), 1);
  keeper_.OpenFailed(code);
  EXPECT_EQ(keeper_.Text(), "COM61 closed: busy");
  EXPECT_FALSE(keeper_.Waiting());
  // What the keeper knows is said after the error of a call that finds no device.
  EXPECT_EQ(ErrorTextOf([&] { port_.SendText("x"); }),
            "WriteFile function failed (win error code: 9) - COM61 closed: busy");
  EXPECT_FALSE(keeper_.Serve(5000));  // a failed open is not retried behind the user's back
  EXPECT_EQ(keeper_.Looks(), 0u);

  EXPECT_EQ(kvel::ClosedReason(EACCES, "/dev/ttyUSB0"), "no permission on /dev/ttyUSB0");
  EXPECT_EQ(kvel::ClosedReason(EWOULDBLOCK, "/dev/ttyUSB0"), "busy");
  EXPECT_EQ(kvel::ClosedReason(ENOENT, ""), "no device");
  EXPECT_EQ(kvel::ClosedReason(ENOENT, "/dev/ttyUSB3"), "/dev/ttyUSB3 not present");
}

// A pseudo-terminal behind a link stands for an adapter: the link pointed at a new one is
// the adapter plugged in again.
class PtyKeeperTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Valid());
    link_ = folder_.Path() + "/adapter";
    fs::create_symlink(first_.SlavePath(), link_);
    setenv("KVEL_COM62", link_.c_str(), 1);
    port_.SetPort("COM62");
    port_.SetBaudRate(br38400);
  }
  void TearDown() override { unsetenv("KVEL_COM62"); }

  ScratchFolder folder_;
  std::string link_;
  PtyPair first_;
  TComPort port_;
  PortKeeper keeper_{port_};
};

TEST_F(PtyKeeperTest, TheLinkBackIsSeenAtOnceAndTheNewDeviceGetsTheSettings) {
  port_.OpenPort();
  keeper_.Opened();
  EXPECT_EQ(port_.DevicePath(), link_);
  first_.CloseMaster();
  ASSERT_TRUE(NoticeLoss(port_, keeper_, 0));
  EXPECT_EQ(keeper_.Text(), "COM62 unplugged: waiting for " + link_);
  EXPECT_GE(keeper_.WatchFd(), 0);
  EXPECT_FALSE(ServeFor(keeper_, 0, 2500));  // the link leads nowhere
  const std::uint64_t looks = keeper_.Looks();
  EXPECT_LE(looks, 3u);

  PtyPair second;
  Relink(link_, second.SlavePath());
  // The folder changed: the look comes at once, not at the next second.
  ASSERT_TRUE(keeper_.Serve(2600));
  EXPECT_EQ(keeper_.Looks(), looks + 1);
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(SlaveSpeed(second.SlavePath()), 38400u);
  port_.SendText("ok");
  EXPECT_EQ(second.Read(2), "ok");
  second.Write("in");
  std::string got;
  EXPECT_TRUE(WaitFor([&] {
    std::string part;
    port_.ReceiveText(part, 16);
    got += part;
    return got == "in";
  }));
}

TEST_F(PtyKeeperTest, ALookWithoutAnyChangeWaitsForItsSecond) {
  port_.OpenPort();
  keeper_.Opened();
  first_.CloseMaster();
  ASSERT_TRUE(NoticeLoss(port_, keeper_, 0));
  for (int i = 0; i < 50; ++i) EXPECT_FALSE(keeper_.Serve(999));
  EXPECT_EQ(keeper_.Looks(), 0u);
}

// A sysfs and /dev of their own: adapters with USB serial numbers whose nodes lead to
// pseudo-terminals.
class ByIdKeeperTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Valid());
    root_ = folder_.Path();
    sources_.sysClassTty = root_ + "/sys/class/tty";
    sources_.devDir = root_ + "/dev";
    sources_.useEnvironment = false;
    fs::create_directories(sources_.sysClassTty);
    fs::create_directories(sources_.devDir + "/serial/by-id");
  }
  void TearDown() override { unsetenv("KVEL_COM63"); }

  // ttyN of the adapter with `serial`, its node leading to `pty`.
  void Plug(const std::string& tty, const std::string& serial, const PtyPair& pty) {
    const std::string usb = root_ + "/sys/devices/usb1/1-" + tty;
    const std::string port = usb + "/1-1:1.0/" + tty;
    fs::create_directories(port);
    std::ofstream(usb + "/idVendor") << "0403\n";
    std::ofstream(usb + "/serial") << serial << "\n";
    fs::create_directories(sources_.sysClassTty + "/" + tty);
    fs::create_symlink(port, sources_.sysClassTty + "/" + tty + "/device");
    fs::create_symlink(pty.SlavePath(), sources_.devDir + "/" + tty);
  }
  void Unplug(const std::string& tty) {
    fs::remove_all(sources_.sysClassTty + "/" + tty);
    fs::remove(sources_.devDir + "/" + tty);
    fs::remove_all(root_ + "/sys/devices/usb1/1-" + tty);
  }
  std::string ById(const std::string& serial) const {
    return sources_.devDir + "/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0";
  }

  ScratchFolder folder_;
  std::string root_;
  kvel::PortMapSources sources_;
};

TEST_F(ByIdKeeperTest, TheAdapterIsKnownAgainByItsSerialNumberUnderAnotherNode) {
  PtyPair first;
  Plug("ttyUSB0", "A123", first);
  fs::create_symlink("../../ttyUSB0", ById("A123"));
  EXPECT_EQ(kvel::UsbSerialOf(sources_, ById("A123")), "A123");

  setenv("KVEL_COM63", ById("A123").c_str(), 1);
  TComPort port;
  port.SetPort("COM63");
  port.SetBaudRate(br57600);
  PortKeeper keeper(port, sources_);
  port.OpenPort();
  keeper.Opened();
  EXPECT_EQ(keeper.Identity().usbSerial, "A123");

  first.CloseMaster();
  ASSERT_TRUE(NoticeLoss(port, keeper, 0));
  fs::remove(ById("A123"));
  Unplug("ttyUSB0");
  EXPECT_EQ(keeper.Text(), "COM63 unplugged: waiting for " + ById("A123"));

  // Another adapter is no substitute.
  PtyPair stranger;
  Plug("ttyUSB1", "B999", stranger);
  EXPECT_FALSE(ServeFor(keeper, 0, 1500));
  EXPECT_FALSE(port.Connected());

  // Ours is back as ttyUSB2, before udev has made its by-id link.
  PtyPair second;
  Plug("ttyUSB2", "A123", second);
  ASSERT_TRUE(ServeFor(keeper, 1600, 3000));
  EXPECT_EQ(port.DevicePath(), sources_.devDir + "/ttyUSB2");
  EXPECT_EQ(SlaveSpeed(second.SlavePath()), 57600u);
  port.SendText("id");
  EXPECT_EQ(second.Read(2), "id");
  EXPECT_EQ(stranger.Read(1, std::chrono::milliseconds(50)), "");
}

TEST(NetworkKeeper, ALostConnectionIsTriedAgainOnceASecondUntilTheServerIsBack) {
  const auto listenOn = [](std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  };
  int server = listenOn(0);
  ASSERT_GE(server, 0);
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(server, reinterpret_cast<sockaddr*>(&bound), &size);
  const std::uint16_t portNumber = ntohs(bound.sin_port);
  const std::string url = "socket://127.0.0.1:" + std::to_string(portNumber);

  TComPort port;
  port.SetPort(url);
  PortKeeper keeper(port);
  port.OpenPort();
  keeper.Opened();
  int connection = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(connection, 0);
  ::close(server);  // nobody takes a new connection for now
  ::close(connection);
  ASSERT_TRUE(NoticeLoss(port, keeper, 0));
  EXPECT_EQ(keeper.Text(), url + " unplugged: waiting for " + url);

  // The server is tried on a thread of its own: each serve returns at once, and what came of
  // the try is taken up by the first serve after it ended.
  const auto serveFor = [&keeper](std::int64_t fromMs, std::int64_t toMs) {
    for (std::int64_t t = fromMs; t <= toMs; t += 100) {
      if (keeper.Serve(t)) return true;
      EXPECT_TRUE(WaitFor([&keeper] { return !keeper.Probing(); }));
    }
    return false;
  };
  EXPECT_FALSE(serveFor(0, 4999));  // refused each time
  EXPECT_EQ(keeper.Looks(), 4u);
  EXPECT_TRUE(keeper.Waiting());
  EXPECT_EQ(keeper.Text(), url + " unplugged: waiting for " + url);

  server = listenOn(portNumber);
  ASSERT_GE(server, 0);
  ASSERT_TRUE(serveFor(5000, 6000));
  connection = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(connection, 0);
  port.SendText("net");
  char got[3] = {};
  EXPECT_EQ(::recv(connection, got, sizeof got, MSG_WAITALL), 3);
  EXPECT_EQ(std::string(got, 3), "net");
  port.ClosePort();
  ::close(connection);
  ::close(server);
}
