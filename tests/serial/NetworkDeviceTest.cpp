// The network back end against a scripted peer on 127.0.0.1: Telnet negotiation, the COM
// port option's settings and answers, escaping, purges and the failures of a connection.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "CPort.h"
#include "ComError.h"
#include "NetworkDevice.h"
#include "NetworkProbe.h"
#include "NetworkTestServers.h"
#include "PortErrors.h"
#include "PortKeeper.h"
#include "PortMap.h"
#include "PtyPair.h"

using kvel::test::ScriptedPeer;
using namespace std::chrono_literals;

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (const int v : values) s.push_back(static_cast<char>(v));
  return s;
}

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

std::string Url(const char* scheme, int port) {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

std::size_t Count(const std::vector<std::string>& list, const std::string& item) {
  return static_cast<std::size_t>(std::count(list.begin(), list.end(), item));
}

// Reads from the device until `count` bytes have come (or a few seconds have passed).
std::string ReadCount(kvel::SerialDevice& device, std::size_t count) {
  std::string all;
  kvel::test::WaitFor(
      [&] {
        std::uint8_t buffer[4096];
        std::size_t got = 0;
        if (device.Read(buffer, sizeof buffer, &got) != 0) return true;
        all.append(reinterpret_cast<char*>(buffer), got);
        return all.size() >= count;
      },
      5000ms);
  return all;
}

struct Opened {
  int rc = 0;
  std::string detail;
  std::unique_ptr<kvel::SerialDevice> device;
};

Opened Open(const std::string& url, kvel::NetworkTimeouts timeouts = {}) {
  Opened o;
  o.rc = kvel::NetworkDevice::Open(url, &o.device, &o.detail, timeouts);
  return o;
}

const std::string kIac = "\xff";

TEST(NetworkDeviceTest, NegotiatesBinaryAndTheComPortOptionAndRefusesOtherOptionsOnce) {
  ScriptedPeer peer;
  // What ser2net opens with, and two options nobody here speaks, asked twice.
  peer.SetOpening(Bytes({255, 251, 3, 255, 253, 3,  255, 251, 1,  255, 254, 1,  255, 253, 0,
                         255, 251, 0, 255, 251, 24, 255, 253, 31, 255, 251, 24, 255, 253, 31}));
  peer.Start();
  Opened o = Open(Url("rfc2217", peer.Port()));
  ASSERT_EQ(o.rc, 0) << o.detail;

  // The options asked again later are not answered again: the answers to what came before
  // a data byte go out before the next write.
  peer.Send(Bytes({255, 251, 24, 255, 253, 31}) + "x");
  EXPECT_EQ(ReadCount(*o.device, 1), "x");
  std::size_t written = 0;
  ASSERT_EQ(o.device->Write(reinterpret_cast<const std::uint8_t*>("y"), 1, &written), 0);
  ASSERT_TRUE(peer.WaitFor([](const ScriptedPeer::Seen& s) { return s.data == "y"; }));

  const ScriptedPeer::Seen seen = peer.Snapshot();
  EXPECT_EQ(Count(seen.commands, Bytes({255, 251, 0})), 1u);   // WILL BINARY
  EXPECT_EQ(Count(seen.commands, Bytes({255, 253, 0})), 1u);   // DO BINARY
  EXPECT_EQ(Count(seen.commands, Bytes({255, 251, 44})), 1u);  // WILL COM-PORT-OPTION
  EXPECT_EQ(Count(seen.commands, Bytes({255, 254, 24})), 1u);  // DONT TERMINAL-TYPE, once
  EXPECT_EQ(Count(seen.commands, Bytes({255, 252, 31})), 1u);  // WONT NAWS, once
  EXPECT_EQ(Count(seen.commands, Bytes({255, 254, 1})), 1u);   // DONT ECHO
  EXPECT_EQ(Count(seen.commands, Bytes({255, 252, 1})), 0u);   // DONT for what we never did
  // Line errors are asked for.
  EXPECT_EQ(Count(seen.subnegotiations, Bytes({44, 10, 30})), 1u);
}

TEST(NetworkDeviceTest, TelnetSequencesSplitAcrossReadsAreTakenWhole) {
  ScriptedPeer peer;
  peer.Start();
  Opened o = Open(Url("rfc2217", peer.Port()));
  ASSERT_EQ(o.rc, 0) << o.detail;
  ASSERT_EQ(o.device->SetCommMask(kvel::kEvRxChar | kvel::kEvCts | kvel::kEvErr), 0);
  // The peer's answer to the line-state mask must not fall between the pieces below.
  ASSERT_TRUE(peer.WaitFor([](const ScriptedPeer::Seen& s) { return !s.subnegotiations.empty(); }));

  // Each piece in a read of its own: an escaped 0xFF, a modem-state notice (CTS, DSR and
  // carrier on) and a line-state notice (a framing error) cut at every awkward place.
  const std::vector<std::string> pieces = {"A" + kIac,
                                           kIac + "B" + kIac,
                                           Bytes({250, 44, 107, 0xB0, 255}),
                                           Bytes({240}) + "C" + Bytes({255, 241, 255, 250, 44}),
                                           Bytes({106, 8, 255}),
                                           Bytes({240}) + "D\r" + Bytes({0})};
  for (const std::string& piece : pieces) {
    peer.Send(piece);
    std::this_thread::sleep_for(20ms);  // let each arrive alone; the result must not depend on it
  }
  EXPECT_EQ(ReadCount(*o.device, 7),
            "A\xff"
            "BCD\r" +
                Bytes({0}));
  std::uint32_t modem = 0;
  ASSERT_EQ(o.device->GetModemStatus(&modem), 0);
  EXPECT_EQ(modem, kvel::kMsCtsOn | kvel::kMsDsrOn | kvel::kMsRlsdOn);
  std::uint32_t errors = 0;
  kvel::ComStat stat;
  ASSERT_EQ(o.device->ClearCommError(&errors, &stat), 0);
  EXPECT_EQ(errors, kvel::kCeFrame);
  std::uint32_t events = 0;
  ASSERT_EQ(o.device->WaitCommEvent(&events), 0);
  EXPECT_EQ(events & (kvel::kEvCts | kvel::kEvErr), kvel::kEvCts | kvel::kEvErr);
}

TEST(NetworkDeviceTest, EveryByteValueGoesBothWaysUnchanged) {
  for (const char* scheme : {"rfc2217", "socket"}) {
    SCOPED_TRACE(scheme);
    const bool telnet = std::string(scheme) == "rfc2217";
    ScriptedPeer peer(telnet);
    peer.Start();
    Opened o = Open(Url(scheme, peer.Port()));
    ASSERT_EQ(o.rc, 0) << o.detail;
    const std::string out = AllBytes() + "\r" + Bytes({0}) + "\r\n\r";
    std::size_t written = 0;
    ASSERT_EQ(
        o.device->Write(reinterpret_cast<const std::uint8_t*>(out.data()), out.size(), &written),
        0);
    EXPECT_EQ(written, out.size());
    ASSERT_TRUE(
        peer.WaitFor([&](const ScriptedPeer::Seen& s) { return s.data.size() >= out.size(); }));
    const ScriptedPeer::Seen seen = peer.Snapshot();
    EXPECT_EQ(seen.data, out);
    if (telnet) {
      EXPECT_NE(seen.raw.find(kIac + kIac), std::string::npos);  // 0xFF went doubled
    } else {
      EXPECT_EQ(seen.raw, out);
    }

    std::string in = AllBytes() + "\r" + Bytes({0});
    std::string wire;
    for (const char c : in) {
      wire.push_back(c);
      if (telnet && c == '\xff') wire.push_back(c);
    }
    peer.Send(wire);
    EXPECT_EQ(ReadCount(*o.device, in.size()), in);
  }
}

class NetworkPortTest : public testing::Test {
 protected:
  void Open() {
    port_.SetPort(Url("rfc2217", peer_.Port()));
    port_.OpenPort();
  }
  std::size_t Sent(const std::string& body) {
    return Count(peer_.Snapshot().subnegotiations, body);
  }
  ScriptedPeer peer_;
  TComPort port_;
};

TEST_F(NetworkPortTest, LineSettingsGoToTheServerAsTheyChangeAndARefusalNamesIt) {
  peer_.Start();
  port_.SetBaudRate(br19200);
  port_.SetDataBits(dbSeven);
  port_.Parity().SetBits(prEven);
  port_.SetStopBits(sbTwoStopBits);
  Open();
  EXPECT_EQ(Sent(Bytes({44, 1, 0, 0, 0x4B, 0x00})), 1u);  // 19200
  EXPECT_EQ(Sent(Bytes({44, 2, 7})), 1u);
  EXPECT_EQ(Sent(Bytes({44, 3, 3})), 1u);   // even
  EXPECT_EQ(Sent(Bytes({44, 4, 2})), 1u);   // two stop bits
  EXPECT_EQ(Sent(Bytes({44, 5, 1})), 1u);   // no flow control
  EXPECT_EQ(Sent(Bytes({44, 5, 9})), 1u);   // DTR off
  EXPECT_EQ(Sent(Bytes({44, 5, 12})), 1u);  // RTS off

  // A change goes out alone, at once; what is in force is not sent again.
  port_.Parity().SetBits(prMark);
  EXPECT_EQ(Sent(Bytes({44, 3, 4})), 1u);
  port_.FlowControl().SetFlowControl(fcHardware);
  EXPECT_EQ(Sent(Bytes({44, 5, 3})), 1u);
  EXPECT_EQ(Sent(Bytes({44, 1, 0, 0, 0x4B, 0x00})), 1u);
  EXPECT_EQ(Sent(Bytes({44, 2, 7})), 1u);

  // A server that keeps its rate.
  peer_.SetSubReply([](const std::string& body) {
    std::string answer = body;
    answer[1] = static_cast<char>(body[1] + 100);
    if (body[1] == 1) answer = Bytes({44, 101, 0, 0, 0x25, 0x80});  // 9600
    return "\xff\xfa" + answer + "\xff\xf0";
  });
  try {
    port_.SetBaudRate(br38400);
    FAIL() << "a refused rate was taken";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 7);
    EXPECT_NE(std::string(e.what()).find(" - the server " + Url("rfc2217", peer_.Port()) +
                                         " refused baud rate 38400 (it answered 9600)"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Sent(Bytes({44, 1, 0, 0, 0x96, 0x00})), 1u);
}

TEST_F(NetworkPortTest, APurgeDropsWhatTheServerHeldBeforeItsAnswer) {
  // The server answers a purge of its receive buffer with what was still on its way first.
  peer_.SetSubReply([](const std::string& body) {
    std::string answer = body;
    answer[1] = static_cast<char>(body[1] + 100);
    const std::string reply = "\xff\xfa" + answer + "\xff\xf0";
    return body == Bytes({44, 12, 1}) ? "stale" + reply + "fresh" : reply;
  });
  peer_.Start();
  Open();
  peer_.Send("queued");
  ASSERT_TRUE(kvel::test::WaitFor([&] { return port_.PendingInput() == 6; }));
  port_.PurgeBuffers(true, false);
  EXPECT_EQ(Sent(Bytes({44, 12, 1})), 1u);
  ASSERT_TRUE(kvel::test::WaitFor([&] { return port_.PendingInput() == 5; }));
  std::string text;
  port_.ReceiveText(text, 100);
  EXPECT_EQ(text, "fresh");
  // Written bytes the server still holds are let out, as a local device lets them out.
  port_.PurgeBuffers(false, true);
  port_.PurgeBuffers(true, true);
  EXPECT_EQ(Sent(Bytes({44, 12, 1})), 2u);
  EXPECT_EQ(Sent(Bytes({44, 12, 2})) + Sent(Bytes({44, 12, 3})), 0u);
}

TEST_F(NetworkPortTest, ADroppedConnectionFailsLikeADeviceThatHasGone) {
  peer_.Start();
  Open();
  peer_.Send("last");
  ASSERT_TRUE(kvel::test::WaitFor([&] { return port_.PendingInput() == 4; }));
  peer_.Drop();
  // What came before the loss is still read; then every call says the device has gone.
  std::string text;
  port_.ReceiveText(text, 100);
  EXPECT_EQ(text, "last");
  int code = 0;
  ASSERT_TRUE(kvel::test::WaitFor(
      [&] { return ErrorOf([&] { port_.SendText("more"); }, &code) != 0; }, 3000ms));
  EXPECT_TRUE(kvel::IsDeviceGone(code)) << code;
  EXPECT_EQ(ErrorOf([&] { port_.ClosePort(); }), 0);
  EXPECT_FALSE(port_.Connected());
}

TEST(NetworkDeviceTest, FailuresSayWhatAndWhere) {
  {  // nothing listens
    const int free = kvel::test::FreeLoopbackPort();
    const Opened o = Open(Url("socket", free));
    EXPECT_EQ(o.rc, ECONNREFUSED);
    EXPECT_EQ(o.detail, "127.0.0.1:" + std::to_string(free) +
                            " refused the connection (no server listens on that port)");
    // The same through the port component, with the open's error.
    TComPort port;
    port.SetPort(Url("rfc2217", free));
    try {
      port.OpenPort();
      ADD_FAILURE() << "opened";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ErrorNumber(), 1);
      EXPECT_NE(std::string(e.what()).find("refused the connection"), std::string::npos);
    }
  }
  {  // a connect nobody answers
    kvel::test::SilentListener silent;
    if (silent.Ready()) {
      kvel::NetworkTimeouts t;
      t.connectMs = 300;
      const Opened o = Open(Url("socket", silent.Port()), t);
      EXPECT_EQ(o.rc, ETIMEDOUT);
      EXPECT_EQ(o.detail,
                "no answer from 127.0.0.1:" + std::to_string(silent.Port()) + " within 0.3 s");
    }
  }
  {  // a raw TCP server named as an RFC 2217 one, and then as what it is
    ScriptedPeer raw(false);
    raw.Start();
    kvel::NetworkTimeouts t;
    t.negotiateMs = 300;
    const Opened o = Open(Url("rfc2217", raw.Port()), t);
    EXPECT_EQ(o.rc, EPROTONOSUPPORT);
    const std::string where = "127.0.0.1:" + std::to_string(raw.Port());
    EXPECT_EQ(o.detail, where +
                            " does not speak RFC 2217 (no answer to the COM port option within "
                            "0.3 s); for a raw TCP server name it socket://" +
                            where);
    ScriptedPeer raw2(false);
    raw2.Start();
    Opened r = Open(Url("socket", raw2.Port()), t);
    ASSERT_EQ(r.rc, 0) << r.detail;
    raw2.Send("ok");
    EXPECT_EQ(ReadCount(*r.device, 2), "ok");
  }
  {  // a server that refuses the option outright
    ScriptedPeer peer;
    peer.SetAcceptComPort(false);
    peer.SetOpening(Bytes({255, 254, 44}));
    peer.Start();
    const Opened o = Open(Url("rfc2217", peer.Port()));
    EXPECT_EQ(o.rc, EPROTONOSUPPORT);
    EXPECT_NE(o.detail.find("it refused the COM port option"), std::string::npos) << o.detail;
  }
  for (const char* bad : {"rfc2217://host", "socket://:4001", "rfc2217://host:0",
                          "socket://host:65536", "socket://[::1]4001"}) {
    const Opened o = Open(bad);
    EXPECT_EQ(o.rc, EINVAL) << bad;
    EXPECT_EQ(o.detail.rfind(bad, 0), 0u) << o.detail;
  }
}

TEST(NetworkPortMapTest, ANetworkPortStandsWhereADevicePathMay) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kvel-netmap-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "sys" / "class" / "tty");
  std::filesystem::create_directories(dir / "dev");
  std::ofstream(dir / "ports.map") << "COM5=socket://plant-gw:4001\n";
  kvel::PortMapSources sources;
  sources.sysClassTty = (dir / "sys" / "class" / "tty").string();
  sources.devDir = (dir / "dev").string();
  sources.mapFile = (dir / "ports.map").string();
  setenv("KVEL_COM4", "rfc2217://[::1]:2217", 1);

  std::string device;
  ASSERT_EQ(kvel::ResolvePortDevice(sources, "COM4", &device), 0);
  EXPECT_EQ(device, "rfc2217://[::1]:2217");
  ASSERT_EQ(kvel::ResolvePortDevice(sources, "COM5", &device), 0);
  EXPECT_EQ(device, "socket://plant-gw:4001");
  ASSERT_EQ(kvel::ResolvePortDevice(sources, "socket://10.1.2.3:23", &device), 0);
  EXPECT_EQ(device, "socket://10.1.2.3:23");
  EXPECT_EQ(kvel::DescribePortDevice(sources, "COM4"), "rfc2217://::1:2217 (network, RFC 2217)");
  EXPECT_EQ(kvel::DescribePortDevice(sources, "COM5"), "socket://plant-gw:4001 (network, raw TCP)");
  std::vector<std::string> list;
  kvel::ListSerialPortsFrom(sources, list);
  EXPECT_NE(std::find(list.begin(), list.end(), "COM4"), list.end());
  EXPECT_NE(std::find(list.begin(), list.end(), "COM5"), list.end());
  unsetenv("KVEL_COM4");
  std::filesystem::remove_all(dir);
}

