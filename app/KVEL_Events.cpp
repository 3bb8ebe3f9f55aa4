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
  QMetaObject::invokeMethod(
      context_.get(),
      [this] {
        woken_ = true;
        if (loop_ != nullptr) loop_->quit();
      },
      Qt::QueuedConnection);
}

void WaitServingEvents(int ms, WaitWaker* waker) {
  if (&kvel::CurrentClock() != &kvel::SystemClock() || QCoreApplication::instance() == nullptr) {
    kvel::Wait(ms);
    return;
  }
  if (waker != nullptr && std::exchange(waker->woken_, false)) return;
  // A nested loop that blocks until an event or the end of the wait: no busy polling, so an
  // idle poll costs next to nothing.
  const std::int64_t end = kvel::NowMs() + ms;
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  QEventLoop* const outer = waker != nullptr ? std::exchange(waker->loop_, &loop) : nullptr;
  loop.exec();
  if (waker != nullptr) {
    waker->loop_ = outer;
    if (std::exchange(waker->woken_, false)) return;
  }
  // Once the application is quitting, event loops return at once; the wait still lasts.
  const std::int64_t left = end - kvel::NowMs();
  if (left > 0) kvel::Wait(static_cast<int>(left));
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
