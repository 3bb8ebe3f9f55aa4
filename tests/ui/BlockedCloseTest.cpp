#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/BlockedClose.h"

extern char** environ;

namespace {

// An X server of the test's own, so that the close request comes as a window manager sends it.
class OwnXServer {
 public:
  OwnXServer() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    std::string program = "Xvfb";
    std::string displayFd = "-displayfd";
    std::string noTcp = "-nolisten";
    std::string tcp = "tcp";
    char* argv[] = {program.data(), displayFd.data(), const_cast<char*>(fd.c_str()),
                    noTcp.data(),   tcp.data(),       nullptr};
    if (::posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    ::close(fds[1]);
    char buffer[32] = {};
    std::size_t used = 0;
    while (pid_ > 0 && used + 1 < sizeof buffer) {
      const ssize_t n = ::read(fds[0], buffer + used, sizeof buffer - 1 - used);
      if (n <= 0) break;
      used += static_cast<std::size_t>(n);
      if (std::memchr(buffer, '\n', used) != nullptr) break;
    }
    ::close(fds[0]);
    if (used > 0) display_ = ":" + std::string(buffer, std::strcspn(buffer, "\n"));
  }
  ~OwnXServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  OwnXServer(const OwnXServer&) = delete;
  OwnXServer& operator=(const OwnXServer&) = delete;
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

class MainWindow : public QWidget {
 public:
  int closeRequests = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++closeRequests;
    event->ignore();
  }
};

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// What a window manager sends when the user clicks a window's close box.
void SendCloseBoxClick(const std::string& display, xcb_window_t window) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  ASSERT_EQ(xcb_connection_has_error(connection), 0);
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = Atom(connection, "WM_PROTOCOLS");
  event.data.data32[0] = Atom(connection, "WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&event));
  // A round trip, so that the server has carried the request out before the connection ends.
  std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  xcb_disconnect(connection);
}

// Qt drops a close request for a window behind a modal dialog; the watch hands it to the
// window, which decides what to do with it (the main window stops the dialogue first).
TEST(BlockedCloseTest, CloseBoxOfAWindowBehindADialogReachesTheWindow) {
  const std::string xvfb = "/usr/bin/Xvfb";
  if (::access(xvfb.c_str(), X_OK) != 0) GTEST_SKIP() << "no Xvfb";
  OwnXServer server;
  ASSERT_FALSE(server.Display().empty());
  ::setenv("DISPLAY", server.Display().c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int argc = 1;
  char name[] = "kvel_blocked_close_tests";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);

  for (const bool watched : {false, true}) {
    MainWindow window;
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    if (watched) kvel::WatchCloseWhileBlocked(window);
    QDialog dialog(&window);
    const auto id = static_cast<xcb_window_t>(window.winId());
    const std::string display = server.Display();
    QTimer::singleShot(0, &dialog, [&] {
      // Only once the dialog is up and blocks the window, as when the user clicks.
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
      SendCloseBoxClick(display, id);
      (void)QTest::qWaitFor([&window] { return window.closeRequests > 0; }, 2000);
      dialog.accept();
    });
    dialog.exec();
    EXPECT_EQ(window.closeRequests, watched ? 1 : 0) << (watched ? "watched" : "not watched");
  }
}

}  // namespace