// A server tried from a thread of its own: the connection it made is taken over by the port,
// so the bytes go where it connected; a refusal is told as the port's opening tells it.
TEST(NetworkProbeTest, AConnectionMadeIsTakenOverAndARefusalIsTold) {
  ScriptedPeer peer(false);
  peer.Start();
  const std::string url = Url("socket", peer.Port());
  kvel::NetworkProbe probe(url, 3000);
  ASSERT_TRUE(kvel::test::WaitFor([&] { return probe.Done(); }, 5000ms));
  EXPECT_EQ(probe.Error(), 0);
  const int socket = probe.TakeSocket();
  ASSERT_GE(socket, 0);
  EXPECT_EQ(probe.TakeSocket(), -1);
  std::unique_ptr<kvel::SerialDevice> device;
  std::string detail;
  ASSERT_EQ(kvel::NetworkDevice::Open(url, &device, &detail, {}, socket), 0) << detail;
  const std::string text = "through the probe";
  std::size_t written = 0;
  EXPECT_EQ(
      device->Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &written), 0);
  EXPECT_TRUE(peer.WaitFor([&](const ScriptedPeer::Seen& seen) { return seen.data == text; }));

  kvel::NetworkProbe nobody(Url("socket", kvel::test::FreeLoopbackPort()), 3000);
  ASSERT_TRUE(kvel::test::WaitFor([&] { return nobody.Done(); }, 5000ms));
  EXPECT_EQ(nobody.Error(), ECONNREFUSED);
  EXPECT_EQ(nobody.TakeSocket(), -1);
  EXPECT_NE(nobody.Detail().find("refused the connection"), std::string::npos) << nobody.Detail();
}

