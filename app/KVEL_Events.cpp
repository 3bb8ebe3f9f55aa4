#include "KVEL_Events.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <cstdint>
#include <utility>

#include "ui/Clock.h"
#include "ui/TextViewer.h"

namespace {

std::function<void(const std::string&)>& OpenFileHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

std::function<bool(const std::string&)>& DesktopOpener() {
  static std::function<bool(const std::string&)> opener;
  return opener;
}

}  // namespace

WaitWaker::WaitWaker() : context_(std::make_unique<QObject>()) {}

WaitWaker::~WaitWaker() = default;

void WaitWaker::Wake() {
  woken_ = true;
  // The wait may be blocked in the event loop: a posted event ends it. A wait that has
  // already seen and used up the wake is not ended by its late delivery.
  QMetaObject::invokeMethod(
      context_.get(),
      [this] {
        if (woken_ && loop_ != nullptr) loop_->quit();
      },
      Qt::QueuedConnection);
}

void WaitServingEvents(int ms, WaitWaker* waker) {
  if (&kvel::CurrentClock() != &kvel::SystemClock() || QCoreApplication::instance() == nullptr) {
    kvel::Wait(ms);
    return;
  }
  if (waker != nullptr && waker->woken_.exchange(false)) return;
  // A nested loop that blocks until an event or the end of the wait: no busy polling, so an
  // idle poll costs next to nothing.
  const std::int64_t end = kvel::NowMs() + ms;
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  QEventLoop* const outer = waker != nullptr ? std::exchange(waker->loop_, &loop) : nullptr;
  loop.exec();
  if (waker != nullptr) {
    waker->loop_ = outer;
    if (waker->woken_.exchange(false)) return;
  }
  // Once the application is quitting, event loops return at once; the wait still lasts.
  const std::int64_t left = end - kvel::NowMs();
  if (left > 0) kvel::Wait(static_cast<int>(left));
}

bool WaitForActivity(int ms, WaitWaker& waker) {
  if (&kvel::CurrentClock() != &kvel::SystemClock() || QCoreApplication::instance() == nullptr) {
    kvel::CurrentClock().WaitForActivity(ms, [&waker] { return waker.woken_.load(); });
    return waker.woken_.exchange(false);
  }
  if (waker.woken_.exchange(false)) return true;
  // One pass of the event dispatcher that may block: it sleeps until something comes (a
  // window event, a timer tick, the wake's posted event, the time limit's tick), serves
  // it and returns. No nested loop is ended from inside, so no interrupt is left behind
  // to end the next wait at once. The time limit is a safety net, not a pace: a coarse
  // timer lets the system bundle it with other wake-ups.
  QTimer limit;
  limit.setSingleShot(true);
  limit.setTimerType(Qt::CoarseTimer);
  limit.start(ms);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return waker.woken_.exchange(false);
}

void OpenWithDesktop(const std::string& path, QWidget* owner) {
  if (const auto& hook = OpenFileHook()) {
    hook(path);
    return;
  }
  const bool opened =
      DesktopOpener()
          ? DesktopOpener()(path)
          : QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(path.c_str())));
  // No program for the file, or no desktop to ask: the command must still show something.
  if (!opened) kvel::ShowTextFile(owner, path);
}

void SetDesktopOpener(std::function<bool(const std::string&)> opener) {
  DesktopOpener() = std::move(opener);
}

void SetOpenFileHook(std::function<void(const std::string&)> hook) {
  OpenFileHook() = std::move(hook);
}
