#include "SignalCloser.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <stdexcept>
#include <utility>

namespace kvel {
namespace {

constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe between the handler and the event loop; -1 while no closer exists.
int g_readEnd = -1;
volatile sig_atomic_t g_writeEnd = -1;
std::array<struct sigaction, kSignals.size()> g_previous{};

// Only async-signal-safe calls here: one write, errno kept for the interrupted code.
void OnSignal(int signal) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal);
  if (g_writeEnd >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

SignalCloser::SignalCloser(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (g_readEnd >= 0) throw std::logic_error("Only one SignalCloser may exist");
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("Cannot create the pipe for the signal handlers");
  }
  g_readEnd = ends[0];
  g_writeEnd = ends[1];
  notifier_ = std::make_unique<QSocketNotifier>(g_readEnd, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals[i], &action, &g_previous[i]);
  }
}

SignalCloser::~SignalCloser() {
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    ::sigaction(kSignals[i], &g_previous[i], nullptr);
  notifier_.reset();
  const int writeEnd = g_writeEnd;
  g_writeEnd = -1;
  ::close(writeEnd);
  ::close(g_readEnd);
  g_readEnd = -1;
}

void SignalCloser::Drain() {
  unsigned char bytes[16];
  ssize_t n = 0;
  int last = 0;
  while ((n = ::read(g_readEnd, bytes, sizeof bytes)) > 0) last = bytes[n - 1];
  // The close already runs, or has run: a second signal asks for nothing new.
  if (last == 0 || called_) return;
  called_ = true;
  if (onSignal_) onSignal_(last);
}

}  // namespace kvel