// A server that takes no connection (as a host that drops packets) is tried again without
// the keeper's serve, and so the window, waiting for the try to run into its limit.
TEST(NetworkKeeperTest, AServerThatDoesNotAnswerIsTriedWithoutHoldingUpTheServe) {
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(server, 4), 0);
  socklen_t size = sizeof address;
  getsockname(server, reinterpret_cast<sockaddr*>(&address), &size);
  const int portNumber = ntohs(address.sin_port);

  TComPort port;
  port.SetPort(Url("socket", portNumber));
  kvel::PortKeeper keeper(port);
  port.OpenPort();
  keeper.Opened();
  const int connection = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(connection, 0);
  ::close(server);
  ::close(connection);
  ASSERT_TRUE(kvel::test::WaitFor([&] {
    try {
      port.PendingInput();
      return false;
    } catch (const EComPort&) {
      return true;
    }
  }));
  keeper.Lost(0);

  kvel::test::SilentListener silent(portNumber);
  if (!silent.Ready()) GTEST_SKIP() << "the system answers every connection";
  EXPECT_FALSE(keeper.Serve(1000));
  // The serve has returned while the try still runs.
  EXPECT_TRUE(keeper.Probing());
  EXPECT_FALSE(keeper.Serve(1100));
  EXPECT_TRUE(keeper.Waiting());
  EXPECT_EQ(keeper.Looks(), 1u);
}

}  // namespace
